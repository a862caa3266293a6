// Folivo — multi-page TIFF editor.
#include "app/statusbar.h"

#include <QPainter>
#include <algorithm>

namespace folivo {

TMainStatusBar::TMainStatusBar(QWidget* parent) : QWidget(parent) {
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize TMainStatusBar::sizeHint() const {
  return QSize(400, std::max(24, fontMetrics().height() + 8));
}

void TMainStatusBar::SetPanel(int panel, const QString& text, int widthPx) {
  texts_.at(panel) = text;
  widths_.at(panel) = widthPx;
  update();
}

void TMainStatusBar::ShowMessage(const QString& text) {
  messageMode_ = true;
  message_ = text;
  repaint();
}

void TMainStatusBar::LeaveMessageMode() {
  if (!messageMode_) return;
  messageMode_ = false;
  update();
}

void TMainStatusBar::SetProgress(int percent) {
  progress_ = percent;
  repaint();
}

void TMainStatusBar::ClearProgress() {
  progress_ = -1;
  update();
}

QRect TMainStatusBar::ProgressRect(int percent) const {
  int x = widths_[0] + widths_[1] + widths_[2] + 1;
  int right = x + std::min(percent, 100);
  return QRect(QPoint(x, 4), QPoint(right - 1, 20 - 1));  // right and bottom exclusive
}

void TMainStatusBar::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), palette().window());
  p.setPen(palette().windowText().color());
  if (messageMode_) {
    p.drawText(rect().adjusted(4, 0, -4, 0), Qt::AlignVCenter | Qt::AlignLeft, message_);
    return;
  }
  int x = 0;
  for (int i = 0; i < kPanelCount; ++i) {
    int w = i == kPanelCount - 1 ? std::max(widths_[i], width() - x) : widths_[i];
    QRect cell(x, 1, w - 1, height() - 2);
    p.setPen(palette().mid().color());
    p.drawRect(cell.adjusted(0, 0, -1, -1));
    p.setPen(palette().windowText().color());
    p.drawText(cell.adjusted(2, 0, -2, 0), Qt::AlignVCenter | Qt::AlignLeft, texts_[i]);
    x += w;
  }
  if (progress_ >= 0) {
    p.setPen(QPen(QColor(0x80, 0x80, 0x80), 1));
    p.setBrush(QColor(0xA6, 0xCA, 0xF0));  // $F0CAA6 as BGR
    QRect r = ProgressRect(progress_);
    p.drawRect(r.adjusted(0, 0, -1, -1));
  }
}

}  // namespace folivo
