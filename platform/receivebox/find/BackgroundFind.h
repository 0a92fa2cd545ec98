#pragma once

// A search of the receive box's transcript on a thread of its own, over a
// shared store (ByteStore::share), so that the user-interface thread only
// starts it and takes its result, as a queued call: no turn of the event
// loop waits on it, whatever the length of the transcript.
//
// Forwards it looks from the origin to the end, then, past the end, from the
// start up to the origin; text that arrives meanwhile is searched too, from
// a newer share of the store once the search reaches the end of its own.
// Backwards it looks from the origin back to the start, then from the end
// (as it then stands) back to the origin.
//
// It finds a text as the box shows it (TextSearch) or a sequence of bytes as
// they were received (ByteSearch); either way origins and matches are
// character positions.

#include "transcript/ByteStore.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

class BackgroundFind final : public QObject
{
    Q_OBJECT

public:
    // Gives the store as it stands now, shared.
    using Share = std::function<std::shared_ptr<const ByteStore>()>;

    explicit BackgroundFind(Share share, QObject *parent = nullptr);
    // Stops a search still going and waits for its thread.
    ~BackgroundFind() override;
    Q_DISABLE_COPY_MOVE(BackgroundFind)

    // Forwards: the first match starting at or after the origin; backwards:
    // the last starting before it. A search still going is dropped.
    void start(const QString &text, bool matchCase, bool forward, qsizetype origin);
    // The same for the bytes, not empty: a match starts at a byte's first
    // character.
    void startBytes(const QByteArray &bytes, bool forward, qsizetype origin);
    // Drops the search going, if any: nothing of it is told.
    void stop();
    bool isRunning() const { return m_running; }

Q_SIGNALS:
    // Character positions of the match; wrapped when it was found past the
    // end (or, backwards, before the start).
    void found(qsizetype start, qsizetype length, bool wrapped);
    void notFound();

private:
    enum class Phase { Ahead, Wrapped };

    // What a thread is to look for: bytes when there are any, else the
    // text.
    struct Job
    {
        quint64 serial = 0;
        QString text;
        QByteArray bytes;
        bool matchCase = true;
        bool forward = true;
        qsizetype from = 0;
        qsizetype to = 0;
    };

    // What a thread found, in character positions.
    struct Outcome
    {
        qsizetype at = -1;
        qsizetype length = 0;
        // Whether anything can match at all.
        bool possible = false;
        // The size of the store searched, and the first start a match
        // running past its end could have.
        qsizetype searchedSize = 0;
        qsizetype resume = 0;
    };

    void begin(bool forward, qsizetype origin);
    void run(std::shared_ptr<const ByteStore> store, qsizetype from, qsizetype to);
    // On the thread: the search, then its result queued.
    void search(const Job &job, std::shared_ptr<const ByteStore> store);
    static Outcome searchText(const Job &job, const ByteStore &store,
                              const std::atomic<bool> *stop);
    static Outcome searchBytes(const Job &job, const ByteStore &store,
                               const std::atomic<bool> *stop);
    void ran(quint64 serial, const Outcome &outcome);
    void join();

    Share m_share;
    // The search going: what it looks for and which way; each thread's run
    // takes a copy with its serial and range.
    Job m_job;
    qsizetype m_origin = 0;
    Phase m_phase = Phase::Ahead;
    // Where the forward search goes on in a newer share: the first start
    // not yet decided.
    qsizetype m_resume = 0;
    bool m_running = false;
    // Tells a result of the search going from one dropped.
    quint64 m_serial = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_worker;
};
