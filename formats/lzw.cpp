// Folivo — multi-page TIFF editor.
// TIFF LZW codec (TIFF 6.0 section 13): a row-at-a-time decoder and a streaming encoder.
//
// Code stream: 9- to 12-bit codes, most significant bit first; 256 Clear, 257 EOI.
// Widths change one code early, as every TIFF writer since 5.0 does: the decoder
// switches to n + 1 bits once its table holds 2^n - 1 entries.
//
// Decoder. Table entries keep strings of up to 8 bytes inline and longer ones
// in an append-only arena that is emptied at each Clear, so every code is one
// copy (an 8-byte store for short strings). An entry that extends the entry
// stored last in the arena shares its bytes, so long runs cost one byte per
// entry. Files in the wild accepted: strips without a leading Clear (the first
// code must then be a literal), repeated Clears, codes above the next free code
// (taken as the code being defined), strips without EOI or with a cut last code
// (the stream ends there). Old-style LZW (bit-reversed, pre-5.0) is not read.
//
// Encoder. The hashing of Unix compress: 5003 open-addressed slots keyed by
// byte x 4096 + prefix, the first probe (byte << 4) ^ prefix, then backwards
// by 5003 - slot. The table is cleared when the next free code passes 4093, so
// codes never need more than 12 bits.
#include "formats/lzw.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "formats/stream.h"

namespace folivo {

namespace {

constexpr uint32_t kClear = 256;
constexpr uint32_t kEoi = 257;
constexpr uint32_t kFirstCode = 258;
constexpr int kMinWidth = 9;   // bits
constexpr int kMaxWidth = 12;  // bits
// Entries 0..4096: one beyond the 12-bit range, for writers that clear late.
constexpr uint32_t kLastEntry = 4096;
// A string is at most one byte longer than the entry it extends, so the entry at
// code k holds at most k - 256 bytes; a row's last string can run past the row
// end by less than this.
constexpr size_t kMaxStringBytes = 4096;
// Inline strings are stored with one 8-byte copy, which may write this far past
// the string.
constexpr size_t kInlineBytes = 8;

uint64_t LoadBigEndian64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return __builtin_bswap64(v);
}

}  // namespace

struct TLzwDecodeState {
  struct TEntry {
    uint8_t Bytes[kInlineBytes];  // the string, or its first 8 bytes
    uint32_t Offset;              // into the arena when Length > 8
    uint16_t Length;              // 0 for Clear, EOI and unused codes
  };

  TLzwDecodeState(const uint8_t* input, size_t inputLength)
      : Input(input), InputLength(inputLength) {
    std::memset(Table, 0, sizeof Table);
    for (uint32_t code = 0; code < 256; ++code) {
      Table[code].Bytes[0] = static_cast<uint8_t>(code);
      Table[code].Length = 1;
    }
  }
  TLzwDecodeState(const TLzwDecodeState&) = delete;
  TLzwDecodeState& operator=(const TLzwDecodeState&) = delete;

  const uint8_t* NextRow(size_t rowLength);
  // Decodes until Tail reaches rowEnd or the stream ends; false for corrupt data.
  bool DecodeInto(size_t rowEnd);
  void ReserveArena(size_t bytes);
  // Stores prefix's string + byte, longer than the inline bytes, in the arena.
  __attribute__((noinline)) void AddLongEntry(TEntry& entry, const TEntry& prefix, uint8_t byte);

  const uint8_t* Input;
  size_t InputLength;
  size_t InputPos = 0;
  uint64_t Bits = 0;  // unread bits, from the top
  int BitCount = 0;

  int Width = kMinWidth;
  uint32_t FreeCode = kFirstCode;
  int32_t PrevCode = -1;  // none: start of the strip
  bool Ended = false;     // EOI read or data used up
  bool Failed = false;

  std::unique_ptr<uint8_t[]> Out;
  size_t OutCapacity = 0;
  size_t Head = 0;        // offset in Out of the row last returned
  size_t Tail = 0;        // end of the decoded bytes in Out
  size_t RowLength = 0;   // length of the row last returned
  size_t RowDecoded = 0;  // of which came from the code stream

