#include "Transcoding.h"

#include "CodePage.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Number of NUL bytes in [from, end).
qsizetype countNuls(const unsigned char *from, const unsigned char *end)
{
    qsizetype nuls = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; end - from >= 16; from += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(from));
        nuls += std::popcount(static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, zero))));
    }
#endif
    return nuls + std::count(from, end, static_cast<unsigned char>(0));
}

// What each byte becomes, four bytes wide: the byte itself and three spare
// bytes, or "\x00" for NUL. Storing all four and moving on by the byte's true
// width needs no branch.
struct ShownBytes
{
    ShownBytes()
    {
        for (std::size_t byte = 0; byte < 256; ++byte) {
            const std::array<char, 4> shown = {static_cast<char>(byte), 0, 0, 0};
            std::memcpy(&words[byte], byte == 0 ? "\\x00" : shown.data(), 4);
        }
    }
    std::array<std::uint32_t, 256> words{};
};

} // namespace

QString renderReceived(QByteArrayView bytes)
{
    using platform::codepage::ansiToChar;
    const qsizetype nuls = bytes.count('\0');
    if (nuls == 0)
        return platform::codepage::ansiToString(bytes);

    static constexpr char16_t nulText[] = u"\\x00";
    QString text(bytes.size() + 3 * nuls, Qt::Uninitialized);
    char16_t *out = reinterpret_cast<char16_t *>(text.data());
    for (const char byte : bytes) {
        if (byte == '\0') {
            std::memcpy(out, nulText, 4 * sizeof(char16_t));
            out += 4;
        } else {
            *out++ = ansiToChar(static_cast<unsigned char>(byte)).unicode();
        }
    }
    return text;
}

QByteArray renderReceivedAnsi(const QByteArray &bytes)
{
    const auto *in = reinterpret_cast<const unsigned char *>(bytes.constData());
    const auto *end = in + bytes.size();
    const auto *firstNul = static_cast<const unsigned char *>(
        bytes.isEmpty() ? nullptr : std::memchr(in, 0, static_cast<std::size_t>(bytes.size())));
    if (!firstNul)
        return bytes;

    static const ShownBytes shownBytes;
    const qsizetype size = bytes.size() + 3 * countNuls(firstNul, end);
    // Three spare bytes past the end take the last four-byte store.
    QByteArray shown(size + 3, Qt::Uninitialized);
    char *out = shown.data();
    const auto prefix = static_cast<std::size_t>(firstNul - in);
    std::memcpy(out, in, prefix);
    out += prefix;
    const unsigned char *at = firstNul;
    while (at < end) {
#if defined(__SSE2__)
        if (end - at >= 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(at));
            if (_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128())) == 0) {
                _mm_storeu_si128(reinterpret_cast<__m128i *>(out), v);
                out += 16;
                at += 16;
                continue;
            }
        }
#endif
        for (const unsigned char *blockEnd = at + std::min<qsizetype>(16, end - at); at < blockEnd;
             ++at) {
            std::memcpy(out, &shownBytes.words[*at], 4);
            out += *at != 0 ? 1 : 4;
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
