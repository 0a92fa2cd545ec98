#include "ViewScroller.h"

#include <QAbstractScrollArea>
#include <QAccessible>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

// Text arriving moves the scroll bar's value and range all the time, and once
// the transcript is long mostly by less than a pixel: the bar is repainted
// only when what it shows changes.
class ScrollBar final : public QScrollBar
{
public:
    using QScrollBar::QScrollBar;

    // Repaints this bar asked for because what it shows changed.
    int repaintsAsked() const { return m_repaintsAsked; }

    // Range, page and value set together are judged once, by the end state.
    void beginChanges() { m_changing = true; }
    void endChanges()
    {
        m_changing = false;
        if (m_changed && (!m_painted || appearance() != *m_painted))
            askRepaint(SliderValueChange);
        m_changed = false;
    }

protected:
    void sliderChange(SliderChange change) override
    {
        if (m_changing && change != SliderOrientationChange)
            m_changed = true;
        else if (change == SliderOrientationChange || !m_painted || appearance() != *m_painted)
            askRepaint(change);
    }

    void paintEvent(QPaintEvent *event) override
    {
        m_painted = appearance();
        QScrollBar::paintEvent(event);
    }

private:
    struct Appearance
    {
        QRect slider;
        bool atMinimum = false;
        bool atMaximum = false;
        bool operator==(const Appearance &) const = default;
    };

    void askRepaint(SliderChange change)
    {
        ++m_repaintsAsked;
        QScrollBar::sliderChange(change);
    }

    Appearance appearance() const
    {
        QStyleOptionSlider option;
        initStyleOption(&option);
        return {style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider,
                                        this),
                value() == minimum(), value() == maximum()};
    }

    std::optional<Appearance> m_painted;
    bool m_changing = false;
    bool m_changed = false;
    int m_repaintsAsked = 0;
};

RowScale::Bar RowScale::barFor(qsizetype firstRow, qsizetype maxRow, int visibleRows)
{
    if (maxRow <= kExactRows)
        return {static_cast<int>(maxRow), visibleRows, static_cast<int>(firstRow)};
    const double scale = double(kExactRows) / double(maxRow);
    return {static_cast<int>(kExactRows), std::max(1, static_cast<int>(visibleRows * scale)),
            static_cast<int>(std::llround(double(firstRow) * scale))};
}

qsizetype RowScale::rowAt(int value, qsizetype maxRow)
{
    if (maxRow <= kExactRows)
        return std::clamp<qsizetype>(value, 0, maxRow);
    const auto row =
        static_cast<qsizetype>(std::llround(double(value) * double(maxRow) / double(kExactRows)));
    return std::clamp<qsizetype>(row, 0, maxRow);
}

qsizetype RowScale::rowAfter(int action, qsizetype firstRow, qsizetype maxRow, int visibleRows)
{
    qsizetype row = 0;
    switch (action) {
    case QAbstractSlider::SliderSingleStepAdd:
        row = firstRow + 1;
        break;
    case QAbstractSlider::SliderSingleStepSub:
        row = firstRow - 1;
        break;
    case QAbstractSlider::SliderPageStepAdd:
        row = firstRow + visibleRows;
        break;
    case QAbstractSlider::SliderPageStepSub:
        row = firstRow - visibleRows;
        break;
    case QAbstractSlider::SliderToMinimum:
        row = 0;
        break;
    case QAbstractSlider::SliderToMaximum:
        row = maxRow;
        break;
    default:
        return -1;
    }
    return std::clamp<qsizetype>(row, 0, maxRow);
}

ViewScroller::ViewScroller(QAbstractScrollArea *area, std::function<qsizetype()> rowCount)
    : QObject(area), m_area(area), m_rowCount(std::move(rowCount)),
      m_bar(new ScrollBar(Qt::Vertical, area))
{
    area->setVerticalScrollBar(m_bar);
    area->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    connect(m_bar, &QAbstractSlider::actionTriggered, this, &ViewScroller::barAction);
}

qsizetype ViewScroller::maxFirstRow() const
{
    return std::max<qsizetype>(0, m_rowCount() - m_visibleRows);
}

void ViewScroller::setFirstRow(qsizetype row)
{
    const qsizetype old = m_firstRow;
    m_firstRow = row;
    sync();
    if (m_firstRow != old)
        m_area->viewport()->update();
}

void ViewScroller::setVisibleRows(int rows)
{
    m_visibleRows = std::max(1, rows);
    sync();
}

void ViewScroller::ensureVisible(qsizetype row)
{
    if (row < m_firstRow)
        m_firstRow = row;
    else if (row >= m_firstRow + m_visibleRows)
        m_firstRow = row - m_visibleRows + 1;
    // Rows arriving while assistive technology listens: the bar follows
    // with them (rowsAdded).
    if (m_syncPending && QAccessible::isActive())
        return;
    sync();
}

void ViewScroller::rowsAdded()
{
    if (m_syncPending)
        return;
    m_syncPending = true;
    // Each move of the bar is told to assistive technology as a change of
    // its value. While it listens, arrivals move the bar at most about ten
    // times a second: a screen reader buried under such changes drops the
    // rest of what the program tells it, the status line's notices too.
    qint64 wait = 0;
    if (QAccessible::isActive() && m_sinceSync.isValid())
        wait = std::max<qint64>(0, kArrivalSyncMs - m_sinceSync.elapsed());
    QTimer::singleShot(static_cast<int>(wait), this, [this] {
        if (m_syncPending)
            sync();
    });
}

int ViewScroller::barRepaintsAsked() const
{
    return m_bar->repaintsAsked();
}

void ViewScroller::sync()
{
    m_syncPending = false;
    m_sinceSync.start();
    const qsizetype maxRow = maxFirstRow();
    m_firstRow = std::clamp<qsizetype>(m_firstRow, 0, maxRow);
    const RowScale::Bar bar = RowScale::barFor(m_firstRow, maxRow, m_visibleRows);
    m_syncing = true;
    m_bar->beginChanges();
    if (m_bar->maximum() != bar.maximum)
        m_bar->setRange(0, bar.maximum);
    if (m_bar->pageStep() != bar.page)
        m_bar->setPageStep(bar.page);
    if (m_bar->value() != bar.value)
        m_bar->setValue(bar.value);
    m_bar->endChanges();
    m_syncing = false;
}

void ViewScroller::barMoved(int value)
{
    if (m_syncing)
        return;
    const qsizetype maxRow = maxFirstRow();
    // A value that already stands for the first row (the end of a step
    // taken in rows) leaves it where it is.
    if (value == RowScale::barFor(m_firstRow, maxRow, m_visibleRows).value)
        return;
    m_firstRow = RowScale::rowAt(value, maxRow);
    m_area->viewport()->update();
}

void ViewScroller::barAction(int action)
{
    if (m_syncPending)
        sync();
    const qsizetype maxRow = maxFirstRow();
    const qsizetype row = RowScale::rowAfter(action, m_firstRow, maxRow, m_visibleRows);
    if (row < 0)
        return;
    if (row != m_firstRow) {
        m_firstRow = row;
        m_area->viewport()->update();
    }
    // The bar applies this position once the action's signal returns.
    m_bar->setSliderPosition(RowScale::barFor(row, maxRow, m_visibleRows).value);
}
