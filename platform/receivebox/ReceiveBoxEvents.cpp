// The receive box's events: painting, resizing, scrolling, keys, the mouse
// and the wheel, the context menu, font and focus changes.

#include "ReceiveBox.h"

#include "ReceiveBox_p.h"
#include "receivebox/find/FindBar.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>

#include <tuple>

void ReceiveBox::paintEvent(QPaintEvent *event)
{
    QPainter painter(viewport());
    d->paint(painter, event->rect());
}

void ReceiveBox::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    d->updateGeometry();
    d->placeFindBar();
}

void ReceiveBox::scrollContentsBy(int, int)
{
    d->scroller.barMoved(verticalScrollBar()->value());
}

void ReceiveBox::keyPressEvent(QKeyEvent *event)
{
    if (event == QKeySequence::Copy) {
        copy();
        return;
    }
    if (event == QKeySequence::SelectAll) {
        selectAll();
        return;
    }
    const bool control = (event->modifiers() & Qt::ControlModifier) != 0;
    const bool shift = (event->modifiers() & Qt::ShiftModifier) != 0;
    // The box's own commands; the send box keeps these keys for their
    // control codes, as it has the focus then.
    if (event->keyCombination() == QKeyCombination(Qt::ControlModifier, Qt::Key_F)) {
        d->openFindBar();
        return;
    }
    if (event->keyCombination() == QKeyCombination(Qt::ControlModifier, Qt::Key_S)) {
        d->saveAs();
        return;
    }
    if (event->keyCombination() == QKeyCombination(Qt::ControlModifier, Qt::Key_L)) {
        d->setLogging(!d->logger.isLogging());
        return;
    }
    if (event->keyCombination() == QKeyCombination(Qt::ControlModifier, Qt::Key_H)) {
        setHexView(!d->hexView);
        return;
    }
    if (event->key() == Qt::Key_F3 && d->findBar && d->findBar->hasText()) {
        if (shift)
            d->findBar->findPrevious();
        else
            d->findBar->findNext();
        return;
    }
    if (event->key() == Qt::Key_Escape && d->findBar && !d->findBar->isHidden()) {
        d->findBar->dismiss();
        return;
    }
    ViewScroller &scroller = d->scroller;
    const int page = scroller.visibleRows();
    const qsizetype position = d->positionAfterKey(event->key(), control, page);
    if (position < 0) {
        event->ignore();
        return;
    }
    // A page key turns the view by a page as well as the caret.
    if (event->key() == Qt::Key_PageUp)
        scroller.setFirstRow(scroller.firstRow() - page);
    else if (event->key() == Qt::Key_PageDown)
        scroller.setFirstRow(scroller.firstRow() + page);
    d->moveCaret(position, shift);
}

void ReceiveBox::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    const qsizetype position = d->hitTest(event->position().toPoint(), true);
    if ((event->modifiers() & Qt::ShiftModifier) == 0)
        d->anchor = position;
    d->caret = position;
    d->dragging = true;
    d->selectionMoved();
}

void ReceiveBox::mouseMoveEvent(QMouseEvent *event)
{
    if (!d->dragging || (event->buttons() & Qt::LeftButton) == 0) {
        QAbstractScrollArea::mouseMoveEvent(event);
        return;
    }
    d->dragPoint = event->position().toPoint();
    d->caret = d->hitTest(d->dragPoint, true);
    const bool outside = d->dragPoint.y() < 0 || d->dragPoint.y() >= viewport()->height();
    if (outside && !d->autoScroll.isActive())
        d->autoScroll.start();
    else if (!outside)
        d->autoScroll.stop();
    d->selectionMoved();
}

void ReceiveBox::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mouseReleaseEvent(event);
        return;
    }
    d->dragging = false;
    d->autoScroll.stop();
}

void ReceiveBox::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mouseDoubleClickEvent(event);
        return;
    }
    std::tie(d->anchor, d->caret) = d->unitAt(d->hitTest(event->position().toPoint(), false));
    d->selectionMoved();
}

void ReceiveBox::wheelEvent(QWheelEvent *event)
{
    // 120 units are one notch; a notch scrolls the usual number of rows.
    d->wheelRemainder += event->angleDelta().y();
    const int notches = d->wheelRemainder / 120;
    d->wheelRemainder -= notches * 120;
    if (notches != 0)
        d->scroller.setFirstRow(d->scroller.firstRow() -
                                qsizetype{notches} * QApplication::wheelScrollLines());
    event->accept();
}

void ReceiveBox::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu *menu = createContextMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

void ReceiveBox::changeEvent(QEvent *event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        // Rows depend on the number of columns only, which updateGeometry()
        // follows.
        d->updateMetrics();
        d->updateGeometry();
        viewport()->update();
    } else if (event->type() == QEvent::PaletteChange) {
        viewport()->update();
    }
}

void ReceiveBox::focusInEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void ReceiveBox::focusOutEvent(QFocusEvent *event)
{
    d->announcer.focusLeaving();
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}
