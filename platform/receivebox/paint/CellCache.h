#pragma once

// Everything the paint paths draw a cell with, made once and kept: the glyph
// of each character in the box's font, pictures of control characters, and,
// for painting at a whole-number pixel ratio, each character in each pair of
// colours pre-rendered as a block of pixels to copy.

#include "receivebox/views/View.h"

#include <QFont>
#include <QHash>
#include <QImage>
#include <QPixmap>
#include <QRawFont>
#include <QRgb>

#include <array>
#include <memory>
#include <vector>

class QPainter;

class CellCache final
{
public:
    CellCache();
    ~CellCache();
    Q_DISABLE_COPY_MOVE(CellCache)

    // Forgets everything drawn with the old font.
    void setFont(const QFont &font, const CellMetrics &metrics);
    const QFont &font() const { return m_font; }
    const QRawFont &rawFont() const { return m_rawFont; }
    const CellMetrics &metrics() const { return m_metrics; }

    // Glyph of a character in the box's font; 0 where it has none.
    quint32 glyphFor(char16_t c);
    // A control character's picture at that pixel ratio.
    const QPixmap &controlPicture(char16_t code, QRgb rgb, qreal ratio);
    // Draws a character at its cells, narrowed to them if its glyph is wider.
    void drawInCell(QPainter &painter, QPointF baseline, const QString &glyph, QRgb rgb) const;

    // --- blocks, at a whole-number pixel ratio ---

    // Before a paint at that scale: starts afresh when the scale changed or
    // the cache has grown past its bounds.
    void beginBlocks(int scale);
    void endBlocks();
    qint32 pairIndex(QRgb fg, QRgb bg);
    // The block of a character in a pair of colours, rendered on first use.
    qint32 block(char16_t c, qint32 pair);
    // Whether the block's glyph did not fit its cell (the block is then
    // empty, and the character is drawn over it).
    bool overflows(qint32 block) const { return m_blockOverflows[static_cast<std::size_t>(block)]; }
    const QRgb *blockPixels() const { return m_blockPixels.data(); }
    const QRgb *blockAt(qint32 index) const;

private:
    struct ColourPair
    {
        QRgb fg = 0;
        QRgb bg = 0;
        std::array<qint32, 256> latin1{};
    };

    void resetBlocks();
    qint32 renderBlock(char16_t c, QRgb fg, QRgb bg);
    void drawControlPicture(QPainter &painter, const QRect &cell, char16_t code, QRgb rgb) const;

    QFont m_font;
    QRawFont m_rawFont;
    CellMetrics m_metrics;
    std::vector<quint32> m_glyphs;
    QHash<quint64, QPixmap> m_controlPictures;

    std::vector<ColourPair> m_pairs;
    qint32 m_lastPair = -1;
    QHash<quint64, qint32> m_wideBlocks; // (pair << 16) | character
    std::vector<quint32> m_blockPixels;
    std::vector<bool> m_blockOverflows;
    int m_blockScale = 0; // the pixel ratio the blocks were rendered at
    bool m_resetAfterPaint = false;
    QImage m_canvas; // where blocks are rendered
    std::unique_ptr<QPainter> m_canvasPainter;
};
