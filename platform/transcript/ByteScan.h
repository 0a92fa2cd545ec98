#pragma once

// The inner loops of the receive box's text: searches and conversions over
// whole pieces, sixteen bytes (or eight characters) at a time where the
// processor offers SSE2 (every x86-64), one at a time elsewhere. Every other
// unit of the box calls these instead of looping over single bytes.

#include "Indexing.h"

#include <QtGlobal>

#include <algorithm>
#include <bit>
#include <cstddef>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace platform::transcript::bytescan {

using platform::transcript::ix;

// CR, LF and TAB are the characters (or bytes) that shape lines.
template <typename Unit> constexpr bool shapesLine(Unit c)
{
    return c == 0x0A || c == 0x0D || c == 0x09;
}

// Index of the first CR, LF or TAB in [from, count), or count. Called once
// a line, so it lives here, inline, where the line index's loop can keep its
// constants in registers.
inline qsizetype findLineShaping(const quint8 *bytes, qsizetype from, qsizetype count)
{
    qsizetype i = from;
#if defined(__SSE2__)
    const __m128i cr = _mm_set1_epi8(0x0D);
    const __m128i lf = _mm_set1_epi8(0x0A);
    const __m128i tab = _mm_set1_epi8(0x09);
    for (; i + 16 <= count; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes + i));
        const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf)),
                                         _mm_cmpeq_epi8(v, tab));
        if (const auto mask = static_cast<unsigned>(_mm_movemask_epi8(hit)); mask != 0)
            return i + std::countr_zero(mask);
    }
#endif
    for (; i < count; ++i) {
        if (shapesLine(bytes[i]))
            return i;
    }
    return count;
}

// Index of the first NUL in [from, count), or count.
qsizetype findNul(const quint8 *bytes, qsizetype from, qsizetype count);
// Number of NUL bytes in [0, count).
qsizetype countNuls(const quint8 *bytes, qsizetype count);
// Where a piece's lines are shaped: bit b % 64 of word b / 64 stands for
// byte b of the piece, set where it is CR, LF or TAB.
inline qsizetype shapingWords(qsizetype count)
{
    return (count + 63) / 64;
}
// Index of the first marked byte in [from, count), or count.
inline qsizetype findMarked(const quint64 *marks, qsizetype from, qsizetype count)
{
    if (from >= count)
        return count;
    qsizetype word = from / 64;
    quint64 bits = marks[word] & (~quint64{0} << (from % 64));
    const qsizetype words = shapingWords(count);
    while (bits == 0) {
        if (++word == words)
            return count;
        bits = marks[word];
    }
    return std::min(count, word * 64 + std::countr_zero(bits));
}

// The receive path's one pass over each arriving byte: copies count bytes to
// out (not overlapping), marks their line-shaping bytes from bit `first` of
// marks on (words the caller has cleared), and returns how many are NUL.
// The copy goes around the processor's cache where it can: what is stored
// is not read again soon, and the source still is.
qsizetype copyScanning(const quint8 *bytes, qsizetype count, quint8 *out, quint64 *marks,
                       qsizetype first);
// The same for bytes already where they stay.
qsizetype scanning(const quint8 *bytes, qsizetype count, quint64 *marks, qsizetype first);

// The first place in [0, size) of haystack where the n bytes of needle
// stand whole, or nullptr; n > 0. Linear in size + n whatever the bytes
// (glibc's two-way search), so that a search that asks again over shrinking
// ranges stays bounded.
const quint8 *findBytes(const quint8 *haystack, qsizetype size, const quint8 *needle, qsizetype n);

// out[i] = table[in[i]] for count bytes, none of them NUL. With asciiKept the
// table gives bytes 0x00..0x7F as themselves, and runs of them are widened
// sixteen at a time.
void translate(const quint8 *in, qsizetype count, const char16_t *table, bool asciiKept,
               char16_t *out);

} // namespace platform::transcript::bytescan
