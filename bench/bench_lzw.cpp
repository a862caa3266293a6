// Folivo — multi-page TIFF editor.
// Benchmark of the LZW codec on generated A4 pages: encode and row-by-row decode.
//
// Pages: A4 at 300 dpi (2480 x 3508), 24-bit colour with the horizontal
// predictor, 8-bit gray, both scan-like with noise and a photo, and a clean
// 8-bit text page (long strings), strips of 64 rows. Prints the
// median time, MPix/s and MB/s (uncompressed bytes) of our encoder and decoder.
// No peer is measured yet: this target does not link libtiff.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "formats/lzw.h"
#include "formats/predictor.h"
#include "formats/stream.h"

namespace {

using namespace folivo;
using TBytes = std::vector<uint8_t>;

constexpr int kWidth = 2480;   // px
constexpr int kHeight = 3508;  // px
constexpr int kRowsPerStrip = 64;

// Paper with text-like strokes, a photo block with gradients and sensor noise.
// Without the photo and the noise the page is long runs, as clean scans are.
TBytes MakePage(int samples, bool clean) {
  std::mt19937 random(42);
  TBytes page(static_cast<size_t>(kWidth) * kHeight * samples);
  size_t i = 0;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const bool photo = !clean && x > 300 && x < 1800 && y > 1500 && y < 2600;
      const bool ink = !photo && (y % 60 < 30) && (x % 23 < 3 || (y % 60) % 29 < 2);
      for (int s = 0; s < samples; ++s) {
        int v;
        if (photo) {
          v = (x * (s + 2) / 7 + y / 5) & 0xFF;
          v += static_cast<int>(random() % 9) - 4;
        } else {
          v = ink ? 30 : 240;
          if (!clean && random() % 16 == 0) v += static_cast<int>(random() % 5) - 2;
        }
        page[i++] = static_cast<uint8_t>(std::clamp(v, 0, 255));
      }
    }
  return page;
}

std::vector<TBytes> EncodeStrips(const TBytes& page, int samples, bool predictor) {
  const size_t rowBytes = static_cast<size_t>(kWidth) * samples;
  std::vector<TBytes> strips;
  TBytes row(rowBytes);
  for (int y = 0; y < kHeight;) {
    TMemoryStream stream;
    TLzwEncodeState* state = nullptr;
    for (int r = 0; r < kRowsPerStrip && y < kHeight; ++r, ++y) {
      const uint8_t* line = page.data() + y * rowBytes;
      if (predictor) {
        PredictorEncodeRow(line, kWidth, row.data());
        line = row.data();
      }
      LzwCompressor(line, rowBytes, stream, state);
    }
    LzwCompressor(nullptr, 0, stream, state);
    strips.push_back(std::move(stream.Bytes()));
  }
  return strips;
}

// Returns a checksum so the work cannot be optimised away.
uint64_t DecodeStrips(const std::vector<TBytes>& strips, int samples, bool predictor) {
  const int rowBytes = kWidth * samples;
  TBytes row(rowBytes);
  uint64_t sum = 0;
  int y = 0;
  for (const auto& strip : strips) {
    TLzwDecodeState* state = nullptr;
    for (int r = 0; r < kRowsPerStrip && y < kHeight; ++r, ++y) {
      const uint8_t* out = LzwDecompressor(strip.data(), strip.size(), rowBytes, state);
      if (out == nullptr) {
        std::fprintf(stderr, "decode failed at row %d\n", y);
        std::exit(1);
      }
      if (predictor) {
        std::memcpy(row.data(), out, rowBytes);
        PredictorDecodeRow8(row.data(), kWidth, samples);
        out = row.data();
      }
      sum += out[r % rowBytes];
    }
    LzwDecompressor(nullptr, 0, 0, state);
  }
  return sum;
}

template <typename F>
double MedianMs(int iterations, F&& work) {
  std::vector<double> times;
  for (int i = 0; i < iterations; ++i) {
    const auto start = std::chrono::steady_clock::now();
    work();
    const auto end = std::chrono::steady_clock::now();
    times.push_back(std::chrono::duration<double, std::milli>(end - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

void Report(const char* what, double ms, size_t bytes) {
  const double pixels = static_cast<double>(kWidth) * kHeight;
  std::printf("%-28s median %8.2f ms  %8.1f MPix/s  %8.1f MB/s\n", what, ms, pixels / ms / 1e3,
              static_cast<double>(bytes) / ms / 1e3);
}

}  // namespace

int main(int argc, char** argv) {
  const bool smoke = argc > 1 && std::string(argv[1]) == "--smoke";
  const int iterations = smoke ? 1 : 9;
  std::printf("LZW, A4 300 dpi %dx%d, %d rows per strip; peer: none (libtiff not linked)\n", kWidth,
              kHeight, kRowsPerStrip);
  struct TKind {
    const char* Name;
    int Samples;
    bool Predictor;
    bool Clean;
  };
  for (const TKind kind :
       {TKind{"24-bit + predictor", 3, true, false}, TKind{"8-bit gray", 1, false, false},
        TKind{"8-bit clean text", 1, false, true}}) {
    const TBytes page = MakePage(kind.Samples, kind.Clean);
    std::vector<TBytes> strips = EncodeStrips(page, kind.Samples, kind.Predictor);
    size_t coded = 0;
    for (const auto& s : strips) coded += s.size();
    std::printf("%s: %zu bytes -> %zu bytes (%.1f%%)\n", kind.Name, page.size(), coded,
                100.0 * coded / page.size());
    const double encodeMs =
        MedianMs(iterations, [&] { strips = EncodeStrips(page, kind.Samples, kind.Predictor); });
    uint64_t sum = 0;
    const double decodeMs =
        MedianMs(iterations, [&] { sum += DecodeStrips(strips, kind.Samples, kind.Predictor); });
    std::string label = std::string("  encode ") + kind.Name;
    Report(label.c_str(), encodeMs, page.size());
    label = std::string("  decode ") + kind.Name;
    Report(label.c_str(), decodeMs, page.size());
    if (sum == 0) std::printf("  (checksum 0)\n");
  }
  return 0;
}
