// Folivo — multi-page TIFF editor.
#include "app/waitfrm.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <cmath>

#include "app/mainfrm.h"

namespace folivo {

namespace {
constexpr int kFrameCount = 12;
constexpr int kFrameMs = 80;
constexpr int kSpinnerPx = 32;

class TSpinner : public QWidget {
 public:
  TSpinner(const int& frame, QWidget* parent) : QWidget(parent), frame_(frame) {
    setFixedSize(kSpinnerPx, kSpinnerPx);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(kSpinnerPx / 2.0, kSpinnerPx / 2.0);
    for (int i = 0; i < kFrameCount; ++i) {
      int age = (frame_ - i + kFrameCount) % kFrameCount;
      QColor c(0x30, 0x60, 0xC0);
      c.setAlpha(255 - age * 200 / kFrameCount);
      p.setPen(QPen(c, 3, Qt::SolidLine, Qt::RoundCap));
      double a = i * 2 * M_PI / kFrameCount;
      p.drawLine(QPointF(7 * std::cos(a), 7 * std::sin(a)), QPointF(14 * std::cos(a), 14 * std::sin(a)));
    }
  }

 private:
  const int& frame_;
};
}  // namespace

TWaitForm::TWaitForm(QWidget* owner)
    : QWidget(owner, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
  setObjectName("WaitForm");
  setFixedSize(kWidth, kHeight);
  auto* panel = new QFrame(this);
  panel->setFrameShape(QFrame::Panel);
  panel->setFrameShadow(QFrame::Raised);
  panel->setGeometry(0, 0, kWidth, kHeight);
  auto* layout = new QHBoxLayout(panel);
  auto* spinner = new TSpinner(frame_, panel);
  label_ = new QLabel(QString::fromUtf8("请稍候，正在执行中……"), panel);
  layout->addWidget(spinner);
  layout->addWidget(label_, 1);
  timer_.setInterval(kFrameMs);
  connect(&timer_, &QTimer::timeout, this, [this, spinner] {
    frame_ = (frame_ + 1) % kFrameCount;
    spinner->update();
  });
  if (owner) {
    QRect g = owner->frameGeometry();
    move(g.center() - QPoint(kWidth / 2, kHeight / 2));
  }
}

QString TWaitForm::Text() const { return label_->text(); }

void TWaitForm::StartAnimation() { timer_.start(); }

void TWaitForm::StopAnimation() { timer_.stop(); }

void TWaitForm::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), palette().window());
}

TBusyGuard::TBusyGuard(TMainForm& form) : form_(form) { form_.BeginBusy(); }

TBusyGuard::~TBusyGuard() { form_.EndBusy(); }

}  // namespace folivo
