#include "SessionLog.h"

#include "system/ProcessExit.h"

#include <QFile>
#include <QMetaObject>

#include <system_error>
#include <utility>

namespace {

// The writer is woken once this much waits, or when asked (nudge(), drain()):
// a wake per arrival would cost the stream a switch of threads each time on
// a machine with few cores, for writes too small to pay for themselves.
constexpr qsizetype kWakeBytes = qsizetype{1} << 20;

// Qt tells a full disk apart from other failures of a write; the rest come
// with the system's own text.
QString reasonOf(const QFile &file)
{
    if (file.error() == QFileDevice::ResourceError)
        return QStringLiteral("no queda espacio en el disco");
    return file.errorString();
}

} // namespace

SessionLog::SessionLog(std::unique_ptr<QFile> file, QObject *parent)
    : QObject(parent), m_file(std::move(file))
{
    // The process ends at once when the main window closes, but never with
    // bytes the user asked to keep still in our hands.
    m_exitFinisher = platform::system::addExitFinisher([this] { drain(); });
    try {
        m_worker = std::thread(&SessionLog::run, this);
    } catch (const std::system_error &error) {
        m_failed = true;
        QMetaObject::invokeMethod(
            this, [this, reason = QString::fromLocal8Bit(error.what())] { Q_EMIT failed(reason); },
            Qt::QueuedConnection);
    }
}

SessionLog::~SessionLog()
{
    platform::system::removeExitFinisher(m_exitFinisher);
    {
        const std::lock_guard lock(m_mutex);
        m_ending = true;
    }
    m_wake.notify_one();
    if (m_worker.joinable())
        m_worker.join();
}

void SessionLog::write(const void *bytes, qsizetype size)
{
    if (size <= 0)
        return;
    const auto *start = static_cast<const char *>(bytes);
    bool wake = false;
    {
        const std::lock_guard lock(m_mutex);
        if (!m_queue.empty() && !m_queue.back().holder &&
            m_queue.back().bytes + m_queue.back().size == start)
            m_queue.back().size += size;
        else
            m_queue.push_back({start, size, nullptr});
        m_waitingBytes += size;
        wake = m_waiting && m_waitingBytes >= kWakeBytes;
    }
    if (wake)
        m_wake.notify_one();
}

void SessionLog::keep(std::shared_ptr<const void> holder)
{
    {
        const std::lock_guard lock(m_mutex);
        m_queue.push_back({nullptr, 0, std::move(holder)});
    }
    m_wake.notify_one();
}

void SessionLog::nudge()
{
    m_wake.notify_one();
}

void SessionLog::drain()
{
    std::unique_lock lock(m_mutex);
    if (!m_worker.joinable())
        return;
    m_wake.notify_one();
    m_idle.wait(lock, [this] { return m_queue.empty() && !m_busy; });
}

void SessionLog::finishAndDelete()
{
    bool done = false;
    {
        const std::lock_guard lock(m_mutex);
        m_ending = true;
        m_deleteWhenDone = true;
        done = !m_worker.joinable();
    }
    m_wake.notify_one();
    if (done)
        deleteLater();
}

void SessionLog::run()
{
    std::vector<Piece> batch;
    for (;;) {
        {
            std::unique_lock lock(m_mutex);
            m_busy = false;
            if (m_queue.empty())
                m_idle.notify_all();
            m_waiting = true;
            m_wake.wait(lock, [this] { return !m_queue.empty() || m_ending; });
            m_waiting = false;
            if (m_queue.empty()) {
                if (m_deleteWhenDone)
                    QMetaObject::invokeMethod(this, &QObject::deleteLater, Qt::QueuedConnection);
                return;
            }
            batch.swap(m_queue);
            m_waitingBytes = 0;
            m_busy = true;
        }
        for (const Piece &piece : batch)
            if (!m_failed && piece.size > 0 && !writeWhole(piece))
                fail();
        // The holders go here, after what they held is written.
        batch.clear();
    }
}

bool SessionLog::writeWhole(const Piece &piece)
{
    qsizetype done = 0;
    while (done < piece.size) {
        // A short write (the disk filling up) writes what fits; the next
        // one says why the rest does not.
        const qint64 wrote = m_file->write(piece.bytes + done, piece.size - done);
        if (wrote <= 0)
            return false;
        done += wrote;
        m_written.fetch_add(wrote, std::memory_order_relaxed);
    }
    return true;
}

void SessionLog::fail()
{
    m_failed = true;
    QMetaObject::invokeMethod(
        this, [this, reason = reasonOf(*m_file)] { Q_EMIT failed(reason); }, Qt::QueuedConnection);
}
