// Folivo — multi-page TIFF editor.
// TIFF page writing speed and file size per compression against libtiff's writer; document saves.
#include <sys/resource.h>
#include <tiffio.h>

#include "bench/tiffmemory.h"

#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "formats/bitmap.h"
#include "formats/lzw.h"
#include "formats/pagelist.h"
#include "formats/params.h"
#include "formats/stream.h"
#include "formats/tiffwriter.h"

namespace {

using namespace folivo::bench;

using folivo::TIEBitmap;
using folivo::TIOParamsVals;

// Text lines of stroke glyphs plus speckle, black on white (1 = white).
void TextPage(TIEBitmap& page, int width, int height, int lineHeightPx, uint32_t seed) {
  page.Allocate(width, height, folivo::ie1g);
  page.Fill(1);
  std::mt19937 rng(seed);
  auto uniform = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  auto set = [&page](int x, int y) {
    page.GetScanline(y)[x / 8] &= static_cast<uint8_t>(~(0x80 >> (x % 8)));
  };
  const int glyphHeight = lineHeightPx * 2 / 3;
  const int margin = width / 12;
  for (int top = margin; top + lineHeightPx < height - margin; top += lineHeightPx) {
    for (int left = margin; left + glyphHeight < width - margin;) {
      if (uniform(0, 6) == 0) {
        left += glyphHeight / 2;
        continue;
      }
      const int w = uniform(glyphHeight / 3, glyphHeight * 3 / 4);
      const int thick = std::max(1, glyphHeight / 8);
      for (int s = uniform(2, 4); s > 0; --s) {
        const bool vertical = uniform(0, 1);
        const int at = vertical ? uniform(0, w - thick) : uniform(0, glyphHeight - thick);
        for (int y = 0; y < glyphHeight; ++y)
          for (int x = 0; x < w; ++x)
            if (vertical ? (x >= at && x < at + thick) : (y >= at && y < at + thick))
              set(left + x, top + y);
      }
      left += w + std::max(1, glyphHeight / 6);
    }
  }
  for (int i = width * height / 5000; i > 0; --i)
    set(uniform(0, width - 1), uniform(0, height - 1));
}

// A scanned colour page: paper tone with sensor noise, a photo-like gradient
// block and dark text bars.
void ColourPage(TIEBitmap& page, int width, int height, uint32_t seed) {
  page.Allocate(width, height, folivo::ie24RGB);
  std::mt19937 rng(seed);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = page.GetScanline(y);
    for (int x = 0; x < width; ++x) {
      const int noise = static_cast<int>(rng() % 5) - 2;
      int r = 236 + noise, g = 232 + noise, b = 220 + noise;
      if (y > height / 10 && y < height / 3 && x > width / 10 && x < width * 9 / 10) {
        r = x * 255 / width;
        g = y * 255 / height;
        b = (x + y) % 256;
      } else if ((y / 40) % 3 == 0 && (x / 25) % 4 != 3 && y > height / 3) {
        r = g = b = 30 + noise;
      }
      row[3 * x] = static_cast<uint8_t>(std::clamp(b, 0, 255));
      row[3 * x + 1] = static_cast<uint8_t>(std::clamp(g, 0, 255));
      row[3 * x + 2] = static_cast<uint8_t>(std::clamp(r, 0, 255));
    }
  }
}


struct TCodec {
  const char* name;
  folivo::TTiffCompression ours;
  uint16_t libtiff;
  bool bilevel;
};
constexpr TCodec kCodecs[] = {
    {"G4", folivo::tcG4Fax, COMPRESSION_CCITTFAX4, true},
    {"G3 2-D", folivo::tcG3Fax2D, COMPRESSION_CCITTFAX3, true},
    {"G3 1-D", folivo::tcG3Fax1D, COMPRESSION_CCITTFAX3, true},
    {"none 1-bit", folivo::tcNone, COMPRESSION_NONE, true},
    {"LZW", folivo::tcLzw, COMPRESSION_LZW, false},
    {"PackBits", folivo::tcPackBits, COMPRESSION_PACKBITS, false},
    {"none", folivo::tcNone, COMPRESSION_NONE, false},
    {"Deflate", folivo::tcZip, COMPRESSION_ADOBE_DEFLATE, false},
    {"JPEG", folivo::tcJpeg, COMPRESSION_JPEG, false},
};

