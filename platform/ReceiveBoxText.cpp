#include "ReceiveBoxText.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <vector>

#if defined(__unix__)
#include <sys/mman.h>
#endif

// Under AddressSanitizer a slab is poisoned but for the pieces handed out, so
// that running past a chunk is caught as it is on the heap.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BRISOL_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define BRISOL_ASAN 1
#endif
#if defined(BRISOL_ASAN)
#include <sanitizer/asan_interface.h>
#endif

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Characters live in chunks of a fixed number of characters, so a position
// finds its chunk by a shift and no growth ever copies the text. A chunk holds
// one byte per character while everything in it is <= U+00FF and switches to
// two bytes when a wider character arrives; only that chunk pays for it.
constexpr int kChunkBits = 16;
constexpr qsizetype kChunkChars = qsizetype{1} << kChunkBits;
constexpr qsizetype kChunkMask = kChunkChars - 1;

// The line index is a stream of variable-length records in pages that never
// move, one record per finished line, plus one summary per group of lines.
constexpr int kPageBits = 16;
constexpr qsizetype kPageBytes = qsizetype{1} << kPageBits;
constexpr qsizetype kGroupLines = 256;

// A line holding a TAB keeps the column of every 1024th character once it is
// longer than that, so finding a column in it scans at most 1024 characters.
constexpr int kCheckpointBits = 10;
constexpr qsizetype kCheckpointChars = qsizetype{1} << kCheckpointBits;

template <typename T> constexpr std::size_t ix(T i)
{
    return static_cast<std::size_t>(i);
}

// The receive path's inner loops: 16-bit characters to bytes and back, and
// the search for the characters that shape lines. With SSE2 (every x86-64)
// eight characters at a time.

// Stores count characters as bytes; false, with out partly written, when one
// is above U+00FF.
bool narrowCopy(const char16_t *in, qsizetype count, quint8 *out)
{
    qsizetype i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= count; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + i + 8));
        const __m128i high = _mm_or_si128(_mm_srli_epi16(a, 8), _mm_srli_epi16(b, 8));
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(high, zero)) != 0xFFFF)
            return false;
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), _mm_packus_epi16(a, b));
    }
#endif
    for (; i < count; ++i) {
        if (in[i] > 0xFF)
            return false;
        out[i] = static_cast<quint8>(in[i]);
    }
    return true;
}

void widenCopy(const quint8 *in, qsizetype count, char16_t *out)
{
    qsizetype i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= count; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + i));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), _mm_unpacklo_epi8(v, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i + 8), _mm_unpackhi_epi8(v, zero));
    }
#endif
    for (; i < count; ++i)
        out[i] = in[i];
}

// Index of the first CR, LF or TAB in [from, count), or count.
qsizetype findLineShaping(const char16_t *text, qsizetype from, qsizetype count)
{
    qsizetype i = from;
#if defined(__SSE2__)
    const __m128i cr = _mm_set1_epi16(0x0D);
    const __m128i lf = _mm_set1_epi16(0x0A);
    const __m128i tab = _mm_set1_epi16(0x09);
    for (; i + 8 <= count; i += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(text + i));
        const __m128i hit = _mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi16(v, cr), _mm_cmpeq_epi16(v, lf)), _mm_cmpeq_epi16(v, tab));
        const auto mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
        if (mask != 0)
            return i + std::countr_zero(mask) / 2;
    }
#endif
    for (; i < count; ++i) {
        const char16_t c = text[i];
        if (c == u'\n' || c == u'\r' || c == u'\t')
            return i;
    }
    return count;
}

// The same over bytes that stand for themselves, sixteen at a time.
qsizetype findLineShaping(const quint8 *bytes, qsizetype from, qsizetype count)
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
        const auto mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
        if (mask != 0)
            return i + std::countr_zero(mask);
    }
#endif
    for (; i < count; ++i) {
        const quint8 c = bytes[i];
        if (c == 0x0A || c == 0x0D || c == 0x09)
            return i;
    }
    return count;
}

bool shapesLines(char16_t c)
{
    return c == u'\n' || c == u'\r' || c == u'\t';
}

