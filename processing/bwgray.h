// Folivo — multi-page TIFF editor.
// Black-and-white by serpentine Floyd-Steinberg error diffusion, and gray.
#pragma once

#include "formats/bitmap.h"
#include "formats/params.h"
#include "processing/imageproc.h"

namespace folivo {

// A 1-bit bitmap of the size of rgb (ie24RGB) by error diffusion on the
// luminance; progress (optional) per row.
void FloydSteinbergToBits(const TIEBitmap& rgb, TIEBitmap& bits, TIOProgress* progress);
// Whole page; a page of another format becomes 24-bit first.
void ConvertToBW_FloyedSteinberg(TImageProc& proc);
// Selection-limited; only 24-bit pixels change, every channel to the luminance.
void ConvertToGray(TImageProc& proc);

}  // namespace folivo
