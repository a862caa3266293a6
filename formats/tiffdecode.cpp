// Folivo — multi-page TIFF editor.
// Strips and tiles of TIFF 6.0 pages (sections 3..8, 15, 16, 21 and 23 of the
// TIFF 6.0 document, the Deflate and JPEG tech notes): one row at a time from
// the strip's bytes, through the codec chosen from one table keyed by the
// Compression value, then expanded, un-predicted and converted by a row
// converter chosen once per page. Files in the wild: StripByteCounts missing
// or 0, strips shorter than their rows, FillOrder 2 on any codec (handled, as
// libtiff does, by reversing the coded bytes), big-endian 16-bit samples with
// a predictor, 16-bit colour maps holding 8-bit values.
#include "formats/tiffdecode.h"

#include <zlib.h>
#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>
#include <libdeflate.h>

#include "formats/stream.h"
#include "formats/tiffreader.h"

#include "formats/ccitt.h"
#include "formats/lzw.h"
#include "formats/packbits.h"
#include "formats/predictor.h"
#include "formats/rgbswap.h"

namespace folivo {

namespace {

// Decoded bytes a byte of file data can stand for, by codec. Group 4 codes a
// blank row in one bit, so CCITT is far above the general-purpose codecs.
constexpr uint64_t kRatioUncompressed = 32;
constexpr uint64_t kRatioCcitt = 65536;
constexpr uint64_t kRatioOther = 4096;
// Below this size a page is always allowed (bytes).
constexpr uint64_t kAlwaysAllowedBytes = 32ull << 20;
// Widest tile accepted beyond the page width (pixels).
constexpr uint32_t kTileSlackPx = 65536;

uint8_t gReverseBits[256];
const bool gTablesReady = [] {
  for (int i = 0; i < 256; ++i) {
    int r = 0;
    for (int b = 0; b < 8; ++b)
      if (i & (1 << b)) r |= 0x80 >> b;
    gReverseBits[i] = static_cast<uint8_t>(r);
  }
  return true;
}();

bool IsCcitt(uint32_t c) {
  return c >= 2 && c <= 4;
}

// ---------------------------------------------------------------------------
// Chunk (strip or tile) bytes.

struct TChunkTable {
  const std::vector<uint32_t>* offsets;
  const std::vector<uint32_t>* counts;
  std::vector<uint64_t> estimated;  // sizes for chunks without a byte count
};

// Size of chunk i within the file: its byte count, cut to the file; without
// a count, up to the next chunk that starts after it (or the file's end).
uint64_t ChunkSize(const TTIFFVars& v, const TChunkTable& t, size_t i) {
  const uint64_t at = v.Base + (*t.offsets)[i];
  if (at >= v.StreamSize) return 0;
  const uint64_t rest = v.StreamSize - at;
  if (i < t.counts->size() && (*t.counts)[i] != 0) return std::min<uint64_t>((*t.counts)[i], rest);
  return i < t.estimated.size() ? std::min(t.estimated[i], rest) : rest;
}

TChunkTable MakeChunkTable(const TTIFFVars& v, const std::vector<uint32_t>& offsets,
                           const std::vector<uint32_t>& counts) {
  TChunkTable t{&offsets, &counts, {}};
  bool anyMissing = counts.size() < offsets.size();
  for (size_t i = 0; !anyMissing && i < counts.size(); ++i) anyMissing = counts[i] == 0;
  if (!anyMissing) return t;
  std::vector<uint32_t> sorted(offsets);
  std::sort(sorted.begin(), sorted.end());
  t.estimated.resize(offsets.size());
  for (size_t i = 0; i < offsets.size(); ++i) {
    auto next = std::upper_bound(sorted.begin(), sorted.end(), offsets[i]);
    const uint64_t end = next == sorted.end() ? v.StreamSize : v.Base + *next;
    const uint64_t at = v.Base + offsets[i];
    t.estimated[i] = end > at ? end - at : 0;
  }
  return t;
}

// Reads chunk i into buffer; false when it has no bytes in the file.
// budget limits the bytes one page may read, so that chunks pointing at the
// same bytes over and over cannot turn into endless reading.
bool ReadChunk(const TTIFFVars& v, const TChunkTable& t, size_t i, std::vector<uint8_t>& buffer,
               uint64_t& budget) {
  const uint64_t n = ChunkSize(v, t, i);
  if (n == 0 || n > budget) {
    budget = n > budget ? 0 : budget;
    return false;
  }
  budget -= n;
  buffer.resize(n);
  v.Stream->Seek(v.Base + (*t.offsets)[i]);
  buffer.resize(v.Stream->Read(buffer.data(), n));
  return !buffer.empty();
}

// A chunk's bytes: inside the stream's own memory when it has any, else
// read into own.
struct TChunkBytes {
  const uint8_t* data = nullptr;
  size_t size = 0;
  std::vector<uint8_t> own;
};

// Like ReadChunk, without a copy when the stream is in memory and the bytes
// are only read (writable asks for a copy the caller may change).
bool FetchChunk(const TTIFFVars& v, const TChunkTable& t, size_t i, TChunkBytes& chunk,
                uint64_t& budget, bool writable) {
  const uint8_t* memory = writable ? nullptr : v.Stream->MemoryView();
  if (!memory || v.Stream->Size() != v.StreamSize) {
    const bool ok = ReadChunk(v, t, i, chunk.own, budget);
    chunk.data = chunk.own.data();
    chunk.size = chunk.own.size();
    return ok;
  }
  const uint64_t n = ChunkSize(v, t, i);
  if (n == 0 || n > budget) {
    budget = n > budget ? 0 : budget;
    return false;
  }
  budget -= n;
  chunk.data = memory + v.Base + (*t.offsets)[i];
  chunk.size = static_cast<size_t>(n);
  return true;
}

uint64_t ReadBudget(const TTIFFVars& v) {
  return 8 * v.StreamSize + (16u << 20);
}

// ---------------------------------------------------------------------------
// Row codecs: one row of rowBytes out of the chunk's bytes per call.

enum class TRowStatus { Ok, End, Corrupt };

struct TCodecState {
  const TTIFFVars* vars = nullptr;
  const uint8_t* data = nullptr;
  size_t size = 0;
  size_t pos = 0;
  size_t rowBytes = 0;
  int widthPx = 0;
  int rowsInChunk = 0;
  int row = 0;
  uint64_t bitPos = 0;
  std::vector<uint8_t> reference;
  TLzwDecodeState* lzw = nullptr;
  std::vector<uint8_t>* inflated = nullptr;  // the pipeline's, reused for every chunk
  size_t inflatedRows = 0;
  bool inflateDone = false;

