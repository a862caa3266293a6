// Folivo — multi-page TIFF editor.
// Rotation, mirroring, canvas size and crop: sizes and pixels worked out by
// hand or by an independent evaluation of the arithmetic.
#include "processing/geometry.h"

#include <gtest/gtest.h>

#include <cstring>

#include "processing/imageproc.h"
#include "tests/processing/fixtures.h"

namespace folivo {
namespace {

using test::Bits;
using test::MakeBits;
using test::MakeRandom;
using test::MakeRgb;
using test::Rgb;
using test::SamePixels;

TEST(ThreeShear, SizesOfThePasses) {
  struct {
    int w, h;
    double angle;
    int turns;
    double residual;
    int W1, h_, H1, t, H2, W2;
  } cases[] = {
      {100, 40, 10, 0, 10, 104, 1, 59, 2, 57, 106},
      {100, 40, -10, 0, -10, 104, 1, 59, 2, 57, 106},
      {100, 40, 45, 0, 45, 118, 13, 124, 29, 98, 102},  // 45 is not above 45
      {100, 40, 46, 1, -44, 81, 28, 157, 12, 101, 99},  // a quarter turn, then -44
      {640, 480, 2.5, 0, 2.5, 651, 0, 509, 1, 509, 661},
      {7, 5, -30, 0, -30, 9, 1, 10, 1, 8, 10},
      {2480, 3508, 0.5, 0, 0.5, 2496, 0, 3531, 0, 3531, 2512},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.angle);
    const TShearPlan p = PlanThreeShear(c.w, c.h, c.angle);
    EXPECT_EQ(p.QuarterTurns, c.turns);
    EXPECT_DOUBLE_EQ(p.Residual, c.residual);
    EXPECT_EQ(p.W1, c.W1);
    EXPECT_EQ(p.h, c.h_);
    EXPECT_EQ(p.H1, c.H1);
    EXPECT_EQ(p.t, c.t);
    EXPECT_EQ(p.H2, c.H2);
    EXPECT_EQ(p.W2, c.W2);
  }
  // Cut to thousandths, then reduced: 360.0004 is 0 and -359.9999 is -359.999.
  EXPECT_EQ(PlanThreeShear(10, 10, 360.0004).Residual, 0);
  EXPECT_EQ(PlanThreeShear(10, 10, 0.0004).Residual, 0);
  EXPECT_NEAR(PlanThreeShear(10, 10, -359.9999).Residual, 0.001, 1e-12);
}

TEST(ThreeShear, SmallRotationPixelByPixel) {
  TIEBitmap b;
  MakeRgb(b, {{{10, 20, 30}, {200, 100, 50}, {255, 255, 255}},
              {{0, 0, 0}, {90, 91, 92}, {17, 33, 250}}});
  TIEBitmap ccw;
  ccw.Assign(b);
  RotateThreeShear(ccw, 10, 0xA4A0A0, true, nullptr);
  using R = std::vector<std::vector<test::TBgr>>;
  const test::TBgr f{164, 160, 160};
  EXPECT_EQ(Rgb(ccw),
            (R{{f, f, {224, 222, 222}, f, f},
               {{15, 14, 14}, {199, 66, 0}, {115, 112, 223}, {151, 148, 174}, {164, 160, 161}},
               {{43, 39, 37}, {26, 66, 86}, {101, 111, 172}, {154, 152, 167}, {164, 160, 161}},
               {f, f, f, f, f}}));
  TIEBitmap cw;
  cw.Assign(b);
  RotateThreeShear(cw, -20, 0, true, nullptr);
  const test::TBgr k{0, 0, 0};
  EXPECT_EQ(Rgb(cw), (R{{k, {11, 19, 26}, {113, 59, 32}, k, k, k},
                        {k, k, {142, 109, 96}, {255, 255, 255}, {10, 10, 16}, k},
                        {k, {17, 17, 17}, {10, 10, 162}, {4, 6, 114}, {3, 4, 17}, k},
                        {k, k, k, {1, 1, 2}, {1, 1, 1}, k}}));
}

TEST(Rotate, QuarterTurnOfA24BitPage) {
  TIEBitmap b;
  MakeRandom(b, 100, 40, ie24RGB, 1);
  TIEBitmap r;
  r.Assign(b);
  RotatePage(r, 90, 0, nullptr);
  ASSERT_EQ(r.Width(), 40);
  ASSERT_EQ(r.Height(), 100);
  // The top-right pixel is now top-left; nothing is blended.
  EXPECT_EQ(0, std::memcmp(r.GetScanline(0), b.GetScanline(0) + 3 * 99, 3));
  for (int x = 0; x < 100; ++x)
    for (int y = 0; y < 40; ++y)
      ASSERT_EQ(0, std::memcmp(r.GetScanline(99 - x) + 3 * y, b.GetScanline(y) + 3 * x, 3));
}

TEST(Rotate, FourQuarterTurnsGiveThePageBack) {
  for (TPagePixelFormat f : {ie1g, ie8g, ie24RGB, ie16g, ieCMYK}) {
    SCOPED_TRACE(PixelFormatName(f));
    TIEBitmap b;
    MakeRandom(b, 13, 7, f, 5);
    TIEBitmap r;
    r.Assign(b);
    for (int i = 0; i < 4; ++i) RotatePage(r, 90, 0xFFFFFF, nullptr);
    EXPECT_TRUE(SamePixels(r, b));
    // 180 twice, and -90 after 90, too.
    RotatePage(r, 180, 0, nullptr);
    RotatePage(r, 180, 0, nullptr);
    RotatePage(r, 90, 0, nullptr);
    RotatePage(r, -90, 0, nullptr);
    EXPECT_TRUE(SamePixels(r, b));
  }
}

TEST(Rotate, TinyAnglesAndFullTurns) {
  TIEBitmap rgb;
  MakeRandom(rgb, 9, 6, ie24RGB, 2);
  for (double a : {0.0004, 360.0, -720.0}) {
    TIEBitmap r;
    r.Assign(rgb);
    RotatePage(r, a, 0, nullptr);
    EXPECT_TRUE(SamePixels(r, rgb)) << a;
  }
  // The bilevel path is not reduced: 0.0004 gives a cosine of 0.9999 and the
  // page loses a column.
  TIEBitmap bits;
  MakeRandom(bits, 9, 7, ie1g, 3);
  TIEBitmap r;
  r.Assign(bits);
  RotatePage(r, 0.0004, 0xFFFFFF, nullptr);
  EXPECT_EQ(r.Width(), 8);
  EXPECT_EQ(r.Height(), 6);
  // 360 on odd sizes: unchanged.
  r.Assign(bits);
  RotatePage(r, 360, 0xFFFFFF, nullptr);
  EXPECT_TRUE(SamePixels(r, bits));
  // Even width: the column right of the centre repeats its neighbour and the
  // last column drops out.
  TIEBitmap even;
  MakeBits(even, {"#..#", ".#.#", "##.."});
  RotatePage(even, 360, 0xFFFFFF, nullptr);
  EXPECT_EQ(Bits(even), (std::vector<std::string>{"#...", ".##.", "###."}));
}

TEST(Rotate, BilevelCornersFollowTheFill) {
  struct {
    uint32_t fill;
    bool white;
  } cases[] = {{0xFFFFFF, true}, {0xA4A0A0, true}, {0x000000, false}, {0x0000FF, false}};
  for (const auto& c : cases) {
    TIEBitmap b;
    MakeBits(b, std::vector<std::string>(50, std::string(80, '#')));
    RotatePage(b, 2, c.fill, nullptr);
    const auto rows = Bits(b);
    EXPECT_EQ(rows.front().front() == '.', c.white) << std::hex << c.fill;
    EXPECT_EQ(rows.back().back() == '.', c.white) << std::hex << c.fill;
    EXPECT_EQ(rows[rows.size() / 2][rows[0].size() / 2], '#');
  }
}

TEST(Rotate, AlphaFollowsThePage) {
  TIEBitmap b;
  MakeRandom(b, 20, 10, ie24RGB, 4);
  TIEBitmap* a = b.AlphaChannel();
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 20; ++x) a->GetScanline(y)[x] = x < 10 ? 255 : 0;
  RotatePage(b, 90, 0, nullptr);
  ASSERT_TRUE(b.HasAlphaChannel());
  ASSERT_EQ(b.AlphaChannelIfAny()->Width(), 10);
  // The right half went to the top.
  EXPECT_EQ(b.AlphaChannelIfAny()->GetScanline(0)[0], 0);
  EXPECT_EQ(b.AlphaChannelIfAny()->GetScanline(19)[0], 255);
  RotatePage(b, 5, 0, nullptr);
  ASSERT_TRUE(b.HasAlphaChannel());
  EXPECT_EQ(b.AlphaChannelIfAny()->Width(), b.Width());
  EXPECT_EQ(b.AlphaChannelIfAny()->GetScanline(0)[0], 0);  // rotated in with fill 0
}

