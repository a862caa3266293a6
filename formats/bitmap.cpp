// Folivo — multi-page TIFF editor.
// Page bitmap storage (memory or mapped temp file), fill, alpha and conversions.
#include "formats/bitmap.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "formats/errors.h"
#include "formats/quantize.h"

namespace folivo {

namespace {

// No page comes near this; a larger request comes from a bad size.
constexpr int64_t kMaxBitmapBytes = int64_t{1} << 40;
constexpr std::align_val_t kPixelAlignment{32};
constexpr int64_t kFallbackMinFileSize = 33554432;  // bytes

std::atomic<int64_t> gDefaultMinFileSize{-1};

struct TFormatInfo {
  int bitCount;
  int channelCount;
  const char* name;
};
constexpr TFormatInfo kFormats[] = {
    {0, 0, "ieNoPixels"}, {1, 1, "ie1g"},      {8, 1, "ie8p"},   {8, 1, "ie8g"},
    {16, 1, "ie16g"},     {24, 3, "ie24RGB"},  {32, 1, "ie32f"}, {32, 4, "ieCMYK"},
    {48, 3, "ieRGB48"},   {24, 3, "ieCIELab"},
};

bool IsKnownFormat(TPagePixelFormat format) {
  return format <= ieCIELab;
}

bool IsGrayFormat(TPagePixelFormat format) {
  return format == ie1g || format == ie8g || format == ie16g || format == ie32f;
}

int64_t ResolvedDefaultMinFileSize() {
  const int64_t configured = gDefaultMinFileSize.load(std::memory_order_relaxed);
  if (configured != -1) return configured;
  const long pages = sysconf(_SC_AVPHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) return kFallbackMinFileSize;
  const int64_t half = static_cast<int64_t>(pages) * pageSize / 2;
  return half > 0 ? half : kFallbackMinFileSize;
}

// An unlinked temp file of bytes, mapped shared; nullptr on any failure. The
// blocks are reserved up front: a sparse file on a full disk would turn the
// first write into SIGBUS instead of a fallback.
uint8_t* MapTempFile(size_t bytes) {
  const char* dir = std::getenv("TMPDIR");
  std::string path = (dir && *dir) ? dir : "/tmp";
  path += "/IMGXXXXXX";
  int fd = mkstemp(path.data());
  if (fd < 0) return nullptr;
  unlink(path.c_str());
  void* mapping = MAP_FAILED;
  if (ftruncate(fd, static_cast<off_t>(bytes)) == 0) {
    const int reserved = posix_fallocate(fd, 0, static_cast<off_t>(bytes));
    if (reserved == 0 || reserved == EINVAL || reserved == EOPNOTSUPP)
      mapping = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  }
  // The mapping keeps the file alive; holding no descriptor lets a document
  // have thousands of file-backed pages.
  close(fd);
  return mapping == MAP_FAILED ? nullptr : static_cast<uint8_t*>(mapping);
}

// NaN and out-of-range reals count as 0 or the nearest end before taking low bits.
uint64_t IntegerBits(double value) {
  if (!std::isfinite(value)) return 0;
  constexpr double kLimit = 9.0e18;
  value = std::clamp(value, -kLimit, kLimit);
  return static_cast<uint64_t>(static_cast<int64_t>(value));
}

// ---- sample helpers ------------------------------------------------------

inline uint16_t Load16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline void Store16(uint8_t* p, unsigned v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline float LoadFloat(const uint8_t* p) {
  float f;
  std::memcpy(&f, p, sizeof f);
  return f;
}
inline void StoreFloat(uint8_t* p, float f) {
  std::memcpy(p, &f, sizeof f);
}
inline uint8_t Sixteen2Eight(unsigned v) {
  return static_cast<uint8_t>((v + 128) / 257);
}
inline uint8_t FloatToByte(float f) {
  if (!(f > 0.0f)) return 0;  // NaN too
  if (f >= 1.0f) return 255;
  return static_cast<uint8_t>(std::lrintf(f * 255.0f));
}
inline uint16_t FloatToWord(float f) {
  if (!(f > 0.0f)) return 0;
  if (f >= 1.0f) return 65535;
  return static_cast<uint16_t>(std::lrintf(f * 65535.0f));
}
inline uint8_t Lum(const uint8_t* bgr) {
  return static_cast<uint8_t>(Luminance(bgr[2], bgr[1], bgr[0]));
}
inline uint8_t MulDiv255(unsigned a, unsigned b) {
  return static_cast<uint8_t>((a * b + 127) / 255);
}

// ---- CIELab ----------------------------------------------------------------

constexpr double kWhiteX = 0.95047, kWhiteZ = 1.08883;  // D65, Y = 1
constexpr double kEpsilon = 216.0 / 24389.0;            // (6/29)^3
constexpr double kKappa = 24389.0 / 27.0;

double SrgbToLinear(double v) {
  return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}
double LinearToSrgb(double v) {
  return v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
}
double LabF(double t) {
  return t > kEpsilon ? std::cbrt(t) : (kKappa * t + 16.0) / 116.0;
}

struct TLabTables {
  static constexpr int kFSteps = 4096;       // LabF over 0..1
  static constexpr int kGammaSteps = 16384;  // linear 0..1 to an sRGB byte
  float linear[256];
  float f[kFSteps + 2];
  uint8_t gamma[kGammaSteps + 1];

  TLabTables() {
    for (int i = 0; i < 256; ++i) linear[i] = static_cast<float>(SrgbToLinear(i / 255.0));
    for (int i = 0; i <= kFSteps + 1; ++i) f[i] = static_cast<float>(LabF(double(i) / kFSteps));
    for (int i = 0; i <= kGammaSteps; ++i)
      gamma[i] = static_cast<uint8_t>(std::lround(LinearToSrgb(double(i) / kGammaSteps) * 255.0));
  }
  float F(float t) const {
    t = std::clamp(t, 0.0f, 1.0f) * kFSteps;
    const int i = static_cast<int>(t);
    return f[i] + (f[i + 1] - f[i]) * (t - static_cast<float>(i));
  }
  uint8_t Gamma(float v) const {
    if (!(v > 0.0f)) return 0;
    if (v >= 1.0f) return 255;
    return gamma[static_cast<int>(v * kGammaSteps + 0.5f)];
  }
};

const TLabTables& LabTables() {
  static const TLabTables tables;
  return tables;
}

inline float FInverse(float f) {
  constexpr float kDelta = 6.0f / 29.0f;
  return f > kDelta ? f * f * f : 3.0f * kDelta * kDelta * (f - 4.0f / 29.0f);
}

void RgbToLab(const TLabTables& t, const uint8_t* bgr, uint8_t* lab) {
  const float r = t.linear[bgr[2]], g = t.linear[bgr[1]], b = t.linear[bgr[0]];
  const float x = (0.4124564f * r + 0.3575761f * g + 0.1804375f * b) / float(kWhiteX);
  const float y = 0.2126729f * r + 0.7151522f * g + 0.0721750f * b;
  const float z = (0.0193339f * r + 0.1191920f * g + 0.9503041f * b) / float(kWhiteZ);
  const float fx = t.F(x), fy = t.F(y), fz = t.F(z);
  const float l = 116.0f * fy - 16.0f;
  lab[0] = static_cast<uint8_t>(std::clamp(std::lrintf(l * 2.55f), 0L, 255L));
  lab[1] = static_cast<uint8_t>(
      static_cast<int8_t>(std::clamp(std::lrintf(500.0f * (fx - fy)), -128L, 127L)));
  lab[2] = static_cast<uint8_t>(
      static_cast<int8_t>(std::clamp(std::lrintf(200.0f * (fy - fz)), -128L, 127L)));
}

void LabToRgb(const TLabTables& t, const uint8_t* lab, uint8_t* bgr) {
  const float fy = (lab[0] / 2.55f + 16.0f) / 116.0f;
  const float fx = fy + static_cast<int8_t>(lab[1]) / 500.0f;
  const float fz = fy - static_cast<int8_t>(lab[2]) / 200.0f;
  const float x = FInverse(fx) * float(kWhiteX), y = FInverse(fy),
              z = FInverse(fz) * float(kWhiteZ);
  const float r = 3.2404542f * x - 1.5371385f * y - 0.4985314f * z;
  const float g = -0.9692660f * x + 1.8760108f * y + 0.0415560f * z;
  const float b = 0.0556434f * x - 0.2040259f * y + 1.0572252f * z;
  bgr[0] = t.Gamma(b);
  bgr[1] = t.Gamma(g);
  bgr[2] = t.Gamma(r);
}

// ---- rows ------------------------------------------------------------------

// What a row of source needs besides its bytes.
struct TSourceContext {
  TColorTriple palette[256];  // entries past PaletteLength read as black
};

void ToRgbRow(TPagePixelFormat format, const uint8_t* src, int width, uint8_t* bgr,
              const TSourceContext& context) {
  switch (format) {
    case ie1g:
      for (int x = 0; x < width; ++x, bgr += 3) {
        const uint8_t v = ((src[x >> 3] >> (7 - (x & 7))) & 1) ? 255 : 0;
        bgr[0] = bgr[1] = bgr[2] = v;
      }
      break;
    case ie8p:
      for (int x = 0; x < width; ++x, bgr += 3) {
        const TColorTriple& c = context.palette[src[x]];
        bgr[0] = c.blue;
        bgr[1] = c.green;
        bgr[2] = c.red;
      }
      break;
    case ie8g:
      for (int x = 0; x < width; ++x, bgr += 3) bgr[0] = bgr[1] = bgr[2] = src[x];
      break;
    case ie16g:
      for (int x = 0; x < width; ++x, bgr += 3)
        bgr[0] = bgr[1] = bgr[2] = Sixteen2Eight(Load16(src + 2 * x));
      break;
    case ie24RGB:
      std::memcpy(bgr, src, static_cast<size_t>(width) * 3);
      break;
    case ie32f:
      for (int x = 0; x < width; ++x, bgr += 3)
        bgr[0] = bgr[1] = bgr[2] = FloatToByte(LoadFloat(src + 4 * x));
      break;
    case ieCMYK:
      for (int x = 0; x < width; ++x, bgr += 3, src += 4) {
        bgr[0] = MulDiv255(src[2], src[3]);
        bgr[1] = MulDiv255(src[1], src[3]);
        bgr[2] = MulDiv255(src[0], src[3]);
      }
      break;
    case ieRGB48:
      for (int x = 0; x < width; ++x, bgr += 3, src += 6) {
        bgr[0] = Sixteen2Eight(Load16(src + 4));
        bgr[1] = Sixteen2Eight(Load16(src + 2));
        bgr[2] = Sixteen2Eight(Load16(src));
      }
      break;
    case ieCIELab: {
      const TLabTables& tables = LabTables();
      for (int x = 0; x < width; ++x, bgr += 3, src += 3) LabToRgb(tables, src, bgr);
      break;
    }
    case ieNoPixels:
      break;
  }
}

void RgbToCmyk(const uint8_t* bgr, uint8_t* cmyk) {
  const unsigned k = std::max({bgr[0], bgr[1], bgr[2]});
  if (k == 0) {
    cmyk[0] = cmyk[1] = cmyk[2] = 255;
    cmyk[3] = 0;
    return;
  }
  cmyk[0] = static_cast<uint8_t>((bgr[2] * 255u + k / 2) / k);
  cmyk[1] = static_cast<uint8_t>((bgr[1] * 255u + k / 2) / k);
  cmyk[2] = static_cast<uint8_t>((bgr[0] * 255u + k / 2) / k);
  cmyk[3] = static_cast<uint8_t>(k);
}

// Every format but ie1g and ie8p, which need the whole page.
void FromRgbRow(TPagePixelFormat format, const uint8_t* bgr, int width, uint8_t* dst) {
  switch (format) {
    case ie8g:
      for (int x = 0; x < width; ++x, bgr += 3) dst[x] = Lum(bgr);
      break;
    case ie16g:
      for (int x = 0; x < width; ++x, bgr += 3) Store16(dst + 2 * x, Lum(bgr) * 257u);
      break;
    case ie24RGB:
      std::memcpy(dst, bgr, static_cast<size_t>(width) * 3);
      break;
    case ie32f:
      for (int x = 0; x < width; ++x, bgr += 3) StoreFloat(dst + 4 * x, Lum(bgr) / 255.0f);
      break;
    case ieCMYK:
      for (int x = 0; x < width; ++x, bgr += 3, dst += 4) RgbToCmyk(bgr, dst);
      break;
    case ieRGB48:
      for (int x = 0; x < width; ++x, bgr += 3, dst += 6) {
        Store16(dst, bgr[2] * 257u);
        Store16(dst + 2, bgr[1] * 257u);
        Store16(dst + 4, bgr[0] * 257u);
      }
      break;
    case ieCIELab: {
      const TLabTables& tables = LabTables();
      for (int x = 0; x < width; ++x, bgr += 3, dst += 3) RgbToLab(tables, bgr, dst);
      break;
    }
    case ieNoPixels:
    case ie1g:
    case ie8p:
      break;
  }
}

// Gray to gray through a real level 0..1, which keeps 16 bits and floats whole.
void GrayToLevels(TPagePixelFormat format, const uint8_t* src, int width, float* levels) {
  switch (format) {
    case ie1g:
      for (int x = 0; x < width; ++x)
        levels[x] = ((src[x >> 3] >> (7 - (x & 7))) & 1) ? 1.0f : 0.0f;
      break;
    case ie8g:
      for (int x = 0; x < width; ++x) levels[x] = src[x] / 255.0f;
      break;
    case ie16g:
      for (int x = 0; x < width; ++x) levels[x] = Load16(src + 2 * x) / 65535.0f;
      break;
    case ie32f:
      std::memcpy(levels, src, static_cast<size_t>(width) * 4);
      break;
    default:
      break;
  }
}

void LevelsToGray(TPagePixelFormat format, const float* levels, int width, uint8_t* dst) {
  switch (format) {
    case ie8g:
      for (int x = 0; x < width; ++x) dst[x] = FloatToByte(levels[x]);
      break;
    case ie16g:
      for (int x = 0; x < width; ++x) Store16(dst + 2 * x, FloatToWord(levels[x]));
      break;
    case ie32f:
      std::memcpy(dst, levels, static_cast<size_t>(width) * 4);
      break;
    default:
      break;
  }
}

// The standard 8 x 8 Bayer matrix; a pixel at column x, row y is white when
// kBayer[x mod 8][y mod 8] < lum div 4, and always when lum is 255.
constexpr uint8_t kBayer[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26},
    {12, 44, 4, 36, 14, 46, 6, 38}, {60, 28, 52, 20, 62, 30, 54, 22},
    {3, 35, 11, 43, 1, 33, 9, 41},  {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37}, {63, 31, 55, 23, 61, 29, 53, 21},
};

class TRowSource {
 public:
  TRowSource(const TIEBitmap& source)
      : source_(source), rgb_(static_cast<size_t>(source.Width()) * 3) {
    if (source.PixelFormat() == ie8p)
      for (int i = 0; i < source.PaletteLength() && i < 256; ++i)
        context_.palette[i] = source.GetPaletteColor(i);
  }
  const uint8_t* Rgb(int row) {
    const uint8_t* src = source_.GetScanline(row);
    if (source_.PixelFormat() == ie24RGB) return src;
    ToRgbRow(source_.PixelFormat(), src, source_.Width(), rgb_.data(), context_);
    return rgb_.data();
  }

