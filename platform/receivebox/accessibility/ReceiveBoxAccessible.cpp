#include "ReceiveBoxAccessible.h"

#include "receivebox/ReceiveBox.h"
#include "receivebox/ReceiveBox_p.h"
#include "receivebox/views/HexRows.h"

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

using Range = std::pair<qsizetype, qsizetype>;

// The text assistive technology reads: the transcript itself, or in the
// hexadecimal view its rows, one a line, each padded to the width of the
// widest, so that an offset's row and column are a division away. Offsets
// here are of that text; the box's are character positions.
class ShownText
{
public:
    explicit ShownText(const ReceiveBox *box)
        : m_box(box), m_hex(box->isHexView()),
          m_bytes(ReceiveBox::Private::of(*box).text.store().byteCount()), m_geometry(m_bytes),
          m_stride(m_geometry.width() + 1)
    {}

    bool hex() const { return m_hex; }

    qsizetype length() const
    {
        if (!m_hex)
            return m_box->length();
        return m_bytes == 0 ? 0 : platform::hexrows::rowCount(m_bytes) * m_stride - 1;
    }

    QString mid(qsizetype from, qsizetype count) const
    {
        if (!m_hex)
            return m_box->mid(from, count);
        const qsizetype to = std::min(length(), from + count);
        from = std::max<qsizetype>(0, from);
        if (from >= to)
            return {};
        QString rows;
        const qsizetype firstRow = from / m_stride;
        for (qsizetype row = firstRow; row * m_stride < to; ++row) {
            const qsizetype start = rows.size();
            platform::hexrows::appendRowText(rows, store(), m_geometry, row, 0, m_bytes);
            rows.resize(start + m_geometry.width(), u' ');
            rows.append(u'\n');
        }
        return rows.mid(from - firstRow * m_stride, to - from);
    }

    // The line holding an offset, with its line end.
    Range line(qsizetype offset) const
    {
        if (!m_hex)
            return m_box->lineAt(offset);
        const qsizetype start = offset / m_stride * m_stride;
        return {start, std::min(length(), start + m_stride)};
    }

    // A word: in the hexadecimal view an offset, a pair or the characters.
    Range word(qsizetype offset) const
    {
        if (!m_hex)
            return m_box->wordAt(offset);
        const qsizetype start = offset / m_stride * m_stride;
        const QString row = mid(start, m_geometry.width());
        auto i = static_cast<int>(offset - start);
        if (i >= row.size() || row.at(i) == u' ')
            return {offset, offset + 1};
        int from = i;
        int to = i;
        while (from > 0 && row.at(from - 1) != u' ')
            --from;
        while (to < row.size() && row.at(to) != u' ')
            ++to;
        return {start + from, start + to};
    }

    // The offset where a character position stands; an end takes in the
    // pair of the byte before it.
    qsizetype offsetOf(qsizetype position, bool end) const
    {
        if (!m_hex)
            return position;
        const qsizetype byte = ReceiveBox::Private::of(*m_box).byteOf(position, false);
        if (end && byte > 0) {
            const qsizetype before = byte - 1;
            const auto index = static_cast<int>(before % platform::hexrows::kRowBytes);
            return before / platform::hexrows::kRowBytes * m_stride + m_geometry.pairColumn(index) +
                   2;
        }
        const platform::hexrows::RowGap at = platform::hexrows::rowGapOf(byte, m_bytes);
        return at.row * m_stride + m_geometry.gapColumn(at.gap);
    }

    // The character position of the byte an offset falls before.
    qsizetype positionAt(qsizetype offset) const
    {
        if (!m_hex)
            return offset;
        offset = std::clamp<qsizetype>(offset, 0, length());
        const qsizetype row = offset / m_stride;
        const auto column = static_cast<int>(offset % m_stride);
        int gap = 0;
        if (column >= m_geometry.charColumn(0)) {
            gap = std::min<int>(column - m_geometry.charColumn(0), platform::hexrows::kRowBytes);
        } else {
            while (gap < platform::hexrows::kRowBytes && m_geometry.pairColumn(gap) < column)
                ++gap;
        }
        const qsizetype byte = std::min(m_bytes, row * platform::hexrows::kRowBytes + gap);
        return ReceiveBox::Private::of(*m_box).positionOfByte(byte);
    }

