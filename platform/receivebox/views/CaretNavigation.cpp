#include "CaretNavigation.h"

#include <QChar>

#include <algorithm>
#include <array>

namespace platform::receivebox::views::caretnavigation {

namespace {

enum class CharClass { Word, Space, Other };

CharClass classOf(char16_t c)
{
    if (c == u' ' || c == u'\t')
        return CharClass::Space;
    if (c == u'_' || QChar(c).isLetterOrNumber())
        return CharClass::Word;
    return CharClass::Other;
}

// The gap nearest to a column of a row.
qsizetype positionAtColumn(const LineIndex &lines, qsizetype row, qsizetype column)
{
    const LineIndex::Located located = lines.lineAtRow(row);
    const LineIndex::Line &line = located.line;
    const qsizetype lineColumn = (row - located.firstRow) * lines.columns() + column;
    qsizetype cellStart = 0;
    qsizetype offset = lines.offsetAtColumn(line, lineColumn, cellStart);
    if (offset < line.length && lineColumn > cellStart) {
        // Inside a TAB's cells: the nearer side of it.
        const qsizetype width = LineIndex::nextTabStop(cellStart) - cellStart;
        if ((lineColumn - cellStart) * 2 >= width)
            ++offset;
    }
    return line.start + offset;
}

// A caret never stands between the CR and the LF of a line end.
bool insideCrLf(const Transcript &text, qsizetype position)
{
    return position > 0 && position < text.length() && text.store().at(position) == u'\n' &&
           text.store().at(position - 1) == u'\r';
}

} // namespace

qsizetype positionAt(const Transcript &text, qsizetype firstRow, const CellMetrics &cell,
                     const QPoint &point, bool betweenCharacters)
{
    const LineIndex &lines = text.lines();
    const int y = point.y();
    const qsizetype rowInView = y >= 0 ? y / cell.height : -((-y + cell.height - 1) / cell.height);
    const qsizetype row = firstRow + rowInView;
    if (row < 0)
        return 0;
    if (row >= lines.rowCount())
        return text.length();
    const int x = std::max(0, point.x());
    const qsizetype columns = lines.columns();
    if (betweenCharacters)
        return positionAtColumn(lines, row,
                                std::min<qsizetype>((x + cell.width / 2) / cell.width, columns));
    const LineIndex::Located located = lines.lineAtRow(row);
    const qsizetype lineColumn =
        (row - located.firstRow) * columns + std::min<qsizetype>(x / cell.width, columns - 1);
    qsizetype cellStart = 0;
    return located.line.start + lines.offsetAtColumn(located.line, lineColumn, cellStart);
}

std::pair<qsizetype, qsizetype> wordAt(const Transcript &text, qsizetype position)
{
    const LineIndex::Line line = text.lines().lineAtPosition(position).line;
    if (position >= line.end()) {
        const qsizetype at = std::min(position, line.end());
        return {at, at};
    }
    const CharClass kind = classOf(text.store().at(position));
    if (kind == CharClass::Other)
        return {position, position + 1};
    // Read a piece at a time, never further than the bound.
    std::array<char16_t, 4096> piece;
    const auto pieceSize = static_cast<qsizetype>(piece.size());
    qsizetype from = position;
    const qsizetype lowest = std::max(line.start, position - kWordBound);
    for (bool more = true; more && from > lowest;) {
        const qsizetype take = std::min(pieceSize, from - lowest);
        text.store().copy(from - take, take, piece.data());
        qsizetype i = take;
        while (i > 0 && classOf(piece[static_cast<std::size_t>(i - 1)]) == kind)
            --i;
        more = i == 0;
        from -= take - i;
    }
    qsizetype to = position + 1;
    const qsizetype highest = std::min(line.end(), position + 1 + kWordBound);
    for (bool more = true; more && to < highest;) {
        const qsizetype take = std::min(pieceSize, highest - to);
        text.store().copy(to, take, piece.data());
        qsizetype i = 0;
        while (i < take && classOf(piece[static_cast<std::size_t>(i)]) == kind)
            ++i;
        more = i == take;
        to += i;
    }
    return {from, to};
}

qsizetype positionAfterKey(const Transcript &text, qsizetype caret, int key, bool control,
                           int pageRows)
{
    const LineIndex &lines = text.lines();
    const qsizetype length = text.length();
    const LineIndex::RowColumn at = lines.rowColumnOf(caret);
    const qsizetype lastRow = lines.rowCount() - 1;
    auto toRow = [&](qsizetype row) {
        if (row < 0)
            return qsizetype{0};
        if (row > lastRow)
            return length;
        return positionAtColumn(lines, row, at.column);
    };
    switch (key) {
    case Qt::Key_Left:
        if (caret == 0)
            return 0;
        return insideCrLf(text, caret - 1) ? caret - 2 : caret - 1;
    case Qt::Key_Right:
        if (caret >= length)
            return length;
        return insideCrLf(text, caret + 1) ? caret + 2 : caret + 1;
    case Qt::Key_Up:
        return toRow(at.row - 1);
    case Qt::Key_Down:
        return toRow(at.row + 1);
    case Qt::Key_PageUp:
        return toRow(at.row - pageRows);
    case Qt::Key_PageDown:
        return toRow(at.row + pageRows);
    case Qt::Key_Home:
        return control ? 0 : lines.rowStartPosition(at.row);
    case Qt::Key_End: {
        if (control)
            return length;
        const LineIndex::Located located = lines.lineAtPosition(caret);
        if (at.row + 1 >= located.firstRow + lines.rowsOf(located.line.columns))
            return located.line.end();
        // A wrapped row: before its last character, which the next row's
        // start would show on that row instead.
        return std::max(lines.rowStartPosition(at.row), lines.rowStartPosition(at.row + 1) - 1);
    }
    default:
        return -1;
    }
}

} // namespace platform::receivebox::views::caretnavigation
