// Folivo — multi-page TIFF editor.
// CCITT bilevel row codec: modified Huffman, Group 3 (T.4) 1-D and 2-D, Group 4 (T.6).
#pragma once

// Follows ITU-T T.4 (1-D modified Huffman codes, 2-D modified READ codes, EOL,
// uncompressed mode) and T.6 (EOFB), framed as TIFF 6.0 sections 10 and 11 and
// the T4Options/T6Options tags describe.
//
// Rows are packed 8 pixels a byte, leftmost pixel in the most significant bit;
// a row of widthPx pixels occupies (widthPx + 7) / 8 bytes and is never read or
// written beyond that.
//
// Decoded rows use the page bitmap's convention: bit 1 = white, bit 0 = black
// (the bits past widthPx in the last byte are left white). Rows given to the
// encoders use the TIFF WhiteIsZero convention: bit 1 = black (the writer
// inverts a page before encoding). The bits past widthPx are ignored.
//
// fillOrder 2 means the code bits fill each byte from the least significant bit
// up (TIFF FillOrder 2); any other value means from the most significant bit
// down (FillOrder 1).
//
// The decoders have no failure mode. Unknown codes are skipped a bit at a time,
// runs are clipped at the row's end, and running out of input ends the row with
// what was decoded (the rest white, or black when a black run was open at an
// EOL). They never read past input + available, never loop without consuming
// input, and return a position at most available * 8. A caller stops a strip
// when a call returns the position it was given or the position reaches the end.
//
// Files in the wild that are accepted: EOL codes with any number of extra fill
// zeros (T4Options bit 2), leading EOLs before the first row, RTC/EOFB after
// the last row, Group 3 1-D rows with or without EOLs, and the 1-D tag-bit rows
// of Group 3 2-D pages at any row.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace folivo {

class TStream;

// Widest row the codec handles (pixels); wider requests do nothing.
constexpr int kCcittMaxWidthPx = 1 << 28;

// One modified Huffman row (TIFF Compression 2) starting at input[0]. Returns
// the bytes used (the row's bits rounded up to whole bytes; 0 when available
// is 0). The next row starts that many bytes further on.
size_t DecodeMhRow(uint8_t* row, const uint8_t* input, size_t available, int fillOrder,
                   int widthPx);

// One row of T.4 one-dimensional codes starting at bit bitPosition of input
// (rows are not byte-aligned). EOLs before the row's first code are consumed;
// an EOL after it ends the row and is left for the next call. Returns the new
// bit position.
uint64_t DecodeG3Row1D(uint8_t* row, const uint8_t* input, size_t available, int fillOrder,
                       uint64_t bitPosition, int widthPx);

// One row of T.4 two-dimensional / T.6 codes against reference, a row of the
// same width in the decoded convention (start a strip with all 0xFF bytes).
// An EOL as the row's first code is consumed with its tag bit; tag 1 decodes
// the row in one-dimensional codes. withEol: EOLs with fill zeros are
// recognised (Group 3 2-D pages; Group 4 pages with T4Options bit 2). On
// return reference holds a copy of row. Returns the new bit position.
uint64_t DecodeRow2D(uint8_t* row, const uint8_t* input, size_t available, bool withEol,
                     int fillOrder, uint64_t bitPosition, uint8_t* reference, int widthPx);

// Code bits carried from one encoded row to the next: Count (0..7) bits, right
// aligned in Bits, most significant first.
struct TCcittPending {
  uint8_t Bits = 0;
  int Count = 0;
};

// Encoders append whole bytes to stream and carry the rest in pending. Passing
// row == nullptr ends the strip: it writes the strip's closing codes and the
// pending bits padded with 0 bits to a whole byte, and resets reference and
// pending so that the next strip starts afresh.

// One modified Huffman row, padded with 0 bits to a byte boundary.
void EncodeMhRow(const uint8_t* row, int widthPx, TStream& stream, int fillOrder);

// Group 3 one-dimensional row (T4Options 0): EOL, then the row's codes, not
// aligned. The end of the strip adds nothing but the padding.
void EncodeG3Row1D(const uint8_t* row, int widthPx, TStream& stream, int fillOrder,
                   TCcittPending& pending);

// Group 3 two-dimensional row (T4Options 1). The first row of a strip (reference
// empty) is EOL, tag 1 and one-dimensional codes; every further row EOL, tag 0
// and two-dimensional codes against the previous row. The end of the strip
// writes one EOL. reference is owned by the caller, starts empty and keeps a
// copy of the last row.
void EncodeG3Row2D(const uint8_t* row, int widthPx, TStream& stream, int fillOrder,
                   std::vector<uint8_t>& reference, TCcittPending& pending);

// Group 4 row: two-dimensional codes against the previous row, the first row
// against an all-white reference (reference empty or of another width). The end
// of the strip writes EOFB.
void EncodeG4Row(const uint8_t* row, int widthPx, TStream& stream, int fillOrder,
                 std::vector<uint8_t>& reference, TCcittPending& pending);

}  // namespace folivo
