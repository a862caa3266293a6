// Folivo — multi-page TIFF editor.
// Colour quantiser: exact palettes for few colours, the colour limit and its quality beyond.
#include "formats/quantize.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <vector>

namespace folivo {
namespace {

std::vector<uint8_t> Pixels(const std::vector<TColorTriple>& colors) {
  std::vector<uint8_t> bgr;
  for (const TColorTriple& c : colors) {
    bgr.push_back(c.blue);
    bgr.push_back(c.green);
    bgr.push_back(c.red);
  }
  return bgr;
}

// count distinct colours, scattered over the cube, each repeated 1 to 3 times
// in a mixed order so that runs and hash collisions both occur.
std::vector<TColorTriple> DistinctColors(int count) {
  std::vector<TColorTriple> colors;
  for (int i = 0; i < count; ++i) {
    const uint32_t v = static_cast<uint32_t>(i) * 2654435761u;
    for (int r = 0; r < 1 + i % 3; ++r)
      colors.push_back(TColorTriple{uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(i)});
  }
  std::rotate(colors.begin(), colors.begin() + colors.size() / 3, colors.end());
  return colors;
}

size_t DistinctCount(const std::vector<TColorTriple>& colors) {
  std::set<uint32_t> set;
  for (const TColorTriple& c : colors) set.insert(TripleToColor(c));
  return set.size();
}

TEST(QuantizeTest, ExactPaletteWhenColoursFit) {
  struct Case {
    const char* name;
    int distinct;
    int maxColors;
  };
  const Case cases[] = {
      {"one colour", 1, 256},       {"two of two", 2, 2},     {"ten of sixteen", 10, 16},
      {"all 256 of 256", 256, 256}, {"100 of 100", 100, 100},
  };
  for (const Case& c : cases) {
    const std::vector<TColorTriple> colors = DistinctColors(c.distinct);
    ASSERT_EQ(DistinctCount(colors), size_t(c.distinct)) << c.name;
    const std::vector<uint8_t> bgr = Pixels(colors);
    const int count = static_cast<int>(colors.size());

    TColorQuantizer quantizer(c.maxColors);
    // In two calls, as rows of a page arrive.
    quantizer.AddPixels(bgr.data(), count / 2);
    quantizer.AddPixels(bgr.data() + 3 * (count / 2), count - count / 2);
    EXPECT_EQ(quantizer.BuildPalette(), c.distinct) << c.name;
    EXPECT_TRUE(quantizer.Exact()) << c.name;
    EXPECT_EQ(DistinctCount(quantizer.Palette()), size_t(c.distinct)) << c.name;

    std::vector<uint8_t> indexes(colors.size());
    quantizer.MapPixels(bgr.data(), count, indexes.data());
    for (size_t i = 0; i < colors.size(); ++i)
      ASSERT_EQ(quantizer.Palette().at(indexes[i]), colors[i]) << c.name << " pixel " << i;
  }
}

TEST(QuantizeTest, LimitHoldsBeyondTheColoursThatFit) {
  struct Case {
    const char* name;
    int distinct;
    int maxColors;
  };
  const Case cases[] = {
      {"257 of 256", 257, 256},
      {"3 of 2", 3, 2},
      {"5000 of 16", 5000, 16},
      {"40 of 1", 40, 1},
  };
  for (const Case& c : cases) {
    const std::vector<TColorTriple> colors = DistinctColors(c.distinct);
    const std::vector<uint8_t> bgr = Pixels(colors);
    const int count = static_cast<int>(colors.size());
    TColorQuantizer quantizer(c.maxColors);
    quantizer.AddPixels(bgr.data(), count);
    const int length = quantizer.BuildPalette();
    EXPECT_FALSE(quantizer.Exact()) << c.name;
    EXPECT_GE(length, 1) << c.name;
    EXPECT_LE(length, c.maxColors) << c.name;
    EXPECT_EQ(size_t(length), quantizer.Palette().size());
    std::vector<uint8_t> indexes(colors.size());
    quantizer.MapPixels(bgr.data(), count, indexes.data());
    for (uint8_t index : indexes) ASSERT_LT(index, length) << c.name;
  }
}

TEST(QuantizeTest, ClustersGetTheirOwnColour) {
  // Four clusters of noisy colours (over 300 distinct) into four entries: each
  // pixel must land on the entry near its cluster's centre.
  const TColorTriple centres[4] = {{240, 240, 240}, {20, 20, 200}, {30, 180, 40}, {200, 30, 30}};
  std::vector<TColorTriple> colors;
  std::vector<int> cluster;
  uint32_t seed = 7;
  for (int i = 0; i < 4000; ++i) {
    seed = seed * 1103515245u + 12345u;
    const int k = static_cast<int>((seed >> 16) % 4);
    const auto jitter = [&](uint8_t v, int shift) {
      return uint8_t(v + int((seed >> shift) & 15) - 8);
    };
    colors.push_back(
        {jitter(centres[k].blue, 4), jitter(centres[k].green, 8), jitter(centres[k].red, 12)});
    cluster.push_back(k);
  }
  ASSERT_GT(DistinctCount(colors), 300u);
  const std::vector<uint8_t> bgr = Pixels(colors);
  TColorQuantizer quantizer(4);
  quantizer.AddPixels(bgr.data(), int(colors.size()));
  ASSERT_EQ(quantizer.BuildPalette(), 4);
  std::vector<uint8_t> indexes(colors.size());
  quantizer.MapPixels(bgr.data(), int(colors.size()), indexes.data());
  for (size_t i = 0; i < colors.size(); ++i) {
    const TColorTriple p = quantizer.Palette()[indexes[i]];
    const TColorTriple& c = centres[cluster[i]];
    ASSERT_LE(std::abs(p.red - c.red) + std::abs(p.green - c.green) + std::abs(p.blue - c.blue), 12)
        << "pixel " << i;
  }
}

TEST(QuantizeTest, GrayRampIsExact) {
  std::vector<TColorTriple> ramp;
  for (int v = 255; v >= 0; --v) ramp.push_back({uint8_t(v), uint8_t(v), uint8_t(v)});
  const std::vector<uint8_t> bgr = Pixels(ramp);
  TColorQuantizer quantizer(256);
  quantizer.AddPixels(bgr.data(), 256);
  ASSERT_EQ(quantizer.BuildPalette(), 256);
  // Sorted by value: entry v is gray v.
  for (int v = 0; v < 256; ++v)
    EXPECT_EQ(quantizer.Palette()[v], (TColorTriple{uint8_t(v), uint8_t(v), uint8_t(v)}));
}

TEST(QuantizeTest, EdgeInputs) {
  TColorQuantizer none(256);
  EXPECT_EQ(none.BuildPalette(), 0);
  uint8_t index = 9;
  const uint8_t black[3] = {0, 0, 0};
  none.MapPixels(black, 1, &index);
  EXPECT_EQ(index, 0);

  // maxColors outside 1..256 is clamped.
  const std::vector<uint8_t> bgr = Pixels(DistinctColors(300));
  TColorQuantizer zero(0);
  zero.AddPixels(bgr.data(), int(bgr.size() / 3));
  EXPECT_EQ(zero.BuildPalette(), 1);
  TColorQuantizer many(100000);
  many.AddPixels(bgr.data(), int(bgr.size() / 3));
  EXPECT_LE(many.BuildPalette(), 256);

  // A colour that the histogram never saw maps to the nearest entry.
  TColorQuantizer exact(4);
  const uint8_t two[6] = {0, 0, 0, 250, 250, 250};
  exact.AddPixels(two, 2);
  ASSERT_EQ(exact.BuildPalette(), 2);
  const uint8_t unseen[3] = {240, 240, 240};
  exact.MapPixels(unseen, 1, &index);
  EXPECT_EQ(exact.Palette()[index], (TColorTriple{250, 250, 250}));
}

}  // namespace
}  // namespace folivo
