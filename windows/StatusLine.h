#pragma once

// The status line: a label that assistive technology knows as the window's
// status bar, so that a screen reader's "read the status bar" command finds
// it. Its accessible name is its caption, and each new caption is announced:
// QLabel::setText sends QAccessible::NameChanged whenever the text changes
// and the label has no fixed accessible name, so none must be given to it.
// (Qt has no live-region role for a widget; a value-change event would be
// dropped, as a label has no value.)

#include <QLabel>

class StatusLine final : public QLabel
{
    Q_OBJECT

public:
    StatusLine(const QString &caption, QWidget *parent);
    Q_DISABLE_COPY_MOVE(StatusLine)
};
