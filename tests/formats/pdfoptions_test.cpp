// Folivo — multi-page TIFF editor.
// The PDF output choices onto page parameters: paper tables, orientation, texts.
#include "formats/pdfoptions.h"

#include <gtest/gtest.h>

#include "formats/pagelist.h"
#include "formats/params.h"

namespace folivo {
namespace {

TEST(PdfOptions, PaperSizeAndOrientation) {
  const struct {
    int pageSize;
    bool autoRotate;
    int w, h, paperW, paperH;
  } cases[] = {
      {4, true, 3508, 2480, 842, 595},    // A4 turned for a landscape page
      {4, true, 2480, 3508, 595, 842},    // A4 kept for a portrait page
      {4, false, 3508, 2480, 595, 842},   // not turned without the option
      {10, true, 2480, 3508, 792, 1224},  // ledger turned for a portrait page
      {10, true, 3508, 2480, 1224, 792},
      {12, true, 1700, 2200, 1700, 2200},  // automatic: pixels as points
      {12, false, 2200, 1700, 2200, 1700},
      {4, true, 1000, 1000, 595, 842},  // a square page keeps the table's paper
      {0, false, 1, 1, 2380, 3368},
      {11, true, 10, 20, 792, 1224},
      {13, true, 10, 20, 595, 842},  // outside the list: A4
      {-1, true, 20, 10, 842, 595},
  };
  for (const auto& c : cases) {
    TPdfOptions o;
    o.PageSize = c.pageSize;
    o.AutoRotate = c.autoRotate;
    TIOParamsVals p;
    ApplyPdfOptions(o, c.w, c.h, p);
    EXPECT_EQ(p.PdfPaperWidth, c.paperW) << c.pageSize << " " << c.w << "x" << c.h;
    EXPECT_EQ(p.PdfPaperHeight, c.paperH) << c.pageSize << " " << c.w << "x" << c.h;
  }
}

TEST(PdfOptions, EveryPageGetsTheTextsAndCompression) {
  TPageList pages;
  for (int i = 0; i < 3; ++i) {
    pages.Append();
    pages.Bitmap(i).Allocate(10 + 20 * i, 30, ie1g);
    pages.Params(i).PdfProducer = "other";
  }
  TPdfOptions o;
  o.Author = "a";
  o.Creator = "c";
  o.Subject = "s";
  o.Title = "\xE6\xA0\x87";
  o.Keywords = "k";
  o.Compression = 1;
  ApplyPdfOptions(o, pages);
  for (int i = 0; i < 3; ++i) {
    const TIOParamsVals& p = pages.Params(i);
    EXPECT_EQ(p.PdfAuthor, "a");
    EXPECT_EQ(p.PdfCreator, "c");
    EXPECT_EQ(p.PdfSubject, "s");
    EXPECT_EQ(p.PdfTitle, "\xE6\xA0\x87");
    EXPECT_EQ(p.PdfKeywords, "k");
    EXPECT_EQ(p.PdfProducer, "Folivo");
    EXPECT_EQ(p.PdfCompression, 1);
  }
  EXPECT_EQ(pages.Params(0).PdfPaperWidth, 595);  // 10 x 30: portrait
  EXPECT_EQ(pages.Params(2).PdfPaperWidth, 842);  // 50 x 30: turned
  for (int bad : {-1, 6, 200}) {
    o.Compression = bad;
    TIOParamsVals p;
    p.PdfCompression = 0;
    ApplyPdfOptions(o, 5, 5, p);
    EXPECT_EQ(p.PdfCompression, 5) << bad;
  }
}

TEST(PdfOptions, CommandLineNames) {
  const char* const sizes[] = {"a0", "a1",     "a2",    "a3",     "a4",      "a5",  "a6",
                               "b5", "letter", "legal", "ledger", "tabloid", "auto"};
  for (int i = 0; i < 13; ++i) {
    int index = -1;
    EXPECT_TRUE(PdfPageSizeFromName(sizes[i], index));
    EXPECT_EQ(index, i);
  }
  const char* const compressions[] = {"none", "rle", "g4", "g3", "jpeg", "lzw"};
  for (int i = 0; i < 6; ++i) {
    int index = -1;
    EXPECT_TRUE(PdfCompressionFromName(compressions[i], index));
    EXPECT_EQ(index, i);
  }
  int index = 7;
  EXPECT_FALSE(PdfPageSizeFromName("A4", index));
  EXPECT_FALSE(PdfCompressionFromName("zip", index));
  EXPECT_EQ(index, 7);
}

}  // namespace
}  // namespace folivo
