#include "LineIndex.h"

#include "ByteScan.h"
#include "NulText.h"

#include <algorithm>
#include <array>

using platform::transcript::bytescan::ix;

namespace {

constexpr qsizetype kGroupLines = 256;

// A line holding a TAB keeps the column of every 1024th character once it is
// longer than that, so finding a column in it scans at most 1024 characters.
constexpr int kCheckpointBits = 10;
constexpr qsizetype kCheckpointChars = qsizetype{1} << kCheckpointBits;

// A record's head is (length << 3) | (terminator << 1) | hasTab, terminator 1
// or 2. The head 6 (terminator 3) marks a run instead: the next byte counts
// the lines after the record before it that are alike.
constexpr quint64 kRunHead = 6;
constexpr quint8 kMaxRun = 255;

quint32 saturated(qsizetype value)
{
    return value > qsizetype{0xFFFFFFFF} ? 0xFFFFFFFFu : static_cast<quint32>(value);
}

// The bytes the index reads, with their table; a NUL is the characters of
// platform::transcript::kNulText.
struct ByteUnits
{
    const quint8 *bytes;
    qsizetype size;
    const char16_t *table;
    bool hasNul;
    bool plainShaping;
    const quint64 *marks;

    char16_t operator[](qsizetype i) const { return bytes[i] == 0 ? u'\\' : table[bytes[i]]; }
    qsizetype findLineShaping(qsizetype from) const
    {
        if (plainShaping)
            return platform::transcript::bytescan::findMarked(marks, from, size);
        for (qsizetype i = from; i < size; ++i) {
            if (bytes[i] != 0 && platform::transcript::bytescan::shapesLine(table[bytes[i]]))
                return i;
        }
        return size;
    }
    qsizetype characters(qsizetype from, qsizetype to) const
    {
        return hasNul ? to - from +
                            platform::transcript::kNulExtraChars *
                                platform::transcript::bytescan::countNuls(bytes + from, to - from)
                      : to - from;
    }
};

} // namespace

LineIndex::LineIndex(const ByteStore &store) : m_store(store) {}

void LineIndex::clear()
{
    m_records.clear();
    m_groups.clear();
    m_groups.shrink_to_fit();
    m_tabLines.clear();
    m_tabLines.shrink_to_fit();
    m_tail = Tail{};
    m_openCheckpoints.clear();
}

void LineIndex::appendBytes(const quint8 *bytes, qsizetype count, bool hasNul, const quint64 *marks)
{
    if (count > 0)
        index(ByteUnits{bytes, count, m_store.table().data(), hasNul, m_store.plainLineShaping(),
                        marks});
}

template <typename Units> void LineIndex::index(const Units &p)
{
    const qsizetype n = p.size;
    qsizetype i = 0;
    if (m_tail.pendingCr) {
        m_tail.pendingCr = false;
        if (p[0] == u'\n') {
            joinCrLf();
            i = 1;
        }
    }
    while (i < n) {
        const qsizetype j = p.findLineShaping(i);
        if (j > i)
            extendOpenLine(p.characters(i, j));
        if (j == n)
            break;
        const char16_t c = p[j];
        if (c == u'\t') {
            addTab();
            i = j + 1;
        } else if (c == u'\n') {
            closeLine(1, true);
            i = j + 1;
        } else if (j + 1 < n) {
            const bool crLf = p[j + 1] == u'\n';
            closeLine(crLf ? 2 : 1, true);
            i = j + (crLf ? 2 : 1);
        } else {
            // Its record may yet become CR LF: it heads no run.
            closeLine(1, false);
            m_tail.pendingCr = true;
            i = j + 1;
        }
    }
}

// Out of line, so that extendOpenLine() stays small enough to inline.
Q_NEVER_INLINE void LineIndex::addCheckpoints(qsizetype count)
{
    auto k = static_cast<qsizetype>(m_openCheckpoints.size());
    for (; (k << kCheckpointBits) < m_tail.openLength + count; ++k)
        m_openCheckpoints.push_back(m_tail.openColumns + (k << kCheckpointBits) -
                                    m_tail.openLength);
}

void LineIndex::addTab()
{
    if (!m_tail.openHasTab) {
        m_tail.openHasTab = true;
        // No TAB before: columns were characters.
        for (qsizetype k = 0; (k << kCheckpointBits) < m_tail.openLength; ++k)
            m_openCheckpoints.push_back(k << kCheckpointBits);
    }
    if ((m_tail.openLength & (kCheckpointChars - 1)) == 0)
        m_openCheckpoints.push_back(m_tail.openColumns);
    m_tail.openColumns = nextTabStop(m_tail.openColumns);
    ++m_tail.openLength;
}

