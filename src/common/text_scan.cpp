#include "common/text_scan.h"

#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tarvo {

namespace internal {

const char* FindAnyOfBytewise(const char* begin, const char* end, char a, char b, char c) {
  for (; begin < end; ++begin) {
    if (*begin == a || *begin == b || *begin == c)
      return begin;
  }
  return end;
}

uint64_t MatchMask64Bytewise(const char* begin, const char* end, char a, char b, char c) {
  uint64_t mask = 0;
  const ptrdiff_t n = end - begin < 64 ? end - begin : 64;
  for (ptrdiff_t i = 0; i < n; ++i) {
    if (begin[i] == a || begin[i] == b || begin[i] == c)
      mask |= uint64_t{1} << i;
  }
  return mask;
}

size_t CountLineBreaksBytewise(const char* begin, const char* end, char before) {
  size_t breaks = 0;
  for (; begin < end; ++begin) {
    breaks += *begin == '\r' || (*begin == '\n' && before != '\r');
    before = *begin;
  }
  return breaks;
}

}  // namespace internal

#if defined(__SSE2__)

namespace {

constexpr ptrdiff_t kStep = 16;

inline __m128i Load(const char* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

inline uint32_t Mask(__m128i matches) {
  return static_cast<uint32_t>(_mm_movemask_epi8(matches));
}

}  // namespace

const char* FindLineBreak(const char* begin, const char* end) {
  return FindAnyOf(begin, end, '\r', '\n', '\n');
}

const char* FindAnyOf(const char* begin, const char* end, char a, char b, char c) {
  const __m128i va = _mm_set1_epi8(a);
  const __m128i vb = _mm_set1_epi8(b);
  const __m128i vc = _mm_set1_epi8(c);
  for (; end - begin >= kStep; begin += kStep) {
    const __m128i bytes = Load(begin);
    const uint32_t mask =
        Mask(_mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, va), _mm_cmpeq_epi8(bytes, vb)),
                          _mm_cmpeq_epi8(bytes, vc)));
    if (mask != 0)
      return begin + std::countr_zero(mask);
  }
  return internal::FindAnyOfBytewise(begin, end, a, b, c);
}

uint64_t MatchMask64(const char* begin, const char* end, char a, char b, char c) {
  // A short piece is copied out first: the loads never read past `end`.
  alignas(16) char padded[64];
  if (end - begin < 64) {
    const ptrdiff_t n = end - begin;
    if (n <= 0)
      return 0;
    std::memcpy(padded, begin, static_cast<size_t>(n));
    std::memset(padded + n, a, static_cast<size_t>(64 - n));
    return MatchMask64(padded, padded + 64, a, b, c) & ((uint64_t{1} << n) - 1);
  }
  const __m128i va = _mm_set1_epi8(a);
  const __m128i vb = _mm_set1_epi8(b);
  const __m128i vc = _mm_set1_epi8(c);
  uint64_t mask = 0;
  for (int step = 0; step < 4; ++step) {
    const __m128i bytes = Load(begin + step * kStep);
    const uint32_t matches =
        Mask(_mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, va), _mm_cmpeq_epi8(bytes, vb)),
                          _mm_cmpeq_epi8(bytes, vc)));
    mask |= uint64_t{matches} << (step * kStep);
  }
  return mask;
}

size_t CountLineBreaks(const char* begin, const char* end, char before) {
  const __m128i cr = _mm_set1_epi8('\r');
  const __m128i lf = _mm_set1_epi8('\n');
  const __m128i zero = _mm_setzero_si128();
  size_t breaks = 0;
  // The CR mask of the previous step, of which only the last byte counts.
  __m128i previousCrs = _mm_slli_si128(_mm_cvtsi32_si128(before == '\r' ? 0xFF : 0), 15);
  while (end - begin >= kStep) {
    // Each byte of `counts` counts the breaks at its position, for at most
    // 255 steps; then the bytes are summed.
    __m128i counts = zero;
    for (int steps = 0; steps < 255 && end - begin >= kStep; ++steps, begin += kStep) {
      const __m128i bytes = Load(begin);
      const __m128i crs = _mm_cmpeq_epi8(bytes, cr);
      const __m128i lfs = _mm_cmpeq_epi8(bytes, lf);
      const __m128i afterCr = _mm_or_si128(_mm_slli_si128(crs, 1), _mm_srli_si128(previousCrs, 15));
      // Each match is -1: subtracting counts it.
      counts = _mm_sub_epi8(counts, _mm_or_si128(crs, _mm_andnot_si128(afterCr, lfs)));
      previousCrs = crs;
    }
    const __m128i sums = _mm_sad_epu8(counts, zero);
    breaks += static_cast<size_t>(_mm_cvtsi128_si32(sums)) +
              static_cast<size_t>(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
  }
  if (begin < end) {
    const bool crBefore = (_mm_movemask_epi8(previousCrs) & 0x8000) != 0;
    breaks += internal::CountLineBreaksBytewise(begin, end, crBefore ? '\r' : '\0');
  }
  return breaks;
}

#else  // no SSE2

const char* FindLineBreak(const char* begin, const char* end) {
  return internal::FindAnyOfBytewise(begin, end, '\r', '\n', '\n');
}

const char* FindAnyOf(const char* begin, const char* end, char a, char b, char c) {
  return internal::FindAnyOfBytewise(begin, end, a, b, c);
}

uint64_t MatchMask64(const char* begin, const char* end, char a, char b, char c) {
  return internal::MatchMask64Bytewise(begin, end, a, b, c);
}

size_t CountLineBreaks(const char* begin, const char* end, char before) {
  return internal::CountLineBreaksBytewise(begin, end, before);
}

#endif

}  // namespace tarvo
