// Folivo — multi-page TIFF editor.
// Whole-file operations: loading into the page list, counting, extracting,
// recognising TIFF and camera raw.
#include "formats/tiffpages.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "formats/errors.h"
#include "formats/pagelist.h"
#include "formats/stream.h"
#include "tifffixtures.h"

namespace folivo {
namespace {

using test::TTiffFixturePage;

std::vector<TTiffFixturePage> ThreePages() {
  TTiffFixturePage a, b, c;
  a.bits = 1;
  a.photometric = 0;
  a.compression = 4;
  b.samples = 3;
  b.photometric = 2;
  b.compression = 5;
  b.predictor = 2;
  c.width = 30;
  c.height = 20;
  c.compression = 7;
  c.samples = 3;
  c.photometric = 6;
  c.tileWidth = 16;
  c.tileLength = 16;
  return {a, b, c};
}

TEST(TiffPagesLoad, InsertsBeforeTheCurrentPage) {
  TPageList list;
  for (int i = 0; i < 5; ++i) list.Append();
  list.Params(2).TiffPageName = "old page 2";
  list.SetCurrentPage(2);
  const std::vector<uint8_t> file = test::WriteTiffWithLibtiff(ThreePages(), false);
  TMemoryStream stream(file);
  TIOProgress progress;
  EXPECT_EQ(LoadTiffPages(list, stream, progress), 3);
  EXPECT_FALSE(progress.Aborting());
  ASSERT_EQ(list.PageCount(), 8);
  EXPECT_EQ(list.Params(5).TiffPageName, "old page 2");
  const int widths[] = {67, 67, 30};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(list.Bitmap(2 + i).Width(), widths[i]);
    EXPECT_EQ(list.Params(2 + i).ImageIndex(), 2 + i);
    EXPECT_EQ(list.Params(2 + i).FileType, 1);
    EXPECT_EQ(list.Params(2 + i).ImageCount(), 3);
    EXPECT_EQ(list.Params(2 + i).DpiX(), 200);
  }
  EXPECT_EQ(list.Bitmap(2).PixelFormat(), ie1g);
  EXPECT_EQ(list.Bitmap(4).PixelFormat(), ie24RGB);

