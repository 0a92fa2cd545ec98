#pragma once

// The paint path at a fractional device pixel ratio, where cells are not
// whole pixels: the characters are drawn as glyph runs at their cells'
// positions, control characters as pictures.

#include "receivebox/views/View.h"

#include <QList>
#include <QPointF>
#include <QRect>

#include <vector>

class CellCache;
class QPainter;

class GlyphRunPainter final
{
public:
    explicit GlyphRunPainter(CellCache &cache) : m_cache(cache) {}
    Q_DISABLE_COPY_MOVE(GlyphRunPainter)

    void paint(QPainter &painter, const QRect &area, const ViewState &view);

private:
    void paintRow(QPainter &painter, const std::vector<Cell> &cells, qsizetype end,
                  bool lineEndSelected, int y, const ViewState &view);
    void addGlyph(QPainter &painter, quint32 glyph, QPointF at, QRgb rgb);
    void flushGlyphs(QPainter &painter);

    CellCache &m_cache;
    RowLayout m_row;
    QList<quint32> m_runGlyphs;
    QList<QPointF> m_runPositions;
    QRgb m_runColour = 0;
};
