#include "ByteStore.h"

#include "ByteScan.h"
#include "NulText.h"
#include "ReadCount_p.h"

#include <algorithm>
#include <cstring>
#include <utility>

using platform::transcript::kNulChars;
using platform::transcript::kNulText;
using platform::transcript::bytescan::ix;

ByteStore::ByteStore(const CharTable &table)
{
    setTable(table);
}

ByteStore::~ByteStore() = default;

void ByteStore::clear()
{
    m_chunks.clear();
    m_chunks.shrink_to_fit();
    // The slabs are given back once no shared copy holds them either.
    ChunkSlabs::release(std::exchange(m_slabs, std::make_shared<ChunkSlabs>()));
    m_bytes = 0;
    m_chars = 0;
    m_blockStarts.reset();
    m_blockCapacity = 0;
    m_blockCount = 0;
    m_hasNul = false;
}

bool ByteStore::readsAs(const CharTable &table) const
{
    // Byte 0 reads as "\x00" whatever the table says.
    return &table == &m_table || std::equal(table.begin() + 1, table.end(), m_table.begin() + 1);
}

void ByteStore::setTable(const CharTable &table)
{
    Q_ASSERT(m_bytes == 0);
    m_table = table;
    m_asciiKept = true;
    for (int b = 0; b < 0x80; ++b)
        m_asciiKept = m_asciiKept && m_table[ix(b)] == b;
    m_plainLineShaping = true;
    for (int b = 1; b < 256; ++b) {
        const char16_t c = m_table[ix(b)];
        m_plainLineShaping =
            m_plainLineShaping && (platform::transcript::bytescan::shapesLine(c)
                                       ? c == b
                                       : !platform::transcript::bytescan::shapesLine(b));
    }
}

quint8 *ByteStore::chunkFor(qsizetype byte)
{
    // Chunks taken by an append that was then rolled back stay, in order,
    // for the next.
    const auto index = static_cast<std::size_t>(byte >> ChunkSlabs::kChunkBits);
    while (m_chunks.size() <= index) {
        // The place first, so that a chunk taken is never dropped.
        m_chunks.push_back(nullptr);
        try {
            m_chunks.back() = m_slabs->take();
        } catch (...) {
            m_chunks.pop_back();
            throw;
        }
    }
    return m_chunks[index];
}

void ByteStore::accountBlock(qsizetype count, qsizetype nuls)
{
    if (nuls > 0 && !m_hasNul) {
        // Until now every byte was one character.
        m_hasNul = true;
        const qsizetype begun = (m_bytes + kBlockBytes - 1) >> kBlockBits;
        for (qsizetype b = 0; b < begun; ++b)
            addBlockStart(b << kBlockBits);
    }
    if ((m_bytes & (kBlockBytes - 1)) == 0 && m_hasNul)
        addBlockStart(m_chars);
    m_bytes += count;
    m_chars += count + platform::transcript::kNulExtraChars * nuls;
}

template <typename Pass> qsizetype ByteStore::byBlock(qsizetype count, quint64 *marks, Pass pass)
{
    std::fill_n(marks, platform::transcript::bytescan::shapingWords(count), 0);
    qsizetype allNuls = 0;
    for (qsizetype done = 0; done < count;) {
        // A block's NULs are counted apart; a block never crosses a chunk.
        const qsizetype take = std::min(count - done, kBlockBytes - (m_bytes & (kBlockBytes - 1)));
        const qsizetype nuls = pass(done, take);
        accountBlock(take, nuls);
        allNuls += nuls;
        done += take;
    }
    return allNuls;
}

qsizetype ByteStore::account(const quint8 *bytes, qsizetype count, quint64 *marks)
{
    return byBlock(count, marks, [&](qsizetype done, qsizetype take) {
        return platform::transcript::bytescan::scanning(bytes + done, take, marks, done);
    });
}

qsizetype ByteStore::appendBytes(const quint8 *bytes, qsizetype count, quint64 *marks)
{
    return byBlock(count, marks, [&](qsizetype done, qsizetype take) {
        quint8 *at = chunkFor(m_bytes) + (m_bytes & (ChunkSlabs::kChunkBytes - 1));
        return platform::transcript::bytescan::copyScanning(bytes + done, take, at, marks, done);
    });
}

qsizetype ByteStore::appendFilled(qsizetype count, qsizetype most, quint64 *marks, const Fill &fill,
                                  const Written &written)
{
    qsizetype done = 0;
    while (done < count) {
        const qsizetype inChunk = m_bytes & (ChunkSlabs::kChunkBytes - 1);
        quint8 *at = chunkFor(m_bytes) + inChunk;
        // The chunks that follow in memory make one stretch with it: fewer,
        // larger writes.
        const qsizetype wanted = std::min(count - done, most);
        qsizetype room = std::min(wanted, ChunkSlabs::kChunkBytes - inChunk);
        while (room < wanted && chunkFor(m_bytes + room) == at + room)
            room += std::min(wanted - room, ChunkSlabs::kChunkBytes);
        const qsizetype got = fill(at, room);
        if (got <= 0)
            break;
        written(at, got, account(at, got, marks) > 0);
        done += got;
    }
    return done;
}

