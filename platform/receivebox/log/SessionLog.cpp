#include "SessionLog.h"

#include "DirectWrites.h"

#include "system/ProcessExit.h"
#include "transcript/ThreadPriority.h"

#include <QFile>
#include <QFileInfo>
#include <QMetaObject>

#include <system_error>
#include <utility>

namespace {

// What is handed is passed to the writer once this much waits, or when asked
// (nudge(), drain()): a wake per arrival would cost the stream a switch of
// threads each time on a machine with few cores, for writes too small to pay
// for themselves.
constexpr qsizetype kPassBytes = qsizetype{1} << 20;

} // namespace

QString SessionLog::reasonOf(QFileDevice::FileError error, const QString &systemText)
{
    // Qt keeps the system's text, in the desktop's language; the window
    // speaks Spanish whatever that is.
    switch (error) {
    case QFileDevice::ResourceError:
        return QStringLiteral("no queda espacio en el disco");
    case QFileDevice::WriteError:
        return QStringLiteral("error al escribir en el dispositivo");
    case QFileDevice::PermissionsError:
        return QStringLiteral("permiso denegado");
    case QFileDevice::OpenError:
        return QStringLiteral("no se pudo abrir el archivo");
    default:
        return systemText;
    }
}

QString SessionLog::reasonOf(const QFile &file)
{
    // An open that failed says no more than that: a file or folder that
    // cannot be written to is the likely cause, and the one a user can mend.
    if (file.error() == QFileDevice::OpenError) {
        const QFileInfo info(file.fileName());
        const QFileInfo folder(info.absolutePath());
        if (info.exists() ? !info.isWritable() : folder.isDir() && !folder.isWritable())
            return reasonOf(QFileDevice::PermissionsError, {});
    }
    return reasonOf(file.error(), file.errorString());
}

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

void SessionLog::addPiece(std::vector<Piece> &pieces, Piece piece)
{
    if (piece.size > 0 && !pieces.empty() && !pieces.back().holder &&
        pieces.back().bytes + pieces.back().size == piece.bytes)
        pieces.back().size += piece.size;
    else
        pieces.push_back(std::move(piece));
}

SessionLog::~SessionLog()
{
    platform::system::removeExitFinisher(m_exitFinisher);
    pass(true);
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
    addPiece(m_held, {static_cast<const char *>(bytes), size, nullptr});
    m_heldBytes += size;
    if (m_heldBytes >= kPassBytes)
        pass(false);
}

bool SessionLog::pass(bool wait)
{
    if (m_held.empty())
        return true;
    // The writer holds the lock for a few words at a time, but it may lose
    // its core meanwhile: the stream does not wait for it, the pieces stay
    // here until the next pass.
    std::unique_lock lock(m_mutex, std::defer_lock);
    if (wait)
        lock.lock();
    else if (!lock.try_lock())
        return false;
    for (Piece &piece : m_held)
        addPiece(m_queue, std::move(piece));
    lock.unlock();
    m_held.clear();
    m_heldBytes = 0;
    m_wake.notify_one();
    return true;
}

void SessionLog::keep(std::shared_ptr<const void> holder)
{
    m_held.push_back({nullptr, 0, std::move(holder)});
    pass(true);
}

void SessionLog::nudge()
{
    pass(false);
}

void SessionLog::drain()
{
    pass(true);
    std::unique_lock lock(m_mutex);
    if (!m_worker.joinable())
        return;
    m_idle.wait(lock, [this] { return m_queue.empty() && !m_busy; });
}

void SessionLog::finishAndDelete()
{
    pass(true);
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
    platform::transcript::giveWay(platform::transcript::GiveWay::ToAll);
    m_direct = DirectWrites::open(*m_file);
    std::vector<Piece> batch;
    for (;;) {
        {
            std::unique_lock lock(m_mutex);
            m_busy = false;
            if (m_queue.empty())
                m_idle.notify_all();
            m_wake.wait(lock, [this] { return !m_queue.empty() || m_ending; });
            if (m_queue.empty()) {
                m_direct.reset();
                if (m_deleteWhenDone)
                    QMetaObject::invokeMethod(this, &QObject::deleteLater, Qt::QueuedConnection);
                return;
            }
            batch.swap(m_queue);
            m_busy = true;
        }
        for (const Piece &piece : batch)
            if (!m_failed && piece.size > 0 && !writeWhole(piece))
                fail();
        // Whatever comes next, the file holds every byte written so far.
        if (m_direct && !m_failed) {
            if (!m_direct->flush())
                fail();
            m_written.store(m_direct->inFile(), std::memory_order_relaxed);
        }
        // The holders go here, after what they held is written.
        batch.clear();
    }
}

bool SessionLog::writeWhole(const Piece &piece)
{
    if (m_direct) {
        const bool wrote = m_direct->append(piece.bytes, piece.size);
        m_written.store(m_direct->inFile(), std::memory_order_relaxed);
        return wrote;
    }
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
        this,
        [this, reason = m_direct ? reasonOf(m_direct->error(), m_direct->errorString())
                                 : reasonOf(*m_file)] { Q_EMIT failed(reason); },
        Qt::QueuedConnection);
}