    // The cell of an offset, in viewport coordinates.
    QRect rect(qsizetype offset) const
    {
        if (!m_hex)
            return m_box->characterRect(offset);
        const ReceiveBox::Private &d = ReceiveBox::Private::of(*m_box);
        return {static_cast<int>(offset % m_stride) * d.cell.width,
                static_cast<int>(offset / m_stride - d.scroller.firstRow()) * d.cell.height,
                d.cell.width, d.cell.height};
    }

    // The offset of a viewport point's cell; -1 past the text.
    qsizetype offsetAt(const QPoint &point) const
    {
        if (!m_hex) {
            const qsizetype position = m_box->positionAt(point);
            return position < m_box->length() ? position : -1;
        }
        const ReceiveBox::Private &d = ReceiveBox::Private::of(*m_box);
        const qsizetype row = d.scroller.firstRow() + point.y() / d.cell.height;
        const int column = std::min(point.x() / d.cell.width, m_geometry.width() - 1);
        const qsizetype offset = row * m_stride + column;
        return offset < length() ? offset : -1;
    }

private:
    const ByteStore &store() const { return ReceiveBox::Private::of(*m_box).text.store(); }

    const ReceiveBox *m_box;
    bool m_hex;
    qsizetype m_bytes;
    platform::hexrows::Geometry m_geometry;
    qsizetype m_stride;
};

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
            const ShownText shown(box());
            *startOffset = accessibleOffset(shown.offsetOf(box()->selectionStart(), false));
            *endOffset = accessibleOffset(shown.offsetOf(box()->selectionEnd(), true));
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
        if (selectionIndex == 0) {
            const ShownText shown(box());
            box()->setSelection(shown.positionAt(startOffset), shown.positionAt(endOffset));
        }
    }

    // At the end of a selection the caret stands after its last character
    // (in the hexadecimal view, its last pair), where the selection ends.
    int cursorPosition() const override
    {
        const qsizetype caret = box()->caretPosition();
        const bool atEnd = caret == box()->selectionEnd() && caret != box()->selectionStart();
        return accessibleOffset(ShownText(box()).offsetOf(caret, atEnd));
    }
    void setCursorPosition(int position) override
    {
        box()->setSelStart(ShownText(box()).positionAt(position));
    }

    QString text(int startOffset, int endOffset) const override
    {
        const qsizetype from = std::clamp(startOffset, 0, characterCount());
        const qsizetype to = std::clamp(endOffset, 0, characterCount());
        return from < to ? ShownText(box()).mid(from, std::min(to - from, kMaxRead)) : QString();
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

    int characterCount() const override { return accessibleOffset(ShownText(box()).length()); }

    QRect characterRect(int offset) const override
    {
        if (offset < 0 || offset >= characterCount())
            return {};
        const QRect cell = ShownText(box()).rect(offset);
        return {box()->viewport()->mapToGlobal(cell.topLeft()), cell.size()};
    }

    int offsetAtPoint(const QPoint &point) const override
    {
        const QPoint inViewport = box()->viewport()->mapFromGlobal(point);
        if (!box()->viewport()->rect().contains(inViewport))
            return -1;
        const qsizetype offset = ShownText(box()).offsetAt(inViewport);
        return offset < 0 ? -1 : accessibleOffset(offset);
    }

    void scrollToSubstring(int startIndex, int endIndex) override
    {
        const ShownText shown(box());
        box()->scrollToShow(shown.positionAt(std::clamp(endIndex, 0, characterCount())));
        box()->scrollToShow(shown.positionAt(std::clamp(startIndex, 0, characterCount())));
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
    ReceiveBox *box() const { return static_cast<ReceiveBox *>(widget()); }

    // The piece of text of that kind holding the offset: a character, a word
    // (as a double click takes it), or a line with its line end.
    Range range(qsizetype offset, QAccessible::TextBoundaryType boundary) const
    {
        const ShownText shown(box());
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
        return range.first < range.second
                   ? ShownText(box()).mid(range.first, range.second - range.first)
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
    const ShownText shown(m_box);
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
    const ShownText shown(m_box);
    const qsizetype length = shown.length();
    // In the hexadecimal view what arrived is told from the start of the row
    // it joins.
    const qsizetype insertedFrom = m_insertedFrom < 0 || !shown.hex()
                                       ? m_insertedFrom
                                       : shown.line(shown.offsetOf(m_insertedFrom, false)).first;
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