void ByteStore::addBlockStart(qsizetype start)
{
    if (m_blockCount == m_blockCapacity) {
        constexpr qsizetype kFewest = 64;
        const qsizetype capacity = std::max(kFewest, 2 * m_blockCapacity);
        std::shared_ptr<qsizetype[]> grown(new qsizetype[static_cast<std::size_t>(capacity)]);
        std::copy_n(m_blockStarts.get(), m_blockCount, grown.get());
        m_blockStarts = std::move(grown);
        m_blockCapacity = capacity;
    }
    m_blockStarts[m_blockCount++] = start;
}

ByteStore::Mark ByteStore::mark() const
{
    return Mark{m_bytes, m_chars, static_cast<std::size_t>(m_blockCount), m_hasNul};
}

void ByteStore::rollBack(const Mark &mark)
{
    m_bytes = mark.bytes;
    m_chars = mark.chars;
    m_blockCount = static_cast<qsizetype>(mark.blockStarts);
    m_hasNul = mark.hasNul;
}

ByteStore::Place ByteStore::locate(qsizetype position) const
{
    if (position >= m_chars)
        return {m_bytes, 0};
    if (!m_hasNul)
        return {position, 0};
    const qsizetype *starts = m_blockStarts.get();
    const qsizetype *startsEnd = starts + m_blockCount;
    const qsizetype *it = std::upper_bound(starts, startsEnd, position);
    const auto block = static_cast<qsizetype>(it - starts) - 1;
    qsizetype chars = starts[block];
    qsizetype byte = block << kBlockBits;
    const qsizetype blockBytes = std::min(m_bytes - byte, kBlockBytes);
    const qsizetype nextStart = it != startsEnd ? *it : m_chars;
    if (nextStart - chars == blockBytes) // no NUL in this block
        return {byte + position - chars, 0};
    for (const quint8 *at = bytePointer(byte);; ++at, ++byte) {
        const qsizetype width = *at == 0 ? kNulChars : 1;
        if (position < chars + width)
            return {byte, static_cast<int>(position - chars)};
        chars += width;
    }
}

qsizetype ByteStore::positionOfByte(qsizetype byte) const
{
    if (byte >= m_bytes)
        return m_chars;
    if (!m_hasNul)
        return byte;
    // A block never crosses a chunk.
    const qsizetype block = byte >> kBlockBits;
    const qsizetype from = block << kBlockBits;
    return m_blockStarts[block] + (byte - from) +
           platform::transcript::kNulExtraChars *
               platform::transcript::bytescan::countNuls(bytePointer(from), byte - from);
}

std::span<const quint8> ByteStore::bytesFrom(qsizetype byte) const
{
    if (byte >= m_bytes)
        return {};
    const qsizetype inChunk = byte & (ChunkSlabs::kChunkBytes - 1);
    const qsizetype count = std::min(ChunkSlabs::kChunkBytes - inChunk, m_bytes - byte);
    return {bytePointer(byte), static_cast<std::size_t>(count)};
}

char16_t ByteStore::at(qsizetype position) const
{
    platform::transcript::countRead(1);
    const Place place = locate(position);
    const quint8 byte = *bytePointer(place.byte);
    return byte == 0 ? kNulText[place.sub] : m_table[byte];
}

void ByteStore::copy(qsizetype from, qsizetype count, char16_t *out) const
{
    if (count <= 0)
        return;
    platform::transcript::countRead(count);
    const Place place = locate(from);
    qsizetype byte = place.byte;
    if (place.sub > 0) {
        const auto n = std::min<qsizetype>(count, kNulChars - place.sub);
        std::copy_n(kNulText + place.sub, n, out);
        out += n;
        count -= n;
        ++byte;
    }
    while (count > 0) {
        // Each byte gives at least one character: count bytes at most.
        const quint8 *at = bytePointer(byte);
        const qsizetype room =
            std::min(count, ChunkSlabs::kChunkBytes - (byte & (ChunkSlabs::kChunkBytes - 1)));
        const qsizetype run =
            m_hasNul ? platform::transcript::bytescan::findNul(at, 0, room) : room;
        platform::transcript::bytescan::translate(at, run, m_table.data(), m_asciiKept, out);
        out += run;
        count -= run;
        byte += run;
        if (run < room) {
            const auto n = std::min<qsizetype>(count, kNulChars);
            std::copy_n(kNulText, n, out);
            out += n;
            count -= n;
            ++byte;
        }
    }
}

std::shared_ptr<const ByteStore> ByteStore::share() const
{
    auto shared = std::make_shared<ByteStore>(m_table);
    shared->m_slabs = m_slabs;
    shared->m_chunks = m_chunks;
    shared->m_bytes = m_bytes;
    shared->m_chars = m_chars;
    shared->m_blockStarts = m_blockStarts;
    shared->m_blockCapacity = m_blockCount;
    shared->m_blockCount = m_blockCount;
    shared->m_hasNul = m_hasNul;
    return shared;
}

qsizetype ByteStore::memoryUsed() const
{
    return m_slabs->bytes() + static_cast<qsizetype>(m_chunks.capacity() * sizeof(quint8 *)) +
           m_blockCapacity * static_cast<qsizetype>(sizeof(qsizetype));
}
