#include "TextSearch.h"

#include "ByteScan.h"
#include "NulText.h"
#include "ReadCount_p.h"
#include "WindowedSearch.h"

#include <QChar>
#include <QHash>

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

using platform::transcript::kNulChars;
using platform::transcript::kNulText;
using platform::transcript::bytescan::ix;

namespace {

bool operator<(const ByteStore::Place &a, const ByteStore::Place &b)
{
    return a.byte < b.byte || (a.byte == b.byte && a.sub < b.sub);
}

} // namespace

struct TextSearch::Range
{
    Place low;  // the first start allowed
    Place high; // past the last
    bool holds(const Place &place) const { return !(place < low) && place < high; }
};

struct TextSearch::Found
{
    Place place;
    bool valid = false;
};

TextSearch::TextSearch(QStringView text, bool matchCase, const ByteStore::CharTable &table)
{
    if (text.isEmpty() || text.contains(u'\r') || text.contains(u'\n'))
        return;
    const auto fold = [matchCase](char16_t c) {
        return matchCase ? c : QChar(c).toCaseFolded().unicode();
    };
    m_length = text.size();
    m_text.reserve(static_cast<std::size_t>(m_length));
    for (const QChar c : text)
        m_text.push_back(fold(c.unicode()));
    m_shown[0] = -1;
    // How many bytes show as each character, and the last of them.
    QHash<char16_t, std::pair<int, quint8>> bytesOf;
    for (int b = 1; b < 256; ++b) {
        const char16_t shown = fold(table[ix(b)]);
        m_shown[ix(b)] = shown;
        auto &entry = bytesOf[shown];
        ++entry.first;
        entry.second = static_cast<quint8>(b);
    }
    for (int k = 0; k < kNulChars; ++k)
        m_nulShown[ix(k)] = fold(kNulText[k]);

    m_plainPossible = true;
    bool oneByteEach = true;
    for (const char16_t c : m_text) {
        const auto it = bytesOf.constFind(c);
        const int count = it == bytesOf.cend() ? 0 : it->first;
        m_plainPossible = m_plainPossible && count > 0;
        oneByteEach = oneByteEach && count == 1;
        m_nulPossible =
            m_nulPossible || std::find(m_nulShown.begin(), m_nulShown.end(), c) != m_nulShown.end();
    }
    if (!m_plainPossible)
        return;
    if (oneByteEach) {
        for (const char16_t c : m_text)
            m_bytes.push_back(bytesOf.value(c).second);
    }
    int firstCount = 0;
    int lastCount = 0;
    for (int b = 1; b < 256; ++b) {
        m_firstBytes[ix(b)] = m_shown[ix(b)] == m_text.front();
        m_lastBytes[ix(b)] = m_shown[ix(b)] == m_text.back();
        if (m_firstBytes[ix(b)] && firstCount < 4)
            m_firstSet[ix(firstCount)] = static_cast<quint8>(b);
        if (m_lastBytes[ix(b)] && lastCount < 4)
            m_lastSet[ix(lastCount)] = static_cast<quint8>(b);
        firstCount += m_firstBytes[ix(b)] ? 1 : 0;
        lastCount += m_lastBytes[ix(b)] ? 1 : 0;
    }
    const int most = std::max(firstCount, lastCount);
    m_setSize = most <= 1 ? 1 : most <= 2 ? 2 : most <= 4 ? 4 : 0;
    for (int k = firstCount; k < 4 && m_setSize > 0; ++k)
        m_firstSet[ix(k)] = m_firstSet[0];
    for (int k = lastCount; k < 4 && m_setSize > 0; ++k)
        m_lastSet[ix(k)] = m_lastSet[0];
}

qsizetype TextSearch::first(const ByteStore &store, qsizetype from, qsizetype to,
                            const std::atomic<bool> *stop) const
{
    return find<true>(store, from, to, stop);
}

qsizetype TextSearch::last(const ByteStore &store, qsizetype from, qsizetype to,
                           const std::atomic<bool> *stop) const
{
    return find<false>(store, from, to, stop);
}

