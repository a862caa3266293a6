// Folivo — multi-page TIFF editor.
// TImageView: the page view. Draws the bitmap of a TViewState with zoom,
// shrink-to-fit and fit, scrolling, and a selection rectangle in image
// coordinates; TImageNavigator shows the whole page small and moves the
// visible part.
#pragma once

#include <QAbstractScrollArea>
#include <QImage>
#include <QWidget>

#include "processing/viewstate.h"

namespace folivo {

class TImageView : public QAbstractScrollArea {
  Q_OBJECT

 public:
  explicit TImageView(TViewState& state, QWidget* parent = nullptr);

  TViewState& State() { return state_; }
  // Call after the bitmap changed: rebuilds the drawn copy and repaints.
  void Update();

  // Zoom in percent as drawn now (the fit zoom while a fit switch is in force).
  double Zoom() const;
  void SetZoom(double percent);
  bool ShrinkToFit() const { return shrinkToFit_; }
  void SetShrinkToFit(bool on);
  bool Fit() const { return fit_; }
  void SetFit(bool on);
  // Rectangle selection with the mouse instead of scrolling.
  bool SelectionMode() const { return selectionMode_; }
  void SetSelectionMode(bool on);
  void SetBackgroundColor(uint32_t color);

  // Visible part of the image, in image pixels.
  QRectF VisibleImageRect() const;
  // Scrolls so that the image point is at the centre of the view.
  void CenterOn(QPointF imagePoint);

 signals:
  void Clicked();
  void DoubleClicked();
  void ViewChanged();
  void SelectionChanged();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  double FitZoom() const;
  void UpdateScrollBars();
  QPointF ImageOrigin() const;  // viewport position of image pixel (0, 0)
  QPointF ToImage(QPointF viewportPoint) const;

  TViewState& state_;
  QImage image_;
  double zoom_ = 100.0;
  bool shrinkToFit_ = true;
  bool fit_ = false;
  bool selectionMode_ = false;
  bool dragging_ = false;
  bool moved_ = false;
  QPoint pressPos_;
  QPointF dragStart_;
  QPoint scrollStart_;
};

class TImageNavigator : public QWidget {
  Q_OBJECT

 public:
  explicit TImageNavigator(TImageView& view, QWidget* parent = nullptr);
  // Rebuilds the small picture from the view's bitmap.
  void Update();

 signals:
  void DoubleClicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  QRectF PictureRect() const;
  void MoveTo(QPointF point);

  TImageView& view_;
  QImage picture_;
};

}  // namespace folivo