void LineIndex::closeLine(int terminator, bool mayJoinRun)
{
    const quint64 head = (quint64(m_tail.openLength) << 3) | (quint64(terminator) << 1) |
                         (m_tail.openHasTab ? 1u : 0u);
    const bool alike = mayJoinRun && !m_tail.openHasTab && head == m_tail.lastHead;
    qsizetype skip = 0;
    if (alike && m_tail.repeatAt >= 0 && m_records.byteAt(m_tail.repeatAt) < kMaxRun) {
        skip = m_records.byteAt(m_tail.repeatAt) + 1;
        m_records.setByte(m_tail.repeatAt, static_cast<quint8>(skip));
    } else if (alike && m_tail.repeatAt < 0 && m_tail.sameCount >= 2) {
        // Two records alike in a row: the third line starts a run.
        m_records.push(kRunHead);
        m_tail.repeatAt = m_records.size();
        m_records.pushByte(1);
        skip = 1;
    } else {
        m_tail.sameCount = alike && m_tail.repeatAt < 0 ? m_tail.sameCount + 1 : 1;
        m_tail.repeatAt = -1;
        m_tail.lastRecord = m_records.size();
        m_tail.lastHead = m_tail.openHasTab || !mayJoinRun ? 0 : head;
        m_records.push(head);
        if (m_tail.openHasTab)
            m_records.push(quint64(m_tail.openColumns - m_tail.openLength));
    }
    if (m_tail.closedLines % kGroupLines == 0) {
        Group group;
        group.start = m_tail.openStart;
        group.record = m_tail.lastRecord;
        group.skip = static_cast<quint8>(skip);
        group.rowsBefore = m_tail.closedRows;
        m_groups.push_back(group);
    }
    Group &group = m_groups.back();
    group.maxColumns = std::max(group.maxColumns, saturated(m_tail.openColumns));
    m_tail.closedRows += rowsOf(m_tail.openColumns);
    if (m_tail.openHasTab && m_openCheckpoints.size() > 1) {
        // The place first: were it moved into a TabLine that failed to find
        // room, the checkpoints would be gone.
        m_tabLines.emplace_back();
        m_tabLines.back().line = m_tail.closedLines;
        m_tabLines.back().checkpoints = std::move(m_openCheckpoints);
    }
    ++m_tail.closedLines;
    m_tail.openStart += m_tail.openLength + terminator;
    m_tail.openLength = 0;
    m_tail.openColumns = 0;
    m_tail.openHasTab = false;
    m_openCheckpoints.clear();
}

// A LF right after a line closed by a CR at the end of the last piece: the
// two are one terminator. That line has a record of its own (it joined no
// run), whose size does not change, since only its low bits do.
void LineIndex::joinCrLf()
{
    const quint8 byte = m_records.byteAt(m_tail.lastRecord);
    m_records.setByte(m_tail.lastRecord, static_cast<quint8>((byte & ~0x06u) | (2u << 1)));
    qsizetype at = m_tail.lastRecord;
    const quint64 head = m_records.read(at);
    m_tail.lastHead = (head & 1) != 0 ? 0 : head;
    ++m_tail.openStart;
}

LineIndex::Mark LineIndex::mark() const
{
    Mark mark;
    mark.tail = m_tail;
    mark.openCheckpoints = m_openCheckpoints.size();
    mark.records = m_records.size();
    if (m_tail.lastRecord < m_records.size())
        mark.lastRecordByte = m_records.byteAt(m_tail.lastRecord);
    if (m_tail.repeatAt >= 0)
        mark.repeatByte = m_records.byteAt(m_tail.repeatAt);
    mark.groups = m_groups.size();
    if (!m_groups.empty())
        mark.lastGroupMaxColumns = m_groups.back().maxColumns;
    mark.tabLines = m_tabLines.size();
    return mark;
}

