// Folivo — multi-page TIFF editor.
// TColorQuantizer: chooses at most N palette colours for a page and maps pixels to them.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "formats/colors.h"

namespace folivo {

// Two passes over the page's pixels as blue, green, red bytes: AddPixels for
// every row, BuildPalette once, then MapPixels for every row.
//
// Method: while the page has at most maxColors distinct colours they are kept
// in a small hash table and become the palette exactly (sorted by 0x00BBGGRR
// value). Beyond that, variance-based median cut (Wan, Wong and
// Prusinkiewicz 1988) over a histogram of 5 bits per channel that keeps each
// cell's colour sums: the box with the largest squared error is split on its
// axis of largest variance at the cut that leaves the least squared error; a
// box's colour is the mean of its pixels; a pixel maps to the palette colour
// nearest to its cell's mean. Memory is fixed (about 1 MiB), no allocation per
// pixel.
class TColorQuantizer {
 public:
  // maxColors is clamped to 1..256.
  explicit TColorQuantizer(int maxColors);
  ~TColorQuantizer();
  TColorQuantizer(const TColorQuantizer&) = delete;
  TColorQuantizer& operator=(const TColorQuantizer&) = delete;

  void AddPixels(const uint8_t* bgr, int count);
  // Returns the palette length: 0 when no pixel was added, else 1..maxColors.
  int BuildPalette();
  const std::vector<TColorTriple>& Palette() const { return palette_; }
  // True when the palette holds every colour of the page.
  bool Exact() const { return !overflow_; }
  // Palette index of each pixel; only after BuildPalette.
  void MapPixels(const uint8_t* bgr, int count, uint8_t* indexes) const;

 private:
  struct TCell;
  static constexpr int kCellBits = 5;
  static constexpr int kCellCount = 1 << (3 * kCellBits);
  static constexpr int kExactSlots = 1024;  // power of two, at least 4 x 256
  static constexpr uint32_t kEmptySlot = 0xFFFFFFFFu;

  static int CellOf(uint8_t red, uint8_t green, uint8_t blue) {
    return ((red >> 3) << 10) | ((green >> 3) << 5) | (blue >> 3);
  }
  // Slot of colour in the exact table, or of the empty slot where it belongs.
  int FindSlot(uint32_t color) const;
  uint8_t Nearest(int red, int green, int blue) const;
  void BuildExact();
  void BuildMedianCut();

  int maxColors_;
  std::unique_ptr<TCell[]> cells_;
  uint32_t slotColor_[kExactSlots];
  uint8_t slotIndex_[kExactSlots];
  int exactCount_ = 0;
  bool overflow_ = false;
  uint64_t total_ = 0;
  std::unique_ptr<uint8_t[]> cellIndex_;  // median cut: palette index per cell
  std::vector<TColorTriple> palette_;
};

}  // namespace folivo
