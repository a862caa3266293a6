// Folivo — multi-page TIFF editor.
// PCX pages and multi-page DCX files (ZSoft PCX 3.0 layout, run-length coded).
#pragma once

#include <cstdint>
#include <vector>

#include "formats/params.h"

namespace folivo {

class TIEBitmap;
class TStream;

// Decodes the PCX image that starts at the stream's position. 1 bit × 1 plane
// gives ie1g (bit 1 = white, as PCX stores it), 8 bits × 1 plane ie8p with the
// 256-colour palette at the end (ie8g when it is missing), 8 bits × 3 or 4
// planes ie24RGB (the fourth plane is alpha), and the 16-colour layouts
// (1 bit × 2–4 planes, 2 or 4 bits × 1 plane) ie8p with the header palette.
// Bad input (another layout, sizes the file cannot hold, a truncated run)
// sets Aborting and leaves bitmap empty. params, when given, gets size,
// depth and resolution (300 dpi when the header has none).
void ReadPcxStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals* params,
                   TIOProgress& progress);

// Whether the stream starts (at its position) like a PCX header; restores it.
bool IsPcxStream(TStream& stream);

// Page offsets of a DCX file: empty when the stream is not DCX. At most 1023
// pages, as the format's table holds; offsets beyond the stream are dropped.
std::vector<uint32_t> DcxPageOffsets(TStream& stream);

}  // namespace folivo
