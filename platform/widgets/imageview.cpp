// Folivo — multi-page TIFF editor.
#include "platform/widgets/imageview.h"

#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <cmath>

#include "formats/colors.h"
#include "platform/qtbitmap.h"

namespace folivo {

namespace {
QColor ToQColor(uint32_t c) { return QColor(ColorRed(c), ColorGreen(c), ColorBlue(c)); }
}  // namespace

TImageView::TImageView(TViewState& state, QWidget* parent)
    : QAbstractScrollArea(parent), state_(state) {
  viewport()->setAutoFillBackground(false);
  setFrameShape(QFrame::NoFrame);
}

void TImageView::Update() {
  image_ = BitmapToQImage(state_.Bitmap);
  UpdateScrollBars();
  viewport()->update();
  emit ViewChanged();
}

double TImageView::FitZoom() const {
  if (image_.isNull()) return 100.0;
  QSize room = viewport()->size();
  return std::max(0.01, std::min(room.width() * 100.0 / image_.width(),
                                 room.height() * 100.0 / image_.height()));
}

double TImageView::Zoom() const {
  if (fit_) return FitZoom();
  if (shrinkToFit_) return std::min(zoom_, FitZoom());
  return zoom_;
}

void TImageView::SetZoom(double percent) {
  zoom_ = std::clamp(percent, 0.5, 6400.0);
  UpdateScrollBars();
  viewport()->update();
  emit ViewChanged();
}

void TImageView::SetShrinkToFit(bool on) {
  shrinkToFit_ = on;
  if (on) zoom_ = 100.0;
  UpdateScrollBars();
  viewport()->update();
}

void TImageView::SetFit(bool on) {
  // Leaving fit keeps the size the page was drawn at.
  if (fit_ && !on) zoom_ = FitZoom();
  fit_ = on;
  UpdateScrollBars();
  viewport()->update();
}

void TImageView::SetSelectionMode(bool on) {
  selectionMode_ = on;
  viewport()->setCursor(on ? Qt::CrossCursor : Qt::ArrowCursor);
}

void TImageView::SetBackgroundColor(uint32_t color) {
  state_.BackgroundColor = color;
  viewport()->update();
}

void TImageView::UpdateScrollBars() {
  double z = Zoom() / 100.0;
  int w = image_.isNull() ? 0 : static_cast<int>(std::ceil(image_.width() * z));
  int h = image_.isNull() ? 0 : static_cast<int>(std::ceil(image_.height() * z));
  QSize room = viewport()->size();
  horizontalScrollBar()->setRange(0, std::max(0, w - room.width()));
  verticalScrollBar()->setRange(0, std::max(0, h - room.height()));
  horizontalScrollBar()->setPageStep(room.width());
  verticalScrollBar()->setPageStep(room.height());
}

QPointF TImageView::ImageOrigin() const {
  double z = Zoom() / 100.0;
  QSize room = viewport()->size();
  double w = image_.width() * z, h = image_.height() * z;
  double x = w < room.width() ? (room.width() - w) / 2 : -horizontalScrollBar()->value();
  double y = h < room.height() ? (room.height() - h) / 2 : -verticalScrollBar()->value();
  return {x, y};
}

QPointF TImageView::ToImage(QPointF p) const {
  double z = Zoom() / 100.0;
  QPointF o = ImageOrigin();
  return {(p.x() - o.x()) / z, (p.y() - o.y()) / z};
}

QRectF TImageView::VisibleImageRect() const {
  QPointF a = ToImage(QPointF(0, 0));
  QPointF b = ToImage(QPointF(viewport()->width(), viewport()->height()));
  return QRectF(a, b).intersected(QRectF(0, 0, image_.width(), image_.height()));
}

void TImageView::CenterOn(QPointF p) {
  double z = Zoom() / 100.0;
  horizontalScrollBar()->setValue(static_cast<int>(p.x() * z - viewport()->width() / 2.0));
  verticalScrollBar()->setValue(static_cast<int>(p.y() * z - viewport()->height() / 2.0));
}

void TImageView::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  painter.fillRect(viewport()->rect(), ToQColor(state_.BackgroundColor));
  if (image_.isNull()) return;
  double z = Zoom() / 100.0;
  QPointF o = ImageOrigin();
  QRectF target(o, QSizeF(image_.width() * z, image_.height() * z));
  painter.setRenderHint(QPainter::SmoothPixmapTransform, z < 1.0);
  painter.drawImage(target, image_);
  if (state_.HasSelection()) {
    const TRect& s = state_.Selection();
    QRectF r(o.x() + s.Left * z, o.y() + s.Top * z, s.Width() * z, s.Height() * z);
    painter.setPen(QPen(Qt::white, 1));
    painter.drawRect(r);
    painter.setPen(QPen(Qt::black, 1, Qt::DashLine));
    painter.drawRect(r);
  }
}

