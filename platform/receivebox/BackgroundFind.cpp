#include "BackgroundFind.h"

#include "transcript/Search.h"

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
    m_text = text;
    m_matchCase = matchCase;
    m_forward = forward;
    m_origin = std::max<qsizetype>(origin, 0);
    m_phase = Phase::Ahead;
    m_resume = m_origin;
    m_running = true;
    std::shared_ptr<const ByteStore> store = m_share();
    const qsizetype size = store->size();
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
    const Job job{m_serial, m_text, m_matchCase, m_forward, from, to};
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
    const TextSearch textSearch(job.text, job.matchCase, store->table());
    const qsizetype at = job.forward ? textSearch.first(*store, job.from, job.to, &m_stop)
                                     : textSearch.last(*store, job.from, job.to, &m_stop);
    const qsizetype size = store->size();
    store.reset();
    QMetaObject::invokeMethod(
        this,
        [this, serial = job.serial, at, length = textSearch.length(), size] {
            ran(serial, at, length, size);
        },
        Qt::QueuedConnection);
}

void BackgroundFind::ran(quint64 serial, qsizetype at, qsizetype length, qsizetype searchedSize)
{
    if (serial != m_serial)
        return;
    join();
    if (at >= 0) {
        m_running = false;
        Q_EMIT found(at, length, m_phase == Phase::Wrapped);
        return;
    }
    if (length == 0 || m_phase == Phase::Wrapped) {
        m_running = false;
        Q_EMIT notFound();
        return;
    }
    std::shared_ptr<const ByteStore> store = m_share();
    const qsizetype size = store->size();
    if (m_forward && size > searchedSize) {
        // Text arrived meanwhile: every start up to where a match could
        // still run into it has been looked at.
        m_resume = std::max(m_resume, searchedSize - length + 1);
        run(std::move(store), m_resume, size);
        return;
    }
    m_phase = Phase::Wrapped;
    if (m_forward)
        run(std::move(store), 0, m_origin);
    else
        run(std::move(store), m_origin, size);
}
