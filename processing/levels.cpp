// Folivo — multi-page TIFF editor.
#include "processing/levels.h"

#include <algorithm>
#include <cmath>

#include "processing/parallel.h"
#include "processing/tone.h"

namespace folivo {

namespace {

// base^exponent: 0 for a zero base, repeated multiplication for whole
// exponents (so exponent 1 is exact), else exp(exponent x ln base).
double Power(double base, double exponent) {
  if (base == 0) return 0;
  if (exponent == std::floor(exponent) && std::fabs(exponent) <= 64) {
    double r = 1;
    for (int i = 0; i < static_cast<int>(std::fabs(exponent)); ++i) r *= base;
    return exponent < 0 ? 1 / r : r;
  }
  return std::exp(exponent * std::log(base));
}

double ApplyRecord(const TLevelChannel& rec, double x) {
  const double t = 255 * x;
  const double b = rec.BlackPoint, w = rec.WhitePoint;
  double f = w != b ? (t - b) / (w - b) : t - b;
  if (rec.Gamma != 0) {
    const double e = 1.0 / static_cast<double>(rec.Gamma);
    f = f >= 0 ? Power(f, e) : -Power(-f, e);
  }
  const double ob = rec.OutputBlack, ow = rec.OutputWhite;
  f = ow >= ob ? (ow - ob) * f + ob : ob - (ob - ow) * f;
  return f / 255;
}

}  // namespace

void TLevelsClass::ResetChannels() {
  for (TLevelChannel& c : Channels) c = TLevelChannel{};
}

void TLevelsClass::ComputeHistogram(const TIEBitmap& bitmap) {
  ResetChannels();
  const TIEBitmap* source = &bitmap;
  TIEBitmap converted;
  if (!bitmap.IsEmpty() && bitmap.PixelFormat() != ie24RGB) {
    converted.SetLocation(ieMemory);
    converted.Assign(bitmap);
    converted.ConvertTo(ie24RGB);
    source = &converted;
  }
  for (int y = 0; y < source->Height(); ++y) {
    const uint8_t* p = source->GetScanline(y);
    for (int x = 0; x < source->Width(); ++x, p += 3) {
      ++Channels[1].Counts[p[2]];
      ++Channels[2].Counts[p[1]];
      ++Channels[3].Counts[p[0]];
    }
  }
  const double pixels = static_cast<double>(source->Width()) * source->Height();
  for (int v = 0; v < 256; ++v) {
    Channels[0].Counts[v] = Channels[1].Counts[v] + Channels[2].Counts[v] + Channels[3].Counts[v];
    Channels[0].Peak = std::max(Channels[0].Peak, Channels[0].Counts[v]);
  }
  Channels[0].Mean = pixels * 3 / 256;
  for (int c = 1; c < 4; ++c) {
    Channels[c].Peak = *std::max_element(Channels[c].Counts.begin(), Channels[c].Counts.end());
    Channels[c].Mean = pixels / 256;
  }
  HistogramReady = true;
}

void TLevelsClass::SetBlackPoint(int channel, int level) {
  if (channel >= 0 && channel < 4) Channels[channel].BlackPoint = std::clamp(level, 0, 253);
}

void TLevelsClass::SetWhitePoint(int channel, int level) {
  if (channel >= 0 && channel < 4) Channels[channel].WhitePoint = std::clamp(level, 2, 255);
}

void TLevelsClass::SetGamma(int channel, float gamma) {
  if (channel < 0 || channel >= 4) return;
  if (!(gamma >= 0.1f))
    gamma = 0;  // NaN switches the step off too
  else if (gamma > 9.99f)
    gamma = 9.99f;
  Channels[channel].Gamma = gamma;
}

double TLevelsClass::TransferValue(int c, double x) const {
  if (c < 0 || c > 2) return x;
  return ApplyRecord(Channels[0], ApplyRecord(Channels[c + 1], x));
}

void TLevelsClass::BuildTables() {
  std::array<uint8_t, 256>* tables[3] = {&RedTable, &GreenTable, &BlueTable};
  for (int c = 0; c < 3; ++c)
    for (int v = 0; v < 256; ++v) {
      const double y = 255 * TransferValue(c, v / 255.0);
      (*tables[c])[v] = !(y > 0) ? 0 : y >= 255 ? 255 : static_cast<uint8_t>(std::nearbyint(y));
    }
}

void TLevelsClass::ApplyToBitmap(TIEBitmap& bitmap, TIOProgress* progress) {
  BuildTables();
  if (bitmap.IsEmpty()) return;
  if (bitmap.PixelFormat() != ie24RGB) bitmap.ConvertTo(ie24RGB);
  MapRgbTables(bitmap, RedTable.data(), GreenTable.data(), BlueTable.data(), progress);
}

int LevelFromPosition(int position, int leftmost, int rightmost) {
  if (rightmost == leftmost) return 0;
  const int64_t v = static_cast<int64_t>(position - leftmost) * 255 / (rightmost - leftmost);
  return static_cast<int>(std::clamp<int64_t>(v, 0, 255));
}

float GammaFromPositions(int low, int gamma, int high) {
  const int m = (low + high) / 2;
  if (std::abs(gamma - m) < 2) return 1.0f;
  if (gamma < m) {
    if (m == low) return 1.0f;
    const int q = ((gamma - low) * 100 + (m - gamma) * 10) / (m - low);
    return q == 0 ? 0.0f : static_cast<float>(100.0 / q);
  }
  if (high == m) return 1.0f;
  const int q = ((gamma - m) * 190 + (high - gamma) * 100) / (high - m) - 90;
  return q == 0 ? 0.0f : static_cast<float>(10.0 / q);
}

int PositionFromGamma(int low, int high, float gamma) {
  const int m = (low + high) / 2;
  if (gamma == 1.0f || !(gamma > 0)) return m;
  if (gamma < 1.0f) {
    const int r = static_cast<int>(std::nearbyint(std::min(10.0 / gamma, 1e6)));
    return static_cast<int>((static_cast<int64_t>(high - m) * (r + 90) +
                             static_cast<int64_t>(m) * 190 - static_cast<int64_t>(high) * 100) /
                            90);
  }
  const int r = static_cast<int>(std::nearbyint(100.0 / gamma));
  return (r * (m - low) + low * 100 - m * 10) / 90;
}

void ApplyLevels(TImageProc& proc, TLevelsClass& levels) {
  proc.Run({FormatBit(ie24RGB), false, false, TSnapshotPoint::BeforeAdmission, "Levels"},
           [&](TIEBitmap& page, TIOProgress& progress) { levels.ApplyToBitmap(page, &progress); });
}

}  // namespace folivo
