// Folivo — multi-page TIFF editor.
// Negative, histogram, level stretch, brightness/contrast, gamma and the
// automatic contrast.
#include "processing/tone.h"

#include <gtest/gtest.h>

#include "tests/processing/fixtures.h"

namespace folivo {
namespace {

using test::Bits;
using test::MakeBits;
using test::MakeGray24;
using test::MakeRandom;
using test::Rgb;
using test::SamePixels;

TEST(Negative, TwiceRestoresAndOneBitStaysOneBit) {
  for (TPagePixelFormat f : {ie1g, ie8g, ie24RGB, ie16g}) {
    TViewState view;
    MakeRandom(view.Bitmap, 13, 5, f, 3);
    TIEBitmap before;
    before.Assign(view.Bitmap);
    TImageProc proc(view);
    Negative(proc);
    EXPECT_EQ(view.Bitmap.PixelFormat(), f);
    EXPECT_FALSE(SamePixels(view.Bitmap, before)) << PixelFormatName(f);
    Negative(proc);
    EXPECT_TRUE(SamePixels(view.Bitmap, before)) << PixelFormatName(f);
    EXPECT_EQ(proc.History().UndoEntry(0).Caption, "Negative");
  }
  TViewState view;
  MakeBits(view.Bitmap, {"#..##.#.#.", ".........."});
  TImageProc proc(view);
  Negative(proc);
  EXPECT_EQ(Bits(view.Bitmap), (std::vector<std::string>{".##..#.#.#", "##########"}));
}

TEST(Negative, SelectionLimitsTheChange) {
  TViewState view;
  MakeGray24(view.Bitmap, {{10, 20, 30}});
  view.Select({1, 0, 2, 1});
  TImageProc proc(view);
  Negative(proc);
  EXPECT_EQ(test::Gray(view.Bitmap), (std::vector<std::vector<int>>{{10, 235, 30}}));
}

TEST(GetHistogram, OneBitPageIsConvertedAndCountedAtTheEnds) {
  TViewState view;
  MakeBits(view.Bitmap, {"#..", "##."});
  TImageProc proc(view);
  THistogram h;
  GetHistogram(proc, h);
  EXPECT_EQ(view.Bitmap.PixelFormat(), ie24RGB);
  EXPECT_EQ(proc.History().UndoCount(), 0);
  EXPECT_EQ(h[0].Red, 3u);
  EXPECT_EQ(h[0].Gray, 3u);
  EXPECT_EQ(h[255].Blue, 3u);
  EXPECT_EQ(h[255].Gray, 3u);
  uint32_t total = 0;
  for (const auto& e : h) total += e.Green;
  EXPECT_EQ(total, 6u);
}

TEST(GetHistogram, CountsOnlyInsideTheMask) {
  TViewState view;
  // Blue, green, red stored.
  test::MakeRgb(view.Bitmap, {{{1, 2, 3}, {4, 5, 6}}, {{7, 8, 9}, {10, 11, 12}}});
  view.Select({0, 0, 2, 2});
  TIEBitmap& mask = view.SelectionMask();
  mask.SetLocation(ieMemory);
  mask.Allocate(2, 2, ie1g);
  mask.Fill(0);
  mask.GetScanline(1)[0] = 0x40;  // pixel (1, 1) only
  TImageProc proc(view);
  THistogram h;
  GetHistogram(proc, h);
  EXPECT_EQ(h[12].Red, 1u);
  EXPECT_EQ(h[11].Green, 1u);
  EXPECT_EQ(h[10].Blue, 1u);
  EXPECT_EQ(h[3].Red, 0u);
  EXPECT_EQ(h[Luminance(12, 11, 10)].Gray, 1u);
}

TEST(HistEqualize, StretchThenScale) {
  const auto t = HistEqualizeTable(30, 220);
  EXPECT_EQ(t[0], 0);
  EXPECT_EQ(t[30], 0);
  EXPECT_EQ(t[220], 249);
  EXPECT_EQ(t[255], 255);
  const auto edge = HistEqualizeTable(255, 0);  // both divisors replaced
  EXPECT_EQ(edge[255], 0);
  EXPECT_EQ(HistEqualizeTable(0, 255)[77], 77);
}

TEST(HistEqualize, EqualColoursChangeNothingButTakeTheSnapshot) {
  TViewState view;
  MakeRandom(view.Bitmap, 9, 4, ie24RGB, 8);
  TIEBitmap before;
  before.Assign(view.Bitmap);
  TImageProc proc(view);
  HistEqualize(proc, {40, 40, 40}, {40, 40, 40});
  EXPECT_TRUE(SamePixels(view.Bitmap, before));
  EXPECT_EQ(proc.History().UndoEntry(0).Caption, "HistEqualize");
  HistEqualize(proc, {30, 30, 30}, {220, 220, 220});
  EXPECT_FALSE(SamePixels(view.Bitmap, before));
}

TEST(BrightnessContrast, TableFigures) {
  struct {
    int brightness, contrast, in, out;
  } cases[] = {
      {0, 0, 0, 0},       {0, 0, 77, 77},     {0, 0, 255, 255},    {-100, 0, 0, 1},
      {-100, 0, 255, 1},  {0, -100, 0, 170},  {0, -100, 255, 170}, {0, 100, 171, 234},
      {0, 100, 169, 106}, {0, 100, 255, 255}, {100, 0, 100, 199},  {100, 0, 200, 255},
      {0, 50, 100, 71},  // 170 - 70 x 1.41421...
  };
  for (const auto& c : cases)
    EXPECT_EQ(BrightnessContrastTable(c.brightness, c.contrast)[c.in], c.out)
        << c.brightness << " " << c.contrast << " " << c.in;
}

TEST(BrightnessContrast, NeutralAndSaturation) {
  TViewState view;
  MakeRandom(view.Bitmap, 17, 6, ie24RGB, 4);
  TIEBitmap before;
  before.Assign(view.Bitmap);
  TImageProc proc(view);
  AdjustBrightnessContrastSaturation(proc, 0, 0, 0);
  EXPECT_TRUE(SamePixels(view.Bitmap, before));
  EXPECT_EQ(proc.History().UndoEntry(0).Caption, "AdjustBrightnessContrastSaturation");

  // Saturation -100: S = 0, so sat is 0 and every channel becomes
  // base[r + g + b] = (r + g + b) div 3.
  TViewState colour;
  test::MakeRgb(colour.Bitmap, {{{30, 60, 150}}});
  TImageProc p2(colour);
  AdjustBrightnessContrastSaturation(p2, 0, 0, -100);
  EXPECT_EQ(Rgb(colour.Bitmap)[0][0], (test::TBgr{80, 80, 80}));
}

TEST(Gamma, TableAndChannelSet) {
  EXPECT_EQ(GammaTable(2.0)[64], 128);
  EXPECT_EQ(GammaTable(2.0)[0], 0);
  EXPECT_EQ(GammaTable(0.5)[128], 64);
  TViewState view;
  MakeGray24(view.Bitmap, {{64, 64}, {64, 64}});
  TImageProc proc(view);
  GammaCorrect(proc, 2.0, 1);  // red only
  EXPECT_EQ(Rgb(view.Bitmap)[0][0], (test::TBgr{64, 64, 128}));
  GammaCorrect(proc, 0, 7);  // refused, no snapshot
  GammaCorrect(proc, std::nan(""), 7);
  EXPECT_EQ(proc.History().UndoCount(), 1);
}

TEST(Gamma, OneBitPageIsConvertedNotMisread) {
  TViewState view;
  MakeBits(view.Bitmap, {"#.#.#.#.#.", ".........."});
  TImageProc proc(view);
  GammaCorrect(proc, 2.0, 7);
  ASSERT_EQ(view.Bitmap.PixelFormat(), ie24RGB);
  EXPECT_EQ(test::Gray(view.Bitmap)[0], (std::vector<int>{0, 255, 0, 255, 0, 255, 0, 255, 0, 255}));
  EXPECT_EQ(proc.History().UndoEntry(0).Snapshot->PixelFormat(), ie1g);
}

TEST(AutoContrast, LevelsFromTheGrayCounts) {
  THistogram h{};
  // 100 x 100 page: T = min(39, 100) = 39.
  h[60].Gray = 5000;
  h[180].Gray = 5000;
  int low, high;
  AutoContrastLevels(h, 10000, low, high);
  EXPECT_EQ(low, 30);
  EXPECT_EQ(high, 220);

  THistogram ends{};
  ends[0].Gray = 5000;
  ends[255].Gray = 5000;
  AutoContrastLevels(ends, 10000, low, high);
  EXPECT_EQ(low, 0);
  EXPECT_EQ(high, 255);

  // Sparse tails below both thresholds are skipped.
  THistogram tails{};
  tails[5].Gray = 10;
  tails[20].Gray = 4990;
  tails[240].Gray = 4990;
  tails[250].Gray = 10;
  AutoContrastLevels(tails, 10000, low, high);
  EXPECT_EQ(low, 20);
  EXPECT_EQ(high, 240);
}

TEST(AutoContrast, StretchesThePage) {
  TViewState view;
  std::vector<std::vector<int>> rows(16, std::vector<int>(16, 60));
  for (int y = 8; y < 16; ++y) rows[y].assign(16, 180);
  MakeGray24(view.Bitmap, rows);
  TImageProc proc(view);
  AutoContrast(proc);
  const auto t = HistEqualizeTable(30, 220);
  EXPECT_EQ(test::Gray(view.Bitmap)[0][0], t[60]);
  EXPECT_EQ(test::Gray(view.Bitmap)[15][0], t[180]);
  EXPECT_EQ(proc.History().UndoEntry(0).Caption, "HistEqualize");
}

}  // namespace
}  // namespace folivo
