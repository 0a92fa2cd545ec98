#include "ByteScan.h"

#include <algorithm>
#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace platform::transcript::bytescan {

namespace {

#if defined(__SSE2__)
__m128i load(const void *at)
{
    return _mm_loadu_si128(static_cast<const __m128i *>(at));
}
#endif

} // namespace

qsizetype findNul(const quint8 *bytes, qsizetype from, qsizetype count)
{
    qsizetype i = from;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= count; i += 16) {
        const auto mask =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(load(bytes + i), zero)));
        if (mask != 0)
            return i + std::countr_zero(mask);
    }
#endif
    for (; i < count; ++i) {
        if (bytes[i] == 0)
            return i;
    }
    return count;
}

qsizetype countNuls(const quint8 *bytes, qsizetype count)
{
    qsizetype nuls = 0;
    qsizetype i = 0;
#if defined(__SSE2__)
    // Each lane counts its NULs (a match is -1) for up to 255 blocks, then
    // the lanes are summed.
    const __m128i zero = _mm_setzero_si128();
    while (i + 16 <= count) {
        __m128i lanes = zero;
        const qsizetype end = std::min(count - 15, i + 255 * 16);
        for (; i < end; i += 16)
            lanes = _mm_sub_epi8(lanes, _mm_cmpeq_epi8(load(bytes + i), zero));
        const __m128i sums = _mm_sad_epu8(lanes, zero);
        nuls += _mm_cvtsi128_si32(sums) + _mm_cvtsi128_si32(_mm_srli_si128(sums, 8));
    }
#endif
    return nuls + std::count(bytes + i, bytes + count, quint8{0});
}

qsizetype copyCountingNuls(const quint8 *bytes, qsizetype count, quint8 *out)
{
    qsizetype i = 0;
#if defined(__SSE2__)
    // Text seldom holds a NUL: the copy only keeps the smallest byte, and the
    // NULs are counted in a second pass where it is 0.
    __m128i smallest = _mm_set1_epi8(-1);
    for (; i + 16 <= count; i += 16) {
        const __m128i v = load(bytes + i);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), v);
        smallest = _mm_min_epu8(smallest, v);
    }
    const bool nulSeen = _mm_movemask_epi8(_mm_cmpeq_epi8(smallest, _mm_setzero_si128())) != 0;
#else
    const bool nulSeen = true;
#endif
    bool tailNul = false;
    for (; i < count; ++i) {
        out[i] = bytes[i];
        tailNul = tailNul || bytes[i] == 0;
    }
    return nulSeen || tailNul ? countNuls(bytes, count) : 0;
}

void translate(const quint8 *in, qsizetype count, const char16_t *table, bool asciiKept,
               char16_t *out)
{
    qsizetype i = 0;
#if defined(__SSE2__)
    if (asciiKept) {
        const __m128i zero = _mm_setzero_si128();
        while (i < count) {
            for (; i + 16 <= count; i += 16) {
                const __m128i v = load(in + i);
                if (_mm_movemask_epi8(v) != 0)
                    break;
                _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), _mm_unpacklo_epi8(v, zero));
                _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i + 8),
                                 _mm_unpackhi_epi8(v, zero));
            }
            // Up to the end of a block of sixteen that holds a byte above 0x7F.
            const qsizetype end = std::min(count, (i | 15) + 1);
            for (; i < end; ++i)
                out[i] = table[in[i]];
        }
        return;
    }
#else
    Q_UNUSED(asciiKept)
#endif
    for (; i < count; ++i)
        out[i] = table[in[i]];
}

} // namespace platform::transcript::bytescan
