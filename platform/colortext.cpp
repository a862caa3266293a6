// Folivo — multi-page TIFF editor.
#include "platform/colortext.h"

#include <cstdio>
#include <strings.h>

#include "platform/inifile.h"

namespace folivo {

namespace {
struct TNamedColor {
  const char* name;
  uint32_t value;
};
constexpr TNamedColor kNamedColors[] = {
    {"clBlack", 0x000000},  {"clMaroon", 0x000080}, {"clGreen", 0x008000},
    {"clOlive", 0x008080},  {"clNavy", 0x800000},   {"clPurple", 0x800080},
    {"clTeal", 0x808000},   {"clGray", 0x808080},   {"clSilver", 0xC0C0C0},
    {"clRed", 0x0000FF},    {"clLime", 0x00FF00},   {"clYellow", 0x00FFFF},
    {"clBlue", 0xFF0000},   {"clFuchsia", 0xFF00FF}, {"clAqua", 0xFFFF00},
    {"clWhite", 0xFFFFFF},  {"clMoneyGreen", 0xC0DCC0}, {"clSkyBlue", 0xF0CAA6},
    {"clMedGray", 0xA4A0A0}, {"clCream", 0xF0FBFF},
};
}  // namespace

std::string ColorToText(uint32_t color) {
  for (const TNamedColor& c : kNamedColors)
    if (c.value == color) return c.name;
  char text[16];
  std::snprintf(text, sizeof text, "$%08X", color);
  return text;
}

bool TextToColor(const std::string& text, uint32_t& color) {
  for (const TNamedColor& c : kNamedColors)
    if (strcasecmp(c.name, text.c_str()) == 0) {
      color = c.value;
      return true;
    }
  int64_t v;
  if (!ParseIniInteger(text, v)) return false;
  color = static_cast<uint32_t>(v);
  return true;
}

}  // namespace folivo
