// Folivo — multi-page TIFF editor.
#include "app/mainfrm.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QSplitter>
#include <QStatusTipEvent>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>
#include <cmath>

#include "app/commandtable.h"
#include "app/statusbar.h"
#include "app/waitfrm.h"
#include "platform/colortext.h"
#include "platform/inifile.h"
#include "platform/settingspath.h"
#include "platform/widgets/imageview.h"
#include "platform/widgets/pagelistview.h"
#include "platform/widgets/userprompts.h"

namespace folivo {

namespace {

constexpr int kDesignWidth = 811;          // pixels
constexpr int kDesignHeight = 608;         // pixels
constexpr int kMainToolBarHeight = 57;     // pixels
constexpr int kMainButtonSize = 50;        // pixels
constexpr int kLeftPanelWidth = 217;       // pixels
constexpr int kViewToolBarHeight = 35;     // pixels
constexpr int kNavigatorWidth = 150;       // pixels, at design
constexpr int kNavigatorHeight = 200;      // pixels, at design
constexpr uint32_t kDefaultBackground = 0xA4A0A0;  // clMedGray
const char* const kParameter = "Parameter";
const QString kBlank = QStringLiteral("        ");  // eight spaces: an empty panel

std::string U8(const QString& s) { return s.toStdString(); }
QString Q(const std::string& s) { return QString::fromStdString(s); }

QStyle::StandardPixmap GlyphFor(const QString& name) {
  static const QHash<QString, QStyle::StandardPixmap> glyphs = {
      {"sbBrowse", QStyle::SP_DirIcon},
      {"sbOpenFile", QStyle::SP_DialogOpenButton},
      {"sbSaveAs", QStyle::SP_DialogSaveButton},
      {"sbAcquire", QStyle::SP_DriveCDIcon},
      {"sbPrint", QStyle::SP_FileDialogDetailedView},
      {"sbExportPage", QStyle::SP_FileDialogNewFolder},
      {"sbRotateDropDown", QStyle::SP_BrowserReload},
      {"sbResize", QStyle::SP_TitleBarMaxButton},
      {"sbNegative", QStyle::SP_DialogResetButton},
      {"sbCorrect", QStyle::SP_FileDialogListView},
      {"sbAE", QStyle::SP_DialogApplyButton},
      {"sbLevel", QStyle::SP_FileDialogContentsView},
      {"sbMoveUp", QStyle::SP_ArrowUp},
      {"sbMoveDown", QStyle::SP_ArrowDown},
      {"SpeedButton8", QStyle::SP_FileIcon},
      {"sbDelete", QStyle::SP_DialogDiscardButton},
      {"sbEmptyAll", QStyle::SP_TrashIcon},
      {"sbZoomIn", QStyle::SP_ArrowUp},
      {"SpeedButton4", QStyle::SP_ArrowDown},
      {"sbZoomToBest", QStyle::SP_TitleBarMaxButton},
      {"sbZoomTo100", QStyle::SP_TitleBarNormalButton},
      {"sbNavigator", QStyle::SP_FileDialogInfoView},
      {"sbCropPage", QStyle::SP_DialogYesButton},
      {"SpeedButton1", QStyle::SP_DialogHelpButton},
      {"sbUndo", QStyle::SP_ArrowBack},
      {"sbRedo", QStyle::SP_ArrowForward},
      {"sbPrevPage", QStyle::SP_MediaSeekBackward},
      {"sbNextPage", QStyle::SP_MediaSeekForward},
  };
  return glyphs.value(name, QStyle::SP_FileIcon);
}

}  // namespace

QString DepthText(int n) {
  if (n >= 0 && n <= 8) return QString::number(1 << n);
  if (n >= 9 && n <= 31) return QString::number(n) + "b";
  return QString::number(n);
}

TMainForm::TMainForm(const QStringList& files, const QString& settingsPath, QWidget* parent)
    : QMainWindow(parent), settingsPath_(settingsPath) {
  resize(kDesignWidth, kDesignHeight);
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - QPoint(kDesignWidth / 2, kDesignHeight / 2));
  BuildLayout();
  BuildMenus();
  FormCreate(files);
}

TMainForm::~TMainForm() {
  // The page-list model observes pages_; it must go before the list does.
  delete ImageEMV;
  ImageEMV = nullptr;
  model_.reset();
}

