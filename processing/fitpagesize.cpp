// Folivo — multi-page TIFF editor.
#include "processing/fitpagesize.h"

#include <algorithm>

#include "processing/imageproc.h"

namespace folivo {

bool FitFilterFromIndex(int filterIndex, TResampleFilter& filter) {
  constexpr TResampleFilter kFilters[] = {
      rfHermite, rfBell,     rfBSpline, rfLanczos3,   rfMitchell,  rfNearest,  rfBilinear,
      rfBicubic, rfTriangle, rfLinear,  rfFastLinear, rfProjectBW, rfProjectWB};
  if (filterIndex < 0 || filterIndex > 12) return false;
  filter = kFilters[filterIndex];
  return true;
}

bool FitSize(int w, int h, int side, int option, int H, int W, int& nw, int& nh) {
  if (w < 1 || h < 1) return false;
  // 64-bit products; a size that does not fit is clamped rather than wrapped.
  auto scale = [](long long a, long long b, long long c) {
    return static_cast<int>(std::clamp<long long>(a * b / c, 0, 1 << 30));
  };
  switch (side) {
    case 0:
      if (w >= h) {
        nw = W;
        nh = scale(W, h, w);
      } else {
        nh = H;
        nw = scale(H, w, h);
      }
      break;
    case 1:
      if (w < h) {
        nw = W;
        nh = scale(W, h, w);
      } else {
        nh = H;
        nw = scale(H, w, h);
      }
      break;
    case 2:
      nw = W;
      nh = scale(W, h, w);
      break;
    case 3:
      nh = H;
      nw = scale(H, w, h);
      break;
    case 4:
      nw = W;
      nh = H;
      break;
    default:
      return false;
  }
  if (nw == w && nh == h) return false;
  if (option == 1 && nw >= w && nh >= h) return false;
  if (option == 2 && nw <= w && nh <= h) return false;
  return true;
}

bool FitPageSize(TImageProc& proc, int side, int option, int targetHeight, int targetWidth,
                 int filterIndex) {
  const TIEBitmap& b = proc.AttachedView().Bitmap;
  int nw, nh;
  if (!FitSize(b.Width(), b.Height(), side, option, targetHeight, targetWidth, nw, nh))
    return false;
  TResampleFilter filter;
  if (!FitFilterFromIndex(filterIndex, filter)) return false;
  proc.Resample(nw, nh, filter);
  return true;
}

}  // namespace folivo
