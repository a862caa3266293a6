// Folivo — multi-page TIFF editor.
// PCX and DCX: layouts decoded to the right pixels, hostile bytes never crash.
#include "formats/pcx.h"

#include <gtest/gtest.h>

#include <random>

#include "formats/bitmap.h"
#include "formats/stream.h"

namespace folivo {
namespace {

void Put16(std::vector<uint8_t>& b, size_t at, int v) {
  b[at] = v & 0xFF;
  b[at + 1] = (v >> 8) & 0xFF;
}

// A PCX file: planes[y][plane] holds bytesPerLine bytes; written with the
// format's run-length code, the 256-colour palette appended when given.
std::vector<uint8_t> MakePcx(int w, int h, int bits, int planes, int bytesPerLine,
                             const std::vector<std::vector<uint8_t>>& rows,
                             const std::vector<uint8_t>* palette256 = nullptr) {
  std::vector<uint8_t> b(128, 0);
  b[0] = 0x0A;
  b[1] = 5;
  b[2] = 1;
  b[3] = bits;
  Put16(b, 8, w - 1);
  Put16(b, 10, h - 1);
  Put16(b, 12, 200);
  Put16(b, 14, 200);
  for (int i = 0; i < 16; ++i) {  // header palette: gray ramp
    b[16 + 3 * i] = b[17 + 3 * i] = b[18 + 3 * i] = i * 17;
  }
  b[65] = planes;
  Put16(b, 66, bytesPerLine);
  Put16(b, 68, 1);
  for (const auto& row : rows) {
    for (size_t i = 0; i < row.size();) {
      size_t run = 1;
      while (i + run < row.size() && row[i + run] == row[i] && run < 63) ++run;
      if (run > 1 || row[i] >= 0xC0) {
        b.push_back(0xC0 | run);
        b.push_back(row[i]);
      } else {
        b.push_back(row[i]);
      }
      i += run;
    }
  }
  if (palette256) {
    b.push_back(0x0C);
    b.insert(b.end(), palette256->begin(), palette256->end());
  }
  return b;
}

TEST(PcxTest, EightBitPaletteAndRgbPlanes) {
  std::vector<uint8_t> pal(768);
  for (int i = 0; i < 256; ++i) {
    pal[3 * i] = i;            // red
    pal[3 * i + 1] = 255 - i;  // green
    pal[3 * i + 2] = 7;        // blue
  }
  // 3 × 2, indexes 0, 200, 255 / 1, 2, 3 (row length padded to 4).
  auto file = MakePcx(3, 2, 8, 1, 4, {{0, 200, 255, 0}, {1, 2, 3, 0}}, &pal);
  TMemoryStream s(file);
  TIEBitmap bmp;
  TIOParamsVals params;
  TIOProgress progress;
  ReadPcxStream(s, bmp, &params, progress);
  ASSERT_FALSE(progress.Aborting());
  ASSERT_EQ(bmp.Width(), 3);
  ASSERT_EQ(bmp.Height(), 2);
  ASSERT_EQ(bmp.PixelFormat(), ie8p);
  EXPECT_EQ(bmp.GetScanline(0)[1], 200);
  EXPECT_EQ(bmp.GetScanline(1)[2], 3);
  EXPECT_EQ(bmp.GetPaletteColor(200), (TColorTriple{7, 55, 200}));
  EXPECT_EQ(params.DpiX(), 200);

  // 2 × 1 in three planes: red row, green row, blue row.
  auto rgb = MakePcx(2, 1, 8, 3, 2, {{10, 20}, {30, 40}, {50, 60}});
  TMemoryStream s2(rgb);
  TIEBitmap color;
  TIOProgress p2;
  ReadPcxStream(s2, color, nullptr, p2);
  ASSERT_FALSE(p2.Aborting());
  ASSERT_EQ(color.PixelFormat(), ie24RGB);
  const uint8_t* px = color.GetScanline(0);
  EXPECT_EQ(px[0], 50);  // blue of pixel 0
  EXPECT_EQ(px[1], 30);
  EXPECT_EQ(px[2], 10);
  EXPECT_EQ(px[5], 20);  // red of pixel 1
}

TEST(PcxTest, BilevelKeepsOneAsWhite) {
  auto file = MakePcx(10, 1, 1, 1, 2, {{0xF0, 0x40}});
  TMemoryStream s(file);
  TIEBitmap bmp;
  TIOProgress progress;
  ReadPcxStream(s, bmp, nullptr, progress);
  ASSERT_FALSE(progress.Aborting());
  ASSERT_EQ(bmp.PixelFormat(), ie1g);
  EXPECT_EQ(bmp.GetScanline(0)[0], 0xF0);
  EXPECT_EQ(bmp.GetScanline(0)[1] & 0xC0, 0x40);
}

TEST(PcxTest, RefusesSizesTheFileCannotHold) {
  // A header claiming 60000 × 60000 with a few bytes of data.
  auto file = MakePcx(60000, 60000, 8, 1, 60000, {{1, 2, 3}});
  TMemoryStream s(file);
  TIEBitmap bmp;
  TIOProgress progress;
  ReadPcxStream(s, bmp, nullptr, progress);
  EXPECT_TRUE(progress.Aborting());
  EXPECT_TRUE(bmp.IsEmpty());
}

TEST(PcxTest, DcxTableGivesThePages) {
  auto page = MakePcx(2, 1, 8, 3, 2, {{1, 2}, {3, 4}, {5, 6}});
  std::vector<uint8_t> dcx(4 * 1024 + 8, 0);
  dcx[0] = 0xB1; dcx[1] = 0x68; dcx[2] = 0xDE; dcx[3] = 0x3A;  // 987654321
  uint32_t first = static_cast<uint32_t>(dcx.size());
  uint32_t second = first + static_cast<uint32_t>(page.size());
  for (int i = 0; i < 4; ++i) {
    dcx[4 + i] = (first >> (8 * i)) & 0xFF;
    dcx[8 + i] = (second >> (8 * i)) & 0xFF;
  }
  dcx[12] = 0xFF;  // a third offset beyond the file: dropped
  dcx[15] = 0x7F;
  dcx.insert(dcx.end(), page.begin(), page.end());
  dcx.insert(dcx.end(), page.begin(), page.end());
  TMemoryStream s(dcx);
  EXPECT_EQ(DcxPageOffsets(s), (std::vector<uint32_t>{first, second}));
}

TEST(PcxTest, MutatedFilesNeverCrash) {
  std::vector<uint8_t> pal(768, 9);
  std::vector<std::vector<uint8_t>> rows;
  for (int y = 0; y < 40; ++y) {
    std::vector<uint8_t> r(40);
    for (int x = 0; x < 40; ++x) r[x] = static_cast<uint8_t>((x * y) ^ (x + y));
    rows.push_back(r);
  }
  const auto seeds = {MakePcx(40, 40, 8, 1, 40, rows, &pal), MakePcx(320, 40, 1, 1, 40, rows),
                      MakePcx(80, 40, 4, 1, 40, rows),
                      MakePcx(40, 13, 8, 3, 40, std::vector(rows.begin(), rows.begin() + 39))};
  std::mt19937 rng(12345);
  for (const auto& seed : seeds) {
    for (int round = 0; round < 400; ++round) {
      std::vector<uint8_t> file = seed;
      int changes = 1 + rng() % 8;
      for (int i = 0; i < changes; ++i) {
        size_t at = (rng() % 2) ? rng() % 128 : rng() % file.size();
        file[at] = static_cast<uint8_t>(rng());
      }
      if (rng() % 5 == 0) file.resize(rng() % file.size());
      TMemoryStream s(file);
      TIEBitmap bmp;
      TIOProgress progress;
      ReadPcxStream(s, bmp, nullptr, progress);
      if (!progress.Aborting()) {
        EXPECT_FALSE(bmp.IsEmpty());
      }
    }
  }
}

}  // namespace
}  // namespace folivo
