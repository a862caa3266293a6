// Folivo — multi-page TIFF editor.
// Page bitmap: row layout, storage, fill, alpha, assign and pixel conversions.
#include "formats/bitmap.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <new>
#include <string>
#include <vector>

#include <unistd.h>

#include "formats/errors.h"

namespace folivo {
namespace {

// Restores the process-wide default after a test changes it.
class DefaultMinFileSizeGuard {
 public:
  DefaultMinFileSizeGuard() : saved_(TIEBitmap::DefaultMinFileSize()) {}
  ~DefaultMinFileSizeGuard() { TIEBitmap::SetDefaultMinFileSize(saved_); }

 private:
  int64_t saved_;
};

// Bitmap from ASCII rows: '#' black, '.' white (ie1g); digits 0-9 as gray
// levels 0, 28, ... 252 (ie8g).
void FromAscii(TIEBitmap& bitmap, const std::vector<std::string>& rows, TPagePixelFormat format) {
  bitmap.Allocate(static_cast<int>(rows[0].size()), static_cast<int>(rows.size()), format);
  for (int y = 0; y < bitmap.Height(); ++y) {
    uint8_t* row = bitmap.GetScanline(y);
    std::memset(row, 0, bitmap.RowLength());
    for (int x = 0; x < bitmap.Width(); ++x) {
      const char c = rows[y][x];
      if (format == ie1g) {
        if (c == '.') row[x / 8] |= 0x80 >> (x % 8);
      } else {
        row[x] = static_cast<uint8_t>((c - '0') * 28);
      }
    }
  }
}

std::vector<std::string> ToAscii(const TIEBitmap& bitmap) {
  std::vector<std::string> rows;
  for (int y = 0; y < bitmap.Height(); ++y) {
    const uint8_t* row = bitmap.GetScanline(y);
    std::string text;
    for (int x = 0; x < bitmap.Width(); ++x) text += (row[x / 8] & (0x80 >> (x % 8))) ? '.' : '#';
    rows.push_back(text);
  }
  return rows;
}

void SetRgb(TIEBitmap& bitmap, int x, int y, uint8_t red, uint8_t green, uint8_t blue) {
  uint8_t* p = bitmap.GetScanline(y) + 3 * x;
  p[0] = blue;
  p[1] = green;
  p[2] = red;
}

TColorTriple GetRgb(const TIEBitmap& bitmap, int x, int y) {
  const uint8_t* p = bitmap.GetScanline(y) + 3 * x;
  return TColorTriple{p[0], p[1], p[2]};
}

TEST(BitmapTest, RowLengthAndDerivedCounts) {
  struct Case {
    int width;
    TPagePixelFormat format;
    int rowLength, bitCount, channelCount;
  };
  const Case cases[] = {
      {1, ie1g, 4, 1, 1},      {32, ie1g, 4, 1, 1},      {33, ie1g, 8, 1, 1},
      {3, ie24RGB, 12, 24, 3}, {5, ie8g, 8, 8, 1},       {5, ie8p, 8, 8, 1},
      {3, ie16g, 8, 16, 1},    {3, ie32f, 12, 32, 1},    {3, ieCMYK, 12, 32, 4},
      {3, ieRGB48, 20, 48, 3}, {3, ieCIELab, 12, 24, 3},
  };
  for (const Case& c : cases) {
    TIEBitmap bitmap(c.width, 2, c.format);
    EXPECT_EQ(bitmap.RowLength(), c.rowLength) << PixelFormatName(c.format) << " " << c.width;
    EXPECT_EQ(bitmap.BitCount(), c.bitCount) << PixelFormatName(c.format);
    EXPECT_EQ(bitmap.ChannelCount(), c.channelCount) << PixelFormatName(c.format);
    EXPECT_FALSE(bitmap.IsEmpty());
  }
}

TEST(BitmapTest, ConstructionDefaults) {
  TIEBitmap bitmap;
  EXPECT_TRUE(bitmap.IsEmpty());
  EXPECT_EQ(bitmap.PixelFormat(), ieNoPixels);
  EXPECT_EQ(bitmap.Location(), ieTempFile);
  EXPECT_EQ(bitmap.BWConversion, 1);
  EXPECT_EQ(bitmap.QuantizeColors, 256);
  EXPECT_EQ(bitmap.GetScanline(0), nullptr);
  EXPECT_FALSE(bitmap.HasAlphaChannel());
}

TEST(BitmapTest, MinFileSizeDefault) {
  DefaultMinFileSizeGuard guard;
  TIEBitmap::SetDefaultMinFileSize(-1);
  const int64_t expected =
      std::max<int64_t>(int64_t(sysconf(_SC_AVPHYS_PAGES)) * sysconf(_SC_PAGESIZE) / 2, 1);
  TIEBitmap automatic;
  // Available memory moves between the two readings; within 10 % is the same rule.
  EXPECT_NEAR(double(automatic.MinFileSize()), double(expected), double(expected) * 0.1);
  TIEBitmap::SetDefaultMinFileSize(12345);
  TIEBitmap fixed;
  EXPECT_EQ(fixed.MinFileSize(), 12345);
}

TEST(BitmapTest, EmptyAllocations) {
  struct Case {
    const char* name;
    int width, height;
    TPagePixelFormat format;
  };
  const Case cases[] = {
      {"zero width", 0, 10, ie8g}, {"zero height", 10, 0, ie24RGB},
      {"negative", -5, 10, ie8g},  {"no pixels", 10, 10, ieNoPixels},
      {"both zero", 0, 0, ie1g},
  };
  for (const Case& c : cases) {
    TIEBitmap bitmap(4, 4, ie8g);
    bitmap.Allocate(c.width, c.height, c.format);
    EXPECT_TRUE(bitmap.IsEmpty()) << c.name;
    EXPECT_EQ(bitmap.GetScanline(0), nullptr) << c.name;
    EXPECT_GE(bitmap.Width(), 0) << c.name;
    EXPECT_GE(bitmap.RowLength(), 0) << c.name;
  }
}

TEST(BitmapTest, AbsurdSizesThrowBadAlloc) {
  struct Case {
    int width, height;
    TPagePixelFormat format;
  };
  const Case cases[] = {
      {INT32_MAX, 1, ieRGB48}, {INT32_MAX, INT32_MAX, ie24RGB}, {1 << 20, 1 << 21, ie8g}};
  for (const Case& c : cases) {
    TIEBitmap bitmap(4, 4, ie8g);
    EXPECT_THROW(bitmap.Allocate(c.width, c.height, c.format), std::bad_alloc) << c.width;
    EXPECT_TRUE(bitmap.IsEmpty());
  }
}

void CheckTopRowAddressing(TIEBitmap& bitmap) {
  const int height = bitmap.Height();
  for (int y = 0; y < height; ++y) std::memset(bitmap.GetScanline(y), y + 1, bitmap.RowLength());
  // Bottom-up block: the first bytes are the last row of the page.
  const uint8_t* base = bitmap.GetScanline(height - 1);
  for (int r = 0; r < height; ++r) {
    EXPECT_EQ(bitmap.GetScanline(r), base + int64_t(bitmap.RowLength()) * (height - 1 - r));
    EXPECT_EQ(bitmap.GetScanline(r)[0], r + 1);
  }
  EXPECT_EQ(bitmap.GetScanline(-1), nullptr);
  EXPECT_EQ(bitmap.GetScanline(height), nullptr);
}

// A mapping of an unlinked file dir/IMG... in this process.
bool MappedTempFileExists(const std::string& dir) {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line))
    if (line.find(dir + "/IMG") != std::string::npos && line.find("(deleted)") != std::string::npos)
      return true;
  return false;
}

