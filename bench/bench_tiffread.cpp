// Folivo — multi-page TIFF editor.
// TIFF decoding, page counting and page extraction: ours against libtiff in
// the same run, on A4 300 dpi pages made here. Prints the median time, MPix/s
// for both and the ratio ours ÷ libtiff (above 1: ours is faster).
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "formats/bitmap.h"
#include "formats/lzw.h"
#include "formats/params.h"
#include "formats/stream.h"
#include "formats/tiffpages.h"
#include "formats/tiffreader.h"
#include "bench/benchutil.h"

namespace {

namespace fs = std::filesystem;
using namespace folivo;
using namespace folivo::bench;

bool gSmoke = false;
// --only=TEXT: only the measurements whose name contains TEXT.
std::string gOnly;

bool Selected(const std::string& name) {
  return gOnly.empty() || name.find(gOnly) != std::string::npos;
}

struct TCodec {
  const char* name;
  uint16_t compression;
  uint16_t predictor;
  uint32_t t4;
  bool bilevel;
};

std::string WritePage(const TCodec& c, const std::vector<uint8_t>& pixels, uint32_t w, uint32_t h,
                      const std::string& path) {
  TIFF* t = TIFFOpen(path.c_str(), "w");
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, c.bilevel ? 1 : 8);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, c.bilevel ? 1 : 3);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, c.bilevel ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_RGB);
  TIFFSetField(t, TIFFTAG_COMPRESSION, c.compression);
  if (c.predictor != 1) TIFFSetField(t, TIFFTAG_PREDICTOR, c.predictor);
  if (c.compression == COMPRESSION_CCITTFAX3) TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, c.t4);
  if (c.compression == COMPRESSION_JPEG) TIFFSetField(t, TIFFTAG_JPEGQUALITY, 85);
  const bool faxOneStrip = c.compression >= 2 && c.compression <= 4;
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, faxOneStrip ? h : (c.compression == 7 ? 64 : 16));
  const size_t rowBytes = c.bilevel ? (w + 7) / 8 : size_t{w} * 3;
  for (uint32_t y = 0; y < h; ++y)
    TIFFWriteScanline(t, const_cast<uint8_t*>(&pixels[y * rowBytes]), y, 0);
  TIFFClose(t);
  return path;
}

void Line(const char* what, double ours, double peer, double mpix) {
  std::printf("%-26s ours %8.2f ms %8.1f MPix/s   libtiff %8.2f ms %8.1f MPix/s   ratio %.2f\n",
              what, ours * 1e3, mpix / ours, peer * 1e3, mpix / peer, peer / ours);
}

void BenchDecoding(const fs::path& dir) {
  const uint32_t w = gSmoke ? 496 : kA4WidthPx, h = gSmoke ? 702 : kA4HeightPx;
  const int runs = gSmoke ? 1 : 7;
  const std::vector<uint8_t> text = TextPage(w, h);
  const std::vector<uint8_t> photo = PhotoPage(w, h);
  const TCodec codecs[] = {
      {"none (bilevel)", 1, 1, 0, true},         {"Huffman (bilevel)", 2, 1, 0, true},
      {"G3 1-D (bilevel)", 3, 1, 0, true},       {"G3 2-D (bilevel)", 3, 1, 1, true},
      {"G4 (bilevel)", 4, 1, 0, true},           {"LZW (RGB)", 5, 1, 0, false},
      {"LZW + predictor (RGB)", 5, 2, 0, false}, {"PackBits (RGB)", 32773, 1, 0, false},
      {"Deflate (RGB)", 8, 1, 0, false},         {"JPEG (RGB)", 7, 1, 0, false},
  };
  const double mpix = double(w) * h / 1e6;
  std::printf("decoding one %u x %u page, median of %d\n", w, h, runs);
  for (const TCodec& c : codecs) {
    if (!Selected(c.name)) continue;
    const std::string path =
        WritePage(c, c.bilevel ? text : photo, w, h,
                  (dir / (std::string("p") + std::to_string(c.compression) + "_" +
                          std::to_string(c.predictor) + "_" + std::to_string(c.t4) + ".tif"))
                      .string());
    const std::vector<uint8_t> bytes = Slurp(path);
    TIEBitmap bitmap;
    bool failed = false;
    const double ours = Seconds(
        [&] {
          TByteViewStream s(bytes.data(), bytes.size());
          TIOParamsVals params;
          TIOProgress progress;
          int pages = 0;
          ReadTiffStream(&bitmap, s, pages, false, true, false, nullptr, false, progress, &params);
          failed |= progress.Aborting();
        },
        runs);
    std::vector<uint8_t> buffer;
    const double peer = Seconds(
        [&] {
          // The same work as ours: the whole page decoded into memory, strip
          // after strip, not every strip into one scratch buffer.
          TIFF* t = TIFFOpen(path.c_str(), "r");
          const uint32_t strips = TIFFNumberOfStrips(t);
          const size_t stripBytes = static_cast<size_t>(TIFFStripSize(t));
          buffer.resize(stripBytes * strips);
          if (c.compression == 7) TIFFSetField(t, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
          for (uint32_t i = 0; i < strips; ++i)
            TIFFReadEncodedStrip(t, i, buffer.data() + stripBytes * i,
                                 static_cast<tmsize_t>(stripBytes));
          TIFFClose(t);
        },
        runs);
    Line(c.name, ours, peer, mpix);
    if (failed) std::printf("  (our read failed)\n");
  }
}

void BenchCounting(const fs::path& dir) {
  const int files = gSmoke ? 20 : 1000;
  const uint32_t w = 200, h = 100;
  const std::vector<uint8_t> text = TextPage(w, h);
  std::vector<std::string> paths;
  for (int f = 0; f < files; ++f) {
    const std::string path = (dir / ("count_" + std::to_string(f) + ".tif")).string();
    TIFF* t = TIFFOpen(path.c_str(), "w");
    for (int p = 0; p < 1 + f % 8; ++p) {
      TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
      TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
      TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
      TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
      TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
      TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, h);
      for (uint32_t y = 0; y < h; ++y)
        TIFFWriteScanline(t, const_cast<uint8_t*>(&text[y * ((w + 7) / 8)]), y, 0);
      TIFFWriteDirectory(t);
    }
    TIFFClose(t);
    paths.push_back(path);
  }
  long long oursTotal = 0, peerTotal = 0;
  const int runs = gSmoke ? 1 : 5;
  const double ours = Seconds(
      [&] {
        oursTotal = 0;
        for (const std::string& p : paths) oursTotal += CountTiffPages(p);
      },
      runs);
  const double peer = Seconds(
      [&] {
        peerTotal = 0;
        for (const std::string& p : paths) {
          TIFF* t = TIFFOpen(p.c_str(), "r");
          peerTotal += TIFFNumberOfDirectories(t);
          TIFFClose(t);
        }
      },
      runs);
  std::printf(
      "counting %d files (%lld pages; libtiff %lld): ours %.2f ms, libtiff %.2f ms, "
      "ratio %.2f\n",
      files, oursTotal, peerTotal, ours * 1e3, peer * 1e3, peer / ours);
}

