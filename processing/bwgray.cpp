// Folivo — multi-page TIFF editor.
#include "processing/bwgray.h"

#include <cmath>
#include <vector>

#include "formats/colors.h"

namespace folivo {

void FloydSteinbergToBits(const TIEBitmap& rgb, TIEBitmap& bits, TIOProgress* progress) {
  const int w = rgb.Width(), h = rgb.Height();
  bits.Allocate(w, h, ie1g);
  bits.Fill(0);
  std::vector<double> current(w, 0.0), next(w, 0.0);
  bool leftToRight = true;
  for (int y = 0; y < h; ++y) {
    std::fill(next.begin(), next.end(), 0.0);
    const uint8_t* src = rgb.GetScanline(y);
    uint8_t* out = bits.GetScanline(y);
    const int d = leftToRight ? 1 : -1;
    for (int i = 0; i < w; ++i) {
      const int x = leftToRight ? i : w - 1 - i;
      const uint8_t* p = src + 3 * x;
      const double g = Luminance(p[2], p[1], p[0]);
      const double v = std::floor(g + current[x] + 0.5);
      const double o = v >= 128 ? 255 : 0;
      if (o == 255) out[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
      const double e = g + current[x] - o;
      next[x] += e * 5 / 16;
      if (x + d >= 0 && x + d < w) {
        current[x + d] += e * 7 / 16;
        next[x + d] += e * 1 / 16;
      }
      if (x - d >= 0 && x - d < w) next[x - d] += e * 3 / 16;
    }
    leftToRight = !leftToRight;
    current.swap(next);
    if (progress && h > 0) {
      progress->Done = y + 1;
      progress->Report(100.0 / h);
    }
  }
}

void ConvertToBW_FloyedSteinberg(TImageProc& proc) {
  proc.Run({FormatBit(ie24RGB), false, false, TSnapshotPoint::AfterAdmission,
            "ConvertToBW_FloyedSteinberg"},
           [](TIEBitmap& page, TIOProgress& progress) {
             TIEBitmap bits;
             bits.SetLocation(page.Location());
             FloydSteinbergToBits(page, bits, &progress);
             page.Assign(bits);
           });
}

void ConvertToGray(TImageProc& proc) {
  proc.Run({0, true, false, TSnapshotPoint::BeforeAdmission, "ConvertToGray"},
           [](TIEBitmap& region, TIOProgress& progress) {
             if (region.PixelFormat() != ie24RGB) return;
             const int h = region.Height();
             for (int y = 0; y < h; ++y) {
               uint8_t* p = region.GetScanline(y);
               for (int x = 0; x < region.Width(); ++x, p += 3)
                 p[0] = p[1] = p[2] = static_cast<uint8_t>(Luminance(p[2], p[1], p[0]));
               progress.Done = y + 1;
               progress.Report(100.0 / h);
             }
           });
}

}  // namespace folivo
