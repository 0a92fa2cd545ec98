#pragma once

// The receive box's text, apart from any widget: the characters, in storage
// made for appending, the index of their lines, the layout of the lines in
// rows of a fixed number of columns, and the colour runs.
//
// Lines end at CR LF, LF or CR. Every character takes one column, except a
// TAB, which runs to the next multiple of eight columns of its line counted
// before wrapping; a line of c columns takes max(1, ceil(c / columns())) rows.
// Appending costs in proportion to what is appended; finding the line of a
// position or a row costs a binary search and a short scan, whatever the
// length of the text or of the line.

#include <QByteArrayView>
#include <QRgb>
#include <QString>
#include <QStringView>

#include <array>
#include <memory>
#include <vector>

class ReceiveBoxText final
{
public:
    // A line as the index knows it. The last line is open: no terminator.
    struct Line
    {
        qsizetype index = 0;
        qsizetype start = 0;
        qsizetype length = 0; // characters before the terminator
        qsizetype columns = 0;
        qsizetype next = 0; // where the index keeps the following line
        int terminator = 0; // 1 for CR or LF, 2 for CR LF
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

    // The text from start on, up to the next run, has that colour.
    struct ColourRun
    {
        qsizetype start = 0;
        QRgb rgb = 0;
    };

    static constexpr qsizetype kTabStop = 8;
    static qsizetype nextTabStop(qsizetype column);

    ReceiveBoxText();
    ~ReceiveBoxText();
    Q_DISABLE_COPY_MOVE(ReceiveBoxText)

    qsizetype length() const;
    // Empties the text; what is appended next has that colour.
    void clear(QRgb colour);
    void append(QStringView text);
    // Adds the character the table gives for each byte: the same as append()
    // of that text, without building it.
    void appendBytes(QByteArrayView bytes, const std::array<char16_t, 256> &charOf);
    char16_t at(qsizetype position) const;
    // Characters [from, from + count) into out; the range must lie in the text.
    void copy(qsizetype from, qsizetype count, char16_t *out) const;
    // Characters [from, from + count), clipped to the text, in one allocation.
    QString mid(qsizetype from, qsizetype count) const;

    int columns() const;
    // Rewraps: costs a pass over the index's groups, and over the lines only
    // of groups that hold a line wider than the new width.
    void setColumns(int columns);
    qsizetype rowCount() const;
    qsizetype rowsOf(qsizetype lineColumns) const;
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

    // The colour of text appended from now on.
    void setColour(QRgb colour);
    const std::vector<ColourRun> &colourRuns() const;
    qsizetype runIndexAt(qsizetype position) const;

    // Bytes held for the text, its index and its colours.
    qsizetype memoryUsed() const;

private:
    struct Data;
    std::unique_ptr<Data> d;
};
