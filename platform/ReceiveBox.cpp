#include "ReceiveBox.h"

#include "Fonts.h"
#include "ReceiveBoxText.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QGlyphRun>
#include <QHash>
#include <QKeyEvent>
#include <QList>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEngine>
#include <QPaintEvent>
#include <QPainter>
#include <QPixmap>
#include <QRawFont>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

namespace {

// Up to this many rows a scroll bar step is one row; beyond it the bar is
// scaled (its values are ints, and no bar has that many pixels anyway).
constexpr qsizetype kScrollScale = qsizetype{1} << 24;

constexpr quint32 kUnknownGlyph = 0xFFFFFFFFu;

template <typename T> constexpr std::size_t ix(T i)
{
    return static_cast<std::size_t>(i);
}

// Drawn as a picture of its code, never as nothing: C0 (TAB, CR and LF never
// reach drawing), DEL and C1.
bool isControl(char16_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

// Copies a row of cell blocks (each width x height pixels, stored one after
// the other) to the target, a pixel row at a time. Cell widths are small, so
// the copy of one block row is made with a size known at compile time.
template <int Width>
void copyBlocksOf(QRgb *to, qsizetype stride, const QRgb *blocks, const qint32 *indexes,
                  qsizetype count, int height)
{
    const qsizetype size = qsizetype{Width} * height;
    for (int r = 0; r < height; ++r, to += stride) {
        const QRgb *from = blocks + qsizetype{r} * Width;
        QRgb *out = to;
        for (qsizetype c = 0; c < count; ++c, out += Width)
            std::memcpy(out, from + indexes[c] * size, sizeof(QRgb) * Width);
    }
}

void copyBlocks(QRgb *to, qsizetype stride, const QRgb *blocks, const qint32 *indexes,
                qsizetype count, int width, int height)
{
    switch (width) {
    case 6:
        return copyBlocksOf<6>(to, stride, blocks, indexes, count, height);
    case 7:
        return copyBlocksOf<7>(to, stride, blocks, indexes, count, height);
    case 8:
        return copyBlocksOf<8>(to, stride, blocks, indexes, count, height);
    case 9:
        return copyBlocksOf<9>(to, stride, blocks, indexes, count, height);
    case 10:
        return copyBlocksOf<10>(to, stride, blocks, indexes, count, height);
    case 12:
        return copyBlocksOf<12>(to, stride, blocks, indexes, count, height);
    case 14:
        return copyBlocksOf<14>(to, stride, blocks, indexes, count, height);
    case 16:
        return copyBlocksOf<16>(to, stride, blocks, indexes, count, height);
    default:
        break;
    }
    const qsizetype size = qsizetype{width} * height;
    for (int r = 0; r < height; ++r, to += stride) {
        const QRgb *from = blocks + qsizetype{r} * width;
        for (qsizetype c = 0; c < count; ++c)
            std::memcpy(to + c * width, from + indexes[c] * size, sizeof(QRgb) * ix(width));
    }
}

// Assistive technology counts characters in ints; a transcript longer than
// that is reachable up to there.
int accessibleOffset(qsizetype position)
{
    return static_cast<int>(std::min<qsizetype>(position, std::numeric_limits<int>::max()));
}

// A replaced text is announced as removed with at most this many of its
// characters, so that starting afresh never copies a huge transcript.
constexpr qsizetype kAnnouncedRemoval = qsizetype{1} << 20;

enum class CharClass { Word, Space, Other };

CharClass classOf(char16_t c)
{
    if (c == u' ' || c == u'\t')
        return CharClass::Space;
    if (c == u'_' || QChar(c).isLetterOrNumber())
        return CharClass::Word;
    return CharClass::Other;
}

// Text arriving moves the scroll bar's value and range all the time, and once
// the transcript is long mostly by less than a pixel: the bar is repainted
// only when what it shows changes.
class ScrollBar final : public QScrollBar
{
public:
    using QScrollBar::QScrollBar;

    // Range, page and value set together are judged once, by the end state.
    void beginChanges() { m_changing = true; }
    void endChanges()
    {
        m_changing = false;
        if (m_changed && (!m_painted || appearance() != *m_painted))
            QScrollBar::sliderChange(SliderValueChange);
        m_changed = false;
    }

protected:
    void sliderChange(SliderChange change) override
    {
        if (m_changing && change != SliderOrientationChange)
            m_changed = true;
        else if (change == SliderOrientationChange || !m_painted || appearance() != *m_painted)
            QScrollBar::sliderChange(change);
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
};

struct Cell
{
    qsizetype position = 0;
    int column = 0; // in the row; a TAB begun on the row before starts left of 0
    int width = 1;
    char16_t ch = 0;
};

QColor mix(const QColor &a, const QColor &b, qreal share)
{
    return QColor::fromRgbF(static_cast<float>(a.redF() * share + b.redF() * (1 - share)),
                            static_cast<float>(a.greenF() * share + b.greenF() * (1 - share)),
                            static_cast<float>(a.blueF() * share + b.blueF() * (1 - share)));
}

} // namespace

struct ReceiveBox::Private
{
    explicit Private(ReceiveBox *box) : q(box) {}

    ReceiveBox *q;

    ReceiveBoxText text;
    QColor textColour;
    QColor backColour;

    qsizetype anchor = 0;
    qsizetype caret = 0;
    qsizetype announcedAnchor = 0;
    qsizetype announcedCaret = 0;

    qsizetype firstRow = 0;
    int visibleRows = 1;
    int cellWidth = 8;
    int cellHeight = 16;
    int ascent = 12;
    ScrollBar *scrollBar = nullptr;
    bool scrollBarPending = false;
    bool scaledScroll = false;
    bool syncingScrollBar = false;

    // Painting at an integer device pixel ratio: every cell is a block of
    // pixels rendered once per character and colour pair, and a paint copies
    // blocks into the painter's image (or a frame of the box's own, drawn with
    // one drawImage), with no text layout or glyph blending per paint.
    struct ColourPair
    {
        QRgb fg = 0;
        QRgb bg = 0;
        std::array<qint32, 256> latin1{};
    };
    struct Overflow
    {
        QPointF at;
        QString text;
        QRgb fg = 0;
    };
    std::vector<ColourPair> pairs;
    qint32 lastPair = -1;
    QHash<quint64, qint32> wideBlocks; // (pair << 16) | character
    std::vector<quint32> blockPixels;
    std::vector<bool> blockOverflows;
    int blockScale = 0; // the device pixel ratio the blocks were rendered at
    QImage frame;       // where blocks go when the painter's device takes none
    QImage canvas;      // where blocks are rendered
    std::unique_ptr<QPainter> canvasPainter;
    std::vector<Overflow> overflows;
    std::vector<QRgb> backRowPixels;
    std::vector<qint32> rowBlocks;
    bool resetBlocksAfterPaint = false; // the cache has grown past its bounds

    // Painting at a fractional ratio: glyph runs at the cells' positions.
    QRawFont rawFont;
    std::vector<quint32> glyphs;
    QHash<quint64, QPixmap> controlPictures;
    std::vector<char16_t> rowChars;
    std::vector<Cell> cells;
    QList<quint32> runGlyphs;
    QList<QPointF> runPositions;
    QRgb runColour = 0;

    bool dragging = false;
    QPoint dragPoint;
    QTimer autoScroll;
    int wheelRemainder = 0;

    // --- the text ---

    using Line = ReceiveBoxText::Line;
    using Located = ReceiveBoxText::Located;
    using RowColumn = ReceiveBoxText::RowColumn;

    void clear()
    {
        const qsizetype old = text.length();
        if (old > 0 && QAccessible::isActive()) {
            QAccessibleTextRemoveEvent event(q, 0, text.mid(0, std::min(old, kAnnouncedRemoval)));
            QAccessible::updateAccessibility(&event);
        }
        text.clear(textColour.rgb());
        anchor = caret = 0;
        announcedAnchor = announcedCaret = 0;
        firstRow = 0;
    }

    // After an append of the characters from `from` on.
    void appended(qsizetype from)
    {
        scheduleScrollBarSync();
        q->viewport()->update();
        const qsizetype count = text.length() - from;
        if (count > 0 && from < std::numeric_limits<int>::max() && QAccessible::isActive()) {
            QAccessibleTextInsertEvent event(
                q, accessibleOffset(from),
                text.mid(from, std::min(count, std::numeric_limits<int>::max() - from)));
            QAccessible::updateAccessibility(&event);
        }
    }

    // After the caret or the selection may have moved: repaint, and tell
    // assistive technology where they are now.
    void selectionMoved()
    {
        q->viewport()->update();
        if (anchor == announcedAnchor && caret == announcedCaret)
            return;
        announcedAnchor = anchor;
        announcedCaret = caret;
        if (!QAccessible::isActive())
            return;
        if (anchor == caret) {
            QAccessibleTextCursorEvent event(q, accessibleOffset(caret));
            QAccessible::updateAccessibility(&event);
        } else {
            QAccessibleTextSelectionEvent event(q, accessibleOffset(selectionFrom()),
                                                accessibleOffset(selectionTo()));
            event.setCursorPosition(accessibleOffset(caret));
            QAccessible::updateAccessibility(&event);
        }
    }

    // --- geometry and scrolling ---

    void updateMetrics()
    {
        const QFont font = q->font();
        const QFontMetrics metrics(font);
        cellWidth = std::max(1, metrics.horizontalAdvance(QLatin1Char('M')));
        cellHeight = std::max(1, metrics.height());
        ascent = metrics.ascent();
        rawFont = QRawFont::fromFont(font);
        glyphs.assign(0x10000, kUnknownGlyph);
        controlPictures.clear();
        resetBlocks();
    }

    void updateGeometry()
    {
        const QSize size = q->viewport()->size();
        const int newColumns = std::max(1, size.width() / cellWidth);
        const int newRows = std::max(1, size.height() / cellHeight);
        if (newColumns == text.columns() && newRows == visibleRows)
            return;
        const bool atBottom = firstRow > 0 && firstRow >= maxFirstRow();
        if (newColumns != text.columns()) {
            const qsizetype top = text.rowStartPosition(firstRow);
            text.setColumns(newColumns);
            firstRow = text.rowColumnOf(top).row;
        }
        visibleRows = newRows;
        if (atBottom)
            firstRow = maxFirstRow();
        syncScrollBar();
    }

    qsizetype maxFirstRow() const { return std::max<qsizetype>(0, text.rowCount() - visibleRows); }

    // Appending only adds rows below: the scroll bar follows once control is
    // back in the event loop, or at once when the view moves (usually right
    // after, to show the end), so a burst of arrivals costs one bar update.
    void scheduleScrollBarSync()
    {
        if (scrollBarPending)
            return;
        scrollBarPending = true;
        QTimer::singleShot(0, q, [this] {
            if (scrollBarPending)
                syncScrollBar();
        });
    }

    void syncScrollBar()
    {
        scrollBarPending = false;
        const qsizetype maxRow = maxFirstRow();
        firstRow = std::clamp<qsizetype>(firstRow, 0, maxRow);
        scaledScroll = maxRow > kScrollScale;
        QScrollBar *bar = q->verticalScrollBar();
        syncingScrollBar = true;
        int maximum = static_cast<int>(maxRow);
        int page = visibleRows;
        int value = static_cast<int>(firstRow);
        if (scaledScroll) {
            const double scale = double(kScrollScale) / double(maxRow);
            maximum = static_cast<int>(kScrollScale);
            page = std::max(1, static_cast<int>(visibleRows * scale));
            value = static_cast<int>(double(firstRow) * scale);
        }
        ScrollBar *own = bar == scrollBar ? scrollBar : nullptr;
        if (own)
            own->beginChanges();
        if (bar->maximum() != maximum)
            bar->setRange(0, maximum);
        if (bar->pageStep() != page)
            bar->setPageStep(page);
        if (bar->value() != value)
            bar->setValue(value);
        if (own)
            own->endChanges();
        syncingScrollBar = false;
    }

    void scrollBarMoved(int value)
    {
        if (syncingScrollBar)
            return;
        const qsizetype maxRow = maxFirstRow();
        firstRow =
            scaledScroll
                ? static_cast<qsizetype>(double(value) * double(maxRow) / double(kScrollScale))
                : qsizetype{value};
        firstRow = std::clamp<qsizetype>(firstRow, 0, maxRow);
        q->viewport()->update();
    }

    void setFirstRow(qsizetype row)
    {
        const qsizetype old = firstRow;
        firstRow = row;
        syncScrollBar();
        if (firstRow != old)
            q->viewport()->update();
    }

    void ensureVisible(qsizetype position)
    {
        const qsizetype row = text.rowColumnOf(position).row;
        if (row < firstRow)
            firstRow = row;
        else if (row >= firstRow + visibleRows)
            firstRow = row - visibleRows + 1;
        syncScrollBar();
    }

    // Position for a viewport point: the character under it, or with
    // betweenCharacters the nearest gap between characters (for the caret).
    qsizetype hitTest(const QPoint &point, bool betweenCharacters) const
    {
        const int y = point.y();
        const qsizetype rowInView = y >= 0 ? y / cellHeight : -((-y + cellHeight - 1) / cellHeight);
        const qsizetype row = firstRow + rowInView;
        if (row < 0)
            return 0;
        if (row >= text.rowCount())
            return text.length();
        const Located located = text.lineAtRow(row);
        const Line &line = located.line;
        const int x = std::max(0, point.x());
        const qsizetype column =
            betweenCharacters ? std::min<qsizetype>((x + cellWidth / 2) / cellWidth, text.columns())
                              : std::min<qsizetype>(x / cellWidth, text.columns() - 1);
        const qsizetype lineColumn = (row - located.firstRow) * text.columns() + column;
        qsizetype cellStart = 0;
        qsizetype offset = text.offsetAtColumn(line, lineColumn, cellStart);
        if (betweenCharacters && offset < line.length && lineColumn > cellStart) {
            // Inside a TAB's cells: the nearer side of it.
            const qsizetype width = ReceiveBoxText::nextTabStop(cellStart) - cellStart;
            if ((lineColumn - cellStart) * 2 >= width)
                ++offset;
        }
        return line.start + offset;
    }

    // --- selection ---

    qsizetype selectionFrom() const { return std::min(anchor, caret); }
    qsizetype selectionTo() const { return std::max(anchor, caret); }

    // The word, run of spaces or single other character at a position, as
    // a double click selects it; empty past the end of its line.
    std::pair<qsizetype, qsizetype> wordAt(qsizetype position) const
    {
        const Line line = text.lineAtPosition(position).line;
        if (position >= line.end()) {
            const qsizetype at = std::min(position, line.end());
            return {at, at};
        }
        const CharClass kind = classOf(text.at(position));
        qsizetype from = position;
        qsizetype to = position + 1;
        if (kind != CharClass::Other) {
            while (from > line.start && classOf(text.at(from - 1)) == kind)
                --from;
            while (to < line.end() && classOf(text.at(to)) == kind)
                ++to;
        }
        return {from, to};
    }

    void selectWordAt(qsizetype position) { std::tie(anchor, caret) = wordAt(position); }

    // --- painting ---

    quint32 glyphFor(char16_t c)
    {
        quint32 &glyph = glyphs[c];
        if (glyph == kUnknownGlyph) {
            const QChar ch(c);
            quint32 index = 0;
            int count = 1;
            if (!rawFont.isValid() || !rawFont.glyphIndexesForChars(&ch, 1, &index, &count) ||
                count != 1)
                index = 0;
            glyph = index;
        }
        return glyph;
    }

    // A control character is drawn as its code in two small hex digits, one
    // above the other, filling exactly one cell.
    void drawControlPicture(QPainter &painter, const QRect &cell, char16_t code, QRgb rgb) const
    {
        QFont small = q->font();
        small.setPixelSize(std::max(5, cell.height() / 2));
        small.setWeight(QFont::DemiBold);
        painter.setFont(small);
        painter.setPen(QColor::fromRgb(rgb));
        const QString digits =
            QStringLiteral("%1").arg(int{code}, 2, 16, QLatin1Char('0')).toUpper();
        const int half = cell.height() / 2;
        painter.drawText(QRect(cell.x(), cell.y(), cell.width(), half), Qt::AlignCenter,
                         digits.left(1));
        painter.drawText(QRect(cell.x(), cell.y() + half, cell.width(), cell.height() - half),
                         Qt::AlignCenter, digits.right(1));
    }

    const QPixmap &controlPicture(char16_t code, QRgb rgb)
    {
        const quint64 key = (quint64{rgb} << 16) | code;
        auto it = controlPictures.constFind(key);
        if (it != controlPictures.constEnd())
            return *it;
        if (controlPictures.size() > 1024)
            controlPictures.clear();
        const qreal ratio = q->viewport()->devicePixelRatioF();
        QPixmap picture(QSize(cellWidth, cellHeight) * ratio);
        picture.setDevicePixelRatio(ratio);
        picture.fill(Qt::transparent);
        QPainter painter(&picture);
        drawControlPicture(painter, QRect(0, 0, cellWidth, cellHeight), code, rgb);
        painter.end();
        return *controlPictures.insert(key, picture);
    }

    // --- the cell blocks ---

    void resetBlocks()
    {
        canvasPainter.reset();
        pairs.clear();
        lastPair = -1;
        wideBlocks.clear();
        blockPixels.clear();
        blockPixels.shrink_to_fit();
        blockOverflows.clear();
    }

    qint32 pairIndex(QRgb fg, QRgb bg)
    {
        if (lastPair >= 0 && pairs[ix(lastPair)].fg == fg && pairs[ix(lastPair)].bg == bg)
            return lastPair;
        for (std::size_t i = 0; i < pairs.size(); ++i) {
            if (pairs[i].fg == fg && pairs[i].bg == bg)
                return lastPair = static_cast<qint32>(i);
        }
        if (pairs.size() >= 64)
            resetBlocksAfterPaint = true;
        ColourPair pair;
        pair.fg = fg;
        pair.bg = bg;
        pair.latin1.fill(-1);
        pairs.push_back(pair);
        return lastPair = static_cast<qint32>(pairs.size() - 1);
    }

    qint32 block(char16_t c, qint32 pair)
    {
        if (c < 0x100) {
            qint32 &slot = pairs[ix(pair)].latin1[c];
            if (slot < 0)
                slot = renderBlock(c, pairs[ix(pair)].fg, pairs[ix(pair)].bg);
            return slot;
        }
        const quint64 key = (quint64(pair) << 16) | c;
        auto it = wideBlocks.constFind(key);
        if (it != wideBlocks.constEnd())
            return *it;
        const qint32 index = renderBlock(c, pairs[ix(pair)].fg, pairs[ix(pair)].bg);
        wideBlocks.insert(key, index);
        return index;
    }

    // Renders a character in the middle of three cells; ink in the outer two
    // means the glyph does not fit its cell (a wide fallback glyph), and then
    // the block is left empty and the character drawn over the frame.
    qint32 renderBlock(char16_t c, QRgb fg, QRgb bg)
    {
        const int width = cellWidth * blockScale;
        const int height = cellHeight * blockScale;
        // One canvas and painter serve every block rendered during a paint.
        if (canvas.size() != QSize(3 * width, height) || canvas.devicePixelRatio() != blockScale) {
            canvasPainter.reset();
            canvas = QImage(3 * width, height, QImage::Format_RGB32);
            canvas.setDevicePixelRatio(blockScale);
        }
        if (!canvasPainter)
            canvasPainter = std::make_unique<QPainter>(&canvas);
        QPainter &painter = *canvasPainter;
        painter.fillRect(QRect(0, 0, 3 * cellWidth, cellHeight), QColor::fromRgb(bg));
        bool overflow = QChar::isHighSurrogate(c);
        if (!overflow && c != u' ' && c != u'\t' && !QChar::isLowSurrogate(c)) {
            const quint32 glyph = isControl(c) ? 0 : glyphFor(c);
            if (isControl(c)) {
                drawControlPicture(painter, QRect(cellWidth, 0, cellWidth, cellHeight), c, fg);
            } else if (glyph != 0) {
                QGlyphRun run;
                run.setRawFont(rawFont);
                run.setGlyphIndexes({glyph});
                run.setPositions({QPointF(cellWidth, ascent)});
                painter.setPen(QColor::fromRgb(fg));
                painter.drawGlyphRun(QPointF(0, 0), run);
            } else {
                painter.setFont(q->font());
                painter.setPen(QColor::fromRgb(fg));
                painter.drawText(QPointF(cellWidth, ascent), QString(QChar(c)));
            }
            auto ink = [bg](QRgb p) {
                return std::abs(qRed(p) - qRed(bg)) + std::abs(qGreen(p) - qGreen(bg)) +
                           std::abs(qBlue(p) - qBlue(bg)) >
                       3 * 96;
            };
            for (int y = 0; y < height && !overflow; ++y) {
                const auto *line = reinterpret_cast<const QRgb *>(canvas.constScanLine(y));
                for (int x = 0; x < width && !overflow; ++x)
                    overflow = ink(line[x]) || ink(line[2 * width + x]);
            }
        }
        const auto index = static_cast<qint32>(blockOverflows.size());
        blockOverflows.push_back(overflow);
        const std::size_t at = blockPixels.size();
        blockPixels.resize(at + ix(width) * ix(height), 0xFF000000u | bg);
        if (!overflow) {
            for (int y = 0; y < height; ++y) {
                const auto *line = reinterpret_cast<const QRgb *>(canvas.constScanLine(y));
                std::copy(line + width, line + 2 * width,
                          blockPixels.begin() + static_cast<std::ptrdiff_t>(at) +
                              std::ptrdiff_t{y} * width);
            }
        }
        return index;
    }

    void flushGlyphs(QPainter &painter)
    {
        if (runGlyphs.isEmpty())
            return;
        QGlyphRun run;
        run.setRawFont(rawFont);
        run.setGlyphIndexes(runGlyphs);
        run.setPositions(runPositions);
        painter.setPen(QColor::fromRgb(runColour));
        painter.drawGlyphRun(QPointF(0, 0), run);
        runGlyphs.clear();
        runPositions.clear();
    }

    void addGlyph(QPainter &painter, quint32 glyph, QPointF at, QRgb rgb)
    {
        if (rgb != runColour) {
            flushGlyphs(painter);
            runColour = rgb;
        }
        runGlyphs.append(glyph);
        runPositions.append(at);
    }

    // The cells of one row: the characters of its columns, a TAB over its
    // cells (one begun on the row before starts left of column 0). Returns the
    // column after the last cell.
    qsizetype layoutRow(const Line &line, qsizetype rowInLine)
    {
        const qsizetype rowColumn = rowInLine * text.columns();
        qsizetype cellStart = 0;
        const qsizetype offset = text.offsetAtColumn(line, rowColumn, cellStart);
        const qsizetype count = std::min<qsizetype>(line.length - offset, text.columns() + 1);
        rowChars.resize(ix(count));
        if (count > 0)
            text.copy(line.start + offset, count, rowChars.data());
        cells.clear();
        qsizetype column = cellStart - rowColumn;
        for (qsizetype i = 0; i < count && column < text.columns(); ++i) {
            const char16_t c = rowChars[ix(i)];
            const qsizetype width =
                c == u'\t' ? ReceiveBoxText::nextTabStop(column + rowColumn) - column - rowColumn
                           : 1;
            cells.push_back(Cell{line.start + offset + i, static_cast<int>(column),
                                 static_cast<int>(width), c});
            column += width;
        }
        return column;
    }

    struct Colours
    {
        QRgb back = 0;
        QRgb highlight = 0;
        QRgb highlightedText = 0;
        qsizetype selFrom = 0;
        qsizetype selTo = 0;
    };

    Colours colours() const
    {
        const QPalette &palette = q->palette();
        return {backColour.rgb(), palette.color(QPalette::Highlight).rgb(),
                palette.color(QPalette::HighlightedText).rgb(), selectionFrom(), selectionTo()};
    }

    // Foreground of a cell: its run's colour, dimmed for control pictures,
    // or the highlighted text colour.
    QRgb foreground(const Cell &cell, qsizetype &run, const Colours &colours) const
    {
        if (cell.position >= colours.selFrom && cell.position < colours.selTo)
            return colours.highlightedText;
        while (run + 1 < static_cast<qsizetype>(text.colourRuns().size()) &&
               text.colourRuns()[ix(run + 1)].start <= cell.position)
            ++run;
        const QRgb rgb = text.colourRuns()[ix(run)].rgb;
        if (isControl(cell.ch))
            return mix(QColor::fromRgb(rgb), QColor::fromRgb(colours.back), 0.6).rgb();
        return rgb;
    }

    bool lineEndSelected(const Line &line, qsizetype rowInLine, const Colours &colours) const
    {
        return rowInLine + 1 >= text.rowsOf(line.columns) && line.terminator > 0 &&
               line.end() >= colours.selFrom && line.end() < colours.selTo;
    }

    // Where blocks go: 32-bit pixels, the viewport's origin in them and the
    // rectangle that may be written, in device pixels.
    struct Target
    {
        QRgb *bits = nullptr;
        qsizetype stride = 0; // in pixels
        QPoint origin;
        QRect clip;
    };

    // The painter's own image when it paints straight into one of 32-bit
    // opaque pixels (a widget's backing store, a grab): the blocks are copied
    // there and nothing else touches those pixels. Otherwise there is none.
    static bool directTarget(QPainter &painter, const QRect &deviceArea, Target &target)
    {
        QPaintEngine *engine = painter.paintEngine();
        if (!engine || engine->type() != QPaintEngine::Raster || painter.hasClipping())
            return false;
        QPaintDevice *device = engine->paintDevice();
        if (!device || device->devType() != QInternal::Image)
            return false;
        auto *image = static_cast<QImage *>(device);
        const QImage::Format format = image->format();
        if (format != QImage::Format_RGB32 && format != QImage::Format_ARGB32_Premultiplied &&
            format != QImage::Format_ARGB32)
            return false;
        const QTransform transform = painter.deviceTransform();
        if (transform.type() > QTransform::TxTranslate)
            return false;
        const QPoint origin(qRound(transform.dx()), qRound(transform.dy()));
        if (QPointF(origin) != QPointF(transform.dx(), transform.dy()))
            return false;
        QRect clip = deviceArea.translated(origin).intersected(image->rect());
        const QRegion system = engine->systemClip();
        if (!system.isEmpty()) {
            if (system.rectCount() != 1)
                return false;
            clip = clip.intersected(system.boundingRect());
        }
        target.bits = reinterpret_cast<QRgb *>(image->bits());
        target.stride = image->bytesPerLine() / 4;
        target.origin = origin;
        target.clip = clip;
        return true;
    }

    void paint(QPainter &painter, const QRect &area)
    {
        const qreal ratio = q->viewport()->devicePixelRatioF();
        if (std::abs(ratio - std::round(ratio)) > 1e-6) {
            paintWithPainter(painter, area);
            return;
        }
        const int scale = static_cast<int>(std::round(ratio));
        if (scale != blockScale) {
            resetBlocks();
            blockScale = scale;
        }
        if (resetBlocksAfterPaint || blockOverflows.size() >= 8192) {
            resetBlocks();
            resetBlocksAfterPaint = false;
        }
        const QRect deviceArea(area.topLeft() * scale, area.size() * scale);
        Target target;
        const bool direct = directTarget(painter, deviceArea, target);
        if (!direct) {
            const QSize size = q->viewport()->size() * scale;
            if (frame.size() != size) {
                frame = QImage(size, QImage::Format_RGB32);
                frame.setDevicePixelRatio(scale);
            }
            target.bits = reinterpret_cast<QRgb *>(frame.bits());
            target.stride = frame.bytesPerLine() / 4;
            target.clip = deviceArea.intersected(frame.rect());
        }
        if (target.clip.isEmpty())
            return;

        const Colours colours = this->colours();
        const int top = std::max(0, area.top() / cellHeight);
        const int bottom = area.bottom() / cellHeight;
        int row = top;
        if (firstRow + top < text.rowCount()) {
            const Located located = text.lineAtRow(firstRow + top);
            Line line = located.line;
            qsizetype rowInLine = firstRow + top - located.firstRow;
            for (; row <= bottom; ++row) {
                blitRow(target, line, rowInLine, row, colours);
                if (++rowInLine >= text.rowsOf(line.columns)) {
                    if (!text.nextLine(line)) {
                        ++row;
                        break;
                    }
                    rowInLine = 0;
                }
            }
        }
        canvasPainter.reset();
        if (row <= bottom) // rows past the text
            fill(target,
                 QRect(0, row * cellHeight * scale, q->viewport()->width() * scale,
                       (bottom + 1 - row) * cellHeight * scale),
                 colours.back);
        if (!direct)
            painter.drawImage(area.topLeft(), frame, deviceArea);

        for (const Overflow &o : overflows)
            drawInCell(painter, o.at, o.text, o.fg);
        overflows.clear();
        drawCaret(painter, bottom);
    }

    // A glyph wider than its cells (an ideograph, an emoji from a fallback
    // font) is narrowed to them rather than spilling over its neighbours. A
    // surrogate pair has two cells, one per UTF-16 unit.
    void drawInCell(QPainter &painter, QPointF baseline, const QString &glyph, QRgb rgb)
    {
        painter.setFont(q->font());
        painter.setPen(QColor::fromRgb(rgb));
        const qreal advance = QFontMetricsF(q->font()).horizontalAdvance(glyph);
        const qreal room = qreal(cellWidth) * qreal(glyph.size());
        if (advance <= room + 0.5) {
            painter.drawText(baseline, glyph);
            return;
        }
        painter.save();
        painter.translate(baseline);
        painter.scale(room / advance, 1.0);
        painter.drawText(QPointF(0, 0), glyph);
        painter.restore();
    }

    void drawCaret(QPainter &painter, int bottomRow)
    {
        if (!q->hasFocus() || anchor != caret)
            return;
        const RowColumn at = text.rowColumnOf(caret);
        if (at.row < firstRow || at.row > firstRow + bottomRow)
            return;
        const int x = std::min(static_cast<int>(at.column) * cellWidth, q->viewport()->width() - 1);
        painter.fillRect(QRect(x, static_cast<int>(at.row - firstRow) * cellHeight, 1, cellHeight),
                         textColour);
    }

    // Fills a rectangle given in device pixels relative to the viewport.
    void fill(const Target &target, const QRect &rect, QRgb rgb)
    {
        const QRect r = rect.translated(target.origin).intersected(target.clip);
        if (r.isEmpty())
            return;
        const QRgb *row = backRow(rgb, r.width());
        for (int y = r.top(); y <= r.bottom(); ++y)
            std::memcpy(target.bits + y * target.stride + r.left(), row, ix(r.width()) * 4);
    }

    // A row of one colour to copy from: copying is much faster than filling
    // pixel by pixel.
    const QRgb *backRow(QRgb rgb, int width)
    {
        const QRgb pixel = 0xFF000000u | rgb;
        if (backRowPixels.size() < ix(width) ||
            (!backRowPixels.empty() && backRowPixels.front() != pixel))
            backRowPixels.assign(ix(std::max(width, 2048)), pixel);
        return backRowPixels.data();
    }

    const QRgb *blockAt(qint32 index) const
    {
        const int size = cellWidth * blockScale * cellHeight * blockScale;
        return blockPixels.data() + qsizetype{index} * size;
    }

    // One block, clipped to the target.
    void copyBlock(const Target &target, const QRgb *from, int x, int y)
    {
        const int width = cellWidth * blockScale;
        const int height = cellHeight * blockScale;
        const QRect cell(target.origin.x() + x, target.origin.y() + y, width, height);
        const QRect part = cell.intersected(target.clip);
        for (int py = part.top(); py <= part.bottom(); ++py)
            std::memcpy(target.bits + py * target.stride + part.left(),
                        from + qsizetype{py - cell.y()} * width + (part.left() - cell.x()),
                        ix(part.width()) * 4);
    }

    void blitRow(const Target &target, const Line &line, qsizetype rowInLine, int viewRow,
                 const Colours &colours)
    {
        const qsizetype end = layoutRow(line, rowInLine);
        const int width = cellWidth * blockScale;
        const int height = cellHeight * blockScale;
        const int y = viewRow * height;
        // The block of every column first, then the copying, a pixel row at a
        // time.
        rowBlocks.assign(ix(std::clamp<qsizetype>(end, 0, text.columns())), 0);
        qsizetype run = cells.empty() ? 0 : text.runIndexAt(cells.front().position);
        for (std::size_t i = 0; i < cells.size(); ++i) {
            const Cell &cell = cells[i];
            const bool selected = cell.position >= colours.selFrom && cell.position < colours.selTo;
            const QRgb fg = foreground(cell, run, colours);
            const qint32 pair = pairIndex(fg, selected ? colours.highlight : colours.back);
            for (int k = 0; k < cell.width; ++k) {
                const qsizetype column = qsizetype{cell.column} + k;
                if (column < 0 || column >= text.columns())
                    continue;
                const qint32 index = block(k == 0 ? cell.ch : u' ', pair);
                rowBlocks[ix(column)] = index;
                if (k == 0 && blockOverflows[ix(index)]) {
                    QString glyph{QChar(cell.ch)};
                    if (QChar::isHighSurrogate(cell.ch) && i + 1 < cells.size())
                        glyph.append(QChar(cells[i + 1].ch));
                    overflows.push_back(
                        Overflow{QPointF(qreal(column) * cellWidth, viewRow * cellHeight + ascent),
                                 glyph, fg});
                }
            }
        }
        if (rowBlocks.size() < ix(text.columns()) && lineEndSelected(line, rowInLine, colours))
            rowBlocks.push_back(block(u' ', pairIndex(colours.highlightedText, colours.highlight)));
        const auto count = static_cast<qsizetype>(rowBlocks.size());
        const int x = static_cast<int>(count) * width;
        const QRect blocksRect(target.origin.x(), target.origin.y() + y, x, height);
        if (target.clip.contains(blocksRect, false) || count == 0) {
            copyBlocks(target.bits + qsizetype{blocksRect.y()} * target.stride + blocksRect.x(),
                       target.stride, blockPixels.data(), rowBlocks.data(), count, width, height);
        } else {
            for (qsizetype c = 0; c < count; ++c)
                copyBlock(target, blockAt(rowBlocks[ix(c)]), static_cast<int>(c) * width, y);
        }
        fill(target, QRect(x, y, q->viewport()->width() * blockScale - x, height), colours.back);
    }

    // At a fractional device pixel ratio cells are not whole pixels: the
    // characters are drawn as glyph runs at the cells' positions.
    void paintWithPainter(QPainter &painter, const QRect &area)
    {
        painter.fillRect(area, backColour);
        const Colours colours = this->colours();
        const int top = std::max(0, area.top() / cellHeight);
        const int bottom = area.bottom() / cellHeight;
        if (firstRow + top < text.rowCount()) {
            const Located located = text.lineAtRow(firstRow + top);
            Line line = located.line;
            qsizetype rowInLine = firstRow + top - located.firstRow;
            for (int row = top; row <= bottom; ++row) {
                paintRow(painter, line, rowInLine, row * cellHeight, colours);
                if (++rowInLine >= text.rowsOf(line.columns)) {
                    if (!text.nextLine(line))
                        break;
                    rowInLine = 0;
                }
            }
            flushGlyphs(painter);
        }
        drawCaret(painter, bottom);
    }

    void paintRow(QPainter &painter, const Line &line, qsizetype rowInLine, int y,
                  const Colours &colours)
    {
        const qsizetype end = layoutRow(line, rowInLine);
        auto fill = [&](qsizetype fromColumn, qsizetype toColumn) {
            fromColumn = std::max<qsizetype>(0, fromColumn);
            toColumn = std::min<qsizetype>(text.columns(), toColumn);
            if (fromColumn < toColumn)
                painter.fillRect(QRect(static_cast<int>(fromColumn) * cellWidth, y,
                                       static_cast<int>(toColumn - fromColumn) * cellWidth,
                                       cellHeight),
                                 QColor::fromRgb(colours.highlight));
        };
        for (const Cell &cell : cells) {
            if (cell.position >= colours.selFrom && cell.position < colours.selTo)
                fill(cell.column, cell.column + cell.width);
        }
        if (lineEndSelected(line, rowInLine, colours))
            fill(end, end + 1);

        qsizetype run = cells.empty() ? 0 : text.runIndexAt(cells.front().position);
        const int baseline = y + ascent;
        for (std::size_t i = 0; i < cells.size(); ++i) {
            const Cell &cell = cells[i];
            const char16_t c = cell.ch;
            if (c == u'\t' || c == u' ' || QChar::isLowSurrogate(c))
                continue;
            const QRgb rgb = foreground(cell, run, colours);
            const int x = cell.column * cellWidth;
            if (isControl(c)) {
                painter.drawPixmap(QPoint(x, y), controlPicture(c, rgb));
                continue;
            }
            const quint32 glyph = QChar::isHighSurrogate(c) ? 0 : glyphFor(c);
            if (glyph != 0) {
                addGlyph(painter, glyph, QPointF(x, baseline), rgb);
                continue;
            }
            // Not in the box's font: drawn by fallback, still at its cell.
            QString fallback{QChar(c)};
            if (QChar::isHighSurrogate(c) && i + 1 < cells.size())
                fallback.append(QChar(cells[i + 1].ch));
            drawInCell(painter, QPointF(x, baseline), fallback, rgb);
        }
    }

    void autoScrollStep()
    {
        const int height = q->viewport()->height();
        const int y = dragPoint.y();
        qsizetype delta = 0;
        if (y < 0)
            delta = -1 - (-y) / cellHeight;
        else if (y >= height)
            delta = 1 + (y - height) / cellHeight;
        if (delta == 0) {
            autoScroll.stop();
            return;
        }
        setFirstRow(firstRow + delta);
        caret = hitTest(dragPoint, true);
        selectionMoved();
    }
};

namespace {
QAccessibleInterface *receiveBoxAccessible(const QString &className, QObject *object);
} // namespace

ReceiveBox::ReceiveBox(QWidget *parent) : QAbstractScrollArea(parent), d(new Private(this))
{
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(&receiveBoxAccessible);
        return true;
    }();
    Q_UNUSED(factoryInstalled)
    d->scrollBar = new ScrollBar(Qt::Vertical, this);
    setVerticalScrollBar(d->scrollBar);
    setFont(platform::fixedsysFont());
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Always there, so that text arriving never changes the width and rewraps.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    viewport()->setAutoFillBackground(false);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setCursor(Qt::IBeamCursor);
    d->textColour = palette().color(QPalette::Window);
    d->backColour = palette().color(QPalette::WindowText);
    d->text.clear(d->textColour.rgb());
    d->updateMetrics();
    d->autoScroll.setInterval(50);
    connect(&d->autoScroll, &QTimer::timeout, this, [this] { d->autoScrollStep(); });
    d->updateGeometry();
}

ReceiveBox::~ReceiveBox() = default;

QString ReceiveBox::Text() const
{
    return d->text.mid(0, d->text.length());
}

void ReceiveBox::setText(QStringView text)
{
    d->clear();
    d->text.append(text);
    d->appended(0);
    d->syncScrollBar();
}

void ReceiveBox::append(QStringView text)
{
    const qsizetype from = d->text.length();
    d->text.append(text);
    d->appended(from);
}

void ReceiveBox::appendBytes(QByteArrayView bytes, const std::array<char16_t, 256> &charOf)
{
    const qsizetype from = d->text.length();
    d->text.appendBytes(bytes, charOf);
    d->appended(from);
}

qsizetype ReceiveBox::length() const
{
    return d->text.length();
}

QString ReceiveBox::mid(qsizetype from, qsizetype count) const
{
    return d->text.mid(from, count);
}

void ReceiveBox::setSelStart(qsizetype position)
{
    position = std::clamp<qsizetype>(position, 0, d->text.length());
    d->anchor = d->caret = position;
    d->ensureVisible(position);
    d->selectionMoved();
}

qsizetype ReceiveBox::selStart() const
{
    return d->selectionFrom();
}

void ReceiveBox::setTextColour(const QColor &colour)
{
    d->textColour = colour;
    d->text.setColour(colour.rgb());
}

QColor ReceiveBox::textColour() const
{
    return d->textColour;
}

void ReceiveBox::setBackColour(const QColor &colour)
{
    d->backColour = colour;
    viewport()->update();
}

QColor ReceiveBox::backColour() const
{
    return d->backColour;
}

qsizetype ReceiveBox::selectionStart() const
{
    return d->selectionFrom();
}

qsizetype ReceiveBox::selectionEnd() const
{
    return d->selectionTo();
}

void ReceiveBox::setSelection(qsizetype anchor, qsizetype position)
{
    d->anchor = std::clamp<qsizetype>(anchor, 0, d->text.length());
    d->caret = std::clamp<qsizetype>(position, 0, d->text.length());
    d->selectionMoved();
}

QString ReceiveBox::selectedText() const
{
    return d->text.mid(d->selectionFrom(), d->selectionTo() - d->selectionFrom());
}

void ReceiveBox::selectAll()
{
    setSelection(0, d->text.length());
}

void ReceiveBox::copy() const
{
    if (d->selectionFrom() == d->selectionTo())
        return;
    QGuiApplication::clipboard()->setText(selectedText());
}

qsizetype ReceiveBox::positionAt(const QPoint &viewportPoint) const
{
    return d->hitTest(viewportPoint, false);
}

qsizetype ReceiveBox::firstVisibleRow() const
{
    return d->firstRow;
}

qsizetype ReceiveBox::rowCount() const
{
    return d->text.rowCount();
}

int ReceiveBox::columnsPerRow() const
{
    return d->text.columns();
}

int ReceiveBox::visibleRowCount() const
{
    return d->visibleRows;
}

QSize ReceiveBox::cellSize() const
{
    return {d->cellWidth, d->cellHeight};
}

QMenu *ReceiveBox::createContextMenu(QWidget *parent)
{
    auto *menu = new QMenu(parent);
    QAction *copyAction = menu->addAction(QStringLiteral("Copiar"));
    copyAction->setShortcut(QKeySequence::Copy);
    copyAction->setEnabled(d->selectionFrom() != d->selectionTo());
    connect(copyAction, &QAction::triggered, this, &ReceiveBox::copy);
    QAction *selectAllAction = menu->addAction(QStringLiteral("Seleccionar todo"));
    selectAllAction->setShortcut(QKeySequence::SelectAll);
    selectAllAction->setEnabled(d->text.length() > 0);
    connect(selectAllAction, &QAction::triggered, this, &ReceiveBox::selectAll);
    return menu;
}

void ReceiveBox::paintEvent(QPaintEvent *event)
{
    QPainter painter(viewport());
    d->paint(painter, event->rect());
}

void ReceiveBox::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    d->updateGeometry();
}

