#pragma once

// One way of showing the transcript in rows: lines of text (TextView) or
// rows of sixteen bytes (HexView). Everything that differs between views is
// here: the rows and their layout for the painters, where a position is drawn
// and what lies under a point, the caret keys, a double click's unit, where a
// selection may end, the copy, what the find bar takes from a selection, and
// the text assistive technology reads (its own offsets, one row or line a
// line). Positions are the transcript's character positions in every view.
// The box holds one view at a time; a view is asked per row, per key or per
// request, never per character.

#include "RowLayout.h"
#include "transcript/Transcript.h"

#include <QPoint>
#include <QRect>
#include <QString>

#include <functional>
#include <utility>
#include <vector>

class QMimeData;

class View
{
public:
    using Range = std::pair<qsizetype, qsizetype>;
    // A laid-out row: its cells, the column after them, whether a selected
    // line end follows, and its view row.
    using RowSink = std::function<void(const std::vector<Cell> &, qsizetype, bool, int)>;

    explicit View(const Transcript &text) : m_text(text) {}
    virtual ~View() = default;
    Q_DISABLE_COPY_MOVE(View)

    // --- rows ---

    virtual qsizetype rowCount() const = 0;
    // Lays out the view rows top..bottom below firstRow that hold text, in
    // order, handing each to paintRow; returns the first view row past the
    // text (bottom + 1 when the text fills the range).
    virtual int layRows(qsizetype firstRow, const RowColours &colours, int top, int bottom,
                        RowLayout &layout, const RowSink &paintRow) const = 0;
    // The position a row starts at, to find it again once the rows follow a
    // new width; -1 where rows never rewrap.
    virtual qsizetype rewrapAnchor(qsizetype row) const = 0;
    virtual qsizetype rowOfPosition(qsizetype position) const = 0;
    // The first byte of a row, and the row showing a byte: what stays in
    // view across a switch of views.
    virtual qsizetype firstByteOfRow(qsizetype row) const = 0;
    virtual qsizetype rowOfByte(qsizetype byte) const = 0;

    // --- the caret and the selection ---

    // The row and column where the caret before a position is drawn.
    virtual LineIndex::RowColumn rowColumnOf(qsizetype position) const = 0;
    // Where the caret is drawn a second time (the hexadecimal view's
    // characters), or -1.
    virtual int caretSecondColumn(qsizetype caret) const = 0;
    // The position at a viewport point: the character under it, or the
    // nearest place between them.
    virtual qsizetype hitTest(qsizetype firstRow, const CellMetrics &cell, const QPoint &point,
                              bool between) const = 0;
    // The caret's place after a caret key, or -1 for any other key.
    virtual qsizetype positionAfterKey(qsizetype caret, int key, bool control,
                                       int pageRows) const = 0;
    // What a double click selects at a position.
    virtual Range unitAt(qsizetype position) const = 0;
    // The selection's ends moved to where the view lets them stand.
    virtual Range snapped(qsizetype anchor, qsizetype caret) const = 0;

    // --- copies and the find bar ---

    // What Ctrl+C puts on the clipboard for a selection; null for nothing.
    virtual QMimeData *copy(qsizetype from, qsizetype to) const = 0;
    // Whether the find bar looks for hex pairs as bytes.
    virtual bool searchesBytes() const = 0;
    // What the find bar starts with for a selection, empty when it takes
    // more than `longest` characters or more than a line.
    virtual QString findText(qsizetype from, qsizetype to, qsizetype longest) const = 0;

    // --- what assistive technology reads (AccessibleText) ---

    virtual qsizetype readLength() const = 0;
    virtual QString readMid(qsizetype from, qsizetype count) const = 0;
    virtual Range readLine(qsizetype offset) const = 0;
    virtual Range readWord(qsizetype offset) const = 0;
    virtual qsizetype readOffsetOf(qsizetype position, bool end) const = 0;
    virtual qsizetype readPositionAt(qsizetype offset) const = 0;
    // Where arrivals from a position on are told from.
    virtual qsizetype readArrivalOffset(qsizetype position) const = 0;
    virtual QRect readRect(qsizetype offset, qsizetype firstRow, const CellMetrics &cell) const = 0;
    // -1 past the text.
    virtual qsizetype readOffsetAt(const QPoint &point, qsizetype firstRow,
                                   const CellMetrics &cell) const = 0;

protected:
    const Transcript &m_text;
};

// Walks the view rows top..bottom that hold text, in the view painted,
// laying each out: paintRow(cells, the column after them, whether a selected
// line end follows, view row). Returns the first view row past the text.
template <typename PaintRow>
int forEachLaidRow(const ViewState &view, int top, int bottom, RowLayout &layout,
                   const PaintRow &paintRow)
{
    return view.rows.layRows(view.firstRow, view.colours, top, bottom, layout, paintRow);
}