class TmpDirGuard {
 public:
  explicit TmpDirGuard(const char* value) {
    const char* old = std::getenv("TMPDIR");
    had_ = old != nullptr;
    if (had_) saved_ = old;
    setenv("TMPDIR", value, 1);
  }
  ~TmpDirGuard() {
    if (had_)
      setenv("TMPDIR", saved_.c_str(), 1);
    else
      unsetenv("TMPDIR");
  }

 private:
  bool had_;
  std::string saved_;
};

TEST(BitmapTest, MemoryStorageIsAlignedAndBottomUp) {
  TIEBitmap bitmap;
  bitmap.SetMinFileSize(int64_t{1} << 40);
  bitmap.Allocate(37, 5, ie24RGB);
  EXPECT_EQ(bitmap.ActualLocation(), ieMemory);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(bitmap.GetScanline(4)) % 32, 0u);
  CheckTopRowAddressing(bitmap);
}

TEST(BitmapTest, TempFileStorageIsMappedAndBottomUp) {
  char dir[] = "/tmp/folivo-bitmap-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  {
    TmpDirGuard guard(dir);
    TIEBitmap bitmap;
    bitmap.SetMinFileSize(16);
    bitmap.Allocate(37, 5, ie24RGB);
    ASSERT_EQ(bitmap.ActualLocation(), ieTempFile);
    EXPECT_TRUE(MappedTempFileExists(dir));
    CheckTopRowAddressing(bitmap);
    bitmap.FreeImage();
    EXPECT_FALSE(MappedTempFileExists(dir));
  }
  EXPECT_EQ(rmdir(dir), 0) << "the file was unlinked at once";
}

TEST(BitmapTest, LocationFollowsMinFileSize) {
  struct Case {
    const char* name;
    TBitmapLocation wish;
    int64_t minFileSize;
    TBitmapLocation actual;
  };
  // The page is 12 x 10 = 120 bytes.
  const Case cases[] = {
      {"temp file, small page", ieTempFile, 121, ieMemory},
      {"temp file, page at the limit", ieTempFile, 120, ieTempFile},
      {"memory, page at the limit", ieMemory, 120, ieMemory},
      {"memory, large page", ieMemory, 119, ieTempFile},
      {"tbitmap ignores the limit", ieTBitmap, 0, ieTBitmap},
  };
  for (const Case& c : cases) {
    TIEBitmap bitmap;
    bitmap.SetLocation(c.wish);
    bitmap.SetMinFileSize(c.minFileSize);
    bitmap.Allocate(4, 10, ie24RGB);
    EXPECT_EQ(bitmap.ActualLocation(), c.actual) << c.name;
  }
}

