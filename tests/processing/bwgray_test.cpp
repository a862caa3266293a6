// Folivo — multi-page TIFF editor.
// Error diffusion to black and white, and gray conversion.
#include "processing/bwgray.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/processing/fixtures.h"

namespace folivo {
namespace {

using test::Bits;
using test::MakeBits;
using test::MakeGray24;
using test::MakeRgb;
using test::Rgb;

TEST(FloydSteinberg, MidGrayFirstPixelsAndSerpentineRows) {
  TViewState view;
  MakeGray24(view.Bitmap, std::vector<std::vector<int>>(3, std::vector<int>(3, 128)));
  TImageProc proc(view);
  ConvertToBW_FloyedSteinberg(proc);
  ASSERT_EQ(view.Bitmap.PixelFormat(), ie1g);
  // Worked by hand: row 0 left to right (white, then 72 -> black, ...),
  // row 1 right to left, which starts from the right-hand error.
  const auto rows = Bits(view.Bitmap);
  EXPECT_EQ(rows[0].substr(0, 2), ".#");
  EXPECT_EQ(proc.History().UndoEntry(0).Caption, "ConvertToBW_FloyedSteinberg");
}

// Error diffusion over a full error grid, walking serpentine or raster.
std::vector<std::string> Diffuse(const TIEBitmap& rgb, bool serpentine) {
  const int w = rgb.Width(), h = rgb.Height();
  std::vector<std::vector<double>> err(h + 1, std::vector<double>(w, 0.0));
  std::vector<std::string> out(h, std::string(w, '#'));
  for (int y = 0; y < h; ++y) {
    const int d = serpentine && y % 2 ? -1 : 1;
    for (int i = 0; i < w; ++i) {
      const int x = d > 0 ? i : w - 1 - i;
      const uint8_t* p = rgb.GetScanline(y) + 3 * x;
      const double g = (21 * p[2] + 71 * p[1] + 8 * p[0]) / 100;
      const double o = std::floor(g + err[y][x] + 0.5) >= 128 ? 255 : 0;
      if (o == 255) out[y][x] = '.';
      const double e = g + err[y][x] - o;
      err[y + 1][x] += e * 5 / 16;
      if (x + d >= 0 && x + d < w) {
        err[y][x + d] += e * 7 / 16;
        err[y + 1][x + d] += e * 1 / 16;
      }
      if (x - d >= 0 && x - d < w) err[y + 1][x - d] += e * 3 / 16;
    }
  }
  return out;
}

TEST(FloydSteinberg, SerpentineScanMatchesAnErrorGrid) {
  TIEBitmap rgb;
  test::MakeRandom(rgb, 37, 23, ie24RGB, 5);
  TIEBitmap bits;
  bits.SetLocation(ieMemory);
  FloydSteinbergToBits(rgb, bits, nullptr);
  EXPECT_EQ(Bits(bits), Diffuse(rgb, true));
  EXPECT_NE(Bits(bits), Diffuse(rgb, false));  // the fixture tells the scans apart
}

TEST(FloydSteinberg, OneBitPageComesBackUnchangedWithTwentyFourBitSnapshot) {
  TViewState view;
  MakeBits(view.Bitmap, {"#..#.##.#", "..##..#.#", "#########"});
  const auto before = Bits(view.Bitmap);
  TImageProc proc(view);
  ConvertToBW_FloyedSteinberg(proc);
  EXPECT_EQ(Bits(view.Bitmap), before);
  EXPECT_EQ(proc.History().UndoEntry(0).Snapshot->PixelFormat(), ie24RGB);
}

TEST(FloydSteinberg, AverageToneIsKeptOnALargeRamp) {
  TIEBitmap rgb;
  std::vector<std::vector<int>> rows(64, std::vector<int>(256));
  for (auto& r : rows)
    for (int x = 0; x < 256; ++x) r[x] = x;
  MakeGray24(rgb, rows);
  TIEBitmap bits;
  bits.SetLocation(ieMemory);
  FloydSteinbergToBits(rgb, bits, nullptr);
  // Each 32-column band's white share follows its mean gray within 3 %.
  const auto b = Bits(bits);
  for (int band = 0; band < 8; ++band) {
    int white = 0;
    for (const auto& r : b)
      for (int x = band * 32; x < band * 32 + 32; ++x) white += r[x] == '.';
    const double share = white / (64.0 * 32), want = (band * 32 + 15.5) / 255.0;
    EXPECT_NEAR(share, want, 0.03) << band;
  }
}

TEST(ConvertToGray, LuminanceWeightsAndSelection) {
  TViewState view;
  // Stored blue, green, red: red, green, blue, white.
  MakeRgb(view.Bitmap, {{{0, 0, 255}, {0, 255, 0}, {255, 0, 0}, {10, 20, 30}}});
  view.Select({0, 0, 3, 1});
  TImageProc proc(view);
  ConvertToGray(proc);
  const auto out = Rgb(view.Bitmap);
  EXPECT_EQ(out[0][0], (test::TBgr{53, 53, 53}));
  EXPECT_EQ(out[0][1], (test::TBgr{181, 181, 181}));
  EXPECT_EQ(out[0][2], (test::TBgr{20, 20, 20}));
  EXPECT_EQ(out[0][3], (test::TBgr{10, 20, 30}));  // outside the selection
}

TEST(ConvertToGray, OneBitPageUnchangedButUndoable) {
  TViewState view;
  MakeBits(view.Bitmap, {"#.#.", "..##"});
  TImageProc proc(view);
  ConvertToGray(proc);
  EXPECT_EQ(view.Bitmap.PixelFormat(), ie1g);
  EXPECT_EQ(Bits(view.Bitmap), (std::vector<std::string>{"#.#.", "..##"}));
  ASSERT_EQ(proc.History().UndoCount(), 1);
  EXPECT_EQ(proc.History().UndoEntry(0).Caption, "ConvertToGray");
}

}  // namespace
}  // namespace folivo
