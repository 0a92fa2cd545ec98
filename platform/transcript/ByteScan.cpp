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

// Sets the marks of `bits`, which stand for the bytes from `at` on.
inline void mark(quint64 *marks, qsizetype at, quint64 bits)
{
    if (bits == 0)
        return;
    const qsizetype word = at / 64;
    const int shift = static_cast<int>(at % 64);
    marks[word] |= bits << shift;
    if (shift != 0 && (bits >> (64 - shift)) != 0)
        marks[word + 1] |= bits >> (64 - shift);
}

template <bool kCopy>
qsizetype scanPiece(const quint8 *bytes, qsizetype count, [[maybe_unused]] quint8 *out,
                    quint64 *marks, qsizetype first)
{
    qsizetype nuls = 0;
    qsizetype i = 0;
    const auto scalar = [&](qsizetype end) {
        for (; i < end; ++i) {
            const quint8 b = bytes[i];
            if constexpr (kCopy)
                out[i] = b;
            nuls += b == 0 ? 1 : 0;
            if (shapesLine(b))
                marks[(first + i) / 64] |= quint64{1} << ((first + i) % 64);
        }
    };
#if defined(__SSE2__)
    if constexpr (kCopy) {
        // Up to where the copy's stores line up with the cache's.
        const auto misaligned = static_cast<qsizetype>(reinterpret_cast<quintptr>(out) % 16);
        scalar(std::min(count, (16 - misaligned) % 16));
    }
    const __m128i zero = _mm_setzero_si128();
    const __m128i cr = _mm_set1_epi8(0x0D);
    const __m128i lf = _mm_set1_epi8(0x0A);
    const __m128i tab = _mm_set1_epi8(0x09);
    const auto shaping = [&](__m128i v) {
        return static_cast<quint64>(static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf)), _mm_cmpeq_epi8(v, tab)))));
    };
    // Each lane counts its NULs (a match is -1) for up to 63 rounds of four
    // blocks, then the lanes are summed.
    while (i + 16 <= count) {
        __m128i lanes = zero;
        const auto take = [&](qsizetype at) {
            const __m128i v = load(bytes + at);
            if constexpr (kCopy)
                _mm_stream_si128(reinterpret_cast<__m128i *>(out + at), v);
            lanes = _mm_sub_epi8(lanes, _mm_cmpeq_epi8(v, zero));
            return shaping(v);
        };
        for (int round = 0; round < 63 && i + 64 <= count; ++round, i += 64) {
            const quint64 bits =
                take(i) | take(i + 16) << 16 | take(i + 32) << 32 | take(i + 48) << 48;
            mark(marks, first + i, bits);
        }
        if (i + 64 > count) {
            for (; i + 16 <= count; i += 16)
                mark(marks, first + i, take(i));
        }
        const __m128i sums = _mm_sad_epu8(lanes, zero);
        nuls += _mm_cvtsi128_si32(sums) + _mm_cvtsi128_si32(_mm_srli_si128(sums, 8));
    }
    if constexpr (kCopy)
        _mm_sfence(); // the copy is seen before whatever is stored next
#endif
    scalar(count);
    return nuls;
}

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

qsizetype copyScanning(const quint8 *bytes, qsizetype count, quint8 *out, quint64 *marks,
                       qsizetype first)
{
    return scanPiece<true>(bytes, count, out, marks, first);
}

qsizetype scanning(const quint8 *bytes, qsizetype count, quint64 *marks, qsizetype first)
{
    return scanPiece<false>(bytes, count, nullptr, marks, first);
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