TEST(BitmapTest, TempFileFailureFallsBackToMemory) {
  TIEBitmap bitmap;
  {
    TmpDirGuard guard("/nonexistent/folivo-no-such-dir");
    bitmap.SetMinFileSize(0);
    bitmap.Allocate(10, 10, ie8g);
  }
  EXPECT_EQ(bitmap.ActualLocation(), ieMemory);
  CheckTopRowAddressing(bitmap);
}

TEST(BitmapTest, TBitmapRefusesFormats) {
  struct Case {
    TPagePixelFormat format;
    const char* message;
  };
  const Case cases[] = {
      {ie32f, "ie32f pixel format not allowed when Location=ieTBitmap"},
      {ieCMYK, "ieCMYK pixel format not allowed when Location=ieTBitmap"},
      {ieRGB48, "ieRGB48 pixel format not allowed when Location=ieTBitmap"},
      {ieCIELab, "ieCIELab pixel format not allowed when Location=ieTBitmap"},
  };
  for (const Case& c : cases) {
    TIEBitmap bitmap;
    bitmap.SetLocation(ieTBitmap);
    bitmap.Allocate(3, 3, ie24RGB);
    try {
      bitmap.Allocate(4, 4, c.format);
      ADD_FAILURE() << "no error for " << c.message;
    } catch (const TBitmapError& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
    EXPECT_EQ(bitmap.PixelFormat(), ie24RGB) << "a refused allocation keeps the bitmap";
    EXPECT_THROW(bitmap.ConvertTo(c.format), TBitmapError);
  }
  TIEBitmap gray;
  gray.SetLocation(ieTBitmap);
  gray.Allocate(3, 3, ie16g);
  EXPECT_EQ(gray.PixelFormat(), ie8g);
  for (TPagePixelFormat f : {ie1g, ie8p, ie8g, ie24RGB}) {
    gray.Allocate(3, 3, f);
    EXPECT_EQ(gray.PixelFormat(), f);
    EXPECT_EQ(gray.ActualLocation(), ieTBitmap);
  }
}

TEST(BitmapTest, TBitmapKeepsSixteenBitGrayAsEightBit) {
  TIEBitmap source(3, 1, ie16g);
  const uint8_t levels[6] = {0xFF, 0xFF, 0x80, 0x80, 0x00, 0x00};
  std::memcpy(source.GetScanline(0), levels, 6);
  TIEBitmap target;
  target.SetLocation(ieTBitmap);
  target.Assign(source);
  ASSERT_EQ(target.PixelFormat(), ie8g);
  EXPECT_EQ(std::as_const(target).GetScanline(0)[0], 255);
  EXPECT_EQ(std::as_const(target).GetScanline(0)[1], 128);
  EXPECT_EQ(std::as_const(target).GetScanline(0)[2], 0);
  target.ConvertTo(ie16g);
  EXPECT_EQ(target.PixelFormat(), ie8g);
}

TEST(BitmapTest, AllocateKeepsUnchangedStorageAndResetsOtherwise) {
  TIEBitmap bitmap(8, 8, ie24RGB);
  bitmap.AlphaChannel();
  const uint8_t* before = bitmap.GetScanline(0);
  bitmap.Allocate(8, 8, ie24RGB);
  EXPECT_EQ(bitmap.GetScanline(0), before);
  EXPECT_TRUE(bitmap.HasAlphaChannel());

  bitmap.Allocate(8, 8, ie8p);
  EXPECT_FALSE(bitmap.HasAlphaChannel());
  EXPECT_EQ(bitmap.PaletteLength(), 256);
  bitmap.SetPaletteColor(7, TColorTriple{1, 2, 3});
  bitmap.Allocate(9, 8, ie8p);
  EXPECT_EQ(bitmap.GetPaletteColor(7), TColorTriple{}) << "a new allocation has a fresh palette";
  bitmap.Allocate(9, 8, ie8g);
  EXPECT_EQ(bitmap.PaletteLength(), 0);
}

TEST(BitmapTest, PaletteAccessOutsideRangeIsIgnored) {
  TIEBitmap bitmap(2, 2, ie8p);
  bitmap.SetPaletteLength(4);
  bitmap.SetPaletteColor(3, TColorTriple{10, 20, 30});
  bitmap.SetPaletteColor(4, TColorTriple{1, 1, 1});
  bitmap.SetPaletteColor(-1, TColorTriple{1, 1, 1});
  EXPECT_EQ(bitmap.GetPaletteColor(3), (TColorTriple{10, 20, 30}));
  EXPECT_EQ(bitmap.GetPaletteColor(4), TColorTriple{});
  EXPECT_EQ(bitmap.GetPaletteColor(-1), TColorTriple{});
  bitmap.SetPaletteLength(6);
  EXPECT_EQ(bitmap.GetPaletteColor(3), (TColorTriple{10, 20, 30}));
  EXPECT_EQ(bitmap.GetPaletteColor(5), TColorTriple{});
}

TEST(BitmapTest, FillRules) {
  struct Case {
    const char* name;
    TPagePixelFormat format;
    double value;
    std::vector<uint8_t> pixel;
  };
  float one = 1.0f, half = 0.25f;
  std::vector<uint8_t> oneBytes(4), halfBytes(4);
  std::memcpy(oneBytes.data(), &one, 4);
  std::memcpy(halfBytes.data(), &half, 4);
  const Case cases[] = {
      {"1g white", ie1g, 1, {0xFF}},
      {"1g any nonzero", ie1g, 77, {0xFF}},
      {"1g black", ie1g, 0, {0x00}},
      {"8g low byte", ie8g, 0x1234, {0x34}},
      {"8p low byte", ie8p, 300, {44}},
      {"16g low 16 bits", ie16g, 0x123456, {0x56, 0x34}},
      {"24RGB colour", ie24RGB, double(MakeColor(10, 20, 30)), {30, 20, 10}},
      {"32f real", ie32f, 1.0, oneBytes},
      {"32f fraction", ie32f, 0.25, halfBytes},
      {"CMYK white", ieCMYK, double(0xFFFFFF), {255, 255, 255, 255}},
      {"CMYK black", ieCMYK, 0, {255, 255, 255, 0}},
      {"CMYK red", ieCMYK, double(MakeColor(255, 0, 0)), {255, 0, 0, 255}},
      {"RGB48 colour", ieRGB48, double(MakeColor(1, 2, 255)), {1, 1, 2, 2, 255, 255}},
      {"Lab white", ieCIELab, double(0xFFFFFF), {255, 0, 0}},
      {"8g NaN is 0", ie8g, NAN, {0}},
  };
  for (const Case& c : cases) {
    TIEBitmap bitmap(9, 3, c.format);
    bitmap.Fill(c.value);
    const size_t bytes = c.pixel.size();
    const int pixels = c.format == ie1g ? 1 : 9;  // whole bytes of 1g
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < pixels; ++x)
        ASSERT_EQ(0, std::memcmp(bitmap.GetScanline(y) + x * bytes, c.pixel.data(), bytes))
            << c.name << " at " << x << "," << y;
  }
}

