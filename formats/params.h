// Folivo — multi-page TIFF editor.
// TIOParamsVals: what is known about one page as a file page; the enums of
// compression and photometric; the progress record shared by every codec.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "formats/colors.h"

namespace folivo {

class TStream;

enum TTiffCompression : uint8_t {
  tcNone = 0,
  tcCcittHuffman = 1,
  tcG3Fax1D = 2,
  tcG3Fax2D = 3,
  tcG4Fax = 4,
  tcLzw = 5,
  tcOldJpeg = 6,
  tcJpeg = 7,
  tcPackBits = 8,
  tcZip = 9,
  tcDeflate = 10,
  tcUnknown = 11,
};

// The text shown for a compression ("UNCOMPRESSED", "LZW compression" ...).
const char* TiffCompressionText(TTiffCompression compression);
// The Compression tag value a kind stands for (tcG3Fax1D and tcG3Fax2D both 3;
// tcUnknown 0).
int TiffCompressionTag(TTiffCompression compression);
// Compression tag value (and T4Options) to the kind.
TTiffCompression TiffCompressionFromTag(int tagValue, uint32_t t4Options);

enum TTiffPhotometric : uint8_t {
  tpWhiteIsZero = 0,
  tpBlackIsZero = 1,
  tpRgb = 2,
  tpPalette = 3,
  tpTransparencyMask = 4,
  tpSeparated = 5,
  tpYCbCr = 6,
  tpCieLab = 7,
};

int TiffPhotometricTag(TTiffPhotometric photometric);
// Tag value to the kind; false (and nothing set) for values outside the list.
bool TiffPhotometricFromTag(int tagValue, TTiffPhotometric& photometric);

// LZW routines reached through the parameters. State is created by the first
// call and freed by the call without input (see lzw.h).
struct TLzwDecodeState;
struct TLzwEncodeState;
// Returns the next rowLength decoded bytes, or nullptr for corrupt data.
// input == nullptr frees the state.
using TLzwDecompressorFn = const uint8_t* (*)(const uint8_t* input, size_t inputLength,
                                              int rowLength, TLzwDecodeState*& state);
// Appends count bytes to the code stream; data == nullptr ends the stream.
using TLzwCompressorFn = void (*)(const uint8_t* data, size_t count, TStream& stream,
                                  TLzwEncodeState*& state);

// Process-wide defaults taken when a record's reference is empty.
TLzwDecompressorFn DefaultLzwDecompressor();
TLzwCompressorFn DefaultLzwCompressor();
void SetDefaultLzwRoutines(TLzwDecompressorFn decompressor, TLzwCompressorFn compressor);

// One directory entry kept as read: its value bytes in the file's byte order
// are converted to little-endian element by element.
struct TTagValue {
  uint16_t Tag = 0;
  uint16_t Type = 0;
  uint32_t Count = 0;
  std::vector<uint8_t> Bytes;
  bool operator==(const TTagValue&) const = default;
};

// Metadata blocks carried from reader to writer.
struct TPageMetadata {
  // Page IFD descriptive tags.
  std::string Make, Model, DateTime, Software, Artist, Copyright;
  std::vector<TTagValue> PageTags;  // WhitePoint, PrimaryChromaticities, YCbCr and the rest
  std::u16string XPTitle, XPComment, XPAuthor, XPKeywords, XPSubject;
  // EXIF and GPS IFDs, entry by entry.
  std::vector<TTagValue> ExifTags;
  std::vector<TTagValue> GpsTags;
  std::vector<TTagValue> MakerNoteTags;
  std::vector<uint8_t> UserCommentPrefix;  // first eight bytes of 37510
  std::vector<uint8_t> Iptc;
  std::string Xmp;
  std::vector<uint8_t> Annotations;
  std::vector<uint8_t> IccProfile;

  void Clear() { *this = TPageMetadata(); }
};

class TIOParamsVals {
 public:
  TIOParamsVals() = default;
  TIOParamsVals(const TIOParamsVals&) = default;  // deep: the colour map is a vector
  TIOParamsVals& operator=(const TIOParamsVals&) = default;

  // Before a read: clears texts and metadata, keeps what steers reading and
  // writing (indexes, NativePixelFormat, JPEG/PDF settings, LZW routines).
  void ResetForRead();

