// Folivo — multi-page TIFF editor.
#include "app/mainfrm.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QCursor>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QSplitter>
#include <QStatusTipEvent>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <cmath>

#include "app/commandtable.h"
#include "app/favourdirfrm.h"
#include "app/openfilter.h"
#include "app/statusbar.h"
#include "app/waitfrm.h"
#include "formats/tiffpages.h"
#include "platform/clipboardraw.h"
#include "platform/colortext.h"
#include "platform/imageio.h"
#include "platform/inifile.h"
#include "platform/qtbitmap.h"
#include "platform/settingspath.h"
#include "platform/widgets/imageview.h"
#include "platform/widgets/pagelistview.h"
#include "platform/widgets/userprompts.h"

namespace folivo {

namespace {

constexpr int kDesignWidth = 811;                  // pixels
constexpr int kDesignHeight = 608;                 // pixels
constexpr int kMainToolBarHeight = 57;             // pixels
constexpr int kMainButtonSize = 50;                // pixels
constexpr int kLeftPanelWidth = 217;               // pixels
constexpr int kViewToolBarHeight = 35;             // pixels
constexpr int kNavigatorWidth = 150;               // pixels, at design
constexpr int kNavigatorHeight = 200;              // pixels, at design
constexpr uint32_t kDefaultBackground = 0xA4A0A0;  // clMedGray
constexpr int kLargeFilePages = 500;               // more pages than this ask first
constexpr double kZoomStep = 1.2;
const char* const kParameter = "Parameter";
const QString kBlank = QStringLiteral("        ");  // eight spaces: an empty panel

std::string U8(const QString& s) {
  return s.toStdString();
}
QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

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
  viewState_.OnChanged = nullptr;
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
  LoadRecentFiles();
  BuildFavouritesMenu();
  RefreshStatus();
  // Without a window manager (Xvfb) the state alone changes nothing: take the screen too.
  if (QScreen* screen = QGuiApplication::primaryScreen()) setGeometry(screen->availableGeometry());
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
  for (const TToolButtonDef& def : PageListTopButtons())
    topLayout->addWidget(MakeButton(def, topBar, false));
  topLayout->addStretch(1);
  leftLayout->addWidget(topBar);
  model_ = std::make_unique<TPageListModel>(pages_);
  model_->BeforeImageDraw = [this](int page, QString& bottom, QString& info) {
    info = showResolution_
               ? QString("%1 x %2").arg(pages_.FullWidth(page)).arg(pages_.FullHeight(page))
               : QString();
    bottom = showPageNumber_ ? QString::fromUtf8("第 %1 页").arg(page + 1) : QString();
  };
  ImageEMV = new TPageListView(*model_, left);
  ImageEMV->setObjectName("ImageEMV");
  connect(ImageEMV, &TPageListView::ImageSelect, this, &TMainForm::ImageEMVImageSelect);
  connect(ImageEMV, &TPageListView::ImageDeselect, this, &TMainForm::ImageEMVImageDeselect);
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
  // The zoom shown in the status bar follows the view's size, coalesced into one refresh.
  connect(ImageEV, &TImageView::ViewChanged, this, [this] {
    if (statusPending_) return;
    statusPending_ = true;
    QTimer::singleShot(0, this, [this] {
      statusPending_ = false;
      RefreshStatus();
    });
  });
  connect(ImageEV, &TImageView::Clicked, this, &TMainForm::ImageEVClick);
  connect(ImageEV, &TImageView::DoubleClicked, this, &TMainForm::ImageEVDblClick);
  connect(ImageEVNav, &TImageNavigator::DoubleClicked, this, &TMainForm::ImageEVNavDblClick);
  pnlNavigator->hide();
  // Operations and undo change the view's bitmap behind the widgets' back.
  viewState_.OnChanged = [this] {
    ImageEV->Update();
    ImageEV->viewport()->update();
    if (pnlNavigator->isVisible()) ImageEVNav->Update();
  };

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
      case TMenuRow::EndSubmenu:
        stack.pop_back();
        break;
      case TMenuRow::Separator:
        stack.back()->addSeparator();
        break;
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
std::function<void()> TMainForm::Handler(const char* name, int tag) {
  using F = void (TMainForm::*)();
  static const QHash<QString, F> plain = {
      {"mnQuitClick", &TMainForm::mnQuitClick},
      {"mnOpenFileClick", &TMainForm::mnOpenFileClick},
      {"sbAddFilesClick", &TMainForm::sbAddFilesClick},
      {"mnOpenAgainClick", &TMainForm::mnOpenAgainClick},
      {"sbMoveUpClick", &TMainForm::sbMoveUpClick},
      {"sbMoveDownClick", &TMainForm::sbMoveDownClick},
      {"sbDeleteClick", &TMainForm::sbDeleteClick},
      {"sbEmptyAllClick", &TMainForm::sbEmptyAllClick},
      {"sbSelectAllClick", &TMainForm::sbSelectAllClick},
      {"sbInvertSelectClick", &TMainForm::sbInvertSelectClick},
      {"sbNextPageClick", &TMainForm::sbNextPageClick},
      {"sbPrevPageClick", &TMainForm::sbPrevPageClick},
      {"mnCopyImageClick", &TMainForm::mnCopyImageClick},
      {"mnPasteImageClick", &TMainForm::mnPasteImageClick},
      {"sbZoomTo100Click", &TMainForm::sbZoomTo100Click},
      {"sbNavigatorClick", &TMainForm::sbNavigatorClick},
      {"sbCropPageClick", &TMainForm::sbCropPageClick},
      {"sbUndoClick", &TMainForm::sbUndoClick},
      {"sbRedoClick", &TMainForm::sbRedoClick},
      {"mnOrganizeFavouritesClick", &TMainForm::mnOrganizeFavouritesClick},
      {"mnAddFavouriteClick", &TMainForm::mnAddFavouriteClick},
  };
  const QString n = QString::fromLatin1(name);
  if (n == "sbZoomInClick") return [this, tag] { sbZoomInClick(tag); };
  if (F f = plain.value(n)) return [this, f] { (this->*f)(); };
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
  if (!f) return;
  // A toggle button's checked state is set by its command, not by the click.
  if (button->isCheckable())
    connect(button, &QToolButton::clicked, this, [button, f] {
      button->setChecked(!button->isChecked());
      f();
    });
  else
    connect(button, &QToolButton::clicked, this, f);
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
  proc_.SetUndoLimit(std::max(0, undoLimit_));
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
  const bool canUndo = proc_.History().UndoCount() > 0;
  const bool canRedo = proc_.History().RedoCount() > 0;
  buttons_.value("sbUndo")->setEnabled(canUndo);
  actions_.value("mnUndo")->setEnabled(canUndo);
  buttons_.value("sbRedo")->setEnabled(canRedo);
  actions_.value("mnRedo")->setEnabled(canRedo);
}

void TMainForm::ShowStatusMessage(const QString& text) {
  statusPanels_->ShowMessage(text);
}

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

void TMainForm::ShowError(const QString& text) {
  TUserPrompts::Current().Message(this, TPromptKind::Error, text, pbOk);
}

void TMainForm::LoadDocumentFile(const QString& fileName) {
  if (fileName.isEmpty()) {
    ImageEMV->Repaint();
    return;
  }
  int count = 0;
  try {
    count = IsTiffFileName(fileName) ? CountTiffPages(U8(fileName)) : CountImageFilePages(fileName);
  } catch (const FolivoError&) {
    count = 0;  // not readable: the load below reports it
  }
  if (count > kLargeFilePages) {
    const QString question =
        QString::fromUtf8(
            "此图像文件包含大量独立页面，可能会影响加载速度，是否继续加载？\n文件名　：") +
        fileName + "\n" + QString::fromUtf8("页面数量：") + QString::number(count);
    if (TUserPrompts::Current().Message(this, TPromptKind::Warning, question, pbYes | pbNo) !=
        pbYes)
      return;
  }
  int loaded = 0;
  bool aborted = false;
  QString failure;
  try {
    TBusyGuard busy(*this);
    TIOProgress progress;
    // The reader reports per row; redrawing the bar for every report costs
    // more than the decoding, so it is redrawn at most every 40 ms.
    int shownPercent = -1;
    QElapsedTimer sinceShown;
    sinceShown.start();
    progress.OnProgress = [this, &shownPercent, &sinceShown](void*, int percent) {
      if (percent == shownPercent || (percent <= 98 && sinceShown.elapsed() < 40)) return;
      shownPercent = percent;
      sinceShown.restart();
      ShowProgress(percent);
      if (percent > 98) RestoreStatus();
    };
    loaded = LoadImageFilePages(pages_, fileName, progress);
    aborted = progress.Aborting();
  } catch (const std::bad_alloc&) {
    failure = QString::fromUtf8("内存不足，无法载入文件：") + fileName;
  } catch (const std::exception& e) {
    failure = QString::fromUtf8(e.what());
  }
  RestoreStatus();
  if (!failure.isEmpty())
    ShowError(failure);
  else if (aborted)
    // The pages read before the fault stay; the user still learns the file is damaged.
    ShowError(QString::fromUtf8("文件读取失败：") + fileName +
              (loaded > 0 ? QString::fromUtf8("\n已载入 %1 页").arg(loaded) : QString()));
  if (pages_.PageCount() > 0 && pages_.CurrentPage() < 0) {
    pages_.Select(0);
    ShowPage(0);
  }
  // A file that gave no page does not become the document.
  if (documentName_.isEmpty() && loaded > 0) {
    ResetUndo(-1);
    documentName_ = fileName;
    lastOpen_ = fileName;
    AddRecentFile(fileName, DateTimeToDays(QDateTime::currentDateTime()));
    BuildRecentMenu();
  }
  ImageEMV->Repaint();
  RefreshStatus();
}

void TMainForm::ShowPage(int index) {
  ResetUndo(index);
  if (index < 0 || index >= pages_.PageCount()) {
    viewState_.Blank();
  } else {
    ImageEV->SetShrinkToFit(true);
    ImageEV->SetFit(false);
    viewState_.Bitmap.Assign(pages_.Bitmap(index));
  }
  viewState_.Deselect();
  ImageEV->Update();
  ImageEV->viewport()->repaint();
  if (pnlNavigator->isVisible()) ImageEVNav->Update();
  QCoreApplication::processEvents();
  RefreshStatus();
}

void TMainForm::StorePage(int index) {
  if (index >= 0 && index < pages_.PageCount()) pages_.SetBitmap(index, viewState_.Bitmap);
}

bool TMainForm::CheckSelection(const QString& message) {
  const int count = pages_.PageCount();
  if (count == 1 && pages_.SelectedCount() == 0) {
    pages_.Select(0);
    ShowPage(0);
  } else if (count > 1 && pages_.SelectedCount() == 0) {
    pages_.SelectAll();
  }
  if (count == 0) return true;
  if (pages_.SelectedCount() > 0) return false;
  if (!message.isEmpty())
    TUserPrompts::Current().Message(this, TPromptKind::Warning, message, pbOk);
  return true;
}

void TMainForm::ResetUndo(int index) {
  if (pages_.CurrentPage() >= 0 && pages_.PageCount() == undoPageCount_ &&
      index == undoPageIndex_) {
    UpdateUndoButtons();
    return;
  }
  undoPageCount_ = pages_.PageCount();
  undoPageIndex_ = index;
  proc_.History().Clear();
  UpdateUndoButtons();
}

void TMainForm::ClearDocument() {
  pages_.Clear();
  viewState_.Blank();
  viewState_.Deselect();
  ImageEV->Update();
  documentName_.clear();
}

void TMainForm::mnOpenFileClick() {
  TFileDialogRequest request;
  request.StartFolder = lastOpen_.isEmpty() ? QString() : QFileInfo(lastOpen_).absolutePath();
  request.Filter = OpenFilterText();
  const QStringList files = TUserPrompts::Current().OpenFiles(this, request, false);
  // The silent update check of the first open command belongs here once it exists.
  ++openCommandCount_;
  if (files.isEmpty()) return;
  ClearDocument();
  LoadDocumentFile(files.front());
}

void TMainForm::sbAddFilesClick() {
  TFileDialogRequest request;
  request.StartFolder = lastOpen_.isEmpty() ? QString() : QFileInfo(lastOpen_).absolutePath();
  request.Filter = OpenFilterText();
  const QStringList files = TUserPrompts::Current().OpenFiles(this, request, true);
  if (files.isEmpty()) return;
  for (const QString& file : files) LoadDocumentFile(file);
  ShowPage(pages_.CurrentPage());
}

void TMainForm::mnOpenAgainClick() {
  const QString name = documentName_;
  if (name.isEmpty() || !QFileInfo::exists(name)) return;
  ClearDocument();
  LoadDocumentFile(name);
}

void TMainForm::DropFiles(const QStringList& files) {
  for (const QString& file : files) LoadDocumentFile(file);
}

void TMainForm::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TMainForm::dropEvent(QDropEvent* event) {
  QStringList files;
  for (const QUrl& url : event->mimeData()->urls())
    if (url.isLocalFile()) files << url.toLocalFile();
  event->acceptProposedAction();
  DropFiles(files);
}

void TMainForm::sbMoveUpClick() {
  pages_.SortSelection();
  const std::vector<int> selected = pages_.Selection();
  for (int p : selected)
    if (p > 0 && !pages_.IsSelected(p - 1)) pages_.Move(p, p - 1);
  RefreshStatus();
}

void TMainForm::sbMoveDownClick() {
  pages_.SortSelection();
  const std::vector<int> selected = pages_.Selection();
  for (auto it = selected.rbegin(); it != selected.rend(); ++it) {
    const int p = *it;
    if (p < pages_.PageCount() - 1 && !pages_.IsSelected(p + 1)) pages_.Move(p, p + 1);
  }
  RefreshStatus();
}

void TMainForm::sbDeleteClick() {
  pages_.DeleteSelected();
  ShowPage(pages_.CurrentPage());
}

void TMainForm::sbEmptyAllClick() {
  pages_.Clear();
  ShowPage(pages_.CurrentPage());
}

void TMainForm::sbSelectAllClick() {
  pages_.SelectAll();
}

void TMainForm::sbInvertSelectClick() {
  for (int i = 0; i < pages_.PageCount(); ++i) {
    if (pages_.IsSelected(i)) {
      pages_.Unselect(i);
    } else {
      pages_.MultiSelecting = true;
      pages_.Select(i);
      pages_.MultiSelecting = false;
    }
  }
}

void TMainForm::sbNextPageClick() {
  const int next = pages_.CurrentPage() + 1;
  if (pages_.CurrentPage() < 0 || next >= pages_.PageCount()) return;
  pages_.Select(next);
  ShowPage(next);
  ImageEMV->ScrollToCurrent();
}

void TMainForm::sbPrevPageClick() {
  const int previous = pages_.CurrentPage() - 1;
  if (pages_.CurrentPage() <= 0) return;
  pages_.Select(previous);
  ShowPage(previous);
  ImageEMV->ScrollToCurrent();
}

void TMainForm::ImageEMVImageSelect(int index) {
  ShowPage(index);
}

void TMainForm::ImageEMVImageDeselect(int) {
  ResetUndo(-1);
}

void TMainForm::mnCopyImageClick() {
  const TIEBitmap& bitmap = viewState_.Bitmap;
  if (bitmap.Width() <= 1) return;
  auto* data = new QMimeData;
  data->setImageData(BitmapToQImage(bitmap));
  data->setData(kRawMimeType, SerializeBitmap(bitmap));
  QGuiApplication::clipboard()->setMimeData(data);
  ShowStatusMessage(QString::fromUtf8("图象复制完成"));
}

void TMainForm::mnPasteImageClick() {
  const QMimeData* data = QGuiApplication::clipboard()->mimeData();
  const QString png = QStringLiteral("image/png");
  if (!data || !(data->hasFormat(kRawMimeType) || data->hasFormat(png) || data->hasImage())) {
    ShowStatusMessage(QString::fromUtf8("剪切板内容非图像格式，无法粘贴。"));
    return;
  }
  viewState_.Blank();
  viewState_.Deselect();
  TIEBitmap pasted;
  bool ok = data->hasFormat(kRawMimeType) && DeserializeBitmap(data->data(kRawMimeType), pasted);
  if (!ok && data->hasFormat(png)) {
    QImage image;
    if (image.loadFromData(data->data(png), "PNG")) {
      QImageToBitmap(image, pasted);
      ok = !pasted.IsEmpty();
    }
  }
  if (!ok && data->hasImage()) {
    const QImage image = qvariant_cast<QImage>(data->imageData());
    if (!image.isNull()) {
      QImageToBitmap(image, pasted);
      ok = !pasted.IsEmpty();
    }
  }
  // Nothing decodable: no blank page is added in its place.
  if (ok) viewState_.Bitmap.Assign(pasted);
  ImageEV->Update();
  if (!ok || viewState_.Bitmap.Width() < 2) return;
  const int index = pages_.Append();
  StorePage(index);
  DescribeBitmap(pages_.Bitmap(index), pages_.Params(index));
  RefreshStatus();
  ImageEMV->ScrollToCurrent();
}

void TMainForm::sbZoomInClick(int tag) {
  const double zoom = ImageEV->Zoom();
  if (tag == 1 || tag == 2) {
    ImageEV->SetFit(false);
    ImageEV->SetShrinkToFit(false);
    ImageEV->SetZoom(tag == 1 ? zoom * kZoomStep : zoom / kZoomStep);
  } else if (tag == 3) {
    ImageEV->SetFit(true);
  }
  ImageEV->viewport()->update();
  RefreshStatus();
  pnlNavigator->hide();
}

void TMainForm::sbZoomTo100Click() {
  ImageEV->SetFit(false);
  ImageEV->SetShrinkToFit(false);
  ImageEV->SetZoom(100);
  RefreshStatus();
  if (fitZoom_ < 100) sbNavigatorClick();
}

void TMainForm::sbNavigatorClick() {
  if (viewState_.Bitmap.Width() <= 1) return;
  pnlNavigator->show();
  pnlNavigator->raise();
  ImageEVNav->Update();
}

void TMainForm::ImageEVClick() {
  pnlNavigator->hide();
}

void TMainForm::ImageEVNavDblClick() {
  if (fitZoom_ != ImageEV->Zoom())
    sbZoomInClick(3);
  else
    sbZoomTo100Click();
}

void TMainForm::sbCropPageClick() {
  const bool on = !ImageEV->SelectionMode();
  ImageEV->SetSelectionMode(on);
  if (on)
    viewState_.Select(TRect{0, 0, viewState_.Bitmap.Width(), viewState_.Bitmap.Height()});
  else
    viewState_.Deselect();
  ImageEV->viewport()->update();
  buttons_.value("sbCropPage")->setChecked(on);
}

void TMainForm::ImageEVDblClick() {
  // With no pages a double click is to open the image browser, which is not
  // built yet; until then it does nothing there.
  if (pages_.PageCount() == 0) return;
  if (!viewState_.HasSelection()) return;
  {
    TBusyGuard busy(*this);
    proc_.CropSel();
    StorePage(pages_.CurrentPage());
  }
}

void TMainForm::sbUndoClick() {
  if (!proc_.Undo()) return;
  StorePage(pages_.CurrentPage());
  RefreshStatus();
}

void TMainForm::sbRedoClick() {
  if (!proc_.Redo()) return;
  StorePage(pages_.CurrentPage());
  RefreshStatus();
}

void TMainForm::AddRecentFile(const QString& fileName, double time) {
  recent_.Add(fileName, time);
}

void TMainForm::BuildRecentMenu() {
  QMenu* menu = menus_.value("mnRecentFiles");
  // The entry that was clicked may be running this: delete later, not now.
  for (QAction* a : menu->actions()) {
    menu->removeAction(a);
    a->deleteLater();
  }
  if (recent_.Items().empty() || recentFileNumber_ <= 0) {
    QAction* none = menu->addAction(QString::fromUtf8("[无]"));
    none->setEnabled(false);
    return;
  }
  recent_.SortNewestFirst();
  const int n = std::min<int>(static_cast<int>(recent_.Items().size()), recentFileNumber_);
  for (int i = 0; i < n; ++i) {
    QAction* a = menu->addAction(QString("&%1 %2").arg(i + 1).arg(recent_.Items()[i].FileName));
    a->setProperty("tag", i);
    connect(a, &QAction::triggered, this, [this, i] { HistoryMenuItemClick(i); });
  }
}

void TMainForm::LoadRecentFiles() {
  TIniFile ini(U8(settingsPath_));
  recent_.Load(ini);
  BuildRecentMenu();
}

void TMainForm::SaveRecentFiles() {
  TIniFile ini(U8(settingsPath_));
  recent_.Save(ini, recentFileNumber_);
}

void TMainForm::HistoryMenuItemClick(int tag) {
  if (recent_.Items().empty()) return;
  if (tag < 0 || tag >= static_cast<int>(recent_.Items().size())) tag = 0;
  const QString name = recent_.Items()[tag].FileName;
  ClearDocument();
  LoadDocumentFile(name);
}

void TMainForm::BuildFavouritesMenu() {
  QMenu* menu = menus_.value("mnFavourites");
  const QList<QAction*> existing = menu->actions();
  for (auto it = existing.rbegin(); it != existing.rend(); ++it) {
    if ((*it)->property("tag").toInt() < 0) {
      menu->removeAction(*it);
      (*it)->deleteLater();
    }
  }
  const QStringList folders = ReadFavourites(FavouritesPath());
  for (int i = 0; i < folders.size(); ++i) {
    auto* a = new QAction(QString("&%1 %2").arg(i + 1).arg(folders[i]), menu);
    a->setStatusTip(folders[i]);
    a->setToolTip(folders[i]);
    a->setProperty("tag", -1);
    // Opening a folder needs the image browser, which is not built yet.
    a->setEnabled(false);
    const QList<QAction*> now = menu->actions();
    menu->insertAction(now.value(std::max<int>(0, now.size() - 3)), a);
  }
}

void TMainForm::mnOrganizeFavouritesClick() {
  {
    TFavourDirForm form(FavouritesPath(), this);
    form.exec();
  }
  BuildFavouritesMenu();
}

void TMainForm::mnAddFavouriteClick() {
  QString folder = documentName_.isEmpty() ? QString() : QFileInfo(documentName_).absolutePath();
  if (folder.isEmpty())
    folder =
        TUserPrompts::Current().Folder(this, QString::fromUtf8("请指定欲收藏的文件夹位置"), {});
  if (folder.isEmpty()) return;
  {
    TFavourDirForm form(FavouritesPath(), this);
    form.AddFolder(folder);
  }
  BuildFavouritesMenu();
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

void TMainForm::mnQuitClick() {
  close();
}

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
  SaveRecentFiles();
  recent_.Clear();
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
