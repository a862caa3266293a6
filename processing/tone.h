// Folivo — multi-page TIFF editor.
// Tone operations that change values without moving pixels: negative,
// histogram, level stretch, brightness/contrast/saturation, gamma and the
// automatic contrast built from the histogram.
#pragma once

#include <array>
#include <cstdint>

#include "formats/bitmap.h"
#include "formats/colors.h"
#include "processing/imageproc.h"

namespace folivo {

struct THistogramEntry {
  uint32_t Red = 0, Green = 0, Blue = 0, Gray = 0;
};
using THistogram = std::array<THistogramEntry, 256>;

// Rounding used by the tone tables: nearest, ties to even, then 0..255.
uint8_t ClampRound(double v);

// Inverts every pixel of the selection. 1-bit pages stay 1-bit, 8-bit gray
// and 24-bit invert every byte, 16-bit samples become 65535 - v, floats
// 1 - v, a palette page inverts its palette; CMYK and CIELab pages are
// converted to 24-bit first, since their bytes are not plain complements.
// Every pixel of a 24-bit bitmap through one 256-entry table per channel,
// rows on several threads; progress, when given, hears rows done.
void MapRgbTables(TIEBitmap& bitmap, const uint8_t* red, const uint8_t* green, const uint8_t* blue,
                  TIOProgress* progress);

void Negative(TImageProc& proc);

// Counts the selection (mask respected) of the page, converted to 24-bit
// when it is not; no snapshot.
void GetHistogram(TImageProc& proc, THistogram& histogram);

// The two tables of the level stretch of one channel (stretch, then scale).
std::array<uint8_t, 256> HistEqualizeTable(int low, int high);
void HistEqualize(TImageProc& proc, TColorTriple low, TColorTriple high);

// The 256-entry table of brightness and contrast (saturation has its own
// step); exposed for the tests of the curve.
std::array<uint8_t, 256> BrightnessContrastTable(int brightness, int contrast);
void AdjustBrightnessContrastSaturation(TImageProc& proc, int brightness, int contrast,
                                        int saturation);

// channels: 1 red, 2 green, 4 blue. Pages of other formats are converted to
// 24-bit first; a gamma that is not a positive finite number does nothing.
std::array<uint8_t, 256> GammaTable(double gamma);
void GammaCorrect(TImageProc& proc, double gamma, int channels);

// The low and high gray levels the automatic contrast derives from a
// histogram of a page of pixelCount pixels.
void AutoContrastLevels(const THistogram& histogram, int64_t pixelCount, int& low, int& high);
void AutoContrast(TImageProc& proc);

}  // namespace folivo
