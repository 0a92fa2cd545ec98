#pragma once

// The hexadecimal view's rows, sixteen bytes each:
//
//   00000000  48 6f 6c 61 0d 0a 00 ff  80 81 41 42 43 44 45 46  Hola...ÿ€.ABCDEF
//
// the offset of the row's first byte, the bytes as hex pairs in two groups
// of eight, and the bytes as the box's characters, a dot standing for a
// control byte or a NUL. Every row has the width of the longest offset, so
// that the columns line up: eight digits up to 4 GiB, more past it. A row's
// place and content follow from its offset alone; nothing is kept per row.
//
// The caret stands between bytes: gap g of a row is before its byte g, gap 16
// after its last byte (only the end of a transcript whose last row is full
// stands there; elsewhere it is the next row's gap 0).

#include "RowLayout.h"
#include "transcript/ByteStore.h"

#include <QPoint>
#include <QString>

#include <vector>

namespace platform::receivebox::views::hexrows {

constexpr qsizetype kRowBytes = 16;

class Geometry
{
public:
    // For a transcript of that many bytes.
    explicit Geometry(qsizetype byteCount);

    int offsetDigits() const { return m_digits; }
    // Columns of a byte's hex pair and of its character, byte 0..15 of a row.
    int pairColumn(int index) const { return m_digits + 2 + 3 * index + (index >= 8 ? 1 : 0); }
    int charColumn(int index) const { return m_digits + 52 + index; }
    // Column of a gap 0..16 in the hex pairs: the left edge of the pair after
    // it, or the right edge of the last.
    int gapColumn(int gap) const { return gap < kRowBytes ? pairColumn(gap) : pairColumn(15) + 2; }
    int width() const { return charColumn(15) + 1; }

private:
    int m_digits = 8;
};

// Rows of the transcript: at least one, the empty one of an empty text.
qsizetype rowCount(qsizetype byteCount);

// The row and gap where the caret before that byte is drawn.
struct RowGap
{
    qsizetype row = 0;
    int gap = 0;
};
RowGap rowGapOf(qsizetype byte, qsizetype byteCount);

// The byte a character position falls in, or, rounding up, the first byte
// whose characters start at or after it.
qsizetype byteOf(const ByteStore &store, qsizetype position, bool roundUp);

// Lays out a row as cells: the offset and the blanks are not selectable, a
// byte's pair and character carry the byte's character position.
void layoutRow(std::vector<Cell> &cells, const ByteStore &store, const Geometry &geometry,
               qsizetype row);

// The row as shown, without its line end, bytes outside [fromByte, toByte)
// left blank and the blanks after the last one shown left out.
void appendRowText(QString &out, const ByteStore &store, const Geometry &geometry, qsizetype row,
                   qsizetype fromByte, qsizetype toByte);
// Length of that text, without reading the bytes.
qsizetype rowTextLength(const Geometry &geometry, qsizetype row, qsizetype toByte);

// The byte at a viewport point of a view whose first row is firstRow: the one
// under it, or with betweenBytes the nearest gap, from the hex pairs or the
// characters, whichever the point is nearer.
qsizetype byteAt(const Geometry &geometry, qsizetype byteCount, qsizetype firstRow,
                 const CellMetrics &cell, const QPoint &point, bool betweenBytes);

// The caret's byte after a caret key, or -1 for any other key: as in the text
// view, by bytes, rows of sixteen and pages of rows.
qsizetype byteAfterKey(qsizetype byte, qsizetype byteCount, int key, bool control, int pageRows);

// Bytes [from, to) as hex pairs separated by blanks: "48 6f 6c 61".
void appendPairs(QString &out, const ByteStore &store, qsizetype from, qsizetype to);

// A hex digit, lowercase as the view shows it.
inline char16_t hexDigit(unsigned value)
{
    return u"0123456789abcdef"[value & 15];
}

} // namespace platform::receivebox::views::hexrows
