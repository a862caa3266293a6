// Folivo — multi-page TIFF editor.
// TIFF reading: the IFD chain walk, tag values by type, and ReadTiffStream.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "formats/bitmap.h"
#include "formats/colors.h"
#include "formats/params.h"

namespace folivo {

class TStream;

// TIFF 6.0 field types.
enum TTiffType : uint16_t {
  ttByte = 1,
  ttAscii = 2,
  ttShort = 3,
  ttLong = 4,
  ttRational = 5,
  ttSByte = 6,
  ttUndefined = 7,
  ttSShort = 8,
  ttSLong = 9,
  ttSRational = 10,
  ttFloat = 11,
  ttDouble = 12,
};

// Bytes of one element of a type (1..12); 0 for types outside the table.
int TiffTypeSize(uint16_t type);

// One 12-byte directory entry; Field holds the value-or-offset bytes as they
// stand in the file.
struct TTiffEntry {
  uint16_t Tag = 0;
  uint16_t Type = 0;
  uint32_t Count = 0;
  uint8_t Field[4] = {0, 0, 0, 0};
};

// The entries of one IFD, in file order.
struct TTiffDirectory {
  std::vector<TTiffEntry> Entries;
  // The first entry with that tag, or nullptr.
  const TTiffEntry* Find(uint16_t tag) const;
  bool Has(uint16_t tag) const { return Find(tag) != nullptr; }
};

// Reads entry values of one file: byte order, base offset and the stream.
// Every read is checked against the stream's size; what lies beyond it reads
// as absent.
class TTiffTagReader {
 public:
  TTiffTagReader(TStream& stream, uint64_t baseOffset, bool bigEndian);

  bool BigEndian() const { return bigEndian_; }
  uint64_t Base() const { return base_; }
  uint64_t StreamSize() const { return size_; }
  TStream& Stream() const { return stream_; }

  uint16_t U16(const uint8_t* p) const;
  uint32_t U32(const uint8_t* p) const;
  // The whole value field as one LONG.
  uint32_t FieldLong(const TTiffEntry& e) const { return U32(e.Field); }

  // Integer value: BYTE the first byte, SHORT the first 16-bit value, other
  // types the 32-bit field.
  uint32_t Int(const TTiffDirectory& dir, uint16_t tag, uint32_t defaultValue) const;
  // Element i of a BYTE/SHORT/LONG array; other types, and elements past the
  // count or the end of the stream, read as 0.
  uint32_t Element(const TTiffEntry& e, uint32_t i) const;
  // Every element of a BYTE/SHORT/LONG array. An array that would reach past
  // the end of the stream is cut to the elements that exist.
  std::vector<uint32_t> Array(const TTiffEntry& e) const;
  // Rational element i; zero denominators count as 1; absent → 0.0.
  double Rational(const TTiffDirectory& dir, uint16_t tag, uint32_t i = 0) const;
  double Rational(const TTiffEntry& e, uint32_t i) const;
  std::string Ascii(const TTiffEntry& e) const;
  std::string Ascii(const TTiffDirectory& dir, uint16_t tag) const;
  // UTF-16LE text of count ÷ 2 characters; false when the tag is too long
  // or lies outside the stream.
  bool WideText(const TTiffEntry& e, std::u16string& text) const;
  // The entry's count × type-size bytes (in the field or at the offset), at
  // most maxBytes and never past the stream's end.
  std::vector<uint8_t> RawBytes(const TTiffEntry& e, uint64_t maxBytes = 1u << 26) const;
  // Like RawBytes, with every 16/32/64-bit element converted to little-endian.
  std::vector<uint8_t> LittleEndianBytes(const TTiffEntry& e) const;

  // Reads count bytes at base + offset; false when they do not all exist.
  bool ReadAt(uint64_t offset, void* buffer, size_t count) const;

