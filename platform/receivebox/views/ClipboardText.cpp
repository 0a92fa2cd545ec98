#include "ClipboardText.h"

#include <QString>
#include <QVariant>

#include <algorithm>
#include <new>
#include <utility>

namespace {

const QString kPlainText = QStringLiteral("text/plain");

} // namespace

ClipboardText::ClipboardText(std::shared_ptr<const ByteStore> store, qsizetype from,
                             qsizetype count)
    : m_store(std::move(store)), m_from(from), m_count(count)
{}

QStringList ClipboardText::formats() const
{
    return {kPlainText};
}

bool ClipboardText::hasFormat(const QString &mimeType) const
{
    return mimeType == kPlainText;
}

QVariant ClipboardText::retrieveData(const QString &mimeType, QMetaType type) const
{
    if (mimeType != kPlainText)
        return {};
    try {
        if (type.id() == QMetaType::QString)
            return asText();
        return asUtf8();
    } catch (const std::bad_alloc &) {
        // The program that asked gets nothing, rather than this one ending.
        return {};
    }
}

QString ClipboardText::asText() const
{
    QString text(m_count, Qt::Uninitialized);
    m_store->copy(m_from, m_count, reinterpret_cast<char16_t *>(text.data()));
    return text;
}

QByteArray ClipboardText::asUtf8() const
{
    constexpr qsizetype kStretch = qsizetype{1} << 16;
    QByteArray utf8;
    utf8.reserve(m_count);
    QString stretch(std::min(m_count, kStretch), Qt::Uninitialized);
    for (qsizetype done = 0; done < m_count;) {
        qsizetype take = std::min(kStretch, m_count - done);
        m_store->copy(m_from + done, take, reinterpret_cast<char16_t *>(stretch.data()));
        // A surrogate pair is never cut in two.
        if (take > 1 && done + take < m_count && stretch.at(take - 1).isHighSurrogate())
            --take;
        utf8 += QStringView(stretch).left(take).toUtf8();
        done += take;
    }
    return utf8;
}
