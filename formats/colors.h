// Folivo — multi-page TIFF editor.
// Colour values: 0x00BBGGRR numbers, BGR triples, and the luminance rule.
#pragma once

#include <cstdint>

namespace folivo {

struct TColorTriple {
  uint8_t blue = 0;
  uint8_t green = 0;
  uint8_t red = 0;
  bool operator==(const TColorTriple&) const = default;
};

constexpr uint8_t ColorRed(uint32_t color) { return color & 0xFF; }
constexpr uint8_t ColorGreen(uint32_t color) { return (color >> 8) & 0xFF; }
constexpr uint8_t ColorBlue(uint32_t color) { return (color >> 16) & 0xFF; }
constexpr uint32_t MakeColor(uint8_t red, uint8_t green, uint8_t blue) {
  return red | (green << 8) | (static_cast<uint32_t>(blue) << 16);
}
constexpr TColorTriple ColorToTriple(uint32_t color) {
  return TColorTriple{ColorBlue(color), ColorGreen(color), ColorRed(color)};
}
constexpr uint32_t TripleToColor(TColorTriple t) { return MakeColor(t.red, t.green, t.blue); }

// gray = (21 red + 71 green + 8 blue) div 100, wherever a colour becomes one level.
constexpr int Luminance(int red, int green, int blue) { return (21 * red + 71 * green + 8 * blue) / 100; }

}  // namespace folivo
