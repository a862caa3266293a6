// Folivo — multi-page TIFF editor.
// Colour values as settings text: the twenty colour names or "$" and eight hex digits.
#pragma once

#include <cstdint>
#include <string>

namespace folivo {

// A colour value 0x00BBGGRR as written to settings.
std::string ColorToText(uint32_t color);
// A colour name of the table, or a number (decimal or "$" hex). False for
// anything else; color is then unchanged.
bool TextToColor(const std::string& text, uint32_t& color);

}  // namespace folivo