TEST(Flip, BilevelRowsOfOddWidthsAndOtherFormats) {
  TIEBitmap b;
  MakeBits(b, {"#.........", "..##.#...#"});
  FlipBitmap(b, 0);
  EXPECT_EQ(Bits(b), (std::vector<std::string>{".........#", "#...#.##.."}));
  FlipBitmap(b, 1);
  EXPECT_EQ(Bits(b), (std::vector<std::string>{"#...#.##..", ".........#"}));
  for (TPagePixelFormat f : {ie8g, ie24RGB, ie16g, ieRGB48}) {
    TIEBitmap r;
    MakeRandom(r, 5, 3, f, 7);
    TIEBitmap m;
    m.Assign(r);
    FlipBitmap(m, 0);
    const int bpp = r.BitCount() / 8;
    EXPECT_EQ(0, std::memcmp(m.GetScanline(1), r.GetScanline(1) + 4 * bpp, bpp))
        << PixelFormatName(f);
    FlipBitmap(m, 0);
    EXPECT_TRUE(SamePixels(m, r));
  }
}

TEST(CopyRect, BilevelAtEveryBitOffset) {
  TIEBitmap src;
  MakeRandom(src, 37, 3, ie1g, 9);
  for (int sx = 0; sx < 9; ++sx)
    for (int dx = 0; dx < 9; ++dx) {
      TIEBitmap dst;
      dst.Allocate(40, 3, ie1g);
      dst.Fill(0);
      CopyRect(src, sx, 0, dst, dx, 0, 25, 3);
      const auto s = Bits(src), d = Bits(dst);
      for (int y = 0; y < 3; ++y) {
        ASSERT_EQ(d[y].substr(dx, 25), s[y].substr(sx, 25)) << sx << ' ' << dx;
        ASSERT_EQ(d[y].substr(0, dx), std::string(dx, '#'));
        ASSERT_EQ(d[y].substr(dx + 25), std::string(40 - dx - 25, '#'));
      }
    }
}

