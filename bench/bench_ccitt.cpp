// Folivo — multi-page TIFF editor.
// CCITT decoding and encoding speed against libtiff on generated text pages.
#include <tiffio.h>

#include "bench/tiffmemory.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "formats/ccitt.h"
#include "formats/stream.h"

namespace {

using namespace folivo::bench;

using folivo::TCcittPending;

// A page in the TIFF WhiteIsZero layout (1 = black), one strip.
struct TPage {
  const char* name;
  int width = 0;
  int height = 0;
  int rowBytes = 0;
  std::vector<uint8_t> bits;
};

// Text lines of stroke glyphs at about the density of a typed letter, plus
// speckle: the runs a scanner or fax produces.
TPage TextPage(const char* name, int width, int height, int lineHeightPx, uint32_t seed) {
  TPage page{name, width, height, (width + 7) / 8, {}};
  page.bits.assign(static_cast<size_t>(page.rowBytes) * height, 0);
  std::mt19937 rng(seed);
  auto uniform = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  auto set = [&page](int x, int y) {
    page.bits[static_cast<size_t>(y) * page.rowBytes + x / 8] |=
        static_cast<uint8_t>(0x80 >> (x % 8));
  };
  const int glyphHeight = lineHeightPx * 2 / 3;
  const int margin = width / 12;
  for (int top = margin; top + lineHeightPx < height - margin; top += lineHeightPx) {
    for (int left = margin; left + glyphHeight < width - margin;) {
      if (uniform(0, 6) == 0) {  // a space between words
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
  return page;
}

enum class TMode { Mh, G3OneD, G3TwoD, G4 };

struct TModeInfo {
  const char* name;
  TMode mode;
  uint16_t compression;
  uint32_t t4Options;
};

constexpr TModeInfo kModes[] = {
    {"G4", TMode::G4, COMPRESSION_CCITTFAX4, 0},
    {"G3 2-D", TMode::G3TwoD, COMPRESSION_CCITTFAX3, GROUP3OPT_2DENCODING},
    {"G3 1-D", TMode::G3OneD, COMPRESSION_CCITTFAX3, 0},
    {"MH", TMode::Mh, COMPRESSION_CCITTRLE, 0},
};

void SetFields(TIFF* tif, const TPage& page, const TModeInfo& m) {
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(page.width));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(page.height));
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, m.compression);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(page.height));
  if (m.compression == COMPRESSION_CCITTFAX3) TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, m.t4Options);
}

TMemoryFile LibtiffEncode(const TPage& page, const TModeInfo& m) {
  TMemoryFile file;
  TIFF* tif = OpenMemory(file, "w");
  SetFields(tif, page, m);
  TIFFWriteEncodedStrip(tif, 0, const_cast<uint8_t*>(page.bits.data()),
                        static_cast<tmsize_t>(page.bits.size()));
  TIFFClose(tif);
  return file;
}

std::vector<uint8_t> OurEncode(const TPage& page, TMode mode) {
  folivo::TMemoryStream stream;
  stream.Bytes().reserve(page.bits.size() / 4);
  TCcittPending pending;
  std::vector<uint8_t> reference;
  for (int y = 0; y < page.height; ++y) {
    const uint8_t* row = page.bits.data() + static_cast<size_t>(y) * page.rowBytes;
    switch (mode) {
      case TMode::Mh:
        folivo::EncodeMhRow(row, page.width, stream, 1);
        break;
      case TMode::G3OneD:
        folivo::EncodeG3Row1D(row, page.width, stream, 1, pending);
        break;
      case TMode::G3TwoD:
        folivo::EncodeG3Row2D(row, page.width, stream, 1, reference, pending);
        break;
      case TMode::G4:
        folivo::EncodeG4Row(row, page.width, stream, 1, reference, pending);
        break;
    }
  }
  if (mode == TMode::G3OneD) folivo::EncodeG3Row1D(nullptr, page.width, stream, 1, pending);
  if (mode == TMode::G3TwoD)
    folivo::EncodeG3Row2D(nullptr, page.width, stream, 1, reference, pending);
  if (mode == TMode::G4) folivo::EncodeG4Row(nullptr, page.width, stream, 1, reference, pending);
  return std::move(stream.Bytes());
}