 private:
  const TIEBitmap& source_;
  TSourceContext context_;
  std::vector<uint8_t> rgb_;
};

void ConvertToBilevel(const TIEBitmap& source, TIEBitmap& target) {
  const int width = source.Width(), height = source.Height();
  TRowSource rows(source);
  std::vector<uint8_t> lum(static_cast<size_t>(width));
  const auto lumRow = [&](int y) -> const uint8_t* {
    if (source.PixelFormat() == ie8g) return source.GetScanline(y);
    const uint8_t* bgr = rows.Rgb(y);
    for (int x = 0; x < width; ++x) lum[x] = Lum(bgr + 3 * x);
    return lum.data();
  };

  int threshold = 0;
  const bool dither = source.BWConversion == 0;
  if (!dither) {
    uint64_t red = 0, green = 0, blue = 0;
    for (int y = 0; y < height; ++y) {
      if (source.PixelFormat() == ie8g) {
        const uint8_t* g = source.GetScanline(y);
        uint64_t sum = 0;
        for (int x = 0; x < width; ++x) sum += g[x];
        red += sum;
        green += sum;
        blue += sum;
      } else {
        const uint8_t* bgr = rows.Rgb(y);
        for (int x = 0; x < width; ++x, bgr += 3) {
          blue += bgr[0];
          green += bgr[1];
          red += bgr[2];
        }
      }
    }
    const uint64_t count = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    threshold = Luminance(static_cast<int>(red / count), static_cast<int>(green / count),
                          static_cast<int>(blue / count));
  }

  // bit[r][i][lum]: the bit that a pixel of level lum sets at column i of a
  // byte, for row r mod 8 (the same for every row when thresholding).
  std::vector<uint8_t> bits(8 * 8 * 256);
  for (int r = 0; r < 8; ++r)
    for (int i = 0; i < 8; ++i)
      for (int level = 0; level < 256; ++level) {
        // Pure white stays white: 255 div 4 = 63 does not exceed the matrix's 63.
        const bool white = dither ? (level == 255 || kBayer[i][r] < level / 4) : level >= threshold;
        bits[(r * 8 + i) * 256 + level] = white ? static_cast<uint8_t>(0x80 >> i) : 0;
      }
  for (int y = 0; y < height; ++y) {
    const uint8_t* l = lumRow(y);
    const uint8_t* table = bits.data() + (dither ? (y & 7) : 0) * 8 * 256;
    uint8_t* dst = target.GetScanline(y);
    std::memset(dst, 0, static_cast<size_t>(target.RowLength()));
    int x = 0;
    for (; x + 8 <= width; x += 8, l += 8)
      dst[x >> 3] = table[l[0]] | table[256 + l[1]] | table[512 + l[2]] | table[768 + l[3]] |
                    table[1024 + l[4]] | table[1280 + l[5]] | table[1536 + l[6]] |
                    table[1792 + l[7]];
    for (int i = 0; x < width; ++x, ++i, ++l) dst[x >> 3] |= table[i * 256 + l[0]];
  }
}

void ConvertToPalette(const TIEBitmap& source, TIEBitmap& target) {
  const int width = source.Width(), height = source.Height();
  TRowSource rows(source);
  TColorQuantizer quantizer(source.QuantizeColors);
  for (int y = 0; y < height; ++y) quantizer.AddPixels(rows.Rgb(y), width);
  const int colors = quantizer.BuildPalette();
  target.SetPaletteLength(colors);
  for (int i = 0; i < colors; ++i) target.SetPaletteColor(i, quantizer.Palette()[i]);
  for (int y = 0; y < height; ++y) quantizer.MapPixels(rows.Rgb(y), width, target.GetScanline(y));
}

void ConvertPixels(const TIEBitmap& source, TIEBitmap& target) {
  const TPagePixelFormat from = source.PixelFormat(), to = target.PixelFormat();
  const int width = source.Width(), height = source.Height();
  if (to == ie1g) return ConvertToBilevel(source, target);
  if (to == ie8p) return ConvertToPalette(source, target);
  if (IsGrayFormat(from) && IsGrayFormat(to)) {
    std::vector<float> levels(static_cast<size_t>(width));
    for (int y = 0; y < height; ++y) {
      GrayToLevels(from, source.GetScanline(y), width, levels.data());
      LevelsToGray(to, levels.data(), width, target.GetScanline(y));
    }
    return;
  }
  TRowSource rows(source);
  for (int y = 0; y < height; ++y) FromRgbRow(to, rows.Rgb(y), width, target.GetScanline(y));
}

bool AllBytes255(const uint8_t* p, size_t count) {
  uint64_t all = ~uint64_t{0};
  size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    uint64_t word;
    std::memcpy(&word, p + i, 8);
    if (word != all) return false;
  }
  for (; i < count; ++i)
    if (p[i] != 255) return false;
  return true;
}

}  // namespace

