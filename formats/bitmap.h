// Folivo — multi-page TIFF editor.
// TIEBitmap: one page's pixels in one of the page pixel formats, with an
// optional 8-bit alpha companion. Row 0 is the top row for every storage.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "formats/colors.h"

namespace folivo {

enum TPagePixelFormat : uint8_t {
  ieNoPixels = 0,
  ie1g = 1,      // 8 pixels a byte, leftmost in the high bit; 1 = white
  ie8p = 2,      // palette index
  ie8g = 3,      // gray, 0 = black
  ie16g = 4,     // gray, little-endian 16 bits
  ie24RGB = 5,   // blue, green, red bytes
  ie32f = 6,     // float gray, 0.0 = black, 1.0 = white
  ieCMYK = 7,    // C, M, Y, K stored as 255 minus the ink
  ieRGB48 = 8,   // red, green, blue as 16-bit samples
  ieCIELab = 9,  // L*, a*, b* bytes
};

enum TBitmapLocation : uint8_t { ieMemory = 0, ieTempFile = 1, ieTBitmap = 2 };

// Bits per pixel and samples per pixel of a format.
int PixelFormatBitCount(TPagePixelFormat format);
int PixelFormatChannelCount(TPagePixelFormat format);
// Bytes of one row of width pixels padded to 4 bytes; 64-bit so that hostile
// widths cannot overflow.
int64_t RowLengthFor(int64_t widthPx, int bitCount);

class TIEBitmap {
 public:
  TIEBitmap();
  TIEBitmap(int widthPx, int heightPx, TPagePixelFormat format);
  ~TIEBitmap();
  TIEBitmap(const TIEBitmap&) = delete;
  TIEBitmap& operator=(const TIEBitmap&) = delete;

  // Address of the first byte of row (0 = top). Rows outside 0..Height-1
  // return nullptr. The non-const form marks an alpha bitmap as possibly
  // no longer full.
  uint8_t* GetScanline(int row);
  const uint8_t* GetScanline(int row) const;

  int BitCount() const { return bitCount_; }
  int ChannelCount() const { return channelCount_; }
  int Height() const { return height_; }
  int Width() const { return width_; }
  TPagePixelFormat PixelFormat() const { return format_; }
  int RowLength() const { return rowLength_; }

  // Palette entries; out-of-range indexes read as black and are not written.
  TColorTriple GetPaletteColor(int index) const;
  void SetPaletteColor(int index, TColorTriple color);
  int PaletteLength() const { return paletteLength_; }
  // Resizes the palette to length entries (0..256), keeping the first ones.
  void SetPaletteLength(int length);
  const TColorTriple* Palette() const { return palette_.get(); }

  // New size and format with fresh, uncleared storage. Does nothing when
  // nothing changes and storage exists. Sizes <= 0 or ieNoPixels leave the
  // bitmap empty. Throws TBitmapError for formats the location refuses and
  // std::bad_alloc when memory runs out.
  void Allocate(int widthPx, int heightPx, TPagePixelFormat format);
  // Deep copy of size, format, pixels, palette, alpha and BWConversion.
  void Assign(const TIEBitmap& source);
  // Every pixel gets value: a colour 0x00BBGGRR for colour formats, a level
  // for gray ones, a real for ie32f; for ie1g nonzero is white.
  void Fill(double value);
  // Converts in place through a temporary copy.
  void ConvertTo(TPagePixelFormat format);

  // The alpha companion, created filled with 255 when absent. An alpha
  // bitmap has none of its own and returns nullptr.
  TIEBitmap* AlphaChannel();
  const TIEBitmap* AlphaChannelIfAny() const { return alpha_.get(); }
  bool HasAlphaChannel() const { return alpha_ != nullptr; }
  // Frees the companion; with merge on an ie24RGB page, blends every pixel
  // over backgroundColor (0x00BBGGRR) first.
  void RemoveAlphaChannel(bool merge, uint32_t backgroundColor);
  // True when every value of this alpha bitmap is 255.
  bool Full() const;

  void FreeImage();
  bool IsEmpty() const;

  // Where the storage was asked for, and where it really is.
  TBitmapLocation Location() const { return location_; }
  void SetLocation(TBitmapLocation location) { location_ = location; }
  TBitmapLocation ActualLocation() const;

  int64_t MinFileSize() const { return minFileSize_; }
  void SetMinFileSize(int64_t bytes) { minFileSize_ = bytes; }
  // Process-wide default for new bitmaps; -1 means half the available memory.
  static int64_t DefaultMinFileSize();
  static void SetDefaultMinFileSize(int64_t bytes);

  int BWConversion = 1;     // 0 ordered dither, 1 threshold at the average
  int QuantizeColors = 256; // colours ConvertTo(ie8p) keeps

 private:
  struct TStorage;
  void AllocateStorage();
  void ReleaseStorage();

  int width_ = 0;
  int height_ = 0;
  TPagePixelFormat format_ = ieNoPixels;
  int bitCount_ = 0;
  int channelCount_ = 0;
  int rowLength_ = 0;
  TBitmapLocation location_ = ieTempFile;
  int64_t minFileSize_ = 0;
  std::unique_ptr<TStorage> storage_;
  std::unique_ptr<TColorTriple[]> palette_;
  int paletteLength_ = 0;
  std::unique_ptr<TIEBitmap> alpha_;
  bool isAlpha_ = false;
  // Alpha bitmaps only: known to be all 255, or must be rescanned.
  mutable bool full_ = false;
  mutable bool fullKnown_ = true;
};

}  // namespace folivo
