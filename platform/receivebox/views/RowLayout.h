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

class View;

// What a paint path needs of the view.
struct ViewState
{
    const Transcript &text;
    const View &rows; // the view shown (View.h), which lays out its rows
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

class RowLayout final
{
public:
    // Lays out one row of a line; returns the column after its last cell.
    qsizetype layout(const Transcript &text, const LineIndex::Line &line, qsizetype rowInLine);
    // Lays out a row of the hexadecimal view; the same.
    qsizetype layoutHex(const Transcript &text, qsizetype row);
    const std::vector<Cell> &cells() const { return m_cells; }

    // Foreground of a cell: the text's colour, dimmed for control pictures,
    // or the highlighted text colour.
    static QRgb foreground(const Transcript &text, const Cell &cell, const RowColours &colours);
    // Whether the row ends a line whose line end is selected (drawn as one
    // selected cell past the text).
    static bool lineEndSelected(const Transcript &text, const LineIndex::Line &line,
                                qsizetype rowInLine, const RowColours &colours);

private:
    std::vector<char16_t> m_chars;
    std::vector<Cell> m_cells;
};