int PixelFormatBitCount(TPagePixelFormat format) {
  return IsKnownFormat(format) ? kFormats[format].bitCount : 0;
}

int PixelFormatChannelCount(TPagePixelFormat format) {
  return IsKnownFormat(format) ? kFormats[format].channelCount : 0;
}

const char* PixelFormatName(TPagePixelFormat format) {
  return IsKnownFormat(format) ? kFormats[format].name : "";
}

int64_t RowLengthFor(int64_t widthPx, int bitCount) {
  if (widthPx <= 0 || bitCount <= 0) return 0;
  return (widthPx * bitCount + 31) / 32 * 4;
}

struct TIEBitmap::TStorage {
  uint8_t* pixels = nullptr;
  size_t bytes = 0;
  bool mapped = false;
  TBitmapLocation location = ieMemory;

  TStorage() = default;
  TStorage(const TStorage&) = delete;
  TStorage& operator=(const TStorage&) = delete;
  ~TStorage() {
    if (!pixels) return;
    if (mapped)
      munmap(pixels, bytes);
    else
      ::operator delete(pixels, kPixelAlignment);
  }
};

TIEBitmap::TIEBitmap() : minFileSize_(ResolvedDefaultMinFileSize()) {}

TIEBitmap::TIEBitmap(int widthPx, int heightPx, TPagePixelFormat format) : TIEBitmap() {
  Allocate(widthPx, heightPx, format);
}

