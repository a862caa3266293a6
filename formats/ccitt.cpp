// Folivo — multi-page TIFF editor.
// CCITT bilevel row codec: code tables, bit reader and writer, row decoders and encoders.
#include "formats/ccitt.h"

// Method. The code lists of T.4 are turned at compile time into lookup tables
// indexed by the next 13 bits of the stream (one per colour) and the next 7 bits
// (two-dimensional modes), so a code costs one load whatever its length. The
// stream is read through a 64-bit buffer filled eight bytes at a time, bit
// reversed on load for FillOrder 2. Black runs are cleared into a row that was
// filled white, whole bytes by memset. Changing elements on the reference row
// are found by scanning it a byte, then eight bytes, at a time.
//
// Any code with eleven or more leading zeros is resolved by counting the zeros:
// it is an EOL (with fill bits) when a 1 follows, otherwise the end of the data.

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>

#include "formats/stream.h"

namespace folivo {

namespace {

// ---------------------------------------------------------------- code lists

struct TCodeWord {
  uint16_t run;
  const char* bits;
};

constexpr TCodeWord kWhiteCodes[] = {
    {0, "00110101"},     {1, "000111"},       {2, "0111"},         {3, "1000"},
    {4, "1011"},         {5, "1100"},         {6, "1110"},         {7, "1111"},
    {8, "10011"},        {9, "10100"},        {10, "00111"},       {11, "01000"},
    {12, "001000"},      {13, "000011"},      {14, "110100"},      {15, "110101"},
    {16, "101010"},      {17, "101011"},      {18, "0100111"},     {19, "0001100"},
    {20, "0001000"},     {21, "0010111"},     {22, "0000011"},     {23, "0000100"},
    {24, "0101000"},     {25, "0101011"},     {26, "0010011"},     {27, "0100100"},
    {28, "0011000"},     {29, "00000010"},    {30, "00000011"},    {31, "00011010"},
    {32, "00011011"},    {33, "00010010"},    {34, "00010011"},    {35, "00010100"},
    {36, "00010101"},    {37, "00010110"},    {38, "00010111"},    {39, "00101000"},
    {40, "00101001"},    {41, "00101010"},    {42, "00101011"},    {43, "00101100"},
    {44, "00101101"},    {45, "00000100"},    {46, "00000101"},    {47, "00001010"},
    {48, "00001011"},    {49, "01010010"},    {50, "01010011"},    {51, "01010100"},
    {52, "01010101"},    {53, "00100100"},    {54, "00100101"},    {55, "01011000"},
    {56, "01011001"},    {57, "01011010"},    {58, "01011011"},    {59, "01001010"},
    {60, "01001011"},    {61, "00110010"},    {62, "00110011"},    {63, "00110100"},
    {64, "11011"},       {128, "10010"},      {192, "010111"},     {256, "0110111"},
    {320, "00110110"},   {384, "00110111"},   {448, "01100100"},   {512, "01100101"},
    {576, "01101000"},   {640, "01100111"},   {704, "011001100"},  {768, "011001101"},
    {832, "011010010"},  {896, "011010011"},  {960, "011010100"},  {1024, "011010101"},
    {1088, "011010110"}, {1152, "011010111"}, {1216, "011011000"}, {1280, "011011001"},
    {1344, "011011010"}, {1408, "011011011"}, {1472, "010011000"}, {1536, "010011001"},
    {1600, "010011010"}, {1664, "011000"},    {1728, "010011011"},
};

constexpr TCodeWord kBlackCodes[] = {
    {0, "0000110111"},
    {1, "010"},
    {2, "11"},
    {3, "10"},
    {4, "011"},
    {5, "0011"},
    {6, "0010"},
    {7, "00011"},
    {8, "000101"},
    {9, "000100"},
    {10, "0000100"},
    {11, "0000101"},
    {12, "0000111"},
    {13, "00000100"},
    {14, "00000111"},
    {15, "000011000"},
    {16, "0000010111"},
    {17, "0000011000"},
    {18, "0000001000"},
    {19, "00001100111"},
    {20, "00001101000"},
    {21, "00001101100"},
    {22, "00000110111"},
    {23, "00000101000"},
    {24, "00000010111"},
    {25, "00000011000"},
    {26, "000011001010"},
    {27, "000011001011"},
    {28, "000011001100"},
    {29, "000011001101"},
    {30, "000001101000"},
    {31, "000001101001"},
    {32, "000001101010"},
    {33, "000001101011"},
    {34, "000011010010"},
    {35, "000011010011"},
    {36, "000011010100"},
    {37, "000011010101"},
    {38, "000011010110"},
    {39, "000011010111"},
    {40, "000001101100"},
    {41, "000001101101"},
    {42, "000011011010"},
    {43, "000011011011"},
    {44, "000001010100"},
    {45, "000001010101"},
    {46, "000001010110"},
    {47, "000001010111"},
    {48, "000001100100"},
    {49, "000001100101"},
    {50, "000001010010"},
    {51, "000001010011"},
    {52, "000000100100"},
    {53, "000000110111"},
    {54, "000000111000"},
    {55, "000000100111"},
    {56, "000000101000"},
    {57, "000001011000"},
    {58, "000001011001"},
    {59, "000000101011"},
    {60, "000000101100"},
    {61, "000001011010"},
    {62, "000001100110"},
    {63, "000001100111"},
    {64, "0000001111"},
    {128, "000011001000"},
    {192, "000011001001"},
    {256, "000001011011"},
    {320, "000000110011"},
    {384, "000000110100"},
    {448, "000000110101"},
    {512, "0000001101100"},
    {576, "0000001101101"},
    {640, "0000001001010"},
    {704, "0000001001011"},
    {768, "0000001001100"},
    {832, "0000001001101"},
    {896, "0000001110010"},
    {960, "0000001110011"},
    {1024, "0000001110100"},
    {1088, "0000001110101"},
    {1152, "0000001110110"},
    {1216, "0000001110111"},
    {1280, "0000001010010"},
    {1344, "0000001010011"},
    {1408, "0000001010100"},
    {1472, "0000001010101"},
    {1536, "0000001011010"},
    {1600, "0000001011011"},
    {1664, "0000001100100"},
    {1728, "0000001100101"},
};

// Make-up codes 1792..2560, shared by both colours.
constexpr TCodeWord kExtendedMakeUpCodes[] = {
    {1792, "00000001000"},  {1856, "00000001100"},  {1920, "00000001101"},  {1984, "000000010010"},
    {2048, "000000010011"}, {2112, "000000010100"}, {2176, "000000010101"}, {2240, "000000010110"},
    {2304, "000000010111"}, {2368, "000000011100"}, {2432, "000000011101"}, {2496, "000000011110"},
    {2560, "000000011111"},
};

constexpr int CodeLength(const char* bits) {
  int n = 0;
  while (bits[n]) ++n;
  return n;
}

constexpr uint32_t CodeValue(const char* bits) {
  uint32_t v = 0;
  for (int i = 0; bits[i]; ++i) v = (v << 1) | static_cast<uint32_t>(bits[i] == '1');
  return v;
}

// ------------------------------------------------------------ decode tables

enum TRunKind : uint8_t { kNoCode = 0, kTerminating, kMakeUp, kSkipCode, kZeros };

struct TRunEntry {
  uint16_t run = 0;
  uint8_t length = 0;  // bits
  uint8_t kind = kNoCode;
};

constexpr int kRunPeekBits = 13;  // the longest run code
using TRunTable = std::array<TRunEntry, 1 << kRunPeekBits>;

template <typename TTable>
constexpr void Place(TTable& table, int peekBits, uint32_t value, int length,
                     typename TTable::value_type entry) {
  const int shift = peekBits - length;
  for (uint32_t i = value << shift; i < ((value + 1) << shift); ++i) {
    // Reached only when two codes share a prefix: stops the build.
    if (table[i].kind != 0) throw "overlapping codes";
    table[i] = entry;
  }
}

template <size_t N>
constexpr TRunTable BuildRunTable(const TCodeWord (&codes)[N]) {
  TRunTable table{};
  auto add = [&table](const TCodeWord& code) {
    const int length = CodeLength(code.bits);
    const uint8_t kind = code.run < 64 ? kTerminating : kMakeUp;
    Place(table, kRunPeekBits, CodeValue(code.bits), length,
          TRunEntry{code.run, static_cast<uint8_t>(length), kind});
  };
  for (const TCodeWord& code : codes) add(code);
  for (const TCodeWord& code : kExtendedMakeUpCodes) add(code);
  // Eight, nine and ten zeros ending in a one: no code of T.4, skipped.
  for (int length = 9; length <= 11; ++length)
    Place(table, kRunPeekBits, 1, length, TRunEntry{0, static_cast<uint8_t>(length), kSkipCode});
  Place(table, kRunPeekBits, 0, 11, TRunEntry{0, 0, kZeros});
  return table;
}

constexpr TRunTable kWhiteTable = BuildRunTable(kWhiteCodes);
constexpr TRunTable kBlackTable = BuildRunTable(kBlackCodes);

enum TModeKind : uint8_t {
  kModeNone = 0,
  kModePass,
  kModeHorizontal,
  kModeVertical,
  kModeExtension,
  kModeZeros,
};

struct TModeEntry {
  int8_t offset = 0;  // vertical: a1 - b1
  uint8_t length = 0;
  uint8_t kind = kModeNone;
};

constexpr int kModePeekBits = 7;
using TModeTable = std::array<TModeEntry, 1 << kModePeekBits>;

constexpr TModeTable BuildModeTable() {
  TModeTable table{};
  auto add = [&table](const char* bits, TModeKind kind, int offset) {
    const int length = CodeLength(bits);
    Place(table, kModePeekBits, CodeValue(bits), length,
          TModeEntry{static_cast<int8_t>(offset), static_cast<uint8_t>(length), kind});
  };
  add("0001", kModePass, 0);
  add("001", kModeHorizontal, 0);
  add("1", kModeVertical, 0);
  add("011", kModeVertical, 1);
  add("000011", kModeVertical, 2);
  add("0000011", kModeVertical, 3);
  add("010", kModeVertical, -1);
  add("000010", kModeVertical, -2);
  add("0000010", kModeVertical, -3);
  add("0000001", kModeExtension, 0);  // seven bits here, ten with the extension value
  add("0000000", kModeZeros, 0);
  return table;
}

constexpr TModeTable kModeTable = BuildModeTable();

constexpr std::array<uint8_t, 256> BuildReverseTable() {
  std::array<uint8_t, 256> table{};
  for (int i = 0; i < 256; ++i) {
    int r = 0;
    for (int b = 0; b < 8; ++b) r |= ((i >> b) & 1) << (7 - b);
    table[i] = static_cast<uint8_t>(r);
  }
  return table;
}

constexpr std::array<uint8_t, 256> kReverseBits = BuildReverseTable();

// ------------------------------------------------------------ encode tables

struct TCode {
  uint16_t bits = 0;
  uint8_t length = 0;
};

struct TRunCodes {
  std::array<TCode, 64> terminating{};
  std::array<TCode, 40> makeUp{};  // run / 64 - 1, for 64..2560
};

template <size_t N>
constexpr TRunCodes BuildRunCodes(const TCodeWord (&codes)[N]) {
  TRunCodes table{};
  auto add = [&table](const TCodeWord& code) {
    const TCode c{static_cast<uint16_t>(CodeValue(code.bits)),
                  static_cast<uint8_t>(CodeLength(code.bits))};
    if (code.run < 64)
      table.terminating[code.run] = c;
    else
      table.makeUp[code.run / 64 - 1] = c;
  };
  for (const TCodeWord& code : codes) add(code);
  for (const TCodeWord& code : kExtendedMakeUpCodes) add(code);
  return table;
}

constexpr TRunCodes kWhiteRunCodes = BuildRunCodes(kWhiteCodes);
constexpr TRunCodes kBlackRunCodes = BuildRunCodes(kBlackCodes);

constexpr TCode kPassCode{0b0001, 4};
constexpr TCode kHorizontalCode{0b001, 3};
constexpr TCode kEolCode{0b000000000001, 12};
// Indexed by a1 - b1 + 3.
constexpr TCode kVerticalCodes[7] = {{0b0000010, 7}, {0b000010, 6}, {0b010, 3},    {0b1, 1},
                                     {0b011, 3},     {0b000011, 6}, {0b0000011, 7}};

// --------------------------------------------------------------- row helpers

inline int RowBytes(int widthPx) {
  return (widthPx + 7) / 8;
}

inline uint64_t LoadBigEndian64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
  return v;
}

// Reverses the bit order inside each byte of v.
inline uint64_t ReverseBitsInBytes(uint64_t v) {
  v = ((v >> 1) & 0x5555555555555555ull) | ((v & 0x5555555555555555ull) << 1);
  v = ((v >> 2) & 0x3333333333333333ull) | ((v & 0x3333333333333333ull) << 2);
  return ((v >> 4) & 0x0F0F0F0F0F0F0F0Full) | ((v & 0x0F0F0F0F0F0F0F0Full) << 4);
}

inline bool BitAt(const uint8_t* row, int x) {
  return (row[x >> 3] >> (7 - (x & 7))) & 1;
}

// First x >= start with bit value `one` in row, or widthPx when there is none
// (the bits past widthPx count as the row's end).
int FindBit(const uint8_t* row, int widthPx, int start, bool one) {
  if (start >= widthPx) return widthPx;
  const int rowBytes = RowBytes(widthPx);
  const uint8_t flip = one ? 0 : 0xFF;
  int i = start >> 3;
  uint32_t b = static_cast<uint8_t>(row[i] ^ flip) & (0xFFu >> (start & 7));
  if (b) return std::min(i * 8 + std::countl_zero(b) - 24, widthPx);
  ++i;
  const uint64_t flip64 = one ? 0 : ~0ull;
  for (; i + 8 <= rowBytes; i += 8) {
    const uint64_t w = LoadBigEndian64(row + i) ^ flip64;
    if (w) return std::min(i * 8 + std::countl_zero(w), widthPx);
  }
  for (; i < rowBytes; ++i) {
    b = static_cast<uint8_t>(row[i] ^ flip);
    if (b) return std::min(i * 8 + std::countl_zero(b) - 24, widthPx);
  }
  return widthPx;
}

// b1 of T.4: the first changing element of reference right of a0 whose colour
// is opposite to `black`, the colour of a0. blackBit is the bit value of black
// in reference.
inline int FindB1(const uint8_t* reference, int widthPx, int a0, bool black, bool blackBit) {
  int start = a0 + 1;
  const bool referenceA0Black = a0 >= 0 && BitAt(reference, a0) == blackBit;
  // Inside a run of the opposite colour its start lies left of a0: pass the run.
  if (referenceA0Black != black) start = FindBit(reference, widthPx, start, black == blackBit);
  return FindBit(reference, widthPx, start, black != blackBit);
}

// b2: the changing element after b1, back to the colour of a0.
inline int FindB2(const uint8_t* reference, int widthPx, int b1, bool black, bool blackBit) {
  return FindBit(reference, widthPx, b1 + 1, black == blackBit);
}

// A list of changing elements: ascending positions, then four copies of the
// row width as sentinels. Even entries start black runs, odd entries white runs.
struct TChangeList {
  std::unique_ptr<int[]> items;
  size_t capacity = 0;
  size_t size = 0;

