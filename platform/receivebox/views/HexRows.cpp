#include "HexRows.h"

#include "transcript/NulText.h"

#include <QtGlobal>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>

namespace platform::receivebox::views::hexrows {

namespace {

// The x of a gap between hex pairs, in pixels.
double pairGapX(const Geometry &geometry, int gap, int cellWidth)
{
    if (gap == 0 || gap == kRowBytes)
        return double(geometry.gapColumn(gap)) * cellWidth;
    // Halfway through the blanks between two pairs.
    return (geometry.pairColumn(gap - 1) + 2 + geometry.pairColumn(gap)) * cellWidth / 2.0;
}

char16_t shownCharacter(const ByteStore &store, quint8 byte)
{
    const char16_t c = store.table()[byte];
    return byte == 0 || isControl(c) ? u'.' : c;
}

} // namespace

Geometry::Geometry(qsizetype byteCount)
{
    const auto lastOffset = static_cast<quint64>(std::max<qsizetype>(0, byteCount - 1)) &
                            ~static_cast<quint64>(kRowBytes - 1);
    const auto digits = static_cast<int>((std::bit_width(lastOffset) + 3) / 4);
    m_digits = std::max(8, digits);
}

qsizetype rowCount(qsizetype byteCount)
{
    return std::max<qsizetype>(1, (byteCount + kRowBytes - 1) / kRowBytes);
}

RowGap rowGapOf(qsizetype byte, qsizetype byteCount)
{
    if (byte >= byteCount && byteCount > 0 && byteCount % kRowBytes == 0)
        return {byteCount / kRowBytes - 1, kRowBytes};
    return {byte / kRowBytes, static_cast<int>(byte % kRowBytes)};
}

qsizetype byteOf(const ByteStore &store, qsizetype position, bool roundUp)
{
    const ByteStore::Place place = store.locate(std::max<qsizetype>(0, position));
    return place.byte + (roundUp && place.sub > 0 ? 1 : 0);
}

void layoutRow(std::vector<Cell> &cells, const ByteStore &store, const Geometry &geometry,
               qsizetype row)
{
    cells.clear();
    const qsizetype first = row * kRowBytes;
    const int count =
        static_cast<int>(std::clamp<qsizetype>(store.byteCount() - first, 0, kRowBytes));
    if (count == 0)
        return; // the empty row of an empty transcript
    // The row reads as its copy does: the cells take their characters from it.
    QString shown;
    appendRowText(shown, store, geometry, row, first, first + count);
    const qsizetype rowPosition = store.positionOfByte(first);
    auto put = [&](int from, int to, qsizetype position, bool selectable, bool joins = false) {
        for (int column = from; column < to; ++column)
            cells.push_back(
                Cell{position, column, 1, shown.at(column).unicode(), selectable, joins});
    };
    // In column order: the painters take the last cell's end as the row's.
    put(0, geometry.pairColumn(0), rowPosition, false);
    std::array<qsizetype, kRowBytes> positions{};
    for (int i = 0; i < count; ++i) {
        qsizetype &position = positions[static_cast<std::size_t>(i)];
        position = rowPosition;
        if (i > 0) {
            // Each NUL before a byte moves its characters three further on.
            position = positions[static_cast<std::size_t>(i - 1)] +
                       (store.byteAt(first + i - 1) == 0 ? platform::transcript::kNulChars : 1);
            put(geometry.pairColumn(i - 1) + 2, geometry.pairColumn(i), position, false, true);
        }
        put(geometry.pairColumn(i), geometry.pairColumn(i) + 2, position, true);
    }
    put(geometry.pairColumn(count - 1) + 2, geometry.charColumn(0), rowPosition, false);
    for (int i = 0; i < count; ++i)
        put(geometry.charColumn(i), geometry.charColumn(i) + 1,
            positions[static_cast<std::size_t>(i)], true);
}

qsizetype rowTextLength(const Geometry &geometry, qsizetype row, qsizetype toByte)
{
    const qsizetype last = std::min(toByte, (row + 1) * kRowBytes) - 1 - row * kRowBytes;
    return last < 0 ? geometry.offsetDigits() : geometry.charColumn(static_cast<int>(last)) + 1;
}

void appendRowText(QString &out, const ByteStore &store, const Geometry &geometry, qsizetype row,
                   qsizetype fromByte, qsizetype toByte)
{
    const qsizetype first = row * kRowBytes;
    toByte = std::min(toByte, store.byteCount());
    const qsizetype length = rowTextLength(geometry, row, toByte);
    const qsizetype start = out.size();
    out.resize(start + length, u' ');
    QChar *text = out.data() + start;
    const auto offset = static_cast<quint64>(first);
    for (int d = 0; d < geometry.offsetDigits(); ++d)
        text[geometry.offsetDigits() - 1 - d] =
            QChar(hexDigit(static_cast<unsigned>(offset >> (4 * d))));
    const qsizetype from = std::max(fromByte, first);
    const qsizetype to = std::min(toByte, first + kRowBytes);
    for (qsizetype byte = from; byte < to; ++byte) {
        const quint8 b = store.byteAt(byte);
        const int i = static_cast<int>(byte - first);
        text[geometry.pairColumn(i)] = QChar(hexDigit(b >> 4u));
        text[geometry.pairColumn(i) + 1] = QChar(hexDigit(b));
        text[geometry.charColumn(i)] = QChar(shownCharacter(store, b));
    }
}

void appendPairs(QString &out, const ByteStore &store, qsizetype from, qsizetype to)
{
    for (qsizetype byte = from; byte < to; ++byte) {
        if (byte > from)
            out.append(u' ');
        const quint8 b = store.byteAt(byte);
        out.append(QChar(hexDigit(b >> 4u)));
        out.append(QChar(hexDigit(b)));
    }
}

qsizetype byteAt(const Geometry &geometry, qsizetype byteCount, qsizetype firstRow,
                 const CellMetrics &cell, const QPoint &point, bool betweenBytes)
{
    const int y = point.y();
    const qsizetype rowInView = y >= 0 ? y / cell.height : -((-y + cell.height - 1) / cell.height);
    const qsizetype row = firstRow + rowInView;
    if (row < 0)
        return 0;
    if (row >= rowCount(byteCount))
        return byteCount;
    const double x = std::max(0, point.x());
    const double pairsRight = double(geometry.gapColumn(kRowBytes)) * cell.width;
    const double charsLeft = double(geometry.charColumn(0)) * cell.width;
    int index = 0;
    if (x >= (pairsRight + charsLeft) / 2) {
        const double at = (x - charsLeft) / cell.width;
        index = betweenBytes ? static_cast<int>(std::clamp(std::round(at), 0.0, 16.0))
                             : static_cast<int>(std::clamp(std::floor(at), 0.0, 15.0));
    } else if (betweenBytes) {
        double nearest = std::numeric_limits<double>::max();
        for (int gap = 0; gap <= kRowBytes; ++gap) {
            const double distance = std::abs(x - pairGapX(geometry, gap, cell.width));
            if (distance < nearest) {
                nearest = distance;
                index = gap;
            }
        }
    } else {
        while (index + 1 < kRowBytes && x >= pairGapX(geometry, index + 1, cell.width))
            ++index;
    }
    return std::min(byteCount, row * kRowBytes + index);
}

qsizetype byteAfterKey(qsizetype byte, qsizetype byteCount, int key, bool control, int pageRows)
{
    const RowGap at = rowGapOf(byte, byteCount);
    const qsizetype lastRow = rowCount(byteCount) - 1;
    auto toRow = [&](qsizetype row) {
        if (row < 0)
            return qsizetype{0};
        if (row > lastRow)
            return byteCount;
        return std::min(byteCount, row * kRowBytes + std::min(at.gap, int{kRowBytes} - 1));
    };
    switch (key) {
    case Qt::Key_Left:
        return std::max<qsizetype>(0, byte - 1);
    case Qt::Key_Right:
        return std::min(byteCount, byte + 1);
    case Qt::Key_Up:
        return toRow(at.row - 1);
    case Qt::Key_Down:
        return toRow(at.row + 1);
    case Qt::Key_PageUp:
        return toRow(at.row - pageRows);
    case Qt::Key_PageDown:
        return toRow(at.row + pageRows);
    case Qt::Key_Home:
        return control ? 0 : at.row * kRowBytes;
    case Qt::Key_End:
        if (control || at.row >= lastRow)
            return byteCount;
        // Before the row's last byte, which the next row's start would show
        // on that row instead, as on a wrapped row of text.
        return at.row * kRowBytes + kRowBytes - 1;
    default:
        return -1;
    }
}

} // namespace platform::receivebox::views::hexrows
