// Folivo — multi-page TIFF editor.
#include "dialogs/pdfoutputfrm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <exception>

#include "platform/inifile.h"
#include "platform/widgets/userprompts.h"

namespace folivo {

namespace {
QString U(const char* s) {
  return QString::fromUtf8(s);
}
std::string U8(const QString& s) {
  return s.toUtf8().toStdString();
}
const char kSection[] = "PDF";

const char* const kPageSizeItems[] = {"A0",
                                      "A1",
                                      "A2",
                                      "A3",
                                      "A4 - 推荐",
                                      "A5",
                                      "A6",
                                      "B5",
                                      "letter (8.5\"x11\")",
                                      "Legal (8.5\"x14\")",
                                      "ledger (17\"x11\")",
                                      "11\"x17\"",
                                      "【自动根据图像尺寸决定页面大小】"};
const char* const kCompressItems[] = {"不压缩 - 文件很大 不推荐", "RLE",
                                      "G4FAX - 仅适用黑白图像",   "G3FAX2D - 仅适用黑白图像",
                                      "JPEG - 高效有损压缩",      "LZW - 无损压缩推荐"};
}  // namespace

TPDFOutputForm::TPDFOutputForm(const QString& settingsPath, QWidget* parent)
    : QDialog(parent), settingsPath_(settingsPath) {
  setWindowTitle(U("输出PDF选项"));
  auto* group = new QGroupBox(U("PDF页面的属性"), this);
  auto* form = new QFormLayout(group);
  auto addRow = [&](const char* label, QWidget* field) {
    auto* l = new QLabel(U(label), group);
    l->setBuddy(field);
    form->addRow(l, field);
  };
  edFileName = new QLineEdit(group);
  edFileName->setReadOnly(true);
  edAuthor = new QLineEdit(group);
  edCreator = new QLineEdit(group);
  edSubject = new QLineEdit(group);
  edTitle = new QLineEdit(group);
  edKeyword = new QLineEdit(group);
  cbCompressType = new QComboBox(group);
  cbCompressType->setEditable(false);
  for (const char* item : kCompressItems) cbCompressType->addItem(U(item));
  cbPageSize = new QComboBox(group);
  cbPageSize->setEditable(false);
  for (const char* item : kPageSizeItems) cbPageSize->addItem(U(item));
  cbAutoRotate = new QCheckBox(U("自动旋转页面方向"), group);
  addRow("文件名(&F)：", edFileName);
  addRow("作者(&A)：", edAuthor);
  addRow("创建者(&R)：", edCreator);
  addRow("主题(&S)：", edSubject);
  addRow("标题(&T)：", edTitle);
  addRow("关键字(&K)：", edKeyword);
  addRow("压缩方式(&C)：", cbCompressType);
  addRow("页面大小(&P)：", cbPageSize);
  form->addRow(QString(), cbAutoRotate);

  BitBtn1 = new QPushButton(U("保存"), this);
  BitBtn1->setDefault(true);
  BitBtn2 = new QPushButton(U("取消"), this);
  connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
  connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(BitBtn1);
  buttons->addWidget(BitBtn2);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group);
  layout->addLayout(buttons);
  setFixedSize(353, 353);
  FormCreate();
}

void TPDFOutputForm::FormCreate() {
  QFont f = font();
  f.setFamily(QFontDatabase::families().contains(U("微软雅黑")) ? U("微软雅黑") : U("宋体"));
  f.setPointSize(9);
  setFont(f);

  const TIniFile ini(U8(settingsPath_));
  auto text = [&](const char* key) {
    return QString::fromStdString(ini.ReadString(kSection, key, ""));
  };
  edAuthor->setText(text("Author"));
  edCreator->setText(text("Creator"));
  edSubject->setText(text("Subject"));
  edTitle->setText(text("Title"));
  edKeyword->setText(text("KeyWord"));
  int size = ini.ReadInteger(kSection, "PageSize", kPdfDefaultPageSize);
  if (size < 0 || size >= cbPageSize->count()) size = kPdfDefaultPageSize;
  cbPageSize->setCurrentIndex(size);
  cbAutoRotate->setChecked(ini.ReadBool(kSection, "AutoRotate", true));
  int compress = ini.ReadInteger(kSection, "Compress", kPdfDefaultCompression);
  if (compress < 0 || compress >= cbCompressType->count()) compress = kPdfDefaultCompression;
  cbCompressType->setCurrentIndex(compress);
}

void TPDFOutputForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  edFileName->setFocus();
  edFileName->setCursorPosition(static_cast<int>(edFileName->text().size()));
}

TPdfOptions TPDFOutputForm::Options() const {
  TPdfOptions o;
  o.Author = U8(edAuthor->text());
  o.Creator = U8(edCreator->text());
  o.Subject = U8(edSubject->text());
  o.Title = U8(edTitle->text());
  o.Keywords = U8(edKeyword->text());
  o.PageSize = cbPageSize->currentIndex();
  o.AutoRotate = cbAutoRotate->isChecked();
  o.Compression = cbCompressType->currentIndex();
  return o;
}

void TPDFOutputForm::done(int result) {
  if (result == QDialog::Accepted) SaveSettings();
  QDialog::done(result);
}

void TPDFOutputForm::SaveSettings() {
  try {
    TIniFile ini(U8(settingsPath_));
    const TPdfOptions o = Options();
    ini.WriteString(kSection, "Author", o.Author);
    ini.WriteString(kSection, "Creator", o.Creator);
    ini.WriteString(kSection, "Subject", o.Subject);
    ini.WriteString(kSection, "Title", o.Title);
    ini.WriteString(kSection, "KeyWord", o.Keywords);
    ini.WriteInteger(kSection, "PageSize", o.PageSize);
    ini.WriteBool(kSection, "AutoRotate", o.AutoRotate);
    ini.WriteInteger(kSection, "Compress", o.Compression);
    ini.Flush();
  } catch (const std::exception& e) {
    TUserPrompts::Current().Message(this, TPromptKind::Error, QString::fromUtf8(e.what()), pbOk);
  }
}

}  // namespace folivo