// A table of the characters of the 256 bytes, with what the receive path
// needs to know of it, worked out once per appended piece.
struct ByteCharacters
{
    explicit ByteCharacters(const std::array<char16_t, 256> &charOf) : table(charOf.data())
    {
        for (int b = 0; b < 0x80; ++b)
            asciiKept = asciiKept && charOf[ix(b)] == b;
        for (int b = 0; b < 256; ++b) {
            const bool itself = b == 0x09 || b == 0x0A || b == 0x0D;
            plainShaping =
                plainShaping && (shapesLines(charOf[ix(b)]) ? charOf[ix(b)] == b : !itself);
        }
    }

    const char16_t *table;
    bool asciiKept = true;    // bytes 0x00..0x7F stand for themselves
    bool plainShaping = true; // TAB, LF and CR are the bytes 9, 10 and 13, and no others
};

// Stores the characters of count bytes in one byte each; returns how many
// were stored before the first one above U+00FF (count when none is).
qsizetype narrowTranslate(const quint8 *in, qsizetype count, const ByteCharacters &characters,
                          quint8 *out)
{
    qsizetype i = 0;
    while (i < count) {
#if defined(__SSE2__)
        if (characters.asciiKept) {
            for (; i + 16 <= count; i += 16) {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + i));
                if (_mm_movemask_epi8(v) != 0)
                    break;
                _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), v);
            }
            if (i == count)
                break;
        }
#endif
        // Up to the end of a block of sixteen that holds a byte above 0x7F.
        const qsizetype end = std::min(count, (i | 15) + 1);
        for (; i < end; ++i) {
            const char16_t c = characters.table[in[i]];
            if (c > 0xFF)
                return i;
            out[i] = static_cast<quint8>(c);
        }
    }
    return count;
}

void wideTranslate(const quint8 *in, qsizetype count, const char16_t *table, char16_t *out)
{
    for (qsizetype i = 0; i < count; ++i)
        out[i] = table[in[i]];
}

// The units the line index reads: UTF-16 text, or bytes with their table.
struct Utf16Units
{
    const char16_t *text;
    qsizetype size;

    char16_t operator[](qsizetype i) const { return text[i]; }
    qsizetype findLineShaping(qsizetype from) const { return ::findLineShaping(text, from, size); }
};

struct ByteUnits
{
    const quint8 *bytes;
    qsizetype size;
    const ByteCharacters &characters;

    char16_t operator[](qsizetype i) const { return characters.table[bytes[i]]; }
    qsizetype findLineShaping(qsizetype from) const
    {
        if (characters.plainShaping)
            return ::findLineShaping(bytes, from, size);
        for (qsizetype i = from; i < size; ++i) {
            if (shapesLines(characters.table[bytes[i]]))
                return i;
        }
        return size;
    }
};

// Narrow chunks are carved from slabs mapped apart from the heap. Received
// bytes pass through the socket's buffers on the heap first; were the
// transcript to take heap memory too, each freed socket buffer would go to
// the transcript and every read would touch fresh pages. A slab is only
// address space until a piece of it is handed out; that piece's pages are
// then made present in one call rather than faulted in one by one.
class ChunkSlabs final
{
public:
    ChunkSlabs() = default;
    ChunkSlabs(const ChunkSlabs &) = delete;
    ChunkSlabs &operator=(const ChunkSlabs &) = delete;
    ~ChunkSlabs() { clear(); }

    quint8 *take()
    {
        if (!m_free.empty()) {
            quint8 *piece = m_free.back();
            m_free.pop_back();
            mark(piece, kChunkChars, true);
            return piece;
        }
        if (m_slabs.empty() || m_used == kSlabChunks) {
            m_slabs.push_back(map());
            m_used = 0;
        }
        quint8 *piece = m_slabs.back() + kChunkChars * m_used++;
        populate(piece);
        return piece;
    }

    // A piece no longer used, handed out again before the slabs grow.
    void give(quint8 *piece)
    {
        m_free.push_back(piece);
        mark(piece, kChunkChars, false);
    }

