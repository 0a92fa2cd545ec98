#include "HexClipboardText.h"

#include "HexRows.h"

#include <QVariant>

#include <algorithm>
#include <new>
#include <utility>

using namespace platform::receivebox::views::hexrows;

namespace {

const QString kPlainText = QStringLiteral("text/plain");

} // namespace

HexClipboardText::HexClipboardText(std::shared_ptr<const ByteStore> store, qsizetype from,
                                   qsizetype to, Form form)
    : m_store(std::move(store)), m_from(from), m_to(to), m_form(form)
{}

qsizetype HexClipboardText::textLength() const
{
    if (m_from >= m_to)
        return 0;
    if (m_form == Pairs)
        return 3 * (m_to - m_from) - 1;
    const Geometry geometry(m_store->byteCount());
    const qsizetype firstRow = m_from / kRowBytes;
    const qsizetype lastRow = (m_to - 1) / kRowBytes;
    // Every row but the last is whole; each ends with a line end.
    return (lastRow - firstRow) * (geometry.width() + 1) + rowTextLength(geometry, lastRow, m_to) +
           1;
}

QStringList HexClipboardText::formats() const
{
    return {kPlainText};
}

bool HexClipboardText::hasFormat(const QString &mimeType) const
{
    return mimeType == kPlainText;
}

QString HexClipboardText::text() const
{
    QString out;
    out.reserve(textLength());
    appendText(out, m_from, m_to);
    return out;
}

// The text of the rows (or pairs) of bytes [from, to) of the copy.
void HexClipboardText::appendText(QString &out, qsizetype from, qsizetype to) const
{
    if (m_form == Pairs) {
        if (from > m_from)
            out.append(u' ');
        appendPairs(out, *m_store, from, to);
        return;
    }
    const Geometry geometry(m_store->byteCount());
    for (qsizetype row = from / kRowBytes; row * kRowBytes < to; ++row) {
        appendRowText(out, *m_store, geometry, row, m_from, m_to);
        out.append(u'\n');
    }
}

QByteArray HexClipboardText::asUtf8() const
{
    // A stretch of rows at a time, so that no 16-bit copy of the whole text
    // is ever made.
    constexpr qsizetype kStretchBytes = kRowBytes << 12;
    QByteArray utf8;
    utf8.reserve(textLength());
    QString stretch;
    for (qsizetype from = m_from; from < m_to;) {
        const qsizetype to = std::min(m_to, (from / kStretchBytes + 1) * kStretchBytes);
        stretch.clear();
        appendText(stretch, from, to);
        utf8 += stretch.toUtf8();
        from = to;
    }
    return utf8;
}

QVariant HexClipboardText::retrieveData(const QString &mimeType, QMetaType type) const
{
    if (mimeType != kPlainText)
        return {};
    try {
        if (type.id() == QMetaType::QString)
            return text();
        return asUtf8();
    } catch (const std::bad_alloc &) {
        // The program that asked gets nothing, rather than this one ending.
        return {};
    }
}