void TMainForm::ApplyFontRule() {
  QFont f = font();
  f.setFamily(QFontDatabase::families().contains(QString::fromUtf8("微软雅黑"))
                  ? QString::fromUtf8("微软雅黑")
                  : QString::fromUtf8("宋体"));
  f.setPointSize(9);
  setFont(f);
}

void TMainForm::FormCreate(const QStringList& files) {
  ApplyFontRule();
  // The hint handler is event(): status tips of menus and buttons arrive there.
  documentName_.clear();
  if (settingsPath_.isEmpty())
    settingsPath_ = Q(SettingsFilePath(U8(QCoreApplication::applicationFilePath())));
  programFolder_ = QFileInfo(settingsPath_).absolutePath();
  if (!programFolder_.endsWith('/')) programFolder_ += '/';
  LoadSettings();
  if (skinEnabled_) qApp->setStyleSheet(SkinStyleSheet());
  deskewSkip_ = false;
  openCommandCount_ = 0;
  undoPageIndex_ = 1;
  undoPageCount_ = 0;
  viewState_.Empty();
  ImageEV->Update();
  ImageEVNav->Update();
  manualUpdateCheck_ = false;
  RefreshStatus();
  setWindowState(windowState() | Qt::WindowMaximized);
  setAcceptDrops(true);
  for (const QString& file : files) LoadDocumentFile(file);
}

void TMainForm::BuildLayout() {
  auto* central = new QWidget(this);
  auto* outer = new QVBoxLayout(central);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->setSpacing(0);

  auto* mainBar = new QFrame(central);
  mainBar->setObjectName("MainToolBar");
  mainBar->setFixedHeight(kMainToolBarHeight);
  auto* mainBarLayout = new QHBoxLayout(mainBar);
  mainBarLayout->setContentsMargins(2, 2, 2, 2);
  mainBarLayout->setSpacing(1);
  for (const TToolButtonDef& def : MainToolButtons())
    mainBarLayout->addWidget(MakeButton(def, mainBar, true));
  mainBarLayout->addStretch(1);
  outer->addWidget(mainBar);

  splitter_ = new QSplitter(Qt::Horizontal, central);
  auto* left = new QWidget(splitter_);
  left->setObjectName("LeftPanel");
  auto* leftLayout = new QVBoxLayout(left);
  leftLayout->setContentsMargins(0, 0, 0, 0);
  leftLayout->setSpacing(0);
  auto* topBar = new QFrame(left);
  auto* topLayout = new QHBoxLayout(topBar);
  topLayout->setContentsMargins(2, 2, 2, 2);
  for (const TToolButtonDef& def : PageListTopButtons()) topLayout->addWidget(MakeButton(def, topBar, false));
  topLayout->addStretch(1);
  leftLayout->addWidget(topBar);
  model_ = std::make_unique<TPageListModel>(pages_);
  model_->BeforeImageDraw = [this](int page, QString& bottom, QString& info) {
    info = showResolution_ ? QString("%1 x %2").arg(pages_.FullWidth(page)).arg(pages_.FullHeight(page))
                           : QString();
    bottom = showPageNumber_ ? QString::fromUtf8("第 %1 页").arg(page + 1) : QString();
  };
  ImageEMV = new TPageListView(*model_, left);
  ImageEMV->setObjectName("ImageEMV");
  leftLayout->addWidget(ImageEMV, 1);
  auto* bottomBar = new QFrame(left);
  auto* bottomLayout = new QHBoxLayout(bottomBar);
  bottomLayout->setContentsMargins(2, 2, 2, 2);
  for (const TToolButtonDef& def : PageListBottomButtons())
    bottomLayout->addWidget(MakeButton(def, bottomBar, false));
  bottomLayout->addStretch(1);
  leftLayout->addWidget(bottomBar);

  auto* right = new QWidget(splitter_);
  auto* rightLayout = new QVBoxLayout(right);
  rightLayout->setContentsMargins(0, 0, 0, 0);
  rightLayout->setSpacing(0);
  auto* viewBar = new QFrame(right);
  viewBar->setObjectName("ViewToolBar");
  viewBar->setFixedHeight(kViewToolBarHeight);
  auto* viewLayout = new QHBoxLayout(viewBar);
  viewLayout->setContentsMargins(2, 2, 2, 2);
  viewLayout->setSpacing(1);
  for (const TToolButtonDef& def : ViewToolButtons()) {
    if (QString(def.Name) == "sbPrevPage") viewLayout->addStretch(1);
    viewLayout->addWidget(MakeButton(def, viewBar, false));
  }
  rightLayout->addWidget(viewBar);
  ImageEV = new TImageView(viewState_, right);
  ImageEV->setObjectName("ImageEV");
  rightLayout->addWidget(ImageEV, 1);
  pnlNavigator = new QFrame(ImageEV);
  pnlNavigator->setObjectName("pnlNavigator");
  pnlNavigator->setFrameShape(QFrame::Box);
  pnlNavigator->setGeometry(0, 0, kNavigatorWidth, kNavigatorHeight);
  auto* navLayout = new QVBoxLayout(pnlNavigator);
  navLayout->setContentsMargins(1, 1, 1, 1);
  ImageEVNav = new TImageNavigator(*ImageEV, pnlNavigator);
  ImageEVNav->setObjectName("ImageEVNav");
  navLayout->addWidget(ImageEVNav);
  pnlNavigator->hide();

  splitter_->addWidget(left);
  splitter_->addWidget(right);
  splitter_->setStretchFactor(1, 1);
  splitter_->setSizes({kLeftPanelWidth, kDesignWidth - kLeftPanelWidth});
  outer->addWidget(splitter_, 1);

  statusPanels_ = new TMainStatusBar(central);
  statusPanels_->setObjectName("StatusBar1");
  outer->addWidget(statusPanels_);
  setCentralWidget(central);
}

