// Folivo — multi-page TIFF editor.
#include "processing/resample.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <vector>

#include "processing/parallel.h"

namespace folivo {

namespace {

constexpr double kPi = 3.1415926535897932385;

constexpr const char* kNames[kResampleFilterCount] = {
    "rfNone",     "rfTriangle", "rfHermite",   "rfBell",     "rfBSpline",
    "rfLanczos3", "rfMitchell", "rfNearest",   "rfLinear",   "rfFastLinear",
    "rfBilinear", "rfBicubic",  "rfProjectBW", "rfProjectWB"};

// Interleaved 8-bit samples, n per pixel.
struct TSamples {
  int w = 0, h = 0, n = 0;
  std::vector<uint8_t> px;
  void Resize(int width, int height, int channels) {
    w = width;
    h = height;
    n = channels;
    px.assign(static_cast<size_t>(w) * h * n, 0);
  }
  uint8_t* Row(int y) { return px.data() + static_cast<size_t>(y) * w * n; }
  const uint8_t* Row(int y) const { return px.data() + static_cast<size_t>(y) * w * n; }
};

inline uint8_t Clamp255(long long v) {
  return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

// A 1-bit page reads 255 per 1 bit, 0 per 0 bit.
void ToSamples(const TIEBitmap& b, TSamples& s) {
  const int n = b.PixelFormat() == ie24RGB ? 3 : 1;
  s.Resize(b.Width(), b.Height(), n);
  for (int y = 0; y < b.Height(); ++y) {
    const uint8_t* row = b.GetScanline(y);
    uint8_t* out = s.Row(y);
    if (b.PixelFormat() == ie1g) {
      for (int x = 0; x < b.Width(); ++x) out[x] = ((row[x >> 3] >> (7 - (x & 7))) & 1) ? 255 : 0;
    } else {
      std::memcpy(out, row, static_cast<size_t>(b.Width()) * n);
    }
  }
}

// One channel replicated to three when the target is 24-bit.
void FromSamples(const TSamples& s, TIEBitmap& target) {
  for (int y = 0; y < s.h; ++y) {
    uint8_t* out = target.GetScanline(y);
    const uint8_t* in = s.Row(y);
    if (target.PixelFormat() == ie24RGB && s.n == 1) {
      for (int x = 0; x < s.w; ++x) out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = in[x];
    } else {
      std::memcpy(out, in, static_cast<size_t>(s.w) * s.n);
    }
  }
}

void Report(TIOProgress* progress, int64_t done, int64_t total) {
  if (!progress || total <= 0) return;
  progress->Done = done;
  progress->Report(100.0 / static_cast<double>(total));
}

// ---- Kernel filters -----------------------------------------------------

double KernelSupport(TResampleFilter f) {
  switch (f) {
    case rfBell:
      return 1.5;
    case rfBSpline:
    case rfMitchell:
      return 2.0;
    case rfLanczos3:
      return 3.0;
    default:
      return 1.0;
  }
}

double Sinc(double x) {
  if (x == 0) return 1;
  const double px = x * kPi;
  return std::sin(px) / px;
}

double Kernel(TResampleFilter f, double x) {
  const double ax = std::fabs(x);
  switch (f) {
    case rfTriangle:
    case rfLinear:
      return ax < 1 ? 1 - ax : 0;
    case rfHermite:
      return ax < 1 ? (2 * ax - 3) * x * x + 1 : 0;
    case rfBell:
      if (ax < 0.5) return 0.75 - x * x;
      if (ax < 1.5) return 0.5 * (ax - 1.5) * (ax - 1.5);
      return 0;
    case rfBSpline:
      if (ax < 1) return ax * ax * ax / 2 - x * x + 2.0 / 3;
      if (ax < 2) return (2 - ax) * (2 - ax) * (2 - ax) / 6;
      return 0;
    case rfLanczos3:
      return ax < 3 ? Sinc(x) * Sinc(x / 3) : 0;
    case rfMitchell:
      if (ax < 1) return (7 * ax * ax * ax - 12 * x * x + 16.0 / 3) / 6;
      if (ax < 2) return (-7.0 / 3 * ax * ax * ax + 12 * x * x - 20 * ax + 32.0 / 3) / 6;
      return 0;
    case rfNearest:
      return (x > -0.5 && x <= 0.5) ? 1 : 0;
    default:
      return 0;
  }
}

// Contributors of every target index: first[i] .. first[i + 1] in idx/wt.
struct TContributors {
  std::vector<int> first, idx, wt, sum;
};

TContributors BuildContributors(int srcLen, int dstLen, TResampleFilter f) {
  TContributors c;
  const double support = KernelSupport(f);
  const double scale = (dstLen == 1 || srcLen == 1)
                           ? static_cast<double>(dstLen) / srcLen
                           : static_cast<double>(dstLen - 1) / (srcLen - 1);
  c.first.reserve(dstLen + 1);
  for (int i = 0; i < dstLen; ++i) {
    c.first.push_back(static_cast<int>(c.idx.size()));
    const double centre = i / scale;
    const double width = scale >= 1 ? support : support / scale;
    const int left = static_cast<int>(std::floor(centre - width));
    const int right = static_cast<int>(std::ceil(centre + width));
    int sum = 0;
    for (int j = left; j <= right; ++j) {
      const double w = scale >= 1 ? std::nearbyint(Kernel(f, centre - j) * 256)
                                  : std::nearbyint(Kernel(f, (centre - j) * scale) * 256 * scale);
      if (w == 0) continue;
      int k = j < 0 ? -j : j >= srcLen ? 2 * srcLen - 1 - j : j;
      k = std::clamp(k, 0, srcLen - 1);
      c.idx.push_back(k);
      c.wt.push_back(static_cast<int>(w));
      sum += static_cast<int>(w);
    }
    c.sum.push_back(sum);
  }
  c.first.push_back(static_cast<int>(c.idx.size()));
  return c;
}

inline uint8_t KernelValue(long long acc, int sum) {
  if (sum == 0) return Clamp255(static_cast<uint32_t>(acc) >> 8);
  return Clamp255(acc / sum);
}

void KernelResample(const TSamples& src, TSamples& dst, int W2, int H2, TResampleFilter f,
                    TIOProgress* progress) {
  const int n = src.n, W = src.w, H = src.h;
  const TContributors cx = BuildContributors(W, W2, f);
  const TContributors cy = BuildContributors(H, H2, f);
  const int64_t total = static_cast<int64_t>(H) + H2;
  const int threads = PassThreads(static_cast<long long>(W2) * (H + H2));
  TSamples mid;
  mid.Resize(W2, H, n);
  ParallelBands(
      H, threads,
      [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
          const uint8_t* in = src.Row(y);
          uint8_t* out = mid.Row(y);
          for (int i = 0; i < W2; ++i) {
            long long acc[3] = {0, 0, 0};
            for (int k = cx.first[i]; k < cx.first[i + 1]; ++k) {
              const uint8_t* p = in + static_cast<size_t>(cx.idx[k]) * n;
              for (int ch = 0; ch < n; ++ch) acc[ch] += static_cast<long long>(cx.wt[k]) * p[ch];
            }
            for (int ch = 0; ch < n; ++ch) out[i * n + ch] = KernelValue(acc[ch], cx.sum[i]);
          }
        }
      },
      [&](int done) { Report(progress, done, total); });
  dst.Resize(W2, H2, n);
  const int rowSamples = W2 * n;
  ParallelBands(
      H2, threads,
      [&](int j0, int j1) {
        std::vector<long long> acc(rowSamples);
        for (int j = j0; j < j1; ++j) {
          std::fill(acc.begin(), acc.end(), 0);
          for (int k = cy.first[j]; k < cy.first[j + 1]; ++k) {
            const uint8_t* in = mid.Row(cy.idx[k]);
            const long long w = cy.wt[k];
            for (int s = 0; s < rowSamples; ++s) acc[s] += w * in[s];
          }
          uint8_t* out = dst.Row(j);
          for (int s = 0; s < rowSamples; ++s) out[s] = KernelValue(acc[s], cy.sum[j]);
        }
      },
      [&](int done) { Report(progress, H + done, total); });
}

// ---- Fast linear ----------------------------------------------------------

// Linear step between a and b by a 17-bit weight, rounded down.
inline int Lerp17(int a, int b, int w) {
  return a + static_cast<int>((static_cast<long long>(b - a) * w) >> 17);
}

void FastLinear(const TSamples& src, TSamples& dst, int W2, int H2, TIOProgress* progress) {
  const int n = src.n, W = src.w, H = src.h;
  const double sx = static_cast<double>(W2) / W, sy = static_cast<double>(H2) / H;
  if (sx == 1 && sy == 1) {
    dst = src;
    return;
  }
  std::vector<int> q(W2), w(W2), last(W2);
  for (int i = 0; i < W2; ++i) {
    const double f = i / sx;
    q[i] = std::min(W - 1, static_cast<int>(std::trunc(f)));
    w[i] = static_cast<int>(std::trunc((f - std::trunc(f)) * 131072));
    last[i] = std::clamp(static_cast<int>(std::trunc(std::min(i + 1, W2 - 1) / sx + 0.0000000001)),
                         q[i], W - 1);
  }
  const int64_t total = static_cast<int64_t>(H) + H2;
  const int threads = PassThreads(static_cast<long long>(W) * H);
  TSamples mid;
  mid.Resize(W2, H, n);
  ParallelBands(
      H, threads,
      [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
          const uint8_t* in = src.Row(y);
          uint8_t* out = mid.Row(y);
          for (int i = 0; i < W2; ++i) {
            if (sx > 1) {
              const uint8_t* a = in + static_cast<size_t>(q[i]) * n;
              const uint8_t* b = in + static_cast<size_t>(std::min(q[i] + 1, W - 1)) * n;
              for (int ch = 0; ch < n; ++ch) out[i * n + ch] = Clamp255(Lerp17(a[ch], b[ch], w[i]));
            } else {
              const int count = last[i] - q[i] + 1;
              for (int ch = 0; ch < n; ++ch) {
                int sum = 0;
                for (int x = q[i]; x <= last[i]; ++x) sum += in[x * n + ch];
                out[i * n + ch] = static_cast<uint8_t>(sum / count);
              }
            }
          }
        }
      },
      [&](int done) { Report(progress, done, total); });
  dst.Resize(W2, H2, n);
  const int rowSamples = W2 * n;
  ParallelBands(
      H2, threads,
      [&](int j0, int j1) {
        std::vector<int> acc(rowSamples);
        for (int j = j0; j < j1; ++j) {
          uint8_t* out = dst.Row(j);
          const double f = j / sy;
          const int r = std::min(H - 1, static_cast<int>(std::trunc(f)));
          if (sy > 1) {
            const int wt = static_cast<int>(std::trunc((f - std::trunc(f)) * 131072));
            const uint8_t* a = mid.Row(r);
            const uint8_t* b = mid.Row(std::min(r + 1, H - 1));
            for (int s = 0; s < rowSamples; ++s) out[s] = Clamp255(Lerp17(a[s], b[s], wt));
          } else {
            const int r1 =
                std::clamp(static_cast<int>(std::trunc(std::min(j + 1, H2 - 1) / sy)), r, H - 1);
            std::fill(acc.begin(), acc.end(), 0);
            for (int y = r; y <= r1; ++y) {
              const uint8_t* in = mid.Row(y);
              for (int s = 0; s < rowSamples; ++s) acc[s] += in[s];
            }
            const int count = r1 - r + 1;
            for (int s = 0; s < rowSamples; ++s) out[s] = static_cast<uint8_t>(acc[s] / count);
          }
        }
      },
      [&](int done) { Report(progress, H + done, total); });
}

// ---- Area-weighted bilinear and bicubic ----------------------------------

struct TSegment {
  int source;  // current source index l
  int target;  // target index the segment adds to
  double length, pos;
};

std::vector<TSegment> Segments(int srcLen, int dstLen) {
  std::vector<TSegment> segs;
  const double g = static_cast<double>(srcLen) / dstLen;
  double boundary = g, end = 0;
  int l = 0, t = 0;
  segs.reserve(static_cast<size_t>(srcLen) + dstLen + 1);
  while (t < dstLen) {
    if (l + 1 + 0.0001 >= boundary) {
      segs.push_back({std::min(l, srcLen - 1), t, boundary - end, boundary - l});
      end = boundary;
      boundary += g;
      ++t;
    } else {
      segs.push_back({std::min(l, srcLen - 1), t, (l + 1) - end, 1});
      end = l + 1;
      ++l;
    }
  }
  return segs;
}

inline double CubicW(double t) {
  const double a = std::fabs(t);
  if (a <= 1) return a * a * a - 2 * t * t + 1;
  if (a < 2) return -a * a * a + 5 * t * t - 8 * a + 4;
  return 0;
}

inline double Cubic(double a, double b, double c, double d, double x) {
  const double v = a * CubicW(x + 1) + b * CubicW(x) + c * CubicW(x - 1) + d * CubicW(x - 2);
  return std::clamp(v, 0.0, 255.0);
}

void AreaResample(const TSamples& src, TSamples& dst, int W2, int H2, bool bicubic,
                  TIOProgress* progress) {
  const int n = src.n, W = src.w, H = src.h;
  const double gx = static_cast<double>(W) / W2, gy = static_cast<double>(H) / H2;
  const int mode = gx < 1 ? (gy < 1 ? 0 : 1) : (gy < 1 ? 2 : 3);
  const std::vector<TSegment> xs = Segments(W, W2), ys = Segments(H, H2);
  // Where each target row's y segments start.
  std::vector<size_t> rowStart(H2 + 1, ys.size());
  for (size_t k = ys.size(); k-- > 0;) rowStart[ys[k].target] = k;
  for (int j = H2 - 1; j >= 0; --j) rowStart[j] = std::min(rowStart[j], rowStart[j + 1]);
  const double area = gx * gy;
  const int threads = PassThreads(static_cast<long long>(W + W2) * (H + H2) / 2);
  dst.Resize(W2, H2, n);
  auto px = [&](int row, int col, int ch) -> double {
    row = std::clamp(row, 0, H - 1);
    col = std::clamp(col, 0, W - 1);
    return src.Row(row)[static_cast<size_t>(col) * n + ch];
  };
  ParallelBands(
      H2, threads,
      [&](int j0, int j1) {
        std::vector<double> acc(static_cast<size_t>(W2) * n);
        for (int tj = j0; tj < j1; ++tj) {
          std::fill(acc.begin(), acc.end(), 0.0);
          for (size_t ky = rowStart[tj]; ky < ys.size() && ys[ky].target == tj; ++ky) {
            const TSegment& sy = ys[ky];
            const int j = sy.source;
            const double D = sy.pos;
            const uint8_t* K = src.Row(j);
            const uint8_t* F = src.Row(std::min(j + 1, H - 1));
            for (const TSegment& sx : xs) {
              const double weight = sx.length * sy.length;
              if (weight == 0) continue;
              const int l = sx.source;
              const double M = sx.pos;
              const int l1 = std::min(l + 1, W - 1);
              double* a = &acc[static_cast<size_t>(sx.target) * n];
              for (int ch = 0; ch < n; ++ch) {
                double v;
                if (mode == 3) {
                  v = K[l * n + ch];
                } else if (!bicubic) {
                  const double k0 = K[l * n + ch], k1 = K[l1 * n + ch];
                  if (mode == 0) {
                    const double f0 = F[l * n + ch], f1 = F[l1 * n + ch];
                    v = ((1 - M) * k0 + M * k1) * (1 - D) + D * ((1 - M) * f0 + M * f1);
                  } else if (mode == 1) {
                    v = (1 - M) * k0 + M * k1;
                  } else {
                    v = (1 - D) * k0 + D * F[l * n + ch];
                  }
                } else if (mode == 0) {
                  double r[4];
                  for (int i = 0; i < 4; ++i) {
                    const int row = j - 1 + i;
                    r[i] = std::trunc(Cubic(px(row, l - 1, ch), px(row, l, ch), px(row, l + 1, ch),
                                            px(row, l + 2, ch), M));
                  }
                  v = Cubic(r[0], r[1], r[2], r[3], D);
                } else if (mode == 1) {
                  v = Cubic(px(j, l - 1, ch), px(j, l, ch), px(j, l + 1, ch), px(j, l + 2, ch), M);
                } else {
                  v = Cubic(px(j - 1, l, ch), px(j, l, ch), px(j + 1, l, ch), px(j + 2, l, ch), D);
                }
                a[ch] += v * weight;
              }
            }
          }
          uint8_t* out = dst.Row(tj);
          for (size_t s = 0; s < acc.size(); ++s)
            out[s] = Clamp255(static_cast<long long>(std::trunc(acc[s] / area)));
        }
      },
      [&](int done) { Report(progress, done, H2); });
}

// ---- 1-bit sources under the interpolating filters -----------------------

void BilevelInterpolate(const TSamples& src, TSamples& dst, int W2, int H2, TIOProgress* progress) {
  const int W = src.w, H = src.h;
  const double rx = static_cast<double>(W2) / W, ry = static_cast<double>(H2) / H;
  dst.Resize(W2, H2, 1);
  if (rx >= 1 || ry >= 1) {
    std::vector<int> q(W2), w(W2);
    for (int i = 0; i < W2; ++i) {
      const double f = i / rx;
      q[i] = std::min(W - 1, static_cast<int>(std::trunc(f)));
      w[i] = static_cast<int>(std::trunc((f - std::trunc(f)) * 131072));
    }
    TSamples mid;
    mid.Resize(W2, H, 1);
    for (int y = 0; y < H; ++y) {
      const uint8_t* in = src.Row(y);
      uint8_t* out = mid.Row(y);
      for (int i = 0; i < W2; ++i)
        out[i] = Clamp255(Lerp17(in[q[i]], in[std::min(q[i] + 1, W - 1)], w[i]));
      Report(progress, y + 1, H + H2);
    }
    for (int j = 0; j < H2; ++j) {
      const double f = j / ry;
      const int r = std::min(H - 1, static_cast<int>(std::trunc(f)));
      const int wt = static_cast<int>(std::trunc((f - std::trunc(f)) * 131072));
      const uint8_t* a = mid.Row(r);
      const uint8_t* b = mid.Row(std::min(r + 1, H - 1));
      uint8_t* out = dst.Row(j);
      for (int i = 0; i < W2; ++i) out[i] = Clamp255(Lerp17(a[i], b[i], wt));
      Report(progress, H + j + 1, H + H2);
    }
    return;
  }
  const double fx = static_cast<double>(W) / W2, fy = static_cast<double>(H) / H2;
  std::vector<int> c0(W2), c1(W2);
  for (int i = 0; i < W2; ++i) {
    c0[i] = std::clamp(static_cast<int>(std::trunc(fx * i - fx / 2)), 0, W - 1);
    c1[i] = std::clamp(static_cast<int>(std::trunc(fx / 2 + fx * i)), 0, W - 1);
  }
  ParallelBands(
      H2, PassThreads(static_cast<long long>(W) * H),
      [&](int j0, int j1) {
        std::vector<int> columns(W);
        for (int j = j0; j < j1; ++j) {
          const int r0 = std::clamp(static_cast<int>(std::trunc(fy * j - fy / 2)), 0, H - 1);
          const int r1 =
              std::clamp(static_cast<int>(std::trunc(std::trunc(fy) / 2 + fy * j)), 0, H - 1);
          std::fill(columns.begin(), columns.end(), 0);
          for (int y = r0; y <= r1; ++y) {
            const uint8_t* in = src.Row(y);
            for (int x = 0; x < W; ++x) columns[x] += in[x] != 0;
          }
          const int rows = r1 >= r0 ? r1 - r0 + 1 : 0;
          uint8_t* out = dst.Row(j);
          for (int i = 0; i < W2; ++i) {
            int ones = 0;
            for (int x = c0[i]; x <= c1[i]; ++x) ones += columns[x];
            const int count = rows * (c1[i] - c0[i] + 1);
            out[i] = count > 0 ? static_cast<uint8_t>(255 * ones / count) : 0;
          }
        }
      },
      [&](int done) { Report(progress, done, H2); });
}

// ---- Projection to 1-bit ---------------------------------------------------

void Project(const TSamples& src, TIEBitmap& target, int W2, int H2, bool blackWins,
             TIOProgress* progress) {
  const int W = src.w, H = src.h, n = src.n;
  const double fx = static_cast<double>(W) / W2, fy = static_cast<double>(H) / H2;
  auto q = [](double f, int i) { return static_cast<int>(std::trunc(f * i)); };
  std::vector<int> c0(W2), c1(W2);
  for (int i = 0; i < W2; ++i) {
    c0[i] = std::clamp(i == 0 ? 0 : q(fx, i - 1), 0, W - 1);
    c1[i] = std::clamp(i == 0 ? 0 : q(fx, i), 0, W - 1);
  }
  // A source pixel decides when it is dark (black wins) or light (white
  // wins); 1-bit sources read 0 or 255, so 128 is never ambiguous for them.
  auto decides = [&](const uint8_t* p) {
    if (blackWins) {
      for (int ch = 0; ch < n; ++ch)
        if (p[ch] >= 128) return false;
    } else {
      for (int ch = 0; ch < n; ++ch)
        if (p[ch] <= 128) return false;
    }
    return true;
  };
  std::vector<uint8_t> column(W);
  for (int j = 0; j < H2; ++j) {
    const int r0 = std::clamp(j == 0 ? 0 : q(fy, j - 1), 0, H - 1);
    const int r1 = std::clamp(j == 0 ? 0 : q(fy, j), 0, H - 1);
    std::fill(column.begin(), column.end(), 0);
    for (int y = r0; y <= r1; ++y) {
      const uint8_t* in = src.Row(y);
      for (int x = 0; x < W; ++x) column[x] |= decides(in + static_cast<size_t>(x) * n);
    }
    uint8_t* out = target.GetScanline(j);
    std::memset(out, blackWins ? 0xFF : 0x00, static_cast<size_t>(target.RowLength()));
    for (int i = 0; i < W2; ++i) {
      bool hit = false;
      for (int x = c0[i]; x <= c1[i] && !hit; ++x) hit = column[x];
      if (!hit) continue;  // stays as the row started
      const uint8_t mask = static_cast<uint8_t>(0x80 >> (i & 7));
      if (blackWins)
        out[i >> 3] &= static_cast<uint8_t>(~mask);
      else
        out[i >> 3] |= mask;
    }
    Report(progress, j + 1, H2);
  }
}

}  // namespace

