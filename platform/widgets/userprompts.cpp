// Folivo — multi-page TIFF editor.
#include "platform/widgets/userprompts.h"

#include <QFileDialog>
#include <QMessageBox>

namespace folivo {

namespace {
TDialogPrompts gDialogs;
TUserPrompts* gCurrent = nullptr;

QMessageBox::StandardButtons ToQt(int buttons) {
  QMessageBox::StandardButtons b;
  if (buttons & pbOk) b |= QMessageBox::Ok;
  if (buttons & pbCancel) b |= QMessageBox::Cancel;
  if (buttons & pbYes) b |= QMessageBox::Yes;
  if (buttons & pbNo) b |= QMessageBox::No;
  return b ? b : QMessageBox::Ok;
}

int FromQt(int pressed) {
  switch (pressed) {
    case QMessageBox::Ok: return pbOk;
    case QMessageBox::Yes: return pbYes;
    case QMessageBox::No: return pbNo;
    default: return pbCancel;
  }
}
}  // namespace

TUserPrompts& TUserPrompts::Current() { return gCurrent ? *gCurrent : gDialogs; }

void TUserPrompts::Install(TUserPrompts* prompts) { gCurrent = prompts; }

QStringList FilterToQt(const QString& filter) {
  QStringList parts = filter.split('|');
  QStringList out;
  for (int i = 0; i + 1 < parts.size(); i += 2)
    out << parts[i] + " (" + QString(parts[i + 1]).replace(';', ' ') + ")";
  return out;
}

int TDialogPrompts::Message(QWidget* parent, TPromptKind kind, const QString& text, int buttons) {
  QMessageBox::Icon icon = kind == TPromptKind::Warning        ? QMessageBox::Warning
                           : kind == TPromptKind::Confirmation ? QMessageBox::Question
                           : kind == TPromptKind::Error        ? QMessageBox::Critical
                                                               : QMessageBox::Information;
  static const char* const kTitles[] = {"警告", "确认", "信息", "错误"};
  QMessageBox box(icon, QString::fromUtf8(kTitles[static_cast<int>(kind)]), text, ToQt(buttons),
                  parent);
  return FromQt(box.exec());
}

QStringList TDialogPrompts::OpenFiles(QWidget* parent, const TFileDialogRequest& request,
                                      bool multiple) {
  QFileDialog dialog(parent, request.Title, request.StartFolder);
  QStringList filters = FilterToQt(request.Filter);
  dialog.setNameFilters(filters);
  if (request.FilterIndex >= 1 && request.FilterIndex <= filters.size())
    dialog.selectNameFilter(filters[request.FilterIndex - 1]);
  dialog.setFileMode(multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
  if (!request.FileName.isEmpty()) dialog.selectFile(request.FileName);
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.selectedFiles();
}

QString TDialogPrompts::SaveFile(QWidget* parent, const TFileDialogRequest& request,
                                 int& filterIndex) {
  QFileDialog dialog(parent, request.Title, request.StartFolder);
  QStringList filters = FilterToQt(request.Filter);
  dialog.setNameFilters(filters);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  if (request.FilterIndex >= 1 && request.FilterIndex <= filters.size())
    dialog.selectNameFilter(filters[request.FilterIndex - 1]);
  if (!request.FileName.isEmpty()) dialog.selectFile(request.FileName);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  filterIndex = static_cast<int>(filters.indexOf(dialog.selectedNameFilter())) + 1;
  return dialog.selectedFiles().first();
}

QString TDialogPrompts::Folder(QWidget* parent, const QString& title, const QString& startFolder) {
  return QFileDialog::getExistingDirectory(parent, title, startFolder);
}

int TScriptedPrompts::Message(QWidget*, TPromptKind kind, const QString& text, int buttons) {
  Asked.push_back({kind, text, buttons});
  if (MessageAnswers.empty()) return (buttons & pbCancel) ? pbCancel : (buttons & pbNo) ? pbNo : pbOk;
  int answer = MessageAnswers.front();
  MessageAnswers.pop_front();
  return answer;
}

QStringList TScriptedPrompts::OpenFiles(QWidget*, const TFileDialogRequest& request, bool) {
  FileRequests.push_back(request);
  if (FileAnswers.empty()) return {};
  QStringList answer = FileAnswers.front();
  FileAnswers.pop_front();
  return answer;
}

QString TScriptedPrompts::SaveFile(QWidget*, const TFileDialogRequest& request, int& filterIndex) {
  FileRequests.push_back(request);
  if (FileAnswers.empty()) return {};
  QStringList answer = FileAnswers.front();
  FileAnswers.pop_front();
  if (!FilterAnswers.empty()) {
    filterIndex = FilterAnswers.front();
    FilterAnswers.pop_front();
  }
  return answer.value(0);
}

QString TScriptedPrompts::Folder(QWidget*, const QString&, const QString&) {
  if (FolderAnswers.empty()) return {};
  QString answer = FolderAnswers.front();
  FolderAnswers.pop_front();
  return answer;
}

}  // namespace folivo