template <bool kForward>
qsizetype TextSearch::find(const ByteStore &store, qsizetype from, qsizetype to,
                           const std::atomic<bool> *stop) const
{
    if (m_length == 0)
        return -1;
    from = std::max<qsizetype>(from, 0);
    to = std::min(to, store.characterCount() - m_length + 1);
    if (from >= to)
        return -1;
    const Range range{store.locate(from), store.locate(to)};
    // The bytes where a match in the range may start: a start inside a
    // NUL's characters is at that NUL.
    const qsizetype low = range.low.byte;
    const qsizetype high = range.high.byte + (range.high.sub > 0 ? 1 : 0);
    const bool nulPossible = m_nulPossible && store.hasNul();
    std::vector<quint8> scratch;
    return platform::transcript::forEachWindow<kForward>(
        low, high, stop, [&](qsizetype windowFrom, qsizetype windowTo) -> qsizetype {
            Found best;
            if (m_plainPossible) {
                if (const qsizetype start = plain<kForward>(store, windowFrom, windowTo, scratch);
                    start >= 0)
                    best = {Place{start, 0}, true};
            }
            if (nulPossible) {
                const Found withNulFound = withNul<kForward>(store, windowFrom, windowTo, range);
                if (withNulFound.valid &&
                    (!best.valid || (kForward ? withNulFound.place < best.place
                                              : best.place < withNulFound.place)))
                    best = withNulFound;
            }
            return best.valid ? store.positionOfByte(best.place.byte) + best.place.sub : -1;
        });
}

template <bool kForward>
qsizetype TextSearch::plain(const ByteStore &store, qsizetype from, qsizetype to,
                            std::vector<quint8> &scratch) const
{
    const qsizetype n = m_length;
    to = std::min(to, store.byteCount() - n + 1);
    if (from >= to)
        return -1;
    return platform::transcript::searchChunk<kForward>(
        store, from, to, n, scratch,
        [this](const quint8 *bytes, qsizetype starts) { return scan<kForward>(bytes, 0, starts); });
}

template <bool kForward>
qsizetype TextSearch::scan(const quint8 *bytes, qsizetype from, qsizetype to) const
{
    switch (m_setSize) {
    case 1:
        return scanWide<kForward, 1>(bytes, from, to);
    case 2:
        return scanWide<kForward, 2>(bytes, from, to);
    case 4:
        return scanWide<kForward, 4>(bytes, from, to);
    default:
        return scanNarrow<kForward>(bytes, from, to);
    }
}

template <bool kForward, std::size_t kSet>
qsizetype TextSearch::scanWide(const quint8 *bytes, qsizetype from, qsizetype to) const
{
#if defined(__SSE2__)
    // Sixteen starts at a time: where the first character's bytes and, n - 1
    // further on, the last's stand, the rest is compared.
    const qsizetype lastOffset = m_length - 1;
    __m128i firsts[kSet];
    __m128i lasts[kSet];
    for (std::size_t k = 0; k < kSet; ++k) {
        firsts[k] = _mm_set1_epi8(static_cast<char>(m_firstSet[k]));
        lasts[k] = _mm_set1_epi8(static_cast<char>(m_lastSet[k]));
    }
    const auto candidates = [&](qsizetype at) {
        const __m128i head = _mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes + at));
        const __m128i tail =
            _mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes + at + lastOffset));
        __m128i headHits = _mm_cmpeq_epi8(head, firsts[0]);
        __m128i tailHits = _mm_cmpeq_epi8(tail, lasts[0]);
        for (std::size_t k = 1; k < kSet; ++k) {
            headHits = _mm_or_si128(headHits, _mm_cmpeq_epi8(head, firsts[k]));
            tailHits = _mm_or_si128(tailHits, _mm_cmpeq_epi8(tail, lasts[k]));
        }
        return static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(headHits, tailHits)));
    };
    if constexpr (kForward) {
        qsizetype at = from;
        for (; at + 16 <= to; at += 16) {
            for (unsigned mask = candidates(at); mask != 0; mask &= mask - 1) {
                const qsizetype start = at + std::countr_zero(mask);
                if (middleMatches(bytes + start))
                    return start;
            }
        }
        return scanNarrow<true>(bytes, at, to);
    } else {
        qsizetype at = to;
        for (; at - 16 >= from; at -= 16) {
            for (unsigned mask = candidates(at - 16); mask != 0;) {
                const int bit = 31 - std::countl_zero(mask);
                const qsizetype start = at - 16 + bit;
                if (middleMatches(bytes + start))
                    return start;
                mask &= ~(1U << bit);
            }
        }
        return scanNarrow<false>(bytes, from, at);
    }