QToolButton* TMainForm::MakeButton(const TToolButtonDef& def, QWidget* parent, bool textUnder) {
  auto* b = new QToolButton(parent);
  b->setObjectName(def.Name);
  b->setText(QString::fromUtf8(def.Caption));
  b->setToolTip(QString::fromUtf8(def.Hint));
  b->setStatusTip(QString::fromUtf8(def.Hint));
  b->setIcon(style()->standardIcon(GlyphFor(def.Name)));
  b->setAutoRaise(true);
  b->setCheckable(def.Toggle);
  b->setProperty("tag", def.Tag);
  if (textUnder) {
    b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    b->setFixedSize(kMainButtonSize, kMainButtonSize);
  } else {
    b->setToolButtonStyle(*def.Caption ? Qt::ToolButtonTextBesideIcon : Qt::ToolButtonIconOnly);
  }
  buttons_.insert(def.Name, b);
  ConnectHandler(b, def.Handler, def.Tag);
  return b;
}

void TMainForm::BuildMenus() {
  std::vector<QMenu*> stack;
  for (const TMenuDef& def : MainMenu()) {
    QString caption = QString::fromUtf8(def.Caption);
    switch (def.Row) {
      case TMenuRow::Menu:
        stack.assign(1, menuBar()->addMenu(caption));
        stack.back()->setObjectName(def.Name);
        menus_.insert(def.Name, stack.back());
        break;
      case TMenuRow::Submenu: {
        QMenu* sub = stack.back()->addMenu(caption);
        sub->setObjectName(def.Name);
        menus_.insert(def.Name, sub);
        stack.push_back(sub);
        break;
      }
      case TMenuRow::EndSubmenu: stack.pop_back(); break;
      case TMenuRow::Separator: stack.back()->addSeparator(); break;
      case TMenuRow::Entry: {
        QAction* a = stack.back()->addAction(caption);
        a->setObjectName(def.Name);
        a->setProperty("tag", def.Tag);
        if (*def.Shortcut) a->setShortcut(QKeySequence(QString::fromLatin1(def.Shortcut)));
        actions_.insert(def.Name, a);
        ConnectHandler(a, def.Handler, def.Tag);
        break;
      }
    }
  }
}

// The handlers built so far; a control whose handler is not here yet stays
// disabled rather than doing nothing when clicked.
std::function<void()> TMainForm::Handler(const char* name, int) {
  const QString n = QString::fromLatin1(name);
  if (n == "mnQuitClick") return [this] { mnQuitClick(); };
  return {};
}

void TMainForm::ConnectHandler(QAction* action, const char* handler, int tag) {
  std::function<void()> f = Handler(handler, tag);
  action->setEnabled(static_cast<bool>(f));
  if (f) connect(action, &QAction::triggered, this, f);
}

