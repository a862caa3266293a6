// Folivo — multi-page TIFF editor.
// Image parameters: defaults, linked fields, deep copy, reset before a read; progress record.
#include "formats/params.h"

#include <gtest/gtest.h>

#include <limits>

#include <vector>

namespace folivo {
namespace {

TEST(ParamsTest, Defaults) {
  const TIOParamsVals p;
  EXPECT_EQ(p.Width, 0);
  EXPECT_EQ(p.Height, 0);
  EXPECT_EQ(p.BitsPerSample, 8);
  EXPECT_EQ(p.SamplesPerPixel, 3);
  EXPECT_EQ(p.DpiX(), 300);
  EXPECT_EQ(p.DpiY(), 300);
  EXPECT_EQ(p.ExactDpiX(), 300.0);
  EXPECT_EQ(p.ExactDpiY(), 300.0);
  EXPECT_TRUE(p.FileName.empty());
  EXPECT_EQ(p.FileType, 0);
  EXPECT_EQ(p.ImageIndex(), 0);
  EXPECT_EQ(p.ImageCount(), 0);
  EXPECT_TRUE(p.ColorMap.empty());
  EXPECT_FALSE(p.NativePixelFormat);
  EXPECT_EQ(p.TiffCompression, tcNone);
  EXPECT_EQ(p.TiffPhotometric, tpRgb);
  EXPECT_EQ(p.TiffPlanarConfig, 1);
  EXPECT_EQ(p.TiffSubIndex, -1);
  EXPECT_EQ(p.TiffXPos, 0);
  EXPECT_EQ(p.TiffYPos, 0);
  EXPECT_TRUE(p.TiffDocumentName.empty());
  EXPECT_TRUE(p.TiffImageDescription.empty());
  EXPECT_TRUE(p.TiffPageName.empty());
  EXPECT_EQ(p.TiffPageNumber, -1);
  EXPECT_EQ(p.TiffPageCount, -1);
  EXPECT_EQ(p.Orientation, 1);
  EXPECT_FALSE(p.AdjustOrientation);
  EXPECT_EQ(p.TiffFillOrder, 1);
  EXPECT_TRUE(p.TiffLittleEndian);
  EXPECT_EQ(p.TiffJpegQuality, 80);
  EXPECT_EQ(p.TiffZipCompression, 1);
  EXPECT_EQ(p.TiffJpegColorSpace, 2);
  EXPECT_EQ(p.TiffImageIndex(), 0);
  EXPECT_EQ(p.TiffImageCount(), 0);
  EXPECT_FALSE(p.HasExifData);
  EXPECT_EQ(p.PdfPaperWidth, 595);
  EXPECT_EQ(p.PdfPaperHeight, 842);
  EXPECT_EQ(p.PdfCompression, 2);
  EXPECT_TRUE(p.PdfTitle.empty() && p.PdfAuthor.empty() && p.PdfSubject.empty() &&
              p.PdfKeywords.empty() && p.PdfCreator.empty() && p.PdfProducer.empty());
}

TEST(ParamsTest, IndexAndCountAreLinked) {
  TIOParamsVals p;
  p.SetImageIndex(3);
  EXPECT_EQ(p.TiffImageIndex(), 3);
  p.SetTiffImageIndex(5);
  EXPECT_EQ(p.ImageIndex(), 5);
  p.SetImageCount(9);
  EXPECT_EQ(p.TiffImageCount(), 9);
  p.SetTiffImageCount(2);
  EXPECT_EQ(p.ImageCount(), 2);
}

TEST(ParamsTest, ResolutionFieldsAreLinked) {
  struct Case {
    double exact;
    int truncated;
  };
  const Case cases[] = {{299.99, 299}, {72.0, 72}, {0.5, 0}, {-1.7, -1}, {1200.4, 1200},
                       {1e300, 0}, {std::numeric_limits<double>::quiet_NaN(), 0}};
  for (const Case& c : cases) {
    TIOParamsVals p;
    p.SetExactDpiX(c.exact);
    p.SetExactDpiY(c.exact);
    EXPECT_EQ(p.DpiX(), c.truncated) << c.exact;
    EXPECT_EQ(p.DpiY(), c.truncated) << c.exact;
    if (c.exact == c.exact) {
      EXPECT_EQ(p.ExactDpiX(), c.exact);
    }
  }
  TIOParamsVals p;
  p.SetDpiX(150);
  p.SetDpiY(96);
  EXPECT_EQ(p.ExactDpiX(), 150.0);
  EXPECT_EQ(p.ExactDpiY(), 96.0);
}

TEST(ParamsTest, CopyOwnsItsColorMap) {
  TIOParamsVals a;
  a.ColorMap = {{1, 2, 3}, {4, 5, 6}};
  TIOParamsVals b(a);
  TIOParamsVals c;
  c = a;
  a.ColorMap[0] = TColorTriple{9, 9, 9};
  a.ColorMap.push_back({});
  EXPECT_EQ(b.ColorMap, (std::vector<TColorTriple>{{1, 2, 3}, {4, 5, 6}}));
  EXPECT_EQ(c.ColorMap, (std::vector<TColorTriple>{{1, 2, 3}, {4, 5, 6}}));
}

const uint8_t* FakeDecompressor(const uint8_t*, size_t, int, TLzwDecodeState*&) {
  return nullptr;
}
void FakeCompressor(const uint8_t*, size_t, TStream&, TLzwEncodeState*&) {}

TEST(ParamsTest, ResetForReadClearsTextsAndKeepsSteering) {
  TIOParamsVals p;
  p.TiffDocumentName = "doc";
  p.TiffImageDescription = "desc";
  p.TiffPageName = "page";
  p.Metadata.Make = "maker";
  p.Metadata.XPTitle = u"title";
  p.Metadata.Iptc = {1, 2};
  p.Metadata.Xmp = "<x/>";
  p.Metadata.IccProfile = {3};
  p.Metadata.ExifTags.push_back(TTagValue{33434, 5, 1, {1, 0, 0, 0, 2, 0, 0, 0}});
  p.HasExifData = true;
  p.SetImageIndex(4);
  p.TiffSubIndex = 1;
  p.NativePixelFormat = true;
  p.TiffJpegQuality = 55;
  p.TiffJpegColorSpace = 1;
  p.PdfCompression = 4;
  p.PdfPaperWidth = 612;
  p.PdfTitle = "kept";
  p.LzwDecompressor = FakeDecompressor;
  p.LzwCompressor = FakeCompressor;

  p.ResetForRead();
  EXPECT_TRUE(p.TiffDocumentName.empty());
  EXPECT_TRUE(p.TiffImageDescription.empty());
  EXPECT_TRUE(p.TiffPageName.empty());
  EXPECT_TRUE(p.Metadata.Make.empty());
  EXPECT_TRUE(p.Metadata.XPTitle.empty());
  EXPECT_TRUE(p.Metadata.Iptc.empty());
  EXPECT_TRUE(p.Metadata.Xmp.empty());
  EXPECT_TRUE(p.Metadata.IccProfile.empty());
  EXPECT_TRUE(p.Metadata.ExifTags.empty());
  EXPECT_FALSE(p.HasExifData);

  EXPECT_EQ(p.ImageIndex(), 4);
  EXPECT_EQ(p.TiffImageIndex(), 4);
  EXPECT_EQ(p.TiffSubIndex, 1);
  EXPECT_TRUE(p.NativePixelFormat);
  EXPECT_EQ(p.TiffJpegQuality, 55);
  EXPECT_EQ(p.TiffJpegColorSpace, 1);
  EXPECT_EQ(p.PdfCompression, 4);
  EXPECT_EQ(p.PdfPaperWidth, 612);
  EXPECT_EQ(p.PdfTitle, "kept");
  EXPECT_EQ(p.LzwDecompressor, &FakeDecompressor);
  EXPECT_EQ(p.LzwCompressor, &FakeCompressor);
}

TEST(ParamsTest, LzwRoutinesFallBackToTheProcessDefault) {
  const TLzwDecompressorFn savedD = DefaultLzwDecompressor();
  const TLzwCompressorFn savedC = DefaultLzwCompressor();
  SetDefaultLzwRoutines(nullptr, nullptr);
  TIOParamsVals p;
  EXPECT_EQ(p.EffectiveLzwDecompressor(), nullptr) << "no routine anywhere: unavailable";
  SetDefaultLzwRoutines(FakeDecompressor, FakeCompressor);
  EXPECT_EQ(p.EffectiveLzwDecompressor(), &FakeDecompressor);
  EXPECT_EQ(p.EffectiveLzwCompressor(), &FakeCompressor);
  SetDefaultLzwRoutines(nullptr, nullptr);
  p.LzwDecompressor = FakeDecompressor;
  EXPECT_EQ(p.EffectiveLzwDecompressor(), &FakeDecompressor);
  EXPECT_EQ(p.EffectiveLzwCompressor(), nullptr);
  SetDefaultLzwRoutines(savedD, savedC);
}

TEST(ParamsTest, CompressionTable) {
  struct Case {
    TTiffCompression kind;
    int tag;
    uint32_t t4Options;
    const char* text;
  };
  const Case cases[] = {
      {tcNone, 1, 0, "UNCOMPRESSED"},
      {tcCcittHuffman, 2, 0, "Bilevel Huffman compression"},
      {tcG3Fax1D, 3, 0, "Bilevel Group 3 CCITT compression, monodimensional"},
      {tcG3Fax2D, 3, 1, "Bilevel Group 3 CCITT compression, bidimensional"},
      {tcG4Fax, 4, 0, "Bilevel Group 4 CCITT compression, bidimensional"},
      {tcLzw, 5, 0, "LZW compression"},
      {tcOldJpeg, 6, 0, "Ver.6.0 jpeg compression"},
      {tcJpeg, 7, 0, "Jpeg compression"},
      {tcPackBits, 32773, 0, "RLE compression"},
      {tcZip, 32946, 0, "ZIP compression"},
      {tcDeflate, 8, 0, "Adobe ZIP compression"},
  };
  for (const Case& c : cases) {
    EXPECT_STREQ(TiffCompressionText(c.kind), c.text);
    EXPECT_EQ(TiffCompressionTag(c.kind), c.tag) << c.text;
    EXPECT_EQ(TiffCompressionFromTag(c.tag, c.t4Options), c.kind) << c.text;
  }
  EXPECT_EQ(TiffCompressionFromTag(3, 0xFFFFFFFE), tcG3Fax1D) << "only bit 0 counts";
  EXPECT_EQ(TiffCompressionFromTag(34712, 0), tcUnknown);
  EXPECT_STREQ(TiffCompressionText(tcUnknown), "Unknown");
  EXPECT_STREQ(TiffCompressionText(static_cast<TTiffCompression>(200)), "Unknown");
}

TEST(ParamsTest, PhotometricTable) {
  const std::pair<int, TTiffPhotometric> known[] = {
      {0, tpWhiteIsZero},      {1, tpBlackIsZero}, {2, tpRgb},   {3, tpPalette},
      {4, tpTransparencyMask}, {5, tpSeparated},   {6, tpYCbCr}, {8, tpCieLab},
  };
  for (const auto& [tag, kind] : known) {
    TTiffPhotometric p = tpRgb;
    EXPECT_TRUE(TiffPhotometricFromTag(tag, p)) << tag;
    EXPECT_EQ(p, kind) << tag;
    EXPECT_EQ(TiffPhotometricTag(kind), tag);
  }
  for (int tag : {7, 9, 32844, -1}) {
    TTiffPhotometric p = tpPalette;
    EXPECT_FALSE(TiffPhotometricFromTag(tag, p)) << tag;
    EXPECT_EQ(p, tpPalette) << "unchanged for " << tag;
  }
}

TEST(ProgressTest, SharedAbortAndReport) {
  bool aborting = false;
  TIOProgress progress(aborting);
  EXPECT_FALSE(progress.Aborting());
  progress.Abort();
  EXPECT_TRUE(aborting);
  aborting = false;
  EXPECT_FALSE(progress.Aborting());

  std::vector<int> reports;
  progress.Report(1.0);  // no event: nothing happens
  progress.OnProgress = [&](void*, int percent) { reports.push_back(percent); };
  progress.RowStep = 100.0 / 3;
  progress.Done = 2;
  progress.Report(progress.RowStep);
  EXPECT_EQ(reports, std::vector<int>{66}) << "truncated, not rounded";
}

}  // namespace
}  // namespace folivo
