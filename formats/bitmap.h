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

// Bits per pixel and samples per pixel of a format; 0 for values outside the enum.
int PixelFormatBitCount(TPagePixelFormat format);
int PixelFormatChannelCount(TPagePixelFormat format);
// "ie24RGB" and so on; "" outside the enum.
const char* PixelFormatName(TPagePixelFormat format);
// Bytes of one row of width pixels padded to 4 bytes; 64-bit so that hostile
// widths cannot overflow.
int64_t RowLengthFor(int64_t widthPx, int bitCount);

// Storage: the pixel block is one piece of RowLength x Height bytes, rows
// bottom-up (row r at RowLength x (Height - 1 - r)), in memory aligned to 32
// bytes or in an unlinked temporary file "IMGxxxxxx" mapped into memory
// (in $TMPDIR, else /tmp). Location is a wish: a temp-file wish below
// MinFileSize bytes gets memory, a memory wish above it gets a temp file, and
// a temp file that cannot be created or reserved falls back to memory.
// ieTBitmap storage is memory that refuses ie32f, ieCMYK, ieRGB48 and
// ieCIELab and keeps ie16g as ie8g.
//
// Conversions (ConvertTo): gray = Luminance(); 16-bit to 8-bit rounds v / 257,
// 8-bit to 16-bit is v x 257; floats map 0.0..1.0 to 0..255 (rounded,
// clamped, NaN as 0). CMYK is the plain complement with full black
// generation: stored k = max(R, G, B), stored c = R x 255 / k (so
// R = c x k / 255), the same for m and y; black is c = m = y = 255, k = 0.
// CIELab is CIE 1976 L*a*b* of sRGB under D65 (IEC 61966-2-1 transfer curve,
// white 0.95047, 1, 1.08883), stored like TIFF's 8-bit CIELab: L* x 255 / 100
// in the first byte, a* and b* as signed bytes.
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

  // New size and format with fresh, uncleared storage; frees palette and
  // alpha (an ie8p bitmap gets 256 black entries). Does nothing when nothing
  // changes and storage exists. Sizes <= 0 (taken as 0) or ieNoPixels leave
  // the bitmap empty. Throws TBitmapError for formats the location refuses
  // (the bitmap is left untouched) and std::bad_alloc when memory runs out or
  // the size is absurd (a row over 2 GiB, a block over 1 TiB); the bitmap is
  // then empty.
  void Allocate(int widthPx, int heightPx, TPagePixelFormat format);
  // Deep copy of size, format, pixels, palette, alpha and BWConversion. The
  // location wish, MinFileSize and QuantizeColors stay this bitmap's own.
  void Assign(const TIEBitmap& source);
  // Every pixel gets value: a colour 0x00BBGGRR for colour formats (ie24RGB,
  // ieCMYK, ieRGB48, ieCIELab), the low byte for ie8p and ie8g, the low 16
  // bits for ie16g, a real for ie32f; for ie1g nonzero is white. Values that
  // are not finite count as 0 except for ie32f.
  void Fill(double value);
  // Converts in place through a temporary copy (see the class comment for the
  // formulas). To ie1g by BWConversion, to ie8p by TColorQuantizer with
  // QuantizeColors colours (PaletteLength becomes the colours used). The
  // alpha companion is kept. Throws like Allocate.
  void ConvertTo(TPagePixelFormat format);

  // The alpha companion, created filled with 255 when absent. An alpha
  // bitmap has none of its own and returns nullptr.
  TIEBitmap* AlphaChannel();
  const TIEBitmap* AlphaChannelIfAny() const { return alpha_.get(); }
  bool HasAlphaChannel() const { return alpha_ != nullptr; }
  // Frees the companion; with merge on an ie24RGB page, blends every pixel
  // over backgroundColor (0x00BBGGRR) first: c' = b + (((c - b) x a x 1024)
  // >> 18). Opaque pixels (a = 255) keep their colour. Other formats drop the
  // alpha without blending.
  void RemoveAlphaChannel(bool merge, uint32_t backgroundColor);
  // Alpha bitmap: true when every value is 255. Kept by Fill and AlphaChannel;
  // a write access (non-const GetScanline, Allocate, Assign, ConvertTo) makes
  // it unknown and the next call rescans. For pixels written through a row
  // address taken before the last call, call GetScanline again.
  // Other bitmaps: true when they have no alpha or their alpha is full.
  bool Full() const;

  void FreeImage();
  bool IsEmpty() const;

  // Where the storage was asked for (applies to the next allocation), and
  // where it really is (the wish when there is no storage).
  TBitmapLocation Location() const { return location_; }
  void SetLocation(TBitmapLocation location) { location_ = location; }
  TBitmapLocation ActualLocation() const;

  int64_t MinFileSize() const { return minFileSize_; }
  void SetMinFileSize(int64_t bytes) { minFileSize_ = bytes; }
  // Process-wide default for new bitmaps; -1 (the initial value) means half
  // the physical memory available when the bitmap is created, 32 MiB when
  // that reads as 0.
  static int64_t DefaultMinFileSize();
  static void SetDefaultMinFileSize(int64_t bytes);

  // ie1g from other formats: 0 ordered dither (8 x 8 Bayer; lum 255 always
  // white), 1 black below the luminance of the average colour.
  int BWConversion = 1;
  int QuantizeColors = 256;  // colours ConvertTo(ie8p) keeps

 private:
  struct TStorage;
  void AllocateStorage();
  void ReleaseStorage();
  void MarkWritten();
  bool ScanFull() const;
  // Takes storage, format and palette of other (same size), leaving it empty.
  void TakePixels(TIEBitmap& other);

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
