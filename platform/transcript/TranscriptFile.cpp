#include "TranscriptFile.h"

#include "ReadCount_p.h"

#include <QSaveFile>

#include <span>

namespace platform::transcript {

namespace {

// Bytes given to the system in one write at most: chunks that lie one after
// the other in memory go together.
constexpr qsizetype kLargestWrite = qsizetype{4} << 20;

} // namespace

SaveOutcome saveBytes(const ByteStore &store, const QString &path, const std::atomic<bool> &stop,
                      const std::function<void(qsizetype)> &progress)
{
    QSaveFile file(path);
    // Unbuffered, so that a write the system takes only in part is seen
    // (a full disk), rather than lost in a buffer flushed at commit.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return {SaveResult::Failed, file.errorString()};
    const qsizetype total = store.byteCount();
    for (qsizetype at = 0; at < total;) {
        if (stop.load(std::memory_order_relaxed)) {
            file.cancelWriting();
            return {SaveResult::Cancelled, {}};
        }
        const std::span<const quint8> piece = store.bytesFrom(at);
        const quint8 *data = piece.data();
        auto count = static_cast<qsizetype>(piece.size());
        while (count < kLargestWrite && at + count < total) {
            const std::span<const quint8> next = store.bytesFrom(at + count);
            if (next.data() != data + count)
                break;
            count += static_cast<qsizetype>(next.size());
        }
        countRead(count);
        for (qsizetype done = 0; done < count;) {
            const qint64 written =
                file.write(reinterpret_cast<const char *>(data + done), count - done);
            if (written <= 0) {
                const QString error = file.errorString();
                file.cancelWriting();
                return {SaveResult::Failed, error};
            }
            done += written;
        }
        at += count;
        progress(at);
    }
    if (stop.load(std::memory_order_relaxed)) {
        file.cancelWriting();
        return {SaveResult::Cancelled, {}};
    }
    if (!file.commit())
        return {SaveResult::Failed, file.errorString()};
    return {SaveResult::Saved, {}};
}

} // namespace platform::transcript