const char* ResampleFilterName(TResampleFilter filter) {
  return filter < kResampleFilterCount ? kNames[filter] : "";
}

bool ResampleFilterFromName(const std::string& name, TResampleFilter& filter) {
  auto lower = [](std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  };
  const std::string want = lower(name);
  for (int i = 0; i < kResampleFilterCount; ++i) {
    const std::string full = lower(kNames[i]);
    if (want == full || want == full.substr(2)) {
      filter = static_cast<TResampleFilter>(i);
      return true;
    }
  }
  return false;
}

void ResampleTargetSize(int W, int H, int newWidth, int newHeight, int& tw, int& th) {
  auto side = [](long long v, long long fromOther, int same) -> int {
    long long r = v == -1 ? fromOther : v == 0 ? same : v < 0 ? -v : v;
    return static_cast<int>(std::clamp<long long>(r, 1, 1 << 30));
  };
  const long long byHeight = H > 0 ? static_cast<long long>(newHeight) * W / H : 1;
  tw = side(newWidth, byHeight, W);
  const long long byWidth = W > 0 ? static_cast<long long>(tw) * H / W : 1;
  th = side(newHeight, byWidth, H);
}

TPagePixelFormat ResampleResultFormat(TPagePixelFormat source, TResampleFilter filter,
                                      bool sizeUnchanged) {
  if (filter == rfNone) return source;
  if (filter == rfProjectBW || filter == rfProjectWB) return ie1g;
  if (source == ie1g) {
    const bool point = filter == rfFastLinear || filter == rfBilinear || filter == rfBicubic;
    return point && sizeUnchanged ? ie1g : ie24RGB;
  }
  if (source == ie8g) return ie8g;
  return ie24RGB;
}