  // Room for n items, keeping the first size.
  void Reserve(size_t n) {
    if (n <= capacity) return;
    const size_t grown = std::max(n, capacity * 2);
    std::unique_ptr<int[]> larger(new int[grown]);
    std::copy(items.get(), items.get() + size, larger.get());
    items = std::move(larger);
    capacity = grown;
  }
  void AddSentinels(int widthPx) {
    Reserve(size + 4);
    for (int k = 0; k < 4; ++k) items[size++] = widthPx;
  }
};

// The changes of a decoded-convention row (0 = black).
void ListChanges(const uint8_t* row, int widthPx, TChangeList& changes) {
  changes.size = 0;
  const int rowBytes = RowBytes(widthPx);
  uint64_t previous = 1;  // the imaginary white pixel before the row
  for (int i = 0; i < rowBytes; i += 8) {
    uint64_t w = 0;
    if (i + 8 <= rowBytes) {
      w = LoadBigEndian64(row + i);
    } else {
      for (int k = 0; i + k < rowBytes; ++k) w |= static_cast<uint64_t>(row[i + k]) << (56 - 8 * k);
    }
    uint64_t t = w ^ ((w >> 1) | (previous << 63));
    previous = w & 1;
    if (!t) continue;
    changes.Reserve(changes.size + 64);
    int* out = changes.items.get();
    size_t n = changes.size;
    int x = i * 8;
    while (t) {
      const int z = std::countl_zero(t);
      x += z;
      if (x >= widthPx) break;
      out[n++] = x;
      t = (t << z) << 1;
      ++x;
    }
    changes.size = n;
  }
  changes.AddSentinels(widthPx);
}

// Clears the bits from..to-1 (black in the decoded convention).
inline void PaintBlack(uint8_t* row, int from, int to) {
  if (from >= to) return;
  const int first = from >> 3;
  const int last = (to - 1) >> 3;
  const uint8_t headMask = static_cast<uint8_t>(0xFFu >> (from & 7));
  const uint8_t tailMask = static_cast<uint8_t>(0xFFu << (7 - ((to - 1) & 7)));
  if (first == last) {
    row[first] &= static_cast<uint8_t>(~(headMask & tailMask));
    return;
  }
  row[first] &= static_cast<uint8_t>(~headMask);
  const int middle = last - first - 1;
  if (middle > 8)
    std::memset(row + first + 1, 0, middle);
  else
    for (int i = 1; i <= middle; ++i) row[first + i] = 0;
  row[last] &= static_cast<uint8_t>(~tailMask);
}

// ---------------------------------------------------------------- bit reader

// Reads code bits most significant first through a 64-bit buffer. After
// Fill(), Count() >= 32 or every remaining bit of the input is in the buffer;
// bits past the input read as 0.
class TBitReader {
 public:
  TBitReader(const uint8_t* data, size_t size, bool reverse, uint64_t bitPosition)
      : data_(data), size_(size), reverse_(reverse) {
    if (!data_) size_ = 0;
    if (bitPosition >= static_cast<uint64_t>(size_) * 8) {
      bytePos_ = size_;
      return;
    }
    bytePos_ = static_cast<size_t>(bitPosition >> 3);
    Fill();
    Consume(static_cast<int>(bitPosition & 7));
  }

