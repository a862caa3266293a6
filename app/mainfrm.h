// Folivo — multi-page TIFF editor.
// TMainForm: the main editor window — the document (page list and page
// view), the command map of tool bars and menus, the title and status bar,
// the busy window, and the "Parameter" settings.
#pragma once

#include <QHash>
#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

#include "app/recentfiles.h"
#include "formats/pagelist.h"
#include "processing/imageproc.h"
#include "processing/viewstate.h"

class QAction;
class QFrame;
class QMenu;
class QSplitter;
class QToolButton;

namespace folivo {

class TImageNavigator;
class TImageView;
class TMainStatusBar;
class TPageListModel;
class TPageListView;
class TWaitForm;

// "2", "256" … for up to 8 bits, "24b" for 9 to 31, "48" for 32 and more.
QString DepthText(int bitsPerPixel);

class TMainForm : public QMainWindow {
  Q_OBJECT

 public:
  // settingsPath empty: the file beside the program (see SettingsFilePath).
  explicit TMainForm(const QStringList& files = {}, const QString& settingsPath = {},
                     QWidget* parent = nullptr);
  ~TMainForm() override;

  // Cross-cutting routines of the window.
  void LoadSettings();
  void SaveSettings();
  void RefreshStatus();
  void ShowStatusMessage(const QString& text);
  void RestoreStatus();
  void ShowProgress(int percent);
  void BeginBusy();
  void EndBusy();
  void LoadDocumentFile(const QString& fileName);
  void UpdateUndoButtons();

  // The document: a page travels by copy between the page list and the view.
  void ShowPage(int index);
  void StorePage(int index);
  // The page-selection guard: true means the command must not run.
  bool CheckSelection(const QString& message = {});
  // Keeps the history for the same page of an unchanged list, empties it otherwise.
  void ResetUndo(int index);
  int UndoPageIndex() const { return undoPageIndex_; }
  int UndoPageCount() const { return undoPageCount_; }

  // Document commands.
  void mnOpenFileClick();
  void sbAddFilesClick();
  void mnOpenAgainClick();
  void sbMoveUpClick();
  void sbMoveDownClick();
  void sbDeleteClick();
  void sbEmptyAllClick();
  void sbSelectAllClick();
  void sbInvertSelectClick();
  void sbNextPageClick();
  void sbPrevPageClick();
  void mnCopyImageClick();
  void mnPasteImageClick();
  // Files dropped from a file manager, in the order given.
  void DropFiles(const QStringList& files);
  void ImageEMVImageSelect(int index);
  void ImageEMVImageDeselect(int index);

  // View commands.
  void sbZoomInClick(int tag);
  void sbZoomTo100Click();
  void sbNavigatorClick();
  void ImageEVClick();
  void ImageEVNavDblClick();
  void sbCropPageClick();
  void ImageEVDblClick();

  // Undo history of the page shown in the view.
  void sbUndoClick();
  void sbRedoClick();

  // Recent files and favourite folders.
  void AddRecentFile(const QString& fileName, double time);
  void BuildRecentMenu();
  void LoadRecentFiles();
  void SaveRecentFiles();
  void HistoryMenuItemClick(int tag);
  void BuildFavouritesMenu();
  void mnOrganizeFavouritesClick();
  void mnAddFavouriteClick();
  QString FavouritesPath() const { return programFolder_ + "MyFavourateDir.txt"; }
  TRecentFiles& RecentFiles() { return recent_; }

  // Document and view.
  TPageList& Pages() { return pages_; }
  TViewState& ViewState() { return viewState_; }
  // The page view's processing component; its history is the undo history.
  TImageProc& Proc() { return proc_; }
  TImageView& PageView() { return *ImageEV; }
  TPageListView& PageListView() { return *ImageEMV; }
  TImageNavigator& Navigator() { return *ImageEVNav; }
  QMenu* Menu(const QString& name) const { return menus_.value(name); }
  QString DocumentName() const { return documentName_; }
  void SetDocumentName(const QString& name) { documentName_ = name; }

  // Controls by their names, for the commands and for tests.
  QAction* Action(const QString& name) const { return actions_.value(name); }
  QToolButton* Button(const QString& name) const { return buttons_.value(name); }
  TMainStatusBar& StatusPanels() { return *statusPanels_; }
  QFrame* NavigatorPanel() const { return pnlNavigator; }
  TWaitForm* WaitForm() const { return waitForm_.get(); }
  QString SettingsPath() const { return settingsPath_; }
  QString ProgramFolder() const { return programFolder_; }

  // Option values held for the run.
  bool QuitConfirm() const { return quitConfirm_; }
  bool SkinEnabled() const { return skinEnabled_; }
  bool ShowPageNumber() const { return showPageNumber_; }
  bool ShowResolution() const { return showResolution_; }
  int RecentFileNumber() const { return recentFileNumber_; }
  int UndoLimit() const { return undoLimit_; }
  int ExportTypeIndex() const { return exportTypeIndex_; }
  int SaveTypeIndex() const { return saveTypeIndex_; }
  QString LastOpen() const { return lastOpen_; }
  QString LastSaved() const { return lastSaved_; }
  QString LastExport() const { return lastExport_; }
  double FitZoom() const { return fitZoom_; }

  // The style sheet of the window skin.
  static QString SkinStyleSheet();

 public slots:
  void mnQuitClick();

 protected:
  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void FormCreate(const QStringList& files);
  bool FormCloseQuery();
  void FormDestroy();
  void BuildLayout();
  void BuildMenus();
  QToolButton* MakeButton(const struct TToolButtonDef& def, QWidget* parent, bool textUnder);
  void ConnectHandler(QAction* action, const char* handler, int tag);
  void ConnectHandler(QToolButton* button, const char* handler, int tag);
  std::function<void()> Handler(const char* name, int tag);
  void ApplyFontRule();
  void SetPanelText(int panel, const QString& text, double factor);
  void TurnNavigatorPanel();
  void ShowError(const QString& text);
  void ClearDocument();

  TPageList pages_;
  TViewState viewState_;
  TImageProc proc_{viewState_};
  std::unique_ptr<TPageListModel> model_;
  TPageListView* ImageEMV = nullptr;
  TImageView* ImageEV = nullptr;
  QFrame* pnlNavigator = nullptr;
  TImageNavigator* ImageEVNav = nullptr;
  QSplitter* splitter_ = nullptr;
  TMainStatusBar* statusPanels_ = nullptr;
  std::unique_ptr<TWaitForm> waitForm_;
  int busyDepth_ = 0;
  QHash<QString, QAction*> actions_;
  QHash<QString, QToolButton*> buttons_;
  QHash<QString, QMenu*> menus_;

  QString documentName_;
  QString settingsPath_;
  QString programFolder_;
  QString lastOpen_, lastSaved_, lastExport_;
  int exportTypeIndex_ = 0;
  int saveTypeIndex_ = 0;
  int openCommandCount_ = 0;
  bool manualUpdateCheck_ = false;
  bool deskewSkip_ = false;
  double fitZoom_ = 0;
  int undoPageIndex_ = 1;
  int undoPageCount_ = 0;
  TRecentFiles recent_;

  bool quitConfirm_ = true;
  bool skinEnabled_ = false;
  bool showPageNumber_ = true;
  bool showResolution_ = false;
  int recentFileNumber_ = 5;
  int undoLimit_ = 5;
  bool destroyed_ = false;
  bool statusPending_ = false;
};

}  // namespace folivo