void BenchExtracting(const fs::path& dir) {
  const int pages = gSmoke ? 10 : 100;
  const uint32_t w = gSmoke ? 496 : kA4WidthPx, h = gSmoke ? 702 : kA4HeightPx;
  const std::vector<uint8_t> text = TextPage(w, h);
  const std::string source = (dir / "hundred.tif").string();
  TIFF* t = TIFFOpen(source.c_str(), "w");
  for (int p = 0; p < pages; ++p) {
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, h);
    TIFFSetField(t, TIFFTAG_XRESOLUTION, 300.0);
    TIFFSetField(t, TIFFTAG_YRESOLUTION, 300.0);
    for (uint32_t y = 0; y < h; ++y)
      TIFFWriteScanline(t, const_cast<uint8_t*>(&text[y * ((w + 7) / 8)]), y, 0);
    TIFFWriteDirectory(t);
  }
  TIFFClose(t);
  const int runs = gSmoke ? 1 : 5;
  std::vector<int> all;
  for (int p = 0; p < pages; ++p) all.push_back(p);
  // Every run writes into a folder of its own, as a user splitting a file
  // does: new files for both sides, nothing to replace.
  int run = 0;
  auto freshTargets = [&](const char* side) {
    const fs::path folder = dir / (side + std::to_string(run++));
    fs::create_directories(folder);
    std::vector<std::string> targets;
    for (int p = 0; p < pages; ++p) {
      char name[32];
      std::snprintf(name, sizeof name, "hundred_%04d.tif", p + 1);
      targets.push_back((folder / name).string());
    }
    return targets;
  };
  // What split does: every page from one open source.
  const double ours = Seconds([&] { ExtractTiffPages(source, all, freshTargets("ours")); }, runs);
  const double onePerCall = Seconds(
      [&] {
        const std::vector<std::string> targets = freshTargets("single");
        for (int p = 0; p < pages; ++p) ExtractTiffPage(source, targets[p], p);
      },
      runs);
  const bool haveTool = std::system("command -v tiffsplit > /dev/null 2>&1") == 0;
  if (!haveTool) {
    std::printf("extracting %d pages: ours %.2f ms (tiffsplit not installed)\n", pages, ours * 1e3);
    return;
  }
  const double peer = Seconds(
      [&] {
        const fs::path folder = dir / ("peer" + std::to_string(run++));
        fs::create_directories(folder);
        (void)!std::system(("tiffsplit " + source + " " + (folder / "x").string()).c_str());
      },
      runs);
  std::printf(
      "extracting %d G4 pages (ExtractTiffPages): ours %.2f ms, tiffsplit %.2f ms, ratio %.2f\n",
      pages, ours * 1e3, peer * 1e3, peer / ours);
  std::printf("  one ExtractTiffPage call per page: %.2f ms, ratio %.2f\n", onePerCall * 1e3,
              peer / onePerCall);
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    gSmoke |= std::strcmp(argv[i], "--smoke") == 0;
    if (std::strncmp(argv[i], "--only=", 7) == 0) gOnly = argv[i] + 7;
  }
  TIFFSetWarningHandler(nullptr);
  InstallDefaultLzwRoutines();
  const fs::path dir =
      fs::temp_directory_path() / ("folivo_bench_tiff_" + std::to_string(getpid()));
  fs::create_directories(dir);
  BenchDecoding(dir);
  if (Selected("counting")) BenchCounting(dir);
  if (Selected("extracting")) BenchExtracting(dir);
  fs::remove_all(dir);
  return 0;
}
