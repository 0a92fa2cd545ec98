#include "ByteSearch.h"

#include "ByteScan.h"
#include "ReadCount_p.h"

#include <algorithm>
#include <cstring>

namespace {

// The store is searched a chunk at a time; whether to stop is looked at
// every sixteen of them, a MiB.
constexpr qsizetype kWindow = ChunkSlabs::kChunkBytes;
constexpr int kWindowsBetweenStops = 16;

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
    const qsizetype low = std::max<qsizetype>(from, 0);
    const qsizetype high = std::min(to, store.byteCount() - n + 1);
    std::vector<quint8> scratch;
    qsizetype windowFrom = low;
    qsizetype windowTo = high;
    for (int windows = 1; kForward ? windowFrom < high : windowTo > low; ++windows) {
        if constexpr (kForward)
            windowTo = std::min(high, (windowFrom | (kWindow - 1)) + 1);
        else
            windowFrom = std::max(low, (windowTo - 1) & ~(kWindow - 1));
        const qsizetype start = inChunk<kForward>(store, windowFrom, windowTo, scratch);
        platform::transcript::countRead(windowTo - windowFrom);
        if (start >= 0)
            return start;
        if constexpr (kForward)
            windowFrom = windowTo;
        else
            windowTo = windowFrom;
        if (stop && windows % kWindowsBetweenStops == 0 && stop->load(std::memory_order_relaxed))
            return -1;
    }
    return -1;
}

template <bool kForward>
qsizetype ByteSearch::inChunk(const ByteStore &store, qsizetype from, qsizetype to,
                              std::vector<quint8> &scratch) const
{
    const qsizetype n = m_bytes.size();
    const std::span<const quint8> chunk = store.bytesFrom(from);
    // Starts before the split have their match in this chunk; from there on
    // it runs into the next.
    const qsizetype split =
        std::clamp(from + static_cast<qsizetype>(chunk.size()) - n + 1, from, to);
    const auto inPlace = [&]() -> qsizetype {
        const qsizetype start =
            kForward ? firstIn(chunk.data(), split - from) : lastIn(chunk.data(), split - from);
        return start < 0 ? -1 : from + start;
    };
    const auto across = [&]() -> qsizetype {
        if (split >= to)
            return -1;
        scratch.resize(static_cast<std::size_t>(to - split + n - 1));
        for (qsizetype at = split, end = to + n - 1; at < end;) {
            const std::span<const quint8> piece = store.bytesFrom(at);
            const auto count = std::min<qsizetype>(static_cast<qsizetype>(piece.size()), end - at);
            std::memcpy(scratch.data() + (at - split), piece.data(),
                        static_cast<std::size_t>(count));
            at += count;
        }
        const qsizetype start =
            kForward ? firstIn(scratch.data(), to - split) : lastIn(scratch.data(), to - split);
        return start < 0 ? -1 : split + start;
    };
    if constexpr (kForward) {
        const qsizetype start = inPlace();
        return start >= 0 ? start : across();
    } else {
        const qsizetype start = across();
        return start >= 0 ? start : inPlace();
    }
}

qsizetype ByteSearch::firstIn(const quint8 *bytes, qsizetype starts) const
{
    if (starts <= 0)
        return -1;
    const auto *needle = reinterpret_cast<const quint8 *>(m_bytes.constData());
    const qsizetype n = m_bytes.size();
    const quint8 *hit = platform::bytescan::findBytes(bytes, starts + n - 1, needle, n);
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