  TCodecState() = default;
  TCodecState(const TCodecState&) = delete;
  TCodecState& operator=(const TCodecState&) = delete;
  ~TCodecState() {
    if (lzw && vars && vars->Lzw) vars->Lzw(nullptr, 0, 0, lzw);
  }
};

// row receives the decoded row: in scratch (rowBytes + 8 bytes) or in bytes
// the codec holds, which stay unchanged.
using TRowDecompressor = TRowStatus (*)(TCodecState& st, uint8_t* scratch, const uint8_t*& row);

TRowStatus DecompressNone(TCodecState& st, uint8_t*, const uint8_t*& row) {
  if (st.pos >= st.size || st.size - st.pos < st.rowBytes) return TRowStatus::End;
  row = st.data + st.pos;
  st.pos += st.rowBytes;
  return TRowStatus::Ok;
}

TRowStatus DecompressPackBits(TCodecState& st, uint8_t* scratch, const uint8_t*& row) {
  if (st.pos >= st.size) return TRowStatus::End;
  const size_t got = PackBitsDecodeRow(st.data, st.size, st.pos, scratch, st.rowBytes);
  if (got < st.rowBytes) std::memset(scratch + got, 0, st.rowBytes - got);
  row = scratch;
  return TRowStatus::Ok;
}

struct TDeflateFree {
  void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

libdeflate_decompressor* ThreadDecompressor() {
  thread_local std::unique_ptr<libdeflate_decompressor, TDeflateFree> d(
      libdeflate_alloc_decompressor());
  return d.get();
}

}  // namespace

size_t InflateTiffChunk(const uint8_t* data, size_t size, uint8_t* out, size_t outSize) {
  size_t got = 0;
  libdeflate_decompressor* d = ThreadDecompressor();
  // The one-shot decoder only takes whole, sound streams that fit; zlib's
  // inflate keeps the bytes before a fault, so it redoes everything else.
  if (d && libdeflate_zlib_decompress(d, data, size, out, outSize, &got) == LIBDEFLATE_SUCCESS)
    return got;
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return 0;
  z.next_in = const_cast<uint8_t*>(data);
  z.avail_in = static_cast<uInt>(std::min<size_t>(size, UINT32_MAX));
  z.next_out = out;
  z.avail_out = static_cast<uInt>(std::min<size_t>(outSize, UINT32_MAX));
  inflate(&z, Z_FINISH);
  got = z.total_out;
  inflateEnd(&z);
  return got;
}

namespace {

TRowStatus DecompressDeflate(TCodecState& st, uint8_t*, const uint8_t*& row) {
  if (!st.inflateDone) {
    st.inflateDone = true;
    st.inflated->resize(st.rowBytes * static_cast<size_t>(st.rowsInChunk));
    st.inflatedRows =
        InflateTiffChunk(st.data, st.size, st.inflated->data(), st.inflated->size()) / st.rowBytes;
  }
  if (static_cast<size_t>(st.row) >= st.inflatedRows) return TRowStatus::End;
  row = st.inflated->data() + static_cast<size_t>(st.row) * st.rowBytes;
  return TRowStatus::Ok;
}

TRowStatus DecompressLzw(TCodecState& st, uint8_t* scratch, const uint8_t*& row) {
  const uint8_t* out = st.vars->Lzw(st.data, st.size, static_cast<int>(st.rowBytes), st.lzw);
  if (!out) return TRowStatus::Corrupt;
  // Our own routine tells when the code stream has ended; rows after that
  // keep the page's previous content, as for the other codecs.
  if (st.vars->Lzw == LzwDecompressor && LzwRowDecodedBytes(st.lzw) == 0) return TRowStatus::End;
  std::memcpy(scratch, out, st.rowBytes);
  row = scratch;
  return TRowStatus::Ok;
}

// The CCITT decoders never fail; a row that consumes nothing ends the strip.
TRowStatus DecompressMh(TCodecState& st, uint8_t* scratch, const uint8_t*& row) {
  if (st.pos >= st.size) return TRowStatus::End;
  const size_t used = DecodeMhRow(scratch, st.data + st.pos, st.size - st.pos,
                                  static_cast<int>(st.vars->FillOrder), st.widthPx);
  if (used == 0) return TRowStatus::End;
  st.pos += used;
  row = scratch;
  return TRowStatus::Ok;
}

TRowStatus DecompressG3(TCodecState& st, uint8_t* scratch, const uint8_t*& row) {
  if (st.bitPos >= uint64_t{st.size} * 8) return TRowStatus::End;
  const int fill = static_cast<int>(st.vars->FillOrder);
  const uint64_t next = (st.vars->T4Options & 1)
                            ? DecodeRow2D(scratch, st.data, st.size, true, fill, st.bitPos,
                                          st.reference.data(), st.widthPx)
                            : DecodeG3Row1D(scratch, st.data, st.size, fill, st.bitPos, st.widthPx);
  if (next == st.bitPos) return TRowStatus::End;
  st.bitPos = next;
  row = scratch;
  return TRowStatus::Ok;
}

TRowStatus DecompressG4(TCodecState& st, uint8_t* scratch, const uint8_t*& row) {
  if (st.bitPos >= uint64_t{st.size} * 8) return TRowStatus::End;
  const uint64_t next =
      DecodeRow2D(scratch, st.data, st.size, (st.vars->T4Options & 4) != 0,
                  static_cast<int>(st.vars->FillOrder), st.bitPos, st.reference.data(), st.widthPx);
  if (next == st.bitPos) return TRowStatus::End;
  st.bitPos = next;
  row = scratch;
  return TRowStatus::Ok;
}

struct TCodecEntry {
  uint32_t compression;
  TRowDecompressor decompress;
  bool fillOrderInCodec;  // the codec reads FillOrder itself
};

// The strip decoder's codecs, keyed by the Compression tag. JPEG (6, 7) is
// decoded whole-chunk through libjpeg instead.
constexpr TCodecEntry kCodecs[] = {
    {1, DecompressNone, false},
    {2, DecompressMh, true},
    {3, DecompressG3, true},
    {4, DecompressG4, true},
    {5, DecompressLzw, false},
    {8, DecompressDeflate, false},
    {32773, DecompressPackBits, false},
    {32946, DecompressDeflate, false},
};

const TCodecEntry* FindCodec(uint32_t compression) {
  for (const TCodecEntry& c : kCodecs)
    if (c.compression == compression) return &c;
  return nullptr;
}

// ---------------------------------------------------------------------------
// Row converters: samples of one row (one byte per sample up to 8 bits,
// little-endian 16-bit words for 16 bits, packed bits for bilevel pages) into
// the bitmap row at pixel dstX.

struct TConverter;
using TConvertFn = void (*)(const TConverter& c, const uint8_t* src, int widthPx, uint8_t* dst,
                            int dstX, uint8_t* alpha);

struct TConverter {
  TConvertFn fn = nullptr;
  int samples = 1;  // samples per pixel in src
  uint8_t xorMask = 0;
  int shift16 = 8;
  bool invert16 = false;
  uint8_t lut[256] = {};
  TColorTriple palette[256] = {};
  int subsampleH = 1;  // YCbCr pixels per chroma pair
};

void ConvertBilevel(const TConverter& c, const uint8_t* src, int widthPx, uint8_t* dst, int dstX,
                    uint8_t*) {
  const int bytes = (widthPx + 7) / 8;
  if ((dstX & 7) == 0) {
    uint8_t* d = dst + dstX / 8;
    if (c.xorMask == 0) {
      std::memcpy(d, src, bytes);
    } else {
      for (int i = 0; i < bytes; ++i) d[i] = static_cast<uint8_t>(src[i] ^ c.xorMask);
    }
    return;
  }
  for (int x = 0; x < widthPx; ++x) {
    const int bit = ((src[x >> 3] ^ c.xorMask) >> (7 - (x & 7))) & 1;
    const int X = dstX + x;
    if (bit)
      dst[X >> 3] |= static_cast<uint8_t>(0x80 >> (X & 7));
    else
      dst[X >> 3] &= static_cast<uint8_t>(~(0x80 >> (X & 7)));
  }
}

void ConvertGrayToBgr(const TConverter& c, const uint8_t* src, int widthPx, uint8_t* dst, int dstX,
                      uint8_t* alpha) {
  uint8_t* d = dst + dstX * 3;
  const int s = c.samples;
  for (int x = 0; x < widthPx; ++x, src += s, d += 3) d[0] = d[1] = d[2] = c.lut[src[0]];
  if (alpha && s == 2) {
    src -= static_cast<ptrdiff_t>(widthPx) * s;
    for (int x = 0; x < widthPx; ++x) alpha[dstX + x] = src[x * 2 + 1];
  }
}

void ConvertGrayTo8(const TConverter& c, const uint8_t* src, int widthPx, uint8_t* dst, int dstX,
                    uint8_t*) {
  uint8_t* d = dst + dstX;
  for (int x = 0; x < widthPx; ++x) d[x] = c.lut[src[x * c.samples]];
}

void ConvertGray16ToBgr(const TConverter& c, const uint8_t* src, int widthPx, uint8_t* dst,
                        int dstX, uint8_t*) {
  uint8_t* d = dst + dstX * 3;
  for (int x = 0; x < widthPx; ++x, d += 3) {
    unsigned v = src[2 * x * c.samples] | src[2 * x * c.samples + 1] << 8;
    if (c.invert16) v = 65535 - v;
    d[0] = d[1] = d[2] = static_cast<uint8_t>(v >> c.shift16);
  }
}

void ConvertGray16To16(const TConverter& c, const uint8_t* src, int widthPx, uint8_t* dst, int dstX,
                       uint8_t*) {
  uint8_t* d = dst + dstX * 2;
  for (int x = 0; x < widthPx; ++x) {
    unsigned v = src[2 * x * c.samples] | src[2 * x * c.samples + 1] << 8;
    if (c.invert16) v = ~v & 0xFFFF;
    d[2 * x] = static_cast<uint8_t>(v);
    d[2 * x + 1] = static_cast<uint8_t>(v >> 8);
  }
}

void ConvertRgbToBgr(const TConverter& c, const uint8_t* src, int widthPx, uint8_t* dst, int dstX,
                     uint8_t* alpha) {
  uint8_t* d = dst + dstX * 3;
  const int s = c.samples;
  if (s == 3) {
    SwapRedBlue(src, d, widthPx);
    return;
  }
  uint8_t* a = (alpha && s == 4) ? alpha + dstX : nullptr;
  for (int x = 0; x < widthPx; ++x, src += s, d += 3) {
    d[0] = src[2];
    d[1] = src[1];
    d[2] = src[0];
    if (a) a[x] = src[3];
  }
}

void ConvertRgb16ToBgr(const TConverter& c, const uint8_t* src, int widthPx, uint8_t* dst, int dstX,
                       uint8_t*) {
  uint8_t* d = dst + dstX * 3;
  const int step = 2 * c.samples;
  for (int x = 0; x < widthPx; ++x, src += step, d += 3) {
    d[0] = src[5];
    d[1] = src[3];
    d[2] = src[1];
  }
}

void ConvertRgb16To48(const TConverter& c, const uint8_t* src, int widthPx, uint8_t* dst, int dstX,
                      uint8_t*) {
  uint8_t* d = dst + dstX * 6;
  const int step = 2 * c.samples;
  for (int x = 0; x < widthPx; ++x, src += step, d += 6) std::memcpy(d, src, 6);
}

void ConvertRgb555(const TConverter& c, const uint8_t* src, int widthPx, uint8_t* dst, int dstX,
                   uint8_t*) {
  uint8_t* d = dst + dstX * 3;
  for (int x = 0; x < widthPx; ++x, d += 3) {
    const unsigned v = src[2 * x] | src[2 * x + 1] << 8;
    d[2] = static_cast<uint8_t>(((v >> 10) & 31) * 8);
    d[1] = static_cast<uint8_t>(((v >> 5) & 31) * 8);
    d[0] = static_cast<uint8_t>((v & 31) * 8);
  }
}

void ConvertPaletteToBgr(const TConverter& c, const uint8_t* src, int widthPx, uint8_t* dst,
                         int dstX, uint8_t* alpha) {
  uint8_t* d = dst + dstX * 3;
  const int s = c.samples;
  for (int x = 0; x < widthPx; ++x, d += 3) {
    const TColorTriple t = c.palette[src[x * s]];
    d[0] = t.blue;
    d[1] = t.green;
    d[2] = t.red;
  }
  if (alpha && s == 2)
    for (int x = 0; x < widthPx; ++x) alpha[dstX + x] = static_cast<uint8_t>(255 - src[2 * x + 1]);
}

void ConvertIndexTo8(const TConverter&, const uint8_t* src, int widthPx, uint8_t* dst, int dstX,
                     uint8_t*) {
  std::memcpy(dst + dstX, src, widthPx);
}

inline void CmykPixel(int c, int m, int y, int k, uint8_t* d) {
  const int kk = 255 - k;
  d[2] = static_cast<uint8_t>((255 - c) * kk / 255);
  d[1] = static_cast<uint8_t>((255 - m) * kk / 255);
  d[0] = static_cast<uint8_t>((255 - y) * kk / 255);
}

void ConvertCmykToBgr(const TConverter& c, const uint8_t* src, int widthPx, uint8_t* dst, int dstX,
                      uint8_t*) {
  uint8_t* d = dst + dstX * 3;
  const int s = c.samples;
  for (int x = 0; x < widthPx; ++x, src += s, d += 3) CmykPixel(src[0], src[1], src[2], src[3], d);
}

void ConvertCmyk16ToBgr(const TConverter& c, const uint8_t* src, int widthPx, uint8_t* dst,
                        int dstX, uint8_t*) {
  uint8_t* d = dst + dstX * 3;
  const int step = 2 * c.samples;
  for (int x = 0; x < widthPx; ++x, src += step, d += 3)
    CmykPixel(src[1], src[3], src[5], src[7], d);
}

void ConvertCmykToCmyk(const TConverter& c, const uint8_t* src, int widthPx, uint8_t* dst, int dstX,
                       uint8_t*) {
  uint8_t* d = dst + dstX * 4;
  const int s = c.samples;
  for (int x = 0; x < widthPx; ++x, src += s, d += 4)
    for (int i = 0; i < 4; ++i) d[i] = static_cast<uint8_t>(255 - src[i]);
}

void ConvertCmyk16ToCmyk(const TConverter& c, const uint8_t* src, int widthPx, uint8_t* dst,
                         int dstX, uint8_t*) {
  uint8_t* d = dst + dstX * 4;
  const int step = 2 * c.samples;
  for (int x = 0; x < widthPx; ++x, src += step, d += 4)
    for (int i = 0; i < 4; ++i) d[i] = static_cast<uint8_t>(255 - src[2 * i + 1]);
}

uint8_t SrgbByte(double linear) {
  double v = linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
  v = std::round(v * 255.0);
  return static_cast<uint8_t>(std::clamp(v, 0.0, 255.0));
}

void ConvertLabToBgr(const TConverter& c, const uint8_t* src, int widthPx, uint8_t* dst, int dstX,
                     uint8_t*) {
  uint8_t* d = dst + dstX * 3;
  const int s = c.samples;
  auto finv = [](double t) {
    constexpr double kDelta = 6.0 / 29.0;
    return t > kDelta ? t * t * t : 3 * kDelta * kDelta * (t - 4.0 / 29.0);
  };
  for (int x = 0; x < widthPx; ++x, src += s, d += 3) {
    const double L = src[0] * 100.0 / 255.0;
    const double a = static_cast<int8_t>(src[1]);
    const double b = static_cast<int8_t>(src[2]);
    const double fy = (L + 16.0) / 116.0;
    const double X = 0.95047 * finv(fy + a / 500.0);
    const double Y = 1.0 * finv(fy);
    const double Z = 1.08883 * finv(fy - b / 200.0);
    const double r = 3.2404542 * X - 1.5371385 * Y - 0.4985314 * Z;
    const double g = -0.9692660 * X + 1.8760108 * Y + 0.0415560 * Z;
    const double bl = 0.0556434 * X - 0.2040259 * Y + 1.0572252 * Z;
    d[2] = SrgbByte(r);
    d[1] = SrgbByte(g);
    d[0] = SrgbByte(bl);
  }
}

inline uint8_t Clamp255(double v) {
  return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : static_cast<int>(v));
}

// Groups of h luma samples then Cb, Cr (subsampling (h, 1)).
void ConvertYCbCrToBgr(const TConverter& c, const uint8_t* src, int widthPx, uint8_t* dst, int dstX,
                       uint8_t*) {
  uint8_t* d = dst + dstX * 3;
  const int h = c.subsampleH;
  for (int x = 0; x < widthPx; x += h, src += h + 2) {
    const double cb = src[h] - 128.0, cr = src[h + 1] - 128.0;
    for (int k = 0; k < h && x + k < widthPx; ++k, d += 3) {
      const double y = src[k];
      d[2] = Clamp255(y + 1.402 * cr);
      d[1] = Clamp255(y - 0.34414 * cb - 0.71414 * cr);
      d[0] = Clamp255(y + 1.772 * cb);
    }
  }
}

// Scales a gray sample of bits bits to 0..255.
int ScaleGray(int v, int bits) {
  switch (bits) {
    case 2:
      return v * 85;
    case 4:
      return v * 17;
    case 7:
      return v * 2;
    case 8:
      return v;
    default:
      return v * 255 / ((1 << bits) - 1);
  }
}

// Picks the converter of a page; false when its layout is not decoded.
bool SetupConverter(const TTIFFVars& v, TPagePixelFormat format, TConverter& c) {
  const uint32_t p = v.Photometric, s = v.SamplesPerPixel, b = v.BitsPerSample;
  c.samples = static_cast<int>(s);
  if (format == ie1g) {
    const bool invert = (p == 0 && (v.Compression == 1 || v.Compression >= 5)) ||
                        (p == 1 && IsCcitt(v.Compression));
    c.xorMask = invert ? 0xFF : 0;
    c.fn = ConvertBilevel;
    return true;
  }
  if ((p == 0 || p == 1) && (s == 1 || s == 2) && b <= 8) {
    if (s == 2 && b != 8) return false;
    for (int i = 0; i < 256; ++i) {
      const int g = std::min(ScaleGray(i & ((1 << b) - 1), static_cast<int>(b)), 255);
      c.lut[i] = static_cast<uint8_t>(p == 0 ? 255 - g : g);
    }
    c.fn = format == ie8g ? ConvertGrayTo8 : ConvertGrayToBgr;
    return true;
  }
  if ((p == 0 || p == 1) && s == 1 && b == 16) {
    c.invert16 = p == 0;
    c.shift16 = v.Software.rfind("Look@Molli v1.1", 0) == 0 ? 4 : 8;
    c.fn = format == ie16g ? ConvertGray16To16 : ConvertGray16ToBgr;
    return true;
  }
  if (p == 2 && s >= 3 && b == 8) {
    c.fn = ConvertRgbToBgr;
    return true;
  }
  if (p == 2 && s >= 3 && b == 16) {
    c.fn = format == ieRGB48 ? ConvertRgb16To48 : ConvertRgb16ToBgr;
    return true;
  }
  if (p == 2 && s == 1 && b == 16) {
    c.fn = ConvertRgb555;
    return true;
  }
  if (p == 3 && (s == 1 || (s == 2 && b == 8)) && b <= 8) {
    const size_t n = std::min<size_t>(v.ColorMap.size(), 256);
    for (size_t k = 0; k < n; ++k) c.palette[k] = v.ColorMap[k];
    if (n == 0) {
      // A palette page without a map: show the indexes as gray levels.
      for (int k = 0; k < 256; ++k) {
        const auto g = static_cast<uint8_t>(std::min(ScaleGray(k & ((1 << b) - 1), b), 255));
        c.palette[k] = TColorTriple{g, g, g};
      }
    }
    c.fn = format == ie8p ? ConvertIndexTo8 : ConvertPaletteToBgr;
    return true;
  }
  if (p == 5 && s >= 4 && b == 8) {
    c.fn = format == ieCMYK ? ConvertCmykToCmyk : ConvertCmykToBgr;
    return true;
  }
  if (p == 5 && s == 4 && b == 16) {
    c.fn = format == ieCMYK ? ConvertCmyk16ToCmyk : ConvertCmyk16ToBgr;
    return true;
  }
  if (p == 8 && s == 3 && b == 8) {
    c.fn = ConvertLabToBgr;
    return true;
  }
  if (p == 6 && s == 3 && b == 8 && v.YCbCrSubSampling[1] == 1 &&
      (v.YCbCrSubSampling[0] == 1 || v.YCbCrSubSampling[0] == 2 || v.YCbCrSubSampling[0] == 4)) {
    c.subsampleH = static_cast<int>(v.YCbCrSubSampling[0]);
    c.fn = ConvertYCbCrToBgr;
    return true;
  }
  return false;
}

// ---------------------------------------------------------------------------
// The row pipeline of one page: codec → samples → converter.

class TRowPipeline {
 public:
  // widthPx: pixels in a decoded row (page or tile width); planes: 1, or S
  // for PlanarConfiguration 2.
  bool Setup(const TTIFFVars& v, TPagePixelFormat format, int widthPx, int planes) {
    vars_ = &v;
    widthPx_ = widthPx;
    planes_ = planes;
    codec_ = FindCodec(v.Compression);
    if (!codec_) return false;
    const uint64_t s = planes > 1 ? 1 : v.SamplesPerPixel;
    const uint64_t b = v.BitsPerSample;
    if (b == 0 || b > 16 || (b > 8 && b != 16) || s == 0 || s > 64) return false;
    if (!SetupConverter(v, format, conv_)) return false;
    bilevel_ = format == ie1g;
    uint64_t rowBytes = (uint64_t{static_cast<uint32_t>(widthPx)} * s * b + 7) / 8;
    if (v.Photometric == 6 && conv_.fn == ConvertYCbCrToBgr) {
      const uint64_t h = conv_.subsampleH;
      rowBytes = (widthPx + h - 1) / h * (h + 2);
    }
    if (rowBytes == 0 || rowBytes > (1ull << 31)) return false;
    rowBytes_ = static_cast<size_t>(rowBytes);
    samplesPerPixel_ = static_cast<int>(s);
    scratch_.assign(planes, std::vector<uint8_t>(rowBytes_ + 16));
    const size_t samplesBytes = static_cast<size_t>(widthPx) * v.SamplesPerPixel * (b > 8 ? 2 : 1);
    expanded_.assign(planes, std::vector<uint8_t>(std::max(samplesBytes, rowBytes_ * 2) + 16));
    if (planes > 1) interleaved_.resize(samplesBytes + 16);
    inflated_.assign(planes, {});
    // PackBits rows whose samples are the bitmap's bytes (up to an in-place
    // pass) are decoded straight into the bitmap row.
    if (v.Compression == 32773 && planes == 1) {
      if (conv_.fn == ConvertBilevel)
        inPlace_ = conv_.xorMask ? TInPlace::Invert : TInPlace::Nothing;
      else if (conv_.fn == ConvertIndexTo8 && s == 1 && b == 8)
        inPlace_ = TInPlace::Nothing;
      else if (conv_.fn == ConvertGrayTo8 && s == 1 && b == 8)
        inPlace_ = TInPlace::Lut;
      else if (conv_.fn == ConvertRgbToBgr && s == 3 && b == 8 && v.Predictor != 2)
        inPlace_ = TInPlace::Swap;
    }
    return true;
  }