TIEBitmap::~TIEBitmap() = default;

int64_t TIEBitmap::DefaultMinFileSize() {
  return gDefaultMinFileSize.load(std::memory_order_relaxed);
}

void TIEBitmap::SetDefaultMinFileSize(int64_t bytes) {
  gDefaultMinFileSize.store(bytes, std::memory_order_relaxed);
}

TBitmapLocation TIEBitmap::ActualLocation() const {
  return storage_ ? storage_->location : location_;
}

void TIEBitmap::MarkWritten() {
  if (isAlpha_) fullKnown_ = false;
}

uint8_t* TIEBitmap::GetScanline(int row) {
  if (!storage_ || row < 0 || row >= height_) return nullptr;
  MarkWritten();
  return storage_->pixels + static_cast<int64_t>(rowLength_) * (height_ - 1 - row);
}

const uint8_t* TIEBitmap::GetScanline(int row) const {
  if (!storage_ || row < 0 || row >= height_) return nullptr;
  return storage_->pixels + static_cast<int64_t>(rowLength_) * (height_ - 1 - row);
}

TColorTriple TIEBitmap::GetPaletteColor(int index) const {
  if (index < 0 || index >= paletteLength_) return TColorTriple{};
  return palette_[index];
}

void TIEBitmap::SetPaletteColor(int index, TColorTriple color) {
  if (index < 0 || index >= paletteLength_) return;
  palette_[index] = color;
}