void TMainForm::ConnectHandler(QToolButton* button, const char* handler, int tag) {
  std::function<void()> f = Handler(handler, tag);
  button->setEnabled(static_cast<bool>(f));
  if (f) connect(button, &QToolButton::clicked, this, f);
}

void TMainForm::LoadSettings() {
  TIniFile ini(U8(settingsPath_));
  uint32_t color = kDefaultBackground;
  if (!TextToColor(ini.ReadString(kParameter, "BackgrdColor", "clMedGray"), color))
    color = kDefaultBackground;  // a text that is no colour falls back
  lastOpen_ = Q(ini.ReadString(kParameter, "LastOpen", ""));
  lastSaved_ = Q(ini.ReadString(kParameter, "LastSaved", ""));
  lastExport_ = Q(ini.ReadString(kParameter, "LastExport", ""));
  exportTypeIndex_ = ini.ReadInteger(kParameter, "LastExportFormat", 0);
  saveTypeIndex_ = 0;
  quitConfirm_ = ini.ReadBool(kParameter, "QuitConfirm", true);
  skinEnabled_ = ini.ReadBool(kParameter, "SkinEnable", false);
  showPageNumber_ = ini.ReadBool(kParameter, "ShowPageNumber", true);
  showResolution_ = ini.ReadBool(kParameter, "ShowResolution", false);
  recentFileNumber_ = ini.ReadInteger(kParameter, "RecentFileNumber", 5);
  undoLimit_ = ini.ReadInteger(kParameter, "UndoCount", 5);
  ImageEV->SetBackgroundColor(color);
  ImageEVNav->update();
}

void TMainForm::SaveSettings() {
  TIniFile ini(U8(settingsPath_));
  ini.WriteString(kParameter, "LastOpen", U8(lastOpen_));
  ini.WriteString(kParameter, "LastSaved", U8(lastSaved_));
  ini.WriteString(kParameter, "LastExport", U8(lastExport_));
  ini.WriteInteger(kParameter, "LastExportFormat", exportTypeIndex_);
  ini.WriteInteger(kParameter, "LastSaveFormat", saveTypeIndex_);
}

void TMainForm::SetPanelText(int panel, const QString& text, double factor) {
  QFontMetrics metrics(statusPanels_->font());
  int width = static_cast<int>(std::nearbyint((metrics.horizontalAdvance(text) + 5) * factor));
  statusPanels_->SetPanel(panel, text, width);
}

void TMainForm::RefreshStatus() {
  QString title = QString::fromUtf8("【Folivo】");
  if (!documentName_.isEmpty()) title += " - " + QFileInfo(documentName_).fileName();
  setWindowTitle(title);

  QString panel0 = kBlank;
  if (!documentName_.isEmpty()) {
    QFontMetrics metrics(statusPanels_->font());
    panel0 = metrics.elidedText(documentName_, Qt::ElideMiddle, 300).trimmed();
    if (panel0.isEmpty()) panel0 = QFileInfo(documentName_).fileName();
  }

  const int count = pages_.PageCount();
  const int current = pages_.CurrentPage();
  QString panel1 = kBlank;
  if (count > 0 && current < 0)
    panel1 = QString::fromUtf8("总页数 %1 ").arg(count);
  else if (current >= 0)
    panel1 = QString(" %1/%2 ").arg(current + 1).arg(count);

  QString panel2 = kBlank;
  if (current >= 0 && pages_.FullWidth(current) >= 1) {
    const TIOParamsVals& p = pages_.Params(current);
    panel2 = QString("%1 x %2 x %3")
                 .arg(pages_.FullWidth(current))
                 .arg(pages_.FullHeight(current))
                 .arg(DepthText(p.BitsPerSample * p.SamplesPerPixel));
    if (viewState_.Bitmap.Width() > 1)
      panel2 += QString(" (%1%)").arg(static_cast<int>(std::nearbyint(ImageEV->Zoom())));
  }
  SetPanelText(0, panel0, 1.1);
  SetPanelText(1, panel1, 1.5);
  SetPanelText(2, panel2, 1.1);
  statusPanels_->LeaveMessageMode();
  QCoreApplication::processEvents();
  UpdateUndoButtons();
  if (ImageEV->ShrinkToFit()) fitZoom_ = ImageEV->Zoom();
  TurnNavigatorPanel();
}

