#include "Transcript.h"

#include "ByteScan.h"

#include <algorithm>

namespace {

#if defined(BRISOL_RECEIVE_DIRECT)
constexpr bool kReceiveDirect = true;
#else
constexpr bool kReceiveDirect = false;
#endif
// The most bytes taken in one pass, and the landing buffer's size: small
// enough to stay in the processor's cache from one arrival to the next.
constexpr qsizetype kPieceBytes = qsizetype{256} << 10;

} // namespace

Transcript::Transcript(const CharTable &table) : m_store(table), m_lines(m_store) {}

void Transcript::clear(quint32 colour)
{
    m_store.clear();
    m_lines.clear();
    m_colour = colour;
}

void Transcript::appendBytes(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return;
    appendPiece(reinterpret_cast<const quint8 *>(bytes.data()), bytes.size());
}

void Transcript::setTable(const CharTable &table)
{
    if (m_store.byteCount() == 0 && !m_store.readsAs(table))
        m_store.setTable(table);
}

void Transcript::appendPiece(const quint8 *bytes, qsizetype count)
{
    wholly([&] {
        // In pieces whose marks stay in the cache with them.
        for (qsizetype done = 0; done < count;) {
            const qsizetype take = std::min(count - done, kPieceBytes);
            const qsizetype nuls = m_store.appendBytes(bytes + done, take, marks());
            m_lines.appendBytes(bytes + done, take, nuls > 0, m_marks.data());
            done += take;
        }
    });
}

quint64 *Transcript::marks()
{
    if (m_marks.empty())
        m_marks.resize(
            static_cast<std::size_t>(platform::transcript::bytescan::shapingWords(kPieceBytes)));
    return m_marks.data();
}

qsizetype Transcript::appendFilled(qsizetype count, const ByteStore::Fill &fill)
{
    if (count <= 0)
        return 0;
    qsizetype appended = 0;
    if constexpr (kReceiveDirect) {
        wholly([&] {
            // Each stretch is indexed as soon as it is written, while its
            // bytes are still in the cache.
            appended =
                m_store.appendFilled(count, kPieceBytes, marks(), fill,
                                     [this](const quint8 *bytes, qsizetype size, bool hasNul) {
                                         m_lines.appendBytes(bytes, size, hasNul, m_marks.data());
                                     });
        });
        return appended;
    }
    if (m_landing.empty())
        m_landing.resize(static_cast<std::size_t>(kPieceBytes));
    while (appended < count) {
        const qsizetype got = fill(m_landing.data(), std::min(count - appended, kPieceBytes));
        if (got <= 0)
            break;
        appendPiece(m_landing.data(), got);
        appended += got;
    }
    return appended;
}

template <typename Append> void Transcript::wholly(const Append &append)
{
    const ByteStore::Mark chars = m_store.mark();
    const LineIndex::Mark lines = m_lines.mark();
    try {
        append();
    } catch (...) {
        m_lines.rollBack(lines);
        m_store.rollBack(chars);
        throw;
    }
}

QString Transcript::mid(qsizetype from, qsizetype count) const
{
    const qsizetype size = m_store.characterCount();
    const qsizetype to = count >= size - from ? size : std::max<qsizetype>(0, from + count);
    from = std::clamp<qsizetype>(from, 0, size);
    count = to - from;
    if (count <= 0)
        return {};
    QString result(count, Qt::Uninitialized);
    m_store.copy(from, count, reinterpret_cast<char16_t *>(result.data()));
    return result;
}

qsizetype Transcript::memoryUsed() const
{
    return m_store.memoryUsed() + m_lines.memoryUsed() +
           static_cast<qsizetype>(m_landing.capacity() + m_marks.capacity() * sizeof(quint64));
}