  size_t RowBytes() const { return rowBytes_; }
  bool FillOrderInCodec() const { return codec_->fillOrderInCodec; }

  // Whether chunks must be handed over as a copy the pipeline may change.
  bool ChangesChunks() const { return vars_->FillOrder == 2 && !codec_->fillOrderInCodec; }

  void InitState(TCodecState& st, TChunkBytes& chunk, int rows, int plane) {
    if (ChangesChunks())
      for (uint8_t& byte : chunk.own) byte = gReverseBits[byte];
    st.vars = vars_;
    st.data = chunk.data;
    st.size = chunk.size;
    st.inflated = &inflated_[plane];
    st.rowBytes = rowBytes_;
    st.widthPx = widthPx_;
    st.rowsInChunk = rows;
    if (IsCcitt(vars_->Compression)) st.reference.assign(rowBytes_ + 16, 0xFF);
  }

  // Decodes the next row of every plane and stores it into dst at dstX,
  // storeWidth pixels. Returns the codec's status.
  TRowStatus NextRow(TCodecState* states, uint8_t* dst, int dstX, int storeWidth, uint8_t* alpha) {
    if (inPlace_ != TInPlace::No && dstX == 0 && storeWidth == widthPx_)
      return PackBitsIntoRow(states[0], dst);
    const uint8_t* samples = nullptr;
    for (int p = 0; p < planes_; ++p) {
      const uint8_t* row = nullptr;
      const TRowStatus status = codec_->decompress(states[p], scratch_[p].data(), row);
      ++states[p].row;
      if (status != TRowStatus::Ok) return status;
      samples = bilevel_ ? row : PrepareSamples(row, p);
      if (planes_ > 1) Interleave(samples, p);
    }
    if (planes_ > 1) samples = interleaved_.data();
    conv_.fn(conv_, samples, storeWidth, dst, dstX, vars_->IgnoreAlpha ? nullptr : alpha);
    return TRowStatus::Ok;
  }

