#include "ReceiveBoxAccessible.h"

#include "ReceiveBox.h"

#include <QAccessible>
#include <QAccessibleWidget>

#include <algorithm>
#include <limits>
#include <utility>

namespace {

// Assistive technology counts characters in ints; a transcript longer than
// that is reachable up to there.
int accessibleOffset(qsizetype position)
{
    return static_cast<int>(std::min<qsizetype>(position, std::numeric_limits<int>::max()));
}

// Assistive technology is given at most this many characters for one
// request, and a line or word at most this many either way of the offset
// asked about: a line of many megabytes is read a stretch at a time.
constexpr qsizetype kMaxRead = qsizetype{1} << 20;
constexpr qsizetype kReach = qsizetype{1} << 16;

// A terminal, for assistive technology: read-only text to which a program's
// output is added at the end. Screen readers speak what arrives in a
// terminal that has the focus, and read the line at the caret on arriving
// there; text that merely arrives in an ordinary text box is not spoken.
class ReceiveBoxAccessible final : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    explicit ReceiveBoxAccessible(ReceiveBox *box) : QAccessibleWidget(box, QAccessible::Terminal)
    {}

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.readOnly = true;
        state.multiLine = true;
        state.selectableText = true;
        return state;
    }

    void selection(int selectionIndex, int *startOffset, int *endOffset) const override
    {
        *startOffset = *endOffset = 0;
        if (selectionIndex == 0 && selectionCount() == 1) {
            *startOffset = accessibleOffset(box()->selectionStart());
            *endOffset = accessibleOffset(box()->selectionEnd());
        }
    }

    int selectionCount() const override
    {
        return box()->selectionStart() != box()->selectionEnd() ? 1 : 0;
    }
    void addSelection(int startOffset, int endOffset) override
    {
        setSelection(0, startOffset, endOffset);
    }
    void removeSelection(int selectionIndex) override
    {
        if (selectionIndex == 0)
            box()->setSelection(box()->caretPosition(), box()->caretPosition());
    }
    void setSelection(int selectionIndex, int startOffset, int endOffset) override
    {
        if (selectionIndex == 0)
            box()->setSelection(startOffset, endOffset);
    }

    int cursorPosition() const override { return accessibleOffset(box()->caretPosition()); }
    void setCursorPosition(int position) override { box()->setSelStart(position); }

    QString text(int startOffset, int endOffset) const override
    {
        const qsizetype from = std::clamp(startOffset, 0, characterCount());
        const qsizetype to = std::clamp(endOffset, 0, characterCount());
        return from < to ? box()->mid(from, std::min(to - from, kMaxRead)) : QString();
    }

    QString text(QAccessible::Text kind) const override { return QAccessibleWidget::text(kind); }

    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundary, int *startOffset,
                         int *endOffset) const override
    {
        return rangeText(range(offset, boundary), startOffset, endOffset);
    }

    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundary, int *startOffset,
                             int *endOffset) const override
    {
        const Range at = range(offset, boundary);
        if (at.first <= 0)
            return rangeText({-1, -1}, startOffset, endOffset);
        return rangeText(range(at.first - 1, boundary), startOffset, endOffset);
    }

    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundary, int *startOffset,
                            int *endOffset) const override
    {
        const Range at = range(offset, boundary);
        if (at.second >= characterCount() || at.second <= at.first)
            return rangeText({-1, -1}, startOffset, endOffset);
        return rangeText(range(at.second, boundary), startOffset, endOffset);
    }

    int characterCount() const override { return accessibleOffset(box()->length()); }

    QRect characterRect(int offset) const override
    {
        if (offset < 0 || offset >= characterCount())
            return {};
        const QRect cell = box()->characterRect(offset);
        return {box()->viewport()->mapToGlobal(cell.topLeft()), cell.size()};
    }

    int offsetAtPoint(const QPoint &point) const override
    {
        const QPoint inViewport = box()->viewport()->mapFromGlobal(point);
        if (!box()->viewport()->rect().contains(inViewport))
            return -1;
        const qsizetype position = box()->positionAt(inViewport);
        return position < box()->length() ? accessibleOffset(position) : -1;
    }

    void scrollToSubstring(int startIndex, int endIndex) override
    {
        box()->scrollToShow(std::clamp(endIndex, 0, characterCount()));
        box()->scrollToShow(std::clamp(startIndex, 0, characterCount()));
    }

    QString attributes(int offset, int *startOffset, int *endOffset) const override
    {
        *startOffset = *endOffset = std::clamp(offset, 0, characterCount());
        return {};
    }

