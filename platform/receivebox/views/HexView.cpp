#include "HexView.h"

#include "HexClipboardText.h"
#include "HexRows.h"

#include <algorithm>

namespace hexrows = platform::receivebox::views::hexrows;
using hexrows::kRowBytes;

namespace {

// The rows as one text, for assistive technology: each row padded to the
// widest, with a line end.
struct ReadRows
{
    explicit ReadRows(const ByteStore &store)
        : bytes(store.byteCount()), geometry(bytes), stride(geometry.width() + 1)
    {}

    qsizetype length() const { return bytes == 0 ? 0 : hexrows::rowCount(bytes) * stride - 1; }

    qsizetype bytes;
    hexrows::Geometry geometry;
    qsizetype stride;
};

} // namespace

qsizetype HexView::rowCount() const
{
    return hexrows::rowCount(m_text.store().byteCount());
}

int HexView::layRows(qsizetype firstRow, const RowColours &, int top, int bottom, RowLayout &layout,
                     const RowSink &paintRow) const
{
    const qsizetype rows = rowCount();
    for (int row = top; row <= bottom; ++row) {
        if (firstRow + row >= rows)
            return row;
        const qsizetype end = layout.layoutHex(m_text, firstRow + row);
        paintRow(layout.cells(), end, false, row);
    }
    return bottom + 1;
}

qsizetype HexView::rewrapAnchor(qsizetype) const
{
    return -1;
}

qsizetype HexView::rowOfPosition(qsizetype position) const
{
    return rowColumnOf(position).row;
}

qsizetype HexView::firstByteOfRow(qsizetype row) const
{
    return row * kRowBytes;
}

qsizetype HexView::rowOfByte(qsizetype byte) const
{
    return byte / kRowBytes;
}

LineIndex::RowColumn HexView::rowColumnOf(qsizetype position) const
{
    const ByteStore &store = m_text.store();
    const hexrows::RowGap at =
        hexrows::rowGapOf(hexrows::byteOf(store, position, false), store.byteCount());
    return {at.row, hexrows::Geometry(store.byteCount()).gapColumn(at.gap)};
}

int HexView::caretSecondColumn(qsizetype caret) const
{
    const ByteStore &store = m_text.store();
    const hexrows::RowGap at =
        hexrows::rowGapOf(hexrows::byteOf(store, caret, false), store.byteCount());
    const hexrows::Geometry geometry(store.byteCount());
    return at.gap < kRowBytes ? geometry.charColumn(at.gap) : geometry.width();
}

qsizetype HexView::hitTest(qsizetype firstRow, const CellMetrics &cell, const QPoint &point,
                           bool between) const
{
    const ByteStore &store = m_text.store();
    const qsizetype bytes = store.byteCount();
    return store.positionOfByte(
        hexrows::byteAt(hexrows::Geometry(bytes), bytes, firstRow, cell, point, between));
}

qsizetype HexView::positionAfterKey(qsizetype caret, int key, bool control, int pageRows) const
{
    const ByteStore &store = m_text.store();
    const qsizetype byte = hexrows::byteAfterKey(hexrows::byteOf(store, caret, false),
                                                 store.byteCount(), key, control, pageRows);
    return byte < 0 ? -1 : store.positionOfByte(byte);
}

// A byte is the word of the hexadecimal view.
View::Range HexView::unitAt(qsizetype position) const
{
    const ByteStore &store = m_text.store();
    return {position, store.positionOfByte(hexrows::byteOf(store, position, false) + 1)};
}

// A selection that ends inside a NUL's characters takes in the whole NUL.
View::Range HexView::snapped(qsizetype anchor, qsizetype caret) const
{
    const ByteStore &store = m_text.store();
    if (anchor == caret) {
        const qsizetype at = store.positionOfByte(hexrows::byteOf(store, caret, false));
        return {at, at};
    }
    const bool forward = anchor < caret;
    return {store.positionOfByte(hexrows::byteOf(store, anchor, !forward)),
            store.positionOfByte(hexrows::byteOf(store, caret, forward))};
}

// The rows that hold the selected bytes, as the view shows them.
QMimeData *HexView::copy(qsizetype from, qsizetype to) const
{
    const ByteStore &store = m_text.store();
    const qsizetype fromByte = hexrows::byteOf(store, from, false);
    const qsizetype toByte = hexrows::byteOf(store, to, true);
    if (from >= to || fromByte >= toByte)
        return nullptr;
    return new HexClipboardText(store.share(), fromByte, toByte, HexClipboardText::Rows);
}