 private:
  // Expands, swaps and un-predicts one decoded row; returns the samples.
  const uint8_t* PrepareSamples(const uint8_t* row, int plane) {
    const uint32_t b = vars_->BitsPerSample;
    const int count = widthPx_ * samplesPerPixel_;
    const bool predict =
        vars_->Predictor == 2 &&
        (vars_->Compression == 5 || vars_->Compression == 8 || vars_->Compression == 32946);
    if (b == 8) {
      if (predict) {
        uint8_t* own = scratch_[plane].data();
        if (row != own) std::memcpy(own, row, rowBytes_);
        PredictorDecodeRow8(own, widthPx_, samplesPerPixel_);
        return own;
      }
      return row;
    }
    if (b == 16) {
      uint8_t* out = expanded_[plane].data();
      const size_t n = std::min<size_t>(rowBytes_, static_cast<size_t>(count) * 2);
      if (vars_->BigEndian) {
        for (size_t i = 0; i + 1 < n; i += 2) {
          out[i] = row[i + 1];
          out[i + 1] = row[i];
        }
      } else {
        std::memcpy(out, row, n);
      }
      if (predict) PredictorDecodeRow16(out, widthPx_, samplesPerPixel_, false);
      return out;
    }
    uint8_t* out = expanded_[plane].data();
    if (b == 4) {
      const size_t n = (static_cast<size_t>(count) + 1) / 2;
      for (size_t i = 0; i < n; ++i) {
        out[2 * i] = row[i] >> 4;
        out[2 * i + 1] = row[i] & 15;
      }
      return out;
    }
    // 1, 2, 3, 5, 6, 7 bits: most significant bits first.
    const unsigned mask = (1u << b) - 1;
    uint64_t bit = 0;
    for (int i = 0; i < count; ++i, bit += b) {
      const size_t byte = bit >> 3;
      const unsigned word = row[byte] << 8 | (byte + 1 < rowBytes_ ? row[byte + 1] : 0);
      out[i] = static_cast<uint8_t>((word >> (16 - b - (bit & 7))) & mask);
    }
    return out;
  }