void TImageView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollBars();
  emit ViewChanged();
}

void TImageView::scrollContentsBy(int, int) {
  viewport()->update();
  emit ViewChanged();
}

void TImageView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  dragging_ = true;
  moved_ = false;
  pressPos_ = event->position().toPoint();
  dragStart_ = ToImage(event->position());
  scrollStart_ = QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value());
}

void TImageView::mouseMoveEvent(QMouseEvent* event) {
  if (!dragging_) return;
  QPoint delta = event->position().toPoint() - pressPos_;
  if (delta.manhattanLength() > 2) moved_ = true;
  if (!moved_) return;
  if (selectionMode_) {
    QPointF p = ToImage(event->position());
    QRectF r = QRectF(dragStart_, p).normalized();
    state_.Select(TRect{static_cast<int>(std::floor(r.left())), static_cast<int>(std::floor(r.top())),
                        static_cast<int>(std::ceil(r.right())), static_cast<int>(std::ceil(r.bottom()))});
    viewport()->update();
    emit SelectionChanged();
  } else {
    horizontalScrollBar()->setValue(scrollStart_.x() - delta.x());
    verticalScrollBar()->setValue(scrollStart_.y() - delta.y());
  }
}

void TImageView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !dragging_) return;
  dragging_ = false;
  if (!moved_) emit Clicked();
}

void TImageView::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) emit DoubleClicked();
}

TImageNavigator::TImageNavigator(TImageView& view, QWidget* parent)
    : QWidget(parent), view_(view) {
  connect(&view_, &TImageView::ViewChanged, this, qOverload<>(&QWidget::update));
}

void TImageNavigator::Update() {
  QImage full = BitmapToQImage(view_.State().Bitmap);
  picture_ = full.isNull() ? QImage()
                           : full.scaled(size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
  update();
}

QRectF TImageNavigator::PictureRect() const {
  if (picture_.isNull()) return {};
  return QRectF((width() - picture_.width()) / 2.0, (height() - picture_.height()) / 2.0,
                picture_.width(), picture_.height());
}

void TImageNavigator::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  uint32_t bg = view_.State().BackgroundColor;
  painter.fillRect(rect(), QColor(ColorRed(bg), ColorGreen(bg), ColorBlue(bg)));
  if (picture_.isNull()) return;
  QRectF pic = PictureRect();
  painter.drawImage(pic.topLeft(), picture_);
  const TIEBitmap& b = view_.State().Bitmap;
  if (b.Width() < 1) return;
  double s = pic.width() / b.Width();
  QRectF v = view_.VisibleImageRect();
  painter.setPen(QPen(Qt::red, 2));
  painter.drawRect(QRectF(pic.left() + v.left() * s, pic.top() + v.top() * s, v.width() * s,
                          v.height() * s));
}

void TImageNavigator::MoveTo(QPointF point) {
  QRectF pic = PictureRect();
  const TIEBitmap& b = view_.State().Bitmap;
  if (pic.isEmpty() || b.Width() < 1) return;
  double s = b.Width() / pic.width();
  view_.CenterOn(QPointF((point.x() - pic.left()) * s, (point.y() - pic.top()) * s));
}

void TImageNavigator::mousePressEvent(QMouseEvent* event) { MoveTo(event->position()); }

void TImageNavigator::mouseMoveEvent(QMouseEvent* event) {
  if (event->buttons() & Qt::LeftButton) MoveTo(event->position());
}

void TImageNavigator::mouseDoubleClickEvent(QMouseEvent*) { emit DoubleClicked(); }

}  // namespace folivo