void TIEBitmap::SetPaletteLength(int length) {
  length = std::clamp(length, 0, 256);
  if (length == 0) {
    palette_.reset();
  } else if (!palette_) {
    palette_.reset(new TColorTriple[256]());
  } else {
    for (int i = paletteLength_; i < length; ++i) palette_[i] = TColorTriple{};
  }
  paletteLength_ = length;
}

void TIEBitmap::ReleaseStorage() {
  storage_.reset();
}

void TIEBitmap::AllocateStorage() {
  const int64_t bytes = static_cast<int64_t>(rowLength_) * height_;
  TBitmapLocation where = location_;
  if (where == ieTempFile && bytes < minFileSize_)
    where = ieMemory;
  else if (where == ieMemory && bytes > minFileSize_)
    where = ieTempFile;

  auto storage = std::make_unique<TStorage>();
  storage->bytes = static_cast<size_t>(bytes);
  if (where == ieTempFile) {
    storage->pixels = MapTempFile(storage->bytes);
    storage->mapped = storage->pixels != nullptr;
    if (!storage->mapped) where = ieMemory;
  }
  if (!storage->pixels)
    storage->pixels = static_cast<uint8_t*>(::operator new(storage->bytes, kPixelAlignment));
  storage->location = where;
  storage_ = std::move(storage);
}

