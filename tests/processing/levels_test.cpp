// Folivo — multi-page TIFF editor.
// The levels computation and the marker arithmetic.
#include "processing/levels.h"

#include <gtest/gtest.h>

#include "tests/processing/fixtures.h"

namespace folivo {
namespace {

TEST(Levels, ResetPointsMapEveryValueToItself) {
  TLevelsClass levels;
  levels.ResetChannels();
  TIEBitmap page;
  test::MakeRandom(page, 31, 7, ie24RGB, 2);
  TIEBitmap before;
  before.Assign(page);
  levels.ApplyToBitmap(page);
  EXPECT_TRUE(test::SamePixels(page, before));
}

TEST(Levels, CompositeBlackPointAndGammaFigures) {
  struct {
    int black;
    float gamma;
    std::vector<std::pair<int, int>> map;
  } cases[] = {
      {19, 1.0f, {{0, 0}, {19, 0}, {20, 1}, {21, 2}, {128, 118}, {255, 255}}},
      {0, 100.0f / 44, {{1, 22}, {64, 139}, {128, 188}, {192, 225}}},
  };
  for (const auto& c : cases) {
    TLevelsClass levels;
    levels.ResetChannels();
    levels.SetBlackPoint(0, c.black);
    levels.SetGamma(0, c.gamma);
    levels.BuildTables();
    for (auto [in, out] : c.map) {
      EXPECT_EQ(levels.RedTable[in], out) << c.black << " " << in;
      EXPECT_EQ(levels.BlueTable[in], out) << c.black << " " << in;
    }
  }
}

TEST(Levels, ChannelRecordGoesFirstThenComposite) {
  TLevelsClass levels;
  levels.ResetChannels();
  levels.SetWhitePoint(1, 127);  // red doubles
  levels.SetBlackPoint(0, 50);
  // Red: 60 -> 120.47..., then (120.47 - 50) / 205 x 255.
  EXPECT_NEAR(levels.TransferValue(0, 60 / 255.0) * 255, (60 * 255.0 / 127 - 50) * 255 / 205, 1e-9);
  EXPECT_NEAR(levels.TransferValue(1, 60 / 255.0) * 255, (60 - 50) * 255.0 / 205, 1e-9);
  // Not clamped: below the black point goes negative.
  EXPECT_LT(levels.TransferValue(2, 10 / 255.0), 0);
}

TEST(Levels, PointsAreClamped) {
  TLevelsClass levels;
  levels.ResetChannels();
  levels.SetBlackPoint(2, 300);
  levels.SetWhitePoint(2, -4);
  levels.SetGamma(2, 0.05f);
  levels.SetGamma(3, 40.0f);
  EXPECT_EQ(levels.Channels[2].BlackPoint, 253);
  EXPECT_EQ(levels.Channels[2].WhitePoint, 2);
  EXPECT_EQ(levels.Channels[2].Gamma, 0.0f);
  EXPECT_EQ(levels.Channels[3].Gamma, 9.99f);
  levels.SetBlackPoint(7, 10);  // no such channel: ignored
}

TEST(Levels, HistogramCounts) {
  TIEBitmap page;
  // Stored blue, green, red.
  test::MakeRgb(page, {{{1, 2, 3}, {1, 2, 4}}, {{1, 5, 3}, {9, 9, 9}}});
  TLevelsClass levels;
  levels.ComputeHistogram(page);
  EXPECT_TRUE(levels.HistogramReady);
  EXPECT_EQ(levels.Channels[1].Counts[3], 2);
  EXPECT_EQ(levels.Channels[3].Counts[1], 3);
  EXPECT_EQ(levels.Channels[3].Peak, 3);
  EXPECT_EQ(levels.Channels[0].Counts[9], 3);
  EXPECT_EQ(levels.Channels[0].Counts[1], 3);
  EXPECT_EQ(levels.Channels[0].Peak, 3);
  EXPECT_DOUBLE_EQ(levels.Channels[0].Mean, 12.0 / 256);
  EXPECT_DOUBLE_EQ(levels.Channels[2].Mean, 4.0 / 256);
}

TEST(Levels, OneBitPageIsConvertedBeforeMapping) {
  TIEBitmap page;
  test::MakeBits(page, {"#.", ".#"});
  TLevelsClass levels;
  levels.ComputeHistogram(page);
  EXPECT_EQ(levels.Channels[1].Counts[255], 2);
  levels.SetWhitePoint(0, 2);
  levels.ApplyToBitmap(page);
  ASSERT_EQ(page.PixelFormat(), ie24RGB);
  EXPECT_EQ(test::Gray(page), (std::vector<std::vector<int>>{{0, 255}, {255, 0}}));
}

TEST(LevelMarkers, PositionsLevelsAndGamma) {
  struct {
    int p, level;
  } levels[] = {{20, 19}, {131, 127}, {261, 253}, {262, 254}, {263, 255}, {-5, 0}, {400, 255}};
  for (auto c : levels) EXPECT_EQ(LevelFromPosition(c.p, 0, 263), c.level) << c.p;
  EXPECT_FLOAT_EQ(GammaFromPositions(0, 50, 263), 100.0f / 44);
  EXPECT_FLOAT_EQ(GammaFromPositions(0, 0, 263), 10.0f);
  EXPECT_FLOAT_EQ(GammaFromPositions(0, 263, 263), 0.1f);
  EXPECT_FLOAT_EQ(GammaFromPositions(0, 132, 263), 1.0f);
  EXPECT_FLOAT_EQ(GammaFromPositions(5, 6, 7), 1.0f);  // markers touching: no division by 0
  EXPECT_EQ(PositionFromGamma(0, 263, 1.0f), 131);
  EXPECT_EQ(PositionFromGamma(0, 263, 10.0f), 0);
  EXPECT_EQ(PositionFromGamma(0, 263, 0.1f), 263);
  for (int g : {20, 50, 90, 170, 200, 240}) {
    const int back = PositionFromGamma(0, 263, GammaFromPositions(0, g, 263));
    EXPECT_NEAR(back, g, 2) << g;
  }
}

}  // namespace
}  // namespace folivo
