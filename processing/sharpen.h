// Folivo — multi-page TIFF editor.
// Neighbourhood filters: separable Gaussian blur on integer weights and the
// edge-guided sharpening driven by a Shen-Castan edge map.
#pragma once

#include <vector>

#include "formats/bitmap.h"
#include "formats/params.h"
#include "processing/imageproc.h"

namespace folivo {

// Weights of offsets -100..100 (index k + 100), summing to about 65536,
// and the half-width: the largest offset whose weight is not 0 (at least 1).
struct TBlurKernel {
  std::vector<int> Weights;
  int HalfWidth = 1;
};
TBlurKernel MakeBlurKernel(double radius);

// Blurs an ie8g or ie24RGB bitmap in place (edges repeat the edge sample);
// other formats and radius <= 0 do nothing. Progress runs over rows +
// columns.
void BlurBitmap(TIEBitmap& bitmap, double radius, TIOProgress* progress);
// Selection-limited; a page of another format becomes 8-bit gray or 24-bit.
void Blur(TImageProc& proc, double radius);

// The W x H edge map of an ie24RGB or ie8g bitmap: ie1g, 0 on edge pixels.
// rate is the fraction of the gradient values above the high threshold.
void ShenCastanEdges(const TIEBitmap& bitmap, double rate, TIEBitmap& edges);
// Sharpens an ie24RGB bitmap in place.
void AutoSharpBitmap(TIEBitmap& bitmap, int intensity, double rate, TIOProgress* progress);
// Selection-limited; other formats are converted to 24-bit first, since the
// filter works on 24-bit pixels.
void AutoSharp(TImageProc& proc, int intensity, double rate);

}  // namespace folivo
