// Folivo — multi-page TIFF editor.
// TIFF writer: every compression × page kind read back by libtiff and our reader, tags, insert
// mode, saving.
#include "formats/tiffwriter.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "formats/bitmap.h"
#include "formats/lzw.h"
#include "formats/pagelist.h"
#include "formats/params.h"
#include "formats/stream.h"
#include "formats/tiffpages.h"
#include "tifffixtures.h"

namespace folivo {
namespace {

using test::BitmapRgb;
using test::DecodeWithFolivo;
using test::ReadFileBytes;
using test::TempPath;
using test::WriteFileBytes;

// libtiff's warnings and errors while a file is opened and read.
std::vector<std::string> gLibtiffMessages;
void RecordLibtiff(const char* module, const char* fmt, va_list ap) {
  char text[512];
  std::vsnprintf(text, sizeof text, fmt, ap);
  gLibtiffMessages.push_back(std::string(module ? module : "") + ": " + text);
}

// libtiff warns about every old-style JPEG file it decodes, whoever wrote it.
bool OnlyOldJpegNotice() {
  for (const std::string& m : gLibtiffMessages)
    if (m.find("Deprecated and troublesome old-style JPEG") == std::string::npos) return false;
  return true;
}

// A file opened by libtiff with every message recorded.
class TLibtiffFile {
 public:
  explicit TLibtiffFile(const std::vector<uint8_t>& bytes) : path_(TempPath("writer.tif")) {
    WriteFileBytes(path_, bytes);
    gLibtiffMessages.clear();
    TIFFSetWarningHandler(RecordLibtiff);
    TIFFSetErrorHandler(RecordLibtiff);
    tif_ = TIFFOpen(path_.c_str(), "r");
  }
  ~TLibtiffFile() {
    if (tif_) TIFFClose(tif_);
    TIFFSetWarningHandler(nullptr);
    TIFFSetErrorHandler(nullptr);
    std::remove(path_.c_str());
  }
  TIFF* operator->() const { return tif_; }
  TIFF* get() const { return tif_; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  TIFF* tif_ = nullptr;
};

uint32_t Field(TIFF* t, ttag_t tag) {
  uint32_t v32 = 0;
  uint16_t v16 = 0;
  const TIFFField* f = TIFFFieldWithTag(t, tag);
  if (f && TIFFFieldDataType(f) == TIFF_SHORT) {
    if (TIFFGetField(t, tag, &v16) != 1) return 0xFFFFFFFF;
    return v16;
  }
  if (TIFFGetField(t, tag, &v32) != 1) return 0xFFFFFFFF;
  return v32;
}

// The raw entries of the IFD at offset: tag, type, count, value field.
struct TRawEntry {
  uint16_t tag, type;
  uint32_t count, value;
};
uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t{b[at + 3]} << 24;
}
uint16_t Le16(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}
std::vector<TRawEntry> RawIfd(const std::vector<uint8_t>& b, uint32_t offset, uint32_t* next) {
  std::vector<TRawEntry> out;
  const uint16_t n = Le16(b, offset);
  for (uint16_t i = 0; i < n; ++i) {
    const size_t at = offset + 2 + 12 * size_t{i};
    out.push_back({Le16(b, at), Le16(b, at + 2), Le32(b, at + 4), Le32(b, at + 8)});
  }
  if (next) *next = Le32(b, offset + 2 + 12 * size_t{n});
  return out;
}
const TRawEntry* FindRaw(const std::vector<TRawEntry>& entries, uint16_t tag) {
  for (const TRawEntry& e : entries)
    if (e.tag == tag) return &e;
  return nullptr;
}
// The IFD offsets of the chain, in chain order.
std::vector<uint32_t> Chain(const std::vector<uint8_t>& b) {
  std::vector<uint32_t> out;
  for (uint32_t at = Le32(b, 4); at != 0 && out.size() < 100;) {
    out.push_back(at);
    RawIfd(b, at, &at);
  }
  return out;
}

enum class TKind { Bilevel, Gray, Palette, ManyColors, Rgb, RgbAlpha, Cmyk, Rgb48 };

const char* KindName(TKind k) {
  static const char* kNames[] = {"bilevel", "gray", "palette", "manycolors",
                                 "rgb",     "rgba", "cmyk",    "rgb48"};
  return kNames[static_cast<int>(k)];
}

// Pages of 67 × 45 (a width that is not a multiple of 8). Colour pages are
// smooth so that JPEG stays close; bilevel pages have all-white and all-black
// rows, single pixels and long runs.
void MakePage(TKind kind, TIEBitmap& b, TIOParamsVals& p, int w = 67, int h = 45) {
  p = TIOParamsVals();
  switch (kind) {
    case TKind::Bilevel:
      b.Allocate(w, h, ie1g);
      for (int y = 0; y < h; ++y) {
        uint8_t* row = b.GetScanline(y);
        for (int x = 0; x < w; ++x) {
          bool white = y % 9 == 0 ? true : y % 9 == 1 ? false : ((x * 7 + y * 3) % 11) > 3;
          if (y % 9 == 2) white = x != y;
          if (white)
            row[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
          else
            row[x >> 3] &= static_cast<uint8_t>(~(0x80 >> (x & 7)));
        }
      }
      p.BitsPerSample = 1;
      p.SamplesPerPixel = 1;
      p.TiffPhotometric = tpWhiteIsZero;
      return;
    case TKind::Gray:
    case TKind::Palette:
    case TKind::ManyColors:
    case TKind::Rgb:
    case TKind::RgbAlpha:
    case TKind::Cmyk:
      b.Allocate(w, h, ie24RGB);
      for (int y = 0; y < h; ++y) {
        uint8_t* row = b.GetScanline(y);
        for (int x = 0; x < w; ++x) {
          uint8_t r = static_cast<uint8_t>(x * 255 / w), g = static_cast<uint8_t>(y * 255 / h),
                  bl = static_cast<uint8_t>((x + y) * 2);
          if (kind == TKind::Gray) r = g = bl = static_cast<uint8_t>((x * 3 + y) * 255 / (4 * w));
          if (kind == TKind::Palette) {
            static const uint32_t kColours[5] = {0x0000FF, 0x00FF00, 0x123456, 0xFFFFFF, 0};
            const uint32_t c = kColours[(x / 10 + y / 10) % 5];
            r = ColorRed(c), g = ColorGreen(c), bl = ColorBlue(c);
          }
          row[3 * x] = bl;
          row[3 * x + 1] = g;
          row[3 * x + 2] = r;
        }
      }
      p.BitsPerSample = 8;
      p.SamplesPerPixel =
          kind == TKind::Gray || kind == TKind::Palette || kind == TKind::ManyColors ? 1 : 3;
      p.TiffPhotometric = kind == TKind::Cmyk ? tpSeparated : tpRgb;
      if (kind == TKind::RgbAlpha) {
        TIEBitmap* a = b.AlphaChannel();
        for (int y = 0; y < h; ++y)
          for (int x = 0; x < w; ++x) a->GetScanline(y)[x] = static_cast<uint8_t>(x * 3 + y);
      }
      return;
    case TKind::Rgb48:
      b.Allocate(w, h, ieRGB48);
      for (int y = 0; y < h; ++y) {
        uint16_t* row = reinterpret_cast<uint16_t*>(b.GetScanline(y));
        for (int x = 0; x < w; ++x) {
          row[3 * x] = static_cast<uint16_t>(x * 977);
          row[3 * x + 1] = static_cast<uint16_t>(y * 1409);
          row[3 * x + 2] = static_cast<uint16_t>((x + y) * 300);
        }
      }
      p.BitsPerSample = 16;
      p.SamplesPerPixel = 3;
      return;
  }
}

// What the page looks like, 0x00BBGGRR per pixel (alpha aside).
std::vector<uint32_t> ExpectedRgb(const TIEBitmap& page, TKind kind) {
  std::vector<uint32_t> out;
  TIEBitmap rgb;
  rgb.Assign(page);
  if (kind == TKind::Cmyk) {
    // CMYK state: ink from RGB as the writer computes it, then TIFF's rendering.
    for (int y = 0; y < page.Height(); ++y)
      for (int x = 0; x < page.Width(); ++x) {
        const uint8_t* s = page.GetScanline(y) + 3 * x;
        int m = std::max({s[0], s[1], s[2]});
        const int k = 255 - m;
        if (m == 0) m = 1;
        const int c = 255 - s[2] * 255 / m, mm = 255 - s[1] * 255 / m, ye = 255 - s[0] * 255 / m;
        out.push_back(MakeColor(static_cast<uint8_t>((255 - k) * (255 - c) / 255),
                                static_cast<uint8_t>((255 - k) * (255 - mm) / 255),
                                static_cast<uint8_t>((255 - k) * (255 - ye) / 255)));
      }
    return out;
  }
  if (rgb.PixelFormat() != ie1g && rgb.PixelFormat() != ie24RGB) rgb.ConvertTo(ie24RGB);
  for (int y = 0; y < page.Height(); ++y)
    for (int x = 0; x < page.Width(); ++x) out.push_back(BitmapRgb(rgb, x, y));
  return out;
}

int ChannelDiff(uint32_t a, uint32_t b) {
  int d = 0;
  for (int s = 0; s < 24; s += 8)
    d = std::max(d, std::abs(static_cast<int>(a >> s & 0xFF) - static_cast<int>(b >> s & 0xFF)));
  return d;
}

struct TWritten {
  std::vector<uint8_t> bytes;
  TIOParamsVals params;
  int pages = 0;
  bool aborted = false;
};

TWritten Write(const TIEBitmap& b, const TIOParamsVals& p) {
  TWritten w;
  w.params = p;
  TMemoryStream s;
  TIOProgress progress;
  w.pages = WriteTiffStream(s, false, b, progress, w.params);
  w.aborted = progress.Aborting();
  w.bytes = s.Bytes();
  return w;
}

struct TCodecCase {
  TTiffCompression compression;
  int tag;  // Compression tag written for a page that can take it
};
constexpr TCodecCase kCodecs[] = {
    {tcNone, 1},         {tcCcittHuffman, 2}, {tcG3Fax1D, 3},     {tcG3Fax2D, 3},
    {tcG4Fax, 4},        {tcLzw, 5},          {tcOldJpeg, 6},     {tcJpeg, 7},
    {tcPackBits, 32773}, {tcZip, 32946},      {tcDeflate, 32946},
};

// The Compression tag a page kind ends up with: CCITT only for bilevel pages,
// JPEG only for colour pages, gray and palette pages only lossless ones.
int ExpectedTag(TKind kind, int tag) {
  const bool ccitt = tag >= 2 && tag <= 4, jpeg = tag == 6 || tag == 7;
  if (ccitt) return kind == TKind::Bilevel ? tag : 1;
  if (jpeg)
    return kind == TKind::Bilevel || kind == TKind::Gray || kind == TKind::Palette ||
                   kind == TKind::ManyColors
               ? 1
               : tag;
  return tag;
}

TEST(TiffWriter, EveryCompressionAndPageKindReadsBackThroughLibtiffAndOurReader) {
  const TKind kinds[] = {TKind::Bilevel, TKind::Gray,     TKind::Palette, TKind::ManyColors,
                         TKind::Rgb,     TKind::RgbAlpha, TKind::Cmyk,    TKind::Rgb48};
  for (TKind kind : kinds) {
    for (const TCodecCase& codec : kCodecs) {
      for (int fillOrder : {1, 2}) {
        if (fillOrder == 2 && kind != TKind::Bilevel) continue;
        SCOPED_TRACE(std::string(KindName(kind)) + " " + TiffCompressionText(codec.compression) +
                     " fill " + std::to_string(fillOrder));
        TIEBitmap page;
        TIOParamsVals params;
        MakePage(kind, page, params);
        params.TiffCompression = codec.compression;
        params.TiffFillOrder = fillOrder;
        params.TiffJpegQuality = 90;
        params.TiffJpegColorSpace = 2;
        TWritten w = Write(page, params);
        ASSERT_EQ(w.pages, 1);
        ASSERT_FALSE(w.aborted);
        const int tag = ExpectedTag(kind, codec.tag);
        const bool lossy = tag == 6 || tag == 7;
        EXPECT_EQ(w.params.TiffCompression, tag == codec.tag ? codec.compression : tcNone)
            << "params say what was written";

        TLibtiffFile t(w.bytes);
        ASSERT_TRUE(t.get());
        EXPECT_EQ(Field(t.get(), TIFFTAG_COMPRESSION),
                  static_cast<uint32_t>(tag == 32946 ? 32946 : tag));
        std::vector<uint32_t> rgba(static_cast<size_t>(page.Width()) * page.Height());
        ASSERT_EQ(TIFFReadRGBAImageOriented(t.get(), page.Width(), page.Height(), rgba.data(),
                                            ORIENTATION_TOPLEFT, 0),
                  1);
        if (tag == 6)
          EXPECT_TRUE(OnlyOldJpegNotice()) << gLibtiffMessages.front();
        else
          EXPECT_TRUE(gLibtiffMessages.empty()) << gLibtiffMessages.front();

        const std::vector<uint32_t> want = ExpectedRgb(page, kind);
        const int tolerance = lossy ? 40 : (kind == TKind::Cmyk || kind == TKind::Rgb48) ? 1 : 0;
        const int quantised = kind == TKind::ManyColors ? 48 : 0;
        int worst = 0;
        double sum = 0;
        for (size_t i = 0; i < want.size(); ++i) {
          uint32_t got = rgba[i] & 0xFFFFFF;
          if (kind == TKind::RgbAlpha && !lossy) {
            // ExtraSamples 1: libtiff hands the samples over as they are.
            got = rgba[i] & 0xFFFFFF;
            const int x = static_cast<int>(i) % page.Width(),
                      y = static_cast<int>(i) / page.Width();
            EXPECT_EQ(rgba[i] >> 24, static_cast<uint32_t>(static_cast<uint8_t>(x * 3 + y)));
          }
          worst = std::max(worst, ChannelDiff(got, want[i]));
          sum += ChannelDiff(got, want[i]);
        }
        EXPECT_LE(worst, std::max(tolerance, quantised));
        if (lossy) EXPECT_LE(sum / want.size(), 4.0);

        // Our reader: the same pixels as libtiff shows.
        auto ours = DecodeWithFolivo(w.bytes);
        ASSERT_TRUE(ours->ok);
        ASSERT_EQ(ours->bitmap.Width(), page.Width());
        int oursWorst = 0;
        for (size_t i = 0; i < want.size(); ++i) {
          const int x = static_cast<int>(i) % page.Width(), y = static_cast<int>(i) / page.Width();
          oursWorst =
              std::max(oursWorst, ChannelDiff(BitmapRgb(ours->bitmap, x, y), rgba[i] & 0xFFFFFF));
        }
        EXPECT_LE(oursWorst, lossy ? 8 : 1);
        if (!lossy && kind != TKind::Cmyk && kind != TKind::Rgb48) EXPECT_EQ(oursWorst, 0);
      }
    }
  }
}

TEST(TiffWriter, JpegColourSpacesDecideThePhotometric) {
  struct TCase {
    uint8_t colorSpace;
    uint32_t photometric, samples;
  };
  const TCase cases[] = {{0, 2, 3}, {1, 1, 1}, {2, 6, 3}, {3, 5, 4}, {4, 2, 3}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.colorSpace));
    TIEBitmap page;
    TIOParamsVals params;
    MakePage(TKind::Rgb, page, params);
    params.TiffCompression = tcJpeg;
    params.TiffJpegQuality = 95;
    params.TiffJpegColorSpace = c.colorSpace;
    TWritten w = Write(page, params);
    ASSERT_EQ(w.pages, 1);
    TLibtiffFile t(w.bytes);
    ASSERT_TRUE(t.get());
    EXPECT_EQ(Field(t.get(), TIFFTAG_PHOTOMETRIC), c.photometric);
    EXPECT_EQ(Field(t.get(), TIFFTAG_SAMPLESPERPIXEL), c.samples);
    std::vector<uint32_t> rgba(static_cast<size_t>(page.Width()) * page.Height());
    ASSERT_EQ(TIFFReadRGBAImageOriented(t.get(), page.Width(), page.Height(), rgba.data(),
                                        ORIENTATION_TOPLEFT, 0),
              1);
    EXPECT_TRUE(gLibtiffMessages.empty()) << gLibtiffMessages.front();
    double sum = 0;
    for (int y = 0; y < page.Height(); ++y)
      for (int x = 0; x < page.Width(); ++x) {
        uint32_t want = BitmapRgb(page, x, y);
        if (c.colorSpace == 1) {
          const int l = Luminance(ColorRed(want), ColorGreen(want), ColorBlue(want));
          want = MakeColor(l, l, l);
        }
        sum += ChannelDiff(rgba[y * page.Width() + x] & 0xFFFFFF, want);
      }
    EXPECT_LE(sum / rgba.size(), 4.0);
    EXPECT_EQ(w.params.TiffPhotometric, static_cast<TTiffPhotometric>(c.photometric));
  }
}

TEST(TiffWriter, TagsAreAscendingWithTheTypesCountsAndValuesOfTheTable) {
  TIEBitmap page;
  TIOParamsVals params;
  MakePage(TKind::Bilevel, page, params);
  params.TiffCompression = tcG4Fax;
  params.TiffFillOrder = 2;
  params.SetDpiX(200);
  params.SetDpiY(100);
  params.TiffDocumentName = "abc";
  params.TiffPageName = "page five";
  params.TiffImageDescription = "";
  params.TiffPageNumber = 4;
  params.TiffPageCount = -1;
  params.TiffXPos = 3;
  TWritten w = Write(page, params);
  ASSERT_EQ(w.pages, 1);
  const std::vector<TRawEntry> e = RawIfd(w.bytes, Le32(w.bytes, 4), nullptr);
  for (size_t i = 1; i < e.size(); ++i) EXPECT_LT(e[i - 1].tag, e[i].tag);
  struct TWant {
    uint16_t tag, type;
    uint32_t count, value;  // value: in-entry value, or ~0 for "not checked"
  };
  const TWant wants[] = {
      {254, 4, 1, 0},   {256, 4, 1, 67},  {257, 4, 1, 45}, {258, 3, 1, 1},
      {259, 3, 1, 4},   {262, 3, 1, 0},   {266, 3, 1, 2},  {269, 2, 4, 0x00636261},
      {273, 4, 1, ~0u}, {277, 3, 1, 1},   {278, 4, 1, 45}, {279, 4, 1, ~0u},
      {282, 5, 1, ~0u}, {283, 5, 1, ~0u}, {284, 3, 1, 1},  {285, 2, 10, ~0u},
      {286, 5, 1, ~0u}, {293, 4, 1, 0},   {296, 3, 1, 2},  {297, 3, 2, 4},
      {327, 3, 1, 0},
  };
  for (const TWant& want : wants) {
    SCOPED_TRACE(want.tag);
    const TRawEntry* got = FindRaw(e, want.tag);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->type, want.type);
    EXPECT_EQ(got->count, want.count);
    if (want.value != ~0u) EXPECT_EQ(got->value, want.value);
  }
  EXPECT_EQ(e.size(), std::size(wants)) << "no ImageDescription, YPosition, Predictor, T4Options";
  EXPECT_EQ(Le32(w.bytes, FindRaw(e, 282)->value), 200u);
  EXPECT_EQ(Le32(w.bytes, FindRaw(e, 283)->value), 100u);
  EXPECT_EQ(Le32(w.bytes, FindRaw(e, 286)->value), 30000u);
  EXPECT_EQ(Le32(w.bytes, FindRaw(e, 286)->value + 4), 10000u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&w.bytes[FindRaw(e, 285)->value])),
            "page five");
  EXPECT_EQ(FindRaw(e, 285)->value % 2, 0u) << "values start at even offsets";

  // libtiff agrees and reads the page identically.
  TLibtiffFile t(w.bytes);
  ASSERT_TRUE(t.get());
  EXPECT_TRUE(gLibtiffMessages.empty()) << gLibtiffMessages.front();
  auto ours = DecodeWithFolivo(w.bytes);
  ASSERT_TRUE(ours->ok);
  char* text = nullptr;
  ASSERT_EQ(TIFFGetField(t.get(), TIFFTAG_DOCUMENTNAME, &text), 1);
  EXPECT_STREQ(text, "abc");
  EXPECT_EQ(ours->params.TiffPageName, "page five");
  for (int y = 0; y < page.Height(); ++y)
    EXPECT_EQ(std::memcmp(ours->bitmap.GetScanline(y), page.GetScanline(y), 8), 0) << y;
}

