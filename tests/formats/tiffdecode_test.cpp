// Folivo — multi-page TIFF editor.
// Strip and tile decoding checked against the samples written and against
// libtiff's rendering of the same file.
#include "formats/tiffdecode.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>

#include <zlib.h>

#include "formats/stream.h"
#include "formats/tiffreader.h"
#include "tifffixtures.h"

namespace folivo {
namespace {

using test::TTiffFixturePage;

struct TCase {
  std::string name;
  TTiffFixturePage page;
  bool bigEndian = false;
  bool libtiffExact = true;  // libtiff's RGBA rendering must agree byte for byte
  int tolerance = 0;         // JPEG: libjpeg's rounding
};

void PrintTo(const TCase& c, std::ostream* os) {
  *os << c.name;
}

int ScaleGray(uint32_t v, int bits) {
  switch (bits) {
    case 2:
      return static_cast<int>(v * 85);
    case 4:
      return static_cast<int>(v * 17);
    case 7:
      return static_cast<int>(v * 2);
    case 8:
      return static_cast<int>(v);
    default:
      return static_cast<int>(v * 255 / ((1u << bits) - 1));
  }
}

// The colour a page must show at (x, y), from the samples that were written.
uint32_t ExpectedRgb(const TTiffFixturePage& p, uint32_t x, uint32_t y) {
  auto s = [&](uint32_t i) { return test::FixtureSample(p, x, y, i); };
  switch (p.photometric) {
    case 0:
    case 1: {
      if (p.bits == 1) {
        const bool white = p.photometric == 1 ? s(0) == 1 : s(0) == 0;
        return white ? 0xFFFFFF : 0;
      }
      int g;
      if (p.bits == 16) {
        const uint32_t v = p.photometric == 0 ? 65535 - s(0) : s(0);
        g = static_cast<int>(v >> 8);
      } else {
        g = ScaleGray(s(0), p.bits);
        if (p.photometric == 0) g = 255 - g;
      }
      return static_cast<uint32_t>(g) * 0x010101u;
    }
    case 2:
      if (p.bits == 16) return MakeColor(s(0) >> 8, s(1) >> 8, s(2) >> 8);
      return MakeColor(s(0), s(1), s(2));
    case 3: {
      uint16_t rgb[3];
      test::FixtureColorMap(p, s(0), rgb);
      const int shift = p.colorMap8Bit ? 0 : 8;
      return MakeColor(rgb[0] >> shift, rgb[1] >> shift, rgb[2] >> shift);
    }
    case 5: {
      const uint32_t k = 255 - s(3);
      return MakeColor((255 - s(0)) * k / 255, (255 - s(1)) * k / 255, (255 - s(2)) * k / 255);
    }
  }
  return 0;
}

std::vector<TCase> MakeCases() {
  std::vector<TCase> cases;
  auto add = [&](std::string name, TTiffFixturePage page, bool libtiffExact = true,
                 int tolerance = 0) {
    for (bool big : {false, true}) {
      TCase c{name + (big ? "_MM" : "_II"), page, big, libtiffExact, tolerance};
      cases.push_back(c);
    }
  };
  // Bilevel: every codec, both photometrics, both fill orders, strips and tiles.
  struct TBilevelCodec {
    const char* name;
    uint16_t compression;
    uint32_t t4;
  };
  const TBilevelCodec bilevel[] = {{"none", 1, 0},    {"huffman", 2, 0},     {"g3_1d", 3, 0},
                                   {"g3_2d", 3, 1},   {"g4", 4, 0},          {"lzw", 5, 0},
                                   {"deflate", 8, 0}, {"packbits", 32773, 0}};
  for (const TBilevelCodec& c : bilevel) {
    for (uint16_t photometric : {0, 1}) {
      for (uint16_t fill : {1, 2}) {
        TTiffFixturePage p;
        p.bits = 1;
        p.photometric = photometric;
        p.compression = c.compression;
        p.t4Options = c.t4;
        p.fillOrder = fill;
        add(std::string("bilevel_") + c.name + "_p" + std::to_string(photometric) + "_fill" +
                std::to_string(fill),
            p);
      }
    }
    TTiffFixturePage t;
    t.bits = 1;
    t.photometric = 0;
    t.compression = c.compression;
    t.t4Options = c.t4;
    t.tileWidth = 32;
    t.tileLength = 16;
    if (c.compression != 2 && c.compression != 3) add(std::string("bilevel_tiled_") + c.name, t);
  }
  // Gray at every depth the decoder scales.
  struct TCodec {
    const char* name;
    uint16_t compression;
    uint16_t predictor;
  };
  const TCodec general[] = {{"none", 1, 1},        {"lzw", 5, 1},          {"lzw_pred", 5, 2},
                            {"deflate", 8, 1},     {"deflate_pred", 8, 2}, {"zip_pred", 32946, 2},
                            {"packbits", 32773, 1}};
  for (const TCodec& c : general) {
    for (uint16_t photometric : {0, 1}) {
      TTiffFixturePage p;
      p.photometric = photometric;
      p.compression = c.compression;
      p.predictor = c.predictor;
      add(std::string("gray8_") + c.name + "_p" + std::to_string(photometric), p);
    }
    TTiffFixturePage rgb;
    rgb.samples = 3;
    rgb.photometric = 2;
    rgb.compression = c.compression;
    rgb.predictor = c.predictor;
    add(std::string("rgb8_") + c.name, rgb);
    rgb.planar = 2;
    add(std::string("rgb8_planar_") + c.name, rgb);
    rgb.planar = 1;
    rgb.tileWidth = 16;
    rgb.tileLength = 32;
    add(std::string("rgb8_tiled_") + c.name, rgb);

    TTiffFixturePage cmyk;
    cmyk.samples = 4;
    cmyk.photometric = 5;
    cmyk.compression = c.compression;
    cmyk.predictor = c.predictor;
    add(std::string("cmyk8_") + c.name, cmyk);
  }
  for (uint16_t bits : {2, 4}) {
    for (uint16_t compression : {1, 32773, 8}) {
      TTiffFixturePage p;
      p.bits = bits;
      p.compression = compression;
      add("gray" + std::to_string(bits) + "_c" + std::to_string(compression), p);
      p.photometric = 3;
      add("palette" + std::to_string(bits) + "_c" + std::to_string(compression), p);
    }
  }
  for (uint16_t compression : {1, 5, 32773}) {
    TTiffFixturePage p;
    p.photometric = 3;
    p.compression = compression;
    add("palette8_c" + std::to_string(compression), p);
    p.colorMap8Bit = true;
    add("palette8_map8bit_c" + std::to_string(compression), p, false);
  }
  // 16-bit samples: libtiff rounds where the reader takes the high byte.
  for (const TCodec& c :
       {TCodec{"none", 1, 1}, TCodec{"deflate_pred", 8, 2}, TCodec{"lzw_pred", 5, 2}}) {
    TTiffFixturePage g;
    g.bits = 16;
    g.compression = c.compression;
    g.predictor = c.predictor;
    add(std::string("gray16_") + c.name, g, false);
    g.photometric = 0;
    add(std::string("gray16_white_") + c.name, g, false);
    TTiffFixturePage rgb = g;
    rgb.photometric = 2;
    rgb.samples = 3;
    add(std::string("rgb16_") + c.name, rgb, false);
    rgb.planar = 2;
    add(std::string("rgb16_planar_") + c.name, rgb, false);
  }
  // JPEG through libjpeg: RGB, YCbCr, gray, strips and tiles (libtiff writes JPEGTables).
  {
    TTiffFixturePage j;
    j.compression = 7;
    j.samples = 3;
    j.photometric = 2;
    j.rowsPerStrip = 16;
    add("jpeg_rgb", j, true, 1);
    j.photometric = 6;
    add("jpeg_ycbcr", j, true, 2);
    j.tileWidth = 32;
    j.tileLength = 16;
    add("jpeg_ycbcr_tiled", j, true, 2);
    TTiffFixturePage g;
    g.compression = 7;
    g.rowsPerStrip = 8;
    add("jpeg_gray", g, true, 1);
  }
  return cases;
}

class TLibtiffCrossCheck : public ::testing::TestWithParam<TCase> {};

TEST_P(TLibtiffCrossCheck, DecodesLikeTheSamplesAndLikeLibtiff) {
  const TCase& c = GetParam();
  const uint16_t comp = c.page.compression;

  const std::vector<uint8_t> file = test::WriteTiffWithLibtiff({c.page}, c.bigEndian);
  auto ours = test::DecodeWithFolivo(file);
  ASSERT_TRUE(ours->ok);
  const TIEBitmap& b = ours->bitmap;
  ASSERT_EQ(b.Width(), static_cast<int>(c.page.width));
  ASSERT_EQ(b.Height(), static_cast<int>(c.page.height));
  EXPECT_EQ(b.PixelFormat(), c.page.bits == 1 && c.page.photometric != 3 ? ie1g : ie24RGB);

  // Chunks read in place from a memory stream decode like chunks copied out.
  {
    TMemoryStream memory(file);
    TIEBitmap inPlace;
    TIOParamsVals params;
    TIOProgress progress;
    int pages = 0;
    ReadTiffStream(&inPlace, memory, pages, false, false, false, nullptr, false, progress, &params);
    ASSERT_FALSE(progress.Aborting());
    ASSERT_EQ(inPlace.PixelFormat(), b.PixelFormat());
    for (int y = 0; y < b.Height(); ++y)
      ASSERT_EQ(0, std::memcmp(inPlace.GetScanline(y), b.GetScanline(y), b.RowLength()))
          << "row " << y;
  }

  std::vector<uint32_t> rgba;
  uint32_t w = 0, h = 0;
  ASSERT_TRUE(test::LibtiffRgba(file, 0, rgba, w, h));
  int bad = 0;
  for (uint32_t y = 0; y < h && bad < 5; ++y) {
    for (uint32_t x = 0; x < w && bad < 5; ++x) {
      const uint32_t got = test::BitmapRgb(b, static_cast<int>(x), static_cast<int>(y));
      const uint32_t peer = rgba[y * w + x] & 0xFFFFFF;
      if (comp != 7) {
        const uint32_t want = ExpectedRgb(c.page, x, y);
        if (got != want) {
          ++bad;
          ADD_FAILURE() << "at " << x << "," << y << std::hex << " got " << got << " want " << want;
        }
      }
      if (c.libtiffExact) {
        int diff = 0;
        for (int k = 0; k < 3; ++k)
          diff = std::max(diff, std::abs(int(got >> 8 * k & 255) - int(peer >> 8 * k & 255)));
        if (diff > c.tolerance) {
          ++bad;
          ADD_FAILURE() << "libtiff differs at " << x << "," << y << std::hex << " ours " << got
                        << " libtiff " << peer;
        }
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Table, TLibtiffCrossCheck, ::testing::ValuesIn(MakeCases()),
                         [](const ::testing::TestParamInfo<TCase>& info) {
                           return info.param.name;
                         });

// Native pixel formats keep the file's own samples.
TEST(TiffDecodeNative, KeepsTheFileSamples) {
  struct TNative {
    const char* name;
    TTiffFixturePage page;
    TPagePixelFormat format;
  };
  TTiffFixturePage gray8, gray16, palette, cmyk, rgb48;
  gray16.bits = 16;
  palette.photometric = 3;
  cmyk.samples = 4;
  cmyk.photometric = 5;
  rgb48.bits = 16;
  rgb48.samples = 3;
  rgb48.photometric = 2;
  gray8.photometric = 0;
  // PackBits rows of these formats are decoded into the bitmap row itself.
  TTiffFixturePage gray8Packbits = gray8, palettePackbits = palette;
  gray8Packbits.compression = palettePackbits.compression = 32773;
  const TNative cases[] = {{"gray8_white_is_zero", gray8, ie8g},
                           {"gray8_white_is_zero_packbits", gray8Packbits, ie8g},
                           {"gray16", gray16, ie16g},
                           {"palette8", palette, ie8p},
                           {"palette8_packbits", palettePackbits, ie8p},
                           {"cmyk8", cmyk, ieCMYK},
                           {"rgb48", rgb48, ieRGB48}};
  for (const TNative& n : cases) {
    for (bool big : {false, true}) {
      SCOPED_TRACE(std::string(n.name) + (big ? " MM" : " II"));
      auto d = test::DecodeWithFolivo(test::WriteTiffWithLibtiff({n.page}, big), 0, true);
      ASSERT_TRUE(d->ok);
      ASSERT_EQ(d->bitmap.PixelFormat(), n.format);
      for (uint32_t y = 0; y < n.page.height; y += 5) {
        const uint8_t* row = d->bitmap.GetScanline(static_cast<int>(y));
        for (uint32_t x = 0; x < n.page.width; x += 3) {
          auto s = [&](uint32_t i) { return test::FixtureSample(n.page, x, y, i); };
          switch (n.format) {
            case ie8g:
              ASSERT_EQ(row[x], 255 - s(0));
              break;
            case ie8p:
              ASSERT_EQ(row[x], s(0));
              break;
            case ie16g:
              ASSERT_EQ(row[2 * x] | row[2 * x + 1] << 8, s(0));
              break;
            case ieCMYK:
              for (uint32_t i = 0; i < 4; ++i) ASSERT_EQ(row[4 * x + i], 255 - s(i));
              break;
            case ieRGB48:
              for (uint32_t i = 0; i < 3; ++i) {
                const uint8_t* p = row + 6 * x + 2 * i;
                ASSERT_EQ(p[0] | p[1] << 8, s(i));
              }
              break;
            default:
              FAIL();
          }
        }
      }
      if (n.format == ie8p) {
        uint16_t rgb[3];
        test::FixtureColorMap(n.page, 5, rgb);
        EXPECT_EQ(d->bitmap.GetPaletteColor(5),
                  (TColorTriple{uint8_t(rgb[2] >> 8), uint8_t(rgb[1] >> 8), uint8_t(rgb[0] >> 8)}));
      }
    }
  }
}

TEST(TiffDecodeAlpha, ExtraSampleGoesToTheMask) {
  struct TAlphaCase {
    const char* name;
    uint16_t samples, photometric, compression;
  };
  for (const TAlphaCase& a : {TAlphaCase{"rgba", 4, 2, 1}, TAlphaCase{"rgba_deflate", 4, 2, 8},
                              TAlphaCase{"gray_alpha", 2, 1, 1}}) {
    SCOPED_TRACE(a.name);
    TTiffFixturePage p;
    p.samples = a.samples;
    p.photometric = a.photometric;
    p.compression = a.compression;
    p.extraSamples = 2;
    auto d = test::DecodeWithFolivo(test::WriteTiffWithLibtiff({p}, false));
    ASSERT_TRUE(d->ok);
    ASSERT_TRUE(d->alpha);
    for (uint32_t y = 0; y < p.height; y += 4) {
      for (uint32_t x = 0; x < p.width; x += 5) {
        ASSERT_EQ(d->alpha->GetScanline(static_cast<int>(y))[x],
                  test::FixtureSample(p, x, y, a.samples - 1));
        const uint32_t s0 = test::FixtureSample(p, x, y, 0);
        const uint32_t want = a.samples == 2 ? s0 * 0x010101u
                                             : MakeColor(s0, test::FixtureSample(p, x, y, 1),
                                                         test::FixtureSample(p, x, y, 2));
        ASSERT_EQ(test::BitmapRgb(d->bitmap, static_cast<int>(x), static_cast<int>(y)), want);
      }
    }
  }
}

// A page whose width is not a multiple of the tile width ends W pixels wide
// and keeps the right edge tiles; a tile taller than the page too.
TEST(TiffDecodeTiles, EdgeTilesAreCutToThePage) {
  TTiffFixturePage p;
  p.width = 50;
  p.height = 20;
  p.tileWidth = 48;
  p.tileLength = 32;
  auto d = test::DecodeWithFolivo(test::WriteTiffWithLibtiff({p}, false));
  ASSERT_TRUE(d->ok);
  ASSERT_EQ(d->bitmap.Width(), 50);
  ASSERT_EQ(d->bitmap.Height(), 20);
  for (uint32_t y = 0; y < 20; ++y)
    for (uint32_t x = 45; x < 50; ++x)
      ASSERT_EQ(test::BitmapRgb(d->bitmap, x, y), ExpectedRgb(p, x, y)) << x << "," << y;
}

// The bytes of data compressed by zlib, and zlib's own inflate of a stream
// into at most outSize bytes (what a damaged chunk must still give).
std::vector<uint8_t> ZlibCompress(const std::vector<uint8_t>& data) {
  uLongf n = compressBound(static_cast<uLong>(data.size()));
  std::vector<uint8_t> out(n);
  EXPECT_EQ(compress(out.data(), &n, data.data(), static_cast<uLong>(data.size())), Z_OK);
  out.resize(n);
  return out;
}

std::vector<uint8_t> ZlibInflate(const std::vector<uint8_t>& in, size_t outSize) {
  std::vector<uint8_t> out(outSize);
  z_stream z{};
  inflateInit(&z);
  z.next_in = const_cast<uint8_t*>(in.data());
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  inflate(&z, Z_FINISH);
  out.resize(z.total_out);
  inflateEnd(&z);
  return out;
}

TEST(TiffDeflate, DamagedChunksGiveTheBytesBeforeTheFault) {
  std::vector<uint8_t> plain(40000);
  std::mt19937 rng(11);
  for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<uint8_t>(i / 97 + (rng() & 3));
  const std::vector<uint8_t> good = ZlibCompress(plain);
  struct TCase {
    const char* name;
    std::vector<uint8_t> stream;
    size_t outSize;
    size_t atLeast;  // bytes that must come out equal to plain
  };
  std::vector<uint8_t> truncated(good.begin(), good.begin() + good.size() / 2);
  std::vector<uint8_t> badChecksum = good;
  badChecksum.back() ^= 0x55;
  std::vector<uint8_t> scribbled = good;
  for (size_t i = good.size() * 3 / 4; i < good.size() * 3 / 4 + 8; ++i) scribbled[i] = 0xFF;
  const TCase cases[] = {
      {"intact", good, plain.size(), plain.size()},
      {"more room than data", good, plain.size() + 500, plain.size()},
      {"less room than data", good, 1000, 1000},
      {"truncated", truncated, plain.size(), plain.size() / 4},
      {"bad checksum", badChecksum, plain.size(), plain.size()},
      {"scribbled", scribbled, plain.size(), plain.size() / 2},
      {"not deflate", std::vector<uint8_t>(64, 0xA5), plain.size(), 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> out(c.outSize + 16, 0xEE);
    const size_t got = InflateTiffChunk(c.stream.data(), c.stream.size(), out.data(), c.outSize);
    const std::vector<uint8_t> want = ZlibInflate(c.stream, c.outSize);
    ASSERT_EQ(got, want.size());
    EXPECT_GE(got, c.atLeast);
    EXPECT_EQ(0, std::memcmp(out.data(), want.data(), got));
    EXPECT_EQ(0, std::memcmp(out.data(), plain.data(), c.atLeast));
    for (size_t i = c.outSize; i < out.size(); ++i) ASSERT_EQ(out[i], 0xEE) << "wrote past the end";
  }
}

TEST(TiffDeflate, CorruptStripKeepsItsFirstRows) {
  TTiffFixturePage p;
  p.samples = 3;
  p.photometric = 2;
  p.compression = 8;
  p.width = 120;
  p.height = 60;
  p.rowsPerStrip = 60;
  const std::vector<uint8_t> file = test::WriteTiffWithLibtiff({p}, false);
  auto clean = test::DecodeWithFolivo(file);
  ASSERT_TRUE(clean->ok);
  // libtiff puts the single strip right after the header.
  std::vector<uint8_t> bad = file;
  const uint32_t ifd = file[4] | file[5] << 8 | file[6] << 16 | file[7] << 24;
  ASSERT_GT(ifd, 400u);
  for (uint32_t i = ifd * 3 / 4; i < ifd * 3 / 4 + 16; ++i) bad[i] ^= 0x5A;
  auto damaged = test::DecodeWithFolivo(bad);
  int same = 0;
  while (same < 60 && std::memcmp(damaged->bitmap.GetScanline(same),
                                  clean->bitmap.GetScanline(same), clean->bitmap.RowLength()) == 0)
    ++same;
  EXPECT_GE(same, 20);
  EXPECT_LT(same, 60);
}

}  // namespace
}  // namespace folivo
