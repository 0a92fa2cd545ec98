#pragma once

// What a painted row is made of, shared by the two paint paths: the cells of
// one row of the transcript, their colours, and the state of the view that a
// paint reads. Every character takes one cell; a TAB takes the cells up to
// its tab stop.

#include "transcript/Transcript.h"

#include <QRgb>
#include <QSize>
#include <QtGlobal>

#include <vector>

struct Cell
{
    qsizetype position = 0;
    int column = 0; // in the row; a TAB begun on the row before starts left of 0
    int width = 1;
    char16_t ch = 0;
    bool selectable = true; // the hexadecimal view's offsets and outer blanks are not
    // A blank between two bytes' hex pairs: selected when the bytes on both
    // sides are, position being the second's.
    bool joinsPrevious = false;
};

struct CellMetrics
{
    int width = 8;
    int height = 16;
    int ascent = 12;
};

struct RowColours
{
    QRgb back = 0;
    QRgb highlight = 0;
    QRgb highlightedText = 0;
    qsizetype selFrom = 0;
    qsizetype selTo = 0;

    bool selected(qsizetype position) const { return position >= selFrom && position < selTo; }
    bool selected(const Cell &cell) const
    {
        if (cell.joinsPrevious)
            return cell.position > selFrom && cell.position < selTo;
        return cell.selectable && selected(cell.position);
    }
};

// What a paint path needs of the view.
struct ViewState
{
    const Transcript &text;
    bool hex = false; // rows of sixteen bytes (HexRows.h) instead of lines
    qsizetype firstRow = 0;
    CellMetrics cell;
    RowColours colours;
    QSize viewport;
};

// Drawn as a picture of its code, never as nothing: C0 (TAB, CR and LF never
// reach drawing), DEL and C1.
inline bool isControl(char16_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

// Walks the view rows top..bottom that hold text, handing each its line and
// the row within that line, in order; returns the first view row past the
// text (bottom + 1 when the text fills the range).
template <typename PaintRow>
int forEachTextRow(const ViewState &view, int top, int bottom, const PaintRow &paintRow)
{
    const LineIndex &lines = view.text.lines();
    if (view.firstRow + top >= lines.rowCount())
        return top;
    const LineIndex::Located located = lines.lineAtRow(view.firstRow + top);
    LineIndex::Line line = located.line;
    qsizetype rowInLine = view.firstRow + top - located.firstRow;
    for (int row = top; row <= bottom; ++row) {
        paintRow(line, rowInLine, row);
        if (++rowInLine >= lines.rowsOf(line.columns)) {
            if (!lines.nextLine(line))
                return row + 1;
            rowInLine = 0;
        }
    }
    return bottom + 1;
}

class RowLayout final
{
public:
    // Lays out one row of a line; returns the column after its last cell.
    qsizetype layout(const Transcript &text, const LineIndex::Line &line, qsizetype rowInLine);
    // Lays out a row of the hexadecimal view; the same.
    qsizetype layoutHex(const Transcript &text, qsizetype row);
    const std::vector<Cell> &cells() const { return m_cells; }

    // Foreground of a cell: its run's colour, dimmed for control pictures, or
    // the highlighted text colour. run is where the last lookup ended; cells
    // are best looked up in the order of their positions.
    static QRgb foreground(const Transcript &text, const Cell &cell, qsizetype &run,
                           const RowColours &colours);
    // Whether the row ends a line whose line end is selected (drawn as one
    // selected cell past the text).
    static bool lineEndSelected(const Transcript &text, const LineIndex::Line &line,
                                qsizetype rowInLine, const RowColours &colours);
    static qsizetype hexRowCount(const Transcript &text);

private:
    std::vector<char16_t> m_chars;
    std::vector<Cell> m_cells;
};

// Walks the view rows top..bottom that hold text, in either view, laying each
// out: paintRow(cells, the column after them, whether a selected line end
// follows, view row). Returns the first view row past the text.
template <typename PaintRow>
int forEachLaidRow(const ViewState &view, int top, int bottom, RowLayout &layout,
                   const PaintRow &paintRow)
{
    if (!view.hex)
        return forEachTextRow(
            view, top, bottom, [&](const LineIndex::Line &line, qsizetype rowInLine, int row) {
                const qsizetype end = layout.layout(view.text, line, rowInLine);
                paintRow(layout.cells(), end,
                         RowLayout::lineEndSelected(view.text, line, rowInLine, view.colours), row);
            });
    const qsizetype rows = RowLayout::hexRowCount(view.text);
    for (int row = top; row <= bottom; ++row) {
        if (view.firstRow + row >= rows)
            return row;
        const qsizetype end = layout.layoutHex(view.text, view.firstRow + row);
        paintRow(layout.cells(), end, false, row);
    }
    return bottom + 1;
}
