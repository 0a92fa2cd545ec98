#include "RowLayout.h"

#include "HexRows.h"

#include <QColor>

#include <algorithm>

namespace {

QColor mix(const QColor &a, const QColor &b, qreal share)
{
    return QColor::fromRgbF(static_cast<float>(a.redF() * share + b.redF() * (1 - share)),
                            static_cast<float>(a.greenF() * share + b.greenF() * (1 - share)),
                            static_cast<float>(a.blueF() * share + b.blueF() * (1 - share)));
}

} // namespace

qsizetype RowLayout::layout(const Transcript &text, const LineIndex::Line &line,
                            qsizetype rowInLine)
{
    const LineIndex &lines = text.lines();
    const qsizetype columns = lines.columns();
    const qsizetype rowColumn = rowInLine * columns;
    qsizetype cellStart = 0;
    const qsizetype offset = lines.offsetAtColumn(line, rowColumn, cellStart);
    const qsizetype count = std::min<qsizetype>(line.length - offset, columns + 1);
    m_chars.resize(static_cast<std::size_t>(count));
    if (count > 0)
        text.store().copy(line.start + offset, count, m_chars.data());
    m_cells.clear();
    qsizetype column = cellStart - rowColumn;
    for (qsizetype i = 0; i < count && column < columns; ++i) {
        const char16_t c = m_chars[static_cast<std::size_t>(i)];
        const qsizetype width =
            c == u'\t' ? LineIndex::nextTabStop(column + rowColumn) - column - rowColumn : 1;
        m_cells.push_back(
            Cell{line.start + offset + i, static_cast<int>(column), static_cast<int>(width), c});
        column += width;
    }
    return column;
}

qsizetype RowLayout::layoutHex(const Transcript &text, qsizetype row)
{
    const platform::receivebox::views::hexrows::Geometry geometry(text.store().byteCount());
    platform::receivebox::views::hexrows::layoutRow(m_cells, text.store(), geometry, row);
    return m_cells.empty() ? 0 : m_cells.back().column + m_cells.back().width;
}

QRgb RowLayout::foreground(const Transcript &text, const Cell &cell, const RowColours &colours)
{
    if (colours.selected(cell))
        return colours.highlightedText;
    const QRgb rgb = text.colour();
    if (isControl(cell.ch))
        return mix(QColor::fromRgb(rgb), QColor::fromRgb(colours.back), 0.6).rgb();
    return rgb;
}

bool RowLayout::lineEndSelected(const Transcript &text, const LineIndex::Line &line,
                                qsizetype rowInLine, const RowColours &colours)
{
    return rowInLine + 1 >= text.lines().rowsOf(line.columns) && line.terminator > 0 &&
           line.end() >= colours.selFrom && line.end() < colours.selTo;
}
