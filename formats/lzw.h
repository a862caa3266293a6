// Folivo — multi-page TIFF editor.
// TIFF LZW codec (TIFF 6.0 section 13): a row-at-a-time decoder and a streaming encoder.
#pragma once

#include <cstddef>
#include <cstdint>

#include "formats/params.h"

namespace folivo {

class TStream;

// Decodes the next rowLength bytes of an LZW strip (TLzwDecompressorFn).
//
// The first call for a strip (state == nullptr) creates the state over
// input[0, inputLength); later calls must pass a non-null input but decode from
// the bytes of the first call, which must stay alive until the state is freed.
// Each call returns the address of rowLength decoded bytes, valid until the next
// call. Bytes that the last string of a row decodes beyond the row start the next
// row. When the code stream ends inside a row (EOI, or the data runs out, which
// counts as EOI) the rest of that row and of every later row is zero; see
// LzwRowDecodedBytes. Returns nullptr for corrupt data (a table of more than 4096
// entries, a code that refers to no string) and on every call after that, and for
// a negative rowLength. input == nullptr frees the state and sets it to nullptr.
// Rows may change length between calls. One state per strip, or per plane for
// planar strips.
const uint8_t* LzwDecompressor(const uint8_t* input, size_t inputLength, int rowLength,
                               TLzwDecodeState*& state);

// How many bytes of the row the last successful call returned came from the code
// stream (the rest are zero fill); rowLength unless the stream ended in or before
// that row. 0 for a null state.
size_t LzwRowDecodedBytes(const TLzwDecodeState* state);

// Appends count bytes to an LZW code stream written to stream (TLzwCompressorFn).
//
// The first call (state == nullptr) creates the state and starts the stream with
// Clear; data == nullptr ends it (the pending code, EOI, the last partial byte),
// frees the state and sets it to nullptr. Output goes out in blocks of 254 bytes,
// so the stream sees nothing of a short strip until it is ended. Ending a state
// that was never started writes nothing. The stream passed at the end is the one
// that receives the last block.
void LzwCompressor(const uint8_t* data, size_t count, TStream& stream, TLzwEncodeState*& state);

// Makes the two routines above the process-wide defaults of every TIOParamsVals.
void InstallDefaultLzwRoutines();

}  // namespace folivo