  std::unique_ptr<uint8_t[]> Arena;
  size_t ArenaSize = 0;
  size_t ArenaCapacity = 0;

  TEntry Table[kLastEntry + 1];
};

void TLzwDecodeState::ReserveArena(size_t bytes) {
  if (bytes <= ArenaCapacity) return;
  size_t capacity = std::max<size_t>(ArenaCapacity * 2, 64 * 1024);
  while (capacity < bytes) capacity *= 2;
  std::unique_ptr<uint8_t[]> arena(new uint8_t[capacity]);
  if (ArenaSize != 0) std::memcpy(arena.get(), Arena.get(), ArenaSize);
  Arena = std::move(arena);
  ArenaCapacity = capacity;
}

void TLzwDecodeState::AddLongEntry(TEntry& entry, const TEntry& prefix, uint8_t byte) {
  const size_t length = prefix.Length + 1u;
  std::memcpy(entry.Bytes, prefix.Bytes, kInlineBytes);
  entry.Length = static_cast<uint16_t>(length);
  if (prefix.Length > kInlineBytes && prefix.Offset + prefix.Length == ArenaSize) {
    ReserveArena(ArenaSize + 1);
    Arena[ArenaSize++] = byte;
    entry.Offset = prefix.Offset;
    return;
  }
  ReserveArena(ArenaSize + length);
  const uint8_t* source = prefix.Length > kInlineBytes ? Arena.get() + prefix.Offset : prefix.Bytes;
  uint8_t* target = Arena.get() + ArenaSize;
  std::memcpy(target, source, prefix.Length);
  target[prefix.Length] = byte;
  entry.Offset = static_cast<uint32_t>(ArenaSize);
  ArenaSize += length;
}

const uint8_t* TLzwDecodeState::NextRow(size_t rowLength) {
  if (Failed) return nullptr;
  // The previous row is consumed; what its last string decoded beyond it stays.
  Head = std::min(Head + RowLength, Tail);
  if (Head == Tail) Head = Tail = 0;
  const size_t needed = rowLength + kMaxStringBytes + kInlineBytes;
  if (Head + needed > OutCapacity) {
    // Twice the room, so the surplus moves to the start at most every other row.
    const size_t surplus = Tail - Head;
    if (2 * needed > OutCapacity) {
      std::unique_ptr<uint8_t[]> out(new uint8_t[2 * needed]);
      if (surplus != 0) std::memcpy(out.get(), Out.get() + Head, surplus);
      Out = std::move(out);
      OutCapacity = 2 * needed;
    } else if (surplus != 0) {
      std::memmove(Out.get(), Out.get() + Head, surplus);
    }
    Head = 0;
    Tail = surplus;
  }
  RowLength = rowLength;
  if (!Ended && Tail - Head < rowLength && !DecodeInto(Head + rowLength)) {
    Failed = true;
    return nullptr;
  }
  RowDecoded = std::min(Tail - Head, rowLength);
  uint8_t* row = Out.get() + Head;
  if (RowDecoded < rowLength) std::memset(row + RowDecoded, 0, rowLength - RowDecoded);
  return row;
}

