#include "GlyphRunPainter.h"

#include "CellCache.h"

#include <QGlyphRun>
#include <QPainter>

#include <algorithm>

void GlyphRunPainter::paint(QPainter &painter, const QRect &area, const ViewState &view)
{
    painter.fillRect(area, QColor::fromRgb(view.colours.back));
    const int cellHeight = view.cell.height;
    const int top = std::max(0, area.top() / cellHeight);
    const int bottom = area.bottom() / cellHeight;
    forEachLaidRow(
        view, top, bottom, m_row,
        [&](const std::vector<Cell> &cells, qsizetype end, bool lineEndSelected, int viewRow) {
            paintRow(painter, cells, end, lineEndSelected, viewRow * cellHeight, view);
        });
    flushGlyphs(painter);
}

void GlyphRunPainter::flushGlyphs(QPainter &painter)
{
    if (m_runGlyphs.isEmpty())
        return;
    QGlyphRun run;
    run.setRawFont(m_cache.rawFont());
    run.setGlyphIndexes(m_runGlyphs);
    run.setPositions(m_runPositions);
    painter.setPen(QColor::fromRgb(m_runColour));
    painter.drawGlyphRun(QPointF(0, 0), run);
    m_runGlyphs.clear();
    m_runPositions.clear();
}

void GlyphRunPainter::addGlyph(QPainter &painter, quint32 glyph, QPointF at, QRgb rgb)
{
    if (rgb != m_runColour) {
        flushGlyphs(painter);
        m_runColour = rgb;
    }
    m_runGlyphs.append(glyph);
    m_runPositions.append(at);
}

void GlyphRunPainter::paintRow(QPainter &painter, const std::vector<Cell> &cells, qsizetype end,
                               bool lineEndSelected, int y, const ViewState &view)
{
    const RowColours &colours = view.colours;
    const qsizetype columns = view.text.lines().columns();
    const int cellWidth = view.cell.width;
    auto fill = [&](qsizetype fromColumn, qsizetype toColumn) {
        fromColumn = std::max<qsizetype>(0, fromColumn);
        toColumn = std::min<qsizetype>(columns, toColumn);
        if (fromColumn < toColumn)
            painter.fillRect(QRect(static_cast<int>(fromColumn) * cellWidth, y,
                                   static_cast<int>(toColumn - fromColumn) * cellWidth,
                                   view.cell.height),
                             QColor::fromRgb(colours.highlight));
    };
    for (const Cell &cell : cells) {
        if (colours.selected(cell))
            fill(cell.column, cell.column + cell.width);
    }
    if (lineEndSelected)
        fill(end, end + 1);

    const int baseline = y + view.cell.ascent;
    const qreal ratio = painter.device()->devicePixelRatioF();
    for (std::size_t i = 0; i < cells.size(); ++i) {
        const Cell &cell = cells[i];
        const char16_t c = cell.ch;
        if (c == u'\t' || c == u' ' || QChar::isLowSurrogate(c))
            continue;
        const QRgb rgb = RowLayout::foreground(view.text, cell, colours);
        const int x = cell.column * cellWidth;
        if (isControl(c)) {
            painter.drawPixmap(QPoint(x, y), m_cache.controlPicture(c, rgb, ratio));
            continue;
        }
        const quint32 glyph = QChar::isHighSurrogate(c) ? 0 : m_cache.glyphFor(c);
        if (glyph != 0) {
            addGlyph(painter, glyph, QPointF(x, baseline), rgb);
            continue;
        }
        // Not in the box's font: drawn by fallback, still at its cell.
        QString fallback{QChar(c)};
        if (QChar::isHighSurrogate(c) && i + 1 < cells.size())
            fallback.append(QChar(cells[i + 1].ch));
        m_cache.drawInCell(painter, QPointF(x, baseline), fallback, rgb);
    }
}
