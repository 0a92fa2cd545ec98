#include "ByteSearch.h"

#include "ByteScan.h"
#include "WindowedSearch.h"

#include <algorithm>
#include <cstring>

namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

// The first byte whose characters start at or after a character position:
// a position inside a NUL's four characters is past that NUL's start.
qsizetype byteFrom(const ByteStore &store, qsizetype position)
{
    const ByteStore::Place place = store.locate(std::max<qsizetype>(position, 0));
    return place.byte + (place.sub > 0 ? 1 : 0);
}

} // namespace

QByteArray ByteSearch::hexPairs(QStringView text)
{
    QByteArray bytes;
    qsizetype i = 0;
    const qsizetype size = text.size();
    while (i < size) {
        if (isBlank(text[i])) {
            ++i;
            continue;
        }
        // A pair, then a blank or the end.
        if (i + 1 >= size)
            return {};
        const int high = hexDigit(text[i]);
        const int low = hexDigit(text[i + 1]);
        if (high < 0 || low < 0 || (i + 2 < size && !isBlank(text[i + 2])))
            return {};
        bytes.append(static_cast<char>(high * 16 + low));
        i += 2;
    }
    return bytes;
}

ByteSearch::ByteSearch(QByteArrayView bytes) : m_bytes(bytes.toByteArray()) {}

ByteSearch::Match ByteSearch::first(const ByteStore &store, qsizetype from, qsizetype to,
                                    const std::atomic<bool> *stop) const
{
    return findCharacters<true>(store, from, to, stop);
}

ByteSearch::Match ByteSearch::last(const ByteStore &store, qsizetype from, qsizetype to,
                                   const std::atomic<bool> *stop) const
{
    return findCharacters<false>(store, from, to, stop);
}

qsizetype ByteSearch::firstByte(const ByteStore &store, qsizetype from, qsizetype to,
                                const std::atomic<bool> *stop) const
{
    return find<true>(store, from, to, stop);
}

qsizetype ByteSearch::lastByte(const ByteStore &store, qsizetype from, qsizetype to,
                               const std::atomic<bool> *stop) const
{
    return find<false>(store, from, to, stop);
}

template <bool kForward>
ByteSearch::Match ByteSearch::findCharacters(const ByteStore &store, qsizetype from, qsizetype to,
                                             const std::atomic<bool> *stop) const
{
    const qsizetype byte = find<kForward>(store, byteFrom(store, from), byteFrom(store, to), stop);
    if (byte < 0)
        return {};
    const qsizetype start = store.positionOfByte(byte);
    return {start, store.positionOfByte(byte + m_bytes.size()) - start};
}

template <bool kForward>
qsizetype ByteSearch::find(const ByteStore &store, qsizetype from, qsizetype to,
                           const std::atomic<bool> *stop) const
{
    const qsizetype n = m_bytes.size();
    if (n == 0)
        return -1;
    std::vector<quint8> scratch;
    const auto scan = [this](const quint8 *bytes, qsizetype starts) {
        return kForward ? firstIn(bytes, starts) : lastIn(bytes, starts);
    };
    return platform::transcript::forEachWindow<kForward>(
        std::max<qsizetype>(from, 0), std::min(to, store.byteCount() - n + 1), stop,
        [&](qsizetype windowFrom, qsizetype windowTo) {
            return platform::transcript::searchChunk<kForward>(store, windowFrom, windowTo, n,
                                                               scratch, scan);
        });
}

qsizetype ByteSearch::firstIn(const quint8 *bytes, qsizetype starts) const
{
    if (starts <= 0)
        return -1;
    const auto *needle = reinterpret_cast<const quint8 *>(m_bytes.constData());
    const qsizetype n = m_bytes.size();
    const quint8 *hit = platform::transcript::bytescan::findBytes(bytes, starts + n - 1, needle, n);
    return hit ? hit - bytes : -1;
}

qsizetype ByteSearch::lastIn(const quint8 *bytes, qsizetype starts) const
{
    // best is a match and none follows it before `high`; [best + 1, high)
    // is halved until it is empty.
    qsizetype best = firstIn(bytes, starts);
    if (best < 0)
        return -1;
    qsizetype high = starts;
    while (best + 1 < high) {
        const qsizetype middle = best + 1 + (high - best - 1) / 2;
        const qsizetype hit = firstIn(bytes + middle, high - middle);
        if (hit >= 0)
            best = middle + hit;
        else
            high = middle;
    }
    return best;
}
