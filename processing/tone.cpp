// Folivo — multi-page TIFF editor.
#include "processing/tone.h"

#include <algorithm>
#include <cmath>

#include "processing/parallel.h"

namespace folivo {

namespace {

void ReportRows(TIOProgress& progress, int done, int total) {
  if (total <= 0) return;
  progress.Done = done;
  progress.Report(100.0 / total);
}

using TTable = std::array<uint8_t, 256>;

void MapRgb(TIEBitmap& bitmap, const TTable& red, const TTable& green, const TTable& blue,
            TIOProgress& progress) {
  MapRgbTables(bitmap, red.data(), green.data(), blue.data(), &progress);
}

TTable Identity() {
  TTable t;
  for (int i = 0; i < 256; ++i) t[i] = static_cast<uint8_t>(i);
  return t;
}

constexpr TFormatSet kRgb = FormatBit(ie24RGB);

}  // namespace

void MapRgbTables(TIEBitmap& bitmap, const uint8_t* red, const uint8_t* green, const uint8_t* blue,
                  TIOProgress* progress) {
  const int w = bitmap.Width(), h = bitmap.Height();
  ParallelBands(
      h, PassThreads(static_cast<long long>(w) * h),
      [&](int first, int last) {
        for (int y = first; y < last; ++y) {
          uint8_t* p = bitmap.GetScanline(y);
          for (int x = 0; x < w; ++x, p += 3) {
            p[0] = blue[p[0]];
            p[1] = green[p[1]];
            p[2] = red[p[2]];
          }
        }
      },
      [&](int done) {
        if (progress) ReportRows(*progress, done, h);
      });
}

uint8_t ClampRound(double v) {
  if (!(v > 0)) return 0;  // NaN too
  if (v >= 255) return 255;
  return static_cast<uint8_t>(std::nearbyint(v));
}

void Negative(TImageProc& proc) {
  const TPagePixelFormat f = proc.AttachedView().Bitmap.PixelFormat();
  // CMYK and CIELab bytes are no complements of their colours.
  const TFormatSet accepts = (f == ieCMYK || f == ieCIELab) ? kRgb : 0;
  proc.Run({accepts, true, false, TSnapshotPoint::BeforeAdmission, "Negative"},
           [](TIEBitmap& region, TIOProgress& progress) {
             const int w = region.Width(), h = region.Height();
             if (region.PixelFormat() == ie8p) {
               for (int i = 0; i < region.PaletteLength(); ++i) {
                 TColorTriple c = region.GetPaletteColor(i);
                 region.SetPaletteColor(
                     i, {static_cast<uint8_t>(255 - c.blue), static_cast<uint8_t>(255 - c.green),
                         static_cast<uint8_t>(255 - c.red)});
               }
               return;
             }
             const int bits = region.BitCount();
             for (int y = 0; y < h; ++y) {
               uint8_t* row = region.GetScanline(y);
               if (region.PixelFormat() == ie32f) {
                 float* v = reinterpret_cast<float*>(row);
                 for (int x = 0; x < w; ++x) v[x] = 1.0f - v[x];
               } else if (bits == 16 || bits == 48) {
                 const int n = w * bits / 16;
                 for (int i = 0; i < n; ++i) {
                   const int v = row[2 * i] | (row[2 * i + 1] << 8);
                   row[2 * i] = static_cast<uint8_t>((65535 - v) & 0xFF);
                   row[2 * i + 1] = static_cast<uint8_t>((65535 - v) >> 8);
                 }
               } else {
                 // 1-bit: whole bytes, then the used bits of the last one.
                 const int64_t usedBits = static_cast<int64_t>(w) * bits;
                 const int64_t bytes = usedBits / 8;
                 for (int64_t i = 0; i < bytes; ++i) row[i] = static_cast<uint8_t>(~row[i]);
                 if (usedBits % 8) row[bytes] ^= static_cast<uint8_t>(0xFF00 >> (usedBits % 8));
               }
               ReportRows(progress, y + 1, h);
             }
           });
}

void GetHistogram(TImageProc& proc, THistogram& histogram) {
  histogram.fill({});
  TViewState& view = proc.AttachedView();
  proc.Run({kRgb, true, true, TSnapshotPoint::None, ""}, [&](TIEBitmap& region, TIOProgress&) {
    // The region is the page itself or the selection's rectangle.
    const bool whole = &region == &view.Bitmap;
    const bool masked = !whole && !view.SelectionMask().IsEmpty();
    const int ox = whole ? 0 : view.Selection().Left;
    const int oy = whole ? 0 : view.Selection().Top;
    for (int y = 0; y < region.Height(); ++y) {
      const uint8_t* p = region.GetScanline(y);
      for (int x = 0; x < region.Width(); ++x, p += 3) {
        if (masked && !view.InSelection(ox + x, oy + y)) continue;
        ++histogram[p[2]].Red;
        ++histogram[p[1]].Green;
        ++histogram[p[0]].Blue;
        ++histogram[Luminance(p[2], p[1], p[0])].Gray;
      }
    }
  });
}

std::array<uint8_t, 256> HistEqualizeTable(int low, int high) {
  low = std::clamp(low, 0, 255);
  high = std::clamp(high, 0, 255);
  if (high == 0) high = 1;
  const double divisor = low == 255 ? 1.0 : 255.0 - low;
  TTable stretch, scale, t;
  for (int i = 0; i < 256; ++i) {
    stretch[i] = ClampRound((i - low) / divisor * 255.0);
    scale[i] = ClampRound(i / static_cast<double>(high) * 255.0);
  }
  for (int i = 0; i < 256; ++i) t[i] = scale[stretch[i]];
  return t;
}

void HistEqualize(TImageProc& proc, TColorTriple low, TColorTriple high) {
  proc.Run({kRgb, true, false, TSnapshotPoint::BeforeAdmission, "HistEqualize"},
           [&](TIEBitmap& region, TIOProgress& progress) {
             if (low == high) return;
             MapRgb(region, HistEqualizeTable(low.red, high.red),
                    HistEqualizeTable(low.green, high.green),
                    HistEqualizeTable(low.blue, high.blue), progress);
           });
}

namespace {

// Percent arguments beyond this change nothing more in the tables and
// would overflow the fixed-point products.
constexpr int kPercentLimit = 100000;

int FixedFactor(int percent) {
  percent = std::clamp(percent, -kPercentLimit, kPercentLimit);
  return static_cast<int>(std::trunc((percent / 100.0 + 1.0) * 256.0));
}

}  // namespace

std::array<uint8_t, 256> BrightnessContrastTable(int brightness, int contrast) {
  const int64_t b = FixedFactor(brightness);
  if (contrast == 100) contrast = 99;
  const double slope = contrast > 0 ? 1.0 / std::cos(contrast * 0.015707963267948967)
                                    : std::cos(contrast * 0.015708);
  TTable curve, t;
  for (int i = 0; i < 256; ++i) curve[i] = ClampRound((i - 170) * slope + 170);
  for (int j = 0; j < 256; ++j) {
    const int64_t g = (b * (j - 1) + 256) / 256;  // truncates toward zero
    t[j] = curve[std::clamp<int64_t>(g, 0, 255)];
  }
  return t;
}

void AdjustBrightnessContrastSaturation(TImageProc& proc, int brightness, int contrast,
                                        int saturation) {
  proc.Run(
      {kRgb, true, false, TSnapshotPoint::BeforeAdmission, "AdjustBrightnessContrastSaturation"},
      [&](TIEBitmap& region, TIOProgress& progress) {
        const TTable t = BrightnessContrastTable(brightness, contrast);
        const int64_t s = FixedFactor(saturation);
        std::array<int64_t, 256> sat;
        for (int l = 0; l < 256; ++l) sat[l] = (s * (l + 1)) >> 8;
        std::array<int64_t, 766> base;
        for (int i = 0; i <= 765; ++i) base[i] = i / 3 - sat[i / 3];
        const int w = region.Width(), h = region.Height();
        ParallelBands(
            h, PassThreads(static_cast<long long>(w) * h),
            [&](int first, int last) {
              for (int y = first; y < last; ++y) {
                uint8_t* p = region.GetScanline(y);
                for (int x = 0; x < w; ++x, p += 3) {
                  const int64_t o = base[p[0] + p[1] + p[2]];
                  for (int c = 0; c < 3; ++c) p[c] = t[std::clamp<int64_t>(o + sat[p[c]], 0, 255)];
                }
              }
            },
            [&](int done) { ReportRows(progress, done, h); });
      });
}

std::array<uint8_t, 256> GammaTable(double gamma) {
  TTable t;
  for (int i = 0; i < 256; ++i) t[i] = ClampRound(std::pow(i / 255.0, 1.0 / gamma) * 255.0);
  return t;
}

void GammaCorrect(TImageProc& proc, double gamma, int channels) {
  if (!(gamma > 0) || !std::isfinite(gamma)) return;
  proc.Run({kRgb, true, false, TSnapshotPoint::BeforeAdmission, "GammaCorrect"},
           [&](TIEBitmap& region, TIOProgress& progress) {
             const TTable g = GammaTable(gamma), same = Identity();
             MapRgb(region, channels & 1 ? g : same, channels & 2 ? g : same,
                    channels & 4 ? g : same, progress);
           });
}

void AutoContrastLevels(const THistogram& histogram, int64_t pixelCount, int& low, int& high) {
  const uint64_t n = static_cast<uint64_t>(std::max<int64_t>(pixelCount, 0));
  const uint64_t t =
      std::min<uint64_t>(n / 256, static_cast<uint64_t>(std::nearbyint(std::sqrt(double(n)))));
  uint64_t peak = 0;
  for (const THistogramEntry& e : histogram) peak = std::max<uint64_t>(peak, e.Gray);
  const uint64_t q = peak / 10;
  low = 0;
  while (low < 255 && histogram[low].Gray < t && histogram[low].Gray < q) ++low;
  high = 255;
  while (histogram[high].Gray < t && histogram[high].Gray < q && high > low) --high;
  low = std::min(low, 30);
  high = std::max(high, 220);
}

void AutoContrast(TImageProc& proc) {
  const TIEBitmap& page = proc.AttachedView().Bitmap;
  if (page.IsEmpty()) return;
  THistogram histogram;
  GetHistogram(proc, histogram);
  int low, high;
  AutoContrastLevels(histogram, static_cast<int64_t>(page.Width()) * page.Height(), low, high);
  const uint8_t l = static_cast<uint8_t>(low), h = static_cast<uint8_t>(high);
  HistEqualize(proc, {l, l, l}, {h, h, h});
}

}  // namespace folivo
