#pragma once

// Tells assistive technology what changed in a box, no more than about ten
// times a second, so that a screen reader keeps up with a flood: arrivals in
// between are told as one insertion of at most kAnnouncedChars of the newest
// text (from a line's start where one lies among them), at its place in the
// text, and the caret and selection as they stand afterwards. A change after
// a quiet spell is told at once.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class AccessibleText;

class ReceiveBoxAnnouncer final : public QObject
{
public:
    static constexpr qsizetype kAnnouncedChars = 4096;
    static constexpr int kIntervalMs = 100;

    // The events name the box; what they say is read from its text.
    ReceiveBoxAnnouncer(QObject *box, const AccessibleText *text);
    Q_DISABLE_COPY_MOVE(ReceiveBoxAnnouncer)

    // The whole text is about to be replaced; it holds that many characters.
    // The caret is then taken to be at 0, told or not.
    void replacing(qsizetype oldLength);
    // Characters [from, the box's length) were appended.
    void appended(qsizetype from);
    // The caret or the selection may have moved; told only where they differ
    // from what was told last.
    void selectionMoved(qsizetype anchor, qsizetype caret);
    // The box switched between its views: the caret and selection are told
    // afresh, at their places in the new text.
    void viewChanged();
    // The focus leaves the box: what waits is told now, while the box still
    // has the focus, as a screen reader speaks what arrives in a terminal
    // only then (the end of a stream, right before its close moves the focus).
    void focusLeaving();

private:
    void schedule();
    void flush();

    QObject *m_box;
    const AccessibleText *m_text;
    QTimer m_timer;
    QElapsedTimer m_sinceFlush;
    qsizetype m_insertedFrom = -1; // none pending
    bool m_selectionPending = false;
    qsizetype m_anchor = 0;
    qsizetype m_caret = 0;
    qsizetype m_toldAnchor = 0;
    qsizetype m_toldCaret = 0;
};
