#pragma once

// The received bytes, kept as they came: one byte of memory per byte, in
// chunks that never move, append-only until cleared. Characters are given on
// request through the code page's table; a NUL byte reads as the four
// characters "\x00", every other byte as the one character the table gives.
//
// Character positions map to byte positions through a small index: the
// character position where each block of 4 KiB of bytes starts. While no NUL
// has arrived the two are the same and the index is not consulted.

#include "ChunkSlabs.h"

#include <QtGlobal>

#include <array>
#include <functional>
#include <memory>
#include <span>
#include <utility>
#include <vector>

class ByteStore final
{
public:
    using CharTable = std::array<char16_t, 256>;

    explicit ByteStore(const CharTable &table);
    ~ByteStore();
    Q_DISABLE_COPY_MOVE(ByteStore)

    // Characters held.
    qsizetype characterCount() const { return m_chars; }
    qsizetype byteCount() const { return m_bytes; }

    void clear();
    const CharTable &table() const { return m_table; }
    bool asciiKept() const { return m_asciiKept; }
    // TAB, LF and CR are the bytes 9, 10 and 13, and no other byte reads as
    // one of them: lines can then be found in the bytes themselves.
    bool plainLineShaping() const { return m_plainLineShaping; }
    // Whether bytes read through that table give the characters this store
    // would read them as. The table can be changed while the store is empty.
    bool readsAs(const CharTable &table) const;
    void setTable(const CharTable &table);

    // The bytes as they came; their characters are the store's table's.
    // Their line-shaping bytes are marked in `marks` in the same pass over
    // them (bytescan::copyScanning; shapingWords(count) words, cleared here).
    // Returns how many of them are NUL.
    qsizetype appendBytes(const quint8 *bytes, qsizetype count, quint64 *marks);

    // Writes bytes into the store's own memory, where they stay: at most
    // count, in stretches of at most `most` bytes that fill(into, room)
    // writes at `into` (at most room bytes; it returns how many, 0 or less
    // when it has no more). Each stretch is marked as appendBytes() marks,
    // right after its writing, while it is still in the cache, and handed to
    // written(bytes, size, hasNul) before the next is asked for. Returns how
    // many bytes were appended.
    using Fill = std::function<qsizetype(quint8 *into, qsizetype room)>;
    using Written = std::function<void(const quint8 *bytes, qsizetype size, bool hasNul)>;
    qsizetype appendFilled(qsizetype count, qsizetype most, quint64 *marks, const Fill &fill,
                           const Written &written);

    // The text at a moment, to go back to when memory runs out in the middle
    // of an append (std::bad_alloc): appends only add, so the counts are all
    // it takes.
    struct Mark
    {
        qsizetype bytes = 0;
        qsizetype chars = 0;
        std::size_t blockStarts = 0;
        bool hasNul = false;
    };
    Mark mark() const;
    // Forgets what was appended since the mark. Chunks taken since stay for
    // the next append.
    void rollBack(const Mark &mark);

    // A byte and, inside the expansion of a NUL, which of its characters.
    struct Place
    {
        qsizetype byte = 0;
        int sub = 0;
    };
    // The place of a character position; byteCount() at the end or past it.
    Place locate(qsizetype position) const;
    // The character position where a byte's characters start; characterCount() at the
    // end or past it.
    qsizetype positionOfByte(qsizetype byte) const;
    bool hasNul() const { return m_hasNul; }

    // The bytes from that one to the end of its chunk or of the text, as
    // they lie in memory; empty at the end. Readers of a shared store on
    // another thread take them from here: they never change below
    // byteCount().
    std::span<const quint8> bytesFrom(qsizetype byte) const;
    quint8 byteAt(qsizetype byte) const { return *bytePointer(byte); }

    char16_t at(qsizetype position) const;
    // Characters [from, from + count) into out; the range must lie in the text.
    void copy(qsizetype from, qsizetype count, char16_t *out) const;

    // The text as it stands now, readable for as long as it is held, even
    // after this store is cleared, and on another thread while this store
    // goes on appending: the bytes and the position index are shared, not
    // copied (what it copies is a pointer per 64 KiB chunk).
    std::shared_ptr<const ByteStore> share() const;

    qsizetype memoryUsed() const;

    // Checks' way in (ByteStore_p.h).
    struct Private;

private:
    static constexpr int kBlockBits = 12;
    static constexpr qsizetype kBlockBytes = qsizetype{1} << kBlockBits;

    // The chunk that holds byte position `byte`, taken now if need be.
    quint8 *chunkFor(qsizetype byte);
    // Counts bytes just written at the end of the text, block by block, and
    // marks them; returns how many of them are NUL.
    qsizetype account(const quint8 *bytes, qsizetype count, quint64 *marks);
    // The same for bytes that do not cross a block.
    void accountBlock(qsizetype count, qsizetype nuls);
    // Clears count bytes' marks, then runs pass(done, take) on each stretch
    // of them that ends a block or the bytes, and accounts its NULs.
    template <typename Pass> qsizetype byBlock(qsizetype count, quint64 *marks, Pass pass);

    const quint8 *bytePointer(qsizetype byte) const
    {
        return m_chunks[static_cast<std::size_t>(byte >> ChunkSlabs::kChunkBits)] +
               (byte & (ChunkSlabs::kChunkBytes - 1));
    }

    CharTable m_table{};
    bool m_asciiKept = false;
    bool m_plainLineShaping = false;

    std::shared_ptr<ChunkSlabs> m_slabs = std::make_shared<ChunkSlabs>();
    std::vector<quint8 *> m_chunks;
    qsizetype m_bytes = 0;
    qsizetype m_chars = 0;
    // Character position of each block's first byte; filled in only once a
    // NUL has arrived (until then it equals the byte position). The array is
    // shared with the stores share() makes, which read only the entries there
    // when they were made: it grows into a new array, never in place, so
    // those entries never move or change, and a share costs no copy of them.
    std::shared_ptr<qsizetype[]> m_blockStarts;
    qsizetype m_blockCapacity = 0;
    qsizetype m_blockCount = 0;
    void addBlockStart(qsizetype start);
    bool m_hasNul = false;
};