 private:
  TStream& stream_;
  uint64_t base_;
  uint64_t size_;
  bool bigEndian_;
};

// Walks the chain from firstOffset, counting its IFDs and loading the entries
// of IFD number wantedIndex (-1: none). Ends on the chain's own conditions and
// on any offset already visited, so cycles through several IFDs end too.
// Returns the number of IFDs counted; loaded tells whether wanted was found.
int WalkTiffChain(const TTiffTagReader& reader, uint32_t firstOffset, int wantedIndex,
                  TTiffDirectory* wanted, bool* loaded);
// Loads one IFD at offset; false when its count cannot be read or is 0.
bool ReadTiffDirectory(const TTiffTagReader& reader, uint32_t offset, TTiffDirectory& dir);

// The working record of the page being read.
struct TTIFFVars {
  uint32_t ImageWidth = 0;
  uint32_t ImageLength = 0;
  uint32_t SamplesPerPixel = 1;
  uint32_t BitsPerSample = 1;
  uint32_t RowsPerStrip = 0;
  uint32_t TileWidth = 0;   // 0: absent
  uint32_t TileLength = 0;  // 0: absent
  bool HasTileTags = false;
  uint32_t Photometric = 2;
  uint32_t PlanarConfig = 1;
  uint32_t Orientation = 1;
  uint32_t Compression = 1;
  uint32_t Predictor = 1;
  uint32_t ResolutionUnit = 2;
  double XResolution = 0;
  double YResolution = 0;
  uint32_t T4Options = 0;
  uint32_t T6Options = 0;
  uint32_t FillOrder = 1;
  double XPosition = 0;
  double YPosition = 0;
  std::string DocumentName, ImageDescription, PageName, Software, Artist;
  bool HasPageNumber = false;
  uint32_t PageNumber[2] = {0, 0};
  uint32_t InkSet = 1;
  uint32_t NumberOfInks = 4;
  uint32_t DotRange[8] = {};
  uint32_t JpegProc = 0;
  uint32_t JpegIfOffset = 0;
  uint32_t JpegIfByteCount = 0;
  uint32_t JpegRestartInterval = 0;
  std::vector<uint32_t> JpegQTables, JpegDCTables, JpegACTables;  // 519..521
  uint32_t JpegLosslessPredictors = 0, JpegPointTransforms = 0;   // 517, 518
  uint32_t ExtraSamples = 0;
  uint32_t YCbCrSubSampling[2] = {2, 2};
  std::vector<uint32_t> StripOffsets, StripByteCounts, TileOffsets, TileByteCounts;
  std::vector<uint8_t> JpegTables;
  std::vector<TColorTriple> ColorMap;
  std::vector<uint16_t> TransferFunction;

  // The file and how to decode it.
  TStream* Stream = nullptr;
  uint64_t Base = 0;
  uint64_t StreamSize = 0;
  bool BigEndian = false;
  bool NativePixelFormat = false;
  bool IgnoreAlpha = false;
  TIEBitmap* AlphaMask = nullptr;  // filled with the page's alpha, when present
  TLzwDecompressorFn Lzw = nullptr;
};

// The page bitmap's pixel format for a page's depth, samples, photometric.
TPagePixelFormat TiffPixelFormat(const TTIFFVars& vars);

// Reads one page (params->ImageIndex(), or sub-IFD params->TiffSubIndex) into
// bitmap and params; with params == nullptr only counts pages. Failures set
// progress's Aborting flag; the bitmap keeps what was decoded. pageCount gets
// the number of IFDs in the main chain once the header was accepted (else 0).
// alphaMask: created (8-bit, 255) when the page carries alpha and ignoreAlpha
// is false; an existing mask is reused.
void ReadTiffStream(TIEBitmap* bitmap, TStream& stream, int& pageCount, bool thumbnail,
                    bool ignoreAlpha, bool relativeToPosition,
                    std::unique_ptr<TIEBitmap>* alphaMask, bool paramsOnly, TIOProgress& progress,
                    TIOParamsVals* params);

}  // namespace folivo