// The page's rows in the file's layout, prepared before libtiff's clock starts.
std::vector<uint8_t> FileRows(const TIEBitmap& page, bool ccitt) {
  const bool bilevel = page.PixelFormat() == folivo::ie1g;
  const size_t rowBytes = bilevel ? (page.Width() + 7) / 8 : size_t(page.Width()) * 3;
  std::vector<uint8_t> rows(rowBytes * page.Height());
  for (int y = 0; y < page.Height(); ++y) {
    const uint8_t* src = page.GetScanline(y);
    uint8_t* out = rows.data() + rowBytes * y;
    if (bilevel) {
      for (size_t i = 0; i < rowBytes; ++i) out[i] = ccitt ? static_cast<uint8_t>(~src[i]) : src[i];
    } else {
      for (int x = 0; x < page.Width(); ++x) {
        out[3 * x] = src[3 * x + 2];
        out[3 * x + 1] = src[3 * x + 1];
        out[3 * x + 2] = src[3 * x];
      }
    }
  }
  return rows;
}

size_t LibtiffWrite(const TIEBitmap& page, const std::vector<uint8_t>& rows, const TCodec& c) {
  TMemoryFile file;
  file.bytes.reserve(rows.size() / 2);
  TIFF* tif = OpenMemory(file, "wl");
  const bool bilevel = c.bilevel;
  const bool ccitt = c.libtiff == COMPRESSION_CCITTFAX3 || c.libtiff == COMPRESSION_CCITTFAX4;
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(page.Width()));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(page.Height()));
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bilevel ? 1 : 8);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, bilevel ? 1 : 3);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, c.libtiff);
  uint16_t photometric =
      bilevel ? (ccitt ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_MINISBLACK) : PHOTOMETRIC_RGB;
  if (c.libtiff == COMPRESSION_JPEG) photometric = PHOTOMETRIC_YCBCR;
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
  if (c.libtiff == COMPRESSION_JPEG) {
    TIFFSetField(tif, TIFFTAG_JPEGQUALITY, 80);
    TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
  }
  if (c.libtiff == COMPRESSION_CCITTFAX3)
    TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, c.ours == folivo::tcG3Fax2D ? 1 : 0);
  if (c.libtiff == COMPRESSION_LZW) TIFFSetField(tif, TIFFTAG_PREDICTOR, 2);
  if (c.libtiff == COMPRESSION_ADOBE_DEFLATE) TIFFSetField(tif, TIFFTAG_ZIPQUALITY, 6);
  const bool oneStrip = c.libtiff == COMPRESSION_JPEG || c.libtiff == COMPRESSION_ADOBE_DEFLATE;
  TIFFSetField(
      tif, TIFFTAG_ROWSPERSTRIP,
      oneStrip ? page.Height() : folivo::TiffRowsPerStrip(page.Height(), page.RowLength()));
  const size_t rowBytes = rows.size() / page.Height();
  std::vector<uint8_t> line(rowBytes);
  for (int y = 0; y < page.Height(); ++y) {
    // libtiff may change the buffer it is given (the predictor works in place).
    std::memcpy(line.data(), rows.data() + rowBytes * y, rowBytes);
    TIFFWriteScanline(tif, line.data(), y, 0);
  }
  TIFFClose(tif);
  return file.bytes.size();
}

size_t OurWrite(const TIEBitmap& page, const TCodec& c, size_t reserve) {
  folivo::TMemoryStream stream;
  stream.Bytes().reserve(reserve);
  TIOParamsVals params;
  params.BitsPerSample = c.bilevel ? 1 : 8;
  params.SamplesPerPixel = c.bilevel ? 1 : 3;
  params.TiffCompression = c.ours;
  params.TiffJpegQuality = 80;
  params.TiffJpegColorSpace = 2;
  params.TiffZipCompression = 1;
  folivo::TIOProgress progress;
  folivo::WriteTiffStream(stream, false, page, progress, params);
  return stream.Bytes().size();
}

