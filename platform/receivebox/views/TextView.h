#pragma once

// The text view: the transcript's lines, wrapped at the view's width, and
// read by assistive technology as the transcript itself.

#include "View.h"

class TextView final : public View
{
public:
    using View::View;

    qsizetype rowCount() const override;
    int layRows(qsizetype firstRow, const RowColours &colours, int top, int bottom,
                RowLayout &layout, const RowSink &paintRow) const override;
    qsizetype rewrapAnchor(qsizetype row) const override;
    qsizetype rowOfPosition(qsizetype position) const override;
    qsizetype firstByteOfRow(qsizetype row) const override;
    qsizetype rowOfByte(qsizetype byte) const override;

    LineIndex::RowColumn rowColumnOf(qsizetype position) const override;
    int caretSecondColumn(qsizetype caret) const override;
    qsizetype hitTest(qsizetype firstRow, const CellMetrics &cell, const QPoint &point,
                      bool between) const override;
    qsizetype positionAfterKey(qsizetype caret, int key, bool control, int pageRows) const override;
    Range unitAt(qsizetype position) const override;
    Range snapped(qsizetype anchor, qsizetype caret) const override;

    QMimeData *copy(qsizetype from, qsizetype to) const override;
    bool searchesBytes() const override;
    QString findText(qsizetype from, qsizetype to, qsizetype longest) const override;

    qsizetype readLength() const override;
    QString readMid(qsizetype from, qsizetype count) const override;
    Range readLine(qsizetype offset) const override;
    Range readWord(qsizetype offset) const override;
    qsizetype readOffsetOf(qsizetype position, bool end) const override;
    qsizetype readPositionAt(qsizetype offset) const override;
    qsizetype readArrivalOffset(qsizetype position) const override;
    QRect readRect(qsizetype offset, qsizetype firstRow, const CellMetrics &cell) const override;
    qsizetype readOffsetAt(const QPoint &point, qsizetype firstRow,
                           const CellMetrics &cell) const override;
};
