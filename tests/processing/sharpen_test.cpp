// Folivo — multi-page TIFF editor.
// Gaussian blur and edge-guided sharpening.
#include "processing/sharpen.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/processing/fixtures.h"

namespace folivo {
namespace {

using test::Gray;
using test::MakeBits;
using test::MakeGray24;
using test::SamePixels;

TEST(BlurKernel, HalfWidths) {
  struct {
    double radius;
    int half;
  } cases[] = {{1, 4}, {4, 17}, {20, 79}, {0.01, 1}};
  for (auto c : cases) {
    const TBlurKernel k = MakeBlurKernel(c.radius);
    EXPECT_EQ(k.HalfWidth, c.half) << c.radius;
    int sum = 0;
    for (int w : k.Weights) sum += w;
    EXPECT_NEAR(sum, 65536, 101) << c.radius;
  }
}

TEST(Blur, StepFollowsTheExactGaussianWithEdgeRepeat) {
  // One row of 40 gray pixels: a step 20 -> 220 at 20; rows are equal, so
  // the vertical pass keeps them.
  std::vector<int> row(40);
  for (int x = 0; x < 40; ++x) row[x] = x < 20 ? 20 : 220;
  TIEBitmap b;
  MakeGray24(b, {row, row, row});
  BlurBitmap(b, 2.5, nullptr);
  double s = 0;
  for (int k = -100; k <= 100; ++k) s += std::exp(-(k / 2.5) * (k / 2.5) / 2);
  for (int x = 0; x < 40; ++x) {
    double want = 0;
    for (int k = -100; k <= 100; ++k)
      want += std::exp(-(k / 2.5) * (k / 2.5) / 2) / s * row[std::clamp(x + k, 0, 39)];
    for (int y = 0; y < 3; ++y) EXPECT_NEAR(Gray(b)[y][x], want, 1.0) << x;
  }
}

TEST(Blur, UniformStaysAndOneBitBecomesGrayWithSelection) {
  TViewState view;
  MakeGray24(view.Bitmap, std::vector<std::vector<int>>(12, std::vector<int>(9, 77)));
  TIEBitmap before;
  before.Assign(view.Bitmap);
  TImageProc proc(view);
  Blur(proc, 20);
  EXPECT_TRUE(SamePixels(view.Bitmap, before));
  EXPECT_EQ(proc.History().UndoEntry(0).Caption, "Blur 20");
  Blur(proc, 0);
  EXPECT_TRUE(SamePixels(view.Bitmap, before));
  EXPECT_EQ(proc.History().UndoEntry(1).Caption, "Blur 0");

  TViewState bits;
  MakeBits(bits.Bitmap, {"#.#.#.#.", "#.#.#.#.", "#.#.#.#."});
  bits.Select({4, 0, 8, 3});
  TImageProc p2(bits);
  Blur(p2, 1.5);
  ASSERT_EQ(bits.Bitmap.PixelFormat(), ie8g);
  EXPECT_EQ(p2.History().UndoEntry(0).Caption, "Blur 1.5");
  const auto g = Gray(bits.Bitmap);
  EXPECT_EQ(g[1][0], 0);  // outside: converted only
  EXPECT_EQ(g[1][1], 255);
  EXPECT_GT(g[1][4], 0);
  EXPECT_LT(g[1][5], 255);
}

TEST(AutoSharp, UniformStaysAndStrongEdgesOvershoot) {
  TViewState flat;
  MakeGray24(flat.Bitmap, std::vector<std::vector<int>>(20, std::vector<int>(20, 140)));
  TIEBitmap before;
  before.Assign(flat.Bitmap);
  TImageProc proc(flat);
  AutoSharp(proc, 68, 0.035);
  EXPECT_TRUE(SamePixels(flat.Bitmap, before));
  EXPECT_EQ(proc.History().UndoEntry(0).Caption, "AutoSharp");

  // A vertical step 80 | 170 in a 64 x 64 page: next to the step the dark
  // side goes darker and the bright side brighter; far from it nothing
  // changes.
  std::vector<std::vector<int>> rows(64, std::vector<int>(64));
  for (auto& r : rows)
    for (int x = 0; x < 64; ++x) r[x] = x < 32 ? 80 : 170;
  TViewState step;
  MakeGray24(step.Bitmap, rows);
  TImageProc p2(step);
  AutoSharp(p2, 68, 0.035);
  const auto g = Gray(step.Bitmap);
  EXPECT_LT(g[30][31], 80);
  EXPECT_GT(g[30][32], 170);
  EXPECT_EQ(g[30][16], 80);
  EXPECT_EQ(g[30][48], 170);
}

TEST(AutoSharp, EdgeMapBordersAndOtherFormats) {
  std::vector<std::vector<int>> rows(40, std::vector<int>(40, 200));
  for (int y = 10; y < 30; ++y)
    for (int x = 10; x < 30; ++x) rows[y][x] = 30;
  TIEBitmap b;
  MakeGray24(b, rows);
  TIEBitmap edges;
  ShenCastanEdges(b, 0.035, edges);
  ASSERT_EQ(edges.PixelFormat(), ie1g);
  const auto bits = test::Bits(edges);
  int black = 0;
  for (int y = 0; y < 40; ++y) {
    EXPECT_EQ(bits[y][0], '.');
    for (char c : bits[y]) black += c == '#';
  }
  EXPECT_EQ(bits[39], std::string(40, '.'));
  EXPECT_GT(black, 20);          // the square's outline is found
  EXPECT_EQ(bits[20][20], '.');  // flat inside

  // 1-bit and 8-bit pages are converted, not read as 24-bit rows.
  for (TPagePixelFormat f : {ie1g, ie8g}) {
    TViewState view;
    test::MakeRandom(view.Bitmap, 23, 9, f, 6);
    TImageProc proc(view);
    AutoSharp(proc, 68, 0.035);
    EXPECT_EQ(view.Bitmap.PixelFormat(), ie24RGB);
    EXPECT_EQ(view.Bitmap.Width(), 23);
  }
}

}  // namespace
}  // namespace folivo
