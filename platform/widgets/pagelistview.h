// Folivo — multi-page TIFF editor.
// TPageListView: the page list — a view of the document model (TPageList)
// with one cell per page, its thumbnail and its two captions. Thumbnails are
// made in the background from a copy of the page; the selection lives in the
// model, in selection order.
#pragma once

#include <QAbstractListModel>
#include <QFutureWatcher>
#include <QImage>
#include <QListView>
#include <QScrollBar>
#include <QThreadPool>
#include <functional>
#include <memory>
#include <vector>

#include "formats/pagelist.h"

class QRubberBand;

namespace folivo {

class TIEBitmap;

// A thumbnail of at most maxSide × maxSide pixels keeping the aspect ratio:
// 1-bit pages are reduced by area averaging to gray, others by Qt's smooth
// scaling. Pages that already fit are not enlarged.
QImage MakeThumbnail(const TIEBitmap& page, int maxSide);

// Qt model over a TPageList; it follows the list through the observer.
class TPageListModel : public QAbstractListModel, private TPageListObserver {
  Q_OBJECT

 public:
  static constexpr int ThumbnailRole = Qt::UserRole + 1;  // QImage, null while pending
  static constexpr int InfoTextRole = Qt::UserRole + 2;   // caption inside the cell

  explicit TPageListModel(TPageList& pages, QObject* parent = nullptr);
  ~TPageListModel() override;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;

  TPageList& Pages() { return pages_; }
  // Called before a cell is drawn, to set its two captions.
  std::function<void(int page, QString& bottomText, QString& infoText)> BeforeImageDraw;

  // Side of the thumbnails in pixels.
  void SetThumbnailSide(int side) { thumbSide_ = side; }
  // Whether thumbnails are still being made.
  bool Loading() const { return running_ > 0 || !queue_.empty(); }
  // Waits until every thumbnail asked for so far exists (tests, shutdown).
  void WaitForThumbnails();

 signals:
  void SelectionChangedInModel();

 private:
  struct TSlot {
    QImage Thumb;
    int Generation = 0;  // counts changes of the page
    bool Stale = false;  // the page changed since Thumb was made
    bool Queued = false;
  };
  void PagesInserted(int first, int count) override;
  void PagesRemoved(int first, int count) override;
  void PageMoved(int from, int to) override;
  void PageChanged(int index) override;
  void ListCleared() override;
  void SelectionChanged() override;
  void Request(int row) const;
  void Dispatch() const;
  void Finished(const std::shared_ptr<TSlot>& slot, int generation, const QImage& thumb);

  TPageList& pages_;
  // One slot per page, following the list's inserts, moves and removals, so
  // that a finished thumbnail finds its page wherever the page went.
  mutable std::vector<std::shared_ptr<TSlot>> slots_;
  mutable std::vector<std::weak_ptr<TSlot>> queue_;
  mutable int running_ = 0;
  mutable QThreadPool pool_;
  int thumbSide_ = 160;
};

class TPageListView : public QListView {
  Q_OBJECT

 public:
  explicit TPageListView(TPageListModel& model, QWidget* parent = nullptr);

  static constexpr int kCellSize = 180;  // pixels
  static constexpr int kFrameWidth = 3;  // selection frame, pixels
  static constexpr int kGridWidth = 1;   // pixels

  TPageListModel& PageModel() { return model_; }
  // Lays the cells out again (the bottom caption adds its height) and repaints.
  void Repaint();
  void ScrollToCurrent();
  // Cell rectangle of a page in viewport coordinates.
  QRect CellRect(int page) const { return visualRect(model()->index(page, 0)); }

 signals:
  // Only for changes made with the mouse or the keyboard.
  void ImageSelect(int page);
  void ImageDeselect(int page);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // A user's click (or key) on page with the modifiers.
  void UserPick(int page, Qt::KeyboardModifiers modifiers);
  void UserRange(int from, int to, bool keep);

  TPageListModel& model_;
  QRubberBand* band_ = nullptr;
  QPoint bandOrigin_;
  bool banding_ = false;
  int anchor_ = -1;
};

}  // namespace folivo
