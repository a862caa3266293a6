// Folivo — multi-page TIFF editor.
// Border cropping and paper whitening.
#include "processing/cleanup.h"

#include <gtest/gtest.h>

#include "processing/geometry.h"
#include "tests/processing/fixtures.h"

namespace folivo {
namespace {

using test::Bits;
using test::MakeBits;
using test::MakeRgb;
using test::Rgb;

// White page w x h with black columns (or rows) given as '#'s of a pattern.
void FramedBits(TIEBitmap& b, int w, int h, int frame) {
  std::vector<std::string> rows(h, std::string(w, '.'));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (x < frame || y < frame || x >= w - frame || y >= h - frame) rows[y][x] = '#';
  MakeBits(b, rows);
}

TEST(CropBorders, OneBitFrameIsCutExactlyAndFormatKept) {
  TViewState view;
  FramedBits(view.Bitmap, 1000, 1000, 20);
  TImageProc proc(view);
  CropBorders(proc, 6);
  EXPECT_EQ(view.Bitmap.Width(), 960);
  EXPECT_EQ(view.Bitmap.Height(), 960);
  EXPECT_EQ(view.Bitmap.PixelFormat(), ie1g);
  for (const std::string& row : Bits(view.Bitmap)) ASSERT_EQ(row, std::string(960, '.'));
  ASSERT_EQ(proc.History().UndoCount(), 1);
  EXPECT_EQ(proc.History().UndoEntry(0).Caption, "Crop");
  EXPECT_EQ(proc.History().UndoEntry(0).Snapshot->Width(), 1000);
}

TEST(CropBorders, PagesWithNothingToCropAreLeftAlone) {
  struct {
    const char* name;
    int w, h;
    double fill;
  } cases[] = {{"white", 50, 40, 1},
               {"black", 50, 40, 0},
               {"one column", 1, 40, 0},
               {"one row black", 40, 1, 0},
               {"one pixel", 1, 1, 1}};
  for (const auto& c : cases) {
    TViewState view;
    view.Bitmap.SetLocation(ieMemory);
    view.Bitmap.Allocate(c.w, c.h, ie1g);
    view.Bitmap.Fill(c.fill);
    TImageProc proc(view);
    CropBorders(proc, 6);
    EXPECT_EQ(view.Bitmap.Width(), c.w) << c.name;
    EXPECT_EQ(view.Bitmap.Height(), c.h) << c.name;
  }
}

TEST(CropBorders, OneStrayNormalColumnDoesNotStopTheBorder) {
  // 100 x 60 white page, columns 0..9 black except the stray white ones.
  struct {
    std::vector<int> white;
    int left;
  } cases[] = {{{}, 10}, {{4}, 10}, {{4, 5}, 4}};
  for (const auto& c : cases) {
    std::vector<std::string> rows(60, std::string(100, '.'));
    for (auto& r : rows) {
      for (int x = 0; x < 10; ++x) r[x] = '#';
      for (int x : c.white) r[x] = '.';
    }
    TIEBitmap b;
    MakeBits(b, rows);
    TContentRect rect;
    ASSERT_TRUE(FindContentRect(b, 6, rect));
    EXPECT_EQ(rect.Left, c.left);
    EXPECT_EQ(rect.Right, 99);
    EXPECT_EQ(rect.Top, 0);
    EXPECT_EQ(rect.Bottom, 59);
  }
}

TEST(CropBorders, TwentyFourBitKeepsFormatAndAlpha) {
  TViewState view;
  FramedBits(view.Bitmap, 60, 40, 2);
  view.Bitmap.ConvertTo(ie24RGB);
  TIEBitmap* alpha = view.Bitmap.AlphaChannel();
  alpha->GetScanline(2)[2] = 7;  // first content pixel
  TImageProc proc(view);
  CropBorders(proc, 6);
  ASSERT_EQ(view.Bitmap.PixelFormat(), ie24RGB);
  EXPECT_EQ(view.Bitmap.Width(), 56);
  EXPECT_EQ(view.Bitmap.Height(), 36);
  ASSERT_TRUE(view.Bitmap.HasAlphaChannel());
  EXPECT_EQ(view.Bitmap.AlphaChannelIfAny()->GetScanline(0)[0], 7);
}

TEST(Crop, RectangleOutsideThePageChangesNothing) {
  TViewState view;
  FramedBits(view.Bitmap, 20, 10, 0);
  TImageProc proc(view);
  Crop(proc, 5, 0, 25, 9);
  EXPECT_EQ(view.Bitmap.Width(), 20);
  Crop(proc, 5, 2, 4, 9);
  EXPECT_EQ(view.Bitmap.Width(), 20);
  Crop(proc, 2, 3, 4, 9);
  EXPECT_EQ(view.Bitmap.Width(), 3);
  EXPECT_EQ(view.Bitmap.Height(), 7);
}

TEST(WhiteBalance, PaperBecomesWhiteAndTextIsStretchedAlike) {
  TViewState view;
  // Stored blue, green, red.
  const test::TBgr paper{232, 238, 240}, text{30, 30, 30};
  MakeRgb(view.Bitmap, {{paper, paper, paper}, {paper, text, paper}});
  TImageProc proc(view);
  WhiteBalance_AutoWhite(proc);
  const auto out = Rgb(view.Bitmap);
  EXPECT_EQ(out[0][0], (test::TBgr{254, 254, 255}));
  EXPECT_EQ(out[1][1], (test::TBgr{32, 32, 31}));
  ASSERT_EQ(proc.History().UndoCount(), 1);
  EXPECT_EQ(proc.History().UndoEntry(0).Caption, "WhiteBalance_AutoWhite");
}

TEST(WhiteBalance, PaperClassification) {
  struct {
    int r, g, b;
    bool paper;
  } cases[] = {
      {240, 238, 232, true},  {255, 255, 255, true},  {230, 235, 240, false},  // hue in 0.57..0.59
      {255, 0, 0, false},     {120, 120, 120, false},                          // too dark
      {250, 200, 200, false},                                                  // too saturated
      {200, 192, 190, false},  // hue 0.033, in the reddish band
      {200, 190, 192, true},   // hue 0.967
  };
  for (const auto& c : cases)
    EXPECT_EQ(IsPaperColor(c.r, c.g, c.b), c.paper) << c.r << "," << c.g << "," << c.b;
}

TEST(WhiteBalance, OneBitPageAndNoPaperKeepTheirPixels) {
  TViewState view;
  MakeBits(view.Bitmap, {"#..#", ".##."});
  TImageProc proc(view);
  WhiteBalance_AutoWhite(proc);
  ASSERT_EQ(view.Bitmap.PixelFormat(), ie24RGB);
  EXPECT_EQ(proc.History().UndoEntry(0).Snapshot->PixelFormat(), ie1g);
  const auto out = Rgb(view.Bitmap);
  EXPECT_EQ(out[0][0], (test::TBgr{0, 0, 0}));
  EXPECT_EQ(out[0][1], (test::TBgr{255, 255, 255}));

  TViewState colour;
  MakeRgb(colour.Bitmap, {{{0, 0, 200}, {0, 180, 0}, {150, 20, 10}}});
  const auto before = Rgb(colour.Bitmap);
  TImageProc p2(colour);
  WhiteBalance_AutoWhite(p2);
  EXPECT_EQ(Rgb(colour.Bitmap), before);
}

}  // namespace
}  // namespace folivo