void ReceiveBox::scrollContentsBy(int, int)
{
    d->scrollBarMoved(verticalScrollBar()->value());
}

void ReceiveBox::keyPressEvent(QKeyEvent *event)
{
    if (event == QKeySequence::Copy) {
        copy();
        return;
    }
    if (event == QKeySequence::SelectAll) {
        selectAll();
        return;
    }
    const bool control = (event->modifiers() & Qt::ControlModifier) != 0;
    switch (event->key()) {
    case Qt::Key_PageUp:
        d->setFirstRow(d->firstRow - d->visibleRows);
        return;
    case Qt::Key_PageDown:
        d->setFirstRow(d->firstRow + d->visibleRows);
        return;
    case Qt::Key_Up:
        d->setFirstRow(d->firstRow - 1);
        return;
    case Qt::Key_Down:
        d->setFirstRow(d->firstRow + 1);
        return;
    case Qt::Key_Home:
        if (control) {
            d->setFirstRow(0);
            return;
        }
        break;
    case Qt::Key_End:
        if (control) {
            d->setFirstRow(d->maxFirstRow());
            return;
        }
        break;
    default:
        break;
    }
    event->ignore();
}

void ReceiveBox::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    const qsizetype position = d->hitTest(event->position().toPoint(), true);
    if ((event->modifiers() & Qt::ShiftModifier) == 0)
        d->anchor = position;
    d->caret = position;
    d->dragging = true;
    d->selectionMoved();
}

