#include "ShownText.h"

#include "ReceiveBox_p.h"

// The view shown reads itself; this adds the box's scroll and cell size.

qsizetype ShownText::length() const
{
    return ReceiveBox::Private::of(*m_box).view->readLength();
}

QString ShownText::mid(qsizetype from, qsizetype count) const
{
    return ReceiveBox::Private::of(*m_box).view->readMid(from, count);
}

AccessibleText::Range ShownText::line(qsizetype offset) const
{
    return ReceiveBox::Private::of(*m_box).view->readLine(offset);
}

AccessibleText::Range ShownText::word(qsizetype offset) const
{
    return ReceiveBox::Private::of(*m_box).view->readWord(offset);
}

qsizetype ShownText::offsetOf(qsizetype position, bool end) const
{
    return ReceiveBox::Private::of(*m_box).view->readOffsetOf(position, end);
}

qsizetype ShownText::positionAt(qsizetype offset) const
{
    return ReceiveBox::Private::of(*m_box).view->readPositionAt(offset);
}

qsizetype ShownText::arrivalOffset(qsizetype position) const
{
    return ReceiveBox::Private::of(*m_box).view->readArrivalOffset(position);
}

QRect ShownText::rect(qsizetype offset) const
{
    const ReceiveBox::Private &d = ReceiveBox::Private::of(*m_box);
    return d.view->readRect(offset, d.scroller.firstRow(), d.cell);
}

qsizetype ShownText::offsetAt(const QPoint &point) const
{
    const ReceiveBox::Private &d = ReceiveBox::Private::of(*m_box);
    return d.view->readOffsetAt(point, d.scroller.firstRow(), d.cell);
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
