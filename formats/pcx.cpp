// Folivo — multi-page TIFF editor.
// Files in the wild often end a run in the middle of the next row (runs cross
// row ends) and pad rows to an even byte count: both are accepted.
#include "formats/pcx.h"

#include <algorithm>
#include <cstring>

#include "formats/bitmap.h"
#include "formats/stream.h"

namespace folivo {

namespace {

constexpr uint32_t kDcxMagic = 987654321;
constexpr int kDcxMaxPages = 1023;
constexpr int kHeaderBytes = 128;
// A run byte pair expands to at most 63 bytes.
constexpr uint64_t kMaxExpansion = 32;

uint16_t U16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t U32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

bool PlausibleHeader(const uint8_t* h) {
  return h[0] == 0x0A && h[1] <= 5 && h[2] <= 1 &&
         (h[3] == 1 || h[3] == 2 || h[3] == 4 || h[3] == 8);
}

// Run-length decoder reading through a small buffer.
class TRunReader {
 public:
  explicit TRunReader(TStream& s) : s_(s) {}
  // Fills count bytes; false when the data ends first.
  bool Fill(uint8_t* out, size_t count) {
    while (count > 0) {
      if (run_ == 0) {
        int b = Next();
        if (b < 0) return false;
        if ((b & 0xC0) == 0xC0) {
          run_ = b & 0x3F;
          int v = Next();
          if (v < 0) return false;
          value_ = static_cast<uint8_t>(v);
        } else {
          run_ = 1;
          value_ = static_cast<uint8_t>(b);
        }
        if (run_ == 0) continue;
      }
      size_t n = std::min<size_t>(run_, count);
      std::memset(out, value_, n);
      out += n;
      count -= n;
      run_ -= static_cast<int>(n);
    }
    return true;
  }