void TMainForm::TurnNavigatorPanel() {
  const TIEBitmap& page = viewState_.Bitmap;
  if (page.Width() <= 1) pnlNavigator->hide();
  int w = pnlNavigator->width(), h = pnlNavigator->height();
  if (page.Width() > page.Height())
    pnlNavigator->resize(std::max(w, h), std::min(w, h));
  else
    pnlNavigator->resize(std::min(w, h), std::max(w, h));
}

void TMainForm::UpdateUndoButtons() {
  // No operation has recorded a snapshot yet: the history is empty.
  const bool canUndo = false, canRedo = false;
  buttons_.value("sbUndo")->setEnabled(canUndo);
  actions_.value("mnUndo")->setEnabled(canUndo);
  buttons_.value("sbRedo")->setEnabled(canRedo);
  actions_.value("mnRedo")->setEnabled(canRedo);
}

void TMainForm::ShowStatusMessage(const QString& text) { statusPanels_->ShowMessage(text); }

void TMainForm::RestoreStatus() {
  statusPanels_->ClearProgress();
  statusPanels_->LeaveMessageMode();
  statusPanels_->repaint();
  QCoreApplication::processEvents();
  QGuiApplication::restoreOverrideCursor();
}

void TMainForm::ShowProgress(int percent) {
  statusPanels_->LeaveMessageMode();
  QCoreApplication::processEvents();
  QGuiApplication::restoreOverrideCursor();
  if (percent < 100) QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  statusPanels_->SetProgress(percent);
}

void TMainForm::BeginBusy() {
  if (busyDepth_++ > 0) return;
  waitForm_ = std::make_unique<TWaitForm>(this);
  waitForm_->show();
  waitForm_->repaint();
  waitForm_->StartAnimation();
  centralWidget()->setEnabled(false);
  menuBar()->setEnabled(false);
  QCoreApplication::processEvents();
}

void TMainForm::EndBusy() {
  if (busyDepth_ == 0 || --busyDepth_ > 0) return;
  if (waitForm_) {
    waitForm_->hide();
    waitForm_->StopAnimation();
    waitForm_.reset();
  }
  centralWidget()->setEnabled(true);
  menuBar()->setEnabled(true);
  RefreshStatus();
}

void TMainForm::LoadDocumentFile(const QString& fileName) {
  if (fileName.isEmpty()) {
    ImageEMV->viewport()->update();
    return;
  }
  TUserPrompts::Current().Message(
      this, TPromptKind::Error,
      QString::fromUtf8("无法读取文件：") + fileName, pbOk);
  ImageEMV->viewport()->update();
}

bool TMainForm::event(QEvent* e) {
  if (e->type() == QEvent::StatusTip) {
    QString tip = static_cast<QStatusTipEvent*>(e)->tip();
    if (tip.isEmpty())
      RestoreStatus();
    else
      ShowStatusMessage(tip);
    return true;
  }
  return QMainWindow::event(e);
}

void TMainForm::mnQuitClick() { close(); }

bool TMainForm::FormCloseQuery() {
  if (!quitConfirm_ || pages_.PageCount() < 1) return true;
  return TUserPrompts::Current().Message(this, TPromptKind::Confirmation,
                                         QString::fromUtf8("现在退出 『Folivo』 吗？\n"),
                                         pbYes | pbNo) == pbYes;
}

void TMainForm::FormDestroy() {
  if (destroyed_) return;
  destroyed_ = true;
  SaveSettings();
}

void TMainForm::closeEvent(QCloseEvent* e) {
  if (!FormCloseQuery()) {
    e->ignore();
    return;
  }
  FormDestroy();
  e->accept();
}

QString TMainForm::SkinStyleSheet() {
  return QStringLiteral(
      "QMainWindow, QDialog { background: #e8eef7; }"
      "QFrame#MainToolBar, QFrame#ViewToolBar { background: qlineargradient(x1:0, y1:0, x2:0, y2:1,"
      " stop:0 #f6f9fd, stop:1 #d5e1f2); border-bottom: 1px solid #9fb4d4; }"
      "QToolButton { border: 1px solid transparent; border-radius: 3px; padding: 1px; }"
      "QToolButton:hover { background: #fbe6a2; border-color: #e5c365; }"
      "QToolButton:pressed, QToolButton:checked { background: #f6c867; border-color: #c29b3e; }"
      "QMenuBar { background: #dbe6f4; }"
      "QMenu::item:selected { background: #fbe6a2; color: black; }");
}

}  // namespace folivo
