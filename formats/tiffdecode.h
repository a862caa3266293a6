// Folivo — multi-page TIFF editor.
// Strip and tile decoding of a TIFF page into its page bitmap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "formats/bitmap.h"
#include "formats/params.h"

namespace folivo {

struct TTIFFVars;

// Whether the bytes the page's strips or tiles really hold (cut to the file)
// can account for a bitmap of the page's size at bitCount bits per pixel.
// Guards every allocation whose size comes from tags.
bool TiffPageDataSuffices(const TTIFFVars& vars, int bitCount);

// Strips of PlanarConfiguration 1 and 2 into bitmap (allocated by the reader
// in TiffPixelFormat). Failures set Aborting; rows decoded so far stay.
void DecodeTiffStrips(const TTIFFVars& vars, TIEBitmap& bitmap, TIOProgress& progress);
// Tiles; edge tiles are cut to the page.
void DecodeTiffTiles(const TTIFFVars& vars, TIEBitmap& bitmap, TIOProgress& progress);
// Old-style JPEG (Compression 6 or JPEGInterchangeFormat): allocates bitmap
// as ie24RGB and decodes it.
void DecodeOldJpeg(const TTIFFVars& vars, TIEBitmap& bitmap, TIOProgress& progress);

// Inflates one Deflate (zlib-wrapped) chunk into out; returns the bytes
// produced, at most outSize. A corrupt or truncated stream gives the bytes
// that came before the fault.
size_t InflateTiffChunk(const uint8_t* data, size_t size, uint8_t* out, size_t outSize);

// JPEG through libjpeg. What the decoder is to produce.
enum class TJpegOutput : uint8_t { Gray, Bgr, Rgb, Cmyk };
// Called for each decoded row: row index, the row's samples, pixels in it.
using TJpegRowSink = void (*)(void* context, int row, const uint8_t* samples, int widthPx);
// Decodes one JPEG stream (after an optional tables-only stream). sourceIsRgb
// says the three components are RGB, not YCbCr. At most maxRows rows of at
// most maxWidthPx pixels are delivered; larger images are refused. Returns
// false on a decoder error (rows delivered before it stay delivered); the
// image's size is returned through widthPx/heightPx when not null.
bool DecodeJpegStream(const uint8_t* data, size_t size, const uint8_t* tables, size_t tablesSize,
                      TJpegOutput output, bool sourceIsRgb, int maxWidthPx, int maxRows,
                      TJpegRowSink sink, void* context, int* widthPx = nullptr,
                      int* heightPx = nullptr);

}  // namespace folivo