  void Interleave(const uint8_t* plane, int p) {
    const int s = static_cast<int>(vars_->SamplesPerPixel);
    if (vars_->BitsPerSample == 16) {
      for (int x = 0; x < widthPx_; ++x) {
        interleaved_[(x * s + p) * 2] = plane[2 * x];
        interleaved_[(x * s + p) * 2 + 1] = plane[2 * x + 1];
      }
    } else {
      for (int x = 0; x < widthPx_; ++x) interleaved_[x * s + p] = plane[x];
    }
  }

  // The pass a row decoded into the bitmap still needs.
  // (RGB stays on the scratch row: swapping red and blue in place stalls on
  // the overlapping 16-byte steps.)
  enum class TInPlace : uint8_t { No, Nothing, Invert, Lut, Swap };

  TRowStatus PackBitsIntoRow(TCodecState& st, uint8_t* dst) {
    ++st.row;
    if (st.pos >= st.size) return TRowStatus::End;
    const size_t got = PackBitsDecodeRow(st.data, st.size, st.pos, dst, rowBytes_);
    if (got < rowBytes_) std::memset(dst + got, 0, rowBytes_ - got);
    switch (inPlace_) {
      case TInPlace::Invert:
        for (size_t i = 0; i < rowBytes_; ++i) dst[i] = static_cast<uint8_t>(~dst[i]);
        break;
      case TInPlace::Lut:
        for (size_t i = 0; i < rowBytes_; ++i) dst[i] = conv_.lut[dst[i]];
        break;
      case TInPlace::Swap:
        SwapRedBlue(dst, dst, widthPx_);
        break;
      default:
        break;
    }
    return TRowStatus::Ok;
  }

