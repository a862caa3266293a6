// Folivo — multi-page TIFF editor.
// Red and blue swapped in rows of 3-byte pixels: our pages are blue, green,
// red; TIFF, JPEG and PDF rows are red, green, blue.
#pragma once

#include <cstdint>

namespace folivo {

// widthPx pixels from src to d; d may be src (in place) but not overlap it otherwise.
void SwapRedBlue(const uint8_t* src, uint8_t* d, int widthPx);

}  // namespace folivo