bool TLzwDecodeState::DecodeInto(size_t rowEnd) {
  uint8_t* const outStart = Out.get();
  uint8_t* out = outStart + Tail;
  uint8_t* const end = outStart + rowEnd;
  const uint8_t* const in = Input;
  const size_t inLength = InputLength;
  size_t inPos = InputPos;
  uint64_t bits = Bits;
  int bitCount = BitCount;
  int width = Width;
  uint32_t freeCode = FreeCode;
  int32_t prev = PrevCode;
  bool ok = true;

  // False when fewer than width bits are left: the stream ends there.
  auto readCode = [&](uint32_t & code) __attribute__((always_inline)) {
    if (bitCount < width) {
      if (inPos + 8 <= inLength) {
        // Bits past the new count are the true next bits, so reading them
        // again on the next refill changes nothing.
        bits |= LoadBigEndian64(in + inPos) >> bitCount;
        const int bytes = (63 - bitCount) >> 3;
        inPos += bytes;
        bitCount += bytes * 8;
      } else {
        while (bitCount <= 56 && inPos < inLength) {
          bits |= static_cast<uint64_t>(in[inPos++]) << (56 - bitCount);
          bitCount += 8;
        }
        if (bitCount < width) return false;
      }
    }
    code = static_cast<uint32_t>(bits >> (64 - width));
    bits <<= width;
    bitCount -= width;
    return true;
  };

  uint32_t widthLimit = (1u << width) - 1;  // table size that widens the codes
  // Adds prev's string + byte at freeCode; false when the table is full.
  auto addEntry = [&](uint8_t byte) __attribute__((always_inline)) {
    if (freeCode > kLastEntry) return false;
    TEntry& entry = Table[freeCode];
    const TEntry& prefix = Table[prev];
    const size_t length = prefix.Length + 1u;
    if (length <= kInlineBytes) {
      std::memcpy(entry.Bytes, prefix.Bytes, kInlineBytes);
      entry.Bytes[length - 1] = byte;
      entry.Length = static_cast<uint16_t>(length);
    } else {
      AddLongEntry(entry, prefix, byte);
    }
    if (++freeCode >= widthLimit && width < kMaxWidth) widthLimit = (1u << ++width) - 1;
    return true;
  };

  auto emit = [&](const TEntry& entry) __attribute__((always_inline)) {
    if (entry.Length <= kInlineBytes) {
      std::memcpy(out, entry.Bytes, kInlineBytes);
    } else {
      std::memcpy(out, Arena.get() + entry.Offset, entry.Length);
    }
    out += entry.Length;
  };

  while (out < end) {
    uint32_t code;
    if (!readCode(code)) {
      Ended = true;
      break;
    }
    if (code - kClear <= kEoi - kClear) [[unlikely]] {
      if (code == kEoi) {
        Ended = true;
        break;
      }
      do {
        freeCode = kFirstCode;
        width = kMinWidth;
        widthLimit = (1u << width) - 1;
        ArenaSize = 0;
        if (!readCode(code)) code = kEoi;
      } while (code == kClear);
      if (code == kEoi) {
        Ended = true;
        break;
      }
      if (code > 255) {  // the table is empty: no such string
        ok = false;
        break;
      }
      *out++ = static_cast<uint8_t>(code);
      prev = static_cast<int32_t>(code);
      continue;
    }
    if (code < freeCode) {
      const TEntry& entry = Table[code];
      emit(entry);
      // The first code of a strip that lacks Clear only outputs its byte.
      if (prev >= 0 && !addEntry(entry.Bytes[0])) {
        ok = false;
        break;
      }
      prev = static_cast<int32_t>(code);
    } else {
      // The code being defined (KwKwK); codes further ahead are taken alike.
      const uint32_t defined = freeCode;
      if (prev < 0 || !addEntry(Table[prev].Bytes[0])) {
        ok = false;
        break;
      }
      emit(Table[defined]);
      prev = static_cast<int32_t>(defined);
    }
  }

  Tail = static_cast<size_t>(out - outStart);
  InputPos = inPos;
  Bits = bits;
  BitCount = bitCount;
  Width = width;
  FreeCode = freeCode;
  PrevCode = prev;
  return ok;
}

const uint8_t* LzwDecompressor(const uint8_t* input, size_t inputLength, int rowLength,
                               TLzwDecodeState*& state) {
  if (input == nullptr) {
    delete state;
    state = nullptr;
    return nullptr;
  }
  if (rowLength < 0) return nullptr;
  if (state == nullptr) state = new TLzwDecodeState(input, inputLength);
  return state->NextRow(static_cast<size_t>(rowLength));
}

size_t LzwRowDecodedBytes(const TLzwDecodeState* state) {
  return state == nullptr ? 0 : state->RowDecoded;
}

namespace {

constexpr int kHashSize = 5003;  // slots; prime, about 80% of 4096 codes used
// 8 minus the doublings that take kHashSize to 65536 or more.
constexpr int kHashShift = 4;
constexpr uint32_t kLastFreeCode = 4093;  // beyond it the encoder clears
constexpr size_t kBlockBytes = 254;

}  // namespace

