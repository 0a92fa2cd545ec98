#include "CellCache.h"

#include "transcript/Indexing.h"

#include <QFontMetricsF>
#include <QGlyphRun>
#include <QPainter>

#include <algorithm>
#include <cstdlib>

using platform::transcript::ix;

namespace {

constexpr quint32 kUnknownGlyph = 0xFFFFFFFFu;
// One glyph slot per UTF-16 unit: 256 KiB, and a glyph is looked up once.
constexpr std::size_t kGlyphSlots = 0x10000;
// Control pictures are keyed by colour too; a transcript that changes colour
// often would otherwise grow the cache without end. A few hundred cover every
// control character in the colours a session uses.
constexpr qsizetype kMostControlPictures = 1024;
// Blocks are 4 bytes a pixel (about 500 bytes for a 9 x 15 cell at scale 1):
// 8192 of them stay within a few MiB, far more than one screen shows, so a
// reset happens only when text of very many different characters passes by.
constexpr std::size_t kMostBlocks = 8192;
// Colour pairs each hold a 256-entry table; past this many the blocks start
// afresh after the paint, as colours seldom change within a session.
constexpr std::size_t kMostColourPairs = 64;

} // namespace

CellCache::CellCache() = default;

CellCache::~CellCache() = default;

void CellCache::setFont(const QFont &font, const CellMetrics &metrics)
{
    m_font = font;
    m_metrics = metrics;
    m_rawFont = QRawFont::fromFont(font);
    m_glyphs.assign(kGlyphSlots, kUnknownGlyph);
    m_controlPictures.clear();
    resetBlocks();
}

quint32 CellCache::glyphFor(char16_t c)
{
    quint32 &glyph = m_glyphs[c];
    if (glyph == kUnknownGlyph) {
        const QChar ch(c);
        quint32 index = 0;
        int count = 1;
        if (!m_rawFont.isValid() || !m_rawFont.glyphIndexesForChars(&ch, 1, &index, &count) ||
            count != 1)
            index = 0;
        glyph = index;
    }
    return glyph;
}

// A control character is drawn as its code in two small hex digits, one above
// the other, filling exactly one cell.
void CellCache::drawControlPicture(QPainter &painter, const QRect &cell, char16_t code,
                                   QRgb rgb) const
{
    QFont small = m_font;
    small.setPixelSize(std::max(5, cell.height() / 2));
    small.setWeight(QFont::DemiBold);
    painter.setFont(small);
    painter.setPen(QColor::fromRgb(rgb));
    const QString digits = QStringLiteral("%1").arg(int{code}, 2, 16, QLatin1Char('0')).toUpper();
    const int half = cell.height() / 2;
    painter.drawText(QRect(cell.x(), cell.y(), cell.width(), half), Qt::AlignCenter,
                     digits.left(1));
    painter.drawText(QRect(cell.x(), cell.y() + half, cell.width(), cell.height() - half),
                     Qt::AlignCenter, digits.right(1));
}

const QPixmap &CellCache::controlPicture(char16_t code, QRgb rgb, qreal ratio)
{
    const quint64 key = (quint64{rgb} << 16) | code;
    auto it = m_controlPictures.constFind(key);
    if (it != m_controlPictures.constEnd() && it->devicePixelRatio() == ratio)
        return *it;
    if (m_controlPictures.size() > kMostControlPictures)
        m_controlPictures.clear();
    QPixmap picture(QSize(m_metrics.width, m_metrics.height) * ratio);
    picture.setDevicePixelRatio(ratio);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    drawControlPicture(painter, QRect(0, 0, m_metrics.width, m_metrics.height), code, rgb);
    painter.end();
    return *m_controlPictures.insert(key, picture);
}

