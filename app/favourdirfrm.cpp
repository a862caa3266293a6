// Folivo — multi-page TIFF editor.
#include "app/favourdirfrm.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "formats/atomicfile.h"
#include "platform/inifile.h"
#include "platform/widgets/userprompts.h"

namespace folivo {

namespace {
constexpr int kClientWidth = 475;   // pixels
constexpr int kClientHeight = 257;  // pixels
constexpr int kListWidth = 361;     // pixels
constexpr int kListHeight = 201;    // pixels
}  // namespace

QStringList ReadFavourites(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  std::string bytes = file.readAll().toStdString();
  if (!IsValidUtf8(bytes)) bytes = Gb18030ToUtf8(bytes);
  QStringList lines = QString::fromStdString(bytes).split('\n');
  QStringList folders;
  for (QString& line : lines) {
    if (line.endsWith('\r')) line.chop(1);
    folders << line;
  }
  // The final line end leaves one empty piece behind.
  if (!folders.isEmpty() && folders.back().isEmpty()) folders.removeLast();
  return folders;
}

void WriteFavourites(const QString& path, const QStringList& folders) {
  std::string text;
  for (const QString& f : folders) text += f.toStdString() + "\r\n";
  WriteFileAtomically(path.toStdString(), text);
}

TFavourDirForm::TFavourDirForm(const QString& path, QWidget* parent)
    : QDialog(parent), path_(path) {
  setWindowTitle(QString::fromUtf8("整理收藏夹"));
  setFixedSize(kClientWidth, kClientHeight);
  auto* outer = new QVBoxLayout(this);
  auto* head = new QHBoxLayout;
  auto* icon = new QLabel(this);
  icon->setPixmap(style()->standardIcon(QStyle::SP_DirIcon).pixmap(20, 20));
  auto* title = new QLabel(QString::fromUtf8("我的收藏夹"), this);
  QFont bold = title->font();
  bold.setBold(true);
  bold.setPixelSize(20);
  title->setFont(bold);
  head->addWidget(icon);
  head->addWidget(title, 1);
  outer->addLayout(head);
  auto* bevel = new QFrame(this);
  bevel->setFrameShape(QFrame::HLine);
  bevel->setFrameShadow(QFrame::Sunken);
  outer->addWidget(bevel);
  auto* body = new QHBoxLayout;
  tlbFavourate = new QListWidget(this);
  tlbFavourate->setObjectName("tlbFavourate");
  tlbFavourate->setSelectionMode(QAbstractItemView::SingleSelection);
  tlbFavourate->setMinimumSize(kListWidth, 120);
  tlbFavourate->setMaximumHeight(kListHeight);
  body->addWidget(tlbFavourate, 1);
  auto* buttons = new QVBoxLayout;
  auto make = [&](const char* name, const char* caption) {
    auto* b = new QPushButton(QString::fromUtf8(caption), this);
    b->setObjectName(name);
    buttons->addWidget(b);
    return b;
  };
  bbAdd = make("bbAdd", "增加目录");
  bbDelete = make("bbDelete", "删除目录");
  bbMoveUp = make("bbMoveUp", "上移");
  bbMoveDown = make("bbMoveDown", "下移");
  buttons->addStretch(1);
  auto* close = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->addWidget(close);
  body->addLayout(buttons);
  outer->addLayout(body, 1);
  connect(bbAdd, &QPushButton::clicked, this, &TFavourDirForm::bbAddClick);
  connect(bbDelete, &QPushButton::clicked, this, &TFavourDirForm::bbDeleteClick);
  connect(bbMoveUp, &QPushButton::clicked, this, &TFavourDirForm::bbMoveUpClick);
  connect(bbMoveDown, &QPushButton::clicked, this, &TFavourDirForm::bbMoveDownClick);
  connect(close, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(close, &QDialogButtonBox::rejected, this, &QDialog::reject);
  FormCreate();
}

TFavourDirForm::~TFavourDirForm() {
  try {
    FormDestroy();
  } catch (const std::exception& e) {
    TUserPrompts::Current().Message(nullptr, TPromptKind::Error, QString::fromUtf8(e.what()), pbOk);
  }
}

void TFavourDirForm::FormCreate() {
  tlbFavourate->addItems(ReadFavourites(path_));
}

void TFavourDirForm::FormDestroy() {
  WriteFavourites(path_, Folders());
}

QStringList TFavourDirForm::Folders() const {
  QStringList out;
  for (int i = 0; i < tlbFavourate->count(); ++i) out << tlbFavourate->item(i)->text();
  return out;
}

void TFavourDirForm::AddFolder(const QString& folder) {
  const QString upper = folder.toUpper();
  for (int i = 0; i < tlbFavourate->count(); ++i) {
    if (tlbFavourate->item(i)->text().toUpper() == upper) {
      TUserPrompts::Current().Message(this, TPromptKind::Warning,
                                      QString::fromUtf8("信息：文件夹\n") + folder + "\n" +
                                          QString::fromUtf8("以前曾被收藏过，不必再次收藏！"),
                                      pbOk);
      return;
    }
  }
  tlbFavourate->addItem(folder);
}

void TFavourDirForm::bbAddClick() {
  QString folder =
      TUserPrompts::Current().Folder(this, QString::fromUtf8("请指定欲收藏的文件夹位置"), {});
  if (!folder.isEmpty()) AddFolder(folder);
}

void TFavourDirForm::bbDeleteClick() {
  QListWidgetItem* item = tlbFavourate->currentItem();
  if (!item || !item->isSelected()) return;
  if (TUserPrompts::Current().Message(this, TPromptKind::Confirmation,
                                      QString::fromUtf8("是否把选中的文件夹从收藏中删除？"),
                                      pbYes | pbNo) == pbYes)
    delete tlbFavourate->takeItem(tlbFavourate->row(item));
}

void TFavourDirForm::bbMoveUpClick() {
  QList<QListWidgetItem*> selected = tlbFavourate->selectedItems();
  if (selected.isEmpty()) return;
  const int i = tlbFavourate->row(selected.front());
  const int to = std::max(i - 1, 0);
  QListWidgetItem* item = tlbFavourate->takeItem(i);
  tlbFavourate->insertItem(to, item);
  tlbFavourate->setCurrentItem(item);
  item->setSelected(true);
}

void TFavourDirForm::bbMoveDownClick() {
  QList<QListWidgetItem*> selected = tlbFavourate->selectedItems();
  if (selected.isEmpty()) return;
  const int i = tlbFavourate->row(selected.front());
  const int to = std::min(i + 1, tlbFavourate->count() - 1);
  QListWidgetItem* item = tlbFavourate->takeItem(i);
  tlbFavourate->insertItem(to, item);
  tlbFavourate->setCurrentItem(item);
  item->setSelected(true);
}

}  // namespace folivo