void TIEBitmap::Allocate(int widthPx, int heightPx, TPagePixelFormat format) {
  if (!IsKnownFormat(format)) format = ieNoPixels;
  widthPx = std::max(widthPx, 0);
  heightPx = std::max(heightPx, 0);
  if (location_ == ieTBitmap) {
    if (format == ie32f || format == ieCMYK || format == ieRGB48 || format == ieCIELab)
      throw TBitmapError(std::string(PixelFormatName(format)) +
                         " pixel format not allowed when Location=ieTBitmap");
    if (format == ie16g) format = ie8g;
  }
  if (storage_ && widthPx == width_ && heightPx == height_ && format == format_) return;

  const int bitCount = PixelFormatBitCount(format);
  const int64_t rowLength = RowLengthFor(widthPx, bitCount);
  const bool hasPixels = widthPx > 0 && heightPx > 0 && format != ieNoPixels;
  if (hasPixels && (rowLength > INT_MAX || rowLength * heightPx > kMaxBitmapBytes)) {
    FreeImage();
    throw std::bad_alloc();
  }

  ReleaseStorage();
  SetPaletteLength(0);
  alpha_.reset();
  width_ = widthPx;
  height_ = heightPx;
  format_ = format;
  bitCount_ = bitCount;
  channelCount_ = PixelFormatChannelCount(format);
  rowLength_ = static_cast<int>(rowLength);
  full_ = true;
  fullKnown_ = true;
  if (!hasPixels) return;
  try {
    AllocateStorage();
  } catch (...) {
    FreeImage();
    throw;
  }
  if (format == ie8p) SetPaletteLength(256);
  MarkWritten();
}

