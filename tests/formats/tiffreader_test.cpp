// Folivo — multi-page TIFF editor.
// Tag reading, the IFD chain and hostile files.
#include "formats/tiffreader.h"

#include <gtest/gtest.h>
#include <jpeglib.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>

#include "formats/stream.h"
#include "tifffixtures.h"

namespace folivo {
namespace {

using test::TTiffBuilder;
using E = TTiffBuilder::TEntry;

// Builds a page of 8 × 2 gray pixels (uncompressed) at the end of b.
std::vector<E> GrayPage(TTiffBuilder& b, std::vector<E> extra = {}) {
  const uint32_t data = static_cast<uint32_t>(b.Size());
  for (int i = 0; i < 16; ++i) b.bytes.push_back(static_cast<uint8_t>(i * 16));
  std::vector<E> e = {{256, 3, 1, 8}, {257, 3, 1, 2}, {258, 3, 1, 8},
                      {259, 3, 1, 1}, {262, 3, 1, 1}, {273, 4, 1, data},
                      {277, 3, 1, 1}, {278, 3, 1, 2}, {279, 4, 1, 16}};
  e.insert(e.end(), extra.begin(), extra.end());
  std::sort(e.begin(), e.end(), [](const E& a, const E& b) { return a.tag < b.tag; });
  return e;
}

struct TRead {
  TIEBitmap bitmap;
  TIOParamsVals params;
  int pages = -1;
  bool aborted = false;
};

std::unique_ptr<TRead> Read(const std::vector<uint8_t>& bytes, int index = 0,
                            bool paramsOnly = false) {
  auto r = std::make_unique<TRead>();
  TByteViewStream s(bytes.data(), bytes.size());
  TIOProgress progress;
  r->params.SetImageIndex(index);
  ReadTiffStream(&r->bitmap, s, r->pages, false, true, false, nullptr, paramsOnly, progress,
                 &r->params);
  r->aborted = progress.Aborting();
  return r;
}

// Chains of n pages linked in the order given by next (index of the next
// page, -1 = 0 offset, -2 = an offset past the end, -3 = the page itself).
std::vector<uint8_t> Chain(const std::vector<int>& next, bool big = false) {
  TTiffBuilder b(big);
  std::vector<size_t> at;
  for (size_t i = 0; i < next.size(); ++i) at.push_back(b.Ifd(GrayPage(b), 0));
  for (size_t i = 0; i < next.size(); ++i) {
    const size_t link = at[i] + 2 + 12 * (b.bytes[at[i]] | b.bytes[at[i] + 1] << 8);
    const size_t linkBig = at[i] + 2 + 12 * (b.bytes[at[i]] << 8 | b.bytes[at[i] + 1]);
    const size_t l = big ? linkBig : link;
    uint32_t v = 0;
    if (next[i] >= 0) v = static_cast<uint32_t>(at[next[i]]);
    if (next[i] == -2) v = static_cast<uint32_t>(b.Size() + 100);
    if (next[i] == -3) v = static_cast<uint32_t>(at[i]);
    b.Put32At(l, v);
  }
  b.Put32At(4, static_cast<uint32_t>(at[0]));
  return b.bytes;
}

TEST(TiffChain, EndsOnEveryEndCondition) {
  struct TCase {
    const char* name;
    std::vector<int> next;
    int pages;
  };
  const TCase cases[] = {
      {"three", {1, 2, -1}, 3},
      {"last points to itself", {1, 2, -3}, 3},
      {"cycle through three", {1, 2, 0}, 3},
      {"cycle back to the second", {1, 2, 3, 1}, 4},
      {"next past the end", {1, -2, 0}, 2},
  };
  for (const TCase& c : cases) {
    for (bool big : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (big ? " MM" : " II"));
      const std::vector<uint8_t> file = Chain(c.next, big);
      auto r = Read(file, 0, true);
      EXPECT_FALSE(r->aborted);
      EXPECT_EQ(r->pages, c.pages);
      EXPECT_EQ(r->params.ImageCount(), c.pages);
      if (c.next[0] == 1 && c.next[1] == 2) {
        EXPECT_EQ(test::LibtiffPageCount(file), c.pages);
      }
    }
  }
}

TEST(TiffChain, PageBeyondTheChainDecodesNothingAndFailsNothing) {
  auto r = Read(Chain({1, 2, -1}), 5);
  EXPECT_FALSE(r->aborted);
  EXPECT_EQ(r->pages, 3);
  EXPECT_TRUE(r->bitmap.IsEmpty());
}

TEST(TiffChain, PagesAreCountedWithoutParameters) {
  const std::vector<uint8_t> file = Chain({1, 2, -1});
  TByteViewStream s(file.data(), file.size());
  TIOProgress progress;
  int pages = 0;
  ReadTiffStream(nullptr, s, pages, false, false, false, nullptr, false, progress, nullptr);
  EXPECT_EQ(pages, 3);
  EXPECT_FALSE(progress.Aborting());
}

TEST(TiffHeader, ByteOrderMarkDecidesAndVersionIsNotChecked) {
  std::vector<uint8_t> file = Chain({-1});
  file[2] = 0x2B;  // BigTIFF's 43 and garbage alike
  auto r = Read(file);
  EXPECT_FALSE(r->aborted);
  EXPECT_EQ(r->bitmap.Width(), 8);
  file[0] = 'X';
  EXPECT_TRUE(Read(file)->aborted);
  EXPECT_EQ(Read(file)->pages, 0);
  // A first IFD offset of 0 is no failure, and no page.
  std::vector<uint8_t> empty = {'I', 'I', 42, 0, 0, 0, 0, 0};
  r = Read(empty);
  EXPECT_FALSE(r->aborted);
  EXPECT_EQ(r->pages, 0);
}

TEST(TiffHeader, BigEndianTwinReadsTheSame) {
  test::TTiffFixturePage p;
  p.samples = 3;
  p.photometric = 2;
  p.compression = 32773;
  auto le = test::DecodeWithFolivo(test::WriteTiffWithLibtiff({p, p}, false), 1);
  auto be = test::DecodeWithFolivo(test::WriteTiffWithLibtiff({p, p}, true), 1);
  ASSERT_TRUE(le->ok && be->ok);
  EXPECT_TRUE(le->params.TiffLittleEndian);
  EXPECT_FALSE(be->params.TiffLittleEndian);
  EXPECT_EQ(be->pageCount, 2);
  for (int y = 0; y < le->bitmap.Height(); ++y)
    ASSERT_EQ(0, std::memcmp(le->bitmap.GetScanline(y), be->bitmap.GetScanline(y), 3 * 67));
  EXPECT_EQ(le->params.DpiX(), be->params.DpiX());
  EXPECT_EQ(be->params.DpiY(), 100);
}

TEST(TiffTags, ResolutionWithUnits) {
  struct TCase {
    const char* name;
    uint32_t num, den, unit;  // num 0: no tags
    double exact;
    int dpi;
  };
  const TCase cases[] = {{"absent", 0, 0, 2, 300.0, 300},
                         {"inch", 150, 1, 2, 150.0, 150},
                         {"centimetre", 11811, 100, 3, 299.9994, 299},
                         {"zero denominator counts as 1", 72, 0, 2, 72.0, 72},
                         {"no unit (1) as inch", 96, 1, 1, 96.0, 96}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TTiffBuilder b;
    const uint32_t rat = static_cast<uint32_t>(b.Size());
    b.U32(c.num);
    b.U32(c.den);
    std::vector<E> extra = {{296, 3, 1, c.unit}};
    if (c.num) extra.insert(extra.end(), {{282, 5, 1, rat}, {283, 5, 1, rat}});
    b.Put32At(4, static_cast<uint32_t>(b.Ifd(GrayPage(b, extra))));
    auto r = Read(b.bytes, 0, true);
    EXPECT_NEAR(r->params.ExactDpiX(), c.exact, 1e-9);
    EXPECT_EQ(r->params.DpiX(), c.dpi);
    EXPECT_EQ(r->params.DpiY(), c.dpi);
  }
}

TEST(TiffTags, UnequalBitsPerSampleFail) {
  TTiffBuilder b;
  const uint32_t bps = static_cast<uint32_t>(b.Size());
  b.U16(8);
  b.U16(8);
  b.U16(16);
  std::vector<E> e = GrayPage(b);
  for (E& x : e) {
    if (x.tag == 258) x = {258, 3, 3, bps};
    if (x.tag == 277) x.value = 3;
  }
  b.Put32At(4, static_cast<uint32_t>(b.Ifd(e)));
  EXPECT_TRUE(Read(b.bytes, 0, true)->aborted);
}

TEST(TiffTags, TextsPageNumberAndCompressionMapping) {
  TTiffBuilder b;
  const uint32_t name = static_cast<uint32_t>(b.Size());
  for (char c : std::string("Letter\0", 7)) b.bytes.push_back(static_cast<uint8_t>(c));
  const uint32_t xp = static_cast<uint32_t>(b.Size());
  for (char16_t c : std::u16string(u"标题X")) {
    b.bytes.push_back(static_cast<uint8_t>(c));
    b.bytes.push_back(static_cast<uint8_t>(c >> 8));
  }
  b.Put32At(4, static_cast<uint32_t>(b.Ifd(GrayPage(b, {{269, 2, 7, name},
                                                        {285, 2, 3, 'P' | 'g' << 8},
                                                        {297, 3, 2, 2 | 9 << 16},
                                                        {40091, 1, 6, xp},
                                                        {266, 3, 1, 2},
                                                        {274, 3, 1, 6}}))));
  auto r = Read(b.bytes, 0, true);
  EXPECT_EQ(r->params.TiffDocumentName, "Letter");
  EXPECT_EQ(r->params.TiffPageName, "Pg");  // the NUL inside the entry is not text
  EXPECT_EQ(r->params.TiffPageNumber, 2);
  EXPECT_EQ(r->params.TiffPageCount, 9);
  EXPECT_EQ(r->params.Metadata.XPTitle, u"标题X");
  EXPECT_EQ(r->params.TiffFillOrder, 2);
  EXPECT_EQ(r->params.Orientation, 6);
  EXPECT_EQ(r->params.TiffCompression, tcNone);
  EXPECT_EQ(r->params.TiffPhotometric, tpBlackIsZero);

  // No PageNumber: both 0.
  EXPECT_EQ(Read(Chain({-1}), 0, true)->params.TiffPageNumber, 0);
}

TEST(TiffTags, BilevelRgbWithFaxCodesIsWhiteIsZero) {
  test::TTiffFixturePage p;
  p.bits = 1;
  p.photometric = 0;
  p.compression = 4;
  std::vector<uint8_t> file = test::WriteTiffWithLibtiff({p}, false);
  auto reference = test::DecodeWithFolivo(file);
  // Rewrite PhotometricInterpretation 0 → 2 in place.
  TTiffBuilder probe;
  const uint32_t ifd = file[4] | file[5] << 8 | file[6] << 16 | file[7] << 24;
  const int n = file[ifd] | file[ifd + 1] << 8;
  for (int i = 0; i < n; ++i) {
    uint8_t* e = &file[ifd + 2 + 12 * i];
    if ((e[0] | e[1] << 8) == 262) e[8] = 2;
  }
  auto r = test::DecodeWithFolivo(file);
  ASSERT_TRUE(r->ok);
  EXPECT_EQ(r->params.TiffPhotometric, tpWhiteIsZero);
  for (int y = 0; y < r->bitmap.Height(); ++y)
    ASSERT_EQ(0, std::memcmp(r->bitmap.GetScanline(y), reference->bitmap.GetScanline(y), 9));
}

TEST(TiffTags, ExifAndGpsFieldsAreCopied) {
  TTiffBuilder b;
  const uint32_t exif =
      static_cast<uint32_t>(b.Ifd({{33434, 5, 1, 0}, {36867, 2, 4, 'a' | 'b' << 8}, {1, 3, 1, 5}}));
  const uint32_t gps =
      static_cast<uint32_t>(b.Ifd({{0, 1, 4, 0x00000302}, {5, 1, 1, 1}, {30, 3, 1, 1}}));
  b.Put32At(4,
            static_cast<uint32_t>(b.Ifd(GrayPage(b, {{34665, 4, 1, exif}, {34853, 4, 1, gps}}))));
  auto r = Read(b.bytes, 0, true);
  EXPECT_TRUE(r->params.HasExifData);
  const auto& md = r->params.Metadata;
  ASSERT_EQ(md.ExifTags.size(), 2u);  // tag 1 is not an EXIF field that is kept
  EXPECT_EQ(md.ExifTags[1].Tag, 36867);
  EXPECT_EQ(md.ExifTags[1].Bytes, (std::vector<uint8_t>{'a', 'b', 0, 0}));
  ASSERT_EQ(md.GpsTags.size(), 2u);  // GPS tags 0..26 and 29 only
  EXPECT_EQ(md.GpsTags[0].Bytes, (std::vector<uint8_t>{2, 3, 0, 0}));
}

TEST(TiffTags, SubIfdSelection) {
  TTiffBuilder b;
  // The sub-IFD is a 4 × 1 page.
  const uint32_t data = static_cast<uint32_t>(b.Size());
  b.bytes.insert(b.bytes.end(), {1, 2, 3, 4});
  const uint32_t sub = static_cast<uint32_t>(b.Ifd({{256, 3, 1, 4},
                                                    {257, 3, 1, 1},
                                                    {258, 3, 1, 8},
                                                    {262, 3, 1, 1},
                                                    {273, 4, 1, data},
                                                    {279, 4, 1, 4}}));
  b.Put32At(4, static_cast<uint32_t>(b.Ifd(GrayPage(b, {{330, 4, 1, sub}}))));
  auto main = Read(b.bytes);
  EXPECT_EQ(main->bitmap.Width(), 8);
  auto r = std::make_unique<TRead>();
  TByteViewStream s(b.bytes.data(), b.bytes.size());
  TIOProgress progress;
  r->params.TiffSubIndex = 0;
  ReadTiffStream(&r->bitmap, s, r->pages, false, true, false, nullptr, false, progress, &r->params);
  EXPECT_FALSE(progress.Aborting());
  EXPECT_EQ(r->pages, 1);
  EXPECT_EQ(r->bitmap.Width(), 4);
  EXPECT_EQ(r->bitmap.GetScanline(0)[6], 3);  // blue, green, red of the third pixel
}

TEST(TiffTags, LookAtMolliSixteenBitIsShiftedByFour) {
  TTiffBuilder b;
  const uint32_t data = static_cast<uint32_t>(b.Size());
  b.U16(0x0ABC);
  const uint32_t soft = static_cast<uint32_t>(b.Size());
  for (char c : std::string("Look@Molli v1.1 x")) b.bytes.push_back(static_cast<uint8_t>(c));
  b.bytes.push_back(0);
  b.Put32At(4, static_cast<uint32_t>(b.Ifd({{256, 3, 1, 1},
                                            {257, 3, 1, 1},
                                            {258, 3, 1, 16},
                                            {262, 3, 1, 1},
                                            {273, 4, 1, data},
                                            {279, 4, 1, 2},
                                            {305, 2, 18, soft}})));
  auto r = Read(b.bytes);
  ASSERT_FALSE(r->aborted);
  EXPECT_EQ(r->bitmap.GetScanline(0)[0], 0xAB);
}

TEST(TiffStrips, ZeroByteCountReadsToTheEndOfTheFile) {
  TTiffBuilder b;
  const uint32_t ifd = static_cast<uint32_t>(b.Size());
  const uint32_t data = ifd + 2 + 12 * 9 + 4;
  b.Ifd({{256, 3, 1, 8},
         {257, 3, 1, 2},
         {258, 3, 1, 8},
         {259, 3, 1, 1},
         {262, 3, 1, 1},
         {273, 4, 1, data},
         {277, 3, 1, 1},
         {278, 3, 1, 2},
         {279, 4, 1, 0}});
  b.Put32At(4, ifd);
  for (int i = 0; i < 16; ++i) b.bytes.push_back(static_cast<uint8_t>(i * 16));
  auto r = Read(b.bytes);
  ASSERT_FALSE(r->aborted);
  EXPECT_EQ(r->bitmap.GetScanline(1)[3 * 7], 0xF0);
}

// Whether byte i of a little-endian libtiff file lies in its first IFD
// (libtiff puts it before or after the data).
bool InFirstIfd(const std::vector<uint8_t>& f, size_t i) {
  const uint32_t ifd = f[4] | f[5] << 8 | f[6] << 16 | f[7] << 24;
  const size_t n = f[ifd] | f[ifd + 1] << 8;
  return i < 8 || (i >= ifd && i < ifd + 6 + 12 * n);
}

// Old-style JPEG: the interchange stream alone, and headers apart from the strip.
std::vector<uint8_t> EncodeJpeg(int w, int h) {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = w;
  c.image_height = h;
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 95, TRUE);
  jpeg_start_compress(&c, TRUE);
  std::vector<uint8_t> row(w * 3);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      row[3 * x] = static_cast<uint8_t>(x * 8);
      row[3 * x + 1] = static_cast<uint8_t>(y * 8);
      row[3 * x + 2] = 128;
    }
    JSAMPROW p = row.data();
    jpeg_write_scanlines(&c, &p, 1);
  }
  jpeg_finish_compress(&c);
  std::vector<uint8_t> bytes(out, out + size);
  free(out);
  jpeg_destroy_compress(&c);
  return bytes;
}

