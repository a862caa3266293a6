// Folivo — multi-page TIFF editor.
// Small bitmaps built in code for the processing tests.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "formats/bitmap.h"

namespace folivo::test {

using TBgr = std::tuple<int, int, int>;  // blue, green, red as stored

// Rows of '#' (black, 0 bit) and '.' (white, 1 bit).
inline void MakeBits(TIEBitmap& b, const std::vector<std::string>& rows) {
  b.SetLocation(ieMemory);
  b.Allocate(static_cast<int>(rows[0].size()), static_cast<int>(rows.size()), ie1g);
  b.Fill(0);
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x)
      if (rows[y][x] != '#') b.GetScanline(y)[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
}

inline std::vector<std::string> Bits(const TIEBitmap& b) {
  std::vector<std::string> rows;
  for (int y = 0; y < b.Height(); ++y) {
    std::string r;
    for (int x = 0; x < b.Width(); ++x)
      r += ((b.GetScanline(y)[x >> 3] >> (7 - (x & 7))) & 1) ? '.' : '#';
    rows.push_back(r);
  }
  return rows;
}

inline void MakeRgb(TIEBitmap& b, const std::vector<std::vector<TBgr>>& rows) {
  b.SetLocation(ieMemory);
  b.Allocate(static_cast<int>(rows[0].size()), static_cast<int>(rows.size()), ie24RGB);
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) {
      uint8_t* p = b.GetScanline(y) + 3 * x;
      p[0] = static_cast<uint8_t>(std::get<0>(rows[y][x]));
      p[1] = static_cast<uint8_t>(std::get<1>(rows[y][x]));
      p[2] = static_cast<uint8_t>(std::get<2>(rows[y][x]));
    }
}

inline std::vector<std::vector<TBgr>> Rgb(const TIEBitmap& b) {
  std::vector<std::vector<TBgr>> rows(b.Height());
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) {
      const uint8_t* p = b.GetScanline(y) + 3 * x;
      rows[y].emplace_back(p[0], p[1], p[2]);
    }
  return rows;
}

// 24-bit gray: every channel the same value.
inline void MakeGray24(TIEBitmap& b, const std::vector<std::vector<int>>& rows) {
  std::vector<std::vector<TBgr>> rgb;
  for (const auto& r : rows) {
    rgb.emplace_back();
    for (int v : r) rgb.back().emplace_back(v, v, v);
  }
  MakeRgb(b, rgb);
}

// The first channel of every pixel of a 24-bit bitmap, or the byte of an
// 8-bit one.
inline std::vector<std::vector<int>> Gray(const TIEBitmap& b) {
  std::vector<std::vector<int>> rows(b.Height());
  const int step = b.BitCount() / 8;
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) rows[y].push_back(b.GetScanline(y)[x * step]);
  return rows;
}

inline void MakeRandom(TIEBitmap& b, int w, int h, TPagePixelFormat format, unsigned seed) {
  b.SetLocation(ieMemory);
  b.Allocate(w, h, format);
  std::mt19937 rng(seed);
  for (int y = 0; y < h; ++y) {
    uint8_t* row = b.GetScanline(y);
    for (int i = 0; i < b.RowLength(); ++i) row[i] = static_cast<uint8_t>(rng());
  }
}

// Same size, format and pixels (the padding of rows is not compared), and
// the same alpha.
inline bool SamePixels(const TIEBitmap& a, const TIEBitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height() || a.PixelFormat() != b.PixelFormat())
    return false;
  const int bits = a.Width() * a.BitCount();
  for (int y = 0; y < a.Height(); ++y) {
    const uint8_t* p = a.GetScanline(y);
    const uint8_t* q = b.GetScanline(y);
    for (int i = 0; i < bits / 8; ++i)
      if (p[i] != q[i]) return false;
    if (bits % 8) {
      const uint8_t mask = static_cast<uint8_t>(0xFF00 >> (bits % 8));
      if ((p[bits / 8] & mask) != (q[bits / 8] & mask)) return false;
    }
  }
  if (a.HasAlphaChannel() != b.HasAlphaChannel()) return false;
  return !a.HasAlphaChannel() || SamePixels(*a.AlphaChannelIfAny(), *b.AlphaChannelIfAny());
}

}  // namespace folivo::test
