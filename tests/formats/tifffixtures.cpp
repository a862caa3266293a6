// Folivo — multi-page TIFF editor.
#include "tifffixtures.h"

#include <tiffio.h>

#include <unistd.h>
#include "formats/lzw.h"
#include "formats/stream.h"
#include "formats/tiffreader.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace folivo::test {

namespace {
std::atomic<int> gCounter{0};
// Every reader in the tests has the process's LZW routine, as the program has.
const bool gLzwInstalled = [] {
  InstallDefaultLzwRoutines();
  return true;
}();

void SilenceLibtiff() {
  static bool done = [] {
    TIFFSetWarningHandler(nullptr);
    TIFFSetErrorHandler(nullptr);
    return true;
  }();
  (void)done;
}

// Packs one row (or one plane's row) of samples at the page's depth.
void PackRow(const TTiffFixturePage& p, uint32_t y, uint32_t x0, uint32_t count, int plane,
             std::vector<uint8_t>& out) {
  const uint32_t spp = plane >= 0 ? 1 : p.samples;
  const size_t bytes = (size_t{count} * spp * p.bits + 7) / 8;
  out.assign(bytes, 0);
  uint64_t bit = 0;
  for (uint32_t i = 0; i < count; ++i) {
    for (uint32_t s = 0; s < spp; ++s) {
      const uint32_t x = x0 + i;
      const uint32_t v =
          (x < p.width && y < p.height) ? FixtureSample(p, x, y, plane >= 0 ? plane : s) : 0;
      if (p.bits == 16) {
        // libtiff takes native (little-endian) words and swaps them itself.
        out[bit / 8] = static_cast<uint8_t>(v);
        out[bit / 8 + 1] = static_cast<uint8_t>(v >> 8);
      } else if (p.bits == 8) {
        out[bit / 8] = static_cast<uint8_t>(v);
      } else {
        for (int b = p.bits - 1; b >= 0; --b, ++bit)
          if (v >> b & 1) out[bit / 8] |= static_cast<uint8_t>(0x80 >> (bit % 8));
        continue;
      }
      bit += p.bits;
    }
  }
}
}  // namespace

uint32_t FixtureSample(const TTiffFixturePage& p, uint32_t x, uint32_t y, uint32_t s) {
  const uint32_t max = p.bits >= 32 ? 0xFFFFFFFFu : (1u << p.bits) - 1;
  if (p.bits == 1) {
    // Text-like: strokes and blank margins, long and short runs.
    const bool margin = x < 3 || y < 2 || x + 4 > p.width;
    const uint32_t h = (x / 3 * 2654435761u) ^ (y / 2 * 40503u) ^ (p.seed * 97u);
    return margin ? 0 : ((h >> 13) % 5 == 0 ? 1 : 0);
  }
  if (p.compression == 7) {
    // Smooth content keeps JPEG's error small.
    const uint32_t v = (x * 255 / std::max(1u, p.width - 1) + y * 2 + s * 60) % 256;
    return v * max / 255;
  }
  const uint32_t v = x * 37 + y * 101 + s * 59 + ((x * y + p.seed) % 13) * 5;
  if (p.bits == 16) return (v * 263 + s * 4099 + y * 7) & 0xFFFF;
  return v & max;
}

void FixtureColorMap(const TTiffFixturePage& p, uint32_t k, uint16_t rgb[3]) {
  const uint16_t r = (k * 37 + 11) & 255, g = (k * 91 + 3) & 255, b = (255 - k * 7) & 255;
  const uint16_t m = p.colorMap8Bit ? 1 : 257;
  rgb[0] = r * m;
  rgb[1] = g * m;
  rgb[2] = b * m;
}

std::unique_ptr<TDecoded> DecodeWithFolivo(const std::vector<uint8_t>& file, int page,
                                           bool native) {
  auto d = std::make_unique<TDecoded>();
  TByteViewStream stream(file.data(), file.size());
  TIOProgress progress;
  d->params.SetImageIndex(page);
  d->params.NativePixelFormat = native;
  ReadTiffStream(&d->bitmap, stream, d->pageCount, false, false, false, &d->alpha, false, progress,
                 &d->params);
  d->ok = !progress.Aborting();
  return d;
}

