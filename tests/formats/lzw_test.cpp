// Folivo — multi-page TIFF editor.
// Tests of the LZW codec: hand-made code streams, round trips, libtiff both ways, bad input.
#include "formats/lzw.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "formats/params.h"
#include "formats/predictor.h"
#include "formats/stream.h"

namespace folivo {
namespace {

using TBytes = std::vector<uint8_t>;

constexpr uint32_t kClear = 256;
constexpr uint32_t kEoi = 257;

// Packs codes most significant bit first at the widths a TIFF decoder expects:
// each code after the first one following a Clear adds a table entry, and the
// width grows once the table holds 511, 1023, 2047 entries.
TBytes PackCodes(const std::vector<uint32_t>& codes) {
  TBytes out;
  uint64_t accumulator = 0;
  int pending = 0;
  int width = 9;
  uint32_t freeCode = 258;
  bool first = true;
  for (uint32_t code : codes) {
    accumulator = (accumulator << width) | code;
    pending += width;
    while (pending >= 8) {
      pending -= 8;
      out.push_back(static_cast<uint8_t>(accumulator >> pending));
    }
    if (code == kClear) {
      width = 9;
      freeCode = 258;
      first = true;
    } else if (code != kEoi) {
      if (!first) ++freeCode;
      first = false;
      if (freeCode >= (1u << width) - 1 && width < 12) ++width;
    }
  }
  if (pending > 0) out.push_back(static_cast<uint8_t>(accumulator << (8 - pending)));
  return out;
}

// What a decoder sees in a code stream, read by the same width rule.
struct TStreamScan {
  int Codes = 0;
  int Clears = 0;
  bool WidthSeen[13] = {};
  std::vector<uint32_t> FreeAtClear;  // table size when each Clear came
  bool EndsWithEoi = false;
};

TStreamScan ScanCodes(const TBytes& bytes) {
  TStreamScan scan;
  size_t bitPos = 0;
  int width = 9;
  uint32_t freeCode = 258;
  bool first = true;
  while (bitPos + width <= bytes.size() * 8) {
    uint32_t code = 0;
    for (int i = 0; i < width; ++i, ++bitPos)
      code = (code << 1) | ((bytes[bitPos / 8] >> (7 - bitPos % 8)) & 1);
    ++scan.Codes;
    scan.WidthSeen[width] = true;
    if (code == kEoi) {
      scan.EndsWithEoi = true;
      break;
    }
    if (code == kClear) {
      ++scan.Clears;
      scan.FreeAtClear.push_back(freeCode);
      width = 9;
      freeCode = 258;
      first = true;
      continue;
    }
    if (!first) ++freeCode;
    first = false;
    if (freeCode >= (1u << width) - 1 && width < 12) ++width;
  }
  return scan;
}

// Encodes data handed over in pieces of chunk bytes (0: all at once).
TBytes Encode(const TBytes& data, size_t chunk = 0) {
  TMemoryStream stream;
  TLzwEncodeState* state = nullptr;
  if (chunk == 0) chunk = std::max<size_t>(data.size(), 1);
  for (size_t pos = 0; pos < data.size(); pos += chunk)
    LzwCompressor(data.data() + pos, std::min(chunk, data.size() - pos), stream, state);
  LzwCompressor(nullptr, 0, stream, state);
  EXPECT_EQ(state, nullptr);
  return stream.Bytes();
}

struct TDecoded {
  TBytes Data;             // the rows, concatenated
  int FailedAtRow = -1;    // the call that returned nullptr
  size_t LastDecoded = 0;  // LzwRowDecodedBytes after the last good row
};

// Decodes rows of the given lengths, repeating the pattern for rowCount rows.
TDecoded Decode(const TBytes& code, const std::vector<int>& rowLengths, int rowCount) {
  TDecoded result;
  TLzwDecodeState* state = nullptr;
  static const uint8_t kEmpty = 0;
  const uint8_t* input = code.empty() ? &kEmpty : code.data();
  for (int row = 0; row < rowCount; ++row) {
    const int length = rowLengths[row % rowLengths.size()];
    const uint8_t* out = LzwDecompressor(input, code.size(), length, state);
    if (out == nullptr) {
      result.FailedAtRow = row;
      break;
    }
    result.Data.insert(result.Data.end(), out, out + length);
    result.LastDecoded = LzwRowDecodedBytes(state);
  }
  LzwDecompressor(nullptr, 0, 0, state);
  EXPECT_EQ(state, nullptr);
  return result;
}

TBytes RandomBytes(size_t count, uint32_t seed) {
  std::mt19937 random(seed);
  TBytes out(count);
  for (auto& b : out) b = static_cast<uint8_t>(random());
  return out;
}

// Scan-like content: smooth gradients, flat paper, dark strokes and a little noise.
TBytes ImageLike(int width, int height, int samples, uint32_t seed) {
  std::mt19937 random(seed);
  TBytes out(static_cast<size_t>(width) * height * samples);
  size_t i = 0;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const bool paper = (x / 40 + y / 25) % 3 != 0;
      const bool stroke = (x % 17 < 2) && (y % 11 < 7);
      for (int s = 0; s < samples; ++s) {
        int v = paper ? 235 : (x * 3 + y * (s + 1)) & 0xFF;
        if (stroke) v = 20 + s * 5;
        if (random() % 8 == 0) v += static_cast<int>(random() % 5) - 2;
        out[i++] = static_cast<uint8_t>(std::clamp(v, 0, 255));
      }
    }
  return out;
}

// ---------------------------------------------------------------------------
// Hand-made code streams

struct TStreamCase {
  const char* Name;
  TBytes Code;
  std::vector<int> RowLengths;
  int Rows;
  std::string Expected;  // all rows concatenated, zero fill as '\0'
  int FailedAtRow;       // -1: no failure
};

std::string Text(const TBytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

TBytes WithoutLastByte(TBytes bytes) {
  bytes.pop_back();
  return bytes;
}

std::vector<uint32_t> Literals(int count) {
  std::vector<uint32_t> codes;
  for (int i = 0; i < count; ++i) codes.push_back(static_cast<uint32_t>(i % 256));
  return codes;
}

std::vector<uint32_t> Concat(std::vector<uint32_t> a, const std::vector<uint32_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::string LiteralText(int count) {
  std::string out;
  for (int i = 0; i < count; ++i) out.push_back(static_cast<char>(i % 256));
  return out;
}

TEST(LzwDecoder, HandMadeStreams) {
  using namespace std::string_literals;
  const std::vector<TStreamCase> cases = {
      {"literals", PackCodes({kClear, 'A', 'B', 'C', kEoi}), {3}, 1, "ABC", -1},
      // 258 is being defined when it is read: A + first byte of A.
      {"KwKwK", PackCodes({kClear, 'A', 258, kEoi}), {3}, 1, "AAA", -1},
      {"KwKwK chain", PackCodes({kClear, 'a', 'b', 258, 260, kEoi}), {7}, 1, "abababa", -1},
      // x y xy yx: the second row starts with the surplus 'y' of code 258.
      {"surplus starts next row",
       PackCodes({kClear, 'x', 'y', 258, 259, kEoi}),
       {3},
       2,
       "xyxyyx",
       -1},
      {"row lengths change",
       PackCodes({kClear, 'x', 'y', 258, 259, kEoi}),
       {1, 4},
       3,
       "xyxyyx",
       -1},
      {"stream ended: zero rows", PackCodes({kClear, 'A', 'B', kEoi}), {3}, 2, "AB\0\0\0\0"s, -1},
      {"no EOI", PackCodes({kClear, 'A', 'B', 'C'}), {2}, 2, "ABC\0"s, -1},
      {"cut last code",
       WithoutLastByte(PackCodes({kClear, 'A', 'B', 'C', 'D'})),
       {4},
       1,
       "ABC\0"s,
       -1},
      {"codes after EOI are ignored", PackCodes({kClear, 'A', kEoi, 'B'}), {2}, 1, "A\0"s, -1},
      {"no leading Clear", PackCodes({'A', 'B', 258, kEoi}), {4}, 1, "ABAB", -1},
      {"repeated Clear", PackCodes({kClear, kClear, 'Q', 'R', 258, kEoi}), {4}, 1, "QRQR", -1},
      {"Clear then EOI", PackCodes({kClear, 'A', kClear, kEoi}), {2}, 1, "A\0"s, -1},
      {"Clear resets the table",
       PackCodes({kClear, 'a', 'b', 258, kClear, 'c', 'd', 258, kEoi}),
       {8},
       1,
       "ababcdcd",
       -1},
      // Codes beyond the one being defined are taken as it.
      {"code past the free code", PackCodes({kClear, 'A', 'B', 300, kEoi}), {5}, 1, "ABBB\0"s, -1},
      // 300 literals define entries up to 556: the width grows to 10 at 511.
      {"9 to 10 bits",
       PackCodes(Concat(Concat({kClear}, Literals(300)), {258, 556, kEoi})),
       {304},
       1,
       LiteralText(300) + "\x00\x01"s + "\x2a\x2b"s,
       -1},
      {"empty input", TBytes{}, {4}, 1, "\0\0\0\0"s, -1},
      {"first code not a literal", PackCodes({300, kEoi}), {2}, 2, "", 0},
      {"code after Clear not a literal",
       PackCodes({kClear, 'A', kClear, 258, kEoi}),
       {1},
       2,
       "A",
       1},
      {"KwKwK at the start", PackCodes({258, kEoi}), {1}, 1, "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const TDecoded decoded = Decode(c.Code, c.RowLengths, c.Rows);
    EXPECT_EQ(Text(decoded.Data), c.Expected);
    EXPECT_EQ(decoded.FailedAtRow, c.FailedAtRow);
  }
}

TEST(LzwDecoder, InterfaceContract) {
  const TBytes code = PackCodes({kClear, 'A', 'B', 'C', 'D', kEoi});
  TLzwDecodeState* state = nullptr;
  EXPECT_EQ(LzwDecompressor(code.data(), code.size(), -1, state), nullptr);
  const uint8_t* row = LzwDecompressor(code.data(), code.size(), 3, state);
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(LzwRowDecodedBytes(state), 3u);
  // Later calls keep decoding the first call's bytes.
  row = LzwDecompressor(code.data(), 0, 3, state);
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(row[0], 'D');
  EXPECT_EQ(row[1], 0);
  EXPECT_EQ(LzwRowDecodedBytes(state), 1u);
  EXPECT_EQ(LzwDecompressor(nullptr, 0, 3, state), nullptr);
  EXPECT_EQ(state, nullptr);
  EXPECT_EQ(LzwRowDecodedBytes(nullptr), 0u);

  const TBytes bad = PackCodes({kClear, 300});
  ASSERT_EQ(LzwDecompressor(bad.data(), bad.size(), 1, state), nullptr);
  EXPECT_EQ(LzwDecompressor(bad.data(), bad.size(), 1, state), nullptr) << "failure is sticky";
  LzwDecompressor(nullptr, 0, 0, state);

  InstallDefaultLzwRoutines();
  TIOParamsVals params;
  EXPECT_EQ(params.EffectiveLzwDecompressor(), &LzwDecompressor);
  EXPECT_EQ(params.EffectiveLzwCompressor(), &LzwCompressor);
}

// A run of KwKwK codes without Clear builds strings of up to 3840 bytes and
// fills the table; one more entry than 4097 is corrupt data.
TEST(LzwDecoder, LongestStringsAndFullTable) {
  std::vector<uint32_t> codes = {kClear, 'a'};
  for (uint32_t code = 258; code <= 4095; ++code) codes.push_back(code);
  const size_t bytesBeforeFull = 1 + (2 + 3839) * 3838 / 2;  // 'a', then 2..3839
  codes.push_back(4095);                                     // defines entry 4096, still accepted
  codes.push_back(4095);                                     // would define 4097
  const size_t good = bytesBeforeFull + 3839;                // through the first extra 4095
  const TBytes code = PackCodes(codes);
  for (size_t rowLength : {1, 4096, 100000}) {
    SCOPED_TRACE(rowLength);
    const int rows = static_cast<int>(good / rowLength) + 2;
    const TDecoded decoded = Decode(code, {static_cast<int>(rowLength)}, rows);
    // The row that needs the last code fails; all before it are whole.
    EXPECT_EQ(decoded.FailedAtRow, static_cast<int>(good / rowLength));
    ASSERT_EQ(decoded.Data.size(), good / rowLength * rowLength);
    EXPECT_TRUE(
        std::all_of(decoded.Data.begin(), decoded.Data.end(), [](uint8_t b) { return b == 'a'; }));
  }
}

// ---------------------------------------------------------------------------
// Encoder

struct TRoundTripCase {
  const char* Name;
  TBytes Data;
  size_t Chunk;
  std::vector<int> RowLengths;
};

TEST(LzwCodec, RoundTrips) {
  const TBytes image = ImageLike(640, 120, 3, 7);
  const std::vector<TRoundTripCase> cases = {
      {"random, one call", RandomBytes(60000, 1), 0, {1000}},
      {"random, rows of 7", RandomBytes(5000, 2), 7, {7}},
      {"image-like, rows", image, 1920, {1920}},
      {"image-like, odd rows", image, 333, {1, 5000, 17}},
      {"10000 equal bytes", TBytes(10000, 0x5A), 100, {100}},
      {"one byte", TBytes{42}, 0, {1}},
      {"two long runs",
       [] {
         TBytes d(70000, 0);
         std::fill(d.begin() + 30000, d.end(), 0xFF);
         return d;
       }(),
       4096,
       {4096}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const TBytes code = Encode(c.Data, c.Chunk);
    size_t rows = 0, covered = 0;
    while (covered < c.Data.size()) covered += c.RowLengths[rows++ % c.RowLengths.size()];
    const TDecoded decoded = Decode(code, c.RowLengths, static_cast<int>(rows) + 1);
    ASSERT_EQ(decoded.FailedAtRow, -1);
    ASSERT_GE(decoded.Data.size(), c.Data.size());
    EXPECT_TRUE(std::equal(c.Data.begin(), c.Data.end(), decoded.Data.begin()));
    EXPECT_EQ(decoded.LastDecoded, 0u) << "nothing beyond the data";
    EXPECT_TRUE(ScanCodes(code).EndsWithEoi);
  }
}

TEST(LzwEncoder, WidthsAndClears) {
  // Equal bytes make strings one byte longer each time: 10000 bytes need only
  // about 140 codes, all 9 bits wide.
  const TStreamScan run = ScanCodes(Encode(TBytes(10000, 7)));
  EXPECT_FALSE(run.WidthSeen[10]);
  EXPECT_EQ(run.Clears, 1);

  // Random bytes define an entry per code or so and pass every width.
  const TStreamScan noise = ScanCodes(Encode(RandomBytes(20000, 3), 1000));
  EXPECT_TRUE(noise.WidthSeen[9] && noise.WidthSeen[10] && noise.WidthSeen[11] &&
              noise.WidthSeen[12]);
  EXPECT_GE(noise.Clears, 3);  // the leading one and at least two resets
  // The leading Clear comes at an empty table, the others when the next free
  // code passed 4093: the table is full to 4093 and the code after that defines
  // entry 4093 on the decoder's side.
  ASSERT_FALSE(noise.FreeAtClear.empty());
  EXPECT_EQ(noise.FreeAtClear[0], 258u);
  for (size_t i = 1; i < noise.FreeAtClear.size(); ++i) EXPECT_EQ(noise.FreeAtClear[i], 4094u);
  EXPECT_TRUE(noise.EndsWithEoi);
}

TEST(LzwEncoder, StartAndEnd) {
  // Clear, 'A', EOI = 256, 65, 257 in 9 bits, padded with zero bits.
  EXPECT_EQ(Encode(TBytes{'A'}), (TBytes{0x80, 0x10, 0x60, 0x20}));
  TMemoryStream stream;
  TLzwEncodeState* state = nullptr;
  LzwCompressor(nullptr, 0, stream, state);
  EXPECT_TRUE(stream.Bytes().empty()) << "ending an unstarted stream writes nothing";
  LzwCompressor(reinterpret_cast<const uint8_t*>(""), 0, stream, state);
  LzwCompressor(nullptr, 0, stream, state);
  EXPECT_EQ(stream.Bytes(), (TBytes{0x80, 0x40, 0x40})) << "Clear, EOI";
}

// Records the size of every write.
class TWriteLog final : public TStream {
 public:
  size_t Read(void*, size_t) override { return 0; }
  void Write(const void* buffer, size_t count) override {
    sizes.push_back(count);
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    data.insert(data.end(), bytes, bytes + count);
  }
  void Seek(uint64_t) override {}
  uint64_t Position() const override { return data.size(); }
  uint64_t Size() const override { return data.size(); }
  std::vector<size_t> sizes;
  TBytes data;
};

TEST(LzwEncoder, WritesBlocksOf254Bytes) {
  const TBytes input = RandomBytes(3000, 4);
  TWriteLog log;
  TLzwEncodeState* state = nullptr;
  LzwCompressor(input.data(), input.size(), log, state);
  LzwCompressor(nullptr, 0, log, state);
  ASSERT_GE(log.sizes.size(), 2u);
  for (size_t i = 0; i + 1 < log.sizes.size(); ++i) EXPECT_EQ(log.sizes[i], 254u);
  EXPECT_GE(log.sizes.back(), 1u);
  EXPECT_LE(log.sizes.back(), 254u);
  EXPECT_EQ(log.data, Encode(input));
}

// ---------------------------------------------------------------------------
// libtiff as the oracle

std::string TempPath(const std::string& name) {
  return ::testing::TempDir() + "lzw_" + name;
}

struct TLayout {
  int Width, Height, Samples, RowsPerStrip;
  bool Predictor;
};

void SetFields(TIFF* tif, const TLayout& layout, uint16_t compression) {
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, layout.Width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, layout.Height);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, layout.Samples);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC,
               layout.Samples == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, layout.RowsPerStrip);
  if (layout.Predictor) TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
}

TEST(LzwLibtiff, LibtiffDecodesOurStrips) {
  const std::vector<TLayout> layouts = {
      {300, 70, 1, 16, false},
      {211, 40, 3, 40, true},
      {1000, 30, 3, 7, false},
  };
  for (const auto& layout : layouts) {
    SCOPED_TRACE(testing::Message() << layout.Width << "x" << layout.Height << "x" << layout.Samples
                                    << (layout.Predictor ? " predicted" : ""));
    const TBytes source = ImageLike(layout.Width, layout.Height, layout.Samples, 11);
    const size_t rowBytes = static_cast<size_t>(layout.Width) * layout.Samples;
    const std::string path = TempPath("ours.tif");
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tif, nullptr);
    SetFields(tif, layout, COMPRESSION_LZW);
    TBytes row(rowBytes);
    for (int strip = 0, y = 0; y < layout.Height; ++strip) {
      TMemoryStream stream;
      TLzwEncodeState* state = nullptr;
      for (int r = 0; r < layout.RowsPerStrip && y < layout.Height; ++r, ++y) {
        const uint8_t* line = source.data() + y * rowBytes;
        if (layout.Predictor) {
          PredictorEncodeRow(line, layout.Width, row.data());
          line = row.data();
        }
        LzwCompressor(line, rowBytes, stream, state);
      }
      LzwCompressor(nullptr, 0, stream, state);
      ASSERT_EQ(TIFFWriteRawStrip(tif, strip, stream.Bytes().data(), stream.Bytes().size()),
                static_cast<tmsize_t>(stream.Bytes().size()));
    }
    TIFFClose(tif);

    tif = TIFFOpen(path.c_str(), "r");
    ASSERT_NE(tif, nullptr);
    TBytes decoded(TIFFStripSize(tif));
    for (int strip = 0, y = 0; y < layout.Height; ++strip) {
      const tmsize_t got = TIFFReadEncodedStrip(tif, strip, decoded.data(), -1);
      const int rows = std::min(layout.RowsPerStrip, layout.Height - y);
      ASSERT_EQ(got, static_cast<tmsize_t>(rows * rowBytes)) << "strip " << strip;
      for (int r = 0; r < rows; ++r, ++y)
        for (size_t i = 0; i < rowBytes; ++i) {
          size_t j = i;
          if (layout.Predictor) j = i - i % 3 + 2 - i % 3;  // the predictor also makes RGB
          ASSERT_EQ(decoded[r * rowBytes + i], source[y * rowBytes + j]) << "row " << y;
        }
    }
    TIFFClose(tif);
  }
}

TEST(LzwLibtiff, WeDecodeLibtiffStrips) {
  const std::vector<TLayout> layouts = {
      {300, 70, 1, 16, false},
      {211, 40, 3, 40, true},
      {1500, 12, 3, 12, false},
      {500, 9, 1, 3, true},
  };
  for (const auto& layout : layouts) {
    SCOPED_TRACE(testing::Message() << layout.Width << "x" << layout.Height << "x" << layout.Samples
                                    << (layout.Predictor ? " predicted" : ""));
    TBytes source = ImageLike(layout.Width, layout.Height, layout.Samples, 5);
    // Noise defines many codes, so strips pass every width and a Clear.
    const TBytes noise = RandomBytes(source.size() / 3, 9);
    std::copy(noise.begin(), noise.end(), source.begin() + source.size() / 3);
    const size_t rowBytes = static_cast<size_t>(layout.Width) * layout.Samples;
    const std::string path = TempPath("libtiff.tif");
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tif, nullptr);
    SetFields(tif, layout, COMPRESSION_LZW);
    for (int strip = 0, y = 0; y < layout.Height; ++strip, y += layout.RowsPerStrip) {
      const int rows = std::min(layout.RowsPerStrip, layout.Height - y);
      ASSERT_GE(TIFFWriteEncodedStrip(tif, strip, source.data() + y * rowBytes, rows * rowBytes),
                0);
    }
    TIFFClose(tif);

    tif = TIFFOpen(path.c_str(), "r");
    ASSERT_NE(tif, nullptr);
    for (int strip = 0, y = 0; y < layout.Height; ++strip) {
      TBytes raw(TIFFRawStripSize(tif, strip));
      ASSERT_EQ(TIFFReadRawStrip(tif, strip, raw.data(), raw.size()),
                static_cast<tmsize_t>(raw.size()));
      TLzwDecodeState* state = nullptr;
      for (int r = 0; r < layout.RowsPerStrip && y < layout.Height; ++r, ++y) {
        const uint8_t* out =
            LzwDecompressor(raw.data(), raw.size(), static_cast<int>(rowBytes), state);
        ASSERT_NE(out, nullptr) << "row " << y;
        TBytes row(out, out + rowBytes);
        if (layout.Predictor) PredictorDecodeRow8(row.data(), layout.Width, layout.Samples);
        ASSERT_TRUE(std::equal(row.begin(), row.end(), source.begin() + y * rowBytes))
            << "row " << y;
      }
      LzwDecompressor(nullptr, 0, 0, state);
    }
    TIFFClose(tif);
  }
}

