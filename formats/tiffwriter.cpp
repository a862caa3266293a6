// Folivo — multi-page TIFF editor.
// TIFF writer: page preparation, tags, strips through the row codecs, insert mode, EXIF.
#include "formats/tiffwriter.h"

// Writes TIFF 6.0 baseline files plus the extensions of sections 13 (LZW),
// 14 (Predictor), 16 (CMYK), 21 (YCbCr, for JPEG) and the TIFF Technical
// Note 2 JPEG strips; Deflate as the Adobe Compression 32946 zlib stream.
// Every ASCII value carries its NUL, even when it fits in the entry: libtiff
// warns about texts without one.

#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <vector>

#include <jpeglib.h>

#include "formats/atomicfile.h"
#include "formats/bitmap.h"
#include "formats/ccitt.h"
#include "formats/packbits.h"
#include "formats/pagelist.h"
#include "formats/predictor.h"
#include "formats/quantize.h"
#include "formats/rgbswap.h"
#include "formats/stream.h"

namespace folivo {

namespace {

constexpr int64_t kStripBytes = 524288;
constexpr uint64_t kMaxOffset = 0xFFFFFFFFull;
constexpr int kMaxChainIfds = 65536;
constexpr size_t kMakerNoteDataLimit = 1024;
#ifdef JCS_EXTENSIONS
constexpr bool kJpegTakesBgr = true;  // libjpeg-turbo reads blue, green, red rows
#else
constexpr bool kJpegTakesBgr = false;
#endif

enum : uint16_t {
  kByte = 1,
  kAscii = 2,
  kShort = 3,
  kLong = 4,
  kRational = 5,
  kUndefined = 7,
};

int TypeSize(uint16_t type) {
  static constexpr int kSizes[13] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
  return type <= 12 ? kSizes[type] : 0;
}

void Put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void Append16(std::vector<uint8_t>& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void Append32(std::vector<uint8_t>& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

struct TEntry {
  uint16_t tag = 0;
  uint16_t type = 0;
  uint32_t count = 0;
  uint8_t field[4] = {0, 0, 0, 0};
};

// Collects the entries of one IFD. Values too large for an entry go to the
// stream at once, at an even offset, so the layout follows the order in which
// tags are produced.
class TIfdBuilder {
 public:
  explicit TIfdBuilder(TStream& stream) : stream_(stream) {}

  bool Overflow() const { return overflow_; }

  void Pad() {
    if (stream_.Position() & 1) stream_.WriteByte(0);
  }

  // bytes are the value in little-endian order, count × type size of them.
  void Add(uint16_t tag, uint16_t type, uint32_t count, const void* bytes, size_t size) {
    for (const TEntry& e : entries_)
      if (e.tag == tag) return;  // the first value of a tag wins
    TEntry e;
    e.tag = tag;
    e.type = type;
    e.count = count;
    if (size <= 4) {
      if (size) std::memcpy(e.field, bytes, size);
    } else {
      Pad();
      Put32(e.field, Offset(stream_.Position()));
      stream_.Write(bytes, size);
    }
    entries_.push_back(e);
  }
  void Short(uint16_t tag, uint32_t v) {
    uint8_t b[2];
    Put16(b, v);
    Add(tag, kShort, 1, b, 2);
  }
  void Shorts(uint16_t tag, const std::vector<uint16_t>& v) {
    std::vector<uint8_t> b;
    for (uint16_t x : v) Append16(b, x);
    Add(tag, kShort, static_cast<uint32_t>(v.size()), b.data(), b.size());
  }
  void Long(uint16_t tag, uint32_t v) {
    uint8_t b[4];
    Put32(b, v);
    Add(tag, kLong, 1, b, 4);
  }
  void Rational(uint16_t tag, uint32_t numerator, uint32_t denominator) {
    uint8_t b[8];
    Put32(b, numerator);
    Put32(b + 4, denominator);
    Add(tag, kRational, 1, b, 8);
  }
  void Ascii(uint16_t tag, const std::string& text) {
    if (text.empty()) return;
    Add(tag, kAscii, static_cast<uint32_t>(text.size() + 1), text.c_str(), text.size() + 1);
  }
  // A LONG array of count zeros to be filled in later; returns where its
  // values are (the entry's own field when count is 1).
  struct TSlot {
    bool inEntry = false;
    size_t entry = 0;
    uint64_t position = 0;
  };
  TSlot ReserveLongs(uint16_t tag, uint32_t count) {
    TSlot slot;
    if (count == 1) {
      Long(tag, 0);
      slot.inEntry = true;
      slot.entry = entries_.size() - 1;
      return slot;
    }
    std::vector<uint8_t> zeros(size_t{count} * 4, 0);
    Add(tag, kLong, count, zeros.data(), zeros.size());
    slot.position = entries_.back().field[0] | entries_.back().field[1] << 8 |
                    entries_.back().field[2] << 16 | uint32_t{entries_.back().field[3]} << 24;
    return slot;
  }
  void Fill(const TSlot& slot, const std::vector<uint32_t>& values) {
    if (slot.inEntry) {
      Put32(entries_[slot.entry].field, values.empty() ? 0 : values[0]);
      return;
    }
    std::vector<uint8_t> b;
    for (uint32_t v : values) Append32(b, v);
    const uint64_t back = stream_.Position();
    stream_.Seek(slot.position);
    stream_.Write(b.data(), b.size());
    stream_.Seek(back);
  }
  void SetLong(uint16_t tag, uint32_t v) {
    for (TEntry& e : entries_)
      if (e.tag == tag) Put32(e.field, v);
  }
  // Pads, then writes the entries sorted by tag and next; returns the IFD's offset.
  uint32_t WriteIfd(uint32_t next) {
    Pad();
    const uint32_t at = Offset(stream_.Position());
    WriteIfdAt(next);
    return at;
  }
  // The IFD bytes at the stream's position.
  void WriteIfdAt(uint32_t next) {
    std::stable_sort(entries_.begin(), entries_.end(),
                     [](const TEntry& a, const TEntry& b) { return a.tag < b.tag; });
    std::vector<uint8_t> b;
    b.reserve(6 + 12 * entries_.size());
    Append16(b, static_cast<uint32_t>(entries_.size()));
    for (const TEntry& e : entries_) {
      Append16(b, e.tag);
      Append16(b, e.type);
      Append32(b, e.count);
      b.insert(b.end(), e.field, e.field + 4);
    }
    Append32(b, next);
    stream_.Write(b.data(), b.size());
  }
  uint32_t Offset(uint64_t position) {
    if (position > kMaxOffset) overflow_ = true;
    return static_cast<uint32_t>(position);
  }
  bool Empty() const { return entries_.empty(); }

 private:
  TStream& stream_;
  std::vector<TEntry> entries_;
  bool overflow_ = false;
};

// A kept tag value whose bytes agree with its type and count.
bool UsableValue(const TTagValue& v) {
  const int size = TypeSize(v.Type);
  return size != 0 && v.Count != 0 && v.Bytes.size() == uint64_t{v.Count} * size;
}

void AddTagValue(TIfdBuilder& ifd, const TTagValue& v) {
  if (UsableValue(v)) ifd.Add(v.Tag, v.Type, v.Count, v.Bytes.data(), v.Bytes.size());
}

void AddWideText(TIfdBuilder& ifd, uint16_t tag, const std::u16string& text) {
  if (text.empty()) return;
  std::vector<uint8_t> b;
  for (char16_t c : text) Append16(b, c);
  Append16(b, 0);
  ifd.Add(tag, kByte, static_cast<uint32_t>(b.size()), b.data(), b.size());
}

// The maker note as its own little IFD whose value offsets point into the new
// file; entries with 1024 bytes of data or more are dropped.
void AddMakerNote(TIfdBuilder& ifd, TStream& stream, const std::vector<TTagValue>& tags) {
  std::vector<const TTagValue*> kept;
  for (const TTagValue& v : tags)
    if (UsableValue(v) && v.Bytes.size() < kMakerNoteDataLimit) kept.push_back(&v);
  if (kept.empty()) return;
  std::stable_sort(kept.begin(), kept.end(),
                   [](const TTagValue* a, const TTagValue* b) { return a->Tag < b->Tag; });
  ifd.Pad();
  const uint64_t base = stream.Position();
  std::vector<uint8_t> head, data;
  const size_t headSize = 2 + 12 * kept.size() + 4;
  Append16(head, static_cast<uint32_t>(kept.size()));
  for (const TTagValue* v : kept) {
    Append16(head, v->Tag);
    Append16(head, v->Type);
    Append32(head, v->Count);
    if (v->Bytes.size() <= 4) {
      uint8_t field[4] = {0, 0, 0, 0};
      std::memcpy(field, v->Bytes.data(), v->Bytes.size());
      head.insert(head.end(), field, field + 4);
    } else {
      if (data.size() & 1) data.push_back(0);
      Append32(head, ifd.Offset(base + headSize + data.size()));
      data.insert(data.end(), v->Bytes.begin(), v->Bytes.end());
    }
  }
  Append32(head, 0);
  head.insert(head.end(), data.begin(), data.end());
  ifd.Add(37500, kUndefined, static_cast<uint32_t>(head.size()), head.data(), head.size());
}

// ICC profiles start with their size (big-endian) and carry "acsp" at byte 36.
bool ValidIccProfile(const std::vector<uint8_t>& p) {
  if (p.size() < 128) return false;
  const uint32_t size = uint32_t{p[0]} << 24 | p[1] << 16 | p[2] << 8 | p[3];
  return size == p.size() && std::memcmp(p.data() + 36, "acsp", 4) == 0;
}

enum class TRowKind {
  Bilevel,       // ie1g rows as stored (1 = white)
  BilevelCcitt,  // ie1g rows inverted for the CCITT encoders (1 = black)
  AsStored,      // ie8g, ie16g, ieRGB48 samples as stored
  Rgb,           // ie24RGB to red, green, blue (plus alpha)
  RgbPredicted,  // ie24RGB differenced
  Indexed,       // ie24RGB to gray levels or palette indexes at `bits` bits
  Luminance,     // ie24RGB to 8-bit gray (JPEG gray)
  CmykFromRgb,   // ie24RGB to ink amounts
  CmykInverted,  // ieCMYK bytes inverted
};

// Everything decided before the first byte is written.
struct TPlan {
  const TIEBitmap* page = nullptr;
  std::unique_ptr<TIEBitmap> copy;
  TRowKind kind = TRowKind::Rgb;
  int compressionTag = 1;
  bool twoD = false;
  int fillOrder = 1;
  bool predictor = false;
  bool alpha = false;
  int photometricTag = 2;
  int bits = 8;  // per sample, as written
  int samples = 3;
  TTiffCompression compression = tcNone;
  TTiffPhotometric photometric = tpRgb;
  bool gray = false;  // Indexed: gray levels rather than a palette
  int levels = 256;   // Indexed: N
  std::unique_ptr<TColorQuantizer> quantizer;
  std::vector<TColorTriple> palette;  // N entries in the palette state
  J_COLOR_SPACE jpegColorSpace = JCS_YCbCr;
  bool jpegBgr = false;  // libjpeg takes the bitmap's blue, green, red rows as they are
  int jpegComponents = 3;
  size_t rowBytes = 0;
};

TIEBitmap& MakeCopy(TPlan& plan) {
  if (!plan.copy) {
    plan.copy = std::make_unique<TIEBitmap>();
    plan.copy->SetLocation(plan.page->Location());
    plan.copy->Assign(*plan.page);
    plan.page = plan.copy.get();
  }
  return *plan.copy;
}

void ConvertCopy(TPlan& plan, TPagePixelFormat format) {
  if (plan.page->PixelFormat() != format) MakeCopy(plan).ConvertTo(format);
}

// A colour page with at most two colours becomes bilevel with the lighter one
// white; returns false when the page has more colours.
bool TwoColourBilevel(TPlan& plan) {
  const TIEBitmap& src = *plan.page;
  const int w = src.Width(), h = src.Height();
  uint32_t colours[2] = {0, 0};
  int found = 0;
  for (int y = 0; y < h; ++y) {
    const uint8_t* p = src.GetScanline(y);
    for (int x = 0; x < w; ++x, p += 3) {
      const uint32_t c = MakeColor(p[2], p[1], p[0]);
      if (found > 0 && c == colours[0]) continue;
      if (found > 1 && c == colours[1]) continue;
      if (found == 2) return false;
      colours[found++] = c;
    }
  }
  auto lum = [](uint32_t c) { return Luminance(ColorRed(c), ColorGreen(c), ColorBlue(c)); };
  // One colour: white only when it is light, so a black page stays black.
  uint32_t white = colours[0];
  bool oneIsWhite = true;
  if (found == 2) {
    if (lum(colours[1]) > lum(colours[0])) white = colours[1];
  } else {
    oneIsWhite = lum(colours[0]) >= 128;
  }
  auto bits = std::make_unique<TIEBitmap>();
  bits->SetLocation(src.Location());
  bits->Allocate(w, h, ie1g);
  for (int y = 0; y < h; ++y) {
    const uint8_t* p = src.GetScanline(y);
    uint8_t* out = bits->GetScanline(y);
    std::memset(out, 0, (w + 7) / 8);
    for (int x = 0; x < w; ++x, p += 3) {
      const bool isWhite = MakeColor(p[2], p[1], p[0]) == white && oneIsWhite;
      if (isWhite) out[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
    }
  }
  plan.copy = std::move(bits);
  plan.page = plan.copy.get();
  return true;
}

bool IsCcitt(int tag) {
  return tag == 2 || tag == 3 || tag == 4;
}

void ChooseCompression(TPlan& plan, const TIOParamsVals& params) {
  plan.twoD = false;
  switch (params.TiffCompression) {
    case tcCcittHuffman:
      plan.compressionTag = 2;
      break;
    case tcG3Fax1D:
      plan.compressionTag = 3;
      break;
    case tcG3Fax2D:
      plan.compressionTag = 3;
      plan.twoD = true;
      break;
    case tcG4Fax:
      plan.compressionTag = 4;
      break;
    case tcLzw:
      plan.compressionTag = params.EffectiveLzwCompressor() ? 5 : 1;
      break;
    case tcOldJpeg:
      plan.compressionTag = 6;
      break;
    case tcJpeg:
      plan.compressionTag = 7;
      break;
    case tcPackBits:
      plan.compressionTag = 32773;
      break;
    case tcZip:
    case tcDeflate:
      plan.compressionTag = 32946;
      break;
    default:
      plan.compressionTag = 1;
      break;
  }
}

TTiffCompression CompressionKind(int tag, bool twoD, TTiffCompression asked) {
  switch (tag) {
    case 2:
      return tcCcittHuffman;
    case 3:
      return twoD ? tcG3Fax2D : tcG3Fax1D;
    case 4:
      return tcG4Fax;
    case 5:
      return tcLzw;
    case 6:
      return tcOldJpeg;
    case 7:
      return tcJpeg;
    case 32773:
      return tcPackBits;
    case 32946:
      return asked == tcDeflate ? tcDeflate : tcZip;
    default:
      return tcNone;
  }
}

// Prepares the page and decides what is written. false: nothing can be written.
void Prepare(TPlan& plan, const TIEBitmap& bitmap, TIOParamsVals& params, int bwConversion) {
  plan.page = &bitmap;
  int bps = params.BitsPerSample;
  int spp = params.SamplesPerPixel;
  const bool bilevel = bps == 1 && spp == 1;
  TPagePixelFormat format = bitmap.PixelFormat();

  // Formats written only through 24-bit colour: palette, float, CIELab, and
  // gray pages whose parameters ask for another depth.
  const bool native8 = format == ie8g && spp == 1 && bps == 8;
  const bool native16 = format == ie16g && spp == 1 && bps == 16;
  if (format == ie8p || format == ie32f || format == ieCIELab || (format == ie8g && !native8) ||
      (format == ie16g && !native16))
    ConvertCopy(plan, ie24RGB);
  if (format == ieRGB48 && (bilevel || params.TiffCompression == tcJpeg ||
                            params.TiffCompression == tcOldJpeg || spp == 1))
    ConvertCopy(plan, ie24RGB);
  if (format == ieCMYK && (bilevel || spp == 1)) ConvertCopy(plan, ie24RGB);
  format = plan.page->PixelFormat();

  ChooseCompression(plan, params);
  plan.fillOrder = params.TiffFillOrder == 2 ? 2 : 1;

  // Depth.
  if (format == ie1g && !bilevel) {
    ConvertCopy(plan, ie24RGB);
    format = ie24RGB;
  } else if (format != ie1g && bilevel) {
    ConvertCopy(plan, ie24RGB);
    if (!TwoColourBilevel(plan)) {
      TIEBitmap& copy = MakeCopy(plan);
      if (bwConversion >= 0) copy.BWConversion = bwConversion;
      copy.ConvertTo(ie1g);
    }
    format = ie1g;
  }

  if (format == ie1g) {
    if (!IsCcitt(plan.compressionTag) && plan.compressionTag != 5 && plan.compressionTag != 32773 &&
        plan.compressionTag != 32946)
      plan.compressionTag = 1;  // JPEG has no 1-bit form
    // Rows wider than the CCITT codec handles are stored uncompressed.
    if (IsCcitt(plan.compressionTag) && plan.page->Width() > kCcittMaxWidthPx)
      plan.compressionTag = 1;
    const bool ccitt = IsCcitt(plan.compressionTag);
    plan.kind = ccitt ? TRowKind::BilevelCcitt : TRowKind::Bilevel;
    plan.photometricTag = ccitt ? 0 : 1;
    plan.photometric = ccitt ? tpWhiteIsZero : tpBlackIsZero;
    plan.bits = 1;
    plan.samples = 1;
    return;
  }
  if (IsCcitt(plan.compressionTag)) plan.compressionTag = 1;

  if (native8 || native16) {
    if (plan.compressionTag != 5 && plan.compressionTag != 32773 && plan.compressionTag != 32946)
      plan.compressionTag = 1;
    plan.kind = TRowKind::AsStored;
    plan.photometricTag = 1;
    plan.photometric = tpBlackIsZero;
    plan.bits = native8 ? 8 : 16;
    plan.samples = 1;
    return;
  }

  if (format == ie24RGB && spp == 1) {
    // Gray and palette pages: parameters of other depths take 8 bits.
    if (!((bps >= 2 && bps <= 8) || bps == 16)) bps = 8;
    if (plan.compressionTag != 5 && plan.compressionTag != 32773 && plan.compressionTag != 32946)
      plan.compressionTag = 1;
    const int levels = std::min(1 << bps, 256);
    const TIEBitmap& page = *plan.page;
    bool gray = true;
    auto quantizer = std::make_unique<TColorQuantizer>(levels);
    for (int y = 0; y < page.Height(); ++y) {
      const uint8_t* p = page.GetScanline(y);
      if (gray)
        for (int x = 0; x < page.Width() && gray; ++x)
          gray = p[3 * x] == p[3 * x + 1] && p[3 * x] == p[3 * x + 2];
      quantizer->AddPixels(p, page.Width());
    }
    plan.kind = TRowKind::Indexed;
    plan.levels = levels;
    plan.samples = 1;
    plan.gray = gray;
    if (gray) {
      plan.photometricTag = 1;
      plan.photometric = tpBlackIsZero;
      plan.bits = bps;
    } else {
      quantizer->BuildPalette();
      plan.palette = quantizer->Palette();
      plan.palette.resize(levels);
      plan.quantizer = std::move(quantizer);
      plan.photometricTag = 3;
      plan.photometric = tpPalette;
      plan.bits = bps == 16 ? 8 : bps;
    }
    return;
  }

  if (format == ieRGB48) {
    plan.kind = TRowKind::AsStored;
    plan.photometricTag = 2;
    plan.photometric = tpRgb;
    plan.bits = 16;
    plan.samples = 3;
    if (plan.compressionTag == 6 || plan.compressionTag == 7) plan.compressionTag = 1;
    return;
  }
  if (format == ieCMYK) {
    plan.kind = TRowKind::CmykInverted;
    plan.photometricTag = 5;
    plan.photometric = tpSeparated;
    plan.bits = 8;
    plan.samples = 4;
    plan.jpegColorSpace = JCS_CMYK;
    plan.jpegComponents = 4;
    return;
  }

  // ie24RGB in the RGB, CMYK or (JPEG) YCbCr and gray states.
  bool cmyk = params.TiffPhotometric == tpSeparated;
  plan.bits = 8;
  plan.samples = 3;
  plan.photometricTag = 2;
  plan.photometric = tpRgb;
  if (plan.compressionTag == 6 || plan.compressionTag == 7) {
    switch (params.TiffJpegColorSpace) {
      case 1:
        plan.kind = TRowKind::Luminance;
        plan.photometricTag = 1;
        plan.photometric = tpBlackIsZero;
        plan.samples = 1;
        plan.jpegColorSpace = JCS_GRAYSCALE;
        plan.jpegComponents = 1;
        return;
      case 2:
        plan.kind = TRowKind::Rgb;
        plan.photometricTag = 6;
        plan.photometric = tpYCbCr;
        plan.jpegColorSpace = JCS_YCbCr;
        plan.jpegBgr = kJpegTakesBgr;
        return;
      case 3:
        cmyk = true;
        break;
      default:
        cmyk = false;
        break;
    }
    if (!cmyk) {
      plan.kind = TRowKind::Rgb;
      plan.jpegColorSpace = JCS_RGB;
      plan.jpegBgr = kJpegTakesBgr;
      return;
    }
  }
  if (cmyk) {
    plan.kind = TRowKind::CmykFromRgb;
    plan.photometricTag = 5;
    plan.photometric = tpSeparated;
    plan.samples = 4;
    plan.jpegColorSpace = JCS_CMYK;
    plan.jpegComponents = 4;
    return;
  }
  const int c = plan.compressionTag;
  plan.alpha = plan.page->HasAlphaChannel() && !plan.page->Full() &&
               (c == 1 || c == 5 || c == 32773 || c == 32946);
  if (plan.alpha) plan.samples = 4;
  plan.predictor = c == 5 && !plan.alpha;
  plan.kind = plan.predictor ? TRowKind::RgbPredicted : TRowKind::Rgb;
}

// Produces the rows of the page in the file's sample layout.
class TRowSource {
 public:
  explicit TRowSource(const TPlan& plan) : plan_(plan) {
    const int64_t w = plan.page->Width();
    switch (plan.kind) {
      case TRowKind::Bilevel:
      case TRowKind::BilevelCcitt:
        bytes_ = (w + 7) / 8;
        break;
      case TRowKind::AsStored:
        bytes_ = w * (plan.page->BitCount() / 8);
        break;
      case TRowKind::Indexed:
        bytes_ = (w * plan.bits + 7) / 8;
        break;
      default:
        bytes_ = w * plan.samples;
        break;
    }
    buffer_.resize(std::max<size_t>(bytes_, 1));
    if (plan.kind == TRowKind::Indexed) indexes_.resize(std::max<int64_t>(w, 1));
  }
  size_t Bytes() const { return bytes_; }

  const uint8_t* Row(int y) {
    const TIEBitmap& page = *plan_.page;
    const uint8_t* src = page.GetScanline(y);
    const int w = page.Width();
    uint8_t* out = buffer_.data();
    switch (plan_.kind) {
      case TRowKind::Bilevel:
      case TRowKind::AsStored:
        return src;
      case TRowKind::BilevelCcitt:
        for (size_t i = 0; i < bytes_; ++i) out[i] = static_cast<uint8_t>(~src[i]);
        break;
      case TRowKind::RgbPredicted:
        PredictorEncodeRow(src, w, out);
        break;
      case TRowKind::Rgb:
        if (plan_.alpha) {
          const uint8_t* a = page.AlphaChannelIfAny()->GetScanline(y);
          for (int x = 0; x < w; ++x, src += 3, out += 4) {
            out[0] = src[2];
            out[1] = src[1];
            out[2] = src[0];
            out[3] = a[x];
          }
        } else if (plan_.jpegBgr) {
          return src;
        } else {
          SwapRedBlue(src, out, w);
        }
        break;
      case TRowKind::Luminance:
        for (int x = 0; x < w; ++x, src += 3)
          out[x] = static_cast<uint8_t>(Luminance(src[2], src[1], src[0]));
        break;
      case TRowKind::CmykFromRgb:
        for (int x = 0; x < w; ++x, src += 3, out += 4) {
          const int r = src[2], g = src[1], b = src[0];
          int m = std::max({r, g, b});
          const int k = 255 - m;
          if (m == 0) m = 1;
          out[0] = static_cast<uint8_t>(255 - r * 255 / m);
          out[1] = static_cast<uint8_t>(255 - g * 255 / m);
          out[2] = static_cast<uint8_t>(255 - b * 255 / m);
          out[3] = static_cast<uint8_t>(k);
        }
        break;
      case TRowKind::CmykInverted:
        for (size_t i = 0; i < bytes_; ++i) out[i] = static_cast<uint8_t>(~src[i]);
        break;
      case TRowKind::Indexed:
        PackIndexed(src, w);
        break;
    }
    return buffer_.data();
  }

 private:
  void PackIndexed(const uint8_t* src, int w) {
    uint8_t* idx = indexes_.data();
    if (plan_.gray) {
      for (int x = 0; x < w; ++x) idx[x] = static_cast<uint8_t>(src[3 * x] * plan_.levels / 256);
    } else {
      plan_.quantizer->MapPixels(src, w, idx);
    }
    uint8_t* out = buffer_.data();
    const int bits = plan_.bits;
    if (bits == 8) {
      std::memcpy(out, idx, static_cast<size_t>(w));
    } else if (bits == 16) {
      for (int x = 0; x < w; ++x) Put16(out + 2 * x, idx[x] * 257u);
    } else {
      uint32_t acc = 0;
      int have = 0;
      size_t o = 0;
      for (int x = 0; x < w; ++x) {
        acc = (acc << bits) | idx[x];
        have += bits;
        while (have >= 8) {
          have -= 8;
          out[o++] = static_cast<uint8_t>(acc >> have);
        }
      }
      if (have) out[o++] = static_cast<uint8_t>(acc << (8 - have));
    }
  }

  const TPlan& plan_;
  size_t bytes_ = 0;
  std::vector<uint8_t> buffer_;
  std::vector<uint8_t> indexes_;
};

// Row progress and the abort check; false when the page must end.
bool RowDone(TIOProgress& progress, int y, int h) {
  if (progress.OnProgress) progress.OnProgress(progress.Sender, static_cast<int>(y * (100.0 / h)));
  return !progress.Aborting();
}

// Strips of rows through the row codecs (Compression 1 to 5, 32773), each
// encoded straight into the stream.
bool WriteStrips(TStream& out, TPlan& plan, TRowSource& rows, const TIOParamsVals& params,
                 int rowsPerStrip, TIOProgress& progress, std::vector<uint32_t>& offsets,
                 std::vector<uint32_t>& counts) {
  const TIEBitmap& page = *plan.page;
  const int w = page.Width(), h = page.Height();
  TCcittPending pending;
  std::vector<uint8_t> reference;
  const TLzwCompressorFn lzw = params.EffectiveLzwCompressor();
  const int c = plan.compressionTag;
  for (int y0 = 0; y0 < h; y0 += rowsPerStrip) {
    const int y1 = std::min(h, y0 + rowsPerStrip);
    const uint64_t at = out.Position();
    TLzwEncodeState* state = nullptr;
    // A write that throws must not leak the encoder's state.
    struct TLzwGuard {
      TLzwCompressorFn fn;
      TLzwEncodeState*& state;
      ~TLzwGuard() {
        if (state) {
          TMemoryStream sink;
          fn(nullptr, 0, sink, state);
        }
      }
    } guard{lzw, state};
    bool stop = false;
    for (int y = y0; y < y1 && !stop; ++y) {
      const uint8_t* row = rows.Row(y);
      if (c == 2) {
        EncodeMhRow(row, w, out, plan.fillOrder);
      } else if (c == 3 && plan.twoD) {
        EncodeG3Row2D(row, w, out, plan.fillOrder, reference, pending);
      } else if (c == 3) {
        EncodeG3Row1D(row, w, out, plan.fillOrder, pending);
      } else if (c == 4) {
        EncodeG4Row(row, w, out, plan.fillOrder, reference, pending);
      } else if (c == 5) {
        lzw(row, rows.Bytes(), out, state);
      } else if (c == 32773) {
        PackBitsEncodeRow(row, rows.Bytes(), out);
      } else {
        out.Write(row, rows.Bytes());
      }
      stop = !RowDone(progress, y, h);
    }
    // Every strip ends its code stream, so the next starts afresh.
    if (c == 3 && plan.twoD) EncodeG3Row2D(nullptr, w, out, plan.fillOrder, reference, pending);
    if (c == 3 && !plan.twoD) EncodeG3Row1D(nullptr, w, out, plan.fillOrder, pending);
    if (c == 4) EncodeG4Row(nullptr, w, out, plan.fillOrder, reference, pending);
    if (c == 5) lzw(nullptr, 0, out, state);
    if (stop || out.Position() > kMaxOffset) return false;
    offsets.push_back(static_cast<uint32_t>(at));
    counts.push_back(static_cast<uint32_t>(out.Position() - at));
  }
  return true;
}

// The whole page as one zlib stream, written as it is produced.
bool WriteDeflate(TStream& out, TRowSource& rows, int h, int level, TIOProgress& progress,
                  uint64_t& size) {
  z_stream z{};
  if (deflateInit(&z, level) != Z_OK) return false;
  std::vector<uint8_t> buffer(1 << 16);
  const uint64_t start = out.Position();
  bool ok = true;
  auto drain = [&](int flush) {
    int rc = Z_OK;
    do {
      z.next_out = buffer.data();
      z.avail_out = static_cast<uInt>(buffer.size());
      rc = deflate(&z, flush);
      const size_t made = buffer.size() - z.avail_out;
      if (made) out.Write(buffer.data(), made);
    } while (z.avail_out == 0 && rc != Z_STREAM_END);
    return rc;
  };
  try {
    for (int y = 0; y < h && ok; ++y) {
      z.next_in = const_cast<Bytef*>(rows.Row(y));
      z.avail_in = static_cast<uInt>(rows.Bytes());
      drain(Z_NO_FLUSH);
      ok = RowDone(progress, y, h);
    }
    if (ok) ok = drain(Z_FINISH) == Z_STREAM_END;
  } catch (...) {
    deflateEnd(&z);
    throw;
  }
  deflateEnd(&z);
  size = out.Position() - start;
  return ok;
}

// libjpeg's error exit: back to the setjmp of the encode.
struct TJpegError {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};
void JpegErrorExit(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<TJpegError*>(cinfo->err)->jump, 1);
}
void JpegSilent(j_common_ptr, int) {}

// Destination: either a TStream (written as the buffer fills) or memory.
struct TJpegDestination {
  jpeg_destination_mgr pub;
  TStream* stream = nullptr;
  std::vector<uint8_t>* memory = nullptr;
  std::vector<uint8_t> buffer;
  std::exception_ptr failure;
};
void JpegInitDestination(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<TJpegDestination*>(cinfo->dest);
  d->pub.next_output_byte = d->buffer.data();
  d->pub.free_in_buffer = d->buffer.size();
}
bool JpegFlush(TJpegDestination* d, size_t count) {
  try {
    if (d->memory)
      d->memory->insert(d->memory->end(), d->buffer.data(), d->buffer.data() + count);
    else
      d->stream->Write(d->buffer.data(), count);
  } catch (...) {
    d->failure = std::current_exception();
    return false;
  }
  return true;
}
boolean JpegEmptyBuffer(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<TJpegDestination*>(cinfo->dest);
  if (!JpegFlush(d, d->buffer.size()))
    std::longjmp(reinterpret_cast<TJpegError*>(cinfo->err)->jump, 1);
  d->pub.next_output_byte = d->buffer.data();
  d->pub.free_in_buffer = d->buffer.size();
  return TRUE;
}
void JpegTermDestination(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<TJpegDestination*>(cinfo->dest);
  if (!JpegFlush(d, d->buffer.size() - d->pub.free_in_buffer))
    std::longjmp(reinterpret_cast<TJpegError*>(cinfo->err)->jump, 1);
}

struct TJpegJob {
  TRowSource* rows;
  const TPlan* plan;
  int quality;
  TIOProgress* progress;
  bool aborted = false;
};

// Only plain data lives in this frame, so the longjmp skips no destructor.
bool EncodeJpeg(TJpegJob& job, TJpegDestination& dest) {
  jpeg_compress_struct cinfo;
  TJpegError err;
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = JpegErrorExit;
  err.pub.emit_message = JpegSilent;
  if (setjmp(err.jump)) {
    jpeg_destroy_compress(&cinfo);
    return false;
  }
  jpeg_create_compress(&cinfo);
  dest.pub.init_destination = JpegInitDestination;
  dest.pub.empty_output_buffer = JpegEmptyBuffer;
  dest.pub.term_destination = JpegTermDestination;
  cinfo.dest = &dest.pub;
  const TPlan& plan = *job.plan;
  cinfo.image_width = static_cast<JDIMENSION>(plan.page->Width());
  cinfo.image_height = static_cast<JDIMENSION>(plan.page->Height());
  cinfo.input_components = plan.jpegComponents;
  cinfo.in_color_space = plan.jpegComponents == 1   ? JCS_GRAYSCALE
                         : plan.jpegComponents == 4 ? JCS_CMYK
                                                    : JCS_RGB;
#ifdef JCS_EXTENSIONS
  if (plan.jpegBgr) cinfo.in_color_space = JCS_EXT_BGR;
#endif
  jpeg_set_defaults(&cinfo);
  jpeg_set_colorspace(&cinfo, plan.jpegColorSpace);
  jpeg_set_quality(&cinfo, std::clamp(job.quality, 1, 100), TRUE);
  cinfo.write_JFIF_header = FALSE;
  jpeg_start_compress(&cinfo, TRUE);
  const int h = plan.page->Height();
  for (int y = 0; y < h; ++y) {
    JSAMPROW row = const_cast<JSAMPROW>(job.rows->Row(y));
    jpeg_write_scanlines(&cinfo, &row, 1);
    if (!RowDone(*job.progress, y, h)) {
      job.aborted = true;
      jpeg_destroy_compress(&cinfo);
      return false;
    }
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return true;
}

bool RunJpeg(TJpegJob& job, TStream* stream, std::vector<uint8_t>* memory) {
  TJpegDestination dest{};
  dest.stream = stream;
  dest.memory = memory;
  dest.buffer.resize(1 << 16);
  const bool ok = EncodeJpeg(job, dest);
  if (dest.failure) std::rethrow_exception(dest.failure);
  return ok;
}

// Reads the 32-bit little-endian value at position; false past the end.
bool ReadU32(TStream& s, uint64_t position, uint32_t& v) {
  uint8_t b[4];
  s.Seek(position);
  if (s.Read(b, 4) != 4) return false;
  v = b[0] | b[1] << 8 | b[2] << 16 | uint32_t{b[3]} << 24;
  return true;
}

// Insert mode's chain walk. Returns the IFD count, 0 for a stream that is not
// little-endian TIFF; link gets the pointer to rewrite and its old value.
int WalkForInsert(TStream& s, uint64_t start, int index, uint64_t& linkPosition,
                  uint32_t& linkValue) {
  uint8_t head[4];
  s.Seek(start);
  if (s.Read(head, 4) != 4 || head[0] != 'I' || head[1] != 'I' || head[2] != 42 || head[3] != 0)
    return 0;
  const uint64_t size = s.Size();
  uint64_t pointer = start + 4;
  std::vector<uint32_t> visited;
  int i = 0;
  for (;; ++i) {
    uint32_t v = 0;
    if (!ReadU32(s, pointer, v)) v = 0;
    // A pointer outside the file or back into the chain ends it here.
    uint8_t cb[2];
    bool usable = v != 0 && v + uint64_t{2} <= size && i < kMaxChainIfds &&
                  std::find(visited.begin(), visited.end(), v) == visited.end();
    if (usable) {
      s.Seek(v);
      usable = s.Read(cb, 2) == 2 && v + 2 + 12ull * (cb[0] | cb[1] << 8) + 4 <= size;
    }
    if (!usable) v = 0;
    if (i == index || (v == 0 && i < index)) {
      linkPosition = pointer;
      linkValue = v;
    }
    if (v == 0) break;
    visited.push_back(v);
    pointer = v + 2 + 12ull * (cb[0] | cb[1] << 8);
  }
  return i + 1;
}

}  // namespace

int TiffRowsPerStrip(int heightPx, int64_t rowLength) {
  if (heightPx <= 0) return 1;
  const int64_t parts =
      std::max<int64_t>(int64_t{heightPx} * std::max<int64_t>(rowLength, 0) / kStripBytes, 1);
  return static_cast<int>(std::max<int64_t>(heightPx / parts, 1));
}

int WriteTiffStream(TStream& stream, bool insert, const TIEBitmap& bitmap, TIOProgress& progress,
                    TIOParamsVals& params, int bwConversion) {
  if (bitmap.IsEmpty() || bitmap.Width() <= 0 || bitmap.Height() <= 0) {
    progress.Abort();
    return 0;
  }
  const uint64_t start = stream.Position();
  uint64_t linkPosition = 0;
  uint32_t linkValue = 0;
  int pages = 1;
  if (insert) {
    pages = WalkForInsert(stream, start, params.TiffImageIndex(), linkPosition, linkValue);
    if (pages == 0) {
      progress.Abort();
      return 0;
    }
  }

  TPlan plan;
  Prepare(plan, bitmap, params, bwConversion);
  const TIEBitmap& page = *plan.page;
  const int w = page.Width(), h = page.Height();
  TRowSource rows(plan);
  const bool oneStrip =
      plan.compressionTag == 7 || plan.compressionTag == 6 || plan.compressionTag == 32946;
  const int rowsPerStrip = oneStrip ? h : TiffRowsPerStrip(h, page.RowLength());
  const uint32_t strips = static_cast<uint32_t>((int64_t{h} + rowsPerStrip - 1) / rowsPerStrip);
  // Classic TIFF offsets are 32-bit: refuse what cannot fit even uncompressed
  // before any byte is written.
  const uint64_t rawSize = uint64_t{rows.Bytes()} * h;
  if (rawSize / 2 > kMaxOffset) {
    progress.Abort();
    return 0;
  }

  if (insert) {
    stream.Seek(stream.Size());
  } else {
    stream.Seek(start);
    const uint8_t placeholder[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    stream.Write(placeholder, 8);
  }

  TIfdBuilder ifd(stream);
  const TPageMetadata& md = params.Metadata;
  if (!params.HasExifData) {
    ifd.Ascii(270, params.TiffImageDescription);
    ifd.Rational(282, static_cast<uint32_t>(std::max(params.DpiX(), 1)), 1);
    ifd.Rational(283, static_cast<uint32_t>(std::max(params.DpiY(), 1)), 1);
    ifd.Short(296, 2);
  } else {
    ifd.Ascii(270, params.TiffImageDescription);
    auto dpi = [](double v) { return v >= 1 && v < 4294967295.0 ? static_cast<uint32_t>(v) : 0u; };
    if (dpi(params.ExactDpiX())) ifd.Rational(282, dpi(params.ExactDpiX()), 1);
    if (dpi(params.ExactDpiY())) ifd.Rational(283, dpi(params.ExactDpiY()), 1);
    ifd.Short(274, static_cast<uint32_t>(std::clamp(params.Orientation, 1, 8)));
    ifd.Short(296, 2);
    ifd.Ascii(271, md.Make);
    ifd.Ascii(272, md.Model);
    ifd.Ascii(305, md.Software);
    ifd.Ascii(306, md.DateTime);
    ifd.Ascii(315, md.Artist);
    ifd.Ascii(33432, md.Copyright);
    for (const TTagValue& v : md.PageTags) AddTagValue(ifd, v);
    const std::u16string* xp[] = {&md.XPTitle, &md.XPComment, &md.XPAuthor, &md.XPKeywords,
                                  &md.XPSubject};
    for (int i = 0; i < 5; ++i) AddWideText(ifd, static_cast<uint16_t>(40091 + i), *xp[i]);

    TIfdBuilder exif(stream);
    for (const TTagValue& v : md.ExifTags) {
      if (v.Tag == 37510 && !md.UserCommentPrefix.empty()) {
        TTagValue c = v;
        c.Bytes.insert(c.Bytes.begin(), md.UserCommentPrefix.begin(), md.UserCommentPrefix.end());
        c.Count = static_cast<uint32_t>(c.Bytes.size());
        AddTagValue(exif, c);
      } else {
        AddTagValue(exif, v);
      }
    }
    AddMakerNote(exif, stream, md.MakerNoteTags);
    if (!exif.Empty()) ifd.Long(34665, exif.WriteIfd(0));
    const bool gpsVersion =
        std::any_of(md.GpsTags.begin(), md.GpsTags.end(),
                    [](const TTagValue& v) { return v.Tag == 0 && UsableValue(v); });
    if (gpsVersion) {
      TIfdBuilder gps(stream);
      for (const TTagValue& v : md.GpsTags) AddTagValue(gps, v);
      ifd.Long(34853, gps.WriteIfd(0));
    }
    if (exif.Overflow()) progress.Abort();
  }

  ifd.Long(256, static_cast<uint32_t>(w));
  ifd.Long(257, static_cast<uint32_t>(h));
  {
    std::vector<uint16_t> bits(plan.samples, static_cast<uint16_t>(plan.bits));
    if (plan.samples == 1)
      ifd.Short(258, bits[0]);
    else
      ifd.Shorts(258, bits);
  }
  ifd.Short(259, static_cast<uint32_t>(plan.compressionTag));
  ifd.Short(262, static_cast<uint32_t>(plan.photometricTag));
  ifd.Ascii(269, params.TiffDocumentName);
  if (IsCcitt(plan.compressionTag)) {
    ifd.Short(266, static_cast<uint32_t>(plan.fillOrder));
    ifd.Short(284, 1);
    ifd.Short(327, 0);
  }
  const TIfdBuilder::TSlot offsetSlot = ifd.ReserveLongs(273, strips);
  const TIfdBuilder::TSlot countSlot = ifd.ReserveLongs(279, strips);
  ifd.Long(278, static_cast<uint32_t>(rowsPerStrip));
  if (plan.compressionTag == 6) {
    ifd.Long(513, 0);
    ifd.Long(514, 0);
    ifd.Short(512, 1);
    ifd.Shorts(530, {2, 2});
  }
  ifd.Short(277, static_cast<uint32_t>(plan.samples));
  if (plan.alpha) ifd.Short(338, 1);
  if (plan.predictor) ifd.Short(317, 2);
  ifd.Ascii(285, params.TiffPageName);
  auto position = [](int v) {
    const uint64_t n = static_cast<uint64_t>(v) * 10000;
    return n <= kMaxOffset ? std::pair<uint32_t, uint32_t>(static_cast<uint32_t>(n), 10000)
                           : std::pair<uint32_t, uint32_t>(static_cast<uint32_t>(v), 1);
  };
  if (params.TiffXPos > 0)
    ifd.Rational(286, position(params.TiffXPos).first, position(params.TiffXPos).second);
  if (params.TiffYPos > 0)
    ifd.Rational(287, position(params.TiffYPos).first, position(params.TiffYPos).second);
  // Each option tag only with its own scheme: libtiff warns about the other.
  if (plan.compressionTag == 3) ifd.Long(292, plan.twoD ? 1 : 0);
  if (plan.compressionTag == 4) ifd.Long(293, 0);
  ifd.Long(254, 0);
  if (params.TiffPageNumber >= 0 || params.TiffPageCount >= 0)
    ifd.Shorts(297, {static_cast<uint16_t>(std::clamp(params.TiffPageNumber, 0, 65535)),
                     static_cast<uint16_t>(std::clamp(params.TiffPageCount, 0, 65535))});
  if (!md.Iptc.empty()) {
    std::vector<uint8_t> iptc = md.Iptc;
    iptc.resize((iptc.size() + 3) / 4 * 4, 0);
    ifd.Add(33723, kLong, static_cast<uint32_t>(iptc.size() / 4), iptc.data(), iptc.size());
  }
  if (!md.Xmp.empty())
    ifd.Add(700, kByte, static_cast<uint32_t>(md.Xmp.size()), md.Xmp.data(), md.Xmp.size());
  if (ValidIccProfile(md.IccProfile))
    ifd.Add(34675, kUndefined, static_cast<uint32_t>(md.IccProfile.size()), md.IccProfile.data(),
            md.IccProfile.size());
  if (!md.Annotations.empty())
    ifd.Add(32932, kByte, static_cast<uint32_t>(md.Annotations.size()), md.Annotations.data(),
            md.Annotations.size());
  if (plan.photometricTag == 3) {
    std::vector<uint16_t> map(3 * plan.palette.size());
    const size_t n = plan.palette.size();
    for (size_t k = 0; k < n; ++k) {
      map[k] = static_cast<uint16_t>(plan.palette[k].red * 257);
      map[n + k] = static_cast<uint16_t>(plan.palette[k].green * 257);
      map[2 * n + k] = static_cast<uint16_t>(plan.palette[k].blue * 257);
    }
    ifd.Shorts(320, map);
  }

  // Strip data.
  std::vector<uint32_t> offsets, counts;
  bool ok = !ifd.Overflow() && !progress.Aborting();
  if (ok && plan.compressionTag == 32946) {
    static constexpr int kLevels[3] = {1, Z_DEFAULT_COMPRESSION, 9};
    const int level = kLevels[std::clamp(params.TiffZipCompression, 0, 2)];
    const uint64_t at = stream.Position();
    uint64_t size = 0;
    ok = WriteDeflate(stream, rows, h, level, progress, size) && at + size <= kMaxOffset;
    offsets.push_back(static_cast<uint32_t>(at));
    counts.push_back(static_cast<uint32_t>(size));
  } else if (ok && plan.compressionTag == 7) {
    TJpegJob job{&rows, &plan, params.TiffJpegQuality, &progress};
    const uint64_t at = stream.Position();
    ok = RunJpeg(job, &stream, nullptr) && stream.Position() <= kMaxOffset;
    offsets.push_back(static_cast<uint32_t>(at));
    counts.push_back(static_cast<uint32_t>(stream.Position() - at));
  } else if (ok && plan.compressionTag == 6) {
    TJpegJob job{&rows, &plan, params.TiffJpegQuality, &progress};
    std::vector<uint8_t> jpeg;
    ok = RunJpeg(job, nullptr, &jpeg);
    size_t sos = 0;
    while (sos + 1 < jpeg.size() && !(jpeg[sos] == 0xFF && jpeg[sos + 1] == 0xDA)) ++sos;
    const uint64_t at = stream.Position();
    ok = ok && sos + 1 < jpeg.size() && at + jpeg.size() <= kMaxOffset;
    if (ok) {
      stream.Write(jpeg.data(), jpeg.size());
      ifd.SetLong(513, static_cast<uint32_t>(at));
      ifd.SetLong(514, static_cast<uint32_t>(jpeg.size()));
      offsets.push_back(static_cast<uint32_t>(at + sos));
      counts.push_back(static_cast<uint32_t>(jpeg.size() - sos));
    }
  } else if (ok) {
    ok = WriteStrips(stream, plan, rows, params, rowsPerStrip, progress, offsets, counts);
  }
  if (!ok || offsets.size() != strips || stream.Position() > kMaxOffset - 8 - 12 * 64) {
    progress.Abort();
    return 0;
  }
  ifd.Fill(offsetSlot, offsets);
  ifd.Fill(countSlot, counts);

  // Finishing: the IFD, then the pointer that names it.
  ifd.Pad();
  const uint32_t ifdOffset = static_cast<uint32_t>(stream.Position());
  ifd.WriteIfdAt(insert ? linkValue : 0);
  const uint64_t end = stream.Position();
  if (insert) {
    uint8_t b[4];
    Put32(b, ifdOffset);
    stream.Seek(linkPosition);
    stream.Write(b, 4);
  } else {
    uint8_t header[8] = {'I', 'I', 42, 0};
    Put32(header + 4, ifdOffset);
    stream.Seek(start);
    stream.Write(header, 8);
  }
  stream.Seek(end);

  params.Width = w;
  params.Height = h;
  params.BitsPerSample = plan.bits;
  params.SamplesPerPixel = plan.samples;
  params.TiffPhotometric = plan.photometric;
  params.TiffCompression = CompressionKind(plan.compressionTag, plan.twoD, params.TiffCompression);
  params.TiffFillOrder = plan.fillOrder;
  if (plan.photometricTag == 3) params.ColorMap = plan.palette;
  return pages;
}

bool SaveTiffPages(TPageList& pages, const std::string& fileName, TIOProgress& progress,
                   int bwConversion) {
  const int count = pages.PageCount();
  if (count == 0) return false;
  progress.AbortingFlag() = false;
  TAtomicFile file(fileName);
  TStream& stream = file.Stream();
  const uint64_t start = stream.Position();
  TIOProgress pageProgress(progress.AbortingFlag());
  for (int i = 0; i < count; ++i) {
    if (progress.OnProgress)
      progress.OnProgress(progress.Sender, static_cast<int>(i * (100.0 / count)));
    TIOParamsVals& params = pages.Params(i);
    params.SetImageIndex(i);
    stream.Seek(start);
    WriteTiffStream(stream, i > 0, pages.Bitmap(i), pageProgress, params, bwConversion);
    if (progress.Aborting()) return false;
  }
  file.Commit();
  return true;
}

}  // namespace folivo