    void clear()
    {
        for (quint8 *slab : m_slabs)
            unmap(slab);
        m_slabs.clear();
        m_slabs.shrink_to_fit();
        m_free.clear();
        m_free.shrink_to_fit();
        m_used = 0;
    }

    // Pieces handed out so far, given back ones included.
    qsizetype bytes() const
    {
        if (m_slabs.empty())
            return 0;
        return ((static_cast<qsizetype>(m_slabs.size()) - 1) * kSlabChunks + m_used) * kChunkChars;
    }

private:
    static constexpr qsizetype kSlabChunks = 32;
    static constexpr qsizetype kSlabBytes = kSlabChunks * kChunkChars;

    static quint8 *map()
    {
#if defined(__unix__)
        void *slab = mmap(nullptr, ix(kSlabBytes), PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (slab == MAP_FAILED)
            throw std::bad_alloc();
        mark(static_cast<quint8 *>(slab), kSlabBytes, false);
        return static_cast<quint8 *>(slab);
#else
        return new quint8[ix(kSlabBytes)];
#endif
    }

    static void populate(quint8 *piece)
    {
        mark(piece, kChunkChars, true);
#if defined(MADV_POPULATE_WRITE)
        // Older kernels refuse the advice; the pages then fault in on use.
        madvise(piece, ix(kChunkChars), MADV_POPULATE_WRITE);
#endif
    }

    // Whether memory may be used, for AddressSanitizer.
    static void mark([[maybe_unused]] quint8 *memory, [[maybe_unused]] qsizetype size,
                     [[maybe_unused]] bool usable)
    {
#if defined(BRISOL_ASAN)
        if (usable)
            __asan_unpoison_memory_region(memory, ix(size));
        else
            __asan_poison_memory_region(memory, ix(size));
#endif
    }

    static void unmap(quint8 *slab)
    {
#if defined(__unix__)
        mark(slab, kSlabBytes, true);
        munmap(slab, ix(kSlabBytes));
#else
        delete[] slab;
#endif
    }

    std::vector<quint8 *> m_slabs;
    std::vector<quint8 *> m_free;
    qsizetype m_used = 0;
};

class TextStore final
{
public:
    qsizetype size() const { return m_size; }

    void clear()
    {
        m_chunks.clear();
        m_chunks.shrink_to_fit();
        m_slabs.clear();
        m_size = 0;
    }

    void append(const char16_t *text, qsizetype count)
    {
        while (count > 0) {
            Chunk &chunk = openChunk();
            const qsizetype take = std::min(count, kChunkChars - chunk.size);
            if (chunk.wide || !narrowCopy(text, take, chunk.narrow + chunk.size)) {
                if (!chunk.wide)
                    widen(chunk);
                std::memcpy(chunk.wide.get() + chunk.size, text, ix(take) * sizeof(char16_t));
            }
            chunk.size += take;
            m_size += take;
            text += take;
            count -= take;
        }
    }

    void appendBytes(const quint8 *bytes, qsizetype count, const ByteCharacters &characters)
    {
        while (count > 0) {
            Chunk &chunk = openChunk();
            const qsizetype take = std::min(count, kChunkChars - chunk.size);
            qsizetype done = 0;
            if (!chunk.wide) {
                done = narrowTranslate(bytes, take, characters, chunk.narrow + chunk.size);
                chunk.size += done;
                if (done < take)
                    widen(chunk);
            }
            // Only a chunk turned wide has wide storage to write to.
            if (done < take) {
                wideTranslate(bytes + done, take - done, characters.table,
                              chunk.wide.get() + chunk.size);
                chunk.size += take - done;
            }
            m_size += take;
            bytes += take;
            count -= take;
        }
    }

    qsizetype bytes() const
    {
        qsizetype total = static_cast<qsizetype>(m_chunks.capacity() * sizeof(Chunk));
        for (const Chunk &chunk : m_chunks)
            total += chunk.wide ? kChunkChars * 2 : 0;
        return total + m_slabs.bytes();
    }

    char16_t at(qsizetype position) const
    {
        const Chunk &chunk = m_chunks[ix(position >> kChunkBits)];
        const qsizetype offset = position & kChunkMask;
        return chunk.wide ? chunk.wide[ix(offset)] : char16_t{chunk.narrow[ix(offset)]};
    }

