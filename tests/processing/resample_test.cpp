// Folivo — multi-page TIFF editor.
// Resampling: every filter on one small fixture (values from an independent
// evaluation of the arithmetic), result formats, sizes and the 1-bit paths.
#include "processing/resample.h"

#include <gtest/gtest.h>

#include "tests/processing/fixtures.h"

namespace folivo {
namespace {

using test::Gray;
using test::MakeBits;
using test::MakeGray24;
using test::MakeRandom;
using Rows = std::vector<std::vector<int>>;

const Rows kFixture = {{0, 64, 192, 255}, {255, 128, 32, 0}};

TEST(Resample, EveryFilterOnTheFixture) {
  struct {
    TResampleFilter filter;
    Rows up;    // 7 x 3
    Rows down;  // 2 x 1
  } cases[] = {
      {rfTriangle,
       {{0, 32, 64, 128, 192, 223, 255},
        {127, 111, 96, 104, 112, 119, 127},
        {255, 191, 128, 80, 32, 16, 0}},
       {{109, 118}}},
      {rfHermite,
       {{0, 32, 64, 128, 192, 223, 255},
        {127, 111, 96, 104, 112, 119, 127},
        {255, 191, 128, 80, 32, 16, 0}},
       {{108, 119}}},
      {rfBell,
       {{67, 71, 86, 116, 147, 171, 186},
        {119, 111, 101, 104, 111, 119, 125},
        {197, 171, 123, 86, 57, 41, 34}},
       {{113, 98}}},
      {rfBSpline,
       {{84, 85, 93, 111, 134, 152, 164},
        {120, 113, 104, 103, 108, 115, 119},
        {180, 161, 123, 88, 65, 51, 44}},
       {{111, 96}}},
      {rfLanczos3,
       {{0, 14, 64, 129, 192, 235, 255},
        {92, 86, 87, 106, 134, 152, 162},
        {255, 213, 128, 66, 32, 8, 0}},
       {{112, 106}}},
      {rfMitchell,
       {{32, 44, 73, 122, 171, 204, 223},
        {115, 105, 95, 103, 116, 127, 134},
        {228, 189, 125, 78, 43, 23, 14}},
       {{113, 105}}},
      {rfNearest,
       {{0, 0, 64, 64, 192, 192, 255},
        {0, 0, 64, 64, 192, 192, 255},
        {255, 255, 128, 128, 32, 32, 0}},
       {{106, 122}}},
      {rfLinear,
       {{0, 32, 64, 128, 192, 223, 255},
        {127, 111, 96, 104, 112, 119, 127},
        {255, 191, 128, 80, 32, 16, 0}},
       {{109, 118}}},
      {rfFastLinear,
       {{0, 36, 82, 155, 209, 245, 255},
        {169, 133, 103, 91, 84, 84, 85},
        {255, 182, 114, 59, 22, 4, 0}},
       {{85, 192}}},
      {rfBilinear,
       {{133, 105, 91, 85, 85, 84, 84}, {182, 124, 59, 27, 4, 0, 0}, {182, 124, 59, 27, 4, 0, 0}},
       {{111, 119}}},
      {rfBicubic,
       {{136, 104, 86, 83, 83, 84, 84}, {208, 125, 49, 12, 0, 0, 0}, {195, 121, 56, 20, 1, 0, 0}},
       {{111, 119}}},
      {rfNone,
       // Trunc(4 / 7 x) and Trunc(2 / 3 y).
       {{0, 0, 64, 64, 192, 192, 255},
        {0, 0, 64, 64, 192, 192, 255},
        {255, 255, 128, 128, 32, 32, 0}},
       {{0, 192}}},
  };
  TIEBitmap src;
  MakeGray24(src, kFixture);
  for (const auto& c : cases) {
    SCOPED_TRACE(ResampleFilterName(c.filter));
    TIEBitmap up, down;
    ResampleBitmap(src, up, 7, 3, c.filter);
    ResampleBitmap(src, down, 2, 1, c.filter);
    EXPECT_EQ(up.PixelFormat(), ie24RGB);
    EXPECT_EQ(Gray(up), c.up);
    EXPECT_EQ(Gray(down), c.down);
  }
}

TEST(Resample, ProjectionsGiveBilevelPages) {
  TIEBitmap src;
  MakeGray24(src, kFixture);
  TIEBitmap bw, wb;
  ResampleBitmap(src, bw, 7, 3, rfProjectBW);
  ResampleBitmap(src, wb, 7, 3, rfProjectWB);
  ASSERT_EQ(bw.PixelFormat(), ie1g);
  EXPECT_EQ(test::Bits(bw), (std::vector<std::string>{"#####..", "#####..", "#######"}));
  EXPECT_EQ(test::Bits(wb), (std::vector<std::string>{"####...", "####...", "...#..."}));
  // 128 counts as neither dark nor light.
  TIEBitmap mid;
  MakeGray24(mid, {{128, 128}});
  ResampleBitmap(mid, bw, 1, 1, rfProjectBW);
  ResampleBitmap(mid, wb, 1, 1, rfProjectWB);
  EXPECT_EQ(test::Bits(bw)[0], ".");
  EXPECT_EQ(test::Bits(wb)[0], "#");
}

TEST(Resample, ChannelsAreIndependent) {
  TIEBitmap rgb;
  MakeRandom(rgb, 9, 5, ie24RGB, 11);
  for (int f = rfTriangle; f <= rfBicubic; ++f) {
    const auto filter = static_cast<TResampleFilter>(f);
    TIEBitmap out;
    ResampleBitmap(rgb, out, 6, 8, filter);
    for (int ch = 0; ch < 3; ++ch) {
      TIEBitmap one;
      one.Allocate(9, 5, ie24RGB);
      for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 9; ++x)
          for (int k = 0; k < 3; ++k)
            one.GetScanline(y)[3 * x + k] = rgb.GetScanline(y)[3 * x + ch];
      TIEBitmap ref;
      ResampleBitmap(one, ref, 6, 8, filter);
      for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 6; ++x)
          ASSERT_EQ(out.GetScanline(y)[3 * x + ch], ref.GetScanline(y)[3 * x])
              << ResampleFilterName(filter) << " channel " << ch;
    }
  }
}