TEST(ResizeCanvas, OffsetsByAlignment) {
  // Columns hold their index so the kept range is visible.
  TIEBitmap b;
  b.Allocate(10, 1, ie8g);
  for (int x = 0; x < 10; ++x) b.GetScanline(0)[x] = static_cast<uint8_t>(x);
  struct {
    int w, align;
    std::vector<int> want;  // -1 = fill
  } cases[] = {
      {7, 0, {0, 1, 2, 3, 4, 5, 6}},
      {7, 1, {1, 2, 3, 4, 5, 6, 7}},  // W - 3: one column off the left, two off the right
      {7, 2, {3, 4, 5, 6, 7, 8, 9}},
      {13, 0, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, -1, -1, -1}},
      {13, 1, {-1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, -1, -1}},
      {13, 2, {-1, -1, -1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
  };
  for (const auto& c : cases) {
    TIEBitmap r;
    r.Assign(b);
    ResizeCanvas(r, c.w, 1, c.align, 0, MakeColor(200, 200, 200));
    ASSERT_EQ(r.Width(), c.w);
    for (int x = 0; x < c.w; ++x)
      EXPECT_EQ(r.GetScanline(0)[x], c.want[x] < 0 ? 200 : c.want[x]) << c.w << ' ' << c.align;
  }
  // The alpha channel moves along and its new area is opaque.
  TIEBitmap a;
  MakeRandom(a, 4, 4, ie24RGB, 1);
  a.AlphaChannel()->Fill(0);
  ResizeCanvas(a, 6, 2, 1, 2, 0);
  EXPECT_EQ(a.AlphaChannelIfAny()->GetScanline(0)[0], 255);
  EXPECT_EQ(a.AlphaChannelIfAny()->GetScanline(1)[1], 0);
  EXPECT_EQ(a.AlphaChannelIfAny()->GetScanline(1)[5], 255);
}

}  // namespace
}  // namespace folivo
