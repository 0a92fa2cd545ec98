#include "HexClipboardText.h"

#include "HexRows.h"

#include <QVariant>

#include <new>
#include <utility>

using namespace platform::hexrows;

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
    if (m_form == Pairs) {
        for (qsizetype byte = m_from; byte < m_to; ++byte) {
            if (byte > m_from)
                out.append(u' ');
            const quint8 b = m_store->byteAt(byte);
            out.append(QChar(hexDigit(b >> 4u)));
            out.append(QChar(hexDigit(b)));
        }
        return out;
    }
    const Geometry geometry(m_store->byteCount());
    for (qsizetype row = m_from / kRowBytes; row * kRowBytes < m_to; ++row) {
        appendRowText(out, *m_store, geometry, row, m_from, m_to);
        out.append(u'\n');
    }
    return out;
}

QVariant HexClipboardText::retrieveData(const QString &mimeType, QMetaType type) const
{
    if (mimeType != kPlainText)
        return {};
    try {
        if (type.id() == QMetaType::QString)
            return text();
        return text().toUtf8();
    } catch (const std::bad_alloc &) {
        // The program that asked gets nothing, rather than this one ending.
        return {};
    }
}