TEST(BitmapTest, AlphaChannelCreationAndFull) {
  TIEBitmap page(5, 4, ie24RGB);
  EXPECT_TRUE(page.Full()) << "no alpha counts as opaque";
  TIEBitmap* alpha = page.AlphaChannel();
  ASSERT_NE(alpha, nullptr);
  EXPECT_EQ(page.AlphaChannel(), alpha);
  EXPECT_EQ(alpha->PixelFormat(), ie8g);
  EXPECT_EQ(alpha->Width(), 5);
  EXPECT_EQ(alpha->Height(), 4);
  EXPECT_EQ(alpha->AlphaChannel(), nullptr) << "an alpha bitmap has no alpha";
  EXPECT_FALSE(alpha->HasAlphaChannel());
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(std::as_const(*alpha).GetScanline(y)[x], 255);
  EXPECT_TRUE(alpha->Full());

  alpha->GetScanline(3)[4] = 254;
  EXPECT_FALSE(alpha->Full());
  EXPECT_FALSE(page.Full());
  alpha->Fill(255);
  EXPECT_TRUE(alpha->Full());
  alpha->Fill(0);
  EXPECT_FALSE(alpha->Full());
  alpha->Fill(255);
  alpha->GetScanline(0)[0] = 255;  // written, but still all 255
  EXPECT_TRUE(alpha->Full());
  // Padding bytes do not count.
  alpha->GetScanline(1)[6] = 0;
  EXPECT_TRUE(alpha->Full());
}

TEST(BitmapTest, RemoveAlphaChannelMergesWithTheFormula) {
  struct Case {
    int color, back, alpha, expected;
  };
  // c' = b + (((c - b) * a * 1024) >> 18), the shift rounding towards minus infinity.
  const Case cases[] = {
      {200, 100, 128, 150}, {0, 255, 128, 127},  {100, 200, 0, 200}, {255, 0, 254, 253},
      {10, 11, 1, 10},      {255, 255, 77, 255}, {255, 0, 255, 255}, {0, 255, 255, 0},
  };
  // Blue and its background stay 7 so each channel is seen to use its own.
  for (size_t i = 0; i < std::size(cases); ++i) {
    // The second pixel is transparent, so the alpha is never all opaque.
    TIEBitmap one(2, 1, ie24RGB);
    SetRgb(one, 0, 0, uint8_t(cases[i].color), uint8_t(cases[i].color), 7);
    SetRgb(one, 1, 0, 1, 1, 1);
    one.AlphaChannel()->GetScanline(0)[0] = uint8_t(cases[i].alpha);
    one.AlphaChannel()->GetScanline(0)[1] = 0;
    one.RemoveAlphaChannel(true, MakeColor(uint8_t(cases[i].back), uint8_t(cases[i].back), 7));
    EXPECT_FALSE(one.HasAlphaChannel());
    EXPECT_EQ(GetRgb(one, 0, 0).red, cases[i].expected) << "case " << i;
    EXPECT_EQ(GetRgb(one, 0, 0).green, cases[i].expected) << "case " << i;
    EXPECT_EQ(GetRgb(one, 0, 0).blue, 7) << "case " << i;
    EXPECT_EQ(GetRgb(one, 1, 0), (TColorTriple{7, uint8_t(cases[i].back), uint8_t(cases[i].back)}))
        << "case " << i;
  }
  TIEBitmap page(1, 1, ie24RGB);
  SetRgb(page, 0, 0, 200, 200, 200);
  page.AlphaChannel()->Fill(0);
  page.RemoveAlphaChannel(false, 0);
  EXPECT_FALSE(page.HasAlphaChannel());
  EXPECT_EQ(GetRgb(page, 0, 0).red, 200) << "without merge the pixels stay";
  TIEBitmap gray(1, 1, ie8g);
  gray.Fill(200);
  gray.AlphaChannel()->Fill(0);
  gray.RemoveAlphaChannel(true, 0);
  EXPECT_FALSE(gray.HasAlphaChannel());
  EXPECT_EQ(std::as_const(gray).GetScanline(0)[0], 200) << "only ie24RGB is merged";
}