    // Characters [from, from + count) into out; the range must lie in the text.
    void copy(qsizetype from, qsizetype count, char16_t *out) const
    {
        while (count > 0) {
            const Chunk &chunk = m_chunks[ix(from >> kChunkBits)];
            const qsizetype offset = from & kChunkMask;
            const qsizetype take = std::min(count, chunk.size - offset);
            if (chunk.wide) {
                std::memcpy(out, chunk.wide.get() + offset, ix(take) * sizeof(char16_t));
            } else {
                widenCopy(chunk.narrow + offset, take, out);
            }
            out += take;
            from += take;
            count -= take;
        }
    }

private:
    struct Chunk
    {
        quint8 *narrow = nullptr; // in m_slabs, until the chunk is widened
        std::unique_ptr<char16_t[]> wide;
        qsizetype size = 0;
    };

    // The chunk with room for more.
    Chunk &openChunk()
    {
        if (m_chunks.empty() || m_chunks.back().size == kChunkChars) {
            Chunk chunk;
            chunk.narrow = m_slabs.take();
            m_chunks.push_back(std::move(chunk));
        }
        return m_chunks.back();
    }

    void widen(Chunk &chunk)
    {
        chunk.wide.reset(new char16_t[ix(kChunkChars)]);
        widenCopy(chunk.narrow, chunk.size, chunk.wide.get());
        m_slabs.give(chunk.narrow);
        chunk.narrow = nullptr;
    }

    ChunkSlabs m_slabs;
    std::vector<Chunk> m_chunks;
    qsizetype m_size = 0;
};

// Unsigned LEB128 records in pages of fixed size.
class RecordStore final
{
public:
    qsizetype size() const { return m_size; }

    void clear()
    {
        m_pages.clear();
        m_pages.shrink_to_fit();
        m_size = 0;
    }

    void push(quint64 value)
    {
        // A record (ten bytes at most) that fits the current page is written
        // there at once: one per line, so this is the common case.
        const qsizetype offset = m_size & (kPageBytes - 1);
        if (offset != 0 && offset <= kPageBytes - 10) {
            quint8 *out = m_pages.back().get() + offset;
            qsizetype written = 0;
            while (value >= 0x80) {
                out[written++] = static_cast<quint8>((value & 0x7F) | 0x80);
                value >>= 7;
            }
            out[written++] = static_cast<quint8>(value);
            m_size += written;
            return;
        }
        while (value >= 0x80) {
            pushByte(static_cast<quint8>((value & 0x7F) | 0x80));
            value >>= 7;
        }
        pushByte(static_cast<quint8>(value));
    }

    qsizetype bytes() const
    {
        return static_cast<qsizetype>(m_pages.size()) * kPageBytes +
               static_cast<qsizetype>(m_pages.capacity() * sizeof(m_pages[0]));
    }

    quint64 read(qsizetype &position) const
    {
        quint64 value = 0;
        int shift = 0;
        for (;;) {
            const quint8 byte = byteAt(position++);
            value |= quint64{byte & 0x7Fu} << shift;
            if (byte < 0x80)
                return value;
            shift += 7;
        }
    }

    quint8 byteAt(qsizetype position) const
    {
        return m_pages[ix(position >> kPageBits)][ix(position & (kPageBytes - 1))];
    }

    void setByte(qsizetype position, quint8 byte)
    {
        m_pages[ix(position >> kPageBits)][ix(position & (kPageBytes - 1))] = byte;
    }

private:
    void pushByte(quint8 byte)
    {
        if ((m_size >> kPageBits) == static_cast<qsizetype>(m_pages.size()))
            m_pages.emplace_back(new quint8[ix(kPageBytes)]);
        setByte(m_size++, byte);
    }

    std::vector<std::unique_ptr<quint8[]>> m_pages;
    qsizetype m_size = 0;
};

struct Group
{
    qsizetype start = 0;      // position of its first line
    qsizetype record = 0;     // record of its first line
    qsizetype rowsBefore = 0; // rows of every line before it, at the current width
    quint32 maxColumns = 0;   // widest line, saturated
};

struct TabLine
{
    qsizetype line = 0;
    std::vector<qsizetype> checkpoints;
};

} // namespace

