#pragma once

// The lines of the transcript and their layout in rows of a fixed number of
// columns, kept beside the store of the characters.
//
// Lines end at CR LF, LF or CR. Every character takes one column, except a
// TAB, which runs to the next multiple of eight columns of its line counted
// before wrapping; a line of c columns takes max(1, ceil(c / columns())) rows.
// Each finished line leaves a record of a few bytes (its length, line end and
// whether it holds a TAB); a run of lines alike, as blank lines or lines of
// one width, shares one record and a count. Every 256 lines a group notes
// where its first line starts and how many rows come before it, so finding
// the line of a position or a row costs a binary search over the groups and a
// walk of at most 256 records, whatever the length of the text or the line.

#include "ByteStore.h"

#include "LineRecords.h"

#include <QtGlobal>

#include <vector>

class LineIndex final
{
public:
    // A line as the index knows it. The last line is open: no terminator.
    struct Line
    {
        qsizetype index = 0;
        qsizetype start = 0;
        qsizetype length = 0; // characters before the terminator
        qsizetype columns = 0;
        qsizetype next = 0;   // where the record of the line after it starts
        qsizetype repeat = 0; // lines after it that share its record
        int terminator = 0;   // 1 for CR or LF, 2 for CR LF
        bool hasTab = false;

        qsizetype end() const { return start + length; }
        qsizetype nextStart() const { return start + length + terminator; }
    };

    struct Located
    {
        Line line;
        qsizetype firstRow = 0; // the row of the line's first row
    };

    struct RowColumn
    {
        qsizetype row = 0;
        qsizetype column = 0; // in the row, 0..columns()
    };

    static constexpr qsizetype kTabStop = 8;
    static qsizetype nextTabStop(qsizetype column) { return (column / kTabStop + 1) * kTabStop; }

    // The store is read for the columns of lines that hold a TAB.
    explicit LineIndex(const ByteStore &store);
    Q_DISABLE_COPY_MOVE(LineIndex)

    void clear();
    // Index the bytes just appended to the store, given again here, read
    // through the store's table. hasNul: whether any of the bytes is NUL;
    // marks: where their line-shaping bytes are (the store has counted and
    // marked them as it took them).
    void appendBytes(const quint8 *bytes, qsizetype count, bool hasNul, const quint64 *marks);

    int columns() const { return m_columns; }
    // Rewraps: costs a pass over the groups, and over the lines only of
    // groups that hold a line wider than the new width.
    void setColumns(int columns);
    qsizetype rowCount() const { return m_tail.closedRows + rowsOf(m_tail.openColumns); }
    qsizetype rowsOf(qsizetype lineColumns) const
    {
        return lineColumns <= m_columns ? 1 : (lineColumns + m_columns - 1) / m_columns;
    }

    // The line holding a position (inside a CR LF: the line it ends).
    Located lineAtPosition(qsizetype position) const;
    Located lineAtRow(qsizetype row) const;
    // The line after that one; false after the last.
    bool nextLine(Line &line) const;
    // Column where the character at that offset of the line starts.
    qsizetype columnOf(const Line &line, qsizetype offset) const;
    // Offset of the character whose cells hold that column of the line, with
    // the column it starts at; the line's length past its last character.
    qsizetype offsetAtColumn(const Line &line, qsizetype column, qsizetype &cellStart) const;
    // Where a caret before that position stands; the end of a line that fills
    // its last row stays at the end of that row.
    RowColumn rowColumnOf(qsizetype position) const;
    qsizetype rowStartPosition(qsizetype row) const;

    qsizetype memoryUsed() const;

private:
    // Where indexing stands at the end of the text: the finished lines, the
    // last record and the run it may head, and the open line.
    struct Tail
    {
        qsizetype closedLines = 0;
        qsizetype closedRows = 0; // rows of the finished lines at the current width
        bool pendingCr = false;   // the text ends with a CR that a LF may still join
        qsizetype lastRecord = 0;
        quint64 lastHead = 0;    // 0 when no line may join it
        qsizetype sameCount = 0; // records alike in a row, ending with it
        qsizetype repeatAt = -1; // the count of lines sharing it, or -1
        qsizetype openStart = 0;
        qsizetype openLength = 0;
        qsizetype openColumns = 0;
        bool openHasTab = false;
    };

public:
    // The index at a moment, to go back to when memory runs out in the middle
    // of an append (std::bad_alloc). Indexing only adds records, groups and
    // TAB lines, and changes in place no more than the widest line of the
    // last group, the count of the run being extended and the line end of
    // the last record: those are kept here beside the tail, the rest are
    // counts.
    class Mark
    {
        friend class LineIndex;
        Tail tail;
        std::size_t openCheckpoints = 0;
        qsizetype records = 0;
        quint8 lastRecordByte = 0;
        quint8 repeatByte = 0;
        std::size_t groups = 0;
        quint32 lastGroupMaxColumns = 0;
        std::size_t tabLines = 0;
    };
    Mark mark() const;
    // Forgets what was indexed since the mark; allocates nothing.
    void rollBack(const Mark &mark);

private:
    struct Group
    {
        qsizetype start = 0;      // position of its first line
        qsizetype record = 0;     // record of its first line
        qsizetype rowsBefore = 0; // rows of every line before it, at the current width
        quint32 maxColumns = 0;   // widest line, saturated
        quint8 skip = 0;          // lines of that record before its first line
    };

    struct TabLine
    {
        qsizetype line = 0;
        std::vector<qsizetype> checkpoints; // column of every 1024th character
    };

    template <typename Units> void index(const Units &units);
    void extendOpenLine(qsizetype count)
    {
        if (m_tail.openHasTab)
            addCheckpoints(count);
        m_tail.openColumns += count;
        m_tail.openLength += count;
    }
    void addCheckpoints(qsizetype count);
    void addTab();
    void closeLine(int terminator, bool mayJoinRun);
    void joinCrLf();

    Line openLine() const;
    Line readLine(qsizetype index, qsizetype start, qsizetype record, qsizetype skip) const;
    Line firstLineOf(qsizetype group) const;
    qsizetype groupLineCount(qsizetype group) const;
    const std::vector<qsizetype> *checkpointsOf(const Line &line) const;
    void rewrap();

    const ByteStore &m_store;
    LineRecords m_records;
    std::vector<Group> m_groups;
    std::vector<TabLine> m_tabLines;
    Tail m_tail;
    std::vector<qsizetype> m_openCheckpoints;

    int m_columns = 1;
};