TEST(TiffOldJpeg, BothPathsDecode) {
  const std::vector<uint8_t> jpeg = EncodeJpeg(24, 16);
  // Where the entropy-coded data starts: after the SOS segment.
  size_t sos = 2;
  while (!(jpeg[sos] == 0xFF && jpeg[sos + 1] == 0xDA))
    sos += 2 + (jpeg[sos + 2] << 8 | jpeg[sos + 3]);
  const size_t scan = sos + 2 + (jpeg[sos + 2] << 8 | jpeg[sos + 3]);
  for (bool withStrips : {false, true}) {
    SCOPED_TRACE(withStrips ? "strips" : "interchange stream");
    TTiffBuilder b;
    const uint32_t at = static_cast<uint32_t>(b.Size());
    b.bytes.insert(b.bytes.end(), jpeg.begin(), jpeg.end());
    std::vector<E> e = {{256, 3, 1, 24}, {257, 3, 1, 16}, {258, 3, 1, 8}, {259, 3, 1, 6},
                        {262, 3, 1, 6},  {277, 3, 1, 3},  {278, 3, 1, 16}};
    if (withStrips) {
      e.push_back({273, 4, 1, static_cast<uint32_t>(at + scan)});
      e.push_back({279, 4, 1, static_cast<uint32_t>(jpeg.size() - scan)});
      e.push_back({513, 4, 1, at});
      e.push_back({514, 4, 1, static_cast<uint32_t>(scan)});
    } else {
      e.push_back({513, 4, 1, at});
    }
    b.Put32At(4, static_cast<uint32_t>(b.Ifd(e)));
    auto r = Read(b.bytes);
    ASSERT_FALSE(r->aborted);
    EXPECT_EQ(r->params.TiffCompression, tcOldJpeg);
    ASSERT_EQ(r->bitmap.PixelFormat(), ie24RGB);
    const uint8_t* row = r->bitmap.GetScanline(8);
    EXPECT_NEAR(row[3 * 10 + 2], 80, 6);  // red
    EXPECT_NEAR(row[3 * 10 + 1], 64, 6);  // green
    EXPECT_NEAR(row[3 * 10], 128, 6);     // blue
  }
}

