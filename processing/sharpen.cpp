// Folivo — multi-page TIFF editor.
#include "processing/sharpen.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "formats/colors.h"
#include "processing/parallel.h"

namespace folivo {

namespace {

constexpr int kMaxOffset = 100;

void Report(TIOProgress* progress, int64_t done, int64_t total) {
  if (!progress || total <= 0) return;
  progress->Done = done;
  progress->Report(100.0 / static_cast<double>(total));
}

}  // namespace

TBlurKernel MakeBlurKernel(double radius) {
  TBlurKernel kernel;
  std::vector<double> w(2 * kMaxOffset + 1);
  double sum = 0;
  for (int k = -kMaxOffset; k <= kMaxOffset; ++k) {
    const double q = k / radius;
    w[k + kMaxOffset] = std::exp(-q * q / 2);
    sum += w[k + kMaxOffset];
  }
  kernel.Weights.resize(w.size());
  for (size_t i = 0; i < w.size(); ++i)
    kernel.Weights[i] = static_cast<int>(std::nearbyint(w[i] * 65536.0 / sum));
  int r = kMaxOffset;
  while (r > 1 && kernel.Weights[kMaxOffset + r] == 0 && kernel.Weights[kMaxOffset - r] == 0) --r;
  kernel.HalfWidth = r;
  return kernel;
}

void BlurBitmap(TIEBitmap& bitmap, double radius, TIOProgress* progress) {
  if (!(radius > 0) || bitmap.IsEmpty()) return;
  const TPagePixelFormat f = bitmap.PixelFormat();
  if (f != ie8g && f != ie24RGB) return;
  const int ch = f == ie8g ? 1 : 3;
  const int w = bitmap.Width(), h = bitmap.Height();
  const size_t line = static_cast<size_t>(w) * ch;
  const TBlurKernel kernel = MakeBlurKernel(radius);
  const int r = kernel.HalfWidth;
  const int* K = kernel.Weights.data() + kMaxOffset;
  const int threads = PassThreads(static_cast<long long>(w) * h * r / 8);
  const int64_t total = static_cast<int64_t>(h) + w;

  // Horizontal pass: each row through a padded line buffer into tmp.
  std::vector<uint8_t> tmp(line * h);
  ParallelBands(
      h, threads,
      [&](int first, int last) {
        std::vector<int32_t> pad((static_cast<size_t>(w) + 2 * r) * ch);
        std::vector<int32_t> acc(line);
        for (int y = first; y < last; ++y) {
          const uint8_t* src = bitmap.GetScanline(y);
          for (int i = -r; i < w + r; ++i) {
            const int s = std::clamp(i, 0, w - 1);
            for (int c = 0; c < ch; ++c) pad[(i + r) * ch + c] = src[s * ch + c];
          }
          std::fill(acc.begin(), acc.end(), 32768);
          for (int k = -r; k <= r; ++k) {
            const int32_t weight = K[k];
            if (weight == 0) continue;
            const int32_t* p = pad.data() + static_cast<size_t>(r + k) * ch;
            for (size_t j = 0; j < line; ++j) acc[j] += weight * p[j];
          }
          uint8_t* out = tmp.data() + line * y;
          for (size_t j = 0; j < line; ++j)
            out[j] = static_cast<uint8_t>(std::min<int32_t>(acc[j] >> 16, 255));
        }
      },
      [&](int done) { Report(progress, done, total); });

  // Vertical pass: rows of tmp weighted into each output row.
  ParallelBands(
      h, threads,
      [&](int first, int last) {
        std::vector<int32_t> acc(line);
        for (int y = first; y < last; ++y) {
          std::fill(acc.begin(), acc.end(), 32768);
          for (int k = -r; k <= r; ++k) {
            const int32_t weight = K[k];
            if (weight == 0) continue;
            const uint8_t* p = tmp.data() + line * std::clamp(y + k, 0, h - 1);
            for (size_t j = 0; j < line; ++j) acc[j] += weight * p[j];
          }
          uint8_t* out = bitmap.GetScanline(y);
          for (size_t j = 0; j < line; ++j)
            out[j] = static_cast<uint8_t>(std::min<int32_t>(acc[j] >> 16, 255));
        }
      },
      [&](int done) { Report(progress, h + static_cast<int64_t>(done) * w / h, total); });
}

void Blur(TImageProc& proc, double radius) {
  proc.Run(
      {FormatBit(ie8g) | FormatBit(ie24RGB), true, false, TSnapshotPoint::BeforeAdmission,
       "Blur " + FormatAngle(radius)},
      [&](TIEBitmap& region, TIOProgress& progress) { BlurBitmap(region, radius, &progress); });
}

namespace {

constexpr int kExtend = 27;   // wrap-around margin of the gray image
constexpr int kOutline = 25;  // border left out of every statistic
constexpr double kSmoothing = 0.9;
constexpr int kWindow = 7;

// Recursive infinite symmetric exponential filter, vertical then
// horizontal; x is left untouched, y receives the smoothed image.
void Isef(const std::vector<float>& x, std::vector<float>& y, int nr, int nc) {
  const double b = kSmoothing;
  const float b1 = static_cast<float>((1.0 - b) / (1.0 + b));
  const float b2 = static_cast<float>(b * b1);
  const size_t n = static_cast<size_t>(nc);
  std::vector<float> B(x.size());
  for (size_t c = 0; c < n; ++c) B[(nr - 1) * n + c] = b2 * x[(nr - 1) * n + c];
  for (int row = nr - 2; row >= 0; --row)
    for (size_t c = 0; c < n; ++c)
      B[row * n + c] = static_cast<float>(b2 * x[row * n + c] + b * B[(row + 1) * n + c]);
  std::vector<float> A(n), prev(n);
  for (int row = 0; row < nr; ++row) {
    for (size_t c = 0; c < n; ++c)
      A[c] = row == 0 ? b1 * x[c] : static_cast<float>(b1 * x[row * n + c] + b * prev[c]);
    for (size_t c = 0; c < n; ++c)
      y[row * n + c] = row == nr - 1 ? A[c] : A[c] + B[(row + 1) * n + c];
    std::swap(A, prev);
  }
  std::vector<float> a(n), bb(n);
  for (int row = 0; row < nr; ++row) {
    float* line = y.data() + row * n;
    a[0] = b1 * line[0];
    for (size_t c = 1; c < n; ++c) a[c] = static_cast<float>(b1 * line[c] + b * a[c - 1]);
    bb[n - 1] = b2 * line[n - 1];
    for (size_t c = n - 1; c-- > 0;) bb[c] = static_cast<float>(b2 * line[c] + b * bb[c + 1]);
    for (size_t c = 0; c + 1 < n; ++c) line[c] = a[c] + bb[c + 1];
    line[n - 1] = a[n - 1];
  }
}

}  // namespace

void ShenCastanEdges(const TIEBitmap& bitmap, double rate, TIEBitmap& edges) {
  const int W = bitmap.Width(), H = bitmap.Height();
  edges.SetLocation(ieMemory);
  edges.Allocate(W, H, ie1g);
  edges.Fill(1);
  if (W < 1 || H < 1) return;
  const int nc = W + 2 * kExtend, nr = H + 2 * kExtend;
  const size_t n = static_cast<size_t>(nc);
  const bool rgb = bitmap.PixelFormat() == ie24RGB;
  std::vector<float> x(n * nr), smooth(n * nr);
  for (int row = 0; row < nr; ++row) {
    const uint8_t* src = bitmap.GetScanline(((row - kExtend) % H + H) % H);
    for (int col = 0; col < nc; ++col) {
      const int sx = ((col - kExtend) % W + W) % W;
      x[row * n + col] = rgb ? Luminance(src[3 * sx + 2], src[3 * sx + 1], src[3 * sx]) : src[sx];
    }
  }
  Isef(x, smooth, nr, nc);
  auto inside = [&](int row, int col) {
    return row >= kOutline && row < nr - kOutline && col >= kOutline && col < nc - kOutline;
  };
  // Band-limited Laplacian sign: smoothed minus original.
  std::vector<uint8_t> bli(n * nr, 0);
  for (int row = 0; row < nr; ++row)
    for (int col = 0; col < nc; ++col)
      if (inside(row, col)) bli[row * n + col] = smooth[row * n + col] - x[row * n + col] > 0;
  auto B = [&](int row, int col) { return bli[row * n + col]; };
  auto S = [&](int row, int col) { return smooth[row * n + col]; };
  auto candidate = [&](int row, int col) {
    if (B(row, col) != 1) return false;
    if (B(row + 1, col) == 0) return S(row + 1, col) - S(row - 1, col) > 0;
    if (B(row, col + 1) == 0) return S(row, col + 1) - S(row, col - 1) > 0;
    if (B(row - 1, col) == 0) return S(row + 1, col) - S(row - 1, col) < 0;
    if (B(row, col - 1) == 0) return S(row, col + 1) - S(row, col - 1) < 0;
    return false;
  };
  std::vector<float>& lap = x;  // the original is no longer needed
  for (int row = 0; row < nr; ++row)
    for (int col = 0; col < nc; ++col) {
      float g = 0;
      if (inside(row, col) && candidate(row, col)) {
        float on = 0, off = 0;
        int numOn = 0, numOff = 0;
        for (int i = -kWindow / 2; i <= kWindow / 2; ++i)
          for (int j = -kWindow / 2; j <= kWindow / 2; ++j) {
            if (B(row + i, col + j)) {
              on += S(row + i, col + j);
              ++numOn;
            } else {
              off += S(row + i, col + j);
              ++numOff;
            }
          }
        const float avgOff = off != 0 ? off / numOff : 0;
        const float avgOn = on != 0 ? on / numOn : 0;
        g = avgOff - avgOn;
      }
      lap[row * n + col] = g;
    }
  // Thresholds from a 256-bin histogram of the interior.
  float vmin = lap[20 * n + 20], vmax = vmin;
  vmin = vmax = std::fabs(vmin);
  int64_t interior = 0;
  for (int row = kOutline; row < nr - kOutline; ++row)
    for (int col = kOutline; col < nc - kOutline; ++col) {
      vmin = std::min(vmin, lap[row * n + col]);
      vmax = std::max(vmax, lap[row * n + col]);
      ++interior;
    }
  const float scale = 256.0f / (vmax - vmin + 1);
  int64_t hist[256] = {};
  for (int row = kOutline; row < nr - kOutline; ++row)
    for (int col = kOutline; col < nc - kOutline; ++col)
      ++hist[std::clamp(static_cast<int>((lap[row * n + col] - vmin) * scale), 0, 255)];
  const int64_t wanted = static_cast<int64_t>(rate * static_cast<double>(interior));
  int k = 255;
  int64_t count = hist[255];
  while (count < wanted) {
    --k;
    if (k < 0) break;
    count += hist[k];
  }
  const double high = static_cast<double>(k) / scale + vmin;
  const double low = high / 2;
  // Hysteresis: everything connected through nonzero gradients to a pixel
  // above the high threshold, kept where it is above the low one.
  std::vector<uint8_t> seen(n * nr, 0);
  std::vector<int64_t> stack;
  for (int row = kOutline; row < nr - kOutline; ++row)
    for (int col = kOutline; col < nc - kOutline; ++col) {
      const size_t at = row * n + col;
      if (seen[at] || !(lap[at] > high)) continue;
      seen[at] = 1;
      stack.push_back(static_cast<int64_t>(at));
      while (!stack.empty()) {
        const int64_t p = stack.back();
        stack.pop_back();
        const int pr = static_cast<int>(p / nc), pc = static_cast<int>(p % nc);
        for (int dr = -1; dr <= 1; ++dr)
          for (int dc = -1; dc <= 1; ++dc) {
            const int qr = pr + dr, qc = pc + dc;
            if (qr < 0 || qr >= nr || qc < 0 || qc >= nc) continue;
            const size_t q = qr * n + qc;
            if (seen[q] || lap[q] == 0.0f) continue;
            seen[q] = 1;
            stack.push_back(static_cast<int64_t>(q));
          }
      }
    }
  for (int y = 0; y < H; ++y) {
    uint8_t* out = edges.GetScanline(y);
    for (int xx = 0; xx < W; ++xx) {
      const size_t at = (y + kExtend) * n + xx + kExtend;
      const bool edge = seen[at] && lap[at] > low && xx != 0 && y != H - 1;
      if (edge) out[xx >> 3] &= static_cast<uint8_t>(~(0x80 >> (xx & 7)));
    }
  }
}

void AutoSharpBitmap(TIEBitmap& bitmap, int intensity, double rate, TIOProgress* progress) {
  if (bitmap.PixelFormat() != ie24RGB || bitmap.IsEmpty()) return;
  const int W = bitmap.Width(), H = bitmap.Height();
  TIEBitmap map;
  ShenCastanEdges(bitmap, rate, map);
  map.ConvertTo(ie8g);
  BlurBitmap(map, 4, nullptr);
  TIEBitmap out;
  out.SetLocation(ieMemory);
  out.Allocate(W, H, ie24RGB);
  ParallelBands(
      H, PassThreads(static_cast<long long>(W) * H),
      [&](int first, int last) {
        for (int y = first; y < last; ++y) {
          const uint8_t* f = map.GetScanline(y);
          const uint8_t* src = bitmap.GetScanline(y);
          uint8_t* dst = out.GetScanline(y);
          for (int x = 0; x < W; ++x) {
            const double s = std::nearbyint((255 - f[x]) / 255.0 * intensity);
            int sum[3] = {0, 0, 0}, count = 0;
            for (int dy = -2; dy <= 2; ++dy) {
              if (dy == 0 || y + dy < 0 || y + dy >= H) continue;
              const uint8_t* row = bitmap.GetScanline(y + dy);
              for (int dx = -2; dx <= 2; ++dx) {
                if (dx == 0 || x + dx < 0 || x + dx >= W) continue;
                const uint8_t* p = row + 3 * (x + dx);
                sum[0] += p[0];
                sum[1] += p[1];
                sum[2] += p[2];
                ++count;
              }
            }
            for (int c = 0; c < 3; ++c) {
              const int v = src[3 * x + c];
              const int mean = count ? sum[c] / count : v;
              const double o = std::trunc((v - mean) * (s / 10) + v);
              dst[3 * x + c] = static_cast<uint8_t>(std::clamp(o, 0.0, 255.0));
            }
          }
        }
      },
      [&](int done) { Report(progress, done, H); });
  for (int y = 0; y < H; ++y)
    std::memcpy(bitmap.GetScanline(y), out.GetScanline(y), static_cast<size_t>(W) * 3);
}

void AutoSharp(TImageProc& proc, int intensity, double rate) {
  proc.Run({FormatBit(ie24RGB), true, false, TSnapshotPoint::BeforeAdmission, "AutoSharp"},
           [&](TIEBitmap& region, TIOProgress& progress) {
             AutoSharpBitmap(region, intensity, rate, &progress);
           });
}

}  // namespace folivo
