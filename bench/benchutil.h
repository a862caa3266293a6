// Folivo — multi-page TIFF editor.
// What the benchmarks share: timing, and the pages they work on, made in code.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace folivo::bench {

inline constexpr uint32_t kA4WidthPx = 2480;   // 210 mm at 300 dpi
inline constexpr uint32_t kA4HeightPx = 3508;  // 297 mm at 300 dpi

inline double Seconds(const std::function<void()>& work, int runs) {
  std::vector<double> t;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    work();
    t.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(t.begin(), t.end());
  return t[t.size() / 2];
}

inline std::vector<uint8_t> Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// A page of text: lines of words made of strokes, with margins (bit 1 = black).
inline std::vector<uint8_t> TextPage(uint32_t w, uint32_t h) {
  const size_t rowBytes = (w + 7) / 8;
  std::vector<uint8_t> bits(rowBytes * h, 0);
  std::mt19937 rng(3);
  for (uint32_t line = 150; line + 40 < h - 150; line += 50) {
    uint32_t x = 150;
    while (x + 200 < w - 150) {
      const uint32_t word = 40 + rng() % 160;
      for (uint32_t c = 0; c < word; c += 14) {
        const uint32_t glyph = rng();
        for (uint32_t y = 0; y < 30; ++y)
          for (uint32_t dx = 0; dx < 11; ++dx)
            if (glyph >> ((y / 6) * 3 + dx / 4) & 1) {
              const uint32_t px = x + c + dx, py = line + y;
              bits[py * rowBytes + px / 8] |= static_cast<uint8_t>(0x80 >> (px % 8));
            }
      }
      x += word + 25;
    }
  }
  return bits;
}

// A colour photograph stand-in: smooth gradients with a little noise (RGB).
inline std::vector<uint8_t> PhotoPage(uint32_t w, uint32_t h) {
  std::vector<uint8_t> rgb(size_t{w} * h * 3);
  std::mt19937 rng(5);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      uint8_t* p = &rgb[(size_t{y} * w + x) * 3];
      const uint32_t n = rng() & 7;
      p[0] = static_cast<uint8_t>((x * 255 / w + n) & 255);
      p[1] = static_cast<uint8_t>((y * 255 / h + (x >> 6)) & 255);
      p[2] = static_cast<uint8_t>(((x + y) * 128 / (w + h) + 64 + n) & 255);
    }
  return rgb;
}

}  // namespace folivo::bench
