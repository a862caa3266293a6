// Folivo — multi-page TIFF editor.
// Tests of horizontal differencing: the writer's row, the reader's undo against libtiff.
#include "formats/predictor.h"

#include <gtest/gtest.h>
#include <tiffio.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace folivo {
namespace {

using TBytes = std::vector<uint8_t>;

TEST(PredictorEncoder, Rows) {
  struct TCase {
    const char* Name;
    TBytes Bgr;
    TBytes Expected;  // RGB, differenced
  };
  const std::vector<TCase> cases = {
      {"equal pixels",
       {30, 20, 10, 30, 20, 10, 30, 20, 10, 30, 20, 10},
       {10, 20, 30, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"one pixel", {1, 2, 3}, {3, 2, 1}},
      {"modulo 256", {0, 0, 5, 255, 0, 250, 0, 1, 0}, {5, 0, 0, 245, 0, 255, 6, 1, 1}},
      {"ramp", {0, 0, 0, 3, 2, 1, 6, 4, 2}, {0, 0, 0, 1, 2, 3, 1, 2, 3}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const int width = static_cast<int>(c.Bgr.size() / 3);
    TBytes out(c.Bgr.size());
    PredictorEncodeRow(c.Bgr.data(), width, out.data());
    EXPECT_EQ(out, c.Expected);
    TBytes inPlace = c.Bgr;
    PredictorEncodeRow(inPlace.data(), width, inPlace.data());
    EXPECT_EQ(inPlace, c.Expected) << "in place";
  }
}

TEST(PredictorCodec, EncodeThenUndoGivesRgb) {
  std::mt19937 random(2);
  TBytes bgr(3 * 517);
  for (auto& b : bgr) b = static_cast<uint8_t>(random());
  TBytes row(bgr.size());
  PredictorEncodeRow(bgr.data(), 517, row.data());
  PredictorDecodeRow8(row.data(), 517, 3);
  for (size_t i = 0; i < bgr.size(); i += 3) {
    ASSERT_EQ(row[i], bgr[i + 2]);
    ASSERT_EQ(row[i + 1], bgr[i + 1]);
    ASSERT_EQ(row[i + 2], bgr[i]);
  }
}

TEST(PredictorDecoder, DegenerateSizesTouchNothing) {
  TBytes row = {1, 2, 3, 4};
  PredictorDecodeRow8(row.data(), 0, 3);
  PredictorDecodeRow8(row.data(), 4, 0);
  PredictorDecodeRow16(row.data(), 0, 1, false);
  PredictorDecodeRow8(row.data(), 1, 4);  // one pixel: nothing to add
  EXPECT_EQ(row, (TBytes{1, 2, 3, 4}));
}

// libtiff writes differenced Deflate strips; zlib inflates them and our undo
// must give back the samples libtiff was handed.
struct TLayout {
  int Bits;
  int Samples;
  bool BigEndian;
};

TEST(PredictorLibtiff, UndoMatchesLibtiffDifferencing) {
  const std::vector<TLayout> layouts = {
      {8, 1, false},  {8, 2, false},  {8, 3, false}, {8, 4, false}, {8, 5, false},
      {16, 1, false}, {16, 3, false}, {16, 3, true}, {16, 4, true},
  };
  constexpr int kWidth = 257;
  constexpr int kHeight = 9;
  for (const auto& layout : layouts) {
    SCOPED_TRACE(testing::Message() << layout.Bits << " bits x " << layout.Samples
                                    << (layout.BigEndian ? " big-endian" : " little-endian"));
    const size_t samples = static_cast<size_t>(kWidth) * kHeight * layout.Samples;
    const size_t sampleBytes = layout.Bits / 8;
    // Native-order samples with both smooth and jumpy neighbours.
    std::mt19937 random(layout.Samples * 31 + layout.Bits);
    TBytes page(samples * sampleBytes);
    for (size_t i = 0; i < samples; ++i) {
      const uint32_t value = (i % 7 == 0) ? random() : i * 97;
      if (layout.Bits == 8) {
        page[i] = static_cast<uint8_t>(value);
      } else {
        const uint16_t v = static_cast<uint16_t>(value);
        std::memcpy(&page[2 * i], &v, 2);
      }
    }
    const std::string path = ::testing::TempDir() + "predictor.tif";
    TIFF* tif = TIFFOpen(path.c_str(), layout.BigEndian ? "wb" : "wl");
    ASSERT_NE(tif, nullptr);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kWidth);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, kHeight);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, layout.Bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, layout.Samples);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC,
                 layout.Samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
    if (layout.Samples == 2 || layout.Samples > 3) {
      std::vector<uint16_t> extra(layout.Samples - (layout.Samples == 2 ? 1 : 3),
                                  EXTRASAMPLE_UNSPECIFIED);
      TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, static_cast<uint16_t>(extra.size()), extra.data());
    }
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, kHeight);
    ASSERT_GT(TIFFWriteEncodedStrip(tif, 0, page.data(), page.size()), 0);
    TIFFClose(tif);

    tif = TIFFOpen(path.c_str(), "r");
    ASSERT_NE(tif, nullptr);
    TBytes raw(TIFFRawStripSize(tif, 0));
    ASSERT_EQ(TIFFReadRawStrip(tif, 0, raw.data(), raw.size()), static_cast<tmsize_t>(raw.size()));
    TIFFClose(tif);
    TBytes strip(page.size());
    uLongf stripSize = strip.size();
    ASSERT_EQ(uncompress(strip.data(), &stripSize, raw.data(), raw.size()), Z_OK);
    ASSERT_EQ(stripSize, strip.size());

    const size_t rowBytes = strip.size() / kHeight;
    for (int y = 0; y < kHeight; ++y) {
      uint8_t* row = strip.data() + y * rowBytes;
      if (layout.Bits == 8) {
        PredictorDecodeRow8(row, kWidth, layout.Samples);
      } else {
        PredictorDecodeRow16(row, kWidth, layout.Samples, layout.BigEndian);
      }
    }
    for (size_t i = 0; i < samples; ++i) {
      if (layout.Bits == 8) {
        ASSERT_EQ(strip[i], page[i]) << "sample " << i;
      } else {
        const uint16_t file = layout.BigEndian ? (strip[2 * i] << 8) | strip[2 * i + 1]
                                               : strip[2 * i] | (strip[2 * i + 1] << 8);
        uint16_t expected;
        std::memcpy(&expected, &page[2 * i], 2);
        ASSERT_EQ(file, expected) << "sample " << i;
      }
    }
  }
}

}  // namespace
}  // namespace folivo
