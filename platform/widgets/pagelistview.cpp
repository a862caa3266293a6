// Folivo — multi-page TIFF editor.
#include "platform/widgets/pagelistview.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QRubberBand>
#include <QStyledItemDelegate>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <bit>
#include <cmath>

#include "formats/bitmap.h"
#include "platform/qtbitmap.h"

namespace folivo {

namespace {

constexpr int kMargin = 8;       // pixels between cell edge and thumbnail
constexpr int kShadow = 3;       // pixels of the soft shadow
constexpr int kMaxInFlight = 2;  // thumbnails being made at once

// Area-averaged 1-bit reduction: each output pixel is the share of white
// source pixels in its box. Whole bytes that fall into one column are counted
// at once.
QImage ReduceBilevel(const TIEBitmap& page, int tw, int th) {
  const int w = page.Width(), h = page.Height();
  QImage out(tw, th, QImage::Format_Grayscale8);
  std::vector<int> column(w);
  for (int x = 0; x < w; ++x) column[x] = static_cast<int>(int64_t(x) * tw / w);
  std::vector<uint32_t> white(tw), total(tw);
  for (int x = 0; x < w; ++x) ++total[column[x]];
  int y = 0;
  for (int ty = 0; ty < th; ++ty) {
    const int yEnd = static_cast<int>(int64_t(ty + 1) * h / th);
    std::fill(white.begin(), white.end(), 0);
    const int rows = std::max(1, yEnd - y);
    for (; y < yEnd; ++y) {
      const uint8_t* row = page.GetScanline(y);
      int x = 0;
      for (; x + 8 <= w; x += 8) {
        const uint8_t b = row[x >> 3];
        if (column[x] == column[x + 7]) {
          white[column[x]] += std::popcount(b);
        } else {
          for (int k = 0; k < 8; ++k) white[column[x + k]] += (b >> (7 - k)) & 1;
        }
      }
      for (; x < w; ++x) white[column[x]] += (row[x >> 3] >> (7 - (x & 7))) & 1;
    }
    uchar* dst = out.scanLine(ty);
    for (int tx = 0; tx < tw; ++tx) {
      const uint32_t n = total[tx] * rows;
      dst[tx] = static_cast<uchar>(n ? white[tx] * 255 / n : 255);
    }
  }
  return out;
}

class TCellDelegate : public QStyledItemDelegate {
 public:
  TCellDelegate(TPageListModel& model, QObject* parent)
      : QStyledItemDelegate(parent), model_(model) {}

