#include "TextView.h"

#include "CaretNavigation.h"
#include "ClipboardText.h"
#include "HexRows.h"

#include <algorithm>

namespace caretnavigation = platform::receivebox::views::caretnavigation;

qsizetype TextView::rowCount() const
{
    return m_text.lines().rowCount();
}

int TextView::layRows(qsizetype firstRow, const RowColours &colours, int top, int bottom,
                      RowLayout &layout, const RowSink &paintRow) const
{
    const LineIndex &lines = m_text.lines();
    if (firstRow + top >= lines.rowCount())
        return top;
    const LineIndex::Located located = lines.lineAtRow(firstRow + top);
    LineIndex::Line line = located.line;
    qsizetype rowInLine = firstRow + top - located.firstRow;
    for (int row = top; row <= bottom; ++row) {
        const qsizetype end = layout.layout(m_text, line, rowInLine);
        paintRow(layout.cells(), end, RowLayout::lineEndSelected(m_text, line, rowInLine, colours),
                 row);
        if (++rowInLine >= lines.rowsOf(line.columns)) {
            if (!lines.nextLine(line))
                return row + 1;
            rowInLine = 0;
        }
    }
    return bottom + 1;
}

qsizetype TextView::rewrapAnchor(qsizetype row) const
{
    return m_text.lines().rowStartPosition(row);
}

qsizetype TextView::rowOfPosition(qsizetype position) const
{
    return m_text.lines().rowColumnOf(position).row;
}

qsizetype TextView::firstByteOfRow(qsizetype row) const
{
    return platform::receivebox::views::hexrows::byteOf(
        m_text.store(), m_text.lines().rowStartPosition(row), false);
}

qsizetype TextView::rowOfByte(qsizetype byte) const
{
    return m_text.lines().rowColumnOf(m_text.store().positionOfByte(byte)).row;
}

LineIndex::RowColumn TextView::rowColumnOf(qsizetype position) const
{
    return m_text.lines().rowColumnOf(position);
}

int TextView::caretSecondColumn(qsizetype) const
{
    return -1;
}

qsizetype TextView::hitTest(qsizetype firstRow, const CellMetrics &cell, const QPoint &point,
                            bool between) const
{
    return caretnavigation::positionAt(m_text, firstRow, cell, point, between);
}

qsizetype TextView::positionAfterKey(qsizetype caret, int key, bool control, int pageRows) const
{
    return caretnavigation::positionAfterKey(m_text, caret, key, control, pageRows);
}

View::Range TextView::unitAt(qsizetype position) const
{
    return caretnavigation::wordAt(m_text, position);
}

View::Range TextView::snapped(qsizetype anchor, qsizetype caret) const
{
    return {anchor, caret};
}

QMimeData *TextView::copy(qsizetype from, qsizetype to) const
{
    return from < to ? new ClipboardText(m_text.store().share(), from, to - from) : nullptr;
}

bool TextView::searchesBytes() const
{
    return false;
}

QString TextView::findText(qsizetype from, qsizetype to, qsizetype longest) const
{
    if (to <= from || to - from > longest)
        return {};
    QString text = m_text.mid(from, to - from);
    if (text.contains(u'\r') || text.contains(u'\n'))
        text.clear();
    return text;
}

qsizetype TextView::readLength() const
{
    return m_text.length();
}

QString TextView::readMid(qsizetype from, qsizetype count) const
{
    return m_text.mid(from, count);
}

View::Range TextView::readLine(qsizetype offset) const
{
    const LineIndex::Line line = m_text.lines().lineAtPosition(offset).line;
    return {line.start, line.nextStart()};
}

View::Range TextView::readWord(qsizetype offset) const
{
    return caretnavigation::wordAt(m_text, std::clamp<qsizetype>(offset, 0, m_text.length()));
}

qsizetype TextView::readOffsetOf(qsizetype position, bool) const
{
    return position;
}

qsizetype TextView::readPositionAt(qsizetype offset) const
{
    return offset;
}

qsizetype TextView::readArrivalOffset(qsizetype position) const
{
    return position;
}

QRect TextView::readRect(qsizetype offset, qsizetype firstRow, const CellMetrics &cell) const
{
    const LineIndex::RowColumn at = rowColumnOf(offset);
    return {static_cast<int>(at.column) * cell.width,
            static_cast<int>(at.row - firstRow) * cell.height, cell.width, cell.height};
}

qsizetype TextView::readOffsetAt(const QPoint &point, qsizetype firstRow,
                                 const CellMetrics &cell) const
{
    const qsizetype position = hitTest(firstRow, cell, point, false);
    return position < m_text.length() ? position : -1;
}
