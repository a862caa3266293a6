// Folivo — multi-page TIFF editor.
#include "processing/deskew.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>

#include "formats/colors.h"
#include "processing/geometry.h"
#include "processing/resample.h"

namespace folivo {

namespace {

constexpr double kPi = 3.1415926535897932385;

double ProfileScore(const std::vector<long long>& profile) {
  if (profile.size() < 2) return 0;
  const long long m = *std::max_element(profile.begin(), profile.end());
  std::vector<double> p(profile.size(), 0.0);
  if (m != 0)
    for (size_t i = 0; i < profile.size(); ++i)
      p[i] = std::trunc(static_cast<double>(profile[i]) / static_cast<double>(m) * 1000);
  double sum = 0;
  for (size_t i = 0; i + 1 < p.size(); ++i) sum += (p[i + 1] - p[i]) * (p[i + 1] - p[i]);
  return std::trunc(sum);
}

// Per-pixel weights the profile adds: 1-bit 0/1, 24-bit luminance.
struct TWeights {
  int w = 0, h = 0;
  std::vector<uint8_t> v;
  const uint8_t* Row(int y) const { return v.data() + static_cast<size_t>(y) * w; }
};

TWeights Weights(const TIEBitmap& b) {
  TWeights g;
  g.w = b.Width();
  g.h = b.Height();
  g.v.resize(static_cast<size_t>(g.w) * g.h);
  for (int y = 0; y < g.h; ++y) {
    const uint8_t* row = b.GetScanline(y);
    uint8_t* out = g.v.data() + static_cast<size_t>(y) * g.w;
    if (b.PixelFormat() == ie1g)
      for (int x = 0; x < g.w; ++x) out[x] = (row[x >> 3] >> (7 - (x & 7))) & 1;
    else
      for (int x = 0; x < g.w; ++x) out[x] = Luminance(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
  }
  return g;
}

TWeights Turn(const TWeights& g, int turns) {
  TWeights t;
  t.w = turns == 2 ? g.w : g.h;
  t.h = turns == 2 ? g.h : g.w;
  t.v.resize(g.v.size());
  for (int r = 0; r < t.h; ++r)
    for (int c = 0; c < t.w; ++c) {
      int sx, sy;
      if (turns == 1) {
        sx = g.w - 1 - r;
        sy = c;
      } else if (turns == 3) {
        sx = r;
        sy = g.h - 1 - c;
      } else {
        sx = g.w - 1 - c;
        sy = g.h - 1 - r;
      }
      t.v[static_cast<size_t>(r) * t.w + c] = g.Row(sy)[sx];
    }
  return t;
}

std::vector<long long> RowSums(const TWeights& g) {
  std::vector<long long> p(g.h, 0);
  for (int y = 0; y < g.h; ++y) {
    const uint8_t* row = g.Row(y);
    long long s = 0;
    for (int x = 0; x < g.w; ++x) s += row[x];
    p[y] = s;
  }
  return p;
}

// The three shears without blending move pixel (x, y) to
// (x + k1(y), y + k2(X)) and then (X + k3(Y), Y); a pixel that leaves a
// buffer on the way is dropped, exactly as the passes drop it.
std::vector<long long> ShearProfile(const TWeights& g, const TShearPlan& p) {
  const bool positive = p.Residual > 0;
  const int W = p.Width, H = p.Height;
  std::vector<int> k1(H), k2(p.W1), k3(p.H2);
  for (int y = 0; y < H; ++y)
    k1[y] = static_cast<int>(std::nearbyint(positive ? y * p.T : (H - y) * p.T));
  for (int x = 0; x < p.W1; ++x)
    k2[x] = static_cast<int>(std::nearbyint(positive ? (p.W1 - x) * p.S : x * p.S)) - p.h;
  for (int y = 0; y < p.H2; ++y)
    k3[y] = static_cast<int>(std::nearbyint(positive ? y * p.T : (p.H2 - y) * p.T)) - p.t;
  std::vector<long long> profile(p.H2, 0);
  for (int y = 0; y < H; ++y) {
    const uint8_t* row = g.Row(y);
    const int x0 = std::max(0, -k1[y]), x1 = std::min(W, p.W1 - k1[y]);
    for (int x = x0; x < x1; ++x) {
      const uint8_t v = row[x];
      if (!v) continue;
      const int X = x + k1[y];
      const int Y = y + k2[X];
      if (Y < 0 || Y >= p.H2) continue;
      const int x3 = X + k3[Y];
      if (x3 < 0 || x3 >= p.W2) continue;
      profile[Y] += v;
    }
  }
  return profile;
}

// The general bilevel mapping, counting the white source pixels that land
// in each target row (black fill adds nothing).
std::vector<long long> BilevelProfile(const TWeights& g, double angleDeg) {
  const int W = g.w, H = g.h;
  const double r = -angleDeg / 57.29577951308232;
  const double c = std::trunc(std::cos(r) * 10000) / 10000;
  const double s = std::trunc(std::sin(r) * 10000) / 10000;
  const int W2 = std::max(1, static_cast<int>(std::trunc(std::fabs(W * c) + std::fabs(H * s))));
  const int H2 = std::max(1, static_cast<int>(std::trunc(std::fabs(W * s) + std::fabs(H * c))));
  std::vector<int> px(W2), qx(W2);
  for (int x = 0; x < W2; ++x) {
    const double dx = x - (W2 / 2.0 - 0.5);
    px[x] = static_cast<int>(std::trunc(dx * c));
    qx[x] = static_cast<int>(std::trunc(-dx * s));
  }
  std::vector<long long> profile(H2, 0);
  for (int y = 0; y < H2; ++y) {
    const double dy = y - (H2 / 2.0 - 0.5);
    const int v = static_cast<int>(std::trunc(dy * s + (W / 2.0 - 0.5)));
    const int w = static_cast<int>(std::trunc(dy * c + (H / 2.0 - 0.5)));
    long long sum = 0;
    for (int x = 0; x < W2; ++x) {
      const int sx = v + px[x], sy = w + qx[x];
      if (static_cast<unsigned>(sx) < static_cast<unsigned>(W) &&
          static_cast<unsigned>(sy) < static_cast<unsigned>(H))
        sum += g.v[static_cast<size_t>(sy) * W + sx];
    }
    profile[y] = sum;
  }
  return profile;
}

double ScoreAt(const TWeights& g, bool bilevel, double angleDeg) {
  if (angleDeg == 0 || !std::isfinite(angleDeg)) return ProfileScore(RowSums(g));
  if (bilevel) {
    int turns = -1;
    if (angleDeg == 90) turns = 1;
    if (angleDeg == -90 || angleDeg == 270) turns = 3;
    if (angleDeg == 180 || angleDeg == -180) turns = 2;
    if (turns > 0) return ProfileScore(RowSums(Turn(g, turns)));
    return ProfileScore(BilevelProfile(g, angleDeg));
  }
  const TShearPlan plan = PlanThreeShear(g.w, g.h, angleDeg);
  if (plan.QuarterTurns == 0) {
    if (plan.Residual == 0) return ProfileScore(RowSums(g));
    return ProfileScore(ShearProfile(g, plan));
  }
  const TWeights t = Turn(g, plan.QuarterTurns);
  if (plan.Residual == 0) return ProfileScore(RowSums(t));
  return ProfileScore(ShearProfile(t, plan));
}

}  // namespace

std::vector<double> SkewCandidates(int angleRange, double angleStep) {
  std::vector<double> c;
  if (!(angleStep > 0) || !std::isfinite(angleStep)) return c;
  const double d = angleRange / 2.0;
  if (d / angleStep > kMaxSkewCandidates / 2) return c;
  c.push_back(0);
  for (double o = -angleStep; std::fabs(o) < d; o -= angleStep) c.push_back(o);
  for (double o = angleStep; std::fabs(o) < d; o += angleStep) c.push_back(o);
  return c;
}

double SkewScore(const TIEBitmap& bitmap) {
  if (bitmap.IsEmpty() || (bitmap.PixelFormat() != ie1g && bitmap.PixelFormat() != ie24RGB))
    return 0;
  return ProfileScore(RowSums(Weights(bitmap)));
}

double RotatedSkewScore(const TIEBitmap& working, double angleDeg) {
  if (working.IsEmpty() || (working.PixelFormat() != ie1g && working.PixelFormat() != ie24RGB))
    return 0;
  return ScoreAt(Weights(working), working.PixelFormat() == ie1g, angleDeg);
}

double DetectSkew(const TIEBitmap& bitmap, int angleRange, bool useAsGiven, double angleStep,
                  double startAngle, int threads) {
  const std::vector<double> offsets = SkewCandidates(angleRange, angleStep);
  if (offsets.empty() || bitmap.IsEmpty() ||
      (bitmap.PixelFormat() != ie1g && bitmap.PixelFormat() != ie24RGB))
    return startAngle;
  TWeights g;
  bool bilevel = bitmap.PixelFormat() == ie1g;
  if (useAsGiven) {
    g = Weights(bitmap);
  } else {
    const int w = std::max(bitmap.Width() / 8, 256);
    const int h = std::max(
        1, static_cast<int>(std::trunc(static_cast<double>(bitmap.Height()) / bitmap.Width() * w)));
    TIEBitmap reduced;
    reduced.SetLocation(ieMemory);
    ResampleBitmap(bitmap, reduced, w, h, rfFastLinear);
    if (reduced.PixelFormat() != ie24RGB) reduced.ConvertTo(ie24RGB);
    g = Weights(reduced);
    bilevel = false;
  }
  std::vector<double> scores(offsets.size(), 0.0);
  if (threads <= 0)
    threads = static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 8u));
  threads = std::min<int>(threads, static_cast<int>(offsets.size()));
  auto work = [&](int t) {
    for (size_t i = t; i < offsets.size(); i += threads)
      scores[i] = ScoreAt(g, bilevel, startAngle + offsets[i]);
  };
  std::vector<std::thread> pool;
  for (int t = 1; t < threads; ++t) pool.emplace_back(work, t);
  work(0);
  for (std::thread& t : pool) t.join();
  double best = 0, bestOffset = 0;
  for (size_t i = 0; i < offsets.size(); ++i)
    if (scores[i] > best) {
      best = scores[i];
      bestOffset = offsets[i];
    }
  return startAngle + bestOffset;
}

