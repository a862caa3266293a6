// Folivo — multi-page TIFF editor.
// TViewState: what the page view holds that operations work on — its bitmap,
// the selection rectangle and mask, and the background colour.
#pragma once

#include <cstdint>
#include <functional>

#include "formats/bitmap.h"

namespace folivo {

struct TRect {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;  // pixels; right and bottom exclusive
  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
  bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
  bool operator==(const TRect&) const = default;
};

class TViewState {
 public:
  TViewState() = default;
  TViewState(const TViewState&) = delete;
  TViewState& operator=(const TViewState&) = delete;

  TIEBitmap Bitmap;
  uint32_t BackgroundColor = 0xA4A0A0;  // 0x00BBGGRR

  bool HasSelection() const { return hasSelection_; }
  const TRect& Selection() const { return selection_; }
  // The rectangle, clipped to the bitmap; an empty result removes the selection.
  void Select(const TRect& rect);
  void Deselect();
  // Optional 1-bit mask of the selection's shape, bitmap-sized; empty when
  // the selection is the whole rectangle. A 1 bit marks a pixel inside.
  TIEBitmap& SelectionMask() { return mask_; }
  const TIEBitmap& SelectionMask() const { return mask_; }
  // Whether pixel (x, y) of the bitmap lies in the selection (rectangle and
  // mask); false without a selection.
  bool InSelection(int x, int y) const;

  // Called after an operation changed the bitmap, so that a view can repaint.
  std::function<void()> OnChanged;

  // Fills the bitmap with the background colour, keeping its size.
  void Blank();
  // A blank 1 × 1 image, as at start-up.
  void Empty();

 private:
  bool hasSelection_ = false;
  TRect selection_;
  TIEBitmap mask_;
};

}  // namespace folivo