TEST(TiffWriter, PaletteLzwAndRgbTagsCarryColorMapPredictorAndExtraSamples) {
  struct TCase {
    TKind kind;
    TTiffCompression compression;
    uint16_t photometric, samples;
    bool colorMap, predictor, extra;
  };
  const TCase cases[] = {
      {TKind::Palette, tcLzw, 3, 1, true, false, false},
      {TKind::Gray, tcLzw, 1, 1, false, false, false},
      {TKind::Rgb, tcLzw, 2, 3, false, true, false},
      {TKind::Rgb, tcPackBits, 2, 3, false, false, false},
      {TKind::RgbAlpha, tcLzw, 2, 4, false, false, true},
      {TKind::Cmyk, tcNone, 5, 4, false, false, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(KindName(c.kind));
    TIEBitmap page;
    TIOParamsVals params;
    MakePage(c.kind, page, params);
    params.TiffCompression = c.compression;
    TWritten w = Write(page, params);
    const std::vector<TRawEntry> e = RawIfd(w.bytes, Le32(w.bytes, 4), nullptr);
    EXPECT_EQ(FindRaw(e, 262)->value, c.photometric);
    EXPECT_EQ(FindRaw(e, 277)->value, c.samples);
    EXPECT_EQ(FindRaw(e, 258)->count, c.samples);
    EXPECT_EQ(FindRaw(e, 320) != nullptr, c.colorMap);
    if (c.colorMap) EXPECT_EQ(FindRaw(e, 320)->count, 3u * 256);
    EXPECT_EQ(FindRaw(e, 317) != nullptr, c.predictor);
    EXPECT_EQ(FindRaw(e, 338) != nullptr, c.extra);
    EXPECT_EQ(FindRaw(e, 266), nullptr);
    EXPECT_EQ(w.params.TiffPhotometric, static_cast<TTiffPhotometric>(c.photometric));
    EXPECT_EQ(w.params.SamplesPerPixel, c.samples);
  }
}

TEST(TiffWriter, DepthDecisionsAndTheCallersBitmapStaysUnchanged) {
  struct TCase {
    const char* name;
    TKind kind;
    int bits, samples;
    TTiffCompression compression;
    int wantTag, wantPhotometric, wantBits, wantSamples;
  };
  const TCase cases[] = {
      {"colour asked bilevel", TKind::Rgb, 1, 1, tcG4Fax, 4, 0, 1, 1},
      {"bilevel asked 24-bit", TKind::Bilevel, 8, 3, tcNone, 1, 2, 8, 3},
      {"bilevel uncompressed", TKind::Bilevel, 1, 1, tcNone, 1, 1, 1, 1},
      {"gray asked JPEG", TKind::Gray, 8, 1, tcJpeg, 1, 1, 8, 1},
      {"colour as 4-bit palette", TKind::Palette, 4, 1, tcPackBits, 32773, 3, 4, 1},
      {"gray as 16 bits", TKind::Gray, 16, 1, tcZip, 32946, 1, 16, 1},
      {"palette asked 16 bits", TKind::Palette, 16, 1, tcLzw, 5, 3, 8, 1},
      {"colour asked 2-bit gray", TKind::Gray, 2, 1, tcNone, 1, 1, 2, 1},
      {"48-bit asked 8-bit RGB", TKind::Rgb48, 16, 3, tcLzw, 5, 2, 16, 3},
      {"colour asked G3 stays colour", TKind::Rgb, 8, 3, tcG3Fax2D, 1, 2, 8, 3},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TIEBitmap page;
    TIOParamsVals params;
    MakePage(c.kind, page, params);
    params.BitsPerSample = c.bits;
    params.SamplesPerPixel = c.samples;
    params.TiffCompression = c.compression;
    TIEBitmap before;
    before.Assign(page);
    TWritten w = Write(page, params);
    ASSERT_EQ(w.pages, 1);
    ASSERT_EQ(page.PixelFormat(), before.PixelFormat());
    for (int y = 0; y < page.Height(); ++y)
      ASSERT_EQ(std::memcmp(page.GetScanline(y), before.GetScanline(y), page.RowLength()), 0);
    const std::vector<TRawEntry> e = RawIfd(w.bytes, Le32(w.bytes, 4), nullptr);
    EXPECT_EQ(FindRaw(e, 259)->value, static_cast<uint32_t>(c.wantTag));
    EXPECT_EQ(FindRaw(e, 262)->value, static_cast<uint32_t>(c.wantPhotometric));
    EXPECT_EQ(FindRaw(e, 277)->value, static_cast<uint32_t>(c.wantSamples));
    EXPECT_EQ(w.params.BitsPerSample, c.wantBits);
    EXPECT_EQ(w.params.SamplesPerPixel, c.wantSamples);
    EXPECT_EQ(TiffPhotometricTag(w.params.TiffPhotometric), c.wantPhotometric);
    TLibtiffFile t(w.bytes);
    ASSERT_TRUE(t.get());
    EXPECT_EQ(Field(t.get(), TIFFTAG_BITSPERSAMPLE), static_cast<uint32_t>(c.wantBits));
    std::vector<uint32_t> rgba(static_cast<size_t>(page.Width()) * page.Height());
    EXPECT_EQ(TIFFReadRGBAImageOriented(t.get(), page.Width(), page.Height(), rgba.data(),
                                        ORIENTATION_TOPLEFT, 0),
              1);
    EXPECT_TRUE(gLibtiffMessages.empty()) << gLibtiffMessages.front();
    // Lossless paths read back exactly (the 2-bit gray in its levels).
    auto ours = DecodeWithFolivo(w.bytes);
    ASSERT_TRUE(ours->ok);
    if (c.kind == TKind::Palette || std::string(c.name) == "bilevel asked 24-bit")
      for (int y = 0; y < page.Height(); ++y)
        for (int x = 0; x < page.Width(); ++x)
          ASSERT_EQ(BitmapRgb(ours->bitmap, x, y), BitmapRgb(page, x, y)) << x << "," << y;
  }
}

TEST(TiffWriter, TwoColourPageBecomesBilevelWithTheLighterColourWhite) {
  TIEBitmap page(20, 3, ie24RGB);
  page.Fill(MakeColor(200, 0, 0));  // red: luminance 42
  for (int x = 0; x < 20; x += 3) {
    uint8_t* p = page.GetScanline(1) + 3 * x;
    p[0] = 0x40, p[1] = 0x40, p[2] = 0x40;  // dark gray: luminance 64, the lighter one
  }
  TIOParamsVals params;
  params.BitsPerSample = 1;
  params.SamplesPerPixel = 1;
  TWritten w = Write(page, params);
  auto ours = DecodeWithFolivo(w.bytes);
  ASSERT_TRUE(ours->ok);
  ASSERT_EQ(ours->bitmap.PixelFormat(), ie1g);
  for (int x = 0; x < 20; ++x) {
    EXPECT_EQ(BitmapRgb(ours->bitmap, x, 0), 0u);
    EXPECT_EQ(BitmapRgb(ours->bitmap, x, 1), x % 3 == 0 ? 0xFFFFFFu : 0u) << x;
  }
  // A single colour keeps its lightness: a black page is not written white.
  TIEBitmap black(9, 2, ie24RGB);
  black.Fill(0);
  w = Write(black, params);
  ours = DecodeWithFolivo(w.bytes);
  EXPECT_EQ(BitmapRgb(ours->bitmap, 4, 1), 0u);
}

TEST(TiffWriter, CcittAndLzwEdgeRowsDecodeThroughLibtiff) {
  // Runs >= 2561 need make-up codes plus the extended codes; the noise page
  // fills the LZW table so the encoder must emit Clear; 10,000 equal bytes
  // make long LZW strings.
  struct TCase {
    const char* name;
    int width, height;
    TTiffCompression compression;
    bool bilevel;
  };
  const TCase cases[] = {
      {"wide runs G4", 5000, 6, tcG4Fax, true},
      {"wide runs G3 2-D", 5000, 6, tcG3Fax2D, true},
      {"wide runs G3", 5000, 6, tcG3Fax1D, true},
      {"wide runs MH", 5000, 6, tcCcittHuffman, true},
      {"1x1 G4", 1, 1, tcG4Fax, true},
      {"width 8 G3 2-D", 8, 5, tcG3Fax2D, true},
      {"equal bytes LZW", 10000, 1, tcLzw, false},
      {"noise LZW", 200, 200, tcLzw, false},
      {"1x1 LZW", 1, 1, tcLzw, false},
      {"1x1 PackBits", 1, 1, tcPackBits, false},
      {"1x1 JPEG", 1, 1, tcJpeg, false},
      {"1x1 Deflate", 1, 1, tcDeflate, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TIEBitmap page;
    TIOParamsVals params;
    page.Allocate(c.width, c.height, c.bilevel ? ie1g : ie24RGB);
    uint32_t seed = 12345;
    for (int y = 0; y < c.height; ++y) {
      uint8_t* row = page.GetScanline(y);
      if (c.bilevel) {
        // Rows: all white, all black, a black run of 2600 in white, noise.
        for (int x = 0; x < c.width; ++x) {
          bool white = y == 0 ? true : y == 1 ? false : y == 2 ? !(x >= 100 && x < 2700) : true;
          if (y >= 3) {
            seed = seed * 1103515245 + 12345;
            white = (seed >> 16) & 1;
          }
          if (white)
            row[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
          else
            row[x >> 3] &= static_cast<uint8_t>(~(0x80 >> (x & 7)));
        }
      } else {
        for (int i = 0; i < 3 * c.width; ++i) {
          seed = seed * 1103515245 + 12345;
          row[i] = std::string(c.name) == "noise LZW" ? static_cast<uint8_t>(seed >> 16) : 0x5A;
        }
      }
    }
    params.BitsPerSample = c.bilevel ? 1 : 8;
    params.SamplesPerPixel = c.bilevel ? 1 : 3;
    params.TiffCompression = c.compression;
    TWritten w = Write(page, params);
    ASSERT_EQ(w.pages, 1);
    TLibtiffFile t(w.bytes);
    ASSERT_TRUE(t.get());
    if (c.compression == tcJpeg) TIFFSetField(t.get(), TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    std::vector<uint8_t> line(TIFFScanlineSize(t.get()));
    for (int y = 0; y < c.height; ++y) {
      ASSERT_EQ(TIFFReadScanline(t.get(), line.data(), y, 0), 1) << y;
      const uint8_t* src = page.GetScanline(y);
      for (int x = 0; x < c.width; ++x) {
        if (c.bilevel) {
          const bool white = src[x >> 3] >> (7 - (x & 7)) & 1;
          // CCITT pages are WhiteIsZero: a set bit is black.
          ASSERT_EQ(static_cast<bool>(line[x >> 3] >> (7 - (x & 7)) & 1), !white) << x << "," << y;
        } else if (c.compression != tcJpeg) {
          ASSERT_EQ(line[3 * x], src[3 * x + 2]) << x;
          ASSERT_EQ(line[3 * x + 1], src[3 * x + 1]);
          ASSERT_EQ(line[3 * x + 2], src[3 * x]);
        }
      }
    }
    EXPECT_TRUE(gLibtiffMessages.empty()) << gLibtiffMessages.front();
  }
}

TEST(TiffWriter, StripsHoldAbout512KiBOfPageData) {
  EXPECT_EQ(TiffRowsPerStrip(3508, RowLengthFor(2480, 1)), 1754);
  EXPECT_EQ(TiffRowsPerStrip(3508, RowLengthFor(2480, 24)), 71);
  EXPECT_EQ(TiffRowsPerStrip(1, 1 << 30), 1);
  EXPECT_EQ(TiffRowsPerStrip(10, 0), 10);

  TIEBitmap page(2480, 3508, ie1g);
  page.Fill(1);
  TIOParamsVals params;
  params.BitsPerSample = 1;
  params.SamplesPerPixel = 1;
  params.TiffCompression = tcG4Fax;
  TWritten w = Write(page, params);
  TLibtiffFile t(w.bytes);
  ASSERT_TRUE(t.get());
  EXPECT_EQ(TIFFNumberOfStrips(t.get()), 2u);
  EXPECT_EQ(Field(t.get(), TIFFTAG_ROWSPERSTRIP), 1754u);

  // 24-bit colour, 700 rows of 2480: 50 strips of 14, the last one as well.
  TIEBitmap colour(2480, 705, ie24RGB);
  colour.Fill(0x102030);
  TIOParamsVals cp;
  cp.TiffCompression = tcPackBits;
  w = Write(colour, cp);
  TLibtiffFile c(w.bytes);
  ASSERT_TRUE(c.get());
  const uint32_t rows = TiffRowsPerStrip(705, colour.RowLength());
  EXPECT_EQ(Field(c.get(), TIFFTAG_ROWSPERSTRIP), rows);
  EXPECT_EQ(TIFFNumberOfStrips(c.get()), (705 + rows - 1) / rows);
  std::vector<uint8_t> line(TIFFScanlineSize(c.get()));
  for (uint32_t y = 0; y < 705; ++y) ASSERT_EQ(TIFFReadScanline(c.get(), line.data(), y, 0), 1);
  EXPECT_EQ(line[0], 0x30);
  EXPECT_EQ(line[3 * 2479 + 2], 0x10);
  EXPECT_TRUE(gLibtiffMessages.empty()) << gLibtiffMessages.front();
}

// Bytes of a file of n pages of different widths written by create + inserts.
std::vector<uint8_t> PagesFile(const std::vector<int>& widths, TMemoryStream& s) {
  for (size_t i = 0; i < widths.size(); ++i) {
    TIEBitmap page(widths[i], 4, ie24RGB);
    page.Fill(0x00FF00);
    TIOParamsVals p;
    p.SetTiffImageIndex(static_cast<int>(i));
    TIOProgress progress;
    s.Seek(0);
    EXPECT_EQ(WriteTiffStream(s, i > 0, page, progress, p), static_cast<int>(i) + 1);
  }
  return s.Bytes();
}

TEST(TiffWriter, InsertModeLinksThePageAtItsIndex) {
  TMemoryStream s;
  std::vector<uint8_t> b = PagesFile({10, 20, 30}, s);
  std::vector<uint32_t> chain = Chain(b);
  ASSERT_EQ(chain.size(), 3u);
  EXPECT_TRUE(std::is_sorted(chain.begin(), chain.end())) << "IFDs in file order 0 -> 1 -> 2";
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(FindRaw(RawIfd(b, chain[i], nullptr), 256)->value, 10u * (i + 1));
  EXPECT_EQ(test::LibtiffPageCount(b), 3);

  struct TCase {
    int index;
    std::vector<uint32_t> widths;
  };
  const TCase cases[] = {
      {0, {99, 10, 20}}, {1, {10, 99, 20}}, {2, {10, 20, 99}}, {7, {10, 20, 99}}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.index);
    TMemoryStream two;
    PagesFile({10, 20}, two);
    TIEBitmap page(99, 2, ie1g);
    page.Fill(1);
    TIOParamsVals p;
    p.BitsPerSample = p.SamplesPerPixel = 1;
    p.SetTiffImageIndex(c.index);
    TIOProgress progress;
    two.Seek(0);
    EXPECT_EQ(WriteTiffStream(two, true, page, progress, p), 3);
    const std::vector<uint32_t> got = Chain(two.Bytes());
    ASSERT_EQ(got.size(), 3u);
    for (int i = 0; i < 3; ++i)
      EXPECT_EQ(FindRaw(RawIfd(two.Bytes(), got[i], nullptr), 256)->value, c.widths[i]);
    auto ours = DecodeWithFolivo(two.Bytes(), 0);
    EXPECT_EQ(ours->pageCount, 3);
  }
}

TEST(TiffWriter, InsertIntoAStreamThatIsNotLittleEndianTiffWritesNothing) {
  const std::vector<uint8_t> bigEndian = {'M', 'M', 0, 42, 0, 0, 0, 8, 0, 0, 0, 0};
  const std::vector<uint8_t> notTiff = {'h', 'e', 'l', 'l', 'o'};
  for (const std::vector<uint8_t>& bytes : {bigEndian, notTiff, std::vector<uint8_t>{}}) {
    TMemoryStream s(bytes);
    TIEBitmap page(5, 5, ie24RGB);
    TIOParamsVals p;
    TIOProgress progress;
    EXPECT_EQ(WriteTiffStream(s, true, page, progress, p), 0);
    EXPECT_TRUE(progress.Aborting());
    EXPECT_EQ(s.Bytes(), bytes);
  }
  // A chain that loops back on itself still gets the page, once.
  TMemoryStream s;
  PagesFile({10, 20}, s);
  std::vector<uint8_t>& b = s.Bytes();
  const std::vector<uint32_t> chain = Chain(b);
  const size_t nextOfSecond = chain[1] + 2 + 12 * size_t{Le16(b, chain[1])};
  for (int i = 0; i < 4; ++i) b[nextOfSecond + i] = static_cast<uint8_t>(chain[0] >> (8 * i));
  TIEBitmap page(30, 2, ie24RGB);
  TIOParamsVals p;
  p.SetTiffImageIndex(5);
  TIOProgress progress;
  s.Seek(0);
  EXPECT_EQ(WriteTiffStream(s, true, page, progress, p), 3);
  EXPECT_EQ(Chain(s.Bytes()).size(), 3u);
}

TEST(TiffWriter, EmptyBitmapWritesNothing) {
  TIEBitmap empty;
  TIOParamsVals p;
  TWritten w = Write(empty, p);
  EXPECT_EQ(w.pages, 0);
  EXPECT_TRUE(w.aborted);
  EXPECT_TRUE(w.bytes.empty());
}

TEST(TiffWriter, TextsAreNulTerminatedAndOnlyWrittenWhenSet) {
  struct TCase {
    std::string text;
    uint32_t count;
    bool inEntry;
  };
  const TCase cases[] = {{"", 0, false}, {"abc", 4, true}, {"abcd", 5, false}, {"abcde", 6, false}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.text);
    TIEBitmap page(3, 3, ie24RGB);
    TIOParamsVals p;
    p.TiffDocumentName = c.text;
    p.TiffImageDescription = c.text;
    p.TiffPageName = c.text;
    TWritten w = Write(page, p);
    const std::vector<TRawEntry> e = RawIfd(w.bytes, Le32(w.bytes, 4), nullptr);
    for (uint16_t tag : {269, 270, 285}) {
      const TRawEntry* got = FindRaw(e, tag);
      if (c.text.empty()) {
        EXPECT_EQ(got, nullptr);
        continue;
      }
      ASSERT_TRUE(got);
      EXPECT_EQ(got->count, c.count);
      const char* at = c.inEntry ? reinterpret_cast<const char*>(&got->value)
                                 : reinterpret_cast<const char*>(&w.bytes[got->value]);
      EXPECT_EQ(std::string(at, c.count), c.text + '\0');
    }
    EXPECT_EQ(FindRaw(e, 297), nullptr) << "PageNumber -1, -1";
    TLibtiffFile t(w.bytes);
    EXPECT_TRUE(gLibtiffMessages.empty()) << gLibtiffMessages.front();
  }
}

TEST(TiffWriter, ExifBlockAndMetadataRoundTrip) {
  TIEBitmap page(16, 8, ie24RGB);
  page.Fill(0x336699);
  TIOParamsVals p;
  p.HasExifData = true;
  p.SetExactDpiX(299.7);
  p.SetExactDpiY(150);
  p.Orientation = 1;
  p.TiffImageDescription = "a description";
  TPageMetadata& md = p.Metadata;
  md.Make = "Maker";
  md.Model = "Model One";
  md.XPTitle = u"Title";
  auto shortValue = [](uint16_t tag, uint16_t v) {
    return TTagValue{tag, 3, 1, {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}};
  };
  md.ExifTags.push_back(shortValue(41495, 2));  // SensingMethod
  md.ExifTags.push_back(
      TTagValue{36867, 2, 20, std::vector<uint8_t>(20, '1')});  // DateTimeOriginal
  md.ExifTags.back().Bytes[19] = 0;
  md.ExifTags.push_back(TTagValue{33434, 5, 1, {1, 0, 0, 0, 60, 0, 0, 0}});  // ExposureTime
  md.ExifTags.push_back(TTagValue{33437, 5, 1, {1, 0, 0}});                  // broken: dropped
  md.GpsTags.push_back(TTagValue{0, 1, 4, {2, 2, 0, 0}});
  md.GpsTags.push_back(TTagValue{1, 2, 2, {'N', 0}});
  md.Iptc = {0x1C, 2, 0, 0, 2, 0, 4};
  md.Xmp = "<x:xmpmeta/>";
  TWritten w = Write(page, p);
  ASSERT_EQ(w.pages, 1);

  TLibtiffFile t(w.bytes);
  ASSERT_TRUE(t.get());
  // libtiff has no definition of the Windows XP tags and says so; nothing else.
  for (const std::string& m : gLibtiffMessages)
    EXPECT_NE(m.find("Unknown field with tag 4009"), std::string::npos) << m;
  gLibtiffMessages.clear();
  char* make = nullptr;
  ASSERT_EQ(TIFFGetField(t.get(), TIFFTAG_MAKE, &make), 1);
  EXPECT_STREQ(make, "Maker");
  float xres = 0;
  TIFFGetField(t.get(), TIFFTAG_XRESOLUTION, &xres);
  EXPECT_EQ(xres, 299.0f);
  toff_t exifOffset = 0;
  ASSERT_EQ(TIFFGetField(t.get(), TIFFTAG_EXIFIFD, &exifOffset), 1);
  ASSERT_EQ(TIFFReadEXIFDirectory(t.get(), exifOffset), 1);
  EXPECT_TRUE(gLibtiffMessages.empty()) << gLibtiffMessages.front();
  uint16_t sensing = 0;
  ASSERT_EQ(TIFFGetField(t.get(), EXIFTAG_SENSINGMETHOD, &sensing), 1);
  EXPECT_EQ(sensing, 2);

  auto ours = DecodeWithFolivo(w.bytes);
  ASSERT_TRUE(ours->ok);
  EXPECT_TRUE(ours->params.HasExifData);
  EXPECT_EQ(ours->params.Metadata.Model, "Model One");
  EXPECT_EQ(ours->params.Metadata.XPTitle, u"Title");
  EXPECT_EQ(ours->params.TiffImageDescription, "a description");
  ASSERT_EQ(ours->params.Metadata.ExifTags.size(), 3u);
  ASSERT_EQ(ours->params.Metadata.GpsTags.size(), 2u);
  EXPECT_EQ(ours->params.Metadata.GpsTags[1].Bytes, (std::vector<uint8_t>{'N', 0}));
  EXPECT_EQ(ours->params.Metadata.Xmp, "<x:xmpmeta/>");
  EXPECT_EQ(std::vector<uint8_t>(ours->params.Metadata.Iptc.begin(),
                                 ours->params.Metadata.Iptc.begin() + 7),
            md.Iptc);
}

std::string SlurpText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(SaveTiffPages, WritesEveryPageAndPassesLibtiffTools) {
  TPageList pages;
  const TKind kinds[] = {TKind::Bilevel,  TKind::Gray, TKind::Palette, TKind::Rgb,
                         TKind::RgbAlpha, TKind::Cmyk, TKind::Rgb48};
  const TTiffCompression codecs[] = {tcG4Fax, tcLzw, tcPackBits, tcJpeg, tcLzw, tcZip, tcNone};
  for (size_t i = 0; i < std::size(kinds); ++i) {
    const int at = pages.Append();
    MakePage(kinds[i], pages.Bitmap(at), pages.Params(at));
    pages.Params(at).TiffCompression = codecs[i];
  }
  const std::string path = TempPath("saved.tif");
  std::vector<int> reported;
  TIOProgress progress;
  progress.OnProgress = [&reported](void*, int percent) { reported.push_back(percent); };
  ASSERT_TRUE(SaveTiffPages(pages, path, progress));
  EXPECT_EQ(reported, (std::vector<int>{0, 14, 28, 42, 57, 71, 85}));
  const std::vector<uint8_t> bytes = ReadFileBytes(path);
  const std::vector<uint32_t> chain = Chain(bytes);
  EXPECT_EQ(chain.size(), std::size(kinds));
  EXPECT_TRUE(std::is_sorted(chain.begin(), chain.end()));
  for (size_t i = 0; i < std::size(kinds); ++i)
    EXPECT_EQ(pages.Params(i).ImageIndex(), static_cast<int>(i));

  const std::string err = TempPath("tiffinfo.err");
  for (const char* tool : {"tiffinfo -D", "tiffdump"}) {
    SCOPED_TRACE(tool);
    const std::string cmd = std::string(tool) + " " + path + " >/dev/null 2>" + err;
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    EXPECT_EQ(SlurpText(err), "");
  }
  // Our loader gets every page back.
  TPageList back;
  TIOProgress readProgress;
  EXPECT_EQ(LoadTiffPages(back, path, readProgress), static_cast<int>(std::size(kinds)));
  for (int i = 0; i < back.PageCount(); ++i) EXPECT_EQ(back.Bitmap(i).Width(), 67);
  std::remove(path.c_str());
  std::remove(err.c_str());
}

TEST(SaveTiffPages, AnAbortedOrFailedSaveLeavesThePreviousFile) {
  const std::string path = TempPath("keep.tif");
  WriteFileBytes(path, {'o', 'l', 'd'});
  TPageList pages;
  for (int i = 0; i < 3; ++i) {
    const int at = pages.Append();
    MakePage(TKind::Rgb, pages.Bitmap(at), pages.Params(at));
  }
  bool aborting = false;
  TIOProgress progress(aborting);
  progress.OnProgress = [&progress](void*, int percent) {
    if (percent > 50) progress.Abort();
  };
  EXPECT_FALSE(SaveTiffPages(pages, path, progress));
  EXPECT_EQ(ReadFileBytes(path), (std::vector<uint8_t>{'o', 'l', 'd'}));

  // An empty page fails the save the same way.
  pages.Bitmap(1).FreeImage();
  TIOProgress plain;
  EXPECT_FALSE(SaveTiffPages(pages, path, plain));
  EXPECT_EQ(ReadFileBytes(path), (std::vector<uint8_t>{'o', 'l', 'd'}));
  // No leftover temporary file beside it.
  const std::filesystem::path dir = std::filesystem::path(path).parent_path();
  const std::string stem = std::filesystem::path(path).filename().string();
  int siblings = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    if (entry.path().filename().string().find(stem) != std::string::npos) ++siblings;
  EXPECT_EQ(siblings, 1);

  // An empty list does nothing.
  TPageList none;
  EXPECT_FALSE(SaveTiffPages(none, path, plain));
  EXPECT_EQ(ReadFileBytes(path), (std::vector<uint8_t>{'o', 'l', 'd'}));
  std::remove(path.c_str());
}

}  // namespace
}  // namespace folivo
