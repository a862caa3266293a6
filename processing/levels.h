// Folivo — multi-page TIFF editor.
// The levels computation: per-channel histograms, black, gamma and white
// points, the transfer function, the lookup tables, and the arithmetic of
// the dialog's markers.
#pragma once

#include <array>
#include <cstdint>

#include "formats/bitmap.h"
#include "formats/params.h"
#include "processing/imageproc.h"

namespace folivo {

// Channel 0 is the composite, 1 red, 2 green, 3 blue.
struct TLevelChannel {
  std::array<int32_t, 256> Counts{};
  int32_t Peak = 0;
  double Mean = 0.0;
  int32_t BlackPoint = 0;    // 0..253
  float Gamma = 1.0f;        // 0: no gamma step; at most 9.99
  int32_t WhitePoint = 255;  // 2..255
  int32_t OutputBlack = 0;
  int32_t OutputWhite = 255;
};

class TLevelsClass {
 public:
  std::array<uint8_t, 256> RedTable{}, GreenTable{}, BlueTable{};
  bool HistogramReady = false;
  std::array<TLevelChannel, 4> Channels;

  void ResetChannels();
  // Counts an ie24RGB bitmap; other formats are counted from a 24-bit copy.
  void ComputeHistogram(const TIEBitmap& bitmap);
  // Channels outside 0..3 are ignored.
  void SetBlackPoint(int channel, int level);
  void SetWhitePoint(int channel, int level);
  void SetGamma(int channel, float gamma);
  // Colour channel c (0 red, 1 green, 2 blue), x on the 0..1 scale; the
  // colour's record first, then the composite; not clamped.
  double TransferValue(int c, double x) const;
  void BuildTables();
  // Builds the tables and maps every pixel. A page that is not 24-bit is
  // converted first, since the tables apply to 24-bit samples.
  void ApplyToBitmap(TIEBitmap& bitmap, TIOProgress* progress = nullptr);
};

// Marker arithmetic; leftmost and rightmost bound the marker range.
int LevelFromPosition(int position, int leftmost, int rightmost);
float GammaFromPositions(int low, int gamma, int high);
int PositionFromGamma(int low, int high, float gamma);

// The levels applied to the whole page of proc (converted to 24-bit when
// needed), snapshot "Levels".
void ApplyLevels(TImageProc& proc, TLevelsClass& levels);

}  // namespace folivo
