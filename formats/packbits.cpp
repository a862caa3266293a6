// Folivo — multi-page TIFF editor.
// PackBits run-length coding of TIFF rows (TIFF 6.0 section 9).
//
// Packets: control n in 0..127 is followed by n + 1 literal bytes; n in
// -127..-1 by one byte repeated 1 - n times; -128 is a no-op. The encoder
// leaves runs shorter than 4 in literals, where a repeat packet would not
// save anything and would split the literal.
#include "formats/packbits.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "formats/stream.h"

namespace folivo {

namespace {

constexpr size_t kMaxPacketBytes = 128;
constexpr size_t kMinRunBytes = 4;

}  // namespace

void PackBitsEncodeRow(const uint8_t* row, size_t count, TStream& stream) {
  if (count == 0) return;
  // Worst case: all literals, one control byte per 128 bytes.
  // One buffer per thread for all rows: an allocation per row shows in the writer's time.
  thread_local std::vector<uint8_t> out;
  out.resize(count + count / kMaxPacketBytes + 1);
  uint8_t* put = out.data();
  size_t literalStart = 0;
  size_t literalLength = 0;
  auto flushLiteral = [&] {
    if (literalLength == 0) return;
    *put++ = static_cast<uint8_t>(literalLength - 1);
    std::memcpy(put, row + literalStart, literalLength);
    put += literalLength;
    literalLength = 0;
  };

  size_t pos = 0;
  while (pos < count) {
    const uint8_t value = row[pos];
    const size_t limit = std::min(count - pos, kMaxPacketBytes);
    size_t run = 1;
    while (run < limit && row[pos + run] == value) ++run;
    if (run >= kMinRunBytes) {
      flushLiteral();
      *put++ = static_cast<uint8_t>(1 - static_cast<int>(run));
      *put++ = value;
      pos += run;
    } else {
      if (literalLength == kMaxPacketBytes) flushLiteral();
      if (literalLength == 0) literalStart = pos;
      ++literalLength;
      ++pos;
    }
  }
  flushLiteral();
  stream.Write(out.data(), static_cast<size_t>(put - out.data()));
}

namespace {

// Copies and fills of up to 128 bytes in 16-byte blocks, the last block
// overlapping the one before, so that nothing outside [0, n) is read or
// written: a library call per packet costs more than the packet.
inline void CopyPacket(uint8_t* d, const uint8_t* s, size_t n) {
  if (n >= 16) {
    size_t i = 0;
    for (; i + 16 <= n; i += 16) __builtin_memcpy(d + i, s + i, 16);
    if (i < n) __builtin_memcpy(d + n - 16, s + n - 16, 16);
  } else if (n >= 8) {
    __builtin_memcpy(d, s, 8);
    __builtin_memcpy(d + n - 8, s + n - 8, 8);
  } else {
    for (size_t i = 0; i < n; ++i) d[i] = s[i];
  }
}

inline void FillPacket(uint8_t* d, uint8_t value, size_t n) {
  if (n >= 16) {
    uint8_t block[16];
    __builtin_memset(block, value, 16);
    size_t i = 0;
    for (; i + 16 <= n; i += 16) __builtin_memcpy(d + i, block, 16);
    if (i < n) __builtin_memcpy(d + n - 16, block, 16);
  } else {
    for (size_t i = 0; i < n; ++i) d[i] = value;
  }
}

}  // namespace

size_t PackBitsDecodeRow(const uint8_t* src, size_t srcLength, size_t& srcPos, uint8_t* dst,
                         size_t dstLength) {
  size_t produced = 0;
  size_t pos = srcPos;
  while (produced < dstLength && pos < srcLength) {
    const int control = static_cast<int8_t>(src[pos++]);
    if (control >= 0) {
      const size_t length = std::min<size_t>(control + 1, srcLength - pos);
      const size_t kept = std::min(length, dstLength - produced);
      CopyPacket(dst + produced, src + pos, kept);
      produced += kept;
      pos += length;
    } else if (control != -128) {
      if (pos >= srcLength) break;
      const size_t kept = std::min<size_t>(1 - control, dstLength - produced);
      FillPacket(dst + produced, src[pos++], kept);
      produced += kept;
    }
  }
  srcPos = pos;
  return produced;
}

}  // namespace folivo
