// Folivo — multi-page TIFF editor.
#include "platform/clipboardraw.h"

#include <cstring>

#include "formats/bitmap.h"

namespace folivo {

namespace {

constexpr char kMagic[] = "FOLIVORAW1";
constexpr int kMagicBytes = 10;
constexpr int kHeaderBytes = kMagicBytes + 5 * 4;

void Put32(QByteArray& out, uint32_t v) {
  char b[4] = {char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF), char(v >> 24)};
  out.append(b, 4);
}
uint32_t Get32(const char* p) {
  auto u = reinterpret_cast<const uint8_t*>(p);
  return u[0] | (u[1] << 8) | (u[2] << 16) | (uint32_t(u[3]) << 24);
}
int64_t PackedRow(int width, int bits) {
  return (int64_t(width) * bits + 7) / 8;
}

}  // namespace

QByteArray SerializeBitmap(const TIEBitmap& bitmap) {
  QByteArray out;
  if (bitmap.IsEmpty()) return out;
  const int64_t row = PackedRow(bitmap.Width(), bitmap.BitCount());
  const TIEBitmap* alpha = bitmap.AlphaChannelIfAny();
  out.reserve(kHeaderBytes + bitmap.PaletteLength() * 3 + row * bitmap.Height() * (alpha ? 2 : 1));
  out.append(kMagic, kMagicBytes);
  Put32(out, bitmap.Width());
  Put32(out, bitmap.Height());
  Put32(out, bitmap.PixelFormat());
  Put32(out, bitmap.PaletteLength());
  Put32(out, alpha ? 1 : 0);
  for (int i = 0; i < bitmap.PaletteLength(); ++i) {
    TColorTriple c = bitmap.GetPaletteColor(i);
    out.append(char(c.blue)).append(char(c.green)).append(char(c.red));
  }
  for (int y = 0; y < bitmap.Height(); ++y)
    out.append(reinterpret_cast<const char*>(bitmap.GetScanline(y)), row);
  if (alpha)
    for (int y = 0; y < alpha->Height(); ++y)
      out.append(reinterpret_cast<const char*>(alpha->GetScanline(y)), bitmap.Width());
  return out;
}

bool DeserializeBitmap(const QByteArray& data, TIEBitmap& bitmap) {
  if (data.size() < kHeaderBytes || std::memcmp(data.constData(), kMagic, kMagicBytes) != 0)
    return false;
  const char* p = data.constData() + kMagicBytes;
  const uint32_t width = Get32(p), height = Get32(p + 4), format = Get32(p + 8);
  const uint32_t paletteLength = Get32(p + 12), hasAlpha = Get32(p + 16);
  if (width < 1 || height < 1 || width > 1u << 20 || height > 1u << 20 || paletteLength > 256 ||
      hasAlpha > 1)
    return false;
  const int bits = PixelFormatBitCount(static_cast<TPagePixelFormat>(format));
  if (bits == 0) return false;
  const int64_t row = PackedRow(int(width), bits);
  const int64_t expected = kHeaderBytes + int64_t(paletteLength) * 3 + row * height +
                           (hasAlpha ? int64_t(width) * height : 0);
  if (expected != data.size()) return false;
  TIEBitmap result(int(width), int(height), static_cast<TPagePixelFormat>(format));
  const char* q = p + 20;
  if (paletteLength > 0) {
    result.SetPaletteLength(int(paletteLength));
    for (uint32_t i = 0; i < paletteLength; ++i, q += 3)
      result.SetPaletteColor(int(i), TColorTriple{uint8_t(q[0]), uint8_t(q[1]), uint8_t(q[2])});
  }
  for (uint32_t y = 0; y < height; ++y, q += row) std::memcpy(result.GetScanline(int(y)), q, row);
  if (hasAlpha) {
    TIEBitmap* alpha = result.AlphaChannel();
    for (uint32_t y = 0; y < height; ++y, q += width)
      std::memcpy(alpha->GetScanline(int(y)), q, width);
  }
  bitmap.Assign(result);
  return true;
}

}  // namespace folivo
