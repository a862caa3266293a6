// Folivo — multi-page TIFF editor.
// CCITT codec: round trips, exact codes, libtiff in both directions, hostile input.
#include "formats/ccitt.h"

#include <gtest/gtest.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "formats/stream.h"

namespace folivo {
namespace {

// Rows are packed in the decoded convention (1 = white) with the bits past the
// width set, as the decoder leaves them.
using TRow = std::vector<uint8_t>;

struct TPage {
  std::string name;
  int width = 0;
  std::vector<TRow> rows;
};

int RowBytes(int width) {
  return (width + 7) / 8;
}

void SetBlack(TRow& row, int x) {
  row[x >> 3] &= static_cast<uint8_t>(~(0x80 >> (x & 7)));
}

TPage Blank(std::string name, int width, int height) {
  return {std::move(name), width, std::vector<TRow>(height, TRow(RowBytes(width), 0xFF))};
}

TPage FromAscii(std::string name, const std::vector<std::string>& lines) {
  TPage page = Blank(std::move(name), static_cast<int>(lines[0].size()), lines.size());
  for (size_t y = 0; y < lines.size(); ++y)
    for (size_t x = 0; x < lines[y].size(); ++x)
      if (lines[y][x] == '#') SetBlack(page.rows[y], static_cast<int>(x));
  return page;
}

TPage Uniform(std::string name, int width, int height, bool black) {
  TPage page = Blank(std::move(name), width, height);
  if (black)
    for (TRow& row : page.rows)
      for (int x = 0; x < width; ++x) SetBlack(row, x);
  return page;
}

TPage Checkerboard(std::string name, int width, int height) {
  TPage page = Blank(std::move(name), width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      if ((x + y) % 2) SetBlack(page.rows[y], x);
  return page;
}

// Lines of glyph-like boxes made of strokes, with a little speckle: the runs
// and changing elements of a scanned text page.
TPage TextLike(std::string name, int width, int height, uint32_t seed) {
  TPage page = Blank(std::move(name), width, height);
  std::mt19937 rng(seed);
  auto uniform = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (int top = 4; top + 20 < height; top += 30) {
    for (int left = uniform(2, 20); left + 18 < width; left += uniform(10, 22)) {
      const int w = uniform(6, 16);
      const int strokes = uniform(1, 4);
      for (int s = 0; s < strokes; ++s) {
        const bool vertical = uniform(0, 1);
        const int thick = uniform(1, 3);
        const int at = vertical ? uniform(0, w - thick) : uniform(0, 20 - thick);
        for (int y = 0; y < 20; ++y)
          for (int x = 0; x < w; ++x) {
            const bool on = vertical ? (x >= at && x < at + thick) : (y >= at && y < at + thick);
            if (on && left + x < width) SetBlack(page.rows[top + y], left + x);
          }
      }
    }
  }
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      if (uniform(0, 999) == 0) SetBlack(page.rows[y], x);
  return page;
}

TPage RandomNoise(std::string name, int width, int height, uint32_t seed) {
  TPage page = Blank(std::move(name), width, height);
  std::mt19937 rng(seed);
  for (TRow& row : page.rows)
    for (int x = 0; x < width; ++x)
      if (rng() & 1) SetBlack(row, x);
  return page;
}

std::vector<TPage> Fixtures() {
  std::vector<TPage> pages;
  pages.push_back(FromAscii("ascii", {
                                         "..........##########..........#",
                                         "#........############........##",
                                         "##......###...##...###......###",
                                         "###....###....##....###....####",
                                         "####..#####################.###",
                                         "......##................##.....",
                                         "#.#.#.#.#.#.#.#.#.#.#.#.#.#.#.#",
                                         "...............................",
                                     }));
  pages.push_back(TextLike("text 1728", 1728, 96, 1));
  pages.push_back(TextLike("text 1001", 1001, 64, 2));
  pages.push_back(RandomNoise("noise 77", 77, 24, 3));
  pages.push_back(Uniform("white 1728", 1728, 4, false));
  pages.push_back(Uniform("black 1728", 1728, 4, true));
  pages.push_back(Uniform("white 5000", 5000, 3, false));
  pages.push_back(Uniform("black 5000", 5000, 3, true));
  pages.push_back(Checkerboard("checkerboard 63", 63, 8));
  pages.push_back(Checkerboard("checkerboard 1728", 1728, 4));
  pages.push_back(Uniform("one pixel white", 1, 3, false));
  pages.push_back(Uniform("one pixel black", 1, 3, true));
  pages.push_back(FromAscii("stripes", {"#...............................................#"
                                        "................................................",
                                        "################################################"
                                        "#...............................................",
                                        "#...............................................#"
                                        "................................................"}));
  return pages;
}

enum class TMode { Mh, G3OneD, G3TwoD, G4 };

const char* ModeName(TMode mode) {
  switch (mode) {
    case TMode::Mh:
      return "MH";
    case TMode::G3OneD:
      return "G3 1-D";
    case TMode::G3TwoD:
      return "G3 2-D";
    case TMode::G4:
      return "G4";
  }
  return "?";
}

constexpr TMode kModes[] = {TMode::Mh, TMode::G3OneD, TMode::G3TwoD, TMode::G4};

TRow Inverted(const TRow& row) {
  TRow out(row);
  for (uint8_t& b : out) b = static_cast<uint8_t>(~b);
  return out;
}

std::vector<uint8_t> EncodeStrip(const TPage& page, size_t first, size_t count, TMode mode,
                                 int fillOrder) {
  TMemoryStream stream;
  TCcittPending pending;
  std::vector<uint8_t> reference;
  for (size_t y = first; y < first + count; ++y) {
    const TRow input = Inverted(page.rows[y]);  // the encoder takes 1 = black
    switch (mode) {
      case TMode::Mh:
        EncodeMhRow(input.data(), page.width, stream, fillOrder);
        break;
      case TMode::G3OneD:
        EncodeG3Row1D(input.data(), page.width, stream, fillOrder, pending);
        break;
      case TMode::G3TwoD:
        EncodeG3Row2D(input.data(), page.width, stream, fillOrder, reference, pending);
        break;
      case TMode::G4:
        EncodeG4Row(input.data(), page.width, stream, fillOrder, reference, pending);
        break;
    }
  }
  switch (mode) {
    case TMode::Mh:
      break;
    case TMode::G3OneD:
      EncodeG3Row1D(nullptr, page.width, stream, fillOrder, pending);
      break;
    case TMode::G3TwoD:
      EncodeG3Row2D(nullptr, page.width, stream, fillOrder, reference, pending);
      break;
    case TMode::G4:
      EncodeG4Row(nullptr, page.width, stream, fillOrder, reference, pending);
      break;
  }
  EXPECT_EQ(pending.Count, 0);
  EXPECT_TRUE(reference.empty());
  return stream.Bytes();
}

std::vector<uint8_t> EncodeStrip(const TPage& page, TMode mode, int fillOrder) {
  return EncodeStrip(page, 0, page.rows.size(), mode, fillOrder);
}

struct TDecoded {
  std::vector<TRow> rows;
  std::vector<uint64_t> endBits;  // bit position after each row
};

// Decodes up to height rows the way the strip reader does: it stops when a row
// makes no progress. The input is copied to a buffer of its exact size so that
// the sanitizer sees any read past it.
TDecoded DecodeStrip(const std::vector<uint8_t>& bytes, TMode mode, int width, size_t height,
                     int fillOrder, bool withEol = false) {
  const std::unique_ptr<uint8_t[]> data(new uint8_t[std::max<size_t>(bytes.size(), 1)]);
  std::copy(bytes.begin(), bytes.end(), data.get());
  const uint8_t* input = bytes.empty() ? nullptr : data.get();
  TDecoded out;
  std::vector<uint8_t> reference(RowBytes(width), 0xFF);
  uint64_t position = 0;
  for (size_t y = 0; y < height; ++y) {
    TRow row(RowBytes(width));
    uint64_t next = 0;
    switch (mode) {
      case TMode::Mh: {
        const size_t offset = static_cast<size_t>(position / 8);
        next = position + 8 * DecodeMhRow(row.data(), input ? input + offset : nullptr,
                                          bytes.size() - offset, fillOrder, width);
        break;
      }
      case TMode::G3OneD:
        next = DecodeG3Row1D(row.data(), input, bytes.size(), fillOrder, position, width);
        break;
      case TMode::G3TwoD:
        next = DecodeRow2D(row.data(), input, bytes.size(), true, fillOrder, position,
                           reference.data(), width);
        break;
      case TMode::G4:
        next = DecodeRow2D(row.data(), input, bytes.size(), withEol, fillOrder, position,
                           reference.data(), width);
        break;
    }
    EXPECT_LE(next, bytes.size() * 8);
    if (next <= position) break;
    position = next;
    out.rows.push_back(row);
    out.endBits.push_back(position);
  }
  return out;
}

std::string RowText(const TRow& row, int width) {
  std::string s;
  for (int x = 0; x < width; ++x) s += (row[x >> 3] & (0x80 >> (x & 7))) ? '.' : '#';
  return s;
}

void ExpectSameRows(const std::vector<TRow>& actual, const TPage& expected, size_t first = 0,
                    size_t count = SIZE_MAX) {
  count = std::min(count, expected.rows.size() - first);
  ASSERT_EQ(actual.size(), count);
  for (size_t y = 0; y < count; ++y) {
    if (actual[y] != expected.rows[first + y]) {
      ADD_FAILURE() << "row " << first + y << "\n got  " << RowText(actual[y], expected.width)
                    << "\n want " << RowText(expected.rows[first + y], expected.width);
      return;
    }
  }
}

std::vector<uint8_t> ReverseBytes(std::vector<uint8_t> bytes) {
  for (uint8_t& b : bytes) {
    uint8_t r = 0;
    for (int i = 0; i < 8; ++i) r |= ((b >> i) & 1) << (7 - i);
    b = r;
  }
  return bytes;
}

std::vector<uint8_t> BitsToBytes(const std::string& bits) {
  std::vector<uint8_t> bytes((bits.size() + 7) / 8, 0);
  for (size_t i = 0; i < bits.size(); ++i)
    if (bits[i] == '1') bytes[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
  return bytes;
}

// ---------------------------------------------------------------- round trips

TEST(CcittTest, RoundTripsEveryFixtureInEveryModeAndFillOrder) {
  for (const TPage& page : Fixtures()) {
    for (TMode mode : kModes) {
      SCOPED_TRACE(page.name + ", " + ModeName(mode));
      const std::vector<uint8_t> msbFirst = EncodeStrip(page, mode, 1);
      const std::vector<uint8_t> lsbFirst = EncodeStrip(page, mode, 2);
      EXPECT_EQ(lsbFirst, ReverseBytes(msbFirst));
      ExpectSameRows(DecodeStrip(msbFirst, mode, page.width, page.rows.size(), 1).rows, page);
      ExpectSameRows(DecodeStrip(lsbFirst, mode, page.width, page.rows.size(), 2).rows, page);
    }
  }
}

TEST(CcittTest, StripsStartAfresh) {
  // Two strips written one after the other into one stream decode as two
  // independent strips: no pending bits or reference row leak across.
  const TPage page = TextLike("text", 300, 40, 7);
  for (TMode mode : kModes) {
    SCOPED_TRACE(ModeName(mode));
    TMemoryStream stream;
    TCcittPending pending;
    std::vector<uint8_t> reference;
    std::vector<size_t> stripEnds;
    for (size_t first : {size_t{0}, size_t{25}}) {
      const size_t last = first == 0 ? 25 : 40;
      for (size_t y = first; y <= last; ++y) {
        const TRow input = Inverted(page.rows[std::min(y, last - 1)]);
        const uint8_t* row = y == last ? nullptr : input.data();
        if (mode == TMode::Mh) {
          if (row) EncodeMhRow(row, page.width, stream, 1);
        } else if (mode == TMode::G3OneD) {
          EncodeG3Row1D(row, page.width, stream, 1, pending);
        } else if (mode == TMode::G3TwoD) {
          EncodeG3Row2D(row, page.width, stream, 1, reference, pending);
        } else {
          EncodeG4Row(row, page.width, stream, 1, reference, pending);
        }
      }
      stripEnds.push_back(stream.Bytes().size());
    }
    const std::vector<uint8_t>& all = stream.Bytes();
    const std::vector<uint8_t> first(all.begin(), all.begin() + stripEnds[0]);
    const std::vector<uint8_t> second(all.begin() + stripEnds[0], all.end());
    EXPECT_EQ(first, EncodeStrip(page, 0, 25, mode, 1));
    EXPECT_EQ(second, EncodeStrip(page, 25, 15, mode, 1));
  }
}

// ---------------------------------------------------------------- exact codes

TEST(CcittTest, EncodesTheCodesOfTheStandard) {
  struct TCase {
    const char* name;
    TMode mode;
    int width;
    bool black;
    std::string bits;  // the strip, padded
  };
  const TCase cases[] = {
      // make-up 1728, terminating 0
      {"MH white 1728", TMode::Mh, 1728, false,
       "010011011"
       "00110101"
       "0000000"},
      // white 0, black 8
      {"MH black 8", TMode::Mh, 8, true,
       "00110101"
       "000101"
       "00"},
      // 2560 + 384 + 56
      {"MH white 3000", TMode::Mh, 3000, false,
       "000000011111"
       "00110111"
       "01011001"
       "0000"},
      // white 0, black 2560 + 2560 + 512 + 8 (extended make-ups shared by both colours)
      {"MH black 5640", TMode::Mh, 5640, true,
       "00110101"
       "000000011111"
       "000000011111"
       "0000001101100"
       "000101"
       "00000"},
      // EOL, white 8; end of strip: nothing but padding
      {"G3 1-D white 8", TMode::G3OneD, 8, false,
       "000000000001"
       "10011"
       "0000000"},
      // EOL, tag 1, white 8; the closing EOL; padding
      {"G3 2-D white 8", TMode::G3TwoD, 8, false,
       "000000000001"
       "1"
       "10011"
       "000000000001"
       "00"},
      // V0 against the white reference; EOFB; padding
      {"G4 white 8", TMode::G4, 8, false,
       "1"
       "000000000001"
       "000000000001"
       "0000000"},
      // a1 = 0, b1 = 8: horizontal, white 0, black 8; EOFB
      {"G4 black 8", TMode::G4, 8, true,
       "001"
       "00110101"
       "000101"
       "000000000001"
       "000000000001"
       "0000000"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    const TPage page = Uniform(c.name, c.width, 1, c.black);
    ASSERT_EQ(c.bits.size() % 8, 0u);
    EXPECT_EQ(EncodeStrip(page, c.mode, 1), BitsToBytes(c.bits));
    EXPECT_EQ(EncodeStrip(page, c.mode, 2), ReverseBytes(BitsToBytes(c.bits)));
  }
}

TEST(CcittTest, DecodesAWhiteFaxRowFromItsCodes) {
  const std::vector<uint8_t> codes = BitsToBytes(
      "010011011"
      "00110101");
  TRow row(216, 0);
  EXPECT_EQ(DecodeMhRow(row.data(), codes.data(), codes.size(), 1, 1728), 3u);
  EXPECT_EQ(row, TRow(216, 0xFF));
  const std::vector<uint8_t> reversed = ReverseBytes(codes);
  std::fill(row.begin(), row.end(), 0);
  EXPECT_EQ(DecodeG3Row1D(row.data(), reversed.data(), reversed.size(), 2, 0, 1728), 17u);
  EXPECT_EQ(row, TRow(216, 0xFF));
}

TEST(CcittTest, AcceptsEolsWithFillZerosBetweenRows) {
  // Row "...##..." as 1-D codes (white 3, black 2, white 3) and as 2-D codes
  // against itself (three V0).
  const std::string oneD =
      "1000"
      "11"
      "1000";
  const std::string eol = "000000000001";
  for (int fill : {0, 1, 7, 20, 40}) {
    SCOPED_TRACE("fill zeros " + std::to_string(fill));
    const std::string zeros(fill, '0');
    const std::vector<uint8_t> g3 =
        BitsToBytes(zeros + eol + oneD + zeros + eol + oneD + zeros + eol + oneD + zeros + eol);
    const std::vector<uint8_t> g32d = BitsToBytes(zeros + eol + "1" + oneD + zeros + eol + "0" +
                                                  "111" + zeros + eol + "0" + "111");
    const TPage expected = FromAscii("row", {"...##...", "...##...", "...##..."});
    ExpectSameRows(DecodeStrip(g3, TMode::G3OneD, 8, 3, 1).rows, expected);
    ExpectSameRows(DecodeStrip(g32d, TMode::G3TwoD, 8, 3, 1).rows, expected);
    // A Group 4 page with T4Options bit 2 carries such EOLs too.
    ExpectSameRows(DecodeStrip(g32d, TMode::G4, 8, 3, 1, true).rows, expected);
  }
}

TEST(CcittTest, DecodesOneDimensionalRowsWithoutEols) {
  // Writers differ: Group 3 1-D rows may follow each other with no EOL at all.
  const TPage page = TextLike("text", 500, 30, 11);
  const std::vector<uint8_t> withEols = EncodeStrip(page, TMode::G3OneD, 1);
  std::string bits;
  for (const TRow& row : page.rows) {
    TMemoryStream stream;
    TCcittPending pending;
    const TRow input = Inverted(row);
    EncodeG3Row1D(input.data(), 500, stream, 1, pending);
    EncodeG3Row1D(nullptr, 500, stream, 1, pending);
    std::string rowBits;
    for (uint8_t b : stream.Bytes())
      for (int i = 7; i >= 0; --i) rowBits += ((b >> i) & 1) ? '1' : '0';
    // Drop the leading EOL; keep exactly the row's codes by decoding them.
    TRow decoded(RowBytes(500));
    const uint64_t end =
        DecodeG3Row1D(decoded.data(), stream.Bytes().data(), stream.Bytes().size(), 1, 12, 500);
    bits += rowBits.substr(12, end - 12);
  }
  ExpectSameRows(DecodeStrip(BitsToBytes(bits), TMode::G3OneD, 500, 30, 1).rows, page);
  EXPECT_LT(BitsToBytes(bits).size(), withEols.size());
}

TEST(CcittTest, DecodesUncompressedMode) {
  // Width 12: uncompressed "1" (black), "01" (white, black), "000001" (five
  // white), exit "0000001" with tag 1 (black follows), then V0 against the
  // white reference: black to the end of the row.
  const std::vector<uint8_t> codes =
      BitsToBytes(std::string("0000001111") + "1" + "01" + "000001" + "0000001" + "1" + "1");
  TRow row(2), reference(2, 0xFF);
  const uint64_t end =
      DecodeRow2D(row.data(), codes.data(), codes.size(), false, 1, 0, reference.data(), 12);
  EXPECT_EQ(RowText(row, 12), "#.#.....####");
  EXPECT_EQ(end, 10u + 1 + 2 + 6 + 7 + 1 + 1);
  EXPECT_EQ(reference, row);
}

// ------------------------------------------------------------- libtiff oracle

struct TLibtiffMode {
  const char* name;
  uint16_t compression;
  uint32_t t4Options;
  TMode mode;
};

constexpr TLibtiffMode kLibtiffModes[] = {
    {"CCITTRLE", COMPRESSION_CCITTRLE, 0, TMode::Mh},
    {"FAX3 1-D", COMPRESSION_CCITTFAX3, 0, TMode::G3OneD},
    {"FAX3 1-D fill bits", COMPRESSION_CCITTFAX3, GROUP3OPT_FILLBITS, TMode::G3OneD},
    {"FAX3 2-D", COMPRESSION_CCITTFAX3, GROUP3OPT_2DENCODING, TMode::G3TwoD},
    {"FAX3 2-D fill bits", COMPRESSION_CCITTFAX3, GROUP3OPT_2DENCODING | GROUP3OPT_FILLBITS,
     TMode::G3TwoD},
    {"FAX4", COMPRESSION_CCITTFAX4, 0, TMode::G4},
};

class TTempFile {
 public:
  TTempFile() {
    static int serial = 0;
    path_ = testing::TempDir() + "ccitt_test_" + std::to_string(getpid()) + "_" +
            std::to_string(serial++) + ".tif";
  }
  ~TTempFile() { std::remove(path_.c_str()); }
  const char* Path() const { return path_.c_str(); }

 private:
  std::string path_;
};

TIFF* OpenForWriting(const TTempFile& file, const TPage& page, const TLibtiffMode& m, int fillOrder,
                     uint32_t rowsPerStrip) {
  TIFF* tif = TIFFOpen(file.Path(), "w");
  if (!tif) return nullptr;
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(page.width));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(page.rows.size()));
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, m.compression);
  TIFFSetField(tif, TIFFTAG_FILLORDER, fillOrder == 2 ? FILLORDER_LSB2MSB : FILLORDER_MSB2LSB);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
  if (m.compression == COMPRESSION_CCITTFAX3) TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, m.t4Options);
  return tif;
}

std::vector<TPage> OracleFixtures() {
  std::vector<TPage> pages;
  pages.push_back(TextLike("text 1728", 1728, 120, 21));
  pages.push_back(TextLike("text 999", 999, 50, 22));
  pages.push_back(RandomNoise("noise 130", 130, 20, 23));
  pages.push_back(Checkerboard("checkerboard 70", 70, 6));
  pages.push_back(Uniform("black 3000", 3000, 3, true));
  return pages;
}

class CcittLibtiffTest : public testing::Test {
 protected:
  void SetUp() override { TIFFSetWarningHandler(nullptr); }
};

TEST_F(CcittLibtiffTest, DecodesStripsWrittenByLibtiff) {
  for (const TPage& page : OracleFixtures()) {
    for (const TLibtiffMode& m : kLibtiffModes) {
      for (int fillOrder : {1, 2}) {
        SCOPED_TRACE(page.name + ", " + m.name + ", fill order " + std::to_string(fillOrder));
        const uint32_t rowsPerStrip = std::max<uint32_t>(1, page.rows.size() / 3 + 1);
        TTempFile file;
        TIFF* tif = OpenForWriting(file, page, m, fillOrder, rowsPerStrip);
        ASSERT_NE(tif, nullptr);
        for (size_t y = 0; y < page.rows.size(); ++y) {
          TRow input = Inverted(page.rows[y]);
          ASSERT_EQ(TIFFWriteScanline(tif, input.data(), static_cast<uint32_t>(y), 0), 1);
        }
        TIFFClose(tif);

        tif = TIFFOpen(file.Path(), "r");
        ASSERT_NE(tif, nullptr);
        const uint32_t strips = TIFFNumberOfStrips(tif);
        ASSERT_GT(strips, 1u);
        uint64_t* byteCounts = nullptr;
        ASSERT_TRUE(TIFFGetField(tif, TIFFTAG_STRIPBYTECOUNTS, &byteCounts));
        for (uint32_t s = 0; s < strips; ++s) {
          std::vector<uint8_t> raw(byteCounts[s]);
          ASSERT_EQ(TIFFReadRawStrip(tif, s, raw.data(), raw.size()),
                    static_cast<tmsize_t>(raw.size()));
          const size_t first = s * rowsPerStrip;
          const size_t count = std::min<size_t>(rowsPerStrip, page.rows.size() - first);
          ExpectSameRows(DecodeStrip(raw, m.mode, page.width, count, fillOrder).rows, page, first,
                         count);
        }
        TIFFClose(tif);
      }
    }
  }
}

TEST_F(CcittLibtiffTest, LibtiffDecodesOurStrips) {
  for (const TPage& page : OracleFixtures()) {
    for (const TLibtiffMode& m : kLibtiffModes) {
      if (m.t4Options & GROUP3OPT_FILLBITS) continue;  // we write no fill bits
      for (int fillOrder : {1, 2}) {
        SCOPED_TRACE(page.name + ", " + m.name + ", fill order " + std::to_string(fillOrder));
        const uint32_t rowsPerStrip = std::max<uint32_t>(1, page.rows.size() / 3 + 1);
        TTempFile file;
        TIFF* tif = OpenForWriting(file, page, m, fillOrder, rowsPerStrip);
        ASSERT_NE(tif, nullptr);
        for (size_t first = 0, s = 0; first < page.rows.size(); first += rowsPerStrip, ++s) {
          const size_t count = std::min<size_t>(rowsPerStrip, page.rows.size() - first);
          std::vector<uint8_t> strip = EncodeStrip(page, first, count, m.mode, fillOrder);
          ASSERT_EQ(TIFFWriteRawStrip(tif, static_cast<uint32_t>(s), strip.data(), strip.size()),
                    static_cast<tmsize_t>(strip.size()));
        }
        TIFFClose(tif);

        tif = TIFFOpen(file.Path(), "r");
        ASSERT_NE(tif, nullptr);
        const int rowBytes = RowBytes(page.width);
        std::vector<uint8_t> buffer(static_cast<size_t>(rowBytes) * rowsPerStrip);
        for (uint32_t s = 0; s < TIFFNumberOfStrips(tif); ++s) {
          const size_t first = s * rowsPerStrip;
          const size_t count = std::min<size_t>(rowsPerStrip, page.rows.size() - first);
          ASSERT_EQ(TIFFReadEncodedStrip(tif, s, buffer.data(), -1),
                    static_cast<tmsize_t>(count * rowBytes));
          std::vector<TRow> rows;
          for (size_t y = 0; y < count; ++y) {
            TRow row =
                Inverted(TRow(buffer.begin() + y * rowBytes, buffer.begin() + (y + 1) * rowBytes));
            if (page.width % 8) row.back() |= static_cast<uint8_t>(0xFF >> (page.width % 8));
            rows.push_back(row);
          }
          ExpectSameRows(rows, page, first, count);
        }
        TIFFClose(tif);
      }
    }
  }
}

// ------------------------------------------------------------- hostile input

TEST(CcittTest, TruncatedStripsKeepTheRowsBeforeTheCut) {
  const TPage page = TextLike("text", 640, 40, 31);
  for (TMode mode : kModes) {
    SCOPED_TRACE(ModeName(mode));
    const std::vector<uint8_t> strip = EncodeStrip(page, mode, 1);
    const TDecoded full = DecodeStrip(strip, mode, page.width, page.rows.size(), 1);
    ExpectSameRows(full.rows, page);
    for (size_t cut = 0; cut < strip.size(); cut += 1 + cut / 16) {
      const std::vector<uint8_t> head(strip.begin(), strip.begin() + cut);
      const TDecoded part = DecodeStrip(head, mode, page.width, page.rows.size(), 1);
      size_t whole = 0;
      while (whole < full.endBits.size() && full.endBits[whole] <= cut * 8) ++whole;
      ASSERT_GE(part.rows.size(), whole) << "cut " << cut;
      for (size_t y = 0; y < whole; ++y) ASSERT_EQ(part.rows[y], page.rows[y]) << "cut " << cut;
    }
  }
}

TEST(CcittTest, GarbageEndsAndStaysInBounds) {
  std::mt19937 rng(41);
  for (int trial = 0; trial < 24; ++trial) {
    std::vector<uint8_t> garbage(1 + rng() % 3000);
    for (uint8_t& b : garbage) b = static_cast<uint8_t>(rng());
    // Skewed towards zero bits too: EOL-like and make-up-heavy streams.
    if (trial % 3 == 1)
      for (uint8_t& b : garbage) b &= static_cast<uint8_t>(rng());
    const int width = trial % 2 ? 1728 : 1 + static_cast<int>(rng() % 200);
    for (TMode mode : kModes)
      for (int fillOrder : {1, 2}) {
        const TDecoded d = DecodeStrip(garbage, mode, width, 100000, fillOrder, trial % 4 == 0);
        EXPECT_LT(d.rows.size(), garbage.size() * 8 + 1);
        if (!d.endBits.empty()) {
          EXPECT_LE(d.endBits.back(), garbage.size() * 8);
        }
      }
  }
}

TEST(CcittTest, TwoDimensionalRowsDoNotDependOnTheCallBefore) {
  // The decoder may reuse what it learnt from the row it decoded last; rows
  // decoded with another decode in between must come out the same, for valid
  // and for corrupt strips.
  std::vector<std::vector<uint8_t>> strips = {
      EncodeStrip(TextLike("text", 900, 60, 51), TMode::G4, 1),
      EncodeStrip(TextLike("text", 900, 60, 52), TMode::G3TwoD, 1)};
  std::mt19937 rng(53);
  for (int i = 0; i < 6; ++i) {
    std::vector<uint8_t> bytes = strips[i % 2];
    for (int k = 0; k < 20; ++k)
      bytes[rng() % bytes.size()] ^= static_cast<uint8_t>(1 << (rng() % 8));
    strips.push_back(bytes);
    bytes.resize(bytes.size() / (i + 2));  // and cut short
    strips.push_back(bytes);
  }
  for (size_t i = 0; i < strips.size(); ++i) {
    SCOPED_TRACE("strip " + std::to_string(i));
    const std::vector<uint8_t>& bytes = strips[i];
    for (bool withEol : {false, true}) {
      std::vector<uint8_t> refA(RowBytes(900), 0xFF), refB(refA);
      uint64_t posA = 0, posB = 0;
      for (int y = 0; y < 60; ++y) {
        TRow a(RowBytes(900)), b(RowBytes(900)), other(1), otherRef(1, 0xFF);
        posA =
            DecodeRow2D(a.data(), bytes.data(), bytes.size(), withEol, 1, posA, refA.data(), 900);
        DecodeRow2D(other.data(), bytes.data(), bytes.size(), withEol, 1, 0, otherRef.data(), 1);
        posB =
            DecodeRow2D(b.data(), bytes.data(), bytes.size(), withEol, 1, posB, refB.data(), 900);
        ASSERT_EQ(a, b) << "row " << y;
        ASSERT_EQ(posA, posB) << "row " << y;
      }
    }
  }
}

TEST(CcittTest, RunsPastTheWidthAreClipped) {
  struct TCase {
    const char* name;
    std::string bits;
    int width;
    const char* row;
  };
  const TCase cases[] = {
      // white 2 then black 1728 + 5 in a row of 10
      {"black make-up",
       "0111"
       "0000001100101"
       "0011",
       10, "..########"},
      // white 2560 + 0 in a row of 10
      {"white make-up",
       "000000011111"
       "00110101",
       10, ".........."},
      // white 9, black 63 in a row of 12
      {"black terminating",
       "10100"
       "000001100111",
       12, ".........###"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> codes = BitsToBytes(c.bits);
    TRow row(RowBytes(c.width));  // exact size: a write past it is caught
    EXPECT_EQ(DecodeMhRow(row.data(), codes.data(), codes.size(), 1, c.width), codes.size());
    EXPECT_EQ(RowText(row, c.width), c.row);
    // Horizontal mode of a 2-D row: the same runs.
    const std::vector<uint8_t> twoD = BitsToBytes("001" + c.bits);
    TRow reference(RowBytes(c.width), 0xFF);
    DecodeRow2D(row.data(), twoD.data(), twoD.size(), false, 1, 0, reference.data(), c.width);
    EXPECT_EQ(RowText(row, c.width), c.row);
  }
}

TEST(CcittTest, EolStormsAndZeroFloodsEnd) {
  std::string eols;
  for (int i = 0; i < 5000; ++i) eols += "000000000001";
  const std::string row =
      "1000"
      "11"
      "1000";
  const TPage expected = FromAscii("row", {"...##..."});
  // One call eats every EOL before the row's first code.
  ExpectSameRows(DecodeStrip(BitsToBytes(eols + row), TMode::G3OneD, 8, 1, 1).rows, expected);
  std::string eols2d;
  for (int i = 0; i < 5000; ++i)
    eols2d +=
        "000000000001"
        "0";
  ExpectSameRows(DecodeStrip(BitsToBytes(eols2d +
                                         "000000000001"
                                         "1" +
                                         row),
                             TMode::G3TwoD, 8, 1, 1)
                     .rows,
                 expected);
  // Nothing but EOLs or zeros: each mode reaches the end in a few calls.
  for (const std::vector<uint8_t>& bytes :
       {BitsToBytes(eols), BitsToBytes(eols2d), std::vector<uint8_t>(100000, 0)}) {
    for (TMode mode : kModes) {
      SCOPED_TRACE(ModeName(mode));
      const TDecoded d = DecodeStrip(bytes, mode, 1728, 1000000, 1, true);
      ASSERT_FALSE(d.endBits.empty());
      EXPECT_EQ(d.endBits.back(), bytes.size() * 8);
      EXPECT_LE(d.rows.size(), mode == TMode::Mh ? bytes.size() : 5001u);
    }
  }
}

TEST(CcittTest, BlackRunOpenAtAnEolFillsTheRowBlack) {
  // white 2, black make-up 64 (no terminating code), then EOL: the open black
  // run reaches the end of the row; the EOL is left for the next row.
  const std::vector<uint8_t> codes =
      BitsToBytes(std::string("0111") + "0000001111" + "000000000001" + "10011" + "11");
  TRow row(RowBytes(100));
  const uint64_t end = DecodeG3Row1D(row.data(), codes.data(), codes.size(), 1, 0, 100);
  EXPECT_EQ(RowText(row, 100), ".." + std::string(98, '#'));
  EXPECT_EQ(end, 14u);
  // The next row: the EOL is consumed, white 8, black 2; the data ends while
  // white is current, so the rest stays white.
  EXPECT_EQ(DecodeG3Row1D(row.data(), codes.data(), codes.size(), 1, end, 100), codes.size() * 8);
  EXPECT_EQ(RowText(row, 100), "........##" + std::string(90, '.'));
}

}  // namespace
}  // namespace folivo