// Hostile files: every case stops or decodes what it can; none crashes, reads
// out of bounds (the sanitizer build), hangs or allocates by the tags alone.
TEST(TiffHostile, EveryPrefixOfAFileIsSafe) {
  test::TTiffFixturePage g4;
  g4.bits = 1;
  g4.photometric = 0;
  g4.compression = 4;
  test::TTiffFixturePage lzw;
  lzw.samples = 3;
  lzw.photometric = 2;
  lzw.compression = 5;
  lzw.predictor = 2;
  test::TTiffFixturePage jpeg = lzw;
  jpeg.compression = 7;
  jpeg.predictor = 1;
  jpeg.rowsPerStrip = 16;
  const std::vector<uint8_t> file = test::WriteTiffWithLibtiff({g4, lzw, jpeg}, true);
  for (size_t n = 0; n <= file.size(); n += (n < 64 ? 1 : 97)) {
    const std::vector<uint8_t> cut(file.begin(), file.begin() + n);
    for (int page = 0; page < 3; ++page) Read(cut, page);
  }
}

TEST(TiffHostile, CorruptCodedDataNeverCrashes) {
  std::mt19937 rng(7);
  for (uint16_t compression : {2, 3, 4, 5, 7, 8, 32773}) {
    test::TTiffFixturePage p;
    p.compression = compression;
    if (compression <= 4) {
      p.bits = 1;
      p.photometric = 0;
    } else {
      p.samples = 3;
      p.photometric = 2;
    }
    const std::vector<uint8_t> file = test::WriteTiffWithLibtiff({p}, false);
    for (int round = 0; round < 30; ++round) {
      std::vector<uint8_t> bad = file;
      // Scribble over the coded data, sparing the directory.
      for (int k = 0; k < 12;) {
        const size_t i = rng() % bad.size();
        if (InFirstIfd(bad, i)) continue;
        bad[i] = static_cast<uint8_t>(rng());
        ++k;
      }
      Read(bad);
    }
  }
}

