// Folivo — multi-page TIFF editor.
// Resampling a page to a new size with one of the TResampleFilter filters:
// separable kernels on 8-bit fixed weights, the fixed-point fast linear
// path, area-weighted bilinear and bicubic, and block projection to 1-bit.
#pragma once

#include <cstdint>
#include <string>

#include "formats/bitmap.h"
#include "formats/params.h"

namespace folivo {

enum TResampleFilter : uint8_t {
  rfNone = 0,
  rfTriangle = 1,
  rfHermite = 2,
  rfBell = 3,
  rfBSpline = 4,
  rfLanczos3 = 5,
  rfMitchell = 6,
  rfNearest = 7,
  rfLinear = 8,
  rfFastLinear = 9,
  rfBilinear = 10,
  rfBicubic = 11,
  rfProjectBW = 12,
  rfProjectWB = 13,
};
constexpr int kResampleFilterCount = 14;

// "rfBicubic" and so on; "" outside the enum.
const char* ResampleFilterName(TResampleFilter filter);
// The filter by its name without case, with or without the "rf" prefix
// ("bicubic", "rfFastLinear"); false for an unknown name.
bool ResampleFilterFromName(const std::string& name, TResampleFilter& filter);

// The size Resample makes of a W x H page for the requested sizes: -1 keeps
// the aspect ratio (integer division, the height from the target width), 0
// keeps the side, other negatives are taken as their magnitude, results
// below 1 become 1.
void ResampleTargetSize(int widthPx, int heightPx, int newWidth, int newHeight, int& targetWidth,
                        int& targetHeight);

// The pixel format of the result: ie1g for the projections and for bilevel
// pages with rfNone or with an unchanged size under rfFastLinear,
// rfBilinear, rfBicubic; ie24RGB for other bilevel results and for 24-bit
// pages; ie8g pages stay 8-bit gray; rfNone keeps every format; other
// formats are resampled as 24-bit RGB.
TPagePixelFormat ResampleResultFormat(TPagePixelFormat source, TResampleFilter filter,
                                      bool sizeUnchanged);

// Resamples source into target (which is reallocated) at targetWidth x
// targetHeight (both >= 1). The alpha channel is not handled here. Progress
// (optional) is reported per row of each pass.
void ResampleBitmap(const TIEBitmap& source, TIEBitmap& target, int targetWidth, int targetHeight,
                    TResampleFilter filter, TIOProgress* progress = nullptr);

}  // namespace folivo
