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