double MedianSeconds(int iterations, const std::function<void()>& work) {
  std::vector<double> times;
  for (int i = 0; i < iterations; ++i) {
    const auto start = std::chrono::steady_clock::now();
    work();
    times.push_back(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

long PeakRssKiB() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

// Whole-document saves: time and the peak memory the process reached.
void SaveDocuments() {
  struct TDoc {
    const char* name;
    int pages;
    bool bilevel;
  };
  const TDoc docs[] = {{"100-page A4 G4", 100, true}, {"20-page A4 24-bit LZW", 20, false}};
  for (const TDoc& d : docs) {
    folivo::TPageList list;
    for (int i = 0; i < d.pages; ++i) {
      const int at = list.Append();
      if (d.bilevel)
        TextPage(list.Bitmap(at), 2480, 3508, 60, i + 1);
      else
        ColourPage(list.Bitmap(at), 2480, 3508, i + 1);
      TIOParamsVals& p = list.Params(at);
      p.BitsPerSample = d.bilevel ? 1 : 8;
      p.SamplesPerPixel = d.bilevel ? 1 : 3;
      p.TiffCompression = d.bilevel ? folivo::tcG4Fax : folivo::tcLzw;
    }
    const long before = PeakRssKiB();
    const std::string path = "/tmp/folivo_bench_save_" + std::to_string(getpid()) + ".tif";
    folivo::TIOProgress progress;
    const double seconds = MedianSeconds(1, [&] { folivo::SaveTiffPages(list, path, progress); });
    std::FILE* f = std::fopen(path.c_str(), "rb");
    std::fseek(f, 0, SEEK_END);
    const long size = std::ftell(f);
    std::fclose(f);
    std::remove(path.c_str());
    std::printf("save %-24s %8.1f ms  file %8.1f MiB  peak RSS %ld MiB (pages alone %ld MiB)\n",
                d.name, seconds * 1e3, size / 1048576.0, PeakRssKiB() / 1024, before / 1024);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const bool smoke = argc > 1 && std::strcmp(argv[1], "--smoke") == 0;
  const bool save = argc > 1 && std::strcmp(argv[1], "--save") == 0;
  folivo::InstallDefaultLzwRoutines();
  TIFFSetWarningHandler(nullptr);
  if (save) {
    SaveDocuments();
    return 0;
  }
  TIEBitmap text, colour;
  TextPage(text, 2480, 3508, 60, 2);
  if (smoke)
    ColourPage(colour, 300, 200, 3);
  else
    ColourPage(colour, 2480, 3508, 3);
  for (const TCodec& c : kCodecs) {
    const TIEBitmap& page = c.bilevel ? text : colour;
    const bool ccitt = c.libtiff == COMPRESSION_CCITTFAX3 || c.libtiff == COMPRESSION_CCITTFAX4;
    const std::vector<uint8_t> rows = FileRows(page, ccitt);
    const int iterations = smoke ? 1 : c.bilevel ? 21 : 7;
    size_t ourSize = 0, peerSize = 0;
    const double ours =
        MedianSeconds(iterations, [&] { ourSize = OurWrite(page, c, rows.size() / 2); });
    const double peer = MedianSeconds(iterations, [&] { peerSize = LibtiffWrite(page, rows, c); });
    const double mpix = double(page.Width()) * page.Height() / 1e6;
    std::printf(
        "%-10s %4dx%-4d ours %8.2f ms %7.1f MPix/s %9zu B | libtiff %8.2f ms %7.1f MPix/s %9zu B "
        "| speed ours/libtiff %.2f  size ours/libtiff %.3f\n",
        c.name, page.Width(), page.Height(), ours * 1e3, mpix / ours, ourSize, peer * 1e3,
        mpix / peer, peerSize, peer / ours, double(ourSize) / double(peerSize));
  }
  return 0;
}