  uint64_t Position() const { return static_cast<uint64_t>(bytePos_) * 8 - count_; }
  int Count() const { return count_; }
  uint32_t Peek(int bits) const { return static_cast<uint32_t>(buffer_ >> (64 - bits)); }
  uint64_t Buffer() const { return buffer_; }
  void Consume(int bits) {
    buffer_ <<= bits;
    count_ -= bits;
  }
  // Consumes every bit that is left.
  void ConsumeAll() {
    bytePos_ = size_;
    buffer_ = 0;
    count_ = 0;
  }

  void Fill() {
    if (count_ >= 32) return;
    if (bytePos_ + 8 <= size_) {
      uint64_t w = LoadBigEndian64(data_ + bytePos_);
      if (reverse_) w = ReverseBitsInBytes(w);
      // Bits loaded beyond the counted bytes are the stream's own next bits,
      // so loading them again later is harmless.
      buffer_ |= w >> count_;
      const int bytes = (63 - count_) >> 3;
      bytePos_ += bytes;
      count_ += bytes * 8;
      return;
    }
    while (count_ <= 56 && bytePos_ < size_) {
      uint8_t b = data_[bytePos_++];
      if (reverse_) b = kReverseBits[b];
      buffer_ |= static_cast<uint64_t>(b) << (56 - count_);
      count_ += 8;
    }
  }

