// Folivo — multi-page TIFF editor.
// Scanned-page clean-up: cutting away the borders a scanner leaves around
// the paper, and whitening the paper background.
#pragma once

#include "formats/bitmap.h"
#include "formats/params.h"
#include "processing/imageproc.h"

namespace folivo {

struct TContentRect {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;  // inclusive
};

// The content rectangle of the whole bitmap (any format) by the row and
// column brightness sums. False when there is none to crop to: tolerance
// below 1, an empty bitmap, or edges that cross (an all-black page).
bool FindContentRect(const TIEBitmap& bitmap, int tolerance, TContentRect& rect);

// The bitmap becomes columns left..right and rows top..bottom (inclusive),
// same format, alpha and palette; a rectangle not inside it does nothing.
bool CropBitmap(TIEBitmap& bitmap, int left, int top, int right, int bottom);

// Snapshot "Crop"; a rectangle outside the page leaves it unchanged.
void Crop(TImageProc& proc, int left, int top, int right, int bottom);
// Crops to FindContentRect; when that finds nothing the page is left as it
// is and no snapshot is taken.
void CropBorders(TImageProc& proc, int tolerance);

// The three per-channel tables that take the mean paper tone of a 24-bit
// bitmap to white; gains 1 when there is no paper pixel.
void AutoWhiteTables(const TIEBitmap& rgb, uint8_t red[256], uint8_t green[256], uint8_t blue[256]);
// Whether an RGB colour counts as paper (hue bands, saturation, lightness).
bool IsPaperColor(int red, int green, int blue);
void WhiteBalance_AutoWhite(TImageProc& proc);

}  // namespace folivo