TEST(TiffHostile, CorruptLzwAborts) {
  test::TTiffFixturePage p;
  p.compression = 5;
  p.rowsPerStrip = 45;
  std::vector<uint8_t> file = test::WriteTiffWithLibtiff({p}, false);
  // Clear, then code 300 while the table holds no string yet (9-bit codes).
  ASSERT_FALSE(InFirstIfd(file, 8));
  file[8] = 0x80;
  file[9] = 0x4B;
  file[10] = 0x00;
  EXPECT_TRUE(Read(file)->aborted);
}

std::vector<uint8_t> PageWith(std::vector<E> changes, size_t extraBytes = 16) {
  TTiffBuilder b;
  std::vector<E> e = GrayPage(b);
  for (const E& c : changes) {
    bool found = false;
    for (E& x : e)
      if (x.tag == c.tag) x = c, found = true;
    if (!found) e.push_back(c);
  }
  std::sort(e.begin(), e.end(), [](const E& a, const E& b) { return a.tag < b.tag; });
  b.bytes.resize(b.Size() + extraBytes - 16 + 16, 0);
  b.Put32At(4, static_cast<uint32_t>(b.Ifd(e)));
  return b.bytes;
}

TEST(TiffHostile, TagsClaimingMoreThanTheFileHolds) {
  struct TCase {
    const char* name;
    std::vector<E> changes;
    bool aborts;
  };
  const TCase cases[] = {
      {"strip offset beyond the end", {{273, 4, 1, 0x7FFFFFF0}}, false},
      {"byte count 2^32-1", {{279, 4, 1, 0xFFFFFFFFu}}, false},
      {"strip arrays of 2^32-1 elements",
       {{273, 4, 0xFFFFFFFFu, 8}, {279, 4, 0xFFFFFFFFu, 8}},
       false},
      {"absurd width and height", {{256, 4, 1, 0x7FFF0000}, {257, 4, 1, 0x7FFF0000}}, true},
      {"width beyond int", {{256, 4, 1, 0xFFFFFFFFu}}, true},
      {"absurd RGB page", {{256, 4, 1, 60000}, {257, 4, 1, 60000}, {277, 3, 1, 3}}, true},
      {"absurd tiles", {{322, 4, 1, 0x7FFFFFF0}, {323, 4, 1, 0x7FFFFFF0}, {324, 4, 1, 8}}, true},
      {"zero tile width", {{322, 3, 1, 0}, {323, 3, 1, 16}}, true},
      {"rows per strip 0", {{278, 3, 1, 0}}, false},
      {"unknown compression", {{259, 3, 1, 50000}}, true},
      {"bits per sample 0", {{258, 3, 1, 0}}, true},
      {"bits per sample 33", {{258, 3, 1, 33}}, true},
      {"samples 65535", {{277, 3, 1, 65535}}, true},
      {"planar tiles", {{284, 3, 1, 2}, {322, 3, 1, 16}, {323, 3, 1, 16}}, true},
      {"colour map past the end", {{262, 3, 1, 3}, {320, 3, 768, 0x7FFFFFF0}}, false},
      {"zero width", {{256, 3, 1, 0}}, true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto r = Read(PageWith(c.changes));
    EXPECT_EQ(r->aborted, c.aborts);
    EXPECT_EQ(r->pages, 1);
  }
}

TEST(TiffHostile, EntryCountOf65535) {
  TTiffBuilder b;
  b.Put32At(4, 8);
  b.U16(65535);
  for (int i = 0; i < 100; ++i) b.U32(0x01000100);  // a few entries, then the file ends
  auto r = Read(b.bytes, 0, true);
  EXPECT_EQ(r->pages, 0);   // the IFD runs past the end: the chain ends before it
  EXPECT_TRUE(r->aborted);  // the entries that exist have no width
}

// Writes tests/data/bad/ when FOLIVO_WRITE_BAD_FILES is set; each file's
// line in README.md says what is broken.
TEST(TiffHostile, BadFileGenerator) {
  if (!std::getenv("FOLIVO_WRITE_BAD_FILES"))
    GTEST_SKIP() << "set FOLIVO_WRITE_BAD_FILES to rewrite";
  const std::filesystem::path dir = std::filesystem::path(FOLIVO_TEST_DATA) / "bad";
  std::filesystem::create_directories(dir);
  auto write = [&](const char* name, const std::vector<uint8_t>& bytes) {
    test::WriteFileBytes((dir / name).string(), bytes);
  };
  write("strip_offset_beyond_end.tif", PageWith({{273, 4, 1, 0x7FFFFFF0}}));
  write("bytecount_4294967295.tif", PageWith({{279, 4, 1, 0xFFFFFFFFu}}));
  write("strip_count_4294967295.tif",
        PageWith({{273, 4, 0xFFFFFFFFu, 8}, {279, 4, 0xFFFFFFFFu, 8}}));
  write("absurd_size.tif", PageWith({{256, 4, 1, 60000}, {257, 4, 1, 60000}, {277, 3, 1, 3}}));
  write("chain_cycle_three.tif", Chain({1, 2, 0}));
  {
    TTiffBuilder b;
    b.Put32At(4, 8);
    b.U16(65535);
    for (int i = 0; i < 20; ++i) b.U32(0x01000100);
    write("entry_count_65535.tif", b.bytes);
  }
  std::vector<uint8_t> g = Chain({-1});
  g.resize(g.size() - 30);
  write("truncated_ifd.tif", g);
  std::mt19937 rng(11);
  for (auto [name, compression] : {std::pair{"corrupt_g4.tif", 4},
                                   {"corrupt_lzw.tif", 5},
                                   {"corrupt_deflate.tif", 8},
                                   {"corrupt_packbits.tif", 32773},
                                   {"corrupt_jpeg.tif", 7}}) {
    test::TTiffFixturePage p;
    p.width = 40;
    p.height = 12;
    p.compression = static_cast<uint16_t>(compression);
    if (compression == 4) {
      p.bits = 1;
      p.photometric = 0;
    } else {
      p.samples = 3;
      p.photometric = 2;
      p.rowsPerStrip = 16;
    }
    std::vector<uint8_t> f = test::WriteTiffWithLibtiff({p}, false);
    for (size_t i = 12; i < f.size(); i += 3)
      if (!InFirstIfd(f, i)) f[i] = static_cast<uint8_t>(rng());
    write(name, f);
  }
}

// The committed bad files each stop the read or decode what they can.
TEST(TiffHostile, CommittedBadFiles) {
  const std::filesystem::path dir = std::filesystem::path(FOLIVO_TEST_DATA) / "bad";
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().extension() != ".tif") continue;
    ++files;
    SCOPED_TRACE(entry.path().filename().string());
    const std::vector<uint8_t> bytes = test::ReadFileBytes(entry.path().string());
    for (int page = 0; page < 3; ++page) Read(bytes, page);
  }
  EXPECT_GE(files, 8);
}

}  // namespace
}  // namespace folivo