  TInPlace inPlace_ = TInPlace::No;
  const TTIFFVars* vars_ = nullptr;
  const TCodecEntry* codec_ = nullptr;
  TConverter conv_;
  bool bilevel_ = false;
  int widthPx_ = 0;
  int planes_ = 1;
  int samplesPerPixel_ = 1;
  size_t rowBytes_ = 0;
  std::vector<std::vector<uint8_t>> scratch_;
  std::vector<std::vector<uint8_t>> expanded_;
  std::vector<uint8_t> interleaved_;
  std::vector<std::vector<uint8_t>> inflated_;
};

// ---------------------------------------------------------------------------
// JPEG.

struct TJpegError {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};

[[noreturn]] void JpegErrorExit(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<TJpegError*>(cinfo->err)->jump, 1);
}
void JpegSilent(j_common_ptr) {}

// What the JPEG path stores rows into.
struct TJpegSink {
  TIEBitmap* bitmap;
  const TConverter* conv;  // nullptr: rows are BGR and copied as they are
  int firstRow;            // page row of the stream's row 0
  int dstX;
  int storeWidth;
  TIEBitmap* alpha;
  int pageHeight;
  TIOProgress* progress;
};

void StoreJpegRow(void* context, int row, const uint8_t* samples, int widthPx) {
  auto* s = static_cast<TJpegSink*>(context);
  const int y = s->firstRow + row;
  if (y < 0 || y >= s->pageHeight) return;
  uint8_t* dst = s->bitmap->GetScanline(y);
  const int n = std::min(widthPx, s->storeWidth);
  if (!s->conv) {
    std::memcpy(dst + s->dstX * 3, samples, static_cast<size_t>(n) * 3);
  } else {
    s->conv->fn(*s->conv, samples, n, dst, s->dstX, nullptr);
  }
}

// Chooses the libjpeg output for a page, and the converter its rows need.
bool SetupJpegOutput(const TTIFFVars& v, TPagePixelFormat format, TJpegOutput& out,
                     TConverter& conv, bool& useConv) {
  TTIFFVars eight = v;
  eight.BitsPerSample = 8;
  eight.Compression = 1;
  useConv = true;
  if ((v.Photometric == 0 || v.Photometric == 1) && v.SamplesPerPixel == 1) {
    out = TJpegOutput::Gray;
    return SetupConverter(eight, format, conv);
  }
  if (v.Photometric == 5 && v.SamplesPerPixel == 4) {
    out = TJpegOutput::Cmyk;
    return SetupConverter(eight, format, conv);
  }
  if (format == ie24RGB) {
    out = TJpegOutput::Bgr;
    useConv = false;
    return true;
  }
  return false;
}

}  // namespace

