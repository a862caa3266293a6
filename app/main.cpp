// Folivo — multi-page TIFF editor.
// The editor's entry point.
#include <QApplication>

#include "app/mainfrm.h"
#include "formats/lzw.h"

int main(int argc, char** argv) {
  // Every parameters record takes these as its LZW routines.
  folivo::InstallDefaultLzwRoutines();
  QApplication app(argc, argv);
  QApplication::setApplicationName("Folivo");
  QStringList files = QApplication::arguments().mid(1);
  folivo::TMainForm form(files);
  form.show();
  return QApplication::exec();
}