void ResampleBitmap(const TIEBitmap& source, TIEBitmap& target, int W2, int H2,
                    TResampleFilter filter, TIOProgress* progress) {
  if (source.IsEmpty() || W2 < 1 || H2 < 1 || filter >= kResampleFilterCount) return;
  const int W = source.Width(), H = source.Height();
  const bool same = W2 == W && H2 == H;
  const TPagePixelFormat format = ResampleResultFormat(source.PixelFormat(), filter, same);

  if (filter == rfNone) {
    target.Allocate(W2, H2, source.PixelFormat());
    if (source.PixelFormat() == ie8p) {
      target.SetPaletteLength(source.PaletteLength());
      for (int i = 0; i < source.PaletteLength(); ++i)
        target.SetPaletteColor(i, source.GetPaletteColor(i));
    }
    const double fx = static_cast<double>(W) / W2, fy = static_cast<double>(H) / H2;
    std::vector<int> sx(W2);
    for (int x = 0; x < W2; ++x) sx[x] = std::min(W - 1, static_cast<int>(std::trunc(fx * x)));
    const int bpp = source.BitCount() / 8;
    for (int y = 0; y < H2; ++y) {
      const uint8_t* in = source.GetScanline(std::min(H - 1, static_cast<int>(std::trunc(fy * y))));
      uint8_t* out = target.GetScanline(y);
      if (source.PixelFormat() == ie1g) {
        std::memset(out, 0, static_cast<size_t>(target.RowLength()));
        for (int x = 0; x < W2; ++x)
          if ((in[sx[x] >> 3] >> (7 - (sx[x] & 7))) & 1)
            out[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
      } else {
        for (int x = 0; x < W2; ++x)
          std::memcpy(out + static_cast<size_t>(x) * bpp, in + static_cast<size_t>(sx[x]) * bpp,
                      bpp);
      }
      Report(progress, y + 1, H2);
    }
    return;
  }

  // Formats other than 1-bit, 8-bit gray and 24-bit go through 24-bit.
  const TPagePixelFormat sf = source.PixelFormat();
  TIEBitmap converted;
  const TIEBitmap* from = &source;
  if (sf != ie1g && sf != ie8g && sf != ie24RGB) {
    converted.SetLocation(ieMemory);
    converted.Assign(source);
    converted.RemoveAlphaChannel(false, 0);
    converted.ConvertTo(ie24RGB);
    from = &converted;
  }
  TSamples src;
  ToSamples(*from, src);
  if (sf == ie1g && format == ie1g && filter != rfProjectBW && filter != rfProjectWB) {
    target.Allocate(W, H, ie1g);
    for (int y = 0; y < H; ++y)
      std::memcpy(target.GetScanline(y), source.GetScanline(y),
                  static_cast<size_t>(source.RowLength()));
    return;
  }
  if (filter == rfProjectBW || filter == rfProjectWB) {
    target.Allocate(W2, H2, ie1g);
    Project(src, target, W2, H2, filter == rfProjectBW, progress);
    return;
  }
  TSamples out;
  if (filter == rfFastLinear || filter == rfBilinear || filter == rfBicubic) {
    if (sf == ie1g)
      BilevelInterpolate(src, out, W2, H2, progress);
    else if (filter == rfFastLinear)
      FastLinear(src, out, W2, H2, progress);
    else
      AreaResample(src, out, W2, H2, filter == rfBicubic, progress);
  } else {
    KernelResample(src, out, W2, H2, filter, progress);
  }
  src = TSamples();
  target.Allocate(W2, H2, format);
  FromSamples(out, target);
}

}  // namespace folivo
