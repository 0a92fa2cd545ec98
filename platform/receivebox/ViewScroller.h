#pragma once

// The vertical scrolling of the receive box: which row is at the top, and a
// scroll bar that shows it at any number of rows.
//
// A scroll bar's values are ints, and no bar has that many pixels anyway:
// beyond 2^24 rows its range is scaled (RowScale). Its arrows, trough and
// Home/End still move by exact rows, one row or one page, since those
// actions are taken from the bar and applied to the row itself; only a drag
// of the thumb goes through the scaled value.

#include <QElapsedTimer>
#include <QObject>
#include <QtGlobal>

#include <functional>

class QAbstractScrollArea;
class ScrollBar;

// The arithmetic between rows and the bar's values, apart from any widget.
struct RowScale
{
    // Up to this many rows a value is a row.
    static constexpr qsizetype kExactRows = qsizetype{1} << 24;

    struct Bar
    {
        int maximum = 0;
        int page = 1;
        int value = 0;
    };

    static Bar barFor(qsizetype firstRow, qsizetype maxRow, int visibleRows);
    // The first row for a value of the bar (a drag of the thumb).
    static qsizetype rowAt(int value, qsizetype maxRow);
    // The first row after a scroll bar action (QAbstractSlider::SliderAction)
    // other than a drag; -1 for a drag or no action.
    static qsizetype rowAfter(int action, qsizetype firstRow, qsizetype maxRow, int visibleRows);
};

class ViewScroller final : public QObject
{
    Q_OBJECT

public:
    // Puts its own bar on the area, always shown, so that text arriving never
    // changes the width and rewraps.
    // rowCount gives the rows of the view as it now stands.
    ViewScroller(QAbstractScrollArea *area, std::function<qsizetype()> rowCount);
    Q_DISABLE_COPY_MOVE(ViewScroller)

    qsizetype firstRow() const { return m_firstRow; }
    int visibleRows() const { return m_visibleRows; }
    qsizetype maxFirstRow() const;

    // Moves the view (clamped) and the bar with it; repaints if it moved.
    void setFirstRow(qsizetype row);
    // Moves the view without repainting or moving the bar: for a rewrap,
    // followed by setVisibleRows().
    void placeFirstRow(qsizetype row) { m_firstRow = row; }
    void setVisibleRows(int rows);
    // Scrolls as little as needed for the row to be in view.
    void ensureVisible(qsizetype row);

    // Rows were added below: the bar follows once control is back in the
    // event loop, or at once when the view moves (usually right after, to
    // show the end), so a burst of arrivals costs one bar update. While
    // assistive technology listens, it follows at most every kArrivalSyncMs,
    // the view's moves included.
    void rowsAdded();
    static constexpr int kArrivalSyncMs = 100;
    // The bar's value changed (QAbstractScrollArea::scrollContentsBy).
    void barMoved(int value);
    void sync();
    // How often the bar has asked to be repainted: only when what it shows
    // changed, however often its value and range moved.
    int barRepaintsAsked() const;

private:
    void barAction(int action);

    QAbstractScrollArea *m_area;
    std::function<qsizetype()> m_rowCount;
    ScrollBar *m_bar;
    qsizetype m_firstRow = 0;
    int m_visibleRows = 1;
    bool m_syncPending = false;
    bool m_syncing = false;
    QElapsedTimer m_sinceSync;
};