// A glyph wider than its cells (an ideograph, an emoji from a fallback font)
// is narrowed to them rather than spilling over its neighbours. A surrogate
// pair has two cells, one per UTF-16 unit.
void CellCache::drawInCell(QPainter &painter, QPointF baseline, const QString &glyph,
                           QRgb rgb) const
{
    painter.setFont(m_font);
    painter.setPen(QColor::fromRgb(rgb));
    const qreal advance = QFontMetricsF(m_font).horizontalAdvance(glyph);
    const qreal room = qreal(m_metrics.width) * qreal(glyph.size());
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

void CellCache::resetBlocks()
{
    m_canvasPainter.reset();
    m_pairs.clear();
    m_lastPair = -1;
    m_wideBlocks.clear();
    m_blockPixels.clear();
    m_blockPixels.shrink_to_fit();
    m_blockOverflows.clear();
}

void CellCache::beginBlocks(int scale)
{
    if (scale != m_blockScale) {
        resetBlocks();
        m_blockScale = scale;
    }
    if (m_resetAfterPaint || m_blockOverflows.size() >= kMostBlocks) {
        resetBlocks();
        m_resetAfterPaint = false;
    }
}

void CellCache::endBlocks()
{
    m_canvasPainter.reset();
}

qint32 CellCache::pairIndex(QRgb fg, QRgb bg)
{
    if (m_lastPair >= 0 && m_pairs[ix(m_lastPair)].fg == fg && m_pairs[ix(m_lastPair)].bg == bg)
        return m_lastPair;
    for (std::size_t i = 0; i < m_pairs.size(); ++i) {
        if (m_pairs[i].fg == fg && m_pairs[i].bg == bg)
            return m_lastPair = static_cast<qint32>(i);
    }
    if (m_pairs.size() >= kMostColourPairs)
        m_resetAfterPaint = true;
    ColourPair pair;
    pair.fg = fg;
    pair.bg = bg;
    pair.latin1.fill(-1);
    m_pairs.push_back(pair);
    return m_lastPair = static_cast<qint32>(m_pairs.size() - 1);
}

qint32 CellCache::block(char16_t c, qint32 pair)
{
    if (c < 0x100) {
        qint32 &slot = m_pairs[ix(pair)].latin1[c];
        if (slot < 0)
            slot = renderBlock(c, m_pairs[ix(pair)].fg, m_pairs[ix(pair)].bg);
        return slot;
    }
    const quint64 key = (quint64(pair) << 16) | c;
    auto it = m_wideBlocks.constFind(key);
    if (it != m_wideBlocks.constEnd())
        return *it;
    const qint32 index = renderBlock(c, m_pairs[ix(pair)].fg, m_pairs[ix(pair)].bg);
    m_wideBlocks.insert(key, index);
    return index;
}

const QRgb *CellCache::blockAt(qint32 index) const
{
    const int size = m_metrics.width * m_blockScale * m_metrics.height * m_blockScale;
    return m_blockPixels.data() + qsizetype{index} * size;
}

// Renders a character in the middle of three cells; ink in the outer two
// means the glyph does not fit its cell (a wide fallback glyph), and then the
// block is left empty and the character drawn over the frame.
qint32 CellCache::renderBlock(char16_t c, QRgb fg, QRgb bg)
{
    const int cellWidth = m_metrics.width;
    const int cellHeight = m_metrics.height;
    const int width = cellWidth * m_blockScale;
    const int height = cellHeight * m_blockScale;
    // One canvas and painter serve every block rendered during a paint.
    if (m_canvas.size() != QSize(3 * width, height) ||
        m_canvas.devicePixelRatio() != m_blockScale) {
        m_canvasPainter.reset();
        m_canvas = QImage(3 * width, height, QImage::Format_RGB32);
        m_canvas.setDevicePixelRatio(m_blockScale);
    }
    if (!m_canvasPainter)
        m_canvasPainter = std::make_unique<QPainter>(&m_canvas);
    QPainter &painter = *m_canvasPainter;
    painter.fillRect(QRect(0, 0, 3 * cellWidth, cellHeight), QColor::fromRgb(bg));
    bool overflow = QChar::isHighSurrogate(c);
    if (!overflow && c != u' ' && c != u'\t' && !QChar::isLowSurrogate(c)) {
        const quint32 glyph = isControl(c) ? 0 : glyphFor(c);
        if (isControl(c)) {
            drawControlPicture(painter, QRect(cellWidth, 0, cellWidth, cellHeight), c, fg);
        } else if (glyph != 0) {
            QGlyphRun run;
            run.setRawFont(m_rawFont);
            run.setGlyphIndexes({glyph});
            run.setPositions({QPointF(cellWidth, m_metrics.ascent)});
            painter.setPen(QColor::fromRgb(fg));
            painter.drawGlyphRun(QPointF(0, 0), run);
        } else {
            painter.setFont(m_font);
            painter.setPen(QColor::fromRgb(fg));
            painter.drawText(QPointF(cellWidth, m_metrics.ascent), QString(QChar(c)));
        }
        auto ink = [bg](QRgb p) {
            return std::abs(qRed(p) - qRed(bg)) + std::abs(qGreen(p) - qGreen(bg)) +
                       std::abs(qBlue(p) - qBlue(bg)) >
                   3 * 96;
        };
        for (int y = 0; y < height && !overflow; ++y) {
            const auto *line = reinterpret_cast<const QRgb *>(m_canvas.constScanLine(y));
            for (int x = 0; x < width && !overflow; ++x)
                overflow = ink(line[x]) || ink(line[2 * width + x]);
        }
    }
    const auto index = static_cast<qint32>(m_blockOverflows.size());
    m_blockOverflows.push_back(overflow);
    const std::size_t at = m_blockPixels.size();
    m_blockPixels.resize(at + ix(width) * ix(height), 0xFF000000u | bg);
    if (!overflow) {
        for (int y = 0; y < height; ++y) {
            const auto *line = reinterpret_cast<const QRgb *>(m_canvas.constScanLine(y));
            std::copy(line + width, line + 2 * width,
                      m_blockPixels.begin() + static_cast<std::ptrdiff_t>(at) +
                          std::ptrdiff_t{y} * width);
        }
    }
    return index;
}