// Decodes a whole strip into out, as the strip reader does (decoded convention).
void OurDecode(const std::vector<uint8_t>& strip, const TPage& page, TMode mode,
               std::vector<uint8_t>& out) {
  std::vector<uint8_t> reference(page.rowBytes, 0xFF);
  uint64_t position = 0;
  for (int y = 0; y < page.height; ++y) {
    uint8_t* row = out.data() + static_cast<size_t>(y) * page.rowBytes;
    switch (mode) {
      case TMode::Mh: {
        const size_t offset = static_cast<size_t>(position / 8);
        position += 8 * folivo::DecodeMhRow(row, strip.data() + offset, strip.size() - offset, 1,
                                            page.width);
        break;
      }
      case TMode::G3OneD:
        position = folivo::DecodeG3Row1D(row, strip.data(), strip.size(), 1, position, page.width);
        break;
      case TMode::G3TwoD:
      case TMode::G4:
        position = folivo::DecodeRow2D(row, strip.data(), strip.size(), mode == TMode::G3TwoD, 1,
                                       position, reference.data(), page.width);
        break;
    }
  }
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

void Report(const char* what, const TPage& page, const char* mode, double ours, double peer) {
  const double mpix = static_cast<double>(page.width) * page.height / 1e6;
  std::printf(
      "%-7s %-22s %-7s ours %8.3f ms %8.1f MPix/s | libtiff %8.3f ms %8.1f MPix/s | ours/libtiff "
      "%.2f\n",
      what, page.name, mode, ours * 1e3, mpix / ours, peer * 1e3, mpix / peer, ours / peer);
}

}  // namespace

int main(int argc, char** argv) {
  const bool smoke = argc > 1 && std::strcmp(argv[1], "--smoke") == 0;
  const int iterations = smoke ? 1 : 21;
  TIFFSetWarningHandler(nullptr);
  const TPage pages[] = {
      TextPage("fax fine 1728x2290", 1728, 2290, 44, 1),
      TextPage("A4 300 dpi 2480x3508", 2480, 3508, 60, 2),
  };
  int failures = 0;
  for (const TPage& page : pages) {
    for (const TModeInfo& m : kModes) {
      TMemoryFile file = LibtiffEncode(page, m);
      TIFF* tif = OpenMemory(file, "r");
      std::vector<uint8_t> strip(TIFFRawStripSize(tif, 0));
      TIFFReadRawStrip(tif, 0, strip.data(), static_cast<tmsize_t>(strip.size()));

      std::vector<uint8_t> theirs(page.bits.size()), ours(page.bits.size());
      const double peerDecode = MedianSeconds(iterations, [&] {
        TIFFReadEncodedStrip(tif, 0, theirs.data(), static_cast<tmsize_t>(theirs.size()));
      });
      const double ourDecode =
          MedianSeconds(iterations, [&] { OurDecode(strip, page, m.mode, ours); });
      TIFFClose(tif);
      // Same pixels: ours are 1 = white, libtiff's MinIsWhite rows 1 = black.
      for (size_t i = 0; i < ours.size(); ++i) {
        const int tail = page.width % 8;
        const uint8_t mask = (tail && (i + 1) % page.rowBytes == 0)
                                 ? static_cast<uint8_t>(0xFF << (8 - tail))
                                 : 0xFF;
        if (((ours[i] ^ 0xFF) & mask) != (theirs[i] & mask) ||
            (theirs[i] & mask) != (page.bits[i] & mask)) {
          std::printf("MISMATCH %s %s at byte %zu\n", page.name, m.name, i);
          ++failures;
          break;
        }
      }
      Report("decode", page, m.name, ourDecode, peerDecode);

      size_t ourSize = 0, peerSize = 0;
      const double ourEncode =
          MedianSeconds(iterations, [&] { ourSize = OurEncode(page, m.mode).size(); });
      const double peerEncode =
          MedianSeconds(iterations, [&] { peerSize = LibtiffEncode(page, m).bytes.size(); });
      Report("encode", page, m.name, ourEncode, peerEncode);
      std::printf("        coded bytes: ours %zu, libtiff strip %zu (file %zu)\n", ourSize,
                  strip.size(), peerSize);
    }
  }
  return failures ? 1 : 0;
}
