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

// A replaced text is announced as removed with at most this many of its
// characters, so that starting afresh never copies a huge transcript.
constexpr qsizetype kAnnouncedRemoval = qsizetype{1} << 20;

class ReceiveBoxAccessible final : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    explicit ReceiveBoxAccessible(ReceiveBox *box)
        : QAccessibleWidget(box, QAccessible::EditableText)
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
        return from < to ? box()->mid(from, to - from) : QString();
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
            return {line.first, std::min(line.second, count)};
        }
        }
    }

    QString rangeText(Range range, int *startOffset, int *endOffset) const
    {
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

namespace receiveboxaccessible {

void install()
{
    static const bool installed = [] {
        QAccessible::installFactory(&factory);
        return true;
    }();
    Q_UNUSED(installed)
}

void announceReplaced(ReceiveBox *box, qsizetype oldLength)
{
    if (oldLength <= 0 || !QAccessible::isActive())
        return;
    QAccessibleTextRemoveEvent event(box, 0, box->mid(0, std::min(oldLength, kAnnouncedRemoval)));
    QAccessible::updateAccessibility(&event);
}

void announceAppended(ReceiveBox *box, qsizetype from)
{
    const qsizetype count = box->length() - from;
    if (count <= 0 || from >= std::numeric_limits<int>::max() || !QAccessible::isActive())
        return;
    QAccessibleTextInsertEvent event(
        box, accessibleOffset(from),
        box->mid(from, std::min(count, std::numeric_limits<int>::max() - from)));
    QAccessible::updateAccessibility(&event);
}

void announceSelection(ReceiveBox *box, qsizetype anchor, qsizetype caret)
{
    if (!QAccessible::isActive())
        return;
    if (anchor == caret) {
        QAccessibleTextCursorEvent event(box, accessibleOffset(caret));
        QAccessible::updateAccessibility(&event);
    } else {
        QAccessibleTextSelectionEvent event(box, accessibleOffset(std::min(anchor, caret)),
                                            accessibleOffset(std::max(anchor, caret)));
        event.setCursorPosition(accessibleOffset(caret));
        QAccessible::updateAccessibility(&event);
    }
}

} // namespace receiveboxaccessible