 private:
  int Next() {
    if (pos_ == len_) {
      len_ = s_.Read(buf_, sizeof buf_);
      pos_ = 0;
      if (len_ == 0) return -1;
    }
    return buf_[pos_++];
  }
  TStream& s_;
  uint8_t buf_[4096];
  size_t pos_ = 0, len_ = 0;
  int run_ = 0;
  uint8_t value_ = 0;
};

}  // namespace

bool IsPcxStream(TStream& stream) {
  const uint64_t at = stream.Position();
  uint8_t h[kHeaderBytes];
  bool ok = stream.Read(h, sizeof h) == sizeof h && PlausibleHeader(h);
  stream.Seek(at);
  return ok;
}

std::vector<uint32_t> DcxPageOffsets(TStream& stream) {
  std::vector<uint32_t> offsets;
  stream.Seek(0);
  uint8_t b[4];
  if (stream.Read(b, 4) != 4 || U32(b) != kDcxMagic) return offsets;
  const uint64_t size = stream.Size();
  for (int i = 0; i < kDcxMaxPages; ++i) {
    if (stream.Read(b, 4) != 4) break;
    uint32_t off = U32(b);
    if (off == 0) break;
    if (off + uint64_t(kHeaderBytes) <= size) offsets.push_back(off);
  }
  return offsets;
}

void ReadPcxStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals* params,
                   TIOProgress& progress) {
  bitmap.FreeImage();
  const uint64_t start = stream.Position();
  uint8_t h[kHeaderBytes];
  if (stream.Read(h, sizeof h) != sizeof h || !PlausibleHeader(h)) {
    progress.Abort();
    return;
  }
  const int bits = h[3];
  const int planes = h[65];
  const int bytesPerLine = U16(h + 66);
  const int xmin = U16(h + 4), ymin = U16(h + 6), xmax = U16(h + 8), ymax = U16(h + 10);
  if (xmax < xmin || ymax < ymin || planes < 1) {
    progress.Abort();
    return;
  }
  const int width = xmax - xmin + 1, height = ymax - ymin + 1;
  const bool mono = bits == 1 && planes == 1;
  const bool sixteen =
      (bits == 1 && planes >= 2 && planes <= 4) || ((bits == 2 || bits == 4) && planes == 1);
  const bool indexed = bits == 8 && planes == 1;
  const bool rgb = bits == 8 && (planes == 3 || planes == 4);
  if (!(mono || sixteen || indexed || rgb) || int64_t(bytesPerLine) * 8 < int64_t(width) * bits) {
    progress.Abort();
    return;
  }
  const uint64_t lineBytes = uint64_t(bytesPerLine) * planes;
  const uint64_t available =
      stream.Size() > start + kHeaderBytes ? stream.Size() - start - kHeaderBytes : 0;
  if (lineBytes * height > available * kMaxExpansion) {
    progress.Abort();
    return;
  }

  // The 256-colour palette sits in the file's last 769 bytes.
  TColorTriple palette[256];
  bool hasPalette256 = false;
  if (indexed && stream.Size() >= start + kHeaderBytes + 769) {
    uint8_t tail[769];
    stream.Seek(stream.Size() - 769);
    if (stream.Read(tail, 769) == 769 && tail[0] == 0x0C) {
      hasPalette256 = true;
      for (int i = 0; i < 256; ++i)
        palette[i] = TColorTriple{tail[1 + 3 * i + 2], tail[1 + 3 * i + 1], tail[1 + 3 * i]};
    }
    stream.Seek(start + kHeaderBytes);
  }

  TPagePixelFormat format = mono ? ie1g : rgb ? ie24RGB : (indexed && !hasPalette256) ? ie8g : ie8p;
  bitmap.Allocate(width, height, format);
  if (format == ie8p) {
    bitmap.SetPaletteLength(256);
    if (indexed) {
      for (int i = 0; i < 256; ++i) bitmap.SetPaletteColor(i, palette[i]);
    } else {
      for (int i = 0; i < 16; ++i)
        bitmap.SetPaletteColor(i,
                               TColorTriple{h[16 + 3 * i + 2], h[16 + 3 * i + 1], h[16 + 3 * i]});
      bitmap.SetPaletteLength(16);
    }
  }
  TIEBitmap* alpha = rgb && planes == 4 ? bitmap.AlphaChannel() : nullptr;

  TRunReader runs(stream);
  std::vector<uint8_t> line(lineBytes);
  for (int y = 0; y < height; ++y) {
    if (progress.Aborting() || !runs.Fill(line.data(), line.size())) {
      progress.Abort();
      bitmap.FreeImage();
      return;
    }
    uint8_t* row = bitmap.GetScanline(y);
    if (mono) {
      std::memcpy(row, line.data(), std::min<size_t>(bitmap.RowLength(), (width + 7) / 8));
    } else if (indexed) {
      std::memcpy(row, line.data(), width);
    } else if (rgb) {
      const uint8_t* r = line.data();
      const uint8_t* g = r + bytesPerLine;
      const uint8_t* b = g + bytesPerLine;
      for (int x = 0; x < width; ++x) {
        row[3 * x] = b[x];
        row[3 * x + 1] = g[x];
        row[3 * x + 2] = r[x];
      }
      if (alpha) std::memcpy(alpha->GetScanline(y), b + bytesPerLine, width);
    } else {
      for (int x = 0; x < width; ++x) {
        int index = 0;
        if (bits == 1) {
          for (int p = 0; p < planes; ++p)
            index |= ((line[p * bytesPerLine + x / 8] >> (7 - x % 8)) & 1) << p;
        } else {
          const int perByte = 8 / bits;
          index = (line[x / perByte] >> ((perByte - 1 - x % perByte) * bits)) & ((1 << bits) - 1);
        }
        row[x] = static_cast<uint8_t>(index);
      }
    }
    if (mono && width % 8) row[width / 8] |= static_cast<uint8_t>(0xFF >> (width % 8));
  }
  if (params) {
    params->Width = width;
    params->Height = height;
    params->BitsPerSample = rgb ? 8 : mono ? 1 : indexed ? 8 : bits * planes;
    params->SamplesPerPixel = rgb ? planes : 1;
    const int dx = U16(h + 12), dy = U16(h + 14);
    params->SetDpiX(dx > 1 ? dx : 300);
    params->SetDpiY(dy > 1 ? dy : 300);
  }
}

}  // namespace folivo
