// Folivo — multi-page TIFF editor.
// Tests of PackBits row coding: packet choice, decoding rules, libtiff both ways.
#include "formats/packbits.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <random>
#include <string>
#include <vector>

#include "formats/stream.h"

namespace folivo {
namespace {

using TBytes = std::vector<uint8_t>;

TBytes EncodeRow(const TBytes& row) {
  TMemoryStream stream;
  PackBitsEncodeRow(row.data(), row.size(), stream);
  return stream.Bytes();
}

TBytes Repeat(size_t count, uint8_t value) {
  return TBytes(count, value);
}

TBytes Ramp(size_t count) {
  TBytes out(count);
  for (size_t i = 0; i < count; ++i) out[i] = static_cast<uint8_t>(i);
  return out;
}

TBytes Join(std::initializer_list<TBytes> parts) {
  TBytes out;
  for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

TBytes Control(int value) {
  return {static_cast<uint8_t>(static_cast<int8_t>(value))};
}

TBytes Slice(const TBytes& bytes, size_t from, size_t count) {
  return TBytes(bytes.begin() + from, bytes.begin() + from + count);
}

TEST(PackBitsEncoder, PacketChoice) {
  const TBytes ramp = Ramp(300);
  struct TCase {
    const char* Name;
    TBytes Row;
    TBytes Expected;
  };
  const std::vector<TCase> cases = {
      {"3 equal: literal", Repeat(3, 9), {2, 9, 9, 9}},
      {"4 equal: repeat", Repeat(4, 9), Join({Control(-3), {9}})},
      {"200 equal: 128 + 72", Repeat(200, 7), Join({Control(-127), {7}, Control(-71), {7}})},
      {"129 equal: 128 + literal 1", Repeat(129, 7), Join({Control(-127), {7}, {0, 7}})},
      {"300 distinct: 128 + 128 + 44", ramp,
       Join(
           {{127}, Slice(ramp, 0, 128), {127}, Slice(ramp, 128, 128), {43}, Slice(ramp, 256, 44)})},
      {"literal, run, literal",
       {1, 2, 5, 5, 5, 5, 5, 3},
       Join({{1, 1, 2}, Control(-4), {5}, {0, 3}})},
      {"short runs stay in the literal", {1, 1, 1, 2, 2, 3, 3, 3}, {7, 1, 1, 1, 2, 2, 3, 3, 3}},
      {"full literal before a short run", Join({Ramp(128), {200, 200}}),
       Join({{127}, Ramp(128), {1, 200, 200}})},
      {"empty row", {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(EncodeRow(c.Row), c.Expected);
  }
}

TEST(PackBitsDecoder, Rules) {
  struct TCase {
    const char* Name;
    TBytes Source;
    size_t RowLength;
    TBytes Expected;  // the produced bytes
    size_t SourceEnd;
  };
  const std::vector<TCase> cases = {
      {"literal and repeat",
       Join({{2, 'a', 'b', 'c'}, Control(-2), {'z'}}),
       6,
       {'a', 'b', 'c', 'z', 'z', 'z'},
       6},
      {"-128 is skipped", Join({Control(-128), {0, 'q'}}), 1, {'q'}, 3},
      {"repeat overshoots the row",
       Join({Control(-9), {'x'}, {0, 'y'}}),
       4,
       {'x', 'x', 'x', 'x'},
       2},
      {"literal overshoots the row",
       {5, 'a', 'b', 'c', 'd', 'e', 'f', 0, 'g'},
       3,
       {'a', 'b', 'c'},
       7},
      {"literal cut by the data end", {5, 'a', 'b'}, 6, {'a', 'b'}, 3},
      {"repeat without its byte", Join({{0, 'a'}, Control(-3)}), 6, {'a'}, 3},
      {"no data", {}, 4, {}, 0},
      {"empty row reads nothing", {0, 'a'}, 0, {}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TBytes row(c.RowLength + 1, 0xEE);
    size_t pos = 0;
    const size_t produced =
        PackBitsDecodeRow(c.Source.data(), c.Source.size(), pos, row.data(), c.RowLength);
    EXPECT_EQ(TBytes(row.begin(), row.begin() + produced), c.Expected);
    EXPECT_EQ(pos, c.SourceEnd);
    EXPECT_EQ(row[produced], 0xEE) << "nothing written beyond the produced bytes";
  }
}

TEST(PackBitsCodec, RoundTripRowByRow) {
  std::mt19937 random(5);
  TMemoryStream stream;
  std::vector<TBytes> rows;
  for (int r = 0; r < 60; ++r) {
    TBytes row(1 + random() % 700);
    // Runs of random length, some long, some single bytes.
    for (size_t i = 0; i < row.size();) {
      const size_t run = std::min<size_t>(row.size() - i, random() % 3 ? 1 : random() % 300);
      std::fill(row.begin() + i, row.begin() + i + std::max<size_t>(run, 1),
                static_cast<uint8_t>(random()));
      i += std::max<size_t>(run, 1);
    }
    PackBitsEncodeRow(row.data(), row.size(), stream);
    rows.push_back(row);
  }
  const TBytes& code = stream.Bytes();
  size_t pos = 0;
  for (const auto& row : rows) {
    TBytes decoded(row.size());
    ASSERT_EQ(PackBitsDecodeRow(code.data(), code.size(), pos, decoded.data(), decoded.size()),
              row.size());
    ASSERT_EQ(decoded, row);
  }
  EXPECT_EQ(pos, code.size());
}

// ---------------------------------------------------------------------------
// libtiff as the oracle

constexpr int kWidth = 333;
constexpr int kHeight = 50;
constexpr int kRowsPerStrip = 16;

TBytes GrayPage() {
  std::mt19937 random(8);
  TBytes page(kWidth * kHeight);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x)
      page[y * kWidth + x] =
          (x / 30 + y / 7) % 2 ? 255 : static_cast<uint8_t>(y % 5 ? x & 0xF0 : random());
  return page;
}

TIFF* CreateGray(const std::string& path) {
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  if (tif == nullptr) return nullptr;
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kWidth);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, kHeight);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_PACKBITS);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, kRowsPerStrip);
  return tif;
}

TEST(PackBitsLibtiff, LibtiffDecodesOurRows) {
  const TBytes page = GrayPage();
  const std::string path = ::testing::TempDir() + "packbits_ours.tif";
  TIFF* tif = CreateGray(path);
  ASSERT_NE(tif, nullptr);
  for (int strip = 0, y = 0; y < kHeight; ++strip) {
    TMemoryStream stream;
    for (int r = 0; r < kRowsPerStrip && y < kHeight; ++r, ++y)
      PackBitsEncodeRow(page.data() + y * kWidth, kWidth, stream);
    ASSERT_GT(TIFFWriteRawStrip(tif, strip, stream.Bytes().data(), stream.Bytes().size()), 0);
  }
  TIFFClose(tif);

  tif = TIFFOpen(path.c_str(), "r");
  ASSERT_NE(tif, nullptr);
  TBytes strip(TIFFStripSize(tif));
  for (int s = 0, y = 0; y < kHeight; ++s, y += kRowsPerStrip) {
    const int rows = std::min(kRowsPerStrip, kHeight - y);
    ASSERT_EQ(TIFFReadEncodedStrip(tif, s, strip.data(), -1), rows * kWidth);
    EXPECT_TRUE(std::equal(strip.begin(), strip.begin() + rows * kWidth, page.begin() + y * kWidth))
        << "strip " << s;
  }
  TIFFClose(tif);
}

TEST(PackBitsLibtiff, WeDecodeLibtiffRows) {
  const TBytes page = GrayPage();
  const std::string path = ::testing::TempDir() + "packbits_libtiff.tif";
  TIFF* tif = CreateGray(path);
  ASSERT_NE(tif, nullptr);
  for (int s = 0, y = 0; y < kHeight; ++s, y += kRowsPerStrip) {
    const int rows = std::min(kRowsPerStrip, kHeight - y);
    ASSERT_GT(TIFFWriteEncodedStrip(tif, s, const_cast<uint8_t*>(page.data()) + y * kWidth,
                                    rows * kWidth),
              0);
  }
  TIFFClose(tif);

  tif = TIFFOpen(path.c_str(), "r");
  ASSERT_NE(tif, nullptr);
  for (int s = 0, y = 0; y < kHeight; ++s) {
    TBytes raw(TIFFRawStripSize(tif, s));
    ASSERT_EQ(TIFFReadRawStrip(tif, s, raw.data(), raw.size()), static_cast<tmsize_t>(raw.size()));
    size_t pos = 0;
    for (int r = 0; r < kRowsPerStrip && y < kHeight; ++r, ++y) {
      TBytes row(kWidth);
      ASSERT_EQ(PackBitsDecodeRow(raw.data(), raw.size(), pos, row.data(), row.size()),
                static_cast<size_t>(kWidth));
      ASSERT_TRUE(std::equal(row.begin(), row.end(), page.begin() + y * kWidth)) << "row " << y;
    }
    EXPECT_EQ(pos, raw.size());
  }
  TIFFClose(tif);
}

TEST(PackBitsDecoder, RandomBytesStayInBounds) {
  std::mt19937 random(13);
  for (int i = 0; i < 500; ++i) {
    TBytes junk(random() % 400);
    for (auto& b : junk) b = static_cast<uint8_t>(random());
    const size_t rowLength = random() % 300;
    TBytes row(rowLength);
    size_t pos = 0;
    while (pos < junk.size()) {
      const size_t before = pos;
      const size_t produced =
          PackBitsDecodeRow(junk.data(), junk.size(), pos, row.data(), row.size());
      ASSERT_LE(produced, rowLength);
      ASSERT_LE(pos, junk.size());
      if (rowLength == 0) break;
      ASSERT_GT(pos, before) << "every call consumes input";
    }
  }
}

}  // namespace
}  // namespace folivo