bool RotateAndCropSize(int W0, int H0, double angleDeg, int& cropWidth, int& cropHeight) {
  if (W0 < 1 || H0 < 1 || !std::isfinite(angleDeg)) return false;
  const double r = std::fabs(angleDeg * kPi / 180);
  const double cr = std::cos(r), sr = std::sin(r);
  const int n = static_cast<int>(
      std::trunc(std::sqrt(static_cast<double>(W0) * W0 + static_cast<double>(H0) * H0)));
  for (int j = 1; j <= n; ++j) {
    // o is i cr + j sr up to rounding and grows with i, so only a few i can
    // bring it within one pixel of H0; the others are skipped unevaluated.
    int iFirst = 1, iLast = n;
    if (cr > 0.1) {
      iFirst = std::max(1, static_cast<int>(std::floor((H0 - 1 - j * sr) / cr)) - 2);
      iLast = std::min(n, static_cast<int>(std::ceil((H0 + 2 - j * sr) / cr)) + 2);
    }
    for (int i = iFirst; i <= iLast; ++i) {
      const double q = static_cast<double>(j) / i;
      const int m = static_cast<int>(std::trunc(j * cr + (j / q) * sr));
      const int o = static_cast<int>(std::trunc(i * cr + (i * q) * sr));
      if (m >= W0 - 1 && m <= W0 + 1 && o >= H0 - 1 && o <= H0 + 1) {
        cropWidth = j;
        cropHeight = i;
        return true;
      }
    }
  }
  return false;
}

}  // namespace folivo