using Line = ReceiveBoxText::Line;
using Located = ReceiveBoxText::Located;
using RowColumn = ReceiveBoxText::RowColumn;
using ColourRun = ReceiveBoxText::ColourRun;

struct ReceiveBoxText::Data
{
    TextStore chars;
    RecordStore records;
    std::vector<Group> groups;
    std::vector<TabLine> tabLines;
    qsizetype closedLines = 0;
    qsizetype closedRows = 0; // rows of the finished lines at the current width
    qsizetype lastRecord = 0;
    bool pendingCr = false; // the text ends with a CR that a LF may still join

    qsizetype openStart = 0;
    qsizetype openLength = 0;
    qsizetype openColumns = 0;
    bool openHasTab = false;
    std::vector<qsizetype> openCheckpoints;

    std::vector<ColourRun> runs{ColourRun{}};
    int columns = 1;

    void clear(QRgb colour)
    {
        chars.clear();
        records.clear();
        groups.clear();
        groups.shrink_to_fit();
        tabLines.clear();
        closedLines = 0;
        closedRows = 0;
        lastRecord = 0;
        pendingCr = false;
        openStart = 0;
        openLength = 0;
        openColumns = 0;
        openHasTab = false;
        openCheckpoints.clear();
        runs.assign(1, ColourRun{0, colour});
    }

    void append(QStringView piece)
    {
        if (piece.isEmpty())
            return;
        chars.append(piece.utf16(), piece.size());
        index(Utf16Units{piece.utf16(), piece.size()});
    }

    void appendBytes(QByteArrayView piece, const std::array<char16_t, 256> &charOf)
    {
        if (piece.isEmpty())
            return;
        const ByteCharacters characters(charOf);
        const auto *bytes = reinterpret_cast<const quint8 *>(piece.data());
        chars.appendBytes(bytes, piece.size(), characters);
        index(ByteUnits{bytes, piece.size(), characters});
    }

    // Adds the lines of characters just appended to the index.
    template <typename Units> void index(const Units &p)
    {
        const qsizetype n = p.size;
        qsizetype i = 0;
        if (pendingCr) {
            pendingCr = false;
            if (p[0] == u'\n') {
                joinCrLf();
                i = 1;
            }
        }
        while (i < n) {
            const qsizetype j = p.findLineShaping(i);
            if (j > i)
                extendOpenLine(j - i);
            if (j == n)
                break;
            const char16_t c = p[j];
            if (c == u'\t') {
                addTab();
                i = j + 1;
            } else if (c == u'\n') {
                closeLine(1);
                i = j + 1;
            } else if (j + 1 < n) {
                const bool crLf = p[j + 1] == u'\n';
                closeLine(crLf ? 2 : 1);
                i = j + (crLf ? 2 : 1);
            } else {
                closeLine(1);
                pendingCr = true;
                i = j + 1;
            }
        }
    }

    void extendOpenLine(qsizetype count)
    {
        if (openHasTab)
            addCheckpoints(count);
        openColumns += count;
        openLength += count;
    }

    // Out of line, so that extendOpenLine() stays small enough to inline.
    Q_NEVER_INLINE void addCheckpoints(qsizetype count)
    {
        auto k = static_cast<qsizetype>(openCheckpoints.size());
        for (; (k << kCheckpointBits) < openLength + count; ++k)
            openCheckpoints.push_back(openColumns + (k << kCheckpointBits) - openLength);
    }

    void addTab()
    {
        if (!openHasTab) {
            openHasTab = true;
            // No TAB before: columns were characters.
            for (qsizetype k = 0; (k << kCheckpointBits) < openLength; ++k)
                openCheckpoints.push_back(k << kCheckpointBits);
        }
        if ((openLength & (kCheckpointChars - 1)) == 0)
            openCheckpoints.push_back(openColumns);
        openColumns = nextTabStop(openColumns);
        ++openLength;
    }

