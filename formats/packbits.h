// Folivo — multi-page TIFF editor.
// PackBits run-length coding of TIFF rows (TIFF 6.0 section 9).
#pragma once

#include <cstddef>
#include <cstdint>

namespace folivo {

class TStream;

// Writes count bytes of row to stream as PackBits packets: runs of 4 to 128
// equal bytes as repeat packets, everything else as literals of up to 128
// bytes. Each row is coded on its own, so no packet spans two rows.
void PackBitsEncodeRow(const uint8_t* row, size_t count, TStream& stream);

// Decodes packets from src[srcPos, srcLength) into dst until dstLength bytes
// are produced or the data ends; returns how many bytes were produced. srcPos
// advances past every packet read, including the part of the last one that did
// not fit (runs never carry over into the next row). Control byte -128 is
// skipped. Never fails; dst beyond the returned count is left unchanged.
size_t PackBitsDecodeRow(const uint8_t* src, size_t srcLength, size_t& srcPos, uint8_t* dst,
                         size_t dstLength);

}  // namespace folivo
