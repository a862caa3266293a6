// Folivo — multi-page TIFF editor.
#include "processing/viewstate.h"

#include <algorithm>

namespace folivo {

void TViewState::Select(const TRect& rect) {
  TRect r{std::max(rect.Left, 0), std::max(rect.Top, 0), std::min(rect.Right, Bitmap.Width()),
          std::min(rect.Bottom, Bitmap.Height())};
  if (r.IsEmpty()) {
    Deselect();
    return;
  }
  selection_ = r;
  hasSelection_ = true;
  mask_.FreeImage();
}

void TViewState::Deselect() {
  hasSelection_ = false;
  selection_ = TRect();
  mask_.FreeImage();
}

bool TViewState::InSelection(int x, int y) const {
  if (!hasSelection_ || x < selection_.Left || x >= selection_.Right || y < selection_.Top ||
      y >= selection_.Bottom)
    return false;
  if (mask_.IsEmpty()) return true;
  if (mask_.PixelFormat() != ie1g || x >= mask_.Width() || y >= mask_.Height()) return false;
  return (mask_.GetScanline(y)[x >> 3] >> (7 - (x & 7))) & 1;
}

void TViewState::Blank() {
  if (Bitmap.IsEmpty()) Bitmap.Allocate(1, 1, ie24RGB);
  Bitmap.Fill(BackgroundColor);
}

void TViewState::Empty() {
  Deselect();
  Bitmap.Allocate(1, 1, ie24RGB);
  Bitmap.Fill(BackgroundColor);
}

}  // namespace folivo