void ReceiveBox::mouseMoveEvent(QMouseEvent *event)
{
    if (!d->dragging || (event->buttons() & Qt::LeftButton) == 0) {
        QAbstractScrollArea::mouseMoveEvent(event);
        return;
    }
    d->dragPoint = event->position().toPoint();
    d->caret = d->hitTest(d->dragPoint, true);
    const bool outside = d->dragPoint.y() < 0 || d->dragPoint.y() >= viewport()->height();
    if (outside && !d->autoScroll.isActive())
        d->autoScroll.start();
    else if (!outside)
        d->autoScroll.stop();
    d->selectionMoved();
}

void ReceiveBox::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mouseReleaseEvent(event);
        return;
    }
    d->dragging = false;
    d->autoScroll.stop();
}

void ReceiveBox::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mouseDoubleClickEvent(event);
        return;
    }
    d->selectWordAt(d->hitTest(event->position().toPoint(), false));
    d->selectionMoved();
}

void ReceiveBox::wheelEvent(QWheelEvent *event)
{
    // 120 units are one notch; a notch scrolls the usual number of rows.
    d->wheelRemainder += event->angleDelta().y();
    const int notches = d->wheelRemainder / 120;
    d->wheelRemainder -= notches * 120;
    if (notches != 0)
        d->setFirstRow(d->firstRow - qsizetype{notches} * QApplication::wheelScrollLines());
    event->accept();
}

