// Folivo — multi-page TIFF editor.
// Skew detection: the candidate order, the score, ties, and accuracy on
// synthetic text pages turned by known angles (by our rotation and by
// ImageMagick when it is installed).
#include "processing/deskew.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "processing/fitpagesize.h"
#include "processing/geometry.h"
#include "processing/imageproc.h"
#include "tests/processing/fixtures.h"

namespace folivo {
namespace {

TEST(SkewCandidates, OrderAndRange) {
  const std::vector<double> c = SkewCandidates(10, 0.5);
  ASSERT_EQ(c.size(), 19u);
  EXPECT_EQ(c[0], 0);
  EXPECT_EQ(c[1], -0.5);
  EXPECT_EQ(c[9], -4.5);
  EXPECT_EQ(c[10], 0.5);
  EXPECT_EQ(c[18], 4.5);
  // Running sums carry their rounding: ten steps of 0.1 are not 1.0, so
  // range 2 still tries the offsets just below 1.
  const std::vector<double> f = SkewCandidates(2, 0.1);
  EXPECT_EQ(f.size(), 1u + 2 * 10);
  EXPECT_LT(std::fabs(f[10]), 1.0);
  EXPECT_TRUE(SkewCandidates(10, 0).empty());
  EXPECT_TRUE(SkewCandidates(10, -1).empty());
  EXPECT_TRUE(SkewCandidates(10, std::nan("")).empty());
  EXPECT_TRUE(SkewCandidates(360, 1e-9).empty());  // far too many to try
}

TEST(SkewScore, ProfileDifferences) {
  TIEBitmap b;
  // White rows count 4, black rows 0: profile 1000, 0, 1000 -> 2 * 1000^2.
  test::MakeBits(b, {"....", "####", "...."});
  EXPECT_EQ(SkewScore(b), 2e6);
  // 24-bit rows: luminance sums 255 * 2 and 127 (a single mid pixel).
  test::MakeGray24(b, {{255, 255}, {127, 0}});
  EXPECT_EQ(SkewScore(b), std::pow(1000 - std::trunc(127.0 / 510 * 1000), 2));
  test::MakeGray24(b, {{255, 255}});
  EXPECT_EQ(SkewScore(b), 0);  // one row
}

// The score from where pixels land equals the score of a rotated copy.
TEST(SkewScore, LandingPixelsMatchARotatedCopy) {
  for (TPagePixelFormat f : {ie1g, ie24RGB}) {
    TIEBitmap b;
    test::MakeRandom(b, 61, 47, f, 21);
    for (double angle : {0.0, 0.5, -0.5, 2.3, -4.5, 30.0, -44.9, 60.0, 90.0, 180.0, -135.5}) {
      TIEBitmap r;
      r.Assign(b);
      if (angle != 0) {
        if (f == ie24RGB)
          RotateThreeShear(r, angle, 0, false, nullptr);
        else
          RotateBilevelMethod(r, angle, 0, nullptr);
      }
      EXPECT_EQ(RotatedSkewScore(b, angle), SkewScore(r)) << PixelFormatName(f) << ' ' << angle;
    }
  }
}

TEST(DetectSkew, BlankPagesAndTies) {
  TIEBitmap b;
  b.Allocate(200, 100, ie1g);
  b.Fill(1);
  EXPECT_EQ(DetectSkew(b, 10, true, 0.5, 1.25), 1.25);
  b.Fill(0);
  EXPECT_EQ(DetectSkew(b, 10, true, 0.5, 0), 0);
  // A 1 x 1 dot scores the same at every angle near 0: 0 is tried first.
  b.Allocate(9, 9, ie24RGB);
  b.Fill(0);
  b.GetScanline(4)[12] = b.GetScanline(4)[13] = b.GetScanline(4)[14] = 255;
  EXPECT_EQ(DetectSkew(b, 4, true, 0.5, 0), 0);
}

// Text-like lines of black word blocks on white.
void TextPage(TIEBitmap& b, int w, int h, unsigned seed) {
  b.SetLocation(ieMemory);
  b.Allocate(w, h, ie1g);
  b.Fill(1);
  std::mt19937 rng(seed);
  for (int top = h / 12; top + 18 < h - h / 12; top += 40) {
    int x = w / 10;
    while (x < w - w / 10) {
      const int len = 20 + static_cast<int>(rng() % 90);
      for (int y = top; y < top + 18; ++y)
        for (int i = x; i < std::min(x + len, w - w / 10); ++i)
          b.GetScanline(y)[i >> 3] &= static_cast<uint8_t>(~(0x80 >> (i & 7)));
      x += len + 12 + static_cast<int>(rng() % 10);
    }
  }
}

// The deskew command: reduce a copy to 1280 with rfFastLinear, detect.
double CommandAngle(const TIEBitmap& page, double range, double step) {
  TViewState scratch;
  scratch.Bitmap.Assign(page);
  TImageProc proc(scratch);
  proc.AutoUndo = false;
  FitPageSize(proc, 0, 1, 1280, 1280, 10);
  return proc.DetectSkewAngle(static_cast<int>(std::nearbyint(2 * range)), true, step, 0);
}

TEST(DetectSkew, FindsKnownAnglesOfOurRotation) {
  TIEBitmap page;
  TextPage(page, 1400, 1900, 7);
  for (double truth : {0.0, 1.0, -2.5, 3.5, -4.0}) {
    for (TPagePixelFormat f : {ie1g, ie24RGB}) {
      TIEBitmap turned;
      turned.Assign(page);
      if (f == ie24RGB) turned.ConvertTo(ie24RGB);
      RotatePage(turned, truth, 0xFFFFFF, nullptr);
      const double found = CommandAngle(turned, 5, 0.5);
      EXPECT_LE(std::fabs(found + truth), 0.5) << PixelFormatName(f) << " turned " << truth;
    }
  }
}

TEST(DetectSkew, ThreadsDoNotChangeTheAnswer) {
  TIEBitmap page;
  TextPage(page, 700, 900, 3);
  RotatePage(page, 1.3, 0xFFFFFF, nullptr);
  const double one = DetectSkew(page, 6, true, 0.1, 0, 1);
  EXPECT_EQ(DetectSkew(page, 6, true, 0.1, 0, 3), one);
  EXPECT_EQ(DetectSkew(page, 6, true, 0.1, 0, 8), one);
  EXPECT_NEAR(one, -1.3, 0.1 + 1e-9);
}

// PBM written and read back, so that ImageMagick can turn the page.
void WritePbm(const TIEBitmap& b, const std::string& path) {
  std::ofstream out(path, std::ios::binary);
  out << "P4\n" << b.Width() << ' ' << b.Height() << '\n';
  const int bytes = (b.Width() + 7) / 8;
  for (int y = 0; y < b.Height(); ++y)
    for (int i = 0; i < bytes; ++i) out.put(static_cast<char>(~b.GetScanline(y)[i]));
}

bool ReadPbm(const std::string& path, TIEBitmap& b) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  int w = 0, h = 0;
  in >> magic >> w >> h;
  in.get();
  if (magic != "P4" || w <= 0 || h <= 0) return false;
  b.Allocate(w, h, ie1g);
  const int bytes = (w + 7) / 8;
  for (int y = 0; y < h; ++y)
    for (int i = 0; i < bytes; ++i) b.GetScanline(y)[i] = static_cast<uint8_t>(~in.get());
  return static_cast<bool>(in);
}

TEST(DetectSkew, FindsKnownAnglesOfImageMagicksRotation) {
  const char* convert = "/usr/bin/convert";
  if (!std::filesystem::exists(convert)) GTEST_SKIP() << "ImageMagick is not installed";
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "folivo-skew";
  std::filesystem::create_directories(dir);
  TIEBitmap page;
  TextPage(page, 1200, 1600, 11);
  WritePbm(page, (dir / "page.pbm").string());
  for (double truth : {1.5, -3.0, 4.5}) {
    // ImageMagick turns clockwise for positive angles.
    char cmd[512];
    std::snprintf(cmd, sizeof cmd, "%s %s -background white -rotate %g -monochrome %s", convert,
                  (dir / "page.pbm").c_str(), -truth, (dir / "turned.pbm").c_str());
    ASSERT_EQ(std::system(cmd), 0);
    TIEBitmap turned;
    ASSERT_TRUE(ReadPbm((dir / "turned.pbm").string(), turned));
    EXPECT_LE(std::fabs(CommandAngle(turned, 5, 0.5) + truth), 0.5) << truth;
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace folivo
