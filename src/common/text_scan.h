// Byte scans over import text, sixteen bytes at a step where the processor
// allows it. Every function works on the half-open range [begin, end) and
// gives the same result as the plain byte-by-byte loop it replaces.
#ifndef TARVO_COMMON_TEXT_SCAN_H_
#define TARVO_COMMON_TEXT_SCAN_H_

#include <cstddef>
#include <cstdint>

namespace tarvo {

// The first CR or LF in [begin, end); `end` when there is none.
const char* FindLineBreak(const char* begin, const char* end);

// The first byte in [begin, end) equal to `a`, `b` or `c`; `end` when
// there is none.
const char* FindAnyOf(const char* begin, const char* end, char a, char b, char c);

// The line breaks in [begin, end): every CR, and every LF that does not
// follow a CR. `before` is the byte just before `begin` (any byte but CR
// when there is none), so that a CR LF pair split across two pieces counts
// once.
size_t CountLineBreaks(const char* begin, const char* end, char before);

// Bit i set when begin[i] is `a`, `b` or `c`, for the first min(64, end -
// begin) bytes of [begin, end).
uint64_t MatchMask64(const char* begin, const char* end, char a, char b, char c);

namespace internal {

// The byte-by-byte forms, for checking the fast ones.
const char* FindAnyOfBytewise(const char* begin, const char* end, char a, char b, char c);
uint64_t MatchMask64Bytewise(const char* begin, const char* end, char a, char b, char c);
size_t CountLineBreaksBytewise(const char* begin, const char* end, char before);

}  // namespace internal

}  // namespace tarvo

#endif  // TARVO_COMMON_TEXT_SCAN_H_
