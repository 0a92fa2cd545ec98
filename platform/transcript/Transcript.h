#pragma once

// The receive box's text apart from any widget: the store of what was
// received, the index of its lines and rows, and the colour it is drawn in. The view
// reads the characters from store() and the layout from lines().

#include "ByteStore.h"
#include "LineIndex.h"

#include <QByteArrayView>
#include <QString>

#include <vector>

class Transcript final
{
public:
    using CharTable = ByteStore::CharTable;

    // Bytes read through the table: the code page the received bytes are in.
    explicit Transcript(const CharTable &table);
    Q_DISABLE_COPY_MOVE(Transcript)

    qsizetype length() const { return m_store.characterCount(); }
    const ByteStore &store() const { return m_store; }
    const LineIndex &lines() const { return m_lines; }

    // Empties the text, which is drawn in that colour from now on.
    void clear(quint32 colour);
    // Another table for the bytes from now on, taken only while the text is
    // empty: a kept byte always reads as it did when it came.
    void setTable(const CharTable &table);
    // Each byte as the table's character for it, a NUL as "\x00". An append
    // takes the whole piece, or, when memory runs out (std::bad_alloc),
    // leaves the text as it was and throws.
    void appendBytes(QByteArrayView bytes);
    // The same for at most count bytes that fill(into, room) writes, as a
    // socket's reading does, until it returns 0 or less; returns how many
    // were appended. Where the system's copy into fresh memory costs more
    // than ours (docs/performance.md), fill writes into a small buffer that
    // stays in the cache, and the bytes are copied on from there; built with
    // BRISOL_RECEIVE_DIRECT, it writes straight into the store's memory.
    qsizetype appendFilled(qsizetype count, const ByteStore::Fill &fill);
    // Characters [from, from + count), clipped to the text, in one allocation.
    QString mid(qsizetype from, qsizetype count) const;

    void setColumns(int columns) { m_lines.setColumns(columns); }

    // The colour of the whole text, 0xAARRGGBB as a QRgb.
    void setColour(quint32 colour) { m_colour = colour; }
    quint32 colour() const { return m_colour; }

    // Bytes held for the text, its index and its colours.
    qsizetype memoryUsed() const;

private:
    template <typename Append> void wholly(const Append &append);
    // Bytes to the store and the index, wholly or not at all.
    void appendPiece(const quint8 *bytes, qsizetype count);

    // Where a piece's line-shaping bytes are, from the pass that takes it.
    quint64 *marks();

    // Where received bytes land before the store, reused for every arrival.
    std::vector<quint8> m_landing;
    std::vector<quint64> m_marks;
    ByteStore m_store;
    LineIndex m_lines;
    quint32 m_colour = 0;
};