  int Width = 0;
  int Height = 0;
  int BitsPerSample = 8;
  int SamplesPerPixel = 3;

  int DpiX() const { return dpiX_; }
  int DpiY() const { return dpiY_; }
  double ExactDpiX() const { return exactDpiX_; }
  double ExactDpiY() const { return exactDpiY_; }
  void SetDpiX(int dpi) { dpiX_ = dpi; exactDpiX_ = dpi; }
  void SetDpiY(int dpi) { dpiY_ = dpi; exactDpiY_ = dpi; }
  void SetExactDpiX(double dpi);
  void SetExactDpiY(double dpi);

  std::string FileName;
  uint8_t FileType = 0;  // 1 = TIFF

  int ImageIndex() const { return imageIndex_; }
  int TiffImageIndex() const { return imageIndex_; }
  void SetImageIndex(int index) { imageIndex_ = index; }
  void SetTiffImageIndex(int index) { imageIndex_ = index; }
  int ImageCount() const { return imageCount_; }
  int TiffImageCount() const { return imageCount_; }
  void SetImageCount(int count) { imageCount_ = count; }
  void SetTiffImageCount(int count) { imageCount_ = count; }

  std::vector<TColorTriple> ColorMap;
  bool NativePixelFormat = false;
  TTiffCompression TiffCompression = tcNone;
  TTiffPhotometric TiffPhotometric = tpRgb;
  int TiffPlanarConfig = 1;
  int TiffSubIndex = -1;
  int TiffXPos = 0;
  int TiffYPos = 0;
  std::string TiffDocumentName;
  std::string TiffImageDescription;
  std::string TiffPageName;
  int TiffPageNumber = -1;
  int TiffPageCount = -1;
  int Orientation = 1;
  bool AdjustOrientation = false;
  int TiffFillOrder = 1;
  bool TiffLittleEndian = true;
  int TiffJpegQuality = 80;
  int TiffZipCompression = 1;  // 0 fastest, 1 default, 2 maximum
  uint8_t TiffJpegColorSpace = 2;  // 0 RGB, 1 gray, 2 YCbCr, 3 CMYK

  TLzwDecompressorFn LzwDecompressor = nullptr;  // empty: the process default
  TLzwCompressorFn LzwCompressor = nullptr;
  // The routine to call, or nullptr when LZW is unavailable.
  TLzwDecompressorFn EffectiveLzwDecompressor() const;
  TLzwCompressorFn EffectiveLzwCompressor() const;

  bool HasExifData = false;
  TPageMetadata Metadata;

  int PdfPaperWidth = 595;   // points
  int PdfPaperHeight = 842;  // points
  uint8_t PdfCompression = 2;  // 0 none, 1 RLE, 2 G4, 3 G3 2-D, 4 JPEG, 5 LZW
  std::string PdfTitle, PdfAuthor, PdfSubject, PdfKeywords, PdfCreator, PdfProducer;

 private:
  int dpiX_ = 300;
  int dpiY_ = 300;
  double exactDpiX_ = 300.0;
  double exactDpiY_ = 300.0;
  int imageIndex_ = 0;
  int imageCount_ = 0;
};

// Progress and abort, passed by reference to every reader, writer and codec.
// Aborting refers to one flag shared with the caller.
using TIEProgressEvent = std::function<void(void* sender, int percent)>;

class TIOProgress {
 public:
  TIOProgress() : aborting_(&ownFlag_) {}
  explicit TIOProgress(bool& aborting) : aborting_(&aborting) {}
  TIOProgress(const TIOProgress&) = delete;
  TIOProgress& operator=(const TIOProgress&) = delete;

  bool Aborting() const { return *aborting_; }
  void Abort() { *aborting_ = true; }
  bool& AbortingFlag() { return *aborting_; }

  TIEProgressEvent OnProgress;
  void* Sender = nullptr;
  int64_t Done = 0;       // work units done
  double RowStep = 0;     // 100 / rows of the page
  double StripStep = 0;   // 100 / strips

  // Reports Trunc(step × Done) when an event is assigned.
  void Report(double step) const {
    if (OnProgress) OnProgress(Sender, static_cast<int>(step * static_cast<double>(Done)));
  }

 private:
  bool ownFlag_ = false;
  bool* aborting_;
};

}  // namespace folivo