void TIEBitmap::FreeImage() {
  ReleaseStorage();
  SetPaletteLength(0);
  alpha_.reset();
  width_ = height_ = 0;
  format_ = ieNoPixels;
  bitCount_ = channelCount_ = rowLength_ = 0;
  full_ = true;
  fullKnown_ = true;
}

bool TIEBitmap::IsEmpty() const {
  return width_ == 0 || height_ == 0 || rowLength_ == 0 || bitCount_ == 0;
}

void TIEBitmap::Fill(double value) {
  if (!storage_) return;
  std::vector<uint8_t> row(static_cast<size_t>(rowLength_), 0);
  const uint64_t bits = IntegerBits(value);
  const uint32_t color = static_cast<uint32_t>(bits & 0xFFFFFF);
  uint8_t bgr[3] = {ColorBlue(color), ColorGreen(color), ColorRed(color)};
  bool white = false;
  const auto repeat = [&](const uint8_t* pixel, int bytes) {
    for (int x = 0; x < width_; ++x)
      std::memcpy(row.data() + static_cast<size_t>(x) * bytes, pixel, bytes);
  };
  switch (format_) {
    case ie1g:
      white = std::isfinite(value) && value != 0;  // a fraction like 0.5 is nonzero too
      std::fill(row.begin(), row.end(), white ? 0xFF : 0x00);
      break;
    case ie8p:
    case ie8g:
      std::fill(row.begin(), row.end(), static_cast<uint8_t>(bits));
      white = static_cast<uint8_t>(bits) == 255;
      break;
    case ie16g: {
      uint8_t pixel[2];
      Store16(pixel, static_cast<uint16_t>(bits));
      repeat(pixel, 2);
      white = static_cast<uint16_t>(bits) == 65535;
      break;
    }
    case ie24RGB:
      repeat(bgr, 3);
      white = color == 0xFFFFFF;
      break;
    case ie32f: {
      uint8_t pixel[4];
      StoreFloat(pixel, static_cast<float>(value));
      repeat(pixel, 4);
      white = static_cast<float>(value) == 1.0f;
      break;
    }
    case ieCMYK:
    case ieRGB48:
    case ieCIELab: {
      uint8_t pixel[6];
      FromRgbRow(format_, bgr, 1, pixel);
      repeat(pixel, bitCount_ / 8);
      white = color == 0xFFFFFF;
      break;
    }
    case ieNoPixels:
      return;
  }
  for (int y = 0; y < height_; ++y)
    std::memcpy(storage_->pixels + static_cast<int64_t>(rowLength_) * y, row.data(), row.size());
  if (isAlpha_) {
    full_ = white;
    fullKnown_ = format_ == ie8g;
  }
}

bool TIEBitmap::ScanFull() const {
  if (!storage_ || format_ != ie8g) return storage_ == nullptr;
  for (int y = 0; y < height_; ++y)
    if (!AllBytes255(GetScanline(y), static_cast<size_t>(width_))) return false;
  return true;
}

bool TIEBitmap::Full() const {
  if (!isAlpha_) return !alpha_ || alpha_->Full();
  if (!fullKnown_) {
    full_ = ScanFull();
    fullKnown_ = true;
  }
  return full_;
}

