// The view the receive box shows (views/View.h: TextView or HexView), asked
// for what differs between views, and the switch between them. Positions are
// character positions in every view.

#include "ReceiveBox.h"

#include "ReceiveBox_p.h"
#include "receivebox/views/HexClipboardText.h"
#include "receivebox/views/HexView.h"
#include "receivebox/views/TextView.h"

#include <QClipboard>
#include <QGuiApplication>

qsizetype ReceiveBox::Private::rowCount() const
{
    return view->rowCount();
}

LineIndex::RowColumn ReceiveBox::Private::rowColumnOf(qsizetype position) const
{
    return view->rowColumnOf(position);
}

qsizetype ReceiveBox::Private::firstShownByte() const
{
    return view->firstByteOfRow(scroller.firstRow());
}

void ReceiveBox::Private::setHexView(bool on)
{
    if (on == hexView)
        return;
    const qsizetype first = firstShownByte();
    hexView = on;
    if (on)
        view = std::make_unique<HexView>(text);
    else
        view = std::make_unique<TextView>(text);
    snapSelectionToBytes();
    scroller.placeFirstRow(view->rowOfByte(first));
    scroller.sync();
    q->viewport()->update();
    announcer.viewChanged();
    selectionMoved();
}

void ReceiveBox::Private::snapSelectionToBytes()
{
    std::tie(anchor, caret) = view->snapped(anchor, caret);
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
    return view->hitTest(scroller.firstRow(), cell, point, betweenCharacters);
}

qsizetype ReceiveBox::Private::positionAfterKey(int key, bool control, int pageRows) const
{
    return view->positionAfterKey(caret, key, control, pageRows);
}

int ReceiveBox::Private::caretCharacterColumn() const
{
    return view->caretSecondColumn(caret);
}

std::pair<qsizetype, qsizetype> ReceiveBox::Private::unitAt(qsizetype position) const
{
    return view->unitAt(position);
}

void ReceiveBox::setHexView(bool on)
{
    d->setHexView(on);
}

bool ReceiveBox::isHexView() const
{
    return d->hexView;
}