void ReceiveBox::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu *menu = createContextMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

void ReceiveBox::changeEvent(QEvent *event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        // Rows depend on the number of columns only, which updateGeometry()
        // follows.
        d->updateMetrics();
        d->updateGeometry();
        viewport()->update();
    } else if (event->type() == QEvent::PaletteChange) {
        viewport()->update();
    }
}

void ReceiveBox::focusInEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void ReceiveBox::focusOutEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

// What assistive technology sees of the box: read-only multi-line text,
// read in the ranges it asks for, never as a whole.
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
            *startOffset = accessibleOffset(d().selectionFrom());
            *endOffset = accessibleOffset(d().selectionTo());
        }
    }

    int selectionCount() const override { return d().anchor != d().caret ? 1 : 0; }
    void addSelection(int startOffset, int endOffset) override
    {
        setSelection(0, startOffset, endOffset);
    }
    void removeSelection(int selectionIndex) override
    {
        if (selectionIndex == 0)
            box()->setSelection(d().caret, d().caret);
    }
    void setSelection(int selectionIndex, int startOffset, int endOffset) override
    {
        if (selectionIndex == 0)
            box()->setSelection(startOffset, endOffset);
    }

    int cursorPosition() const override { return accessibleOffset(d().caret); }
    void setCursorPosition(int position) override { box()->setSelStart(position); }

    QString text(int startOffset, int endOffset) const override
    {
        const qsizetype from = std::clamp(startOffset, 0, characterCount());
        const qsizetype to = std::clamp(endOffset, 0, characterCount());
        return from < to ? d().text.mid(from, to - from) : QString();
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

    int characterCount() const override { return accessibleOffset(d().text.length()); }

    QRect characterRect(int offset) const override
    {
        if (offset < 0 || offset >= characterCount())
            return {};
        const ReceiveBoxText::RowColumn at = d().text.rowColumnOf(offset);
        const QPoint topLeft(static_cast<int>(at.column) * d().cellWidth,
                             static_cast<int>(at.row - d().firstRow) * d().cellHeight);
        return {box()->viewport()->mapToGlobal(topLeft), QSize(d().cellWidth, d().cellHeight)};
    }

    int offsetAtPoint(const QPoint &point) const override
    {
        const QPoint inViewport = box()->viewport()->mapFromGlobal(point);
        if (!box()->viewport()->rect().contains(inViewport))
            return -1;
        const qsizetype position = d().hitTest(inViewport, false);
        return position < d().text.length() ? accessibleOffset(position) : -1;
    }

    void scrollToSubstring(int startIndex, int endIndex) override
    {
        ReceiveBox::Private &data = *box()->d;
        data.ensureVisible(std::clamp(endIndex, 0, characterCount()));
        data.ensureVisible(std::clamp(startIndex, 0, characterCount()));
        box()->viewport()->update();
    }

    QString attributes(int offset, int *startOffset, int *endOffset) const override
    {
        *startOffset = *endOffset = std::clamp(offset, 0, characterCount());
        return {};
    }

private:
    using Range = std::pair<qsizetype, qsizetype>;

    ReceiveBox *box() const { return static_cast<ReceiveBox *>(widget()); }
    const ReceiveBox::Private &d() const { return *box()->d; }

    // The piece of text of that kind holding the offset: a character, a
    // word (as a double click takes it), or a line with its line end.
    Range range(qsizetype offset, QAccessible::TextBoundaryType boundary) const
    {
        const qsizetype count = characterCount();
        if (boundary == QAccessible::NoBoundary)
            return {0, count};
        if (offset < 0 || offset >= count)
            return {count, count};
        switch (boundary) {
        case QAccessible::CharBoundary: {
            const bool pair = offset + 1 < count && QChar::isHighSurrogate(d().text.at(offset)) &&
                              QChar::isLowSurrogate(d().text.at(offset + 1));
            return {offset, offset + (pair ? 2 : 1)};
        }
        case QAccessible::WordBoundary: {
            const Range word = d().wordAt(offset);
            return word.first < word.second ? word : Range{offset, offset + 1};
        }
        default: {
            const ReceiveBoxText::Line line = d().text.lineAtPosition(offset).line;
            return {line.start, std::min(line.nextStart(), count)};
        }
        }
    }

    QString rangeText(Range range, int *startOffset, int *endOffset) const
    {
        *startOffset = static_cast<int>(range.first);
        *endOffset = static_cast<int>(range.second);
        return range.first < range.second ? d().text.mid(range.first, range.second - range.first)
                                          : QString();
    }
};

namespace {

QAccessibleInterface *receiveBoxAccessible(const QString &className, QObject *object)
{
    if (className == QLatin1String(ReceiveBox::staticMetaObject.className()))
        if (auto *box = qobject_cast<ReceiveBox *>(object))
            return new ReceiveBoxAccessible(box);
    return nullptr;
}

} // namespace