  void paint(QPainter* p, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    const QRect cell = option.rect;
    p->save();
    p->fillRect(cell, Qt::white);
    p->setPen(QPen(QColor(0xD0, 0xD0, 0xD0), TPageListView::kGridWidth));
    p->drawLine(cell.topRight(), cell.bottomRight());
    p->drawLine(cell.bottomLeft(), cell.bottomRight());

    const QString bottom = index.data(Qt::DisplayRole).toString();
    const QString info = index.data(TPageListModel::InfoTextRole).toString();
    const int textHeight = option.fontMetrics.height() + 4;
    QRect area = cell.adjusted(kMargin, kMargin, -kMargin, -kMargin);
    if (!bottom.isEmpty()) area.setBottom(area.bottom() - textHeight);

    const QImage thumb = index.data(TPageListModel::ThumbnailRole).value<QImage>();
    if (!thumb.isNull()) {
      QSize size = thumb.size().scaled(area.size(), Qt::KeepAspectRatio);
      if (thumb.width() <= area.width() && thumb.height() <= area.height()) size = thumb.size();
      QRect target(QPoint(0, 0), size);
      target.moveCenter(area.center());
      p->fillRect(target.translated(kShadow, kShadow), QColor(0, 0, 0, 60));
      p->drawImage(target, thumb);
      p->setPen(QColor(0x90, 0x90, 0x90));
      p->drawRect(target.adjusted(0, 0, -1, -1));
    } else {
      // Not made yet: a pale page outline.
      QRect target = area.adjusted(area.width() / 6, 0, -area.width() / 6, 0);
      p->fillRect(target, QColor(0xF4, 0xF4, 0xF4));
      p->setPen(QColor(0xD8, 0xD8, 0xD8));
      p->drawRect(target.adjusted(0, 0, -1, -1));
    }
    p->setPen(Qt::black);
    if (!info.isEmpty()) {
      QRect box(area.left(), area.bottom() - textHeight + 1, area.width(), textHeight);
      p->fillRect(box, QColor(255, 255, 255, 200));
      p->drawText(box, Qt::AlignCenter, info);
    }
    if (!bottom.isEmpty())
      p->drawText(QRect(cell.left(), area.bottom() + 1, cell.width(), textHeight + kMargin / 2),
                  Qt::AlignCenter, bottom);
    const TPageList& pages = model_.Pages();
    if (pages.IsSelected(index.row())) {
      const int f = TPageListView::kFrameWidth;
      p->setPen(QPen(Qt::red, f, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
      p->setBrush(Qt::NoBrush);
      p->drawRect(QRectF(cell).adjusted(f / 2.0 + 1, f / 2.0 + 1, -f / 2.0 - 2, -f / 2.0 - 2));
    }
    if (pages.CurrentPage() == index.row()) {
      p->setPen(QPen(Qt::darkGray, 1, Qt::DotLine));
      p->drawRect(cell.adjusted(5, 5, -6, -6));
    }
    p->restore();
  }

  QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override {
    return {TPageListView::kCellSize, TPageListView::kCellSize};
  }

 private:
  TPageListModel& model_;
};

}  // namespace

QImage MakeThumbnail(const TIEBitmap& page, int maxSide) {
  if (page.IsEmpty() || maxSide < 1) return {};
  const int w = page.Width(), h = page.Height();
  if (w <= maxSide && h <= maxSide) return BitmapToQImage(page);
  const double scale = std::max(w, h) / double(maxSide);
  const int tw = std::clamp(static_cast<int>(std::lround(w / scale)), 1, maxSide);
  const int th = std::clamp(static_cast<int>(std::lround(h / scale)), 1, maxSide);
  if (page.PixelFormat() == ie1g) return ReduceBilevel(page, tw, th);
  return BitmapToQImage(page).scaled(tw, th, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

TPageListModel::TPageListModel(TPageList& pages, QObject* parent)
    : QAbstractListModel(parent), pages_(pages) {
  // One core stays free for the window.
  pool_.setMaxThreadCount(std::max(1, QThread::idealThreadCount() - 1));
  for (int i = 0; i < pages_.PageCount(); ++i) slots_.push_back(std::make_shared<TSlot>());
  pages_.AddObserver(this);
}

TPageListModel::~TPageListModel() {
  pages_.RemoveObserver(this);
  queue_.clear();
  pool_.waitForDone();
}

int TPageListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : pages_.PageCount();
}

QVariant TPageListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= pages_.PageCount()) return {};
  const int row = index.row();
  if (role == Qt::DisplayRole || role == InfoTextRole) {
    QString bottom, info;
    if (BeforeImageDraw) BeforeImageDraw(row, bottom, info);
    return role == Qt::DisplayRole ? bottom : info;
  }
  if (role == ThumbnailRole && row < static_cast<int>(slots_.size())) {
    const TSlot& slot = *slots_[row];
    if ((slot.Thumb.isNull() || slot.Stale) && !slot.Queued) Request(row);
    return slot.Thumb;
  }
  return {};
}

void TPageListModel::Request(int row) const {
  if (pages_.Bitmap(row).IsEmpty()) return;
  slots_[row]->Queued = true;
  queue_.push_back(slots_[row]);
  Dispatch();
}

void TPageListModel::Dispatch() const {
  // Newest requests first: they are the cells on screen now.
  while (running_ < kMaxInFlight && !queue_.empty()) {
    std::shared_ptr<TSlot> slot = queue_.back().lock();
    queue_.pop_back();
    if (!slot) continue;
    auto it = std::find(slots_.begin(), slots_.end(), slot);
    if (it == slots_.end()) continue;
    const int row = static_cast<int>(it - slots_.begin());
    auto copy = std::make_shared<TIEBitmap>();
    copy->Assign(pages_.Bitmap(row));
    const int side = thumbSide_;
    const int generation = slot->Generation;
    slot->Stale = false;
    ++running_;
    auto* watcher = new QFutureWatcher<QImage>(const_cast<TPageListModel*>(this));
    connect(watcher, &QFutureWatcher<QImage>::finished, this, [this, watcher, slot, generation] {
      const_cast<TPageListModel*>(this)->Finished(slot, generation, watcher->result());
      watcher->deleteLater();
    });
    watcher->setFuture(
        QtConcurrent::run(&pool_, [copy, side] { return MakeThumbnail(*copy, side); }));
  }
}

void TPageListModel::Finished(const std::shared_ptr<TSlot>& slot, int generation,
                              const QImage& thumb) {
  --running_;
  slot->Queued = false;
  if (slot->Generation == generation) slot->Thumb = thumb;
  auto it = std::find(slots_.begin(), slots_.end(), slot);
  if (it != slots_.end()) {
    const QModelIndex i = index(static_cast<int>(it - slots_.begin()));
    emit dataChanged(i, i, {ThumbnailRole});
  }
  Dispatch();
}

void TPageListModel::WaitForThumbnails() {
  while (running_ > 0 || !queue_.empty()) {
    pool_.waitForDone(20);
    QCoreApplication::processEvents();
  }
}

void TPageListModel::PagesInserted(int first, int count) {
  beginInsertRows(QModelIndex(), first, first + count - 1);
  for (int i = 0; i < count; ++i) slots_.insert(slots_.begin() + first, std::make_shared<TSlot>());
  endInsertRows();
}

void TPageListModel::PagesRemoved(int first, int count) {
  beginRemoveRows(QModelIndex(), first, first + count - 1);
  slots_.erase(slots_.begin() + first, slots_.begin() + first + count);
  endRemoveRows();
}

void TPageListModel::PageMoved(int from, int to) {
  beginMoveRows(QModelIndex(), from, from, QModelIndex(), to > from ? to + 1 : to);
  auto slot = slots_[from];
  slots_.erase(slots_.begin() + from);
  slots_.insert(slots_.begin() + to, slot);
  endMoveRows();
}

void TPageListModel::PageChanged(int index) {
  if (index < 0 || index >= static_cast<int>(slots_.size())) return;
  TSlot& slot = *slots_[index];
  ++slot.Generation;
  slot.Stale = true;
  emit dataChanged(this->index(index), this->index(index));
}

void TPageListModel::ListCleared() {
  beginResetModel();
  slots_.clear();
  for (int i = 0; i < pages_.PageCount(); ++i) slots_.push_back(std::make_shared<TSlot>());
  endResetModel();
}

void TPageListModel::SelectionChanged() {
  emit SelectionChangedInModel();
}

TPageListView::TPageListView(TPageListModel& model, QWidget* parent)
    : QListView(parent), model_(model) {
  setModel(&model);
  setItemDelegate(new TCellDelegate(model, this));
  setViewMode(QListView::IconMode);
  setFlow(QListView::LeftToRight);
  setWrapping(true);
  setMovement(QListView::Static);
  setResizeMode(QListView::Adjust);
  setSpacing(0);
  setGridSize(QSize(kCellSize, kCellSize));
  setUniformItemSizes(true);
  setLayoutMode(QListView::Batched);
  setBatchSize(200);
  setSelectionMode(QAbstractItemView::NoSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  verticalScrollBar()->setSingleStep(24);
  setStyleSheet("QListView { background: white; }");
  model_.SetThumbnailSide(kCellSize - 2 * kMargin);
  band_ = new QRubberBand(QRubberBand::Rectangle, viewport());
  connect(&model_, &TPageListModel::SelectionChangedInModel, viewport(),
          qOverload<>(&QWidget::update));
}

void TPageListView::Repaint() {
  bool caption =
      model_.rowCount() > 0 && !model_.index(0).data(Qt::DisplayRole).toString().isEmpty();
  const int height = kCellSize + (caption ? fontMetrics().height() + 4 : 0);
  if (gridSize().height() != height) setGridSize(QSize(kCellSize, height));
  viewport()->update();
}

void TPageListView::ScrollToCurrent() {
  const int current = model_.Pages().CurrentPage();
  if (current >= 0) scrollTo(model_.index(current));
}

void TPageListView::UserPick(int page, Qt::KeyboardModifiers modifiers) {
  TPageList& pages = model_.Pages();
  if (page < 0 || page >= pages.PageCount()) return;
  if (modifiers & Qt::ShiftModifier) {
    UserRange(anchor_ >= 0 && anchor_ < pages.PageCount() ? anchor_ : page, page,
              modifiers & Qt::ControlModifier);
    emit ImageSelect(page);
    return;
  }
  anchor_ = page;
  if (modifiers & Qt::ControlModifier) {
    if (pages.IsSelected(page)) {
      pages.Unselect(page);
      emit ImageDeselect(page);
      return;
    }
    pages.MultiSelecting = true;
    pages.Select(page);
    pages.MultiSelecting = false;
  } else {
    pages.Select(page);
  }
  emit ImageSelect(page);
}

void TPageListView::UserRange(int from, int to, bool keep) {
  TPageList& pages = model_.Pages();
  if (!keep) pages.DeselectAll();
  const int step = to >= from ? 1 : -1;
  pages.MultiSelecting = true;
  for (int i = from;; i += step) {
    pages.Select(i);
    if (i == to) break;
  }
  pages.MultiSelecting = false;
}

void TPageListView::mousePressEvent(QMouseEvent* event) {
  setFocus(Qt::MouseFocusReason);
  if (event->button() != Qt::LeftButton) return;
  const QModelIndex index = indexAt(event->position().toPoint());
  if (index.isValid()) {
    UserPick(index.row(), event->modifiers());
    return;
  }
  banding_ = true;
  bandOrigin_ = event->position().toPoint();
  band_->setGeometry(QRect(bandOrigin_, QSize()));
  band_->show();
}

void TPageListView::mouseMoveEvent(QMouseEvent* event) {
  if (!banding_) return;
  band_->setGeometry(QRect(bandOrigin_, event->position().toPoint()).normalized());
}

void TPageListView::mouseReleaseEvent(QMouseEvent* event) {
  if (!banding_ || event->button() != Qt::LeftButton) return;
  banding_ = false;
  band_->hide();
  const QRect region = QRect(bandOrigin_, event->position().toPoint()).normalized();
  TPageList& pages = model_.Pages();
  const bool keep = event->modifiers() & Qt::ControlModifier;
  const bool had = pages.SelectedCount() > 0;
  int last = -1;
  std::vector<int> inside;
  for (int i = 0; i < pages.PageCount(); ++i)
    if (visualRect(model_.index(i)).intersects(region)) inside.push_back(i);
  if (!keep) pages.DeselectAll();
  pages.MultiSelecting = true;
  for (int i : inside) {
    pages.Select(i);
    last = i;
  }
  pages.MultiSelecting = false;
  if (last >= 0) {
    anchor_ = inside.front();
    emit ImageSelect(last);
  } else if (had && !keep) {
    emit ImageDeselect(-1);
  }
}

void TPageListView::mouseDoubleClickEvent(QMouseEvent* event) {
  event->accept();
}

void TPageListView::keyPressEvent(QKeyEvent* event) {
  TPageList& pages = model_.Pages();
  CursorAction action;
  switch (event->key()) {
    case Qt::Key_Up:
      action = MoveUp;
      break;
    case Qt::Key_Down:
      action = MoveDown;
      break;
    case Qt::Key_Left:
      action = MoveLeft;
      break;
    case Qt::Key_Right:
      action = MoveRight;
      break;
    case Qt::Key_Home:
      action = MoveHome;
      break;
    case Qt::Key_End:
      action = MoveEnd;
      break;
    case Qt::Key_PageUp:
      action = MovePageUp;
      break;
    case Qt::Key_PageDown:
      action = MovePageDown;
      break;
    case Qt::Key_Space:
      if (pages.CurrentPage() >= 0) UserPick(pages.CurrentPage(), event->modifiers());
      return;
    default:
      QWidget::keyPressEvent(event);
      return;
  }
  if (pages.PageCount() == 0) return;
  const int current = pages.CurrentPage() >= 0 ? pages.CurrentPage() : 0;
  selectionModel()->setCurrentIndex(model_.index(current), QItemSelectionModel::NoUpdate);
  const QModelIndex next = moveCursor(action, event->modifiers());
  if (!next.isValid()) return;
  UserPick(next.row(), event->modifiers() & Qt::ShiftModifier);
  scrollTo(next);
}

}  // namespace folivo
