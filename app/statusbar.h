// Folivo — multi-page TIFF editor.
// TMainStatusBar: the main window's status bar — five panels, a message
// mode that shows one line instead of them, and the progress bar drawn
// into panel 3.
#pragma once

#include <QString>
#include <QWidget>
#include <array>

namespace folivo {

class TMainStatusBar : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kPanelCount = 5;
  static constexpr int kProgressPanelWidth = 103;  // pixels
  static constexpr int kLastPanelWidth = 100;      // pixels

  explicit TMainStatusBar(QWidget* parent = nullptr);

  QString PanelText(int panel) const { return texts_.at(panel); }
  int PanelWidth(int panel) const { return widths_.at(panel); }
  void SetPanel(int panel, const QString& text, int widthPx);

  bool MessageMode() const { return messageMode_; }
  QString MessageText() const { return message_; }
  void ShowMessage(const QString& text);
  void LeaveMessageMode();

  // Percent drawn now, or -1 when no bar is drawn.
  int Progress() const { return progress_; }
  void SetProgress(int percent);
  void ClearProgress();
  // The progress rectangle for percent, in status bar coordinates.
  QRect ProgressRect(int percent) const;

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::array<QString, kPanelCount> texts_;
  std::array<int, kPanelCount> widths_{50, 50, 50, kProgressPanelWidth, kLastPanelWidth};
  bool messageMode_ = false;
  QString message_;
  int progress_ = -1;
};

}  // namespace folivo