TEST(BitmapTest, AssignIsDeepAndIndependent) {
  for (int64_t minFile : {int64_t{1} << 40, int64_t{0}}) {
    TIEBitmap source;
    source.SetMinFileSize(minFile);
    source.Allocate(3, 2, ie8p);
    source.SetPaletteLength(16);
    source.SetPaletteColor(5, TColorTriple{1, 2, 3});
    source.BWConversion = 0;
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 3; ++x) source.GetScanline(y)[x] = uint8_t(10 * y + x);
    source.AlphaChannel()->GetScanline(1)[2] = 9;

    TIEBitmap copy;
    copy.SetMinFileSize(minFile);
    copy.Assign(source);
    EXPECT_EQ(copy.ActualLocation(), source.ActualLocation());
    EXPECT_EQ(copy.Width(), 3);
    EXPECT_EQ(copy.Height(), 2);
    EXPECT_EQ(copy.PixelFormat(), ie8p);
    EXPECT_EQ(copy.PaletteLength(), 16);
    EXPECT_EQ(copy.GetPaletteColor(5), (TColorTriple{1, 2, 3}));
    EXPECT_EQ(copy.BWConversion, 0);
    ASSERT_TRUE(copy.HasAlphaChannel());
    EXPECT_EQ(copy.AlphaChannelIfAny()->GetScanline(1)[2], 9);
    EXPECT_FALSE(copy.Full());
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 3; ++x) EXPECT_EQ(std::as_const(copy).GetScanline(y)[x], 10 * y + x);

    source.GetScanline(0)[0] = 99;
    source.SetPaletteColor(5, TColorTriple{});
    source.AlphaChannel()->GetScanline(1)[2] = 255;
    EXPECT_EQ(std::as_const(copy).GetScanline(0)[0], 0);
    EXPECT_EQ(copy.GetPaletteColor(5), (TColorTriple{1, 2, 3}));
    EXPECT_EQ(copy.AlphaChannelIfAny()->GetScanline(1)[2], 9);

    source.RemoveAlphaChannel(false, 0);
    copy.Assign(source);
    EXPECT_FALSE(copy.HasAlphaChannel()) << "the source's missing alpha is copied too";
  }
}

TEST(BitmapTest, AssignOwnAlphaAndEmpty) {
  TIEBitmap page(4, 3, ie24RGB);
  page.AlphaChannel()->Fill(17);
  page.Assign(*page.AlphaChannelIfAny());
  EXPECT_EQ(page.PixelFormat(), ie8g);
  EXPECT_EQ(std::as_const(page).GetScanline(2)[3], 17);
  EXPECT_FALSE(page.HasAlphaChannel());

  TIEBitmap empty;
  page.Assign(empty);
  EXPECT_TRUE(page.IsEmpty());
}

TEST(BitmapTest, FreeImage) {
  TIEBitmap page(4, 3, ie8p);
  page.AlphaChannel();
  page.FreeImage();
  EXPECT_TRUE(page.IsEmpty());
  EXPECT_EQ(page.Width(), 0);
  EXPECT_EQ(page.PixelFormat(), ieNoPixels);
  EXPECT_EQ(page.PaletteLength(), 0);
  EXPECT_FALSE(page.HasAlphaChannel());
}

// ---- conversions -------------------------------------------------------

TEST(BitmapConvertTest, BayerDither) {
  // Uniform gray: white where M[x mod 8][y mod 8] < lum div 4; the matrix is
  // not symmetric, so a transposed look-up fails. Level 252 keeps the one
  // black pixel in 64 that pure white must not have.
  const uint8_t m[8][8] = {
      {0, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26},
      {12, 44, 4, 36, 14, 46, 6, 38}, {60, 28, 52, 20, 62, 30, 54, 22},
      {3, 35, 11, 43, 1, 33, 9, 41},  {51, 19, 59, 27, 49, 17, 57, 25},
      {15, 47, 7, 39, 13, 45, 5, 37}, {63, 31, 55, 23, 61, 29, 53, 21},
  };
  for (int level : {0, 3, 4, 100, 128, 252, 255}) {
    TIEBitmap page(10, 9, ie24RGB);
    page.Fill(double(MakeColor(uint8_t(level), uint8_t(level), uint8_t(level))));
    page.BWConversion = 0;
    page.ConvertTo(ie1g);
    ASSERT_EQ(page.PixelFormat(), ie1g);
    const auto rows = ToAscii(page);
    for (int y = 0; y < 9; ++y)
      for (int x = 0; x < 10; ++x)
        EXPECT_EQ(rows[y][x], m[x % 8][y % 8] < level / 4 || level == 255 ? '.' : '#')
            << "level " << level << " at " << x << "," << y;
  }
}

