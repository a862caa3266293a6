// Folivo — multi-page TIFF editor.
// TIFF horizontal differencing (Predictor 2, TIFF 6.0 section 14) of one row.
#include "formats/predictor.h"

#include <cstddef>

namespace folivo {

void PredictorEncodeRow(const uint8_t* bgrRow, int widthPx, uint8_t* out) {
  if (widthPx < 1) return;
  const size_t bytes = static_cast<size_t>(widthPx) * 3;
  for (size_t i = 0; i < bytes; i += 3) {
    const uint8_t blue = bgrRow[i];
    out[i + 1] = bgrRow[i + 1];
    out[i] = bgrRow[i + 2];
    out[i + 2] = blue;
  }
  // From the right, so each difference still sees its left neighbour unchanged.
  for (size_t i = bytes - 1; i >= 3; --i) out[i] = static_cast<uint8_t>(out[i] - out[i - 3]);
}

namespace {

template <size_t kSamples>
void UndoFixed8(uint8_t* row, size_t bytes) {
  for (size_t i = kSamples; i < bytes; ++i)
    row[i] = static_cast<uint8_t>(row[i] + row[i - kSamples]);
}

}  // namespace

void PredictorDecodeRow8(uint8_t* row, int widthPx, int samplesPerPixel) {
  if (widthPx < 1 || samplesPerPixel < 1) return;
  const size_t samples = static_cast<size_t>(samplesPerPixel);
  const size_t bytes = static_cast<size_t>(widthPx) * samples;
  switch (samplesPerPixel) {
    case 1:
      UndoFixed8<1>(row, bytes);
      return;
    case 3:
      UndoFixed8<3>(row, bytes);
      return;
    case 4:
      UndoFixed8<4>(row, bytes);
      return;
    default:
      for (size_t i = samples; i < bytes; ++i)
        row[i] = static_cast<uint8_t>(row[i] + row[i - samples]);
  }
}

void PredictorDecodeRow16(uint8_t* row, int widthPx, int samplesPerPixel, bool bigEndian) {
  if (widthPx < 1 || samplesPerPixel < 1) return;
  const size_t samples = static_cast<size_t>(samplesPerPixel);
  const size_t count = static_cast<size_t>(widthPx) * samples;
  // Byte offsets of the high and low byte of a sample.
  const size_t high = bigEndian ? 0 : 1;
  const size_t low = 1 - high;
  for (size_t i = samples; i < count; ++i) {
    uint8_t* sample = row + 2 * i;
    const uint8_t* left = row + 2 * (i - samples);
    const unsigned sum = ((sample[high] << 8) | sample[low]) + ((left[high] << 8) | left[low]);
    sample[high] = static_cast<uint8_t>(sum >> 8);
    sample[low] = static_cast<uint8_t>(sum);
  }
}

}  // namespace folivo
