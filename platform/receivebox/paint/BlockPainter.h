#pragma once

// The paint path at a whole-number device pixel ratio: every cell is a block
// of pixels rendered once per character and colour pair (CellCache), and a
// paint copies blocks into the painter's image (or into a frame of its own,
// drawn with one drawImage), with no text layout or glyph blending per paint.

#include "receivebox/views/View.h"

#include <QImage>
#include <QPointF>
#include <QRect>
#include <QString>

#include <vector>

class CellCache;
class QPainter;

class BlockPainter final
{
public:
    explicit BlockPainter(CellCache &cache) : m_cache(cache) {}
    Q_DISABLE_COPY_MOVE(BlockPainter)

    // Paints the rows of the view that meet the area (viewport coordinates)
    // at that scale, and the background below the text.
    void paint(QPainter &painter, const QRect &area, const ViewState &view, int scale);

private:
    // Where blocks go: 32-bit pixels, the viewport's origin in them and the
    // rectangle that may be written, in device pixels.
    struct Target
    {
        QRgb *bits = nullptr;
        qsizetype stride = 0; // in pixels
        QPoint origin;
        QRect clip;
    };

    struct Overflow
    {
        QPointF at;
        QString text;
        QRgb fg = 0;
    };

    static bool directTarget(QPainter &painter, const QRect &deviceArea, Target &target);
    void blitRow(const Target &target, const std::vector<Cell> &cells, qsizetype end,
                 bool lineEndSelected, int viewRow, const ViewState &view);
    void fill(const Target &target, const QRect &rect, QRgb rgb);
    const QRgb *backRow(QRgb rgb, int width);
    void copyBlock(const Target &target, const QRgb *from, int x, int y);

    CellCache &m_cache;
    RowLayout m_row;
    int m_scale = 1;
    QImage m_frame; // where blocks go when the painter's device takes none
    std::vector<Overflow> m_overflows;
    std::vector<QRgb> m_backRowPixels;
    std::vector<qint32> m_rowBlocks;
};
