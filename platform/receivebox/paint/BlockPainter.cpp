#include "BlockPainter.h"

#include "CellCache.h"
#include "transcript/Indexing.h"

#include <QPaintEngine>
#include <QPainter>

#include <algorithm>
#include <cstring>

using platform::transcript::ix;

namespace {

// The back-colour row is kept at least this wide (8 KiB of pixels), so that
// a view resized a little wider does not remake it.
constexpr int kBackRowPixels = 2048;

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

} // namespace

// The painter's own image when it paints straight into one of 32-bit opaque
// pixels (a widget's backing store, a grab): the blocks are copied there and
// nothing else touches those pixels. Otherwise there is none.
bool BlockPainter::directTarget(QPainter &painter, const QRect &deviceArea, Target &target)
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

void BlockPainter::paint(QPainter &painter, const QRect &area, const ViewState &view, int scale)
{
    m_scale = scale;
    m_cache.beginBlocks(scale);
    const QRect deviceArea(area.topLeft() * scale, area.size() * scale);
    Target target;
    const bool direct = directTarget(painter, deviceArea, target);
    if (!direct) {
        const QSize size = view.viewport * scale;
        if (m_frame.size() != size) {
            m_frame = QImage(size, QImage::Format_RGB32);
            m_frame.setDevicePixelRatio(scale);
        }
        target.bits = reinterpret_cast<QRgb *>(m_frame.bits());
        target.stride = m_frame.bytesPerLine() / 4;
        target.clip = deviceArea.intersected(m_frame.rect());
    }
    if (target.clip.isEmpty())
        return;

    const int cellHeight = view.cell.height;
    const int top = std::max(0, area.top() / cellHeight);
    const int bottom = area.bottom() / cellHeight;
    const int row = forEachLaidRow(
        view, top, bottom, m_row,
        [&](const std::vector<Cell> &cells, qsizetype end, bool lineEndSelected, int viewRow) {
            blitRow(target, cells, end, lineEndSelected, viewRow, view);
        });
    m_cache.endBlocks();
    if (row <= bottom) // rows past the text
        fill(target,
             QRect(0, row * cellHeight * scale, view.viewport.width() * scale,
                   (bottom + 1 - row) * cellHeight * scale),
             view.colours.back);
    if (!direct)
        painter.drawImage(area.topLeft(), m_frame, deviceArea);

    for (const Overflow &o : m_overflows)
        m_cache.drawInCell(painter, o.at, o.text, o.fg);
    m_overflows.clear();
}

// Fills a rectangle given in device pixels relative to the viewport.
void BlockPainter::fill(const Target &target, const QRect &rect, QRgb rgb)
{
    const QRect r = rect.translated(target.origin).intersected(target.clip);
    if (r.isEmpty())
        return;
    const QRgb *row = backRow(rgb, r.width());
    for (int y = r.top(); y <= r.bottom(); ++y)
        std::memcpy(target.bits + y * target.stride + r.left(), row, ix(r.width()) * 4);
}

// A row of one colour to copy from: copying is much faster than filling pixel
// by pixel.
const QRgb *BlockPainter::backRow(QRgb rgb, int width)
{
    const QRgb pixel = 0xFF000000u | rgb;
    if (m_backRowPixels.size() < ix(width) ||
        (!m_backRowPixels.empty() && m_backRowPixels.front() != pixel))
        m_backRowPixels.assign(ix(std::max(width, kBackRowPixels)), pixel);
    return m_backRowPixels.data();
}

// One block, clipped to the target.
void BlockPainter::copyBlock(const Target &target, const QRgb *from, int x, int y)
{
    const int width = m_cache.metrics().width * m_scale;
    const int height = m_cache.metrics().height * m_scale;
    const QRect cell(target.origin.x() + x, target.origin.y() + y, width, height);
    const QRect part = cell.intersected(target.clip);
    for (int py = part.top(); py <= part.bottom(); ++py)
        std::memcpy(target.bits + py * target.stride + part.left(),
                    from + qsizetype{py - cell.y()} * width + (part.left() - cell.x()),
                    ix(part.width()) * 4);
}

void BlockPainter::blitRow(const Target &target, const std::vector<Cell> &cells, qsizetype end,
                           bool lineEndSelected, int viewRow, const ViewState &view)
{
    const qsizetype columns = view.text.lines().columns();
    const RowColours &colours = view.colours;
    const int width = view.cell.width * m_scale;
    const int height = view.cell.height * m_scale;
    const int y = viewRow * height;
    // The block of every column first, then the copying, a pixel row at a
    // time.
    m_rowBlocks.assign(ix(std::clamp<qsizetype>(end, 0, columns)), 0);
    for (std::size_t i = 0; i < cells.size(); ++i) {
        const Cell &cell = cells[i];
        const QRgb fg = RowLayout::foreground(view.text, cell, colours);
        const qint32 pair =
            m_cache.pairIndex(fg, colours.selected(cell) ? colours.highlight : colours.back);
        for (int k = 0; k < cell.width; ++k) {
            const qsizetype column = qsizetype{cell.column} + k;
            if (column < 0 || column >= columns)
                continue;
            const qint32 index = m_cache.block(k == 0 ? cell.ch : u' ', pair);
            m_rowBlocks[ix(column)] = index;
            if (k == 0 && m_cache.overflows(index)) {
                QString glyph{QChar(cell.ch)};
                if (QChar::isHighSurrogate(cell.ch) && i + 1 < cells.size())
                    glyph.append(QChar(cells[i + 1].ch));
                m_overflows.push_back(
                    Overflow{QPointF(qreal(column) * view.cell.width,
                                     viewRow * view.cell.height + view.cell.ascent),
                             glyph, fg});
            }
        }
    }
    if (m_rowBlocks.size() < ix(columns) && lineEndSelected)
        m_rowBlocks.push_back(
            m_cache.block(u' ', m_cache.pairIndex(colours.highlightedText, colours.highlight)));
    const auto count = static_cast<qsizetype>(m_rowBlocks.size());
    const int x = static_cast<int>(count) * width;
    const QRect blocksRect(target.origin.x(), target.origin.y() + y, x, height);
    if (target.clip.contains(blocksRect, false) || count == 0) {
        copyBlocks(target.bits + qsizetype{blocksRect.y()} * target.stride + blocksRect.x(),
                   target.stride, m_cache.blockPixels(), m_rowBlocks.data(), count, width, height);
    } else {
        for (qsizetype c = 0; c < count; ++c)
            copyBlock(target, m_cache.blockAt(m_rowBlocks[ix(c)]), static_cast<int>(c) * width, y);
    }
    fill(target, QRect(x, y, view.viewport.width() * m_scale - x, height), colours.back);
}
