// Folivo — multi-page TIFF editor.
#include "processing/cleanup.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "processing/geometry.h"
#include "processing/parallel.h"
#include "processing/tone.h"

namespace folivo {

namespace {

// Gray values (r + g + b) div 3 of one row of a 1-bit, 8-bit gray or
// 24-bit bitmap.
void GrayRow(const TIEBitmap& b, int y, std::vector<int>& gray) {
  const uint8_t* row = b.GetScanline(y);
  const int w = b.Width();
  switch (b.PixelFormat()) {
    case ie1g:
      for (int x = 0; x < w; ++x) gray[x] = ((row[x >> 3] >> (7 - (x & 7))) & 1) ? 255 : 0;
      break;
    case ie8g:
      for (int x = 0; x < w; ++x) gray[x] = row[x];
      break;
    default:
      for (int x = 0; x < w; ++x) gray[x] = (row[3 * x] + row[3 * x + 1] + row[3 * x + 2]) / 3;
  }
}

}  // namespace

bool FindContentRect(const TIEBitmap& bitmap, int tolerance, TContentRect& rect) {
  if (bitmap.IsEmpty() || tolerance < 1) return false;
  const TIEBitmap* source = &bitmap;
  TIEBitmap converted;
  const TPagePixelFormat f = bitmap.PixelFormat();
  if (f != ie1g && f != ie8g && f != ie24RGB) {
    converted.SetLocation(ieMemory);
    converted.Assign(bitmap);
    converted.ConvertTo(ie24RGB);
    source = &converted;
  }
  const int w = bitmap.Width(), h = bitmap.Height();
  // 32-bit sums would overflow on rows longer than 8 million pixels.
  std::vector<int64_t> rows(h, 0), cols(w, 0);
  std::vector<int> gray(w);
  for (int y = 0; y < h; ++y) {
    GrayRow(*source, y, gray);
    int64_t sum = 0;
    for (int x = 0; x < w; ++x) {
      sum += gray[x];
      cols[x] += gray[x];
    }
    rows[y] = sum;
  }
  int64_t total = 0;
  for (int64_t r : rows) total += r;
  const int64_t meanRow = total / h, meanCol = total / w;
  const int64_t tRow = meanRow / tolerance, tCol = meanCol / tolerance;
  auto rowNormal = [&](int y) { return std::llabs(rows[y] - meanRow) < tRow; };
  auto colNormal = [&](int x) { return std::llabs(cols[x] - meanCol) < tCol; };
  int left = w - 1, right = 0, top = h - 1, bottom = 0;
  for (int x = 0; x <= w - 2; ++x)
    if (colNormal(x) && colNormal(x + 1)) {
      left = x;
      break;
    }
  for (int x = w - 1; x >= 1; --x)
    if (colNormal(x) && colNormal(x - 1)) {
      right = x;
      break;
    }
  for (int y = 0; y <= h - 2; ++y)
    if (rowNormal(y) && rowNormal(y + 1)) {
      top = y;
      break;
    }
  for (int y = h - 1; y >= 1; --y)
    if (rowNormal(y) && rowNormal(y - 1)) {
      bottom = y;
      break;
    }
  if (left > right || top > bottom) return false;
  rect = {left, top, right, bottom};
  return true;
}

bool CropBitmap(TIEBitmap& bitmap, int left, int top, int right, int bottom) {
  if (bitmap.IsEmpty() || left < 0 || top < 0 || right >= bitmap.Width() ||
      bottom >= bitmap.Height() || left > right || top > bottom)
    return false;
  const int w = right - left + 1, h = bottom - top + 1;
  TIEBitmap result;
  result.SetLocation(bitmap.Location());
  result.Allocate(w, h, bitmap.PixelFormat());
  if (bitmap.PixelFormat() == ie8p) {
    result.SetPaletteLength(bitmap.PaletteLength());
    for (int i = 0; i < bitmap.PaletteLength(); ++i)
      result.SetPaletteColor(i, bitmap.GetPaletteColor(i));
  }
  CopyRect(bitmap, left, top, result, 0, 0, w, h);
  if (const TIEBitmap* a = bitmap.AlphaChannelIfAny())
    CopyRect(*a, left, top, *result.AlphaChannel(), 0, 0, w, h);
  result.BWConversion = bitmap.BWConversion;
  bitmap.Assign(result);
  return true;
}

void Crop(TImageProc& proc, int left, int top, int right, int bottom) {
  proc.Run({0, false, false, TSnapshotPoint::AfterAdmission, "Crop"},
           [&](TIEBitmap& page, TIOProgress&) {
             if (CropBitmap(page, left, top, right, bottom) && proc.AttachedView().HasSelection())
               proc.AttachedView().Deselect();
           });
}

void CropBorders(TImageProc& proc, int tolerance) {
  TContentRect r;
  if (!FindContentRect(proc.AttachedView().Bitmap, tolerance, r)) return;
  Crop(proc, r.Left, r.Top, r.Right, r.Bottom);
}

bool IsPaperColor(int red, int green, int blue) {
  const double r = red / 255.0, g = green / 255.0, b = blue / 255.0;
  const double mx = std::max({r, g, b}), mn = std::min({r, g, b});
  const double l = (mx + mn) / 2;
  double s = 0, hue = 0;
  if (mx != mn) {
    const double d = mx - mn;
    s = l < 0.5 ? d / (mx + mn) : d / (2 - mx - mn);
    if (r == mx)
      hue = (g - b) / d;
    else if (b == mx)
      hue = 4 + (r - g) / d;
    else
      hue = 2 + (b - r) / d;
    hue /= 6;
    if (hue < 0) hue += 1;
  }
  auto in = [&](double lo, double hi) { return hue >= lo && hue <= hi; };
  if (in(0.01, 0.04) || in(0.35, 0.5) || in(0.57, 0.59)) return false;
  return s < 0.3 && l > 0.7;
}

void AutoWhiteTables(const TIEBitmap& rgb, uint8_t red[256], uint8_t green[256],
                     uint8_t blue[256]) {
  // Paper status depends only on the colour; counting colours first keeps
  // the HSL work off the pixel loop for large pages.
  double sum[3] = {0, 0, 0};
  int64_t count = 0;
  std::vector<uint8_t> known(1 << 24, 2);  // 2 unknown, 1 paper, 0 not
  for (int y = 0; y < rgb.Height(); ++y) {
    const uint8_t* p = rgb.GetScanline(y);
    for (int x = 0; x < rgb.Width(); ++x, p += 3) {
      const uint32_t key = p[0] | (p[1] << 8) | (p[2] << 16);
      if (known[key] == 2) known[key] = IsPaperColor(p[2], p[1], p[0]) ? 1 : 0;
      if (!known[key]) continue;
      sum[0] += p[2];
      sum[1] += p[1];
      sum[2] += p[0];
      ++count;
    }
  }
  uint8_t* tables[3] = {red, green, blue};
  for (int c = 0; c < 3; ++c) {
    const double mean = count ? sum[c] / static_cast<double>(count) : 255.0;
    const double gain = mean > 0 ? 255.0 / mean : 1.0;
    for (int v = 0; v < 256; ++v) {
      // Truncation of the exact product: a double product that rounded up
      // to a whole number is one too high.
      const double p = v * gain;
      double t = std::trunc(p);
      if (t == p && std::fma(v, gain, -p) < 0) t -= 1;
      tables[c][v] = static_cast<uint8_t>(std::clamp(t, 0.0, 255.0));
    }
  }
}

void WhiteBalance_AutoWhite(TImageProc& proc) {
  proc.Run(
      {FormatBit(ie24RGB), true, false, TSnapshotPoint::BeforeAdmission, "WhiteBalance_AutoWhite"},
      [](TIEBitmap& region, TIOProgress& progress) {
        uint8_t red[256], green[256], blue[256];
        AutoWhiteTables(region, red, green, blue);
        MapRgbTables(region, red, green, blue, &progress);
      });
}

}  // namespace folivo
