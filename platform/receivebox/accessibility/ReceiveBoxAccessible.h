#pragma once

// What assistive technology sees of the receive box: a terminal, read-only
// multi-line text, read in the ranges it asks for and never more than a
// bounded stretch at a time, through the box's public interface; and the
// announcements the box makes of its changes.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class ReceiveBox;

namespace platform::receiveboxaccessible {

// Makes the accessible interface the one assistive technology gets for every
// receive box; once per process.
void install();

} // namespace platform::receiveboxaccessible

// Tells assistive technology what changed in a box, no more than about ten
// times a second, so that a screen reader keeps up with a flood: arrivals in
// between are told as one insertion of at most kAnnouncedChars of the newest
// text (from a line's start where one lies among them), at its place in the
// text, and the caret and selection as they stand afterwards. A change after
// a quiet spell is told at once.
class ReceiveBoxAnnouncer final : public QObject
{
public:
    static constexpr qsizetype kAnnouncedChars = 4096;
    static constexpr int kIntervalMs = 100;

    explicit ReceiveBoxAnnouncer(ReceiveBox *box);
    Q_DISABLE_COPY_MOVE(ReceiveBoxAnnouncer)

    // The whole text is about to be replaced; it holds that many characters.
    // The caret is then taken to be at 0, told or not.
    void replacing(qsizetype oldLength);
    // Characters [from, the box's length) were appended.
    void appended(qsizetype from);
    // The caret or the selection may have moved; told only where they differ
    // from what was told last.
    void selectionMoved(qsizetype anchor, qsizetype caret);
    // The box switched between its text and its hexadecimal view: the
    // caret and selection are told afresh, at their places in the new text.
    void viewChanged();
    // The focus leaves the box: what waits is told now, while the box still
    // has the focus, as a screen reader speaks what arrives in a terminal
    // only then (the end of a stream, right before its close moves the focus).
    void focusLeaving();

private:
    void schedule();
    void flush();

    ReceiveBox *m_box;
    QTimer m_timer;
    QElapsedTimer m_sinceFlush;
    qsizetype m_insertedFrom = -1; // none pending
    bool m_selectionPending = false;
    qsizetype m_anchor = 0;
    qsizetype m_caret = 0;
    qsizetype m_toldAnchor = 0;
    qsizetype m_toldCaret = 0;
};
