// Folivo — multi-page TIFF editor.
#include "processing/geometry.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "formats/colors.h"
#include "processing/parallel.h"

namespace folivo {

namespace {

constexpr double kPi = 3.1415926535897932385;

int BytesPerPixel(const TIEBitmap& b) {
  return b.BitCount() / 8;
}

bool GetBit(const uint8_t* row, int x) {
  return (row[x >> 3] >> (7 - (x & 7))) & 1;
}
void SetBit(uint8_t* row, int x, bool on) {
  const uint8_t mask = static_cast<uint8_t>(0x80 >> (x & 7));
  if (on)
    row[x >> 3] |= mask;
  else
    row[x >> 3] &= static_cast<uint8_t>(~mask);
}

// A new bitmap of the same format (palette and conversion settings too) in
// place of target.
void AllocateLike(const TIEBitmap& source, TIEBitmap& target, int w, int h) {
  target.SetLocation(source.Location());
  target.Allocate(w, h, source.PixelFormat());
  target.BWConversion = source.BWConversion;
  target.QuantizeColors = source.QuantizeColors;
  if (source.PixelFormat() == ie8p) {
    target.SetPaletteLength(source.PaletteLength());
    for (int i = 0; i < source.PaletteLength(); ++i)
      target.SetPaletteColor(i, source.GetPaletteColor(i));
  }
}

// The bytes of one pixel of colour in bitmap's format.
std::vector<uint8_t> FillPixel(const TIEBitmap& like, uint32_t color) {
  TIEBitmap one;
  one.SetLocation(ieMemory);
  one.Allocate(1, 1, like.PixelFormat());
  FillColor(one, color);
  const uint8_t* p = one.GetScanline(0);
  return std::vector<uint8_t>(p, p + std::max(1, BytesPerPixel(one)));
}

// page becomes result, with alpha (when given and of the same size) as its
// alpha channel.
void ReplaceKeepingAlpha(TIEBitmap& page, TIEBitmap& result, std::unique_ptr<TIEBitmap> alpha) {
  page.Assign(result);
  if (alpha && alpha->Width() == page.Width() && alpha->Height() == page.Height()) {
    TIEBitmap* a = page.AlphaChannel();
    for (int y = 0; y < a->Height(); ++y)
      std::memcpy(a->GetScanline(y), alpha->GetScanline(y), static_cast<size_t>(a->Width()));
  }
}

std::unique_ptr<TIEBitmap> TakeAlphaCopy(const TIEBitmap& page) {
  const TIEBitmap* a = page.AlphaChannelIfAny();
  if (!a) return nullptr;
  auto copy = std::make_unique<TIEBitmap>();
  copy->SetLocation(ieMemory);
  copy->Assign(*a);
  return copy;
}

void Progress(TIOProgress* progress, int64_t done, int64_t total) {
  if (!progress || total <= 0) return;
  progress->Done = done;
  progress->Report(100.0 / static_cast<double>(total));
}

// ---- Three shears on interleaved 8-bit samples -------------------------

struct TPlane {
  int w = 0, h = 0, n = 0;  // pixels and channels
  std::vector<uint8_t> px;
  uint8_t* Row(int y) { return px.data() + static_cast<size_t>(y) * w * n; }
  const uint8_t* Row(int y) const { return px.data() + static_cast<size_t>(y) * w * n; }
  void Resize(int width, int height, int channels) {
    w = width;
    h = height;
    n = channels;
    px.assign(static_cast<size_t>(w) * h * n, 0);
  }
};

// clamp(Round((p C + q (4096 - C) + 2048) / 4096)), ties to even, in integers.
inline uint8_t Blend(int p, int q, int c) {
  const int s = p * c + q * (4096 - c) + 2048;
  int f = s >> 12;
  const int r = s & 4095;
  f += (r > 2048) | ((r == 2048) & f);
  return static_cast<uint8_t>(f < 0 ? 0 : f > 255 ? 255 : f);
}

template <int N>
inline void BlendPixel(uint8_t* out, const uint8_t* p, const uint8_t* q, int c) {
  for (int i = 0; i < N; ++i) out[i] = Blend(p[i], q[i], c);
}

template <int N>
inline void CopyPixel(uint8_t* out, const uint8_t* q) {
  for (int i = 0; i < N; ++i) out[i] = q[i];
}

void PlaneFromBitmap(const TIEBitmap& b, int n, TPlane& plane) {
  plane.Resize(b.Width(), b.Height(), n);
  for (int y = 0; y < b.Height(); ++y)
    std::memcpy(plane.Row(y), b.GetScanline(y), static_cast<size_t>(b.Width()) * n);
}

// Exact quarter turns of a plane, blockwise so that the strided side stays
// in cache.
void TurnPlane(const TPlane& src, int turns, TPlane& dst) {
  const int W = src.w, H = src.h, n = src.n;
  if (turns == 2)
    dst.Resize(W, H, n);
  else
    dst.Resize(H, W, n);
  constexpr int kBlock = 64;
  for (int by = 0; by < dst.h; by += kBlock)
    for (int bx = 0; bx < dst.w; bx += kBlock)
      for (int r = by; r < std::min(dst.h, by + kBlock); ++r) {
        uint8_t* out = dst.Row(r);
        for (int c = bx; c < std::min(dst.w, bx + kBlock); ++c) {
          int sx, sy;
          if (turns == 1) {
            sx = W - 1 - r;
            sy = c;
          } else if (turns == 3) {
            sx = r;
            sy = H - 1 - c;
          } else {
            sx = W - 1 - c;
            sy = H - 1 - r;
          }
          std::memcpy(out + static_cast<size_t>(c) * n, src.Row(sy) + static_cast<size_t>(sx) * n,
                      n);
        }
      }
}

template <int N>
void ShearPasses(const TPlane& src, const TShearPlan& p, const uint8_t* fill, bool antialias,
                 TIEBitmap& out, TIOProgress* progress) {
  const int W = p.Width, H = p.Height, W1 = p.W1, H2 = p.H2, W2 = p.W2;
  const bool positive = p.Residual > 0;
  const int64_t total = static_cast<int64_t>(H) + W1 + H2;
  const int threads = PassThreads(static_cast<long long>(W1) * H2);

  // First pass: horizontal shear into W1 x H.
  TPlane b1;
  b1.Resize(W1, H, N);
  ParallelBands(
      H, threads,
      [&](int first, int last) {
        for (int y = first; y < last; ++y) {
          const double o = positive ? y * p.T : (H - y) * p.T;
          const double kd = std::nearbyint(o);
          const int k = static_cast<int>(kd);
          const int c = static_cast<int>(std::trunc((o - kd) * 4096));
          uint8_t* row = b1.Row(y);
          for (int x = 0; x < W1; ++x) CopyPixel<N>(row + x * N, fill);
          const uint8_t* s = src.Row(y);
          const uint8_t* carry = fill;
          for (int x = 0; x < W; ++x) {
            const int X = k + x;
            if (X < 0 || X >= W1) continue;
            if (antialias)
              BlendPixel<N>(row + X * N, carry, s + x * N, c);
            else
              CopyPixel<N>(row + X * N, s + x * N);
            carry = s + x * N;
          }
          if (antialias && c > 0 && k + W < W1 && k + W >= 0)
            BlendPixel<N>(row + (k + W) * N, carry, fill, c);
        }
      },
      [&](int done) { Progress(progress, done, total); });

  // Second pass: vertical shear into W1 x H2, computed row by row: the carry
  // of column x at source row y is row y - 1 when that was written, else the
  // fill colour.
  std::vector<int> k2(W1), c2(W1), ys(W1), ye(W1);
  for (int x = 0; x < W1; ++x) {
    const double o = positive ? (W1 - x) * p.S : x * p.S;
    const double kd = std::nearbyint(o);
    c2[x] = static_cast<int>(std::nearbyint((o - kd) * 4096));
    k2[x] = static_cast<int>(kd) - p.h;
    ys[x] = std::max(0, -k2[x]);
    ye[x] = std::min(H - 1, H2 - 1 - k2[x]);
  }
  TPlane b2;
  b2.Resize(W1, H2, N);
  ParallelBands(
      H2, threads,
      [&](int first, int last) {
        for (int r = first; r < last; ++r) {
          uint8_t* row = b2.Row(r);
          for (int x = 0; x < W1; ++x) {
            uint8_t* o = row + x * N;
            const int y = r - k2[x];
            if (y >= ys[x] && y <= ye[x]) {
              const uint8_t* q = b1.Row(y) + x * N;
              if (!antialias)
                CopyPixel<N>(o, q);
              else
                BlendPixel<N>(o, y > ys[x] ? b1.Row(y - 1) + x * N : fill, q, c2[x]);
            } else if (antialias && y == H && c2[x] > 0 && H + k2[x] < H2 && H + k2[x] >= 0) {
              BlendPixel<N>(o, ye[x] >= ys[x] ? b1.Row(ye[x]) + x * N : fill, fill, c2[x]);
            } else {
              CopyPixel<N>(o, fill);
            }
          }
        }
      },
      [&](int done) { Progress(progress, H + static_cast<int64_t>(done) * W1 / H2, total); });
  b1 = TPlane();

  // Third pass: horizontal shear into the page, W2 x H2.
  out.SetLocation(out.Location());
  out.Allocate(W2, H2, N == 3 ? ie24RGB : ie8g);
  std::vector<uint8_t*> rows(H2);
  for (int y = 0; y < H2; ++y) rows[y] = out.GetScanline(y);
  ParallelBands(
      H2, threads,
      [&](int first, int last) {
        for (int y = first; y < last; ++y) {
          const double o = positive ? y * p.T : (H2 - y) * p.T;
          const double kd = std::nearbyint(o);
          const int c = static_cast<int>(std::nearbyint((o - kd) * 4096));
          const int k = static_cast<int>(kd) - p.t;
          uint8_t* row = rows[y];
          for (int x = 0; x < W2; ++x) CopyPixel<N>(row + x * N, fill);
          const uint8_t* s = b2.Row(y);
          const uint8_t* carry = fill;
          const int x0 = std::max(0, -k), x1 = std::min(W1, W2 - k);
          for (int x = x0; x < x1; ++x) {
            if (antialias)
              BlendPixel<N>(row + (x + k) * N, carry, s + x * N, c);
            else
              CopyPixel<N>(row + (x + k) * N, s + x * N);
            carry = s + x * N;
          }
          if (antialias && c > 0 && k + W1 < W2 && k + W1 >= 0)
            BlendPixel<N>(row + (k + W1) * N, carry, fill, c);
        }
      },
      [&](int done) { Progress(progress, H + W1 + static_cast<int64_t>(done), total); });
}

void PlaneToBitmap(const TPlane& plane, TIEBitmap& b) {
  b.Allocate(plane.w, plane.h, plane.n == 3 ? ie24RGB : ie8g);
  for (int y = 0; y < plane.h; ++y)
    std::memcpy(b.GetScanline(y), plane.Row(y), static_cast<size_t>(plane.w) * plane.n);
}

// ---- Bilevel mapping ----------------------------------------------------

// Target pixel (x, y) of a W' x H' result takes source (v(y) + px[x],
// w(y) + qx[x]).
struct TBilevelMap {
  int W2 = 0, H2 = 0;
  std::vector<int> px, qx, v, w;
};

TBilevelMap PlanBilevel(int W, int H, double angleDeg) {
  TBilevelMap m;
  const double r = -angleDeg / 57.29577951308232;
  const double c = std::trunc(std::cos(r) * 10000) / 10000;
  const double s = std::trunc(std::sin(r) * 10000) / 10000;
  // A page never shrinks to nothing, even when four-decimal cosines say so.
  m.W2 = std::max(1, static_cast<int>(std::trunc(std::fabs(W * c) + std::fabs(H * s))));
  m.H2 = std::max(1, static_cast<int>(std::trunc(std::fabs(W * s) + std::fabs(H * c))));
  m.px.resize(m.W2);
  m.qx.resize(m.W2);
  for (int x = 0; x < m.W2; ++x) {
    const double dx = x - (m.W2 / 2.0 - 0.5);
    m.px[x] = static_cast<int>(std::trunc(dx * c));
    m.qx[x] = static_cast<int>(std::trunc(-dx * s));
  }
  m.v.resize(m.H2);
  m.w.resize(m.H2);
  for (int y = 0; y < m.H2; ++y) {
    const double dy = y - (m.H2 / 2.0 - 0.5);
    m.v[y] = static_cast<int>(std::trunc(dy * s + (W / 2.0 - 0.5)));
    m.w[y] = static_cast<int>(std::trunc(dy * c + (H / 2.0 - 0.5)));
  }
  return m;
}

}  // namespace

// ---- Public -------------------------------------------------------------

void FillColor(TIEBitmap& bitmap, uint32_t color) {
  if (bitmap.PixelFormat() == ie8g) {
    bitmap.Fill(Luminance(ColorRed(color), ColorGreen(color), ColorBlue(color)));
    return;
  }
  bitmap.Fill(static_cast<double>(color & 0xFFFFFF));
}

TShearPlan PlanThreeShear(int widthPx, int heightPx, double angleDeg) {
  TShearPlan p;
  double a = std::fmod(std::trunc(angleDeg * 1000), 360000.0) / 1000;
  int turns = 0;
  while (a > 45) {
    ++turns;
    a -= 90;
  }
  while (a < -45) {
    --turns;
    a += 90;
  }
  p.QuarterTurns = ((turns % 4) + 4) % 4;
  p.Residual = a;
  const bool swap = p.QuarterTurns % 2 == 1;
  p.Width = swap ? heightPx : widthPx;
  p.Height = swap ? widthPx : heightPx;
  if (a == 0) {
    p.W2 = p.W1 = p.Width;
    p.H2 = p.H1 = p.Height;
    return p;
  }
  const double theta = a * kPi / 180;
  const double W = p.Width, H = p.Height;
  p.T = std::fabs(std::sin(theta / 2) / std::cos(theta / 2));
  p.S = std::fabs(std::sin(theta));
  p.W1 = static_cast<int>(std::nearbyint(H * p.T + W + 1));
  p.h = static_cast<int>(std::nearbyint((p.W1 - W) * p.S));
  p.H1 = static_cast<int>(std::nearbyint(p.W1 * p.S + H + 1));
  p.t = static_cast<int>(std::nearbyint((p.H1 - H - p.h) * p.T));
  p.H2 = p.H1 - 2 * p.h;
  p.W2 = static_cast<int>(std::nearbyint(p.H2 * p.T + p.W1 + 1 - 2 * p.t));
  return p;
}

void RotateThreeShear(TIEBitmap& bitmap, double angleDeg, uint32_t fillColor, bool antialias,
                      TIOProgress* progress) {
  if (!std::isfinite(angleDeg) || bitmap.IsEmpty()) return;
  const int n = bitmap.PixelFormat() == ie24RGB ? 3 : bitmap.PixelFormat() == ie8g ? 1 : 0;
  if (n == 0) return;
  const TShearPlan plan = PlanThreeShear(bitmap.Width(), bitmap.Height(), angleDeg);
  if (plan.QuarterTurns == 0 && plan.Residual == 0) return;
  TPlane src;
  PlaneFromBitmap(bitmap, n, src);
  if (plan.QuarterTurns != 0) {
    TPlane turned;
    TurnPlane(src, plan.QuarterTurns, turned);
    src = std::move(turned);
  }
  if (plan.Residual == 0) {
    PlaneToBitmap(src, bitmap);
  } else {
    const uint8_t fill[3] = {ColorBlue(fillColor), ColorGreen(fillColor), ColorRed(fillColor)};
    const uint8_t gray[1] = {ColorRed(fillColor)};
    if (n == 3)
      ShearPasses<3>(src, plan, fill, antialias, bitmap, progress);
    else
      ShearPasses<1>(src, plan, gray, antialias, bitmap, progress);
  }
}

void RotateBilevelMethod(TIEBitmap& bitmap, double angleDeg, uint32_t fillColor,
                         TIOProgress* progress) {
  if (!std::isfinite(angleDeg) || bitmap.IsEmpty()) return;
  if (angleDeg == 90) return QuarterTurn(bitmap, 1);
  if (angleDeg == -90 || angleDeg == 270) return QuarterTurn(bitmap, 3);
  if (angleDeg == 180 || angleDeg == -180) return QuarterTurn(bitmap, 2);
  const int W = bitmap.Width(), H = bitmap.Height();
  const TBilevelMap m = PlanBilevel(W, H, angleDeg);
  TIEBitmap result;
  AllocateLike(bitmap, result, m.W2, m.H2);
  const bool bilevel = bitmap.PixelFormat() == ie1g;
  const bool white = ColorRed(fillColor) && ColorGreen(fillColor) && ColorBlue(fillColor);
  const std::vector<uint8_t> fill = bilevel ? std::vector<uint8_t>{} : FillPixel(bitmap, fillColor);
  const int bpp = BytesPerPixel(bitmap);
  std::vector<const uint8_t*> src(H);
  for (int y = 0; y < H; ++y) src[y] = bitmap.GetScanline(y);
  std::vector<uint8_t*> dst(m.H2);
  for (int y = 0; y < m.H2; ++y) dst[y] = result.GetScanline(y);
  ParallelBands(
      m.H2, PassThreads(static_cast<long long>(m.W2) * m.H2),
      [&](int first, int last) {
        for (int y = first; y < last; ++y) {
          uint8_t* out = dst[y];
          const int v = m.v[y], w = m.w[y];
          if (bilevel) {
            std::memset(out, 0, static_cast<size_t>(result.RowLength()));
            for (int x = 0; x < m.W2; ++x) {
              const int sx = v + m.px[x], sy = w + m.qx[x];
              const bool on =
                  (sx >= 0 && sx < W && sy >= 0 && sy < H) ? GetBit(src[sy], sx) : white;
              if (on) out[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
            }
          } else {
            for (int x = 0; x < m.W2; ++x) {
              const int sx = v + m.px[x], sy = w + m.qx[x];
              const uint8_t* from = (sx >= 0 && sx < W && sy >= 0 && sy < H)
                                        ? src[sy] + static_cast<size_t>(sx) * bpp
                                        : fill.data();
              std::memcpy(out + static_cast<size_t>(x) * bpp, from, bpp);
            }
          }
        }
      },
      [&](int done) { Progress(progress, done, m.H2); });
  bitmap.Assign(result);
}

void RotateNearest(TIEBitmap& bitmap, double angleDeg, uint32_t fillColor, TIOProgress* progress) {
  if (!std::isfinite(angleDeg) || bitmap.IsEmpty()) return;
  const double turns = angleDeg / 90;
  if (turns == std::trunc(turns)) {
    const int q = static_cast<int>(std::fmod(turns, 4.0));
    QuarterTurn(bitmap, ((q % 4) + 4) % 4);
    return;
  }
  const int W = bitmap.Width(), H = bitmap.Height();
  const double th = angleDeg * kPi / 180, cs = std::cos(th), sn = std::sin(th);
  const int W2 =
      std::max(1, static_cast<int>(std::nearbyint(std::fabs(W * cs) + std::fabs(H * sn))));
  const int H2 =
      std::max(1, static_cast<int>(std::nearbyint(std::fabs(W * sn) + std::fabs(H * cs))));
  TIEBitmap result;
  AllocateLike(bitmap, result, W2, H2);
  const std::vector<uint8_t> fill = FillPixel(bitmap, fillColor);
  const bool bilevel = bitmap.PixelFormat() == ie1g;
  const int bpp = BytesPerPixel(bitmap);
  for (int y = 0; y < H2; ++y) {
    uint8_t* out = result.GetScanline(y);
    const double dy = y + 0.5 - H2 / 2.0;
    for (int x = 0; x < W2; ++x) {
      const double dx = x + 0.5 - W2 / 2.0;
      // Inverse of the counter-clockwise turn in y-down coordinates.
      const double fx = dx * cs - dy * sn + W / 2.0, fy = dx * sn + dy * cs + H / 2.0;
      const int sx = static_cast<int>(std::floor(fx)), sy = static_cast<int>(std::floor(fy));
      const bool inside = sx >= 0 && sx < W && sy >= 0 && sy < H;
      if (bilevel)
        SetBit(out, x, inside ? GetBit(bitmap.GetScanline(sy), sx) : fill[0] != 0);
      else
        std::memcpy(out + static_cast<size_t>(x) * bpp,
                    inside ? bitmap.GetScanline(sy) + static_cast<size_t>(sx) * bpp : fill.data(),
                    bpp);
    }
    Progress(progress, y + 1, H2);
  }
  bitmap.Assign(result);
}

void RotatePage(TIEBitmap& page, double angleDeg, uint32_t fillColor, TIOProgress* progress) {
  if (angleDeg == 0 || !std::isfinite(angleDeg) || page.IsEmpty()) return;
  std::unique_ptr<TIEBitmap> alpha = TakeAlphaCopy(page);
  const TPagePixelFormat format = page.PixelFormat();
  if (format == ie24RGB) {
    RotateThreeShear(page, angleDeg, fillColor, true, progress);
    if (alpha) RotateThreeShear(*alpha, angleDeg, 0, true, nullptr);
  } else if (format == ie1g) {
    RotateBilevelMethod(page, angleDeg, fillColor, progress);
    if (alpha) RotateBilevelMethod(*alpha, angleDeg, 0, nullptr);
  } else {
    RotateNearest(page, angleDeg, fillColor, progress);
    if (alpha) RotateNearest(*alpha, angleDeg, 0, nullptr);
  }
  if (alpha) {
    TIEBitmap* a = page.AlphaChannel();
    CopyRect(*alpha, 0, 0, *a, 0, 0, alpha->Width(), alpha->Height());
  }
}

void QuarterTurn(TIEBitmap& bitmap, int turns) {
  turns = ((turns % 4) + 4) % 4;
  if (turns == 0 || bitmap.IsEmpty()) return;
  std::unique_ptr<TIEBitmap> alpha = TakeAlphaCopy(bitmap);
  const int W = bitmap.Width(), H = bitmap.Height();
  const int W2 = turns == 2 ? W : H, H2 = turns == 2 ? H : W;
  TIEBitmap result;
  AllocateLike(bitmap, result, W2, H2);
  const bool bilevel = bitmap.PixelFormat() == ie1g;
  const int bpp = BytesPerPixel(bitmap);
  std::vector<const uint8_t*> src(H);
  for (int y = 0; y < H; ++y) src[y] = bitmap.GetScanline(y);
  constexpr int kBlock = 64;
  for (int by = 0; by < H2; by += kBlock) {
    for (int bx = 0; bx < W2; bx += kBlock) {
      for (int r = by; r < std::min(H2, by + kBlock); ++r) {
        uint8_t* out = result.GetScanline(r);
        for (int c = bx; c < std::min(W2, bx + kBlock); ++c) {
          int sx, sy;
          if (turns == 1) {
            sx = W - 1 - r;
            sy = c;
          } else if (turns == 3) {
            sx = r;
            sy = H - 1 - c;
          } else {
            sx = W - 1 - c;
            sy = H - 1 - r;
          }
          if (bilevel)
            SetBit(out, c, GetBit(src[sy], sx));
          else
            std::memcpy(out + static_cast<size_t>(c) * bpp, src[sy] + static_cast<size_t>(sx) * bpp,
                        bpp);
        }
      }
    }
  }
  bitmap.Assign(result);
  if (alpha) {
    QuarterTurn(*alpha, turns);
    TIEBitmap* a = bitmap.AlphaChannel();
    CopyRect(*alpha, 0, 0, *a, 0, 0, alpha->Width(), alpha->Height());
  }
}

namespace {

uint8_t ReverseByte(uint8_t b) {
  b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
  b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
  return static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

void FlipRows(TIEBitmap& b, int direction) {
  const int W = b.Width(), H = b.Height();
  if (direction == 1) {
    std::vector<uint8_t> tmp(static_cast<size_t>(b.RowLength()));
    for (int y = 0; y < H / 2; ++y) {
      uint8_t* a = b.GetScanline(y);
      uint8_t* c = b.GetScanline(H - 1 - y);
      std::memcpy(tmp.data(), a, tmp.size());
      std::memcpy(a, c, tmp.size());
      std::memcpy(c, tmp.data(), tmp.size());
    }
    return;
  }
  if (b.PixelFormat() == ie1g) {
    const int bytes = (W + 7) / 8;
    const int shift = (8 - W % 8) % 8;
    std::vector<uint8_t> tmp(bytes + 1);
    for (int y = 0; y < H; ++y) {
      uint8_t* row = b.GetScanline(y);
      for (int i = 0; i < bytes; ++i) tmp[i] = ReverseByte(row[bytes - 1 - i]);
      tmp[bytes] = 0;
      for (int i = 0; i < bytes; ++i)
        row[i] = shift ? static_cast<uint8_t>(tmp[i] << shift | tmp[i + 1] >> (8 - shift)) : tmp[i];
    }
    return;
  }
  const int bpp = BytesPerPixel(b);
  uint8_t t[8];
  for (int y = 0; y < H; ++y) {
    uint8_t* row = b.GetScanline(y);
    for (int x = 0; x < W / 2; ++x) {
      uint8_t* p = row + static_cast<size_t>(x) * bpp;
      uint8_t* q = row + static_cast<size_t>(W - 1 - x) * bpp;
      std::memcpy(t, p, bpp);
      std::memcpy(p, q, bpp);
      std::memcpy(q, t, bpp);
    }
  }
}

}  // namespace

void FlipBitmap(TIEBitmap& bitmap, int direction) {
  if (bitmap.IsEmpty() || (direction != 0 && direction != 1)) return;
  FlipRows(bitmap, direction);
  if (bitmap.HasAlphaChannel()) FlipRows(*bitmap.AlphaChannel(), direction);
}

void CopyRect(const TIEBitmap& source, int sx, int sy, TIEBitmap& target, int dx, int dy, int w,
              int h) {
  if (source.PixelFormat() != target.PixelFormat() || source.IsEmpty() || target.IsEmpty()) return;
  // Clip against both bitmaps.
  if (sx < 0) {
    w += sx;
    dx -= sx;
    sx = 0;
  }
  if (sy < 0) {
    h += sy;
    dy -= sy;
    sy = 0;
  }
  if (dx < 0) {
    w += dx;
    sx -= dx;
    dx = 0;
  }
  if (dy < 0) {
    h += dy;
    sy -= dy;
    dy = 0;
  }
  w = std::min({w, source.Width() - sx, target.Width() - dx});
  h = std::min({h, source.Height() - sy, target.Height() - dy});
  if (w <= 0 || h <= 0) return;
  const bool bilevel = source.PixelFormat() == ie1g;
  const int bpp = BytesPerPixel(source);
  for (int y = 0; y < h; ++y) {
    const uint8_t* s = source.GetScanline(sy + y);
    uint8_t* d = target.GetScanline(dy + y);
    if (!bilevel) {
      std::memcpy(d + static_cast<size_t>(dx) * bpp, s + static_cast<size_t>(sx) * bpp,
                  static_cast<size_t>(w) * bpp);
      continue;
    }
    int x = 0;
    // Bit by bit up to a target byte boundary, then whole shifted bytes.
    while (x < w && ((dx + x) & 7)) {
      SetBit(d, dx + x, GetBit(s, sx + x));
      ++x;
    }
    const int shift = (sx + x) & 7;
    while (w - x >= 8) {
      const int si = (sx + x) >> 3;
      uint8_t v = s[si];
      if (shift) v = static_cast<uint8_t>(v << shift | s[si + 1] >> (8 - shift));
      d[(dx + x) >> 3] = v;
      x += 8;
    }
    for (; x < w; ++x) SetBit(d, dx + x, GetBit(s, sx + x));
  }
}

void ResizeCanvas(TIEBitmap& bitmap, int newWidth, int newHeight, int hAlign, int vAlign,
                  uint32_t fillColor) {
  if (newWidth <= 0 || newHeight <= 0 || bitmap.IsEmpty()) return;
  const int W = bitmap.Width(), H = bitmap.Height();
  auto place = [](int from, int to, int align, int& src, int& dst) {
    src = dst = 0;
    if (to < from)
      src = align == 1 ? (from - to) / 2 : align == 2 ? from - to : 0;
    else
      dst = align == 1 ? (to - from) / 2 : align == 2 ? to - from : 0;
  };
  int sx, dx, sy, dy;
  place(W, newWidth, hAlign, sx, dx);
  place(H, newHeight, vAlign, sy, dy);
  TIEBitmap result;
  AllocateLike(bitmap, result, newWidth, newHeight);
  FillColor(result, fillColor);
  CopyRect(bitmap, sx, sy, result, dx, dy, std::min(W, newWidth), std::min(H, newHeight));
  std::unique_ptr<TIEBitmap> alpha = TakeAlphaCopy(bitmap);
  if (alpha) {
    TIEBitmap a;
    a.SetLocation(ieMemory);
    a.Allocate(newWidth, newHeight, ie8g);
    a.Fill(255);
    CopyRect(*alpha, sx, sy, a, dx, dy, std::min(W, newWidth), std::min(H, newHeight));
    alpha = std::make_unique<TIEBitmap>();
    alpha->Assign(a);
  }
  ReplaceKeepingAlpha(bitmap, result, std::move(alpha));
}

}  // namespace folivo