TEST(Resample, FastLinearAveragesWhenHalving) {
  TIEBitmap src;
  MakeGray24(src, {{10, 20, 60, 200}});
  TIEBitmap out;
  ResampleBitmap(src, out, 2, 1, rfFastLinear);
  EXPECT_EQ(Gray(out), (Rows{{30, 60}}));  // (10 + 20 + 60) / 3, then column 2 alone
  // A scale of exactly 1 takes the averaging branch: i and i + 1.
  ResampleBitmap(src, out, 4, 2, rfFastLinear);
  EXPECT_EQ(Gray(out), (Rows{{15, 40, 130, 200}, {15, 40, 130, 200}}));
}

TEST(Resample, BilinearDoublingTakesTheRightEdge) {
  TIEBitmap src;
  MakeGray24(src, {{10, 20, 60}});
  TIEBitmap out;
  ResampleBitmap(src, out, 6, 1, rfBilinear);
  EXPECT_EQ(Gray(out)[0][0], 15);
  EXPECT_EQ(Gray(out)[0][1], 20);
}

TEST(Resample, KernelWithoutWeightStillGivesAValue) {
  // A reduction so strong that every rounded nearest weight is 0.
  TIEBitmap src;
  src.Allocate(1030, 1, ie24RGB);
  src.Fill(0xFFFFFF);
  TIEBitmap out;
  ResampleBitmap(src, out, 2, 1, rfNearest);
  ASSERT_EQ(out.Width(), 2);
  EXPECT_EQ(Gray(out), (Rows{{0, 0}}));
}

