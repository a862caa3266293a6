// Folivo — multi-page TIFF editor.
// Test fixtures made with libtiff (the peer), and libtiff's own rendering.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "formats/bitmap.h"
#include "formats/params.h"

namespace folivo::test {

// One page to write with libtiff. Samples come from FixtureSample.
struct TTiffFixturePage {
  uint32_t width = 67;
  uint32_t height = 45;
  uint16_t bits = 8;
  uint16_t samples = 1;
  uint16_t photometric = 1;
  uint16_t compression = 1;
  uint16_t planar = 1;
  uint16_t fillOrder = 1;
  uint16_t predictor = 1;
  uint32_t rowsPerStrip = 7;
  uint32_t tileWidth = 0;  // 0: strips
  uint32_t tileLength = 0;
  int extraSamples = -1;  // -1: no ExtraSamples tag
  uint32_t t4Options = 0;
  int jpegQuality = 90;
  bool colorMap8Bit = false;  // colour map values below 256
  int seed = 0;
};

// The sample of pixel (x, y), sample s, within the page's bit depth.
uint32_t FixtureSample(const TTiffFixturePage& page, uint32_t x, uint32_t y, uint32_t s);
// Colour map entry k as written (16-bit values, or 8-bit when colorMap8Bit).
void FixtureColorMap(const TTiffFixturePage& page, uint32_t k, uint16_t rgb[3]);

// A file of those pages written by libtiff ("MM" when bigEndian).
std::vector<uint8_t> WriteTiffWithLibtiff(const std::vector<TTiffFixturePage>& pages, bool bigEndian);

// libtiff's RGBA rendering of page, top row first, 0xAABBGGRR per pixel.
bool LibtiffRgba(const std::vector<uint8_t>& file, int page, std::vector<uint32_t>& pixels,
                 uint32_t& width, uint32_t& height);
int LibtiffPageCount(const std::vector<uint8_t>& file);

// Our reader on the bytes: page index, NativePixelFormat. Returns false when
// the read aborted.
struct TDecoded {
  TIEBitmap bitmap;
  TIOParamsVals params;
  std::unique_ptr<TIEBitmap> alpha;
  int pageCount = 0;
  bool ok = false;
};
std::unique_ptr<TDecoded> DecodeWithFolivo(const std::vector<uint8_t>& file, int page = 0,
                                           bool native = false);
// Pixel (x, y) of a decoded page as 0x00BBGGRR (ie1g, ie8g, ie8p, ie24RGB).
uint32_t BitmapRgb(const TIEBitmap& bitmap, int x, int y);

std::string TempPath(const std::string& name);
std::vector<uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// Little helpers to craft files byte by byte.
struct TTiffBuilder {
  bool big = false;
  std::vector<uint8_t> bytes;
  explicit TTiffBuilder(bool bigEndian = false);
  void U16(uint16_t v);
  void U32(uint32_t v);
  void Put32At(size_t at, uint32_t v);
  size_t Size() const { return bytes.size(); }
  // An IFD of (tag, type, count, value) entries at the end; returns its offset.
  struct TEntry {
    uint16_t tag, type;
    uint32_t count, value;
  };
  size_t Ifd(const std::vector<TEntry>& entries, uint32_t next = 0);
};

}  // namespace folivo::test
