#pragma once

// The status line: a label that assistive technology knows as the window's
// status bar, so that a screen reader's "read the status bar" command finds
// it. Its accessible name is its caption: QLabel::setText sends
// QAccessible::NameChanged whenever the text changes and the label has no
// fixed accessible name, so none must be given to it.
//
// A screen reader speaks a name change only of the object that has the
// focus, and the focus is never here: so each new caption is also told
// through one of the line's notices, objects of the notification role, shown
// with it. Screen readers speak a notification that shows, wherever the
// focus is, without stopping what they are saying. A screen reader that is
// behind may drop an event when a newer one of the same kind from the same
// object waits: the notices take turns, so that captions changing in quick
// succession ("Conectando..." and a refusal) are each told. (Qt has no
// live-region role for a widget, and its announcement event is newer than
// the Qt we build with.)
//
// A caption longer than the line, such as the system's description of an
// error, is drawn cut short with "…"; the caption itself stays whole, and
// shows whole as the line's tooltip.

#include <QLabel>

#include <array>
#include <cstddef>

class StatusLine final : public QLabel
{
    Q_OBJECT

public:
    // Shows no caption until its owner sets the first.
    explicit StatusLine(QWidget *parent);
    Q_DISABLE_COPY_MOVE(StatusLine)

    // The caption as drawn: whole where it fits, else cut short with "…".
    QString shownText() const;

    // Tells assistive technology of the caption now shown, once: the next
    // notice shows with it as its name. Called after each change of the
    // caption.
    void announce();
    // The objects assistive technology knows as the line's notices, its
    // accessible children; a few, so that each is told again only after the
    // screen reader has long caught up.
    const std::array<QObject *, 4> &notices() const { return m_notices; }

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QRect textRect() const;

    std::array<QObject *, 4> m_notices{};
    std::size_t m_nextNotice = 0;
};