TEST(Resample, ResultFormats) {
  struct {
    TPagePixelFormat page;
    TResampleFilter filter;
    bool same;
    TPagePixelFormat want;
  } cases[] = {
      {ie24RGB, rfProjectBW, false, ie1g},  {ie24RGB, rfProjectWB, true, ie1g},
      {ie24RGB, rfBicubic, false, ie24RGB}, {ie24RGB, rfNone, false, ie24RGB},
      {ie1g, rfProjectWB, false, ie1g},     {ie1g, rfNone, false, ie1g},
      {ie1g, rfFastLinear, true, ie1g},     {ie1g, rfBilinear, true, ie1g},
      {ie1g, rfBicubic, true, ie1g},        {ie1g, rfBicubic, false, ie24RGB},
      {ie1g, rfLanczos3, true, ie24RGB},    {ie8g, rfTriangle, false, ie8g},
      {ie8g, rfProjectBW, false, ie1g},     {ieCMYK, rfBell, false, ie24RGB},
      {ie16g, rfNone, false, ie16g},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(PixelFormatName(c.page)) + " " + ResampleFilterName(c.filter));
    EXPECT_EQ(ResampleResultFormat(c.page, c.filter, c.same), c.want);
    TIEBitmap src, out;
    MakeRandom(src, 6, 4, c.page, 3);
    if (c.page == ieCMYK) src.Fill(0x808080);
    ResampleBitmap(src, out, c.same ? 6 : 9, c.same ? 4 : 3, c.filter);
    EXPECT_EQ(out.PixelFormat(), c.want);
    EXPECT_EQ(out.Width(), c.same ? 6 : 9);
    if (c.page == ie1g && c.want == ie24RGB)
      for (int x = 0; x < out.Width(); ++x) {
        const uint8_t* p = out.GetScanline(1) + 3 * x;
        ASSERT_TRUE(p[0] == p[1] && p[1] == p[2]);
      }
  }
}

TEST(Resample, TargetSizes) {
  struct {
    int w, h, nw, nh, tw, th;
  } cases[] = {
      {2480, 3508, 1280, -1, 1280, 1810},
      {2480, 3508, -1, 1280, 904, 1280},
      {100, 50, 0, 20, 100, 20},
      {100, 50, -30, -40, 30, 40},
      {100, 50, -1, 0, 1,
       50},  // -1 from a height of 0 is 0, raised to 1          {3, 1000, 1, -1, 1, 333},
      {1000, 3, 1, -1, 1, 1},
  };
  for (const auto& c : cases) {
    int tw, th;
    ResampleTargetSize(c.w, c.h, c.nw, c.nh, tw, th);
    EXPECT_EQ(tw, c.tw) << c.w << 'x' << c.h << " to " << c.nw << ',' << c.nh;
    EXPECT_EQ(th, c.th) << c.w << 'x' << c.h << " to " << c.nw << ',' << c.nh;
  }
}

TEST(Resample, BilevelInterpolationAndBoxAverage) {
  TIEBitmap bits;
  MakeBits(bits, {"#...", "##..", "###.", "####"});
  TIEBitmap out;
  // Reduction in both directions: box average, 255 per white pixel.
  ResampleBitmap(bits, out, 2, 2, rfBicubic);
  ASSERT_EQ(out.PixelFormat(), ie24RGB);
  // fx = fy = 2: rows/columns Trunc(2i - 1) .. Trunc(1 + 2i), clamped.
  EXPECT_EQ(Gray(out), (Rows{{63, 212}, {0, 85}}));
  // Enlarging: point interpolation between 0 and 255.
  MakeBits(bits, {"#."});
  ResampleBitmap(bits, out, 4, 1, rfFastLinear);
  EXPECT_EQ(Gray(out), (Rows{{0, 127, 255, 255}}));
  // Same size: a plain copy that stays bilevel.
  MakeBits(bits, {"#.#", "..#"});
  ResampleBitmap(bits, out, 3, 2, rfFastLinear);
  EXPECT_EQ(test::Bits(out), (std::vector<std::string>{"#.#", "..#"}));
}

TEST(Resample, FilterNames) {
  TResampleFilter f;
  ASSERT_TRUE(ResampleFilterFromName("bicubic", f));
  EXPECT_EQ(f, rfBicubic);
  ASSERT_TRUE(ResampleFilterFromName("rfProjectBW", f));
  EXPECT_EQ(f, rfProjectBW);
  ASSERT_TRUE(ResampleFilterFromName("FASTLINEAR", f));
  EXPECT_EQ(f, rfFastLinear);
  EXPECT_FALSE(ResampleFilterFromName("catrom", f));
}

}  // namespace
}  // namespace folivo
