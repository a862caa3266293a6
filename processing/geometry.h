// Folivo — multi-page TIFF editor.
// Pixel geometry of a page bitmap: rotation (three shears for 24-bit pages,
// the bilevel method, nearest neighbour for the rest), mirroring, canvas
// size and rectangle copies. These work on bare bitmaps; TImageProc wraps
// them in its frame (admission, undo, progress).
#pragma once

#include <cstdint>

#include "formats/bitmap.h"
#include "formats/params.h"

namespace folivo {

// The sizes of a three-shear rotation of a W x H image by angleDeg: the
// angle is cut to thousandths of a degree and reduced by quarter turns into
// [-45, 45]; Width and Height are the image after those turns, the rest the
// sizes of the passes. Residual 0 means the quarter turns are the whole job.
struct TShearPlan {
  int QuarterTurns = 0;  // counter-clockwise, 0..3
  double Residual = 0;   // degrees
  int Width = 0, Height = 0;
  double T = 0, S = 0;  // |tan(a/2)|, |sin a|
  int W1 = 0, h = 0, H1 = 0, t = 0, H2 = 0, W2 = 0;
};
TShearPlan PlanThreeShear(int widthPx, int heightPx, double angleDeg);

// Three-shear rotation, counter-clockwise for positive angles, of an ie24RGB
// or ie8g bitmap (its alpha channel is dropped; RotatePage carries it). fillColor is 0x00BBGGRR
// (its red byte for ie8g). Without antialias the pixels are moved, not
// blended, and no trailing pixels are written. A non-finite angle does
// nothing. Progress (optional) runs over H + W1 + H2 lines.
void RotateThreeShear(TIEBitmap& bitmap, double angleDeg, uint32_t fillColor, bool antialias,
                      TIOProgress* progress);

// The bilevel rotation: exact bit copies for 90, -90, 270, 180 and -180;
// any other angle maps every target pixel back into the page with
// four-decimal sine and cosine. Uncovered pixels are white when the red,
// green and blue bytes of fillColor are all nonzero. Works on ie1g and on
// any byte format (then uncovered pixels get fillColor in that format), so
// that an alpha channel can follow its bilevel page.
void RotateBilevelMethod(TIEBitmap& bitmap, double angleDeg, uint32_t fillColor,
                         TIOProgress* progress);

// Nearest-neighbour rotation about the centre for any format: exact quarter
// turns for multiples of 90, otherwise the target is the rounded bounding box
// and each target pixel centre takes the source pixel it falls into.
void RotateNearest(TIEBitmap& bitmap, double angleDeg, uint32_t fillColor, TIOProgress* progress);

// Rotation of a page as the editor does it: 24-bit by three shears with
// antialiasing, 1-bit by the bilevel method, others by nearest neighbour;
// the alpha channel follows by the matching method with fill 0. Angle 0 does
// nothing.
void RotatePage(TIEBitmap& page, double angleDeg, uint32_t fillColor, TIOProgress* progress);

// Exact quarter turns (1 = a quarter counter-clockwise, 2 half, 3 a quarter
// clockwise) of any format, alpha included.
void QuarterTurn(TIEBitmap& bitmap, int turnsCounterClockwise);

// Mirror: direction 0 left to right, 1 top to bottom; every format, alpha
// included.
void FlipBitmap(TIEBitmap& bitmap, int direction);

// New canvas of newWidth x newHeight around an anchor (0 left/top, 1 centre,
// 2 right/bottom) without scaling; new area gets fillColor, new alpha 255.
void ResizeCanvas(TIEBitmap& bitmap, int newWidth, int newHeight, int hAlign, int vAlign,
                  uint32_t fillColor);

// Copies the w x h rectangle at (sx, sy) of source to (dx, dy) of target,
// both of the same pixel format; the rectangle is clipped to both bitmaps.
void CopyRect(const TIEBitmap& source, int sx, int sy, TIEBitmap& target, int dx, int dy, int w,
              int h);

// Fills bitmap (any format) with a colour 0x00BBGGRR; for ie1g nonzero is
// white.
void FillColor(TIEBitmap& bitmap, uint32_t color);

}  // namespace folivo