#else
    return scanNarrow<kForward>(bytes, from, to);
#endif
}

template <bool kForward>
qsizetype TextSearch::scanNarrow(const quint8 *bytes, qsizetype from, qsizetype to) const
{
    const qsizetype lastOffset = m_length - 1;
    const auto matchesAt = [&](qsizetype start) {
        return m_firstBytes[bytes[start]] && m_lastBytes[bytes[start + lastOffset]] &&
               middleMatches(bytes + start);
    };
    if constexpr (kForward) {
        for (qsizetype start = from; start < to; ++start) {
            if (matchesAt(start))
                return start;
        }
    } else {
        for (qsizetype start = to - 1; start >= from; --start) {
            if (matchesAt(start))
                return start;
        }
    }
    return -1;
}

bool TextSearch::middleMatches(const quint8 *at) const
{
    const qsizetype n = m_length;
    if (n <= 2)
        return true;
    if (!m_bytes.empty())
        return std::memcmp(at + 1, m_bytes.data() + 1, static_cast<std::size_t>(n - 2)) == 0;
    for (qsizetype j = 1; j < n - 1; ++j) {
        if (m_shown[at[j]] != m_text[ix(j)])
            return false;
    }
    return true;
}

template <bool kForward>
TextSearch::Found TextSearch::withNul(const ByteStore &store, qsizetype from, qsizetype to,
                                      const Range &range) const
{
    // A match that takes in a NUL is found from the first NUL it takes in:
    // it starts in that NUL's characters or at most n - 1 bytes before it,
    // none of them NUL. Candidates so found come in the order of their
    // starts.
    const qsizetype n = m_length;
    const qsizetype end = std::min(store.byteCount(), to + n - 1);
    Found found;
    const auto tryAt = [&](Place place) {
        if (!range.holds(place) || !matchesAt(store, place))
            return false;
        found = {place, true};
        return kForward;
    };
    qsizetype previous = from - 1;
    for (qsizetype at = from; at < end;) {
        const std::span<const quint8> piece = store.bytesFrom(at);
        const auto count = std::min<qsizetype>(static_cast<qsizetype>(piece.size()), end - at);
        const qsizetype offset = platform::transcript::bytescan::findNul(piece.data(), 0, count);
        if (offset == count) {
            at += count;
            continue;
        }
        const qsizetype nul = at + offset;
        for (qsizetype start = std::max(nul - (n - 1), previous + 1); start < nul && start < to;
             ++start) {
            if (tryAt(Place{start, 0}))
                return found;
        }
        for (int sub = 0; nul < to && sub < kNulChars; ++sub) {
            if (tryAt(Place{nul, sub}))
                return found;
        }
        previous = nul;
        at = nul + 1;
    }
    return found;
}

bool TextSearch::matchesAt(const ByteStore &store, Place place) const
{
    const qsizetype bytes = store.byteCount();
    qsizetype byte = place.byte;
    int sub = place.sub;
    for (const char16_t wanted : m_text) {
        if (byte >= bytes)
            return false;
        const quint8 b = store.byteAt(byte);
        qint32 shown = 0;
        if (b == 0) {
            shown = m_nulShown[ix(sub)];
            if (++sub == kNulChars) {
                sub = 0;
                ++byte;
            }
        } else {
            shown = m_shown[b];
            ++byte;
        }
        if (shown != wanted)
            return false;
    }
    return true;
}