TIEBitmap* TIEBitmap::AlphaChannel() {
  if (isAlpha_) return nullptr;
  if (!alpha_) {
    auto alpha = std::make_unique<TIEBitmap>();
    alpha->isAlpha_ = true;
    alpha->location_ = location_;
    alpha->minFileSize_ = minFileSize_;
    alpha->Allocate(width_, height_, ie8g);
    alpha->Fill(255);
    alpha_ = std::move(alpha);
  }
  return alpha_.get();
}

void TIEBitmap::RemoveAlphaChannel(bool merge, uint32_t backgroundColor) {
  if (!alpha_) return;
  if (merge && format_ == ie24RGB && storage_ && !alpha_->Full()) {
    const int back[3] = {ColorBlue(backgroundColor), ColorGreen(backgroundColor),
                         ColorRed(backgroundColor)};
    const TIEBitmap& alpha = *alpha_;
    const int width = std::min(width_, alpha.width_), height = std::min(height_, alpha.height_);
    for (int y = 0; y < height; ++y) {
      uint8_t* p = GetScanline(y);
      const uint8_t* a = alpha.GetScanline(y);
      for (int x = 0; x < width; ++x, p += 3) {
        const int level = a[x];
        // Opaque pixels keep their colour: the shift by 18 divides by 256,
        // which would darken every opaque channel by one level.
        if (level == 255) continue;
        for (int c = 0; c < 3; ++c)
          p[c] = static_cast<uint8_t>(back[c] + (((p[c] - back[c]) * level * 1024) >> 18));
      }
    }
  }
  alpha_.reset();
}

void TIEBitmap::TakePixels(TIEBitmap& other) {
  storage_ = std::move(other.storage_);
  format_ = other.format_;
  bitCount_ = other.bitCount_;
  channelCount_ = other.channelCount_;
  rowLength_ = other.rowLength_;
  palette_ = std::move(other.palette_);
  paletteLength_ = other.paletteLength_;
  other.FreeImage();
}

void TIEBitmap::Assign(const TIEBitmap& source) {
  if (&source == this) return;
  // Assigning our own alpha to us: keep it alive until the copy is done.
  std::unique_ptr<TIEBitmap> keep;
  if (&source == alpha_.get()) keep = std::move(alpha_);

  Allocate(source.width_, source.height_, source.format_);
  MarkWritten();
  if (storage_ && source.storage_) {
    if (format_ == source.format_ && storage_->mapped && source.storage_->mapped &&
        storage_->bytes == source.storage_->bytes) {
      // Both blocks are file pages: one copy from file to file.
      std::memcpy(storage_->pixels, source.storage_->pixels, storage_->bytes);
    } else if (format_ == source.format_) {
      const size_t bytes = static_cast<size_t>(std::min(rowLength_, source.rowLength_));
      for (int y = 0; y < height_; ++y) std::memcpy(GetScanline(y), source.GetScanline(y), bytes);
    } else {
      // ie16g into ieTBitmap storage, which keeps it as ie8g.
      ConvertPixels(source, *this);
    }
  }
  SetPaletteLength(source.paletteLength_);
  for (int i = 0; i < paletteLength_; ++i) palette_[i] = source.palette_[i];
  BWConversion = source.BWConversion;

  if (source.alpha_ && !isAlpha_) {
    auto alpha = std::make_unique<TIEBitmap>();
    alpha->isAlpha_ = true;
    alpha->location_ = location_;
    alpha->minFileSize_ = minFileSize_;
    alpha->Assign(*source.alpha_);
    alpha_ = std::move(alpha);
  } else {
    alpha_.reset();
  }
  if (isAlpha_ && source.isAlpha_ && format_ == source.format_) {
    full_ = source.full_;
    fullKnown_ = source.fullKnown_;
  }
}

void TIEBitmap::ConvertTo(TPagePixelFormat format) {
  if (!IsKnownFormat(format)) return;
  if (location_ == ieTBitmap && format == ie16g) format = ie8g;
  if (format == format_) return;
  TIEBitmap target;
  target.location_ = location_;
  target.minFileSize_ = minFileSize_;
  target.Allocate(width_, height_, format);
  if (storage_ && target.storage_) ConvertPixels(*this, target);
  TakePixels(target);  // the alpha companion stays: same size
  if (format_ == ieNoPixels) FreeImage();
  MarkWritten();
}

}  // namespace folivo