bool HexView::searchesBytes() const
{
    return true;
}

// The bytes, as the hex pairs the bar then looks for.
QString HexView::findText(qsizetype from, qsizetype to, qsizetype longest) const
{
    const ByteStore &store = m_text.store();
    const qsizetype fromByte = hexrows::byteOf(store, from, false);
    const qsizetype toByte = hexrows::byteOf(store, to, true);
    QString text;
    if (toByte > fromByte && (toByte - fromByte) * 3 <= longest)
        hexrows::appendPairs(text, store, fromByte, toByte);
    return text;
}

qsizetype HexView::readLength() const
{
    return ReadRows(m_text.store()).length();
}

QString HexView::readMid(qsizetype from, qsizetype count) const
{
    const ReadRows rows(m_text.store());
    const qsizetype to = std::min(rows.length(), from + count);
    from = std::max<qsizetype>(0, from);
    if (from >= to)
        return {};
    QString text;
    const qsizetype firstRow = from / rows.stride;
    for (qsizetype row = firstRow; row * rows.stride < to; ++row) {
        const qsizetype start = text.size();
        hexrows::appendRowText(text, m_text.store(), rows.geometry, row, 0, rows.bytes);
        text.resize(start + rows.geometry.width(), u' ');
        text.append(u'\n');
    }
    return text.mid(from - firstRow * rows.stride, to - from);
}

View::Range HexView::readLine(qsizetype offset) const
{
    const ReadRows rows(m_text.store());
    const qsizetype start = offset / rows.stride * rows.stride;
    return {start, std::min(rows.length(), start + rows.stride)};
}

// An offset, a pair or the characters.
View::Range HexView::readWord(qsizetype offset) const
{
    const ReadRows rows(m_text.store());
    const qsizetype start = offset / rows.stride * rows.stride;
    const QString row = readMid(start, rows.geometry.width());
    auto i = static_cast<int>(offset - start);
    if (i >= row.size() || row.at(i) == u' ')
        return {offset, offset + 1};
    int from = i;
    int to = i;
    while (from > 0 && row.at(from - 1) != u' ')
        --from;
    while (to < row.size() && row.at(to) != u' ')
        ++to;
    return {start + from, start + to};
}

// An end takes in the pair of the byte before it.
qsizetype HexView::readOffsetOf(qsizetype position, bool end) const
{
    const ReadRows rows(m_text.store());
    const qsizetype byte = hexrows::byteOf(m_text.store(), position, false);
    if (end && byte > 0) {
        const qsizetype before = byte - 1;
        const auto index = static_cast<int>(before % kRowBytes);
        return before / kRowBytes * rows.stride + rows.geometry.pairColumn(index) + 2;
    }
    const hexrows::RowGap at = hexrows::rowGapOf(byte, rows.bytes);
    return at.row * rows.stride + rows.geometry.gapColumn(at.gap);
}

// The position of the byte an offset falls before.
qsizetype HexView::readPositionAt(qsizetype offset) const
{
    const ReadRows rows(m_text.store());
    offset = std::clamp<qsizetype>(offset, 0, rows.length());
    const qsizetype row = offset / rows.stride;
    const auto column = static_cast<int>(offset % rows.stride);
    int gap = 0;
    if (column >= rows.geometry.charColumn(0)) {
        gap = std::min<int>(column - rows.geometry.charColumn(0), kRowBytes);
    } else {
        while (gap < kRowBytes && rows.geometry.pairColumn(gap) < column)
            ++gap;
    }
    const qsizetype byte = std::min(rows.bytes, row * kRowBytes + gap);
    return m_text.store().positionOfByte(byte);
}

// What arrived is told from the start of the row it joins.
qsizetype HexView::readArrivalOffset(qsizetype position) const
{
    return readLine(readOffsetOf(position, false)).first;
}

QRect HexView::readRect(qsizetype offset, qsizetype firstRow, const CellMetrics &cell) const
{
    const ReadRows rows(m_text.store());
    return {static_cast<int>(offset % rows.stride) * cell.width,
            static_cast<int>(offset / rows.stride - firstRow) * cell.height, cell.width,
            cell.height};
}

qsizetype HexView::readOffsetAt(const QPoint &point, qsizetype firstRow,
                                const CellMetrics &cell) const
{
    const ReadRows rows(m_text.store());
    const qsizetype row = firstRow + point.y() / cell.height;
    const int column = std::min(point.x() / cell.width, rows.geometry.width() - 1);
    const qsizetype offset = row * rows.stride + column;
    return offset < rows.length() ? offset : -1;
}
