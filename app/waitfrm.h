// Folivo — multi-page TIFF editor.
// TWaitForm: the busy window shown over the main window during long
// commands, and TBusyGuard, which shows it for the life of a scope.
#pragma once

#include <QTimer>
#include <QWidget>

class QLabel;

namespace folivo {

class TWaitForm : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kWidth = 289;   // pixels
  static constexpr int kHeight = 71;   // pixels
  explicit TWaitForm(QWidget* owner);

  QString Text() const;
  void StartAnimation();
  void StopAnimation();
  bool Animating() const { return timer_.isActive(); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QLabel* label_;
  QTimer timer_;
  int frame_ = 0;
};

class TMainForm;

// BeginBusy on construction, EndBusy on destruction, exceptions included.
class TBusyGuard {
 public:
  explicit TBusyGuard(TMainForm& form);
  ~TBusyGuard();
  TBusyGuard(const TBusyGuard&) = delete;
  TBusyGuard& operator=(const TBusyGuard&) = delete;

 private:
  TMainForm& form_;
};

}  // namespace folivo
