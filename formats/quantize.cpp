// Folivo — multi-page TIFF editor.
// Exact palette for pages with few colours, median cut for the others.
#include "formats/quantize.h"

#include <algorithm>
#include <cstring>

namespace folivo {

struct TColorQuantizer::TCell {
  uint64_t count = 0;
  uint64_t red = 0;  // sums of the channel over the cell's pixels
  uint64_t green = 0;
  uint64_t blue = 0;
};

namespace {

uint32_t HashColor(uint32_t color) {
  return (color * 2654435761u) >> 22;
}  // 10 bits

struct TEntry {  // one non-empty histogram cell
  int cell;
  uint8_t mean[3];  // red, green, blue
  uint64_t count;
};

struct TBox {
  int begin;
  int end;
  double error = 0;  // summed squared distance of the pixels to the box mean
  int axis = 0;      // channel of the largest spread
};

// Error and axis of a box from its entries, each weighted by its pixel count.
void Measure(TBox& box, const std::vector<TEntry>& entries) {
  double n = 0, sum[3] = {}, squares[3] = {};
  for (int i = box.begin; i < box.end; ++i) {
    const double w = static_cast<double>(entries[i].count);
    n += w;
    for (int c = 0; c < 3; ++c) {
      const double v = entries[i].mean[c];
      sum[c] += w * v;
      squares[c] += w * v * v;
    }
  }
  box.error = 0;
  double widest = -1;
  for (int c = 0; c < 3; ++c) {
    const double spread = n > 0 ? squares[c] - sum[c] * sum[c] / n : 0;
    box.error += spread;
    if (spread > widest) {
      widest = spread;
      box.axis = c;
    }
  }
}

}  // namespace

TColorQuantizer::TColorQuantizer(int maxColors)
    : maxColors_(std::clamp(maxColors, 1, 256)), cells_(new TCell[kCellCount]) {
  std::fill(std::begin(slotColor_), std::end(slotColor_), kEmptySlot);
  std::memset(slotIndex_, 0, sizeof slotIndex_);
}

TColorQuantizer::~TColorQuantizer() = default;

int TColorQuantizer::FindSlot(uint32_t color) const {
  int slot = static_cast<int>(HashColor(color));
  while (slotColor_[slot] != color && slotColor_[slot] != kEmptySlot)
    slot = (slot + 1) & (kExactSlots - 1);
  return slot;
}

void TColorQuantizer::AddPixels(const uint8_t* bgr, int count) {
  if (count <= 0) return;
  TCell* cells = cells_.get();
  uint32_t last = kEmptySlot;
  for (int i = 0; i < count; ++i, bgr += 3) {
    const uint8_t blue = bgr[0], green = bgr[1], red = bgr[2];
    TCell& cell = cells[CellOf(red, green, blue)];
    ++cell.count;
    cell.red += red;
    cell.green += green;
    cell.blue += blue;
    if (overflow_) continue;
    const uint32_t color = MakeColor(red, green, blue);
    if (color == last) continue;
    last = color;
    const int slot = FindSlot(color);
    if (slotColor_[slot] == kEmptySlot) {
      if (exactCount_ == maxColors_) {
        overflow_ = true;
        continue;
      }
      slotColor_[slot] = color;
      ++exactCount_;
    }
  }
  total_ += static_cast<uint64_t>(count);
}

int TColorQuantizer::BuildPalette() {
  palette_.clear();
  if (total_ == 0) return 0;
  if (overflow_)
    BuildMedianCut();
  else
    BuildExact();
  return static_cast<int>(palette_.size());
}

void TColorQuantizer::BuildExact() {
  std::vector<uint32_t> colors;
  for (uint32_t c : slotColor_)
    if (c != kEmptySlot) colors.push_back(c);
  std::sort(colors.begin(), colors.end());
  for (size_t i = 0; i < colors.size(); ++i) {
    palette_.push_back(ColorToTriple(colors[i]));
    slotIndex_[FindSlot(colors[i])] = static_cast<uint8_t>(i);
  }
}

void TColorQuantizer::BuildMedianCut() {
  std::vector<TEntry> entries;
  for (int cell = 0; cell < kCellCount; ++cell) {
    const TCell& c = cells_[cell];
    if (c.count == 0) continue;
    const auto mean = [&](uint64_t sum) { return uint8_t((sum + c.count / 2) / c.count); };
    entries.push_back({cell, {mean(c.red), mean(c.green), mean(c.blue)}, c.count});
  }

  std::vector<TBox> boxes;
  boxes.push_back({0, static_cast<int>(entries.size())});
  Measure(boxes[0], entries);
  while (static_cast<int>(boxes.size()) < maxColors_) {
    int best = -1;
    for (size_t i = 0; i < boxes.size(); ++i)
      if (boxes[i].end - boxes[i].begin >= 2 && boxes[i].error > 0 &&
          (best < 0 || boxes[i].error > boxes[best].error))
        best = static_cast<int>(i);
    if (best < 0) break;
    TBox& box = boxes[best];
    const int axis = box.axis;
    std::sort(entries.begin() + box.begin, entries.begin() + box.end,
              [axis](const TEntry& a, const TEntry& b) { return a.mean[axis] < b.mean[axis]; });
    // The cut that leaves the least squared error on this axis is the one
    // that maximises n1 m1^2 + n2 m2^2; unlike the median it falls into the
    // gap between two clusters rather than through one.
    double totalCount = 0, totalSum = 0;
    for (int i = box.begin; i < box.end; ++i) {
      totalCount += static_cast<double>(entries[i].count);
      totalSum += static_cast<double>(entries[i].count) * entries[i].mean[axis];
    }
    double leftCount = 0, leftSum = 0, bestScore = -1;
    int split = box.begin + 1;
    for (int i = box.begin; i < box.end - 1; ++i) {
      leftCount += static_cast<double>(entries[i].count);
      leftSum += static_cast<double>(entries[i].count) * entries[i].mean[axis];
      if (entries[i].mean[axis] == entries[i + 1].mean[axis]) continue;
      const double rightCount = totalCount - leftCount, rightSum = totalSum - leftSum;
      const double score = leftSum * leftSum / leftCount + rightSum * rightSum / rightCount;
      if (score > bestScore) {
        bestScore = score;
        split = i + 1;
      }
    }
    if (bestScore < 0) {
      // Every entry has the same value on this axis but the box still has
      // spread elsewhere: cut in the middle, the next round picks the axis again.
      split = box.begin + (box.end - box.begin) / 2;
    }
    TBox upper{split, box.end};
    box.end = split;
    Measure(box, entries);
    Measure(upper, entries);
    boxes.push_back(upper);
  }

  for (const TBox& box : boxes) {
    uint64_t red = 0, green = 0, blue = 0, count = 0;
    for (int i = box.begin; i < box.end; ++i) {
      const TCell& c = cells_[entries[i].cell];
      red += c.red;
      green += c.green;
      blue += c.blue;
      count += c.count;
    }
    palette_.push_back(TColorTriple{uint8_t((blue + count / 2) / count),
                                    uint8_t((green + count / 2) / count),
                                    uint8_t((red + count / 2) / count)});
  }

  // Every cell maps to the palette colour nearest its mean (empty cells to
  // the one nearest their centre), so MapPixels is one table look-up.
  cellIndex_.reset(new uint8_t[kCellCount]);
  std::vector<uint8_t> isEntry(kCellCount, 0);
  std::vector<TEntry> byCell(kCellCount);
  for (const TEntry& e : entries) {
    isEntry[e.cell] = 1;
    byCell[e.cell] = e;
  }
  for (int cell = 0; cell < kCellCount; ++cell) {
    int red, green, blue;
    if (isEntry[cell]) {
      red = byCell[cell].mean[0];
      green = byCell[cell].mean[1];
      blue = byCell[cell].mean[2];
    } else {
      red = ((cell >> 10) << 3) + 4;
      green = (((cell >> 5) & 31) << 3) + 4;
      blue = ((cell & 31) << 3) + 4;
    }
    cellIndex_[cell] = Nearest(red, green, blue);
  }
}

uint8_t TColorQuantizer::Nearest(int red, int green, int blue) const {
  int best = 0;
  int bestDistance = 1 << 30;
  for (size_t i = 0; i < palette_.size(); ++i) {
    const int dr = red - palette_[i].red, dg = green - palette_[i].green,
              db = blue - palette_[i].blue;
    const int distance = dr * dr + dg * dg + db * db;
    if (distance < bestDistance) {
      bestDistance = distance;
      best = static_cast<int>(i);
    }
  }
  return static_cast<uint8_t>(best);
}

void TColorQuantizer::MapPixels(const uint8_t* bgr, int count, uint8_t* indexes) const {
  if (palette_.empty()) {
    std::memset(indexes, 0, count > 0 ? static_cast<size_t>(count) : 0);
    return;
  }
  if (overflow_) {
    const uint8_t* table = cellIndex_.get();
    for (int i = 0; i < count; ++i, bgr += 3) indexes[i] = table[CellOf(bgr[2], bgr[1], bgr[0])];
    return;
  }
  uint32_t last = kEmptySlot;
  uint8_t lastIndex = 0;
  for (int i = 0; i < count; ++i, bgr += 3) {
    const uint32_t color = MakeColor(bgr[2], bgr[1], bgr[0]);
    if (color != last) {
      const int slot = FindSlot(color);
      // A colour the histogram never saw (rows differing between the passes)
      // takes the nearest entry.
      lastIndex = slotColor_[slot] == color ? slotIndex_[slot] : Nearest(bgr[2], bgr[1], bgr[0]);
      last = color;
    }
    indexes[i] = lastIndex;
  }
}

}  // namespace folivo
