#include "ShownText.h"

#include "ReceiveBox_p.h"
#include "receivebox/views/HexRows.h"

#include <algorithm>

namespace hexrows = platform::hexrows;

namespace {

// The hexadecimal view's rows as one text: each row padded to the widest,
// with a line end.
struct Rows
{
    explicit Rows(const ReceiveBox::Private &d)
        : bytes(d.text.store().byteCount()), geometry(bytes), stride(geometry.width() + 1)
    {}

    qsizetype length() const { return bytes == 0 ? 0 : hexrows::rowCount(bytes) * stride - 1; }

    qsizetype bytes;
    hexrows::Geometry geometry;
    qsizetype stride;
};

} // namespace

qsizetype ShownText::length() const
{
    const ReceiveBox::Private &d = ReceiveBox::Private::of(*m_box);
    return d.hexView ? Rows(d).length() : m_box->length();
}

QString ShownText::mid(qsizetype from, qsizetype count) const
{
    const ReceiveBox::Private &d = ReceiveBox::Private::of(*m_box);
    if (!d.hexView)
        return m_box->mid(from, count);
    const Rows rows(d);
    const qsizetype to = std::min(rows.length(), from + count);
    from = std::max<qsizetype>(0, from);
    if (from >= to)
        return {};
    QString text;
    const qsizetype firstRow = from / rows.stride;
    for (qsizetype row = firstRow; row * rows.stride < to; ++row) {
        const qsizetype start = text.size();
        hexrows::appendRowText(text, d.text.store(), rows.geometry, row, 0, rows.bytes);
        text.resize(start + rows.geometry.width(), u' ');
        text.append(u'\n');
    }
    return text.mid(from - firstRow * rows.stride, to - from);
}

AccessibleText::Range ShownText::line(qsizetype offset) const
{
    const ReceiveBox::Private &d = ReceiveBox::Private::of(*m_box);
    if (!d.hexView)
        return m_box->lineAt(offset);
    const Rows rows(d);
    const qsizetype start = offset / rows.stride * rows.stride;
    return {start, std::min(rows.length(), start + rows.stride)};
}

// In the hexadecimal view a word is an offset, a pair or the characters.
AccessibleText::Range ShownText::word(qsizetype offset) const
{
    const ReceiveBox::Private &d = ReceiveBox::Private::of(*m_box);
    if (!d.hexView)
        return m_box->wordAt(offset);
    const Rows rows(d);
    const qsizetype start = offset / rows.stride * rows.stride;
    const QString row = mid(start, rows.geometry.width());
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

// In the hexadecimal view an end takes in the pair of the byte before it.
qsizetype ShownText::offsetOf(qsizetype position, bool end) const
{
    const ReceiveBox::Private &d = ReceiveBox::Private::of(*m_box);
    if (!d.hexView)
        return position;
    const Rows rows(d);
    const qsizetype byte = d.byteOf(position, false);
    if (end && byte > 0) {
        const qsizetype before = byte - 1;
        const auto index = static_cast<int>(before % hexrows::kRowBytes);
        return before / hexrows::kRowBytes * rows.stride + rows.geometry.pairColumn(index) + 2;
    }
    const hexrows::RowGap at = hexrows::rowGapOf(byte, rows.bytes);
    return at.row * rows.stride + rows.geometry.gapColumn(at.gap);
}

// In the hexadecimal view, the position of the byte an offset falls before.
qsizetype ShownText::positionAt(qsizetype offset) const
{
    const ReceiveBox::Private &d = ReceiveBox::Private::of(*m_box);
    if (!d.hexView)
        return offset;
    const Rows rows(d);
    offset = std::clamp<qsizetype>(offset, 0, rows.length());
    const qsizetype row = offset / rows.stride;
    const auto column = static_cast<int>(offset % rows.stride);
    int gap = 0;
    if (column >= rows.geometry.charColumn(0)) {
        gap = std::min<int>(column - rows.geometry.charColumn(0), hexrows::kRowBytes);
    } else {
        while (gap < hexrows::kRowBytes && rows.geometry.pairColumn(gap) < column)
            ++gap;
    }
    const qsizetype byte = std::min(rows.bytes, row * hexrows::kRowBytes + gap);
    return d.positionOfByte(byte);
}

// In the hexadecimal view what arrived is told from the start of the row it
// joins.
qsizetype ShownText::arrivalOffset(qsizetype position) const
{
    const ReceiveBox::Private &d = ReceiveBox::Private::of(*m_box);
    return d.hexView ? line(offsetOf(position, false)).first : position;
}

QRect ShownText::rect(qsizetype offset) const
{
    const ReceiveBox::Private &d = ReceiveBox::Private::of(*m_box);
    if (!d.hexView)
        return m_box->characterRect(offset);
    const Rows rows(d);
    return {static_cast<int>(offset % rows.stride) * d.cell.width,
            static_cast<int>(offset / rows.stride - d.scroller.firstRow()) * d.cell.height,
            d.cell.width, d.cell.height};
}

qsizetype ShownText::offsetAt(const QPoint &point) const
{
    const ReceiveBox::Private &d = ReceiveBox::Private::of(*m_box);
    if (!d.hexView) {
        const qsizetype position = m_box->positionAt(point);
        return position < m_box->length() ? position : -1;
    }
    const Rows rows(d);
    const qsizetype row = d.scroller.firstRow() + point.y() / d.cell.height;
    const int column = std::min(point.x() / d.cell.width, rows.geometry.width() - 1);
    const qsizetype offset = row * rows.stride + column;
    return offset < rows.length() ? offset : -1;
}

qsizetype ShownText::selectionFrom() const
{
    return m_box->selectionStart();
}

qsizetype ShownText::selectionTo() const
{
    return m_box->selectionEnd();
}

qsizetype ShownText::caret() const
{
    return m_box->caretPosition();
}

void ShownText::select(qsizetype anchor, qsizetype caret)
{
    m_box->setSelection(anchor, caret);
}

void ShownText::placeCaret(qsizetype position)
{
    m_box->setSelStart(position);
}

void ShownText::scrollToShow(qsizetype position)
{
    m_box->scrollToShow(position);
}

QWidget *ShownText::viewport() const
{
    return m_box->viewport();
}