TEST(BitmapConvertTest, BayerDitherFixture) {
  // Gray 28 x digit; lum 56 div 4 = 14 is white where M[x][y] < 14.
  TIEBitmap page;
  FromAscii(page, {"22222222", "22222222"}, ie8g);
  page.BWConversion = 0;
  page.ConvertTo(ie1g);
  // Column x uses row M[x]: M[0][0]=0, M[1][0]=48, M[2][0]=12, M[3][0]=60,
  // M[4][0]=3, M[5][0]=51, M[6][0]=15, M[7][0]=63; then M[x][1]: 32,16,44,28,35,19,47,31.
  EXPECT_EQ(ToAscii(page), (std::vector<std::string>{".#.#.###", "########"}));
}

TEST(BitmapConvertTest, ThresholdAtAverage) {
  struct Case {
    const char* name;
    std::vector<std::string> gray;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      // Average of 0 and 9 x 28 = 126: 0 is black, 252 white.
      {"two levels", {"0909", "9090"}, {"#.#.", ".#.#"}},
      // Average (0+3+6+9)/4 x 28 = 126: 84 < 126 black, 168 white.
      {"ramp", {"0369", "0369"}, {"##..", "##.."}},
      // Uniform: every pixel equals the average, so not below it: white.
      {"uniform", {"555", "555"}, {"...", "..."}},
      // One dark pixel pulls the average below the others.
      {"one dark", {"9999", "9990"}, {"....", "...#"}},
  };
  for (const Case& c : cases) {
    for (TPagePixelFormat via : {ie8g, ie24RGB, ie16g, ie32f}) {
      TIEBitmap page;
      FromAscii(page, c.gray, ie8g);
      page.ConvertTo(via);
      page.BWConversion = 1;
      page.ConvertTo(ie1g);
      EXPECT_EQ(ToAscii(page), c.expected) << c.name << " via " << PixelFormatName(via);
    }
  }
}

TEST(BitmapConvertTest, ThresholdUsesLuminanceOfAverageColour) {
  // Red (lum 53) and blue (lum 20): averages (127, 0, 127), lum 36; red is
  // white, blue black. A per-pixel average of lum would be the same here, so
  // add green (lum 181) to move it: averages (85, 85, 85) -> 85.
  TIEBitmap page(3, 1, ie24RGB);
  SetRgb(page, 0, 0, 255, 0, 0);
  SetRgb(page, 1, 0, 0, 0, 255);
  SetRgb(page, 2, 0, 0, 255, 0);
  page.ConvertTo(ie1g);
  EXPECT_EQ(ToAscii(page), (std::vector<std::string>{"##."}));
}

TEST(BitmapConvertTest, WhiteStaysWhite) {
  for (int width : {1, 7, 8, 9, 33}) {
    TIEBitmap page(width, 3, ie1g);
    page.Fill(1);
    page.ConvertTo(ie24RGB);
    for (int x = 0; x < width; ++x) EXPECT_EQ(GetRgb(page, x, 2), (TColorTriple{255, 255, 255}));
    for (int method : {0, 1}) {
      TIEBitmap copy;
      copy.Assign(page);
      copy.BWConversion = method;
      copy.ConvertTo(ie1g);
      EXPECT_EQ(ToAscii(copy), std::vector<std::string>(3, std::string(width, '.')))
          << "width " << width << " method " << method;
    }
  }
}

TEST(BitmapConvertTest, BilevelToRgbAndGray) {
  TIEBitmap page;
  FromAscii(page, {"#.#.#.#.##", "..########"}, ie1g);
  TIEBitmap rgb;
  rgb.Assign(page);
  rgb.ConvertTo(ie24RGB);
  EXPECT_EQ(GetRgb(rgb, 0, 0), (TColorTriple{0, 0, 0}));
  EXPECT_EQ(GetRgb(rgb, 1, 0), (TColorTriple{255, 255, 255}));
  EXPECT_EQ(GetRgb(rgb, 9, 1), (TColorTriple{0, 0, 0}));
  EXPECT_EQ(GetRgb(rgb, 1, 1), (TColorTriple{255, 255, 255}));
  page.ConvertTo(ie16g);
  EXPECT_EQ(page.GetScanline(0)[2], 0xFF);
  EXPECT_EQ(page.GetScanline(0)[3], 0xFF);
  EXPECT_EQ(page.GetScanline(0)[0], 0);
  page.ConvertTo(ie1g);
  EXPECT_EQ(ToAscii(page), (std::vector<std::string>{"#.#.#.#.##", "..########"}));
}

// One value through a conversion: 3 colour bytes or a gray level, as bytes of the format.
struct TPixelCase {
  const char* name;
  TPagePixelFormat from;
  std::vector<uint8_t> input;
  TPagePixelFormat to;
  std::vector<uint8_t> expected;
};

std::vector<uint8_t> FloatBytes(float f) {
  std::vector<uint8_t> bytes(4);
  std::memcpy(bytes.data(), &f, 4);
  return bytes;
}

