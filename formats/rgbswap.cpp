// Folivo — multi-page TIFF editor.
#include "formats/rgbswap.h"

#include <immintrin.h>

namespace folivo {

namespace {

// 16 pixels (three 16-byte blocks) a step where the processor
// has byte shuffles. Each block of output takes its bytes from at most three
// input blocks; Z marks a byte another block supplies.
__attribute__((target("ssse3"))) void SwapRedBlueSsse3(const uint8_t* src, uint8_t* d,
                                                       int widthPx) {
  constexpr char Z = static_cast<char>(0x80);
  const __m128i m0 = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, Z);
  const __m128i m0b = _mm_setr_epi8(Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, 1);
  const __m128i m1a = _mm_setr_epi8(Z, 15, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z);
  const __m128i m1 = _mm_setr_epi8(0, Z, 4, 3, 2, 7, 6, 5, 10, 9, 8, 13, 12, 11, Z, 15);
  const __m128i m1c = _mm_setr_epi8(Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, 0, Z);
  const __m128i m2b = _mm_setr_epi8(14, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z);
  const __m128i m2 = _mm_setr_epi8(Z, 3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10, 15, 14, 13);
  int x = 0;
  for (; x + 16 <= widthPx; x += 16, src += 48, d += 48) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 16));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 32));
    const __m128i o0 = _mm_or_si128(_mm_shuffle_epi8(a, m0), _mm_shuffle_epi8(b, m0b));
    const __m128i o1 = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a, m1a), _mm_shuffle_epi8(b, m1)),
                                    _mm_shuffle_epi8(c, m1c));
    const __m128i o2 = _mm_or_si128(_mm_shuffle_epi8(b, m2b), _mm_shuffle_epi8(c, m2));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), o0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16), o1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 32), o2);
  }
  for (; x < widthPx; ++x, src += 3, d += 3) {
    const uint8_t r = src[0], g = src[1], b = src[2];
    d[0] = b;
    d[1] = g;
    d[2] = r;
  }
}

void SwapRedBlueScalar(const uint8_t* src, uint8_t* d, int widthPx) {
  for (int x = 0; x < widthPx; ++x, src += 3, d += 3) {
    const uint8_t r = src[0], g = src[1], b = src[2];
    d[0] = b;
    d[1] = g;
    d[2] = r;
  }
}

}  // namespace

void SwapRedBlue(const uint8_t* src, uint8_t* d, int widthPx) {
  static const bool haveSsse3 = __builtin_cpu_supports("ssse3");
  if (haveSsse3)
    SwapRedBlueSsse3(src, d, widthPx);
  else
    SwapRedBlueScalar(src, d, widthPx);
}

}  // namespace folivo