 private:
  const uint8_t* data_;
  size_t size_;
  bool reverse_;
  size_t bytePos_ = 0;  // next byte to load
  uint64_t buffer_ = 0;
  int count_ = 0;  // valid bits at the top of buffer_
};

// Looks at a code of eleven or more zeros at the reader's position. Returns the
// length of the EOL it forms (the zeros and the 1 after them), or 0 when only
// zeros are left, which are then consumed. Zeros beyond 31 are consumed as
// skipped bits, so the EOL returned is at most 32 bits and still unread.
int ExamineZeros(TBitReader& reader) {
  for (;;) {
    reader.Fill();
    const int count = reader.Count();
    const uint64_t buffer = reader.Buffer();
    const int zeros = buffer ? std::countl_zero(buffer) : 64;
    if (zeros < count) {
      if (zeros <= 31) return zeros + 1;
      reader.Consume(zeros - 31);
      continue;
    }
    if (count < 32) {  // all that is left are zeros
      reader.ConsumeAll();
      return 0;
    }
    reader.Consume(count - 31);
  }
}

// Rare paths run on a copy of the reader: the hot loops never take its
// address, so the compiler keeps its fields in registers.
template <typename TFunction>
inline auto OnCopy(TBitReader& reader, TFunction function) {
  TBitReader copy = reader;
  const auto result = function(copy);
  reader = copy;
  return result;
}

inline int ExamineZerosOf(TBitReader& reader) {
  return OnCopy(reader, [](TBitReader& r) { return ExamineZeros(r); });
}

// -------------------------------------------------------------- 1-D decoding

// Decodes one row of 1-D codes into row (filled white by the caller).
[[gnu::always_inline]] inline void Decode1DRow(TBitReader& reader, uint8_t* row, int widthPx) {
  int a = 0;
  bool black = false;
  bool anyCode = false;
  bool makeUpPending = false;
  while (a < widthPx || makeUpPending) {
    reader.Fill();
    if (reader.Count() == 0) {
      if (black) PaintBlack(row, a, widthPx);
      return;
    }
    const TRunEntry e = (black ? kBlackTable : kWhiteTable)[reader.Peek(kRunPeekBits)];
    if (e.length > reader.Count()) {  // a code cut by the end of the data
      reader.ConsumeAll();
      if (black) PaintBlack(row, a, widthPx);
      return;
    }
    switch (e.kind) {
      case kTerminating:
      case kMakeUp: {
        reader.Consume(e.length);
        const int end = std::min(a + e.run, widthPx);
        if (black) PaintBlack(row, a, end);
        a = end;
        anyCode = true;
        makeUpPending = e.kind == kMakeUp;
        if (!makeUpPending) black = !black;
        break;
      }
      case kSkipCode:
        reader.Consume(e.length);
        break;
      case kZeros: {
        const int eolLength = ExamineZerosOf(reader);
        if (eolLength == 0) {
          if (black) PaintBlack(row, a, widthPx);
          return;
        }
        if (!anyCode) {
          reader.Consume(eolLength);
          break;
        }
        // The row ends here; its EOL starts the next row.
        if (black) PaintBlack(row, a, widthPx);
        return;
      }
      default:
        reader.Consume(1);
        break;
    }
  }
}

[[gnu::noinline]] void Decode1D(TBitReader& reader, uint8_t* row, int widthPx) {
  TBitReader local = reader;
  Decode1DRow(local, row, widthPx);
  reader = local;
}

// Decodes one run of a colour for horizontal mode (make-up codes and the
// terminating code), at most widthPx. Returns -1 when an EOL (left unread) or
// the end of the data comes first.
[[gnu::always_inline]] inline int DecodeRun(TBitReader& reader, bool black, int widthPx) {
  const TRunTable& table = black ? kBlackTable : kWhiteTable;
  int run = 0;
  for (;;) {
    reader.Fill();
    if (reader.Count() == 0) return -1;
    const TRunEntry e = table[reader.Peek(kRunPeekBits)];
    if (e.length > reader.Count()) {
      reader.ConsumeAll();
      return -1;
    }
    switch (e.kind) {
      case kTerminating:
        reader.Consume(e.length);
        return std::min(run + e.run, widthPx);
      case kMakeUp:
        reader.Consume(e.length);
        run = std::min(run + e.run, widthPx);
        break;
      case kSkipCode:
        reader.Consume(e.length);
        break;
      case kZeros:
        ExamineZerosOf(reader);  // leaves an EOL unread
        return -1;
      default:
        reader.Consume(1);
        break;
    }
  }
}

// Uncompressed mode of T.4 section 4.4 from position a0 (>= 0). Returns the new
// a0 and sets black to the colour its exit code names; stops without an exit
// code at an EOL or the end of the data (returns -1 - position then).
int DecodeUncompressed(TBitReader& reader, uint8_t* row, int widthPx, int a0, bool& black) {
  int x = a0;
  for (;;) {
    reader.Fill();
    const int count = reader.Count();
    if (count == 0) return -1 - x;
    const uint64_t buffer = reader.Buffer();
    const int zeros = buffer ? std::countl_zero(buffer) : 64;
    if (zeros > 10) return -1 - x;  // an EOL (or only zeros): not part of the mode
    const int length = zeros + 1;
    if (length > count) {
      reader.ConsumeAll();
      return -1 - x;
    }
    reader.Consume(length);
    if (length <= 5) {  // length - 1 white pixels and one black pixel
      x = std::min(x + length - 1, widthPx);
      if (x < widthPx) PaintBlack(row, x, x + 1);
      x = std::min(x + 1, widthPx);
    } else if (length == 6) {
      x = std::min(x + 5, widthPx);
    } else {  // exit: length - 7 white pixels, then the colour bit
      x = std::min(x + length - 7, widthPx);
      reader.Fill();
      if (reader.Count() == 0) return -1 - x;
      black = reader.Peek(1) != 0;
      reader.Consume(1);
      return x;
    }
  }
}

// Per thread: the last row DecodeRow2D produced and its changes (with the
// sentinels of ListChanges), and working lists.
struct TLastRow {
  int widthPx = 0;
  std::vector<uint8_t> bits;
  TChangeList changes;
  TChangeList current;
  TChangeList scratch;
};

thread_local TLastRow lastRow;

}  // namespace

