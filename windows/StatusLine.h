#pragma once

// The status line: a label that assistive technology knows as the window's
// status bar, so that a screen reader's "read the status bar" command finds
// it. Its accessible name is its caption, and each new caption is announced:
// QLabel::setText sends QAccessible::NameChanged whenever the text changes
// and the label has no fixed accessible name, so none must be given to it.
// (Qt has no live-region role for a widget; a value-change event would be
// dropped, as a label has no value.)
//
// A caption longer than the line, such as the system's description of an
// error, is drawn cut short with "…"; the caption itself stays whole, and
// shows whole as the line's tooltip.

#include <QLabel>

class StatusLine final : public QLabel
{
    Q_OBJECT

public:
    StatusLine(const QString &caption, QWidget *parent);
    Q_DISABLE_COPY_MOVE(StatusLine)

    // The caption as drawn: whole where it fits, else cut short with "…".
    QString shownText() const;

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QRect textRect() const;
};