uint32_t BitmapRgb(const TIEBitmap& b, int x, int y) {
  const uint8_t* row = b.GetScanline(y);
  switch (b.PixelFormat()) {
    case ie1g:
      return (row[x >> 3] >> (7 - (x & 7)) & 1) ? 0xFFFFFF : 0;
    case ie8g:
      return row[x] * 0x010101u;
    case ie8p:
      return TripleToColor(b.GetPaletteColor(row[x]));
    case ie24RGB:
      return MakeColor(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
    default:
      return 0xDEADBEEF;
  }
}

std::string TempPath(const std::string& name) {
  return "/tmp/folivo_test_" + std::to_string(getpid()) + "_" + std::to_string(gCounter++) + "_" +
         name;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> WriteTiffWithLibtiff(const std::vector<TTiffFixturePage>& pages, bool bigEndian) {
  SilenceLibtiff();
  const std::string path = TempPath("fixture.tif");
  TIFF* t = TIFFOpen(path.c_str(), bigEndian ? "wb" : "wl");
  if (!t) throw std::runtime_error("libtiff cannot create " + path);
  for (const TTiffFixturePage& p : pages) {
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, p.width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, p.height);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, p.bits);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, p.samples);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, p.photometric);
    TIFFSetField(t, TIFFTAG_COMPRESSION, p.compression);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, p.planar);
    TIFFSetField(t, TIFFTAG_FILLORDER, p.fillOrder);
    TIFFSetField(t, TIFFTAG_XRESOLUTION, 200.0);
    TIFFSetField(t, TIFFTAG_YRESOLUTION, 100.0);
    TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    if (pages.size() > 1) {
      TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    }
    if (p.predictor != 1) TIFFSetField(t, TIFFTAG_PREDICTOR, p.predictor);
    if (p.compression == 3) TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, p.t4Options);
    if (p.extraSamples >= 0) {
      uint16_t es = static_cast<uint16_t>(p.extraSamples);
      TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &es);
    }
    if (p.compression == 7) {
      TIFFSetField(t, TIFFTAG_JPEGQUALITY, p.jpegQuality);
      if (p.photometric == PHOTOMETRIC_YCBCR)
        TIFFSetField(t, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    }
    if (p.photometric == PHOTOMETRIC_PALETTE) {
      const uint32_t n = 1u << p.bits;
      std::vector<uint16_t> r(n), g(n), b(n);
      for (uint32_t k = 0; k < n; ++k) {
        uint16_t rgb[3];
        FixtureColorMap(p, k, rgb);
        r[k] = rgb[0];
        g[k] = rgb[1];
        b[k] = rgb[2];
      }
      TIFFSetField(t, TIFFTAG_COLORMAP, r.data(), g.data(), b.data());
    }
    std::vector<uint8_t> row;
    if (p.tileWidth) {
      TIFFSetField(t, TIFFTAG_TILEWIDTH, p.tileWidth);
      TIFFSetField(t, TIFFTAG_TILELENGTH, p.tileLength);
      // Rows are packed per pixel; assemble a tile row by row.
      const tmsize_t tileSize = TIFFTileSize(t);
      std::vector<uint8_t> tile(static_cast<size_t>(tileSize));
      const size_t rowBytes = (size_t{p.tileWidth} * p.samples * p.bits + 7) / 8;
      for (uint32_t ty = 0; ty < p.height; ty += p.tileLength) {
        for (uint32_t tx = 0; tx < p.width; tx += p.tileWidth) {
          for (uint32_t r = 0; r < p.tileLength; ++r) {
            PackRow(p, ty + r, tx, p.tileWidth, -1, row);
            std::memcpy(&tile[r * rowBytes], row.data(), rowBytes);
          }
          TIFFWriteTile(t, tile.data(), tx, ty, 0, 0);
        }
      }
    } else {
      TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, p.rowsPerStrip);
      const int planes = p.planar == 2 ? p.samples : 1;
      for (int plane = 0; plane < planes; ++plane) {
        for (uint32_t y = 0; y < p.height; ++y) {
          PackRow(p, y, 0, p.width, p.planar == 2 ? plane : -1, row);
          TIFFWriteScanline(t, row.data(), y, static_cast<uint16_t>(plane));
        }
      }
    }
    TIFFWriteDirectory(t);
  }
  TIFFClose(t);
  std::vector<uint8_t> bytes = ReadFileBytes(path);
  std::remove(path.c_str());
  return bytes;
}

bool LibtiffRgba(const std::vector<uint8_t>& file, int page, std::vector<uint32_t>& pixels,
                 uint32_t& width, uint32_t& height) {
  SilenceLibtiff();
  const std::string path = TempPath("oracle.tif");
  WriteFileBytes(path, file);
  TIFF* t = TIFFOpen(path.c_str(), "r");
  bool ok = t && TIFFSetDirectory(t, static_cast<tdir_t>(page));
  if (ok) {
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &height);
    pixels.assign(size_t{width} * height, 0);
    ok = TIFFReadRGBAImageOriented(t, width, height, pixels.data(), ORIENTATION_TOPLEFT, 0) == 1;
  }
  if (t) TIFFClose(t);
  std::remove(path.c_str());
  return ok;
}

int LibtiffPageCount(const std::vector<uint8_t>& file) {
  SilenceLibtiff();
  const std::string path = TempPath("count.tif");
  WriteFileBytes(path, file);
  TIFF* t = TIFFOpen(path.c_str(), "r");
  const int n = t ? TIFFNumberOfDirectories(t) : 0;
  if (t) TIFFClose(t);
  std::remove(path.c_str());
  return n;
}

TTiffBuilder::TTiffBuilder(bool bigEndian) : big(bigEndian) {
  bytes = {static_cast<uint8_t>(big ? 'M' : 'I'), static_cast<uint8_t>(big ? 'M' : 'I')};
  U16(42);
  U32(0);
}

void TTiffBuilder::U16(uint16_t v) {
  if (big) {
    bytes.push_back(v >> 8);
    bytes.push_back(v & 0xFF);
  } else {
    bytes.push_back(v & 0xFF);
    bytes.push_back(v >> 8);
  }
}

void TTiffBuilder::U32(uint32_t v) {
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * (big ? 3 - i : i))));
}

void TTiffBuilder::Put32At(size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(v >> (8 * (big ? 3 - i : i)));
}

size_t TTiffBuilder::Ifd(const std::vector<TEntry>& entries, uint32_t next) {
  if (bytes.size() & 1) bytes.push_back(0);
  const size_t at = bytes.size();
  U16(static_cast<uint16_t>(entries.size()));
  for (const TEntry& e : entries) {
    U16(e.tag);
    U16(e.type);
    U32(e.count);
    if (e.type == 3 && e.count == 1) {
      U16(static_cast<uint16_t>(e.value));
      U16(0);
    } else if (e.type == 1 && e.count == 1) {
      bytes.push_back(static_cast<uint8_t>(e.value));
      bytes.insert(bytes.end(), 3, 0);
    } else {
      U32(e.value);
    }
  }
  U32(next);
  return at;
}

}  // namespace folivo::test