// ------------------------------------------------------------------ decoders

size_t DecodeMhRow(uint8_t* row, const uint8_t* input, size_t available, int fillOrder,
                   int widthPx) {
  if (widthPx <= 0 || widthPx > kCcittMaxWidthPx) return 0;
  std::memset(row, 0xFF, RowBytes(widthPx));
  TBitReader reader(input, available, fillOrder == 2, 0);
  Decode1D(reader, row, widthPx);
  return static_cast<size_t>((reader.Position() + 7) / 8);
}

uint64_t DecodeG3Row1D(uint8_t* row, const uint8_t* input, size_t available, int fillOrder,
                       uint64_t bitPosition, int widthPx) {
  if (widthPx <= 0 || widthPx > kCcittMaxWidthPx) return bitPosition;
  std::memset(row, 0xFF, RowBytes(widthPx));
  if (!input || bitPosition >= static_cast<uint64_t>(available) * 8) return bitPosition;
  TBitReader reader(input, available, fillOrder == 2, bitPosition);
  Decode1D(reader, row, widthPx);
  return reader.Position();
}

uint64_t DecodeRow2D(uint8_t* row, const uint8_t* input, size_t available, bool withEol,
                     int fillOrder, uint64_t bitPosition, uint8_t* reference, int widthPx) {
  if (widthPx <= 0 || widthPx > kCcittMaxWidthPx) return bitPosition;
  const int rowBytes = RowBytes(widthPx);
  std::memset(row, 0xFF, rowBytes);
  if (!input || bitPosition >= static_cast<uint64_t>(available) * 8) {
    std::memcpy(reference, row, rowBytes);
    return bitPosition;
  }
  TBitReader reader(input, available, fillOrder == 2, bitPosition);
  // a0 never moves left, so the first change right of a0 is found by walking
  // forward through the reference's changes; b1 is it or the one after it.
  // The reference is normally the row decoded just before, whose changes were
  // recorded while decoding it: they are reused when its bits are unchanged.
  TLastRow& last = lastRow;
  const TChangeList* referenceChanges = &last.changes;
  if (last.widthPx != widthPx || std::memcmp(last.bits.data(), reference, rowBytes) != 0) {
    ListChanges(reference, widthPx, last.scratch);
    referenceChanges = &last.scratch;
  }
  const int* const changeBase = referenceChanges->items.get();
  const int* change = changeBase;
  // Each recorded change costs at least one code bit.
  TChangeList& current = last.current;
  current.size = 0;
  current.Reserve(static_cast<size_t>(std::min<uint64_t>(
                      widthPx, static_cast<uint64_t>(available) * 8 - bitPosition)) +
                  8);
  int* const marks = current.items.get();
  size_t markCount = 0;
  bool recorded = true;  // false: current is rebuilt from the row at the end
  auto mark = [marks, &markCount, widthPx](int x) {
    if (x >= widthPx) return;
    if (markCount && marks[markCount - 1] == x)
      --markCount;  // a run of length 0
    else
      marks[markCount++] = x;
  };
  bool tailPainted = false;
  int a0 = -1;
  bool black = false;
  bool firstCode = true;
  while (a0 < widthPx) {
    reader.Fill();
    if (reader.Count() == 0) break;
    const uint32_t peek = reader.Peek(kModePeekBits);
    if (peek & 0x40) {  // V0, the commonest code by far
      reader.Consume(1);
      while (*change <= a0) ++change;
      const int b1 = change[((change - changeBase) & 1) != black];
      const int a1 = std::max(b1, a0);
      if (black) PaintBlack(row, std::max(a0, 0), a1);
      mark(a1);
      a0 = a1;
      black = !black;
      firstCode = false;
      continue;
    }
    const TModeEntry m = kModeTable[peek];
    if (m.length > reader.Count()) {
      reader.ConsumeAll();
      break;
    }
    const int from = std::max(a0, 0);
    if (m.kind == kModeZeros) {
      const int eolLength = ExamineZerosOf(reader);
      if (eolLength == 0) break;
      if (eolLength < 12 || (eolLength > 12 && !withEol)) {
        // No mode code: twelve bits are dropped.
        reader.Consume(std::min(12, reader.Count()));
        continue;
      }
      if (!firstCode) {
        // The row ends here; its EOL starts the next row.
        if (black) PaintBlack(row, from, widthPx);
        tailPainted = true;
        break;
      }
      reader.Consume(eolLength);
      reader.Fill();
      if (reader.Count() == 0) break;
      const bool oneDimensional = reader.Peek(1) != 0;
      reader.Consume(1);
      if (oneDimensional) {
        OnCopy(reader, [row, widthPx](TBitReader& r) {
          Decode1D(r, row, widthPx);
          return 0;
        });
        recorded = false;
        break;
      }
      continue;
    }
    firstCode = false;
    switch (m.kind) {
      case kModePass: {
        reader.Consume(m.length);
        while (*change <= a0) ++change;
        const int* b1 = change + (((change - changeBase) & 1) != black);
        const int b2 = b1[1];
        if (black) PaintBlack(row, from, b2);
        a0 = b2;
        break;
      }
      case kModeVertical: {
        reader.Consume(m.length);
        while (*change <= a0) ++change;
        const int b1 = change[((change - changeBase) & 1) != black];
        const int a1 = std::clamp(b1 + m.offset, from, widthPx);
        if (black) PaintBlack(row, from, a1);
        mark(a1);
        a0 = a1;
        black = !black;
        break;
      }
      case kModeHorizontal: {
        reader.Consume(m.length);
        const int run1 = DecodeRun(reader, black, widthPx);
        if (run1 < 0) break;  // the loop meets the EOL or the end next
        const int a1 = std::min(from + run1, widthPx);
        if (black) PaintBlack(row, from, a1);
        mark(a1);
        const int run2 = DecodeRun(reader, !black, widthPx);
        if (run2 < 0) {
          a0 = a1;
          black = !black;
          break;
        }
        const int a2 = std::min(a1 + run2, widthPx);
        if (!black) PaintBlack(row, a1, a2);
        mark(a2);
        a0 = a2;
        break;
      }
      case kModeExtension: {
        if (reader.Count() < 10) {
          reader.ConsumeAll();
          break;
        }
        const uint32_t extension = reader.Peek(10) & 7;
        reader.Consume(10);
        if (extension != 7) break;  // only uncompressed mode is defined
        const int x = OnCopy(reader, [&](TBitReader& r) {
          return DecodeUncompressed(r, row, widthPx, from, black);
        });
        a0 = x >= 0 ? x : -1 - x;
        recorded = false;  // its changes are not tracked
        break;
      }
      default:
        reader.Consume(1);
        break;
    }
  }
  if (recorded) {
    // The colour state may say black where nothing was painted (the data ended).
    if (black && !tailPainted) mark(a0);
    current.size = markCount;
    current.AddSentinels(widthPx);
  } else {
    ListChanges(row, widthPx, current);
  }
  std::swap(last.changes, current);
  last.bits.assign(row, row + rowBytes);
  last.widthPx = widthPx;
  std::memcpy(reference, row, rowBytes);
  return reader.Position();
}