  // With no current page the pages go to the end.
  TPageList empty;
  TMemoryStream again(file);
  EXPECT_EQ(LoadTiffPages(empty, again, progress), 3);
  EXPECT_EQ(empty.PageCount(), 3);
}

TEST(TiffPagesLoad, AFailingPageEndsTheLoadAndLeavesNoEntry) {
  std::vector<TTiffFixturePage> pages = ThreePages();
  pages[1].compression = 5;
  std::vector<uint8_t> file = test::WriteTiffWithLibtiff(pages, false);
  // Make page 2 undecodable: BitsPerSample 8,8,16.
  TMemoryStream probe(file);
  const uint32_t first = file[4] | file[5] << 8 | file[6] << 16 | file[7] << 24;
  const uint16_t n = file[first] | file[first + 1] << 8;
  const size_t nextAt = first + 2 + 12 * n;
  const uint32_t second =
      file[nextAt] | file[nextAt + 1] << 8 | file[nextAt + 2] << 16 | file[nextAt + 3] << 24;
  const uint16_t n2 = file[second] | file[second + 1] << 8;
  bool patched = false;
  for (int i = 0; i < n2; ++i) {
    uint8_t* e = &file[second + 2 + 12 * i];
    if ((e[0] | e[1] << 8) == 258) {
      const uint32_t at = e[8] | e[9] << 8 | e[10] << 16 | e[11] << 24;
      file[at + 4] = 16;
      patched = true;
    }
  }
  ASSERT_TRUE(patched);
  TPageList list;
  TMemoryStream stream(file);
  TIOProgress progress;
  EXPECT_EQ(LoadTiffPages(list, stream, progress), 1);
  EXPECT_TRUE(progress.Aborting());
  EXPECT_EQ(list.PageCount(), 1);

  // Not a TIFF: no page, no empty entry.
  TMemoryStream text(std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o', 0, 0, 0, 0});
  TPageList none;
  LoadTiffPages(none, text, progress);
  EXPECT_EQ(none.PageCount(), 0);
}

TEST(TiffPagesLoad, DefaultResolutionAndAlpha) {
  // A hand-made 2 × 1 RGBA page without resolution tags.
  test::TTiffBuilder b;
  const uint32_t data = static_cast<uint32_t>(b.Size());
  b.bytes.insert(b.bytes.end(), {10, 20, 30, 40, 50, 60, 70, 80});
  const uint32_t bps = static_cast<uint32_t>(b.Size());
  for (int i = 0; i < 4; ++i) b.U16(8);
  b.Put32At(4, static_cast<uint32_t>(b.Ifd({{256, 3, 1, 2},
                                            {257, 3, 1, 1},
                                            {258, 3, 4, bps},
                                            {262, 3, 1, 2},
                                            {273, 4, 1, data},
                                            {277, 3, 1, 4},
                                            {279, 4, 1, 8},
                                            {338, 3, 1, 2}})));
  TPageList list;
  TMemoryStream stream(b.bytes);
  TIOProgress progress;
  ASSERT_EQ(LoadTiffPages(list, stream, progress), 1);
  EXPECT_EQ(list.Params(0).DpiX(), 300);
  EXPECT_EQ(list.Params(0).ExactDpiY(), 300.0);
  ASSERT_TRUE(list.Bitmap(0).HasAlphaChannel());
  EXPECT_EQ(list.Bitmap(0).AlphaChannel()->GetScanline(0)[0], 40);
  EXPECT_EQ(list.Bitmap(0).AlphaChannel()->GetScanline(0)[1], 80);
  EXPECT_EQ(list.Bitmap(0).GetScanline(0)[3], 70);  // blue of the second pixel
}

TEST(TiffPagesCount, MatchesLibtiffAndIgnoresOtherFiles) {
  const std::vector<uint8_t> file = test::WriteTiffWithLibtiff(ThreePages(), true);
  const std::string path = test::TempPath("count.tif");
  test::WriteFileBytes(path, file);
  EXPECT_EQ(CountTiffPages(path), test::LibtiffPageCount(file));
  EXPECT_EQ(CountTiffPages(path), 3);
  test::WriteFileBytes(path, {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0});
  EXPECT_EQ(CountTiffPages(path), 0);
  std::remove(path.c_str());
  EXPECT_THROW(CountTiffPages(path), FolivoError);
}

TEST(TiffPagesExtract, EveryPageCopiesExactlyInTheSourceByteOrder) {
  for (bool big : {false, true}) {
    const std::vector<uint8_t> file = test::WriteTiffWithLibtiff(ThreePages(), big);
    const std::string source = test::TempPath("src.tif"), target = test::TempPath("one.tif");
    test::WriteFileBytes(source, file);
    for (int page = 0; page < 3; ++page) {
      SCOPED_TRACE(std::to_string(page) + (big ? " MM" : " II"));
      ASSERT_TRUE(ExtractTiffPage(source, target, page));
      const std::vector<uint8_t> one = test::ReadFileBytes(target);
      EXPECT_EQ(one[0], big ? 'M' : 'I');
      EXPECT_EQ(test::LibtiffPageCount(one), 1);
      // libtiff sees the same pixels in both files.
      std::vector<uint32_t> a, b;
      uint32_t w1, h1, w2, h2;
      ASSERT_TRUE(test::LibtiffRgba(file, page, a, w1, h1));
      ASSERT_TRUE(test::LibtiffRgba(one, 0, b, w2, h2));
      EXPECT_EQ(a, b);
      auto ours = test::DecodeWithFolivo(one);
      auto orig = test::DecodeWithFolivo(file, page);
      ASSERT_TRUE(ours->ok);
      for (int y = 0; y < ours->bitmap.Height(); ++y)
        ASSERT_EQ(0, std::memcmp(ours->bitmap.GetScanline(y), orig->bitmap.GetScanline(y),
                                 ours->bitmap.RowLength()));
    }
    // Past the last page: a header whose first IFD offset is 0.
    ASSERT_TRUE(ExtractTiffPage(source, target, 7));
    const std::vector<uint8_t> none = test::ReadFileBytes(target);
    ASSERT_EQ(none.size(), 8u);
    EXPECT_EQ(none[4] | none[5] | none[6] | none[7], 0);
    // Not a TIFF: an empty file.
    test::WriteFileBytes(source, {'P', '4', '\n', '1', ' ', '1', '\n', 0});
    ASSERT_TRUE(ExtractTiffPage(source, target, 0));
    EXPECT_TRUE(test::ReadFileBytes(target).empty());
    std::remove(source.c_str());
    std::remove(target.c_str());
  }
}

TEST(TiffPagesExtract, HostileSourcesEndOrFail) {
  // A chain that repeats an offset, and one that cycles: both end.
  for (const char* name : {"chain_cycle_three.tif", "entry_count_65535.tif", "truncated_ifd.tif",
                           "bytecount_4294967295.tif", "strip_count_4294967295.tif"}) {
    SCOPED_TRACE(name);
    const std::vector<uint8_t> file =
        test::ReadFileBytes(std::string(FOLIVO_TEST_DATA) + "/bad/" + name);
    ASSERT_FALSE(file.empty());
    for (int page = 0; page < 4; ++page) {
      TByteViewStream source(file.data(), file.size());
      TMemoryStream target;
      ExtractTiffPage(source, target, page);
      EXPECT_LE(target.Size(), 4 * file.size() + (1u << 20) + 16 * 65536);
    }
  }
}

TEST(TiffPagesExtract, ManyPagesAtOnceEqualOnePageAtATime) {
  const std::string bad = std::string(FOLIVO_TEST_DATA) + "/bad/";
  struct TSource {
    const char* name;
    std::vector<uint8_t> bytes;
  };
  const TSource sources[] = {
      {"II", test::WriteTiffWithLibtiff(ThreePages(), false)},
      {"MM", test::WriteTiffWithLibtiff(ThreePages(), true)},
      {"cycle", test::ReadFileBytes(bad + "chain_cycle_three.tif")},
      {"truncated IFD", test::ReadFileBytes(bad + "truncated_ifd.tif")},
      {"not TIFF", {'P', '4', '\n', '1', ' ', '1', '\n', 0}},
  };
  // Out of order, repeated, past the end and negative.
  const std::vector<int> pages = {2, 0, 1, 1, 9, -1, 0};
  for (const TSource& src : sources) {
    SCOPED_TRACE(src.name);
    ASSERT_FALSE(src.bytes.empty());
    std::vector<TMemoryStream> many(pages.size());
    std::vector<TStream*> targets;
    for (TMemoryStream& m : many) targets.push_back(&m);
    TByteViewStream source(src.bytes.data(), src.bytes.size());
    ASSERT_EQ(ExtractTiffPages(source, pages, targets), pages.size());

    const std::string path = test::TempPath("many_src.tif");
    test::WriteFileBytes(path, src.bytes);
    std::vector<std::string> files;
    for (size_t k = 0; k < pages.size(); ++k)
      files.push_back(test::TempPath("many_" + std::to_string(k) + ".tif"));
    ASSERT_EQ(ExtractTiffPages(path, pages, files), pages.size());
    for (size_t k = 0; k < pages.size(); ++k) {
      SCOPED_TRACE(pages[k]);
      TByteViewStream again(src.bytes.data(), src.bytes.size());
      TMemoryStream one;
      ASSERT_TRUE(ExtractTiffPage(again, one, pages[k]));
      EXPECT_EQ(many[k].Bytes(), one.Bytes());
      EXPECT_EQ(test::ReadFileBytes(files[k]), one.Bytes());
      std::remove(files[k].c_str());
    }
    std::remove(path.c_str());
  }
}

TEST(TiffPagesExtract, ManyPagesStopAtTheFirstUnusablePage) {
  // Page 1 names 64 bytes of ASCII far past the end of the file.
  test::TTiffBuilder b;
  b.U32(0);
  const size_t second = b.Ifd({{256, 3, 1, 1}, {257, 3, 1, 1}, {270, 2, 64, 0x7FFFFF00}});
  const size_t first = b.Ifd({{256, 3, 1, 1}, {257, 3, 1, 1}}, static_cast<uint32_t>(second));
  b.Put32At(4, static_cast<uint32_t>(first));
  const std::string path = test::TempPath("stop_src.tif");
  test::WriteFileBytes(path, b.bytes);
  const std::vector<std::string> files = {
      test::TempPath("stop_0.tif"), test::TempPath("stop_1.tif"), test::TempPath("stop_2.tif")};
  for (const std::string& f : files) std::remove(f.c_str());
  EXPECT_EQ(ExtractTiffPages(path, {0, 1, 0}, files), 1u);
  TByteViewStream source(b.bytes.data(), b.bytes.size());
  TMemoryStream one;
  ASSERT_TRUE(ExtractTiffPage(source, one, 0));
  EXPECT_GT(one.Size(), 8u);
  EXPECT_EQ(test::ReadFileBytes(files[0]), one.Bytes());
  FILE* f1 = std::fopen(files[1].c_str(), "rb");
  FILE* f2 = std::fopen(files[2].c_str(), "rb");
  EXPECT_EQ(f1, nullptr);
  EXPECT_EQ(f2, nullptr);
  if (f1) std::fclose(f1);
  if (f2) std::fclose(f2);
  for (const std::string& f : files) std::remove(f.c_str());
  std::remove(path.c_str());
}

TEST(TiffPagesRecognise, TiffAndCameraRaw) {
  const std::vector<uint8_t> tiff = test::WriteTiffWithLibtiff({TTiffFixturePage{}}, false);
  TMemoryStream s(tiff);
  s.Seek(5);
  EXPECT_TRUE(IsTiffStream(s));
  EXPECT_EQ(s.Position(), 5u);
  EXPECT_FALSE(IsTiffCameraRaw(s));
  EXPECT_EQ(s.Position(), 5u);

  struct TCase {
    const char* name;
    std::vector<test::TTiffBuilder::TEntry> entries;
    bool tiff, raw;
  };
  const TCase cases[] = {
      {"plain", {{256, 3, 1, 10}, {257, 3, 1, 10}}, true, false},
      {"no height", {{256, 3, 1, 10}}, false, false},
      {"dng", {{256, 3, 1, 10}, {257, 3, 1, 10}, {50706, 1, 4, 0x00000401}}, true, true},
      {"cfa", {{256, 3, 1, 10}, {257, 3, 1, 10}, {262, 3, 1, 32803}}, true, true},
      {"linear raw", {{256, 3, 1, 10}, {257, 3, 1, 10}, {262, 3, 1, 34892}}, true, true},
      {"tiff/ep preview",
       {{256, 3, 1, 160}, {257, 3, 1, 120}, {330, 4, 1, 8}, {37398, 1, 4, 0x00000001}},
       true,
       true},
      {"tiff/ep large",
       {{256, 3, 1, 4000}, {257, 3, 1, 120}, {330, 4, 1, 8}, {37398, 1, 4, 1}},
       true,
       false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    test::TTiffBuilder b;
    b.Put32At(4, static_cast<uint32_t>(b.Ifd(c.entries)));
    TMemoryStream m(b.bytes);
    EXPECT_EQ(IsTiffStream(m), c.tiff);
    EXPECT_EQ(IsTiffCameraRaw(m), c.raw);
  }
  TMemoryStream shortOne(std::vector<uint8_t>{'I', 'I', 42, 0, 8, 0, 0, 0});
  EXPECT_FALSE(IsTiffStream(shortOne));
}

}  // namespace
}  // namespace folivo