// ---------------------------------------------------------------------------
// Bad input

TEST(LzwDecoder, RandomBytesNeverOverrun) {
  for (uint32_t seed = 0; seed < 300; ++seed) {
    TBytes junk = RandomBytes(1 + seed * 37 % 3000, seed);
    // Half of them start like a real strip so decoding gets going.
    if (seed % 2 == 0 && junk.size() >= 2) {
      junk[0] = 0x80;
      junk[1] &= 0x7F;
    }
    const int rowLength = 1 + static_cast<int>(seed * 131 % 5000);
    const TDecoded decoded = Decode(junk, {rowLength}, 20);
    if (decoded.FailedAtRow < 0) {
      EXPECT_EQ(decoded.Data.size(), 20u * rowLength);
    }
  }
}

TEST(LzwDecoder, TruncatedStreamsDecodeAPrefix) {
  const TBytes data = ImageLike(400, 30, 1, 3);
  const TBytes code = Encode(data, 400);
  for (size_t cut = 0; cut < code.size(); cut += 1 + cut / 8) {
    SCOPED_TRACE(cut);
    const TBytes partial(code.begin(), code.begin() + cut);
    TLzwDecodeState* state = nullptr;
    size_t decodedBytes = 0;
    bool same = true;
    static const uint8_t kEmpty = 0;
    for (int row = 0; row < 30; ++row) {
      const uint8_t* out =
          LzwDecompressor(partial.empty() ? &kEmpty : partial.data(), partial.size(), 400, state);
      ASSERT_NE(out, nullptr);
      const size_t got = LzwRowDecodedBytes(state);
      same = same && std::equal(out, out + got, data.begin() + row * 400);
      same = same && std::all_of(out + got, out + 400, [](uint8_t b) { return b == 0; });
      decodedBytes += got;
    }
    LzwDecompressor(nullptr, 0, 0, state);
    EXPECT_TRUE(same);
    // Each 9- to 12-bit code yields at least one byte.
    if (cut >= 4) {
      EXPECT_GE(decodedBytes, cut * 8 / 12 - 2);
    }
  }
}

}  // namespace
}  // namespace folivo
