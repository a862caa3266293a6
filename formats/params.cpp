// Folivo — multi-page TIFF editor.
#include "formats/params.h"

namespace folivo {

namespace {
TLzwDecompressorFn gDefaultDecompressor = nullptr;
TLzwCompressorFn gDefaultCompressor = nullptr;

struct TCompressionRow {
  int tag;
  const char* text;
};
// Indexed by TTiffCompression.
constexpr TCompressionRow kCompressions[] = {
    {1, "UNCOMPRESSED"},
    {2, "Bilevel Huffman compression"},
    {3, "Bilevel Group 3 CCITT compression, monodimensional"},
    {3, "Bilevel Group 3 CCITT compression, bidimensional"},
    {4, "Bilevel Group 4 CCITT compression, bidimensional"},
    {5, "LZW compression"},
    {6, "Ver.6.0 jpeg compression"},
    {7, "Jpeg compression"},
    {32773, "RLE compression"},
    {32946, "ZIP compression"},
    {8, "Adobe ZIP compression"},
    {0, "Unknown"},
};
}  // namespace

const char* TiffCompressionText(TTiffCompression compression) {
  return compression <= tcUnknown ? kCompressions[compression].text : kCompressions[tcUnknown].text;
}

int TiffCompressionTag(TTiffCompression compression) {
  return compression <= tcUnknown ? kCompressions[compression].tag : 0;
}

TTiffCompression TiffCompressionFromTag(int tagValue, uint32_t t4Options) {
  switch (tagValue) {
    case 1: return tcNone;
    case 2: return tcCcittHuffman;
    case 3: return (t4Options & 1) ? tcG3Fax2D : tcG3Fax1D;
    case 4: return tcG4Fax;
    case 5: return tcLzw;
    case 6: return tcOldJpeg;
    case 7: return tcJpeg;
    case 8: return tcDeflate;
    case 32773: return tcPackBits;
    case 32946: return tcZip;
    default: return tcUnknown;
  }
}

int TiffPhotometricTag(TTiffPhotometric photometric) {
  return photometric == tpCieLab ? 8 : static_cast<int>(photometric);
}

bool TiffPhotometricFromTag(int tagValue, TTiffPhotometric& photometric) {
  if (tagValue >= 0 && tagValue <= 6) {
    photometric = static_cast<TTiffPhotometric>(tagValue);
    return true;
  }
  if (tagValue == 8) {
    photometric = tpCieLab;
    return true;
  }
  return false;
}

TLzwDecompressorFn DefaultLzwDecompressor() { return gDefaultDecompressor; }
TLzwCompressorFn DefaultLzwCompressor() { return gDefaultCompressor; }
void SetDefaultLzwRoutines(TLzwDecompressorFn decompressor, TLzwCompressorFn compressor) {
  gDefaultDecompressor = decompressor;
  gDefaultCompressor = compressor;
}

namespace {
// Files carry any real as a resolution; NaN or a huge value must not reach
// an undefined conversion.
int TruncDpi(double dpi) {
  if (!(dpi > -2147483648.0 && dpi < 2147483648.0)) return 0;
  return static_cast<int>(dpi);
}
}  // namespace

void TIOParamsVals::SetExactDpiX(double dpi) {
  exactDpiX_ = dpi;
  dpiX_ = TruncDpi(dpi);
}

void TIOParamsVals::SetExactDpiY(double dpi) {
  exactDpiY_ = dpi;
  dpiY_ = TruncDpi(dpi);
}

TLzwDecompressorFn TIOParamsVals::EffectiveLzwDecompressor() const {
  return LzwDecompressor ? LzwDecompressor : gDefaultDecompressor;
}

TLzwCompressorFn TIOParamsVals::EffectiveLzwCompressor() const {
  return LzwCompressor ? LzwCompressor : gDefaultCompressor;
}

void TIOParamsVals::ResetForRead() {
  TiffDocumentName.clear();
  TiffImageDescription.clear();
  TiffPageName.clear();
  Metadata.Clear();
  HasExifData = false;
}

}  // namespace folivo
