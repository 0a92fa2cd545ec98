#pragma once

// A session log's writing: bytes handed on the user-interface thread go to a
// file in the order handed, on a thread of its own, around the system's file
// cache where it allows (DirectWrites.h), else with plain unbuffered writes
// (QFile::Unbuffered: write(2), WriteFile), at a priority below the stream's
// (transcript/ThreadPriority.h). What the interface thread pays per handing is a few words; every
// megabyte or so it passes them to the writer, never waiting for it. The bytes themselves are never
// copied on that thread: they are read where they lie, in the store's memory, which must stay as it
// is until written. Below a store's end it does until the store is emptied; whoever empties it
// first hands a holder of that memory (keep(), a ByteStore::share), which the writer lets go once
// it has written what came before.
//
// The file is always a prefix of what was handed, whatever ends the process:
// the writes go out in order, and what waits is only the places of bytes the
// transcript holds anyway. Closing
// the main window ends the process at once, but first drains every log (an
// exit finisher, system/ProcessExit.h): the file then holds every byte
// handed. A write that fails ends the writing for good: the file keeps what
// it had, failed() says why, and later handings are let go unread.

#include <QFileDevice>
#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class DirectWrites;
class QFile;

class SessionLog final : public QObject
{
    Q_OBJECT

public:
    // Takes the file, open for writing, and starts writing on a thread.
    explicit SessionLog(std::unique_ptr<QFile> file, QObject *parent = nullptr);
    // Writes what was handed, then ends the thread; the file is closed.
    ~SessionLog() override;
    Q_DISABLE_COPY_MOVE(SessionLog)

    // Bytes to write after those handed before; they must stay unchanged in
    // memory until written. Handings that follow in memory are written as one.
    void write(const void *bytes, qsizetype size);
    // Holds what keeps the memory of the bytes handed so far, until they are
    // written.
    void keep(std::shared_ptr<const void> holder);
    // Handings reach the writer only once enough wait: this passes whatever
    // waits, unless the writer holds the queue just then (called a few times
    // a second, so that a trickle is in the file soon).
    void nudge();
    // Returns once every byte handed is written, or the writing failed.
    void drain();
    // Writes what was handed, then deletes itself, without waiting here.
    void finishAndDelete();

    // Why the file failed, in Spanish.
    static QString reasonOf(const QFile &file);
    // A failure in Qt's kinds, in Spanish; the system's words where no kind
    // fits.
    static QString reasonOf(QFileDevice::FileError error, const QString &systemText);

    // Bytes in the file so far from this log; any thread.
    qsizetype written() const { return m_written.load(std::memory_order_relaxed); }

Q_SIGNALS:
    // The writing failed and has stopped; the system's reason, in Spanish
    // where we know it.
    void failed(const QString &reason);

private:
    struct Piece
    {
        const char *bytes = nullptr;
        qsizetype size = 0;
        std::shared_ptr<const void> holder;
    };

    // Joins a piece to the last one where it follows it in memory.
    static void addPiece(std::vector<Piece> &pieces, Piece piece);
    // What was handed, to the writer's queue; false when the writer held
    // the queue and wait was false.
    bool pass(bool wait);
    void run();
    // Writes a piece whole; false once a write failed.
    bool writeWhole(const Piece &piece);
    void fail();

    std::unique_ptr<QFile> m_file;
    // The writer's own, where the file's system takes writes around its cache.
    std::unique_ptr<DirectWrites> m_direct;
    // Handed and not yet passed: the interface thread's alone.
    std::vector<Piece> m_held;
    qsizetype m_heldBytes = 0;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::vector<Piece> m_queue;
    bool m_busy = false;
    bool m_ending = false;
    bool m_deleteWhenDone = false;
    bool m_failed = false; // the writer's own
    std::atomic<qsizetype> m_written{0};
    int m_exitFinisher = 0;
    std::thread m_worker;
};