// ---------------------------------------------------------------- bit writer

namespace {

// Collects code bits for one row; whole bytes go to the stream at the end.
class TBitWriter {
 public:
  TBitWriter(int widthPx, bool reverse, const TCcittPending& pending)
      : reverse_(reverse), accumulator_(pending.Bits), count_(pending.Count) {
    bytes_.reserve(static_cast<size_t>(widthPx) / 4 + 16);
  }

  void Put(TCode code) { Put(code.bits, code.length); }
  void Put(uint32_t bits, int length) {
    accumulator_ = (accumulator_ << length) | bits;
    count_ += length;
    while (count_ >= 8) {
      count_ -= 8;
      const uint8_t b = static_cast<uint8_t>(accumulator_ >> count_);
      bytes_.push_back(reverse_ ? kReverseBits[b] : b);
    }
  }

  void PutRun(int run, bool black) {
    const TRunCodes& codes = black ? kBlackRunCodes : kWhiteRunCodes;
    while (run >= 64) {
      const int makeUp = std::min(run, 2560) / 64;
      Put(codes.makeUp[makeUp - 1]);
      run -= makeUp * 64;
    }
    Put(codes.terminating[run]);
  }

  void PadToByte() {
    if (count_ > 0) Put(0, 8 - count_);
  }