    void closeLine(int terminator)
    {
        if (closedLines % kGroupLines == 0) {
            Group group;
            group.start = openStart;
            group.record = records.size();
            group.rowsBefore = closedRows;
            groups.push_back(group);
        }
        lastRecord = records.size();
        records.push((quint64(openLength) << 3) | (quint64(terminator) << 1) |
                     (openHasTab ? 1u : 0u));
        if (openHasTab)
            records.push(quint64(openColumns - openLength));
        Group &group = groups.back();
        group.maxColumns = std::max(group.maxColumns, saturated(openColumns));
        closedRows += rowsOf(openColumns);
        if (openHasTab && openCheckpoints.size() > 1)
            tabLines.push_back(TabLine{closedLines, std::move(openCheckpoints)});
        ++closedLines;
        openStart += openLength + terminator;
        openLength = 0;
        openColumns = 0;
        openHasTab = false;
        openCheckpoints.clear();
    }

    // A LF right after a line closed by a CR at the end of the last piece:
    // the two are one terminator. The record's size does not change, since
    // only its low bits do.
    void joinCrLf()
    {
        const quint8 byte = records.byteAt(lastRecord);
        records.setByte(lastRecord, static_cast<quint8>((byte & ~0x06u) | (2u << 1)));
        ++openStart;
    }

    static quint32 saturated(qsizetype value)
    {
        return value > qsizetype{0xFFFFFFFF} ? 0xFFFFFFFFu : static_cast<quint32>(value);
    }

    qsizetype rowsOf(qsizetype lineColumns) const
    {
        return lineColumns <= columns ? 1 : (lineColumns + columns - 1) / columns;
    }

    qsizetype rowCount() const { return closedRows + rowsOf(openColumns); }

    Line openLine() const
    {
        Line line;
        line.index = closedLines;
        line.start = openStart;
        line.length = openLength;
        line.columns = openColumns;
        line.next = records.size();
        line.hasTab = openHasTab;
        return line;
    }

    Line readLine(qsizetype index, qsizetype start, qsizetype record) const
    {
        if (index == closedLines)
            return openLine();
        Line line;
        line.index = index;
        line.start = start;
        qsizetype at = record;
        const quint64 head = records.read(at);
        line.hasTab = (head & 1) != 0;
        line.terminator = static_cast<int>((head >> 1) & 3);
        line.length = static_cast<qsizetype>(head >> 3);
        line.columns = line.length + (line.hasTab ? static_cast<qsizetype>(records.read(at)) : 0);
        line.next = at;
        return line;
    }

    Line firstLineOf(qsizetype group) const
    {
        const Group &g = groups[ix(group)];
        return readLine(group * kGroupLines, g.start, g.record);
    }

    bool nextLine(Line &line) const
    {
        if (line.index >= closedLines)
            return false;
        line = readLine(line.index + 1, line.nextStart(), line.next);
        return true;
    }

    qsizetype groupLineCount(qsizetype group) const
    {
        return std::min(kGroupLines, closedLines - group * kGroupLines);
    }

    // The line holding a position; a position inside a CR LF belongs to the
    // line it ends.
    Located lineAtPosition(qsizetype position) const
    {
        if (position >= openStart)
            return {openLine(), closedRows};
        const auto it = std::upper_bound(groups.begin(), groups.end(), position,
                                         [](qsizetype p, const Group &g) { return p < g.start; });
        const auto group = static_cast<qsizetype>(it - groups.begin()) - 1;
        Located located{firstLineOf(group), groups[ix(group)].rowsBefore};
        while (position >= located.line.nextStart()) {
            located.firstRow += rowsOf(located.line.columns);
            nextLine(located.line);
        }
        return located;
    }

    Located lineAtRow(qsizetype row) const
    {
        if (row >= closedRows)
            return {openLine(), closedRows};
        const auto it =
            std::upper_bound(groups.begin(), groups.end(), row,
                             [](qsizetype r, const Group &g) { return r < g.rowsBefore; });
        const auto group = static_cast<qsizetype>(it - groups.begin()) - 1;
        Located located{firstLineOf(group), groups[ix(group)].rowsBefore};
        for (;;) {
            const qsizetype rows = rowsOf(located.line.columns);
            if (row < located.firstRow + rows)
                return located;
            located.firstRow += rows;
            nextLine(located.line);
        }
    }

