#include "ReceiveBoxAccessible.h"

#include "AccessibleText.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QWidget>

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

using Range = AccessibleText::Range;

// A terminal, for assistive technology: read-only text to which a program's
// output is added at the end. Screen readers speak what arrives in a
// terminal that has the focus, and read the line at the caret on arriving
// there; text that merely arrives in an ordinary text box is not spoken.
class ReceiveBoxAccessible final : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    ReceiveBoxAccessible(QWidget *box, AccessibleText *text)
        : QAccessibleWidget(box, QAccessible::Terminal), m_text(text)
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
            *startOffset = accessibleOffset(m_text->offsetOf(m_text->selectionFrom(), false));
            *endOffset = accessibleOffset(m_text->offsetOf(m_text->selectionTo(), true));
        }
    }

    int selectionCount() const override
    {
        return m_text->selectionFrom() != m_text->selectionTo() ? 1 : 0;
    }
    void addSelection(int startOffset, int endOffset) override
    {
        setSelection(0, startOffset, endOffset);
    }
    void removeSelection(int selectionIndex) override
    {
        if (selectionIndex == 0)
            m_text->select(m_text->caret(), m_text->caret());
    }
    void setSelection(int selectionIndex, int startOffset, int endOffset) override
    {
        if (selectionIndex == 0)
            m_text->select(m_text->positionAt(startOffset), m_text->positionAt(endOffset));
    }

    // At the end of a selection the caret stands after its last character
    // (in the hexadecimal view, its last pair), where the selection ends.
    int cursorPosition() const override
    {
        const qsizetype caret = m_text->caret();
        const bool atEnd = caret == m_text->selectionTo() && caret != m_text->selectionFrom();
        return accessibleOffset(m_text->offsetOf(caret, atEnd));
    }
    void setCursorPosition(int position) override
    {
        m_text->placeCaret(m_text->positionAt(position));
    }

    QString text(int startOffset, int endOffset) const override
    {
        const qsizetype from = std::clamp(startOffset, 0, characterCount());
        const qsizetype to = std::clamp(endOffset, 0, characterCount());
        return from < to ? m_text->mid(from, std::min(to - from, kMaxRead)) : QString();
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

    int characterCount() const override { return accessibleOffset(m_text->length()); }

    QRect characterRect(int offset) const override
    {
        if (offset < 0 || offset >= characterCount())
            return {};
        const QRect cell = m_text->rect(offset);
        return {m_text->viewport()->mapToGlobal(cell.topLeft()), cell.size()};
    }

    int offsetAtPoint(const QPoint &point) const override
    {
        const QPoint inViewport = m_text->viewport()->mapFromGlobal(point);
        if (!m_text->viewport()->rect().contains(inViewport))
            return -1;
        const qsizetype offset = m_text->offsetAt(inViewport);
        return offset < 0 ? -1 : accessibleOffset(offset);
    }

    void scrollToSubstring(int startIndex, int endIndex) override
    {
        m_text->scrollToShow(m_text->positionAt(std::clamp(endIndex, 0, characterCount())));
        m_text->scrollToShow(m_text->positionAt(std::clamp(startIndex, 0, characterCount())));
    }

    // The whole text is one run without attributes. A screen reader walks
    // the runs of a line to pick a voice per language: an empty run at each
    // offset would leave it one character short of the line.
    QString attributes(int offset, int *startOffset, int *endOffset) const override
    {
        Q_UNUSED(offset)
        *startOffset = 0;
        *endOffset = characterCount();
        return {};
    }

private:
    AccessibleText *m_text;

    // The piece of text of that kind holding the offset: a character, a word
    // (as a double click takes it), or a line with its line end.
    Range range(qsizetype offset, QAccessible::TextBoundaryType boundary) const
    {
        const AccessibleText &shown = *m_text;
        const qsizetype count = characterCount();
        if (boundary == QAccessible::NoBoundary)
            return {0, count};
        // The caret after the last character stands on the last line: a
        // screen reader reads it there (a prompt), and finds it empty after
        // a line end.
        if (offset == count && boundary != QAccessible::CharBoundary &&
            boundary != QAccessible::WordBoundary)
            return {std::max(shown.line(count).first, offset - kReach), count};
        if (offset < 0 || offset >= count)
            return {count, count};
        switch (boundary) {
        case QAccessible::CharBoundary: {
            const QString two = shown.mid(offset, 2);
            const bool pair =
                two.size() == 2 && two.at(0).isHighSurrogate() && two.at(1).isLowSurrogate();
            return {offset, offset + (pair ? 2 : 1)};
        }
        case QAccessible::WordBoundary: {
            const Range word = shown.word(offset);
            return word.first < word.second ? word : Range{offset, offset + 1};
        }
        default: {
            const Range line = shown.line(offset);
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
        return range.first < range.second ? m_text->mid(range.first, range.second - range.first)
                                          : QString();
    }
};

const QMetaObject *g_boxClass = nullptr;
platform::receivebox::accessibility::TextOf g_textOf = nullptr;

QAccessibleInterface *factory(const QString &className, QObject *object)
{
    if (g_boxClass == nullptr || className != QLatin1String(g_boxClass->className()) ||
        !object->isWidgetType())
        return nullptr;
    AccessibleText *text = g_textOf(object);
    return text ? new ReceiveBoxAccessible(static_cast<QWidget *>(object), text) : nullptr;
}

} // namespace

namespace platform::receivebox::accessibility {

void install(const QMetaObject &boxClass, TextOf textOf)
{
    static const bool installed = [&] {
        g_boxClass = &boxClass;
        g_textOf = textOf;
        QAccessible::installFactory(&factory);
        return true;
    }();
    Q_UNUSED(installed)
}

} // namespace platform::receivebox::accessibility
