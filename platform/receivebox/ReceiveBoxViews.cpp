// What differs between the receive box's two views, lines of text and rows
// of sixteen bytes (HexRows.h): the rows, where a position stands and what
// lies under a point, the caret keys and a double click's unit, the switch
// between them, and the hexadecimal copies. Positions are character
// positions in both.

#include "ReceiveBox.h"

#include "ReceiveBox_p.h"
#include "receivebox/views/CaretNavigation.h"
#include "receivebox/views/HexClipboardText.h"

#include <QClipboard>
#include <QGuiApplication>

using platform::hexrows::kRowBytes;

qsizetype ReceiveBox::Private::rowCount() const
{
    return hexView ? platform::hexrows::rowCount(text.store().byteCount()) : lines().rowCount();
}

LineIndex::RowColumn ReceiveBox::Private::rowColumnOf(qsizetype position) const
{
    if (!hexView)
        return lines().rowColumnOf(position);
    const platform::hexrows::RowGap at =
        platform::hexrows::rowGapOf(byteOf(position, false), text.store().byteCount());
    return {at.row, hexGeometry().gapColumn(at.gap)};
}

qsizetype ReceiveBox::Private::firstShownByte() const
{
    if (hexView)
        return scroller.firstRow() * kRowBytes;
    return byteOf(lines().rowStartPosition(scroller.firstRow()), false);
}

void ReceiveBox::Private::setHexView(bool on)
{
    if (on == hexView)
        return;
    const qsizetype first = firstShownByte();
    hexView = on;
    if (on)
        snapSelectionToBytes();
    scroller.placeFirstRow(on ? first / kRowBytes : lines().rowColumnOf(positionOfByte(first)).row);
    scroller.sync();
    q->viewport()->update();
    announcer.viewChanged();
    selectionMoved();
}

void ReceiveBox::Private::snapSelectionToBytes()
{
    if (!hexView)
        return;
    if (anchor == caret) {
        anchor = caret = positionOfByte(byteOf(caret, false));
        return;
    }
    const bool forward = anchor < caret;
    anchor = positionOfByte(byteOf(anchor, !forward));
    caret = positionOfByte(byteOf(caret, forward));
}

void ReceiveBox::Private::copyHex(bool rows) const
{
    const auto [from, to] = selectedBytes();
    if (from >= to)
        return;
    QGuiApplication::clipboard()->setMimeData(new HexClipboardText(
        text.store().share(), from, to, rows ? HexClipboardText::Rows : HexClipboardText::Pairs));
}

qsizetype ReceiveBox::Private::hitTest(const QPoint &point, bool betweenCharacters) const
{
    if (hexView)
        return positionOfByte(platform::hexrows::byteAt(hexGeometry(), text.store().byteCount(),
                                                        scroller.firstRow(), cell, point,
                                                        betweenCharacters));
    return platform::caretnavigation::positionAt(text, scroller.firstRow(), cell, point,
                                                 betweenCharacters);
}

qsizetype ReceiveBox::Private::positionAfterKey(int key, bool control, int pageRows) const
{
    if (!hexView)
        return platform::caretnavigation::positionAfterKey(text, caret, key, control, pageRows);
    const qsizetype byte = platform::hexrows::byteAfterKey(
        byteOf(caret, false), text.store().byteCount(), key, control, pageRows);
    return byte < 0 ? -1 : positionOfByte(byte);
}

int ReceiveBox::Private::caretCharacterColumn() const
{
    if (!hexView)
        return -1;
    const platform::hexrows::RowGap at =
        platform::hexrows::rowGapOf(byteOf(caret, false), text.store().byteCount());
    const platform::hexrows::Geometry geometry = hexGeometry();
    return at.gap < kRowBytes ? geometry.charColumn(at.gap) : geometry.width();
}

std::pair<qsizetype, qsizetype> ReceiveBox::Private::unitAt(qsizetype position) const
{
    if (!hexView)
        return platform::caretnavigation::wordAt(text, position);
    // A byte is the word of the hexadecimal view.
    return {position, positionOfByte(byteOf(position, false) + 1)};
}

void ReceiveBox::setHexView(bool on)
{
    d->setHexView(on);
}

bool ReceiveBox::isHexView() const
{
    return d->hexView;
}