void LineIndex::rollBack(const Mark &mark)
{
    const Tail &tail = mark.tail;
    if (m_tail.closedLines != tail.closedLines && m_tabLines.size() > mark.tabLines) {
        // The line open at the mark has closed since. Its checkpoints are in
        // the first TAB line after the mark if it took them; if not, it had
        // one at most, the column 0 that every TAB line starts with, and any
        // TAB line since has room for it.
        m_openCheckpoints = std::move(m_tabLines[mark.tabLines].checkpoints);
    }
    // Checkpoints are only added while a line is open, and a line that gave
    // none away kept the room for the ones it had.
    m_openCheckpoints.resize(mark.openCheckpoints);
    m_tabLines.erase(m_tabLines.begin() + static_cast<std::ptrdiff_t>(mark.tabLines),
                     m_tabLines.end());
    m_groups.erase(m_groups.begin() + static_cast<std::ptrdiff_t>(mark.groups), m_groups.end());
    if (!m_groups.empty())
        m_groups.back().maxColumns = mark.lastGroupMaxColumns;
    m_records.truncate(mark.records);
    if (tail.lastRecord < mark.records)
        m_records.setByte(tail.lastRecord, mark.lastRecordByte);
    if (tail.repeatAt >= 0)
        m_records.setByte(tail.repeatAt, mark.repeatByte);
    m_tail = tail;
}

LineIndex::Line LineIndex::openLine() const
{
    Line line;
    line.index = m_tail.closedLines;
    line.start = m_tail.openStart;
    line.length = m_tail.openLength;
    line.columns = m_tail.openColumns;
    line.next = m_records.size();
    line.hasTab = m_tail.openHasTab;
    return line;
}

LineIndex::Line LineIndex::readLine(qsizetype index, qsizetype start, qsizetype record,
                                    qsizetype skip) const
{
    if (index == m_tail.closedLines)
        return openLine();
    Line line;
    line.index = index;
    line.start = start;
    qsizetype at = record;
    const quint64 head = m_records.read(at);
    line.hasTab = (head & 1) != 0;
    line.terminator = static_cast<int>((head >> 1) & 3);
    line.length = static_cast<qsizetype>(head >> 3);
    line.columns = line.length + (line.hasTab ? static_cast<qsizetype>(m_records.read(at)) : 0);
    if (at < m_records.size() && m_records.byteAt(at) == kRunHead) {
        line.repeat = m_records.byteAt(at + 1) - skip;
        at += 2;
    }
    line.next = at;
    return line;
}

LineIndex::Line LineIndex::firstLineOf(qsizetype group) const
{
    const Group &g = m_groups[ix(group)];
    return readLine(group * kGroupLines, g.start, g.record, g.skip);
}

bool LineIndex::nextLine(Line &line) const
{
    if (line.index >= m_tail.closedLines)
        return false;
    if (line.repeat > 0 && line.index + 1 < m_tail.closedLines) {
        line.start = line.nextStart();
        ++line.index;
        --line.repeat;
        return true;
    }
    line = readLine(line.index + 1, line.nextStart(), line.next, 0);
    return true;
}

qsizetype LineIndex::groupLineCount(qsizetype group) const
{
    return std::min(kGroupLines, m_tail.closedLines - group * kGroupLines);
}

LineIndex::Located LineIndex::lineAtPosition(qsizetype position) const
{
    if (position >= m_tail.openStart)
        return {openLine(), m_tail.closedRows};
    const auto it = std::upper_bound(m_groups.begin(), m_groups.end(), position,
                                     [](qsizetype p, const Group &g) { return p < g.start; });
    const auto group = static_cast<qsizetype>(it - m_groups.begin()) - 1;
    Located located{firstLineOf(group), m_groups[ix(group)].rowsBefore};
    while (position >= located.line.nextStart()) {
        located.firstRow += rowsOf(located.line.columns);
        nextLine(located.line);
    }
    return located;
}

LineIndex::Located LineIndex::lineAtRow(qsizetype row) const
{
    if (row >= m_tail.closedRows)
        return {openLine(), m_tail.closedRows};
    const auto it = std::upper_bound(m_groups.begin(), m_groups.end(), row,
                                     [](qsizetype r, const Group &g) { return r < g.rowsBefore; });
    const auto group = static_cast<qsizetype>(it - m_groups.begin()) - 1;
    Located located{firstLineOf(group), m_groups[ix(group)].rowsBefore};
    for (;;) {
        const qsizetype rows = rowsOf(located.line.columns);
        if (row < located.firstRow + rows)
            return located;
        located.firstRow += rows;
        nextLine(located.line);
    }
}

