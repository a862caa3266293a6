// Folivo — multi-page TIFF editor.
// TIFF horizontal differencing (Predictor 2, TIFF 6.0 section 14) of one row.
#pragma once

#include <cstdint>

namespace folivo {

// Writer side: converts widthPx pixels of bgrRow (blue, green, red) to red,
// green, blue order in out (3 x widthPx bytes) and differences them: every
// sample after the first pixel becomes itself minus the same sample of the
// pixel to its left, modulo 256. out may be bgrRow itself.
void PredictorEncodeRow(const uint8_t* bgrRow, int widthPx, uint8_t* out);

// Reader side, in place: each 8-bit sample of widthPx pixels with
// samplesPerPixel samples becomes itself plus the same sample of the previous
// pixel, left to right, modulo 256. Nothing happens for widthPx or
// samplesPerPixel below 1.
void PredictorDecodeRow8(uint8_t* row, int widthPx, int samplesPerPixel);

// Likewise for 16-bit samples (modulo 65536) stored in the file's byte order;
// the row stays in that byte order.
void PredictorDecodeRow16(uint8_t* row, int widthPx, int samplesPerPixel, bool bigEndian);

}  // namespace folivo
