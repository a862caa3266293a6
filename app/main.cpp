// Folivo — multi-page TIFF editor.
// The editor's entry point.
#include <QApplication>

#include "app/mainfrm.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Folivo");
  QStringList files = QApplication::arguments().mid(1);
  folivo::TMainForm form(files);
  form.show();
  return QApplication::exec();
}