  // Writes the whole bytes and hands the rest back to pending.
  void Finish(TStream& stream, TCcittPending& pending) {
    if (!bytes_.empty()) stream.Write(bytes_.data(), bytes_.size());
    pending.Count = count_;
    pending.Bits = static_cast<uint8_t>(accumulator_ & ((1u << count_) - 1));
  }

 private:
  std::vector<uint8_t> bytes_;
  bool reverse_;
  uint64_t accumulator_;
  int count_;
};

// Input rows: 1 = black.
constexpr bool kEncodeBlackBit = true;

void Encode1D(TBitWriter& writer, const uint8_t* row, int widthPx) {
  int a = 0;
  bool black = false;
  while (a < widthPx) {
    const int end = FindBit(row, widthPx, a, !black == kEncodeBlackBit);
    writer.PutRun(end - a, black);
    a = end;
    black = !black;
  }
}

void Encode2D(TBitWriter& writer, const uint8_t* row, const uint8_t* reference, int widthPx) {
  int a0 = -1;
  bool black = false;
  while (a0 < widthPx) {
    const int from = std::max(a0, 0);
    const int a1 = FindBit(row, widthPx, a0 + 1, !black == kEncodeBlackBit);
    const int b1 = FindB1(reference, widthPx, a0, black, kEncodeBlackBit);
    const int b2 = FindB2(reference, widthPx, b1, black, kEncodeBlackBit);
    if (b2 < a1) {
      writer.Put(kPassCode);
      a0 = b2;
    } else if (a1 - b1 >= -3 && a1 - b1 <= 3) {
      writer.Put(kVerticalCodes[a1 - b1 + 3]);
      a0 = a1;
      black = !black;
    } else {
      const int a2 = FindBit(row, widthPx, a1 + 1, black == kEncodeBlackBit);
      writer.Put(kHorizontalCode);
      writer.PutRun(a1 - from, black);
      writer.PutRun(a2 - a1, !black);
      a0 = a2;
    }
  }
}

bool ValidWidth(int widthPx) {
  return widthPx > 0 && widthPx <= kCcittMaxWidthPx;
}

// Ends a strip: closing codes, padding, fresh state.
void EndStrip(TStream& stream, int fillOrder, const TCode* closing, int closingCount,
              std::vector<uint8_t>* reference, TCcittPending& pending) {
  TBitWriter writer(0, fillOrder == 2, pending);
  for (int i = 0; i < closingCount; ++i) writer.Put(closing[i]);
  writer.PadToByte();
  writer.Finish(stream, pending);
  pending = TCcittPending();
  if (reference) reference->clear();
}

}  // namespace