TEST(BitmapConvertTest, PixelFormulas) {
  const TPixelCase cases[] = {
      {"rgb to 8g is the luminance",
       ie24RGB,
       {30, 20, 10},
       ie8g,
       {(21 * 10 + 71 * 20 + 8 * 30) / 100}},
      {"rgb to 16g", ie24RGB, {255, 255, 255}, ie16g, {255, 255}},
      {"rgb to 32f", ie24RGB, {0, 0, 0}, ie32f, FloatBytes(0.0f)},
      {"8g to 16g", ie8g, {0x80}, ie16g, {0x80, 0x80}},
      {"16g to 8g rounds", ie16g, {0x7F, 0x80}, ie8g, {128}},
      {"16g to 8g low", ie16g, {128, 0}, ie8g, {0}},
      {"32f to 8g clamps", ie32f, FloatBytes(1.5f), ie8g, {255}},
      {"32f to 8g negative", ie32f, FloatBytes(-0.5f), ie8g, {0}},
      {"32f NaN to rgb", ie32f, FloatBytes(NAN), ie24RGB, {0, 0, 0}},
      {"32f to 16g", ie32f, FloatBytes(0.5f), ie16g, {0x00, 0x80}},
      {"16g to 32f", ie16g, {0xFF, 0xFF}, ie32f, FloatBytes(1.0f)},
      {"8g to rgb", ie8g, {77}, ie24RGB, {77, 77, 77}},
      {"rgb to rgb48", ie24RGB, {1, 2, 3}, ieRGB48, {3, 3, 2, 2, 1, 1}},
      {"rgb48 to rgb rounds v / 257",
       ieRGB48,
       {0x80, 0x7F, 0, 1, 0xFF, 0xFF},
       ie24RGB,
       {255, 1, 127}},
      {"rgb to cmyk red", ie24RGB, {0, 0, 255}, ieCMYK, {255, 0, 0, 255}},
      {"rgb to cmyk gray", ie24RGB, {128, 128, 128}, ieCMYK, {255, 255, 255, 128}},
      {"rgb to cmyk dark", ie24RGB, {0, 50, 100}, ieCMYK, {255, 128, 0, 100}},
      {"cmyk to rgb", ieCMYK, {255, 128, 0, 100}, ie24RGB, {0, 50, 100}},
      {"cmyk black", ieCMYK, {0, 0, 0, 0}, ie24RGB, {0, 0, 0}},
      {"cmyk to 8g", ieCMYK, {255, 255, 255, 255}, ie8g, {255}},
      {"rgb white to lab", ie24RGB, {255, 255, 255}, ieCIELab, {255, 0, 0}},
      {"rgb black to lab", ie24RGB, {0, 0, 0}, ieCIELab, {0, 0, 0}},
      // sRGB red is L* 53.24, a* 80.09, b* 67.20.
      {"rgb red to lab", ie24RGB, {0, 0, 255}, ieCIELab, {136, 80, 67}},
      // sRGB blue is L* 32.30, a* 79.19, b* -107.86.
      {"rgb blue to lab", ie24RGB, {255, 0, 0}, ieCIELab, {82, 79, uint8_t(-108)}},
      {"lab white to rgb", ieCIELab, {255, 0, 0}, ie24RGB, {255, 255, 255}},
      {"lab red to rgb", ieCIELab, {136, 80, 67}, ie24RGB, {0, 0, 255}},
      {"lab gray to 8g", ieCIELab, {0, 0, 0}, ie8g, {0}},
  };
  for (const TPixelCase& c : cases) {
    TIEBitmap page(1, 1, c.from);
    std::memcpy(page.GetScanline(0), c.input.data(), c.input.size());
    page.ConvertTo(c.to);
    ASSERT_EQ(page.PixelFormat(), c.to) << c.name;
    const std::vector<uint8_t> got(page.GetScanline(0), page.GetScanline(0) + c.expected.size());
    if (c.from == ieCIELab || c.to == ieCIELab) {
      for (size_t i = 0; i < got.size(); ++i)
        EXPECT_NEAR(int(int8_t(got[i])) * (i ? 1 : 0) + int(got[i]) * (i ? 0 : 1),
                    int(int8_t(c.expected[i])) * (i ? 1 : 0) + int(c.expected[i]) * (i ? 0 : 1),
                    c.to == ieCIELab ? 1 : 2)
            << c.name << " byte " << i;
    } else {
      EXPECT_EQ(got, c.expected) << c.name;
    }
  }
}

// A 16 x 16 page of assorted colours, the same for every run.
void ColourPage(TIEBitmap& page) {
  page.Allocate(16, 16, ie24RGB);
  uint32_t seed = 12345;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      seed = seed * 1103515245u + 12345u;
      SetRgb(page, x, y, uint8_t(seed >> 24), uint8_t(seed >> 16), uint8_t(seed >> 8));
    }
  SetRgb(page, 0, 0, 0, 0, 0);
  SetRgb(page, 1, 0, 255, 255, 255);
}

TEST(BitmapConvertTest, RoundTripsThroughRgb) {
  struct Case {
    TPagePixelFormat format;
    int tolerance;
  };
  // CMYK and RGB48 keep 8-bit colours exactly. (8-bit Lab does not: a dark
  // channel beside bright ones moves by up to about 22 levels.)
  const Case cases[] = {{ieCMYK, 0}, {ieRGB48, 0}};
  for (const Case& c : cases) {
    TIEBitmap original;
    ColourPage(original);
    TIEBitmap page;
    page.Assign(original);
    page.ConvertTo(c.format);
    page.ConvertTo(ie24RGB);
    int worst = 0;
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) {
        const TColorTriple a = GetRgb(original, x, y), b = GetRgb(page, x, y);
        worst = std::max({worst, std::abs(a.red - b.red), std::abs(a.green - b.green),
                          std::abs(a.blue - b.blue)});
      }
    EXPECT_LE(worst, c.tolerance) << PixelFormatName(c.format);
  }
}

