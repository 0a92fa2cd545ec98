#include "ReceiveBoxAnnouncer.h"

#include "AccessibleText.h"

#include <QAccessible>

#include <algorithm>
#include <limits>

namespace {

// Assistive technology counts characters in ints.
int accessibleOffset(qsizetype position)
{
    return static_cast<int>(std::min<qsizetype>(position, std::numeric_limits<int>::max()));
}

} // namespace

ReceiveBoxAnnouncer::ReceiveBoxAnnouncer(QObject *box, const AccessibleText *text)
    : QObject(box), m_box(box), m_text(text)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &ReceiveBoxAnnouncer::flush);
}

void ReceiveBoxAnnouncer::replacing(qsizetype oldLength)
{
    if (QAccessible::isActive()) {
        // What is pending is told first, so that the removal's offsets match
        // what the listener was told.
        flush();
    }
    m_toldAnchor = m_toldCaret = 0;
    if (oldLength <= 0 || !QAccessible::isActive())
        return;
    const AccessibleText &shown = *m_text;
    QAccessibleTextRemoveEvent event(m_box, 0,
                                     shown.mid(0, std::min(shown.length(), kAnnouncedChars)));
    QAccessible::updateAccessibility(&event);
}

void ReceiveBoxAnnouncer::appended(qsizetype from)
{
    if (!QAccessible::isActive())
        return;
    if (m_insertedFrom < 0 || from < m_insertedFrom)
        m_insertedFrom = from;
    schedule();
}

void ReceiveBoxAnnouncer::selectionMoved(qsizetype anchor, qsizetype caret)
{
    if (!QAccessible::isActive() ||
        (!m_selectionPending && anchor == m_toldAnchor && caret == m_toldCaret))
        return;
    m_anchor = anchor;
    m_caret = caret;
    m_selectionPending = true;
    schedule();
}

void ReceiveBoxAnnouncer::viewChanged()
{
    if (!QAccessible::isActive())
        return;
    flush();
    m_toldAnchor = m_toldCaret = -1;
}

void ReceiveBoxAnnouncer::focusLeaving()
{
    if (m_timer.isActive())
        flush();
}

void ReceiveBoxAnnouncer::schedule()
{
    if (!m_sinceFlush.isValid() || m_sinceFlush.elapsed() >= kIntervalMs)
        flush();
    else if (!m_timer.isActive())
        m_timer.start(static_cast<int>(kIntervalMs - m_sinceFlush.elapsed()));
}

void ReceiveBoxAnnouncer::flush()
{
    m_timer.stop();
    m_sinceFlush.start();
    const AccessibleText &shown = *m_text;
    const qsizetype length = shown.length();
    const qsizetype insertedFrom =
        m_insertedFrom < 0 ? m_insertedFrom : shown.arrivalOffset(m_insertedFrom);
    if (insertedFrom >= 0 && insertedFrom < length &&
        insertedFrom < std::numeric_limits<int>::max()) {
        qsizetype from = insertedFrom;
        if (from < length - kAnnouncedChars) {
            // Only the newest characters, from the first line that starts
            // among them where one does: a screen reader reads them out, and
            // had better not start in the middle of a word.
            from = length - kAnnouncedChars;
            const auto [lineStart, nextLine] = shown.line(from);
            if (lineStart < from && nextLine < length)
                from = nextLine;
        }
        const qsizetype to = std::min<qsizetype>(length, std::numeric_limits<int>::max());
        QAccessibleTextInsertEvent event(m_box, accessibleOffset(from), shown.mid(from, to - from));
        QAccessible::updateAccessibility(&event);
    }
    m_insertedFrom = -1;
    if (!m_selectionPending)
        return;
    m_selectionPending = false;
    if (m_anchor == m_toldAnchor && m_caret == m_toldCaret)
        return;
    m_toldAnchor = m_anchor;
    m_toldCaret = m_caret;
    if (m_anchor == m_caret) {
        QAccessibleTextCursorEvent event(m_box, accessibleOffset(shown.offsetOf(m_caret, false)));
        QAccessible::updateAccessibility(&event);
    } else {
        const qsizetype from = shown.offsetOf(std::min(m_anchor, m_caret), false);
        const qsizetype to = shown.offsetOf(std::max(m_anchor, m_caret), true);
        QAccessibleTextSelectionEvent event(m_box, accessibleOffset(from), accessibleOffset(to));
        event.setCursorPosition(accessibleOffset(m_caret < m_anchor ? from : to));
        QAccessible::updateAccessibility(&event);
    }
}
