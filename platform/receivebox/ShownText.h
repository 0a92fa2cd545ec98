#pragma once

// What assistive technology reads of the receive box (AccessibleText): the
// text its view shown reads as (View's read*: the transcript itself, or the
// hexadecimal rows one a line), and the box's selection. Offsets here are of
// that text; the box's are character positions. Each call reads the box as
// it stands.

#include "ReceiveBox.h"
#include "receivebox/accessibility/AccessibleText.h"

class ShownText final : public AccessibleText
{
public:
    explicit ShownText(ReceiveBox *box) : m_box(box) {}
    Q_DISABLE_COPY_MOVE(ShownText)

    qsizetype length() const override;
    QString mid(qsizetype from, qsizetype count) const override;
    Range line(qsizetype offset) const override;
    Range word(qsizetype offset) const override;
    qsizetype offsetOf(qsizetype position, bool end) const override;
    qsizetype positionAt(qsizetype offset) const override;
    qsizetype arrivalOffset(qsizetype position) const override;
    QRect rect(qsizetype offset) const override;
    qsizetype offsetAt(const QPoint &point) const override;

    qsizetype selectionFrom() const override;
    qsizetype selectionTo() const override;
    qsizetype caret() const override;
    void select(qsizetype anchor, qsizetype caret) override;
    void placeCaret(qsizetype position) override;
    void scrollToShow(qsizetype position) override;
    QWidget *viewport() const override;

private:
    ReceiveBox *m_box;
};