    const std::vector<qsizetype> *checkpointsOf(const Line &line) const
    {
        if (!line.hasTab)
            return nullptr;
        if (line.index == closedLines)
            return &openCheckpoints;
        const auto it =
            std::lower_bound(tabLines.begin(), tabLines.end(), line.index,
                             [](const TabLine &t, qsizetype index) { return t.line < index; });
        return it != tabLines.end() && it->line == line.index ? &it->checkpoints : nullptr;
    }

    // Column where the character at that offset of the line starts.
    qsizetype columnOf(const Line &line, qsizetype offset) const
    {
        if (!line.hasTab)
            return offset;
        qsizetype from = 0;
        qsizetype column = 0;
        if (const auto *checkpoints = checkpointsOf(line); checkpoints && !checkpoints->empty()) {
            const qsizetype k = std::min(offset >> kCheckpointBits,
                                         static_cast<qsizetype>(checkpoints->size()) - 1);
            from = k << kCheckpointBits;
            column = (*checkpoints)[ix(k)];
        }
        for (qsizetype i = from; i < offset; ++i)
            column = chars.at(line.start + i) == u'\t' ? nextTabStop(column) : column + 1;
        return column;
    }

    // Offset of the character whose cells hold that column, with the column
    // it starts at; the line's length past its last character.
    qsizetype offsetAtColumn(const Line &line, qsizetype column, qsizetype &cellStart) const
    {
        if (column >= line.columns) {
            cellStart = line.columns;
            return line.length;
        }
        if (!line.hasTab) {
            cellStart = column;
            return column;
        }
        qsizetype from = 0;
        qsizetype c = 0;
        if (const auto *checkpoints = checkpointsOf(line); checkpoints && !checkpoints->empty()) {
            const auto it = std::upper_bound(checkpoints->begin(), checkpoints->end(), column);
            const auto k = static_cast<qsizetype>(it - checkpoints->begin()) - 1;
            from = k << kCheckpointBits;
            c = (*checkpoints)[ix(k)];
        }
        for (qsizetype i = from; i < line.length; ++i) {
            const qsizetype next = chars.at(line.start + i) == u'\t' ? nextTabStop(c) : c + 1;
            if (column < next) {
                cellStart = c;
                return i;
            }
            c = next;
        }
        cellStart = c;
        return line.length;
    }

    // Where the caret stands before the character at that position. The end
    // of a line that fills its last row stays at the end of that row.
    RowColumn rowColumnOf(qsizetype position) const
    {
        const Located located = lineAtPosition(position);
        const Line &line = located.line;
        const qsizetype column = columnOf(line, std::min(position - line.start, line.length));
        const qsizetype row = std::min(column / columns, rowsOf(line.columns) - 1);
        return {located.firstRow + row, column - row * columns};
    }

    qsizetype rowStartPosition(qsizetype row) const
    {
        const Located located = lineAtRow(row);
        qsizetype cellStart = 0;
        return located.line.start +
               offsetAtColumn(located.line, (row - located.firstRow) * columns, cellStart);
    }

    void rewrap()
    {
        qsizetype rows = 0;
        for (qsizetype g = 0; g < static_cast<qsizetype>(groups.size()); ++g) {
            Group &group = groups[ix(g)];
            group.rowsBefore = rows;
            const qsizetype count = groupLineCount(g);
            if (qsizetype{group.maxColumns} <= columns) {
                rows += count;
                continue;
            }
            Line line = firstLineOf(g);
            for (qsizetype i = 0; i < count; ++i) {
                rows += rowsOf(line.columns);
                if (i + 1 < count)
                    nextLine(line);
            }
        }
        closedRows = rows;
    }

    // --- colours ---

    void setColour(QRgb colour)
    {
        const qsizetype end = chars.size();
        if (runs.back().start == end)
            runs.back().rgb = colour;
        else if (runs.back().rgb != colour)
            runs.push_back(ColourRun{end, colour});
    }

