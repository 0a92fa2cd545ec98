#include "Transcoding.h"

#include "ByteScan.h"
#include "CodePage.h"

#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr char nulBytes[] = "\\x00";

} // namespace

QString renderReceived(QByteArrayView bytes)
{
    return platform::codepage::ansiToString(renderReceivedAnsi(bytes));
}

QByteArray renderReceivedAnsi(QByteArrayView bytes)
{
    const auto *at = reinterpret_cast<const unsigned char *>(bytes.data());
    const auto *end = at + bytes.size();
    const qsizetype size = bytes.size() + 3 * bytescan::countNuls(at, bytes.size());
    // Sixteen spare bytes past the end take the last wide stores.
    QByteArray shown(size + 16, Qt::Uninitialized);
    char *out = shown.data();
#if defined(__SSE2__)
    // A block of sixteen bytes without NUL is stored whole. In one with NULs,
    // each run of bytes before a NUL is stored sixteen bytes wide (what lies
    // past the run is overwritten next), then "\x00". Reading sixteen bytes
    // from anywhere in the block stays within the next block.
    const __m128i zero = _mm_setzero_si128();
    for (; end - at >= 32; at += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(at));
        auto nuls = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, zero)));
        if (nuls == 0) {
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out), block);
            out += 16;
            continue;
        }
        unsigned from = 0;
        for (; nuls != 0; nuls &= nuls - 1) {
            const auto nul = static_cast<unsigned>(std::countr_zero(nuls));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out),
                             _mm_loadu_si128(reinterpret_cast<const __m128i *>(at + from)));
            out += nul - from;
            std::memcpy(out, nulBytes, 4);
            out += 4;
            from = nul + 1;
        }
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out),
                         _mm_loadu_si128(reinterpret_cast<const __m128i *>(at + from)));
        out += 16 - from;
    }
#endif
    for (; at < end; ++at) {
        if (*at == 0) {
            std::memcpy(out, nulBytes, 4);
            out += 4;
        } else {
            *out++ = static_cast<char>(*at);
        }
    }
    shown.resize(size);
    return shown;
}

QString toOemText(const QString &text)
{
    QByteArray bytes = platform::codepage::stringToAnsi(text);
    platform::codepage::ansiToOem(bytes);
    return platform::codepage::ansiToString(bytes);
}