const std::vector<qsizetype> *LineIndex::checkpointsOf(const Line &line) const
{
    if (!line.hasTab)
        return nullptr;
    if (line.index == m_tail.closedLines)
        return &m_openCheckpoints;
    const auto it =
        std::lower_bound(m_tabLines.begin(), m_tabLines.end(), line.index,
                         [](const TabLine &t, qsizetype index) { return t.line < index; });
    return it != m_tabLines.end() && it->line == line.index ? &it->checkpoints : nullptr;
}

qsizetype LineIndex::columnOf(const Line &line, qsizetype offset) const
{
    if (!line.hasTab)
        return offset;
    qsizetype from = 0;
    qsizetype column = 0;
    if (const auto *checkpoints = checkpointsOf(line); checkpoints && !checkpoints->empty()) {
        const qsizetype k =
            std::min(offset >> kCheckpointBits, static_cast<qsizetype>(checkpoints->size()) - 1);
        from = k << kCheckpointBits;
        column = (*checkpoints)[ix(k)];
    }
    // At most one checkpoint's stretch of characters.
    std::array<char16_t, kCheckpointChars> chars;
    m_store.copy(line.start + from, offset - from, chars.data());
    for (qsizetype i = 0; i < offset - from; ++i)
        column = chars[ix(i)] == u'\t' ? nextTabStop(column) : column + 1;
    return column;
}

qsizetype LineIndex::offsetAtColumn(const Line &line, qsizetype column, qsizetype &cellStart) const
{
    if (column >= line.columns) {
        cellStart = line.columns;
        return line.length;
    }
    if (!line.hasTab) {
        cellStart = column;
        return column;
    }
    qsizetype from = 0;
    qsizetype c = 0;
    if (const auto *checkpoints = checkpointsOf(line); checkpoints && !checkpoints->empty()) {
        const auto it = std::upper_bound(checkpoints->begin(), checkpoints->end(), column);
        const auto k = static_cast<qsizetype>(it - checkpoints->begin()) - 1;
        from = k << kCheckpointBits;
        c = (*checkpoints)[ix(k)];
    }
    std::array<char16_t, kCheckpointChars> chars;
    const qsizetype count = std::min(kCheckpointChars, line.length - from);
    m_store.copy(line.start + from, count, chars.data());
    for (qsizetype i = 0; i < count; ++i) {
        const qsizetype next = chars[ix(i)] == u'\t' ? nextTabStop(c) : c + 1;
        if (column < next) {
            cellStart = c;
            return from + i;
        }
        c = next;
    }
    cellStart = c;
    return from + count;
}

LineIndex::RowColumn LineIndex::rowColumnOf(qsizetype position) const
{
    const Located located = lineAtPosition(position);
    const Line &line = located.line;
    const qsizetype column = columnOf(line, std::min(position - line.start, line.length));
    const qsizetype row = std::min(column / m_columns, rowsOf(line.columns) - 1);
    return {located.firstRow + row, column - row * m_columns};
}

qsizetype LineIndex::rowStartPosition(qsizetype row) const
{
    const Located located = lineAtRow(row);
    qsizetype cellStart = 0;
    return located.line.start +
           offsetAtColumn(located.line, (row - located.firstRow) * m_columns, cellStart);
}

void LineIndex::setColumns(int columns)
{
    columns = std::max(1, columns);
    if (columns == m_columns)
        return;
    m_columns = columns;
    rewrap();
}

void LineIndex::rewrap()
{
    qsizetype rows = 0;
    for (qsizetype g = 0; g < static_cast<qsizetype>(m_groups.size()); ++g) {
        Group &group = m_groups[ix(g)];
        group.rowsBefore = rows;
        const qsizetype count = groupLineCount(g);
        if (qsizetype{group.maxColumns} <= m_columns) {
            rows += count;
            continue;
        }
        Line line = firstLineOf(g);
        for (qsizetype i = 0; i < count; ++i) {
            rows += rowsOf(line.columns);
            if (i + 1 < count)
                nextLine(line);
        }
    }
    m_tail.closedRows = rows;
}

qsizetype LineIndex::memoryUsed() const
{
    qsizetype total = m_records.memoryUsed();
    total += static_cast<qsizetype>(m_groups.capacity() * sizeof(Group));
    total += static_cast<qsizetype>(m_tabLines.capacity() * sizeof(TabLine));
    for (const TabLine &line : m_tabLines)
        total += static_cast<qsizetype>(line.checkpoints.capacity() * sizeof(qsizetype));
    total += static_cast<qsizetype>(m_openCheckpoints.capacity() * sizeof(qsizetype));
    return total;
}