struct TLzwEncodeState {
  TLzwEncodeState() { ResetTable(); }

  void ResetTable() {
    std::fill(std::begin(Keys), std::end(Keys), -1);
    FreeCode = kFirstCode;
    Width = kMinWidth;
    MaxCode = (1u << kMinWidth) - 1;
  }

  void Flush(TStream& stream) {
    if (BlockFill != 0) stream.Write(Block, BlockFill);
    BlockFill = 0;
  }

  void PutCode(uint32_t code, TStream& stream) {
    BitAccumulator = (BitAccumulator << Width) | code;
    BitCount += Width;
    while (BitCount >= 8) {
      BitCount -= 8;
      Block[BlockFill++] = static_cast<uint8_t>(BitAccumulator >> BitCount);
      if (BlockFill == kBlockBytes) Flush(stream);
    }
    BitAccumulator &= (1u << BitCount) - 1;
    // The decoder adds the entry for this code when it reads the next one, and
    // widens when its table reaches MaxCode: the next code must be wider.
    if (FreeCode >= MaxCode && Width < kMaxWidth) {
      ++Width;
      MaxCode = (1u << Width) - 1;
    }
  }

  void Encode(const uint8_t* data, size_t count, TStream& stream) {
    size_t i = 0;
    if (Prefix < 0) {
      if (count == 0) return;
      Prefix = data[0];
      i = 1;
    }
    uint32_t prefix = static_cast<uint32_t>(Prefix);
    for (; i < count; ++i) {
      const uint32_t byte = data[i];
      const int32_t key = static_cast<int32_t>((byte << kMaxWidth) + prefix);
      int slot = static_cast<int>((byte << kHashShift) ^ prefix);
      if (Keys[slot] == key) {
        prefix = Codes[slot];
        continue;
      }
      if (Keys[slot] >= 0) {
        const int step = slot == 0 ? 1 : kHashSize - slot;
        bool found = false;
        do {
          slot -= step;
          if (slot < 0) slot += kHashSize;
          if (Keys[slot] == key) {
            found = true;
            break;
          }
        } while (Keys[slot] >= 0);
        if (found) {
          prefix = Codes[slot];
          continue;
        }
      }
      PutCode(prefix, stream);
      prefix = byte;
      if (FreeCode > kLastFreeCode) {
        PutCode(kClear, stream);
        ResetTable();
      } else {
        Keys[slot] = key;
        Codes[slot] = static_cast<uint16_t>(FreeCode++);
      }
    }
    Prefix = static_cast<int32_t>(prefix);
  }

  void Finish(TStream& stream) {
    if (Prefix >= 0) PutCode(static_cast<uint32_t>(Prefix), stream);
    PutCode(kEoi, stream);
    if (BitCount > 0) {
      Block[BlockFill++] = static_cast<uint8_t>(BitAccumulator << (8 - BitCount));
      BitCount = 0;
    }
    Flush(stream);
  }

  int32_t Keys[kHashSize];  // byte x 4096 + prefix, or -1 when free
  uint16_t Codes[kHashSize];
  int32_t Prefix = -1;  // none before the first byte
  uint32_t FreeCode = kFirstCode;
  int Width = kMinWidth;
  uint32_t MaxCode = 0;
  uint32_t BitAccumulator = 0;  // the low BitCount bits are pending
  int BitCount = 0;
  uint8_t Block[kBlockBytes];
  size_t BlockFill = 0;
};

void LzwCompressor(const uint8_t* data, size_t count, TStream& stream, TLzwEncodeState*& state) {
  if (data == nullptr) {
    std::unique_ptr<TLzwEncodeState> ending(state);
    state = nullptr;
    if (ending) ending->Finish(stream);
    return;
  }
  if (state == nullptr) {
    auto created = std::make_unique<TLzwEncodeState>();
    created->PutCode(kClear, stream);
    state = created.release();
  }
  state->Encode(data, count, stream);
}

void InstallDefaultLzwRoutines() {
  SetDefaultLzwRoutines(LzwDecompressor, LzwCompressor);
}

}  // namespace folivo