private:
    using Range = std::pair<qsizetype, qsizetype>;

    ReceiveBox *box() const { return static_cast<ReceiveBox *>(widget()); }

    // The piece of text of that kind holding the offset: a character, a word
    // (as a double click takes it), or a line with its line end.
    Range range(qsizetype offset, QAccessible::TextBoundaryType boundary) const
    {
        const qsizetype count = characterCount();
        if (boundary == QAccessible::NoBoundary)
            return {0, count};
        // The caret after the last character stands on the last line: a
        // screen reader reads it there (a prompt), and finds it empty after
        // a line end.
        if (offset == count && boundary != QAccessible::CharBoundary &&
            boundary != QAccessible::WordBoundary)
            return {std::max(box()->lineAt(count).first, offset - kReach), count};
        if (offset < 0 || offset >= count)
            return {count, count};
        switch (boundary) {
        case QAccessible::CharBoundary: {
            const QString two = box()->mid(offset, 2);
            const bool pair =
                two.size() == 2 && two.at(0).isHighSurrogate() && two.at(1).isLowSurrogate();
            return {offset, offset + (pair ? 2 : 1)};
        }
        case QAccessible::WordBoundary: {
            const Range word = box()->wordAt(offset);
            return word.first < word.second ? word : Range{offset, offset + 1};
        }
        default: {
            const Range line = box()->lineAt(offset);
            return {std::max(line.first, offset - kReach),
                    std::min({line.second, count, offset + kReach})};
        }
        }
    }

    QString rangeText(Range range, int *startOffset, int *endOffset) const
    {
        range.second = std::min(range.second, range.first + kMaxRead);
        *startOffset = static_cast<int>(range.first);
        *endOffset = static_cast<int>(range.second);
        return range.first < range.second ? box()->mid(range.first, range.second - range.first)
                                          : QString();
    }
};

QAccessibleInterface *factory(const QString &className, QObject *object)
{
    if (className == QLatin1String(ReceiveBox::staticMetaObject.className()))
        if (auto *box = qobject_cast<ReceiveBox *>(object))
            return new ReceiveBoxAccessible(box);
    return nullptr;
}

} // namespace

namespace platform::receiveboxaccessible {

void install()
{
    static const bool installed = [] {
        QAccessible::installFactory(&factory);
        return true;
    }();
    Q_UNUSED(installed)
}

} // namespace platform::receiveboxaccessible

ReceiveBoxAnnouncer::ReceiveBoxAnnouncer(ReceiveBox *box) : QObject(box), m_box(box)
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
    QAccessibleTextRemoveEvent event(m_box, 0, m_box->mid(0, std::min(oldLength, kAnnouncedChars)));
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
    const qsizetype length = m_box->length();
    if (m_insertedFrom >= 0 && m_insertedFrom < length &&
        m_insertedFrom < std::numeric_limits<int>::max()) {
        qsizetype from = m_insertedFrom;
        if (from < length - kAnnouncedChars) {
            // Only the newest characters, from the first line that starts
            // among them where one does: a screen reader reads them out, and
            // had better not start in the middle of a word.
            from = length - kAnnouncedChars;
            const auto [lineStart, nextLine] = m_box->lineAt(from);
            if (lineStart < from && nextLine < length)
                from = nextLine;
        }
        const qsizetype to = std::min<qsizetype>(length, std::numeric_limits<int>::max());
        QAccessibleTextInsertEvent event(m_box, accessibleOffset(from),
                                         m_box->mid(from, to - from));
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
        QAccessibleTextCursorEvent event(m_box, accessibleOffset(m_caret));
        QAccessible::updateAccessibility(&event);
    } else {
        QAccessibleTextSelectionEvent event(m_box, accessibleOffset(std::min(m_anchor, m_caret)),
                                            accessibleOffset(std::max(m_anchor, m_caret)));
        event.setCursorPosition(accessibleOffset(m_caret));
        QAccessible::updateAccessibility(&event);
    }
}