    qsizetype runIndexAt(qsizetype position) const
    {
        const auto it =
            std::upper_bound(runs.begin(), runs.end(), position,
                             [](qsizetype p, const ColourRun &r) { return p < r.start; });
        return std::max<qsizetype>(0, static_cast<qsizetype>(it - runs.begin()) - 1);
    }
};

ReceiveBoxText::ReceiveBoxText() : d(new Data) {}

ReceiveBoxText::~ReceiveBoxText() = default;

qsizetype ReceiveBoxText::nextTabStop(qsizetype column)
{
    return (column / kTabStop + 1) * kTabStop;
}

qsizetype ReceiveBoxText::length() const
{
    return d->chars.size();
}

void ReceiveBoxText::clear(QRgb colour)
{
    d->clear(colour);
}

void ReceiveBoxText::append(QStringView text)
{
    d->append(text);
}

void ReceiveBoxText::appendBytes(QByteArrayView bytes, const std::array<char16_t, 256> &charOf)
{
    d->appendBytes(bytes, charOf);
}

char16_t ReceiveBoxText::at(qsizetype position) const
{
    return d->chars.at(position);
}

void ReceiveBoxText::copy(qsizetype from, qsizetype count, char16_t *out) const
{
    d->chars.copy(from, count, out);
}

QString ReceiveBoxText::mid(qsizetype from, qsizetype count) const
{
    const qsizetype size = d->chars.size();
    const qsizetype to = count >= size - from ? size : std::max<qsizetype>(0, from + count);
    from = std::clamp<qsizetype>(from, 0, size);
    count = to - from;
    if (count <= 0)
        return {};
    QString result(count, Qt::Uninitialized);
    d->chars.copy(from, count, reinterpret_cast<char16_t *>(result.data()));
    return result;
}

int ReceiveBoxText::columns() const
{
    return d->columns;
}

void ReceiveBoxText::setColumns(int columns)
{
    columns = std::max(1, columns);
    if (columns == d->columns)
        return;
    d->columns = columns;
    d->rewrap();
}

qsizetype ReceiveBoxText::rowCount() const
{
    return d->rowCount();
}

qsizetype ReceiveBoxText::rowsOf(qsizetype lineColumns) const
{
    return d->rowsOf(lineColumns);
}

Located ReceiveBoxText::lineAtPosition(qsizetype position) const
{
    return d->lineAtPosition(position);
}

Located ReceiveBoxText::lineAtRow(qsizetype row) const
{
    return d->lineAtRow(row);
}

bool ReceiveBoxText::nextLine(Line &line) const
{
    return d->nextLine(line);
}

qsizetype ReceiveBoxText::columnOf(const Line &line, qsizetype offset) const
{
    return d->columnOf(line, offset);
}

qsizetype ReceiveBoxText::offsetAtColumn(const Line &line, qsizetype column,
                                         qsizetype &cellStart) const
{
    return d->offsetAtColumn(line, column, cellStart);
}

RowColumn ReceiveBoxText::rowColumnOf(qsizetype position) const
{
    return d->rowColumnOf(position);
}

qsizetype ReceiveBoxText::rowStartPosition(qsizetype row) const
{
    return d->rowStartPosition(row);
}

void ReceiveBoxText::setColour(QRgb colour)
{
    d->setColour(colour);
}

const std::vector<ColourRun> &ReceiveBoxText::colourRuns() const
{
    return d->runs;
}

qsizetype ReceiveBoxText::runIndexAt(qsizetype position) const
{
    return d->runIndexAt(position);
}

qsizetype ReceiveBoxText::memoryUsed() const
{
    qsizetype total = d->chars.bytes() + d->records.bytes();
    total += static_cast<qsizetype>(d->groups.capacity() * sizeof(Group));
    total += static_cast<qsizetype>(d->tabLines.capacity() * sizeof(TabLine));
    for (const TabLine &line : d->tabLines)
        total += static_cast<qsizetype>(line.checkpoints.capacity() * sizeof(qsizetype));
    total += static_cast<qsizetype>(d->openCheckpoints.capacity() * sizeof(qsizetype));
    total += static_cast<qsizetype>(d->runs.capacity() * sizeof(ColourRun));
    return total;
}