bool DecodeJpegStream(const uint8_t* data, size_t size, const uint8_t* tables, size_t tablesSize,
                      TJpegOutput output, bool sourceIsRgb, int maxWidthPx, int maxRows,
                      TJpegRowSink sink, void* context, int* widthPx, int* heightPx) {
  if (!data || size == 0) return false;
  jpeg_decompress_struct cinfo;
  TJpegError err;
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = JpegErrorExit;
  err.pub.output_message = JpegSilent;
  jpeg_create_decompress(&cinfo);
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  if (tables && tablesSize > 0) {
    jpeg_mem_src(&cinfo, tables, static_cast<unsigned long>(tablesSize));
    jpeg_read_header(&cinfo, FALSE);
  }
  jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
  jpeg_read_header(&cinfo, TRUE);
  if (widthPx) *widthPx = static_cast<int>(cinfo.image_width);
  if (heightPx) *heightPx = static_cast<int>(cinfo.image_height);
  if (cinfo.image_width == 0 || cinfo.image_width > static_cast<unsigned>(maxWidthPx)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  if (sourceIsRgb && cinfo.num_components == 3) cinfo.jpeg_color_space = JCS_RGB;
  switch (output) {
    case TJpegOutput::Gray:
      cinfo.out_color_space = JCS_GRAYSCALE;
      break;
    case TJpegOutput::Bgr:
      cinfo.out_color_space = JCS_EXT_BGR;
      break;
    case TJpegOutput::Rgb:
      cinfo.out_color_space = JCS_RGB;
      break;
    case TJpegOutput::Cmyk:
      cinfo.out_color_space = JCS_CMYK;
      break;
  }
  jpeg_start_decompress(&cinfo);
  JSAMPARRAY buffer = (*cinfo.mem->alloc_sarray)(
      reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
      cinfo.output_width * static_cast<JDIMENSION>(cinfo.output_components), 1);
  const int rows = std::min(static_cast<int>(cinfo.output_height), maxRows);
  while (static_cast<int>(cinfo.output_scanline) < rows) {
    const int row = static_cast<int>(cinfo.output_scanline);
    if (jpeg_read_scanlines(&cinfo, buffer, 1) != 1) break;
    sink(context, row, buffer[0], static_cast<int>(cinfo.output_width));
  }
  jpeg_abort_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return true;
}

bool TiffPageDataSuffices(const TTIFFVars& v, int bitCount) {
  if (v.ImageWidth == 0 || v.ImageLength == 0) return true;
  if (v.ImageWidth > INT32_MAX || v.ImageLength > INT32_MAX) return false;
  const int64_t rowBytes = RowLengthFor(v.ImageWidth, bitCount);
  if (rowBytes > INT32_MAX) return false;
  const uint64_t pageBytes = static_cast<uint64_t>(rowBytes) * v.ImageLength;
  if (pageBytes <= kAlwaysAllowedBytes) return true;
  const bool tiled = v.HasTileTags && !v.TileOffsets.empty();
  const std::vector<uint32_t>& offsets = tiled ? v.TileOffsets : v.StripOffsets;
  const std::vector<uint32_t>& counts = tiled ? v.TileByteCounts : v.StripByteCounts;
  uint64_t avail = 0;
  const TChunkTable table = MakeChunkTable(v, offsets, counts);
  for (size_t i = 0; i < offsets.size() && avail < v.StreamSize; ++i)
    avail += ChunkSize(v, table, i);
  if (v.Compression == 6 || v.JpegIfOffset != 0)
    avail = std::max<uint64_t>(avail, v.StreamSize > v.Base ? v.StreamSize - v.Base : 0);
  avail = std::min(avail, v.StreamSize);
  const uint64_t ratio = v.Compression == 1       ? kRatioUncompressed
                         : IsCcitt(v.Compression) ? kRatioCcitt
                                                  : kRatioOther;
  return pageBytes / ratio <= avail;
}

namespace {

void ReportRow(TIOProgress& progress) {
  ++progress.Done;
  if (progress.OnProgress) progress.Report(progress.RowStep);
}

TIEBitmap* AlphaFor(const TTIFFVars& v) {
  return v.IgnoreAlpha ? nullptr : v.AlphaMask;
}

uint8_t* AlphaRow(TIEBitmap* alpha, int y) {
  return alpha ? alpha->GetScanline(y) : nullptr;
}

// JPEG strips or tiles (Compression 7).
void DecodeJpegChunks(const TTIFFVars& v, TIEBitmap& bitmap, TIOProgress& progress, bool tiled) {
  const std::vector<uint32_t>& offsets = tiled ? v.TileOffsets : v.StripOffsets;
  const std::vector<uint32_t>& counts = tiled ? v.TileByteCounts : v.StripByteCounts;
  bitmap.Fill(0);
  TJpegOutput output = TJpegOutput::Bgr;
  TConverter conv;
  bool useConv = false;
  if (v.PlanarConfig != 1 || !SetupJpegOutput(v, bitmap.PixelFormat(), output, conv, useConv)) {
    progress.Abort();
    return;
  }
  const int W = bitmap.Width(), H = bitmap.Height();
  const uint32_t cw = tiled ? v.TileWidth : v.ImageWidth;
  const uint32_t ch = tiled ? v.TileLength : std::min(v.RowsPerStrip, v.ImageLength);
  if (cw == 0 || ch == 0 || cw > v.ImageWidth + kTileSlackPx) {
    progress.Abort();
    return;
  }
  const uint64_t across = tiled ? (uint64_t{v.ImageWidth} + cw - 1) / cw : 1;
  const uint64_t down = (uint64_t{v.ImageLength} + ch - 1) / ch;
  const size_t chunks = static_cast<size_t>(std::min<uint64_t>(offsets.size(), across * down));
  const TChunkTable table = MakeChunkTable(v, offsets, counts);
  uint64_t budget = ReadBudget(v);
  const bool hasTables = !v.JpegTables.empty();
  std::vector<uint8_t> data;
  progress.StripStep = chunks ? 100.0 / static_cast<double>(chunks) : 0;
  for (size_t i = 0; i < chunks && !progress.Aborting(); ++i) {
    const int x = static_cast<int>((i % across) * cw);
    const int y = static_cast<int>((i / across) * ch);
    if (y >= H) continue;
    if (!ReadChunk(v, table, i, data, budget)) {
      if (budget == 0) progress.Abort();
      continue;
    }
    TJpegSink sink{&bitmap,  useConv ? &conv : nullptr, y, x, std::min<int>(cw, W - x), nullptr, H,
                   &progress};
    const bool ok =
        DecodeJpegStream(data.data(), data.size(), hasTables ? v.JpegTables.data() : nullptr,
                         v.JpegTables.size(), output, v.Photometric == 2, static_cast<int>(cw),
                         static_cast<int>(ch), StoreJpegRow, &sink);
    if (!ok && !hasTables) progress.Abort();
    progress.Done = static_cast<int64_t>(i) + 1;
    if (progress.OnProgress) progress.Report(progress.StripStep);
  }
}

}  // namespace

void DecodeTiffStrips(const TTIFFVars& v, TIEBitmap& bitmap, TIOProgress& progress) {
  if (v.Compression == 7) {
    DecodeJpegChunks(v, bitmap, progress, false);
    return;
  }
  const int W = bitmap.Width(), H = bitmap.Height();
  const int planes = v.PlanarConfig == 2 ? static_cast<int>(v.SamplesPerPixel) : 1;
  TRowPipeline pipe;
  if (!pipe.Setup(v, bitmap.PixelFormat(), W, planes) ||
      (planes > 1 && bitmap.PixelFormat() == ie1g)) {
    bitmap.Fill(0);
    progress.Abort();
    return;
  }
  const uint32_t rps = std::max<uint32_t>(1, std::min(v.RowsPerStrip, v.ImageLength));
  const size_t perPlane = (v.ImageLength + rps - 1) / rps;
  const size_t strips = planes > 1 ? std::min(perPlane, v.StripOffsets.size() / planes)
                                   : std::min(perPlane, v.StripOffsets.size());
  const TChunkTable table = MakeChunkTable(v, v.StripOffsets, v.StripByteCounts);
  uint64_t budget = ReadBudget(v);
  TIEBitmap* alpha = AlphaFor(v);
  progress.RowStep = 100.0 / H;
  progress.StripStep = strips ? 100.0 / static_cast<double>(strips) : 0;
  progress.Done = 0;
  std::vector<TChunkBytes> data(planes);
  // Rows the data does not reach are cleared afterwards, not every row before.
  std::vector<uint8_t> rowDone(static_cast<size_t>(H), 0);
  const size_t usedBytes = (static_cast<size_t>(W) * bitmap.BitCount() + 7) / 8;
  const size_t padBytes = static_cast<size_t>(bitmap.RowLength()) - usedBytes;
  for (size_t i = 0; i < strips && !progress.Aborting(); ++i) {
    std::vector<TCodecState> states(planes);
    const int first = static_cast<int>(i * rps);
    const int rows = static_cast<int>(std::min<uint64_t>(rps, H - first));
    bool have = true;
    for (int p = 0; p < planes; ++p) {
      if (!FetchChunk(v, table, p * perPlane + i, data[p], budget, pipe.ChangesChunks()))
        have = false;
    }
    if (!have) {
      if (budget == 0) progress.Abort();
      continue;
    }
    for (int p = 0; p < planes; ++p) pipe.InitState(states[p], data[p], rows, p);
    for (int r = 0; r < rows && !progress.Aborting(); ++r) {
      const int y = first + r;
      const TRowStatus st =
          pipe.NextRow(states.data(), bitmap.GetScanline(y), 0, W, AlphaRow(alpha, y));
      if (st == TRowStatus::Corrupt) progress.Abort();
      if (st != TRowStatus::Ok) break;
      rowDone[y] = 1;
      // Padding carries no meaning, but nothing of the heap's past should leak into it.
      std::memset(bitmap.GetScanline(y) + usedBytes, 0, padBytes);
      ReportRow(progress);
    }
  }
  for (int y = 0; y < H; ++y)
    if (!rowDone[y]) std::memset(bitmap.GetScanline(y), 0, static_cast<size_t>(bitmap.RowLength()));
}

void DecodeTiffTiles(const TTIFFVars& v, TIEBitmap& bitmap, TIOProgress& progress) {
  bitmap.Fill(0);
  if (v.PlanarConfig == 2 || v.TileWidth == 0 || v.TileLength == 0 ||
      v.TileWidth > v.ImageWidth + kTileSlackPx) {
    progress.Abort();
    return;
  }
  if (v.Compression == 7) {
    DecodeJpegChunks(v, bitmap, progress, true);
    return;
  }
  const int W = bitmap.Width(), H = bitmap.Height();
  const int tw = static_cast<int>(v.TileWidth);
  TRowPipeline pipe;
  if (!pipe.Setup(v, bitmap.PixelFormat(), tw, 1)) {
    progress.Abort();
    return;
  }
  const uint64_t across = (uint64_t{v.ImageWidth} + tw - 1) / tw;
  const uint64_t down = (uint64_t{v.ImageLength} + v.TileLength - 1) / v.TileLength;
  const size_t tiles = static_cast<size_t>(std::min<uint64_t>(v.TileOffsets.size(), across * down));
  const TChunkTable table = MakeChunkTable(v, v.TileOffsets, v.TileByteCounts);
  uint64_t budget = ReadBudget(v);
  TIEBitmap* alpha = AlphaFor(v);
  progress.RowStep = 100.0 / (static_cast<double>(H) * static_cast<double>(across));
  progress.Done = 0;
  TChunkBytes data;
  for (size_t i = 0; i < tiles && !progress.Aborting(); ++i) {
    const int x = static_cast<int>((i % across) * tw);
    const int y = static_cast<int>((i / across) * v.TileLength);
    if (y >= H) continue;
    if (!FetchChunk(v, table, i, data, budget, pipe.ChangesChunks())) {
      if (budget == 0) progress.Abort();
      continue;
    }
    // Rows below the page are never stored, so they are not decoded either.
    const int rows = static_cast<int>(std::min<uint64_t>(v.TileLength, H - y));
    const int storeWidth = std::min(tw, W - x);
    TCodecState st;
    pipe.InitState(st, data, rows, 0);
    for (int r = 0; r < rows && !progress.Aborting(); ++r) {
      const TRowStatus status =
          pipe.NextRow(&st, bitmap.GetScanline(y + r), x, storeWidth, AlphaRow(alpha, y + r));
      if (status == TRowStatus::Corrupt) progress.Abort();
      if (status != TRowStatus::Ok) break;
      ReportRow(progress);
    }
  }
}

void DecodeOldJpeg(const TTIFFVars& v, TIEBitmap& bitmap, TIOProgress& progress) {
  const int W = static_cast<int>(v.ImageWidth), H = static_cast<int>(v.ImageLength);
  if (W <= 0 || H <= 0 || !TiffPageDataSuffices(v, 24)) {
    progress.Abort();
    return;
  }
  bitmap.Allocate(W, H, ie24RGB);
  bitmap.Fill(0);
  TJpegSink sink{&bitmap, nullptr, 0, 0, W, nullptr, H, &progress};
  TStream& s = *v.Stream;
  auto readAt = [&](uint64_t offset, uint64_t count, std::vector<uint8_t>& out) {
    const uint64_t at = v.Base + offset;
    if (at >= v.StreamSize) return;
    count = std::min(count, v.StreamSize - at);
    if (count == 0) return;
    const size_t old = out.size();
    out.resize(old + count);
    s.Seek(at);
    out.resize(old + s.Read(out.data() + old, count));
  };

  if (!v.StripByteCounts.empty()) {
    std::vector<uint8_t> header;
    if (v.JpegIfOffset != 0) readAt(v.JpegIfOffset, v.JpegIfByteCount, header);
    // Strips after the first lack the marker segment strip 0 starts with.
    std::vector<uint8_t> firstSegment;
    if (!v.StripOffsets.empty()) {
      std::vector<uint8_t> head;
      readAt(v.StripOffsets[0], 4, head);
      if (head.size() == 4) readAt(v.StripOffsets[0], 2 + (head[2] << 8 | head[3]), firstSegment);
    }
    const size_t strips = std::min(v.StripOffsets.size(), v.StripByteCounts.size());
    const uint32_t rps = std::max<uint32_t>(1, v.RowsPerStrip);
    uint64_t budget = ReadBudget(v);
    for (size_t r = 0; r < strips && !progress.Aborting(); ++r) {
      const uint64_t firstRow = uint64_t{rps} * r;
      if (firstRow >= static_cast<uint64_t>(H)) break;
      std::vector<uint8_t> stream = header;
      if (r > 0) stream.insert(stream.end(), firstSegment.begin(), firstSegment.end());
      readAt(v.StripOffsets[r], v.StripByteCounts[r], stream);
      if (stream.size() > budget) {
        progress.Abort();
        return;
      }
      budget -= stream.size();
      sink.firstRow = static_cast<int>(firstRow);
      if (!DecodeJpegStream(stream.data(), stream.size(), nullptr, 0, TJpegOutput::Bgr, false, W,
                            H - static_cast<int>(firstRow), StoreJpegRow, &sink)) {
        progress.Abort();
        return;
      }
      progress.Done = static_cast<int64_t>(r) + 1;
      if (progress.OnProgress)
        progress.OnProgress(progress.Sender, static_cast<int>(100.0 * r / strips));
    }
    return;
  }

  uint64_t start = v.JpegIfOffset != 0       ? v.JpegIfOffset
                   : !v.StripOffsets.empty() ? v.StripOffsets[0]
                                             : 0;
  std::vector<uint8_t> bytes;
  readAt(start, UINT64_MAX, bytes);
  // The stream's length is found by walking its marker segments to EOI.
  size_t i = 0, end = 0;
  while (i + 1 < bytes.size()) {
    if (bytes[i] == 0xFF) {
      const uint8_t m = bytes[i + 1];
      if ((m >= 0xC0 && m <= 0xCF) || (m >= 0xDA && m <= 0xFE)) {
        if (i + 3 >= bytes.size()) break;
        i += 2 + (bytes[i + 2] << 8 | bytes[i + 3]);
        continue;
      }
      if (m == 0xD9) {
        end = i + 2;
        break;
      }
    }
    ++i;
  }
  if (end == 0) {
    progress.Abort();
    return;
  }
  if (!DecodeJpegStream(bytes.data(), end, nullptr, 0, TJpegOutput::Bgr, false, W, H, StoreJpegRow,
                        &sink))
    progress.Abort();
}

}  // namespace folivo
