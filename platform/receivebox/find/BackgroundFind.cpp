#include "BackgroundFind.h"

#include "transcript/ByteSearch.h"
#include "transcript/TextSearch.h"

#include <algorithm>
#include <system_error>
#include <utility>

BackgroundFind::BackgroundFind(Share share, QObject *parent)
    : QObject(parent), m_share(std::move(share))
{}

BackgroundFind::~BackgroundFind()
{
    m_stop = true;
    join();
}

void BackgroundFind::start(const QString &text, bool matchCase, bool forward, qsizetype origin)
{
    stop();
    m_job.text = text;
    m_job.bytes.clear();
    m_job.matchCase = matchCase;
    begin(forward, origin);
}

void BackgroundFind::startBytes(const QByteArray &bytes, bool forward, qsizetype origin)
{
    stop();
    m_job.text.clear();
    m_job.bytes = bytes;
    m_job.matchCase = true;
    begin(forward, origin);
}

void BackgroundFind::begin(bool forward, qsizetype origin)
{
    m_job.forward = forward;
    m_origin = std::max<qsizetype>(origin, 0);
    m_phase = Phase::Ahead;
    m_resume = m_origin;
    m_running = true;
    std::shared_ptr<const ByteStore> store = m_share();
    const qsizetype size = store->characterCount();
    if (forward)
        run(std::move(store), m_origin, size);
    else
        run(std::move(store), 0, m_origin);
}

void BackgroundFind::stop()
{
    ++m_serial;
    m_running = false;
    m_stop = true;
    join();
    m_stop = false;
}

void BackgroundFind::join()
{
    if (m_worker.joinable())
        m_worker.join();
}

void BackgroundFind::run(std::shared_ptr<const ByteStore> store, qsizetype from, qsizetype to)
{
    join();
    Job job = m_job;
    job.serial = m_serial;
    job.from = from;
    job.to = to;
    try {
        // The share goes to the thread alone, which lets it go there: the
        // last holder of a store already emptied gives its memory back.
        m_worker = std::thread(
            [this, job, store = std::move(store)]() mutable { search(job, std::move(store)); });
    } catch (const std::system_error &) {
        // No thread to be had: the answer is worth the wait.
        search(job, m_share());
    }
}

void BackgroundFind::search(const Job &job, std::shared_ptr<const ByteStore> store)
{
    const Outcome outcome =
        job.bytes.isEmpty() ? searchText(job, *store, &m_stop) : searchBytes(job, *store, &m_stop);
    store.reset();
    QMetaObject::invokeMethod(
        this, [this, serial = job.serial, outcome] { ran(serial, outcome); }, Qt::QueuedConnection);
}

BackgroundFind::Outcome BackgroundFind::searchText(const Job &job, const ByteStore &store,
                                                   const std::atomic<bool> *stop)
{
    const TextSearch textSearch(job.text, job.matchCase, store.table());
    const qsizetype length = textSearch.length();
    const qsizetype at = job.forward ? textSearch.first(store, job.from, job.to, stop)
                                     : textSearch.last(store, job.from, job.to, stop);
    return {at, length, length > 0, store.characterCount(), store.characterCount() - length + 1};
}

BackgroundFind::Outcome BackgroundFind::searchBytes(const Job &job, const ByteStore &store,
                                                    const std::atomic<bool> *stop)
{
    const ByteSearch byteSearch(job.bytes);
    const ByteSearch::Match match = job.forward ? byteSearch.first(store, job.from, job.to, stop)
                                                : byteSearch.last(store, job.from, job.to, stop);
    // The tail's NULs make its characters more than its bytes: the resume
    // point is the character start of the first byte that a match could
    // share with what arrives next.
    const qsizetype resume = store.positionOfByte(
        std::max<qsizetype>(store.byteCount() - byteSearch.byteLength() + 1, 0));
    return {match.start, match.length, true, store.characterCount(), resume};
}

void BackgroundFind::ran(quint64 serial, const Outcome &outcome)
{
    if (serial != m_serial)
        return;
    join();
    if (outcome.at >= 0) {
        m_running = false;
        Q_EMIT found(outcome.at, outcome.length, m_phase == Phase::Wrapped);
        return;
    }
    if (!outcome.possible || m_phase == Phase::Wrapped) {
        m_running = false;
        Q_EMIT notFound();
        return;
    }
    std::shared_ptr<const ByteStore> store = m_share();
    const qsizetype size = store->characterCount();
    if (m_job.forward && size > outcome.searchedSize) {
        // Text arrived meanwhile: every start up to where a match could
        // still run into it has been looked at.
        m_resume = std::max(m_resume, outcome.resume);
        run(std::move(store), m_resume, size);
        return;
    }
    m_phase = Phase::Wrapped;
    if (m_job.forward)
        run(std::move(store), 0, m_origin);
    else
        run(std::move(store), m_origin, size);
}