// ------------------------------------------------------------------ encoders

void EncodeMhRow(const uint8_t* row, int widthPx, TStream& stream, int fillOrder) {
  if (!row || !ValidWidth(widthPx)) return;
  TCcittPending pending;
  TBitWriter writer(widthPx, fillOrder == 2, pending);
  Encode1D(writer, row, widthPx);
  writer.PadToByte();
  writer.Finish(stream, pending);
}

void EncodeG3Row1D(const uint8_t* row, int widthPx, TStream& stream, int fillOrder,
                   TCcittPending& pending) {
  if (!row) {
    EndStrip(stream, fillOrder, nullptr, 0, nullptr, pending);
    return;
  }
  if (!ValidWidth(widthPx)) return;
  TBitWriter writer(widthPx, fillOrder == 2, pending);
  writer.Put(kEolCode);
  Encode1D(writer, row, widthPx);
  writer.Finish(stream, pending);
}

void EncodeG3Row2D(const uint8_t* row, int widthPx, TStream& stream, int fillOrder,
                   std::vector<uint8_t>& reference, TCcittPending& pending) {
  if (!row) {
    EndStrip(stream, fillOrder, &kEolCode, 1, &reference, pending);
    return;
  }
  if (!ValidWidth(widthPx)) return;
  const size_t rowBytes = RowBytes(widthPx);
  TBitWriter writer(widthPx, fillOrder == 2, pending);
  writer.Put(kEolCode);
  if (reference.size() != rowBytes) {
    writer.Put(1, 1);
    Encode1D(writer, row, widthPx);
  } else {
    writer.Put(0, 1);
    Encode2D(writer, row, reference.data(), widthPx);
  }
  writer.Finish(stream, pending);
  reference.assign(row, row + rowBytes);
}

void EncodeG4Row(const uint8_t* row, int widthPx, TStream& stream, int fillOrder,
                 std::vector<uint8_t>& reference, TCcittPending& pending) {
  if (!row) {
    const TCode eofb[2] = {kEolCode, kEolCode};
    EndStrip(stream, fillOrder, eofb, 2, &reference, pending);
    return;
  }
  if (!ValidWidth(widthPx)) return;
  const size_t rowBytes = RowBytes(widthPx);
  if (reference.size() != rowBytes) reference.assign(rowBytes, 0);
  TBitWriter writer(widthPx, fillOrder == 2, pending);
  Encode2D(writer, row, reference.data(), widthPx);
  writer.Finish(stream, pending);
  reference.assign(row, row + rowBytes);
}

}  // namespace folivo