TEST(BitmapConvertTest, LabIsStableThroughRgb) {
  TIEBitmap page;
  ColourPage(page);
  page.ConvertTo(ieCIELab);
  TIEBitmap lab;
  lab.Assign(page);
  page.ConvertTo(ie24RGB);
  page.ConvertTo(ieCIELab);
  int worst = 0;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x)
      for (int i = 0; i < 3; ++i) {
        const uint8_t a = std::as_const(lab).GetScanline(y)[3 * x + i];
        const uint8_t b = std::as_const(page).GetScanline(y)[3 * x + i];
        worst = std::max(worst, i == 0 ? std::abs(a - b) : std::abs(int8_t(a) - int8_t(b)));
      }
  EXPECT_LE(worst, 2);
}

TEST(BitmapConvertTest, GrayRoundTrips) {
  TIEBitmap page(256, 1, ie8g);
  for (int x = 0; x < 256; ++x) page.GetScanline(0)[x] = uint8_t(x);
  for (TPagePixelFormat via : {ie16g, ie32f, ie24RGB, ieRGB48, ieCMYK}) {
    TIEBitmap copy;
    copy.Assign(page);
    copy.ConvertTo(via);
    copy.ConvertTo(ie8g);
    for (int x = 0; x < 256; ++x)
      ASSERT_EQ(std::as_const(copy).GetScanline(0)[x], x) << "via " << PixelFormatName(via);
  }
}

TEST(BitmapConvertTest, PaletteToRgbAndBack) {
  TIEBitmap page(4, 1, ie8p);
  page.SetPaletteLength(3);
  page.SetPaletteColor(0, TColorTriple{1, 2, 3});
  page.SetPaletteColor(1, TColorTriple{200, 100, 50});
  page.SetPaletteColor(2, TColorTriple{9, 9, 9});
  const uint8_t indexes[4] = {0, 1, 2, 200};  // 200 is past the palette: black
  std::memcpy(page.GetScanline(0), indexes, 4);
  page.ConvertTo(ie24RGB);
  EXPECT_EQ(GetRgb(page, 0, 0), (TColorTriple{1, 2, 3}));
  EXPECT_EQ(GetRgb(page, 1, 0), (TColorTriple{200, 100, 50}));
  EXPECT_EQ(GetRgb(page, 3, 0), (TColorTriple{0, 0, 0}));
  page.ConvertTo(ie8p);
  EXPECT_EQ(page.PaletteLength(), 4);
  const TColorTriple expected[4] = {{1, 2, 3}, {200, 100, 50}, {9, 9, 9}, {0, 0, 0}};
  for (int x = 0; x < 4; ++x)
    EXPECT_EQ(page.GetPaletteColor(std::as_const(page).GetScanline(0)[x]), expected[x]) << x;
}

TEST(BitmapConvertTest, ToPaletteHonoursQuantizeColors) {
  TIEBitmap page;
  ColourPage(page);  // 256 pixels, almost all distinct
  page.QuantizeColors = 16;
  page.ConvertTo(ie8p);
  EXPECT_EQ(page.PixelFormat(), ie8p);
  EXPECT_LE(page.PaletteLength(), 16);
  EXPECT_GE(page.PaletteLength(), 2);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x)
      EXPECT_LT(std::as_const(page).GetScanline(y)[x], page.PaletteLength());
}

TEST(BitmapConvertTest, ConvertKeepsAlphaAndSameFormatIsNoOp) {
  TIEBitmap page(3, 3, ie24RGB);
  page.Fill(double(MakeColor(1, 2, 3)));
  page.AlphaChannel()->Fill(7);
  const uint8_t* before = page.GetScanline(0);
  page.ConvertTo(ie24RGB);
  EXPECT_EQ(page.GetScanline(0), before);
  page.ConvertTo(ie8g);
  ASSERT_TRUE(page.HasAlphaChannel());
  EXPECT_EQ(page.AlphaChannelIfAny()->GetScanline(2)[2], 7);
  EXPECT_EQ(page.GetScanline(0)[0], Luminance(1, 2, 3));
}

TEST(BitmapConvertTest, ConvertInTempFileStorage) {
  TIEBitmap page;
  page.SetMinFileSize(0);
  ColourPage(page);
  ASSERT_EQ(page.ActualLocation(), ieTempFile);
  TIEBitmap reference;
  reference.SetMinFileSize(int64_t{1} << 40);
  ColourPage(reference);
  page.ConvertTo(ieCMYK);
  reference.ConvertTo(ieCMYK);
  EXPECT_EQ(page.ActualLocation(), ieTempFile);
  for (int y = 0; y < 16; ++y)
    EXPECT_EQ(0, std::memcmp(std::as_const(page).GetScanline(y),
                             std::as_const(reference).GetScanline(y), 64));
}

}  // namespace
}  // namespace folivo
