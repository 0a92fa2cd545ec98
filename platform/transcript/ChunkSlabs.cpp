#include "ChunkSlabs.h"

#include "ThreadPriority.h"

// Under AddressSanitizer a slab is poisoned but for the chunks handed out, so
// that running past a chunk is caught as it is on the heap.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BRISOL_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define BRISOL_ASAN 1
#endif
#if defined(BRISOL_ASAN)
#include <sanitizer/asan_interface.h>
#endif

#include <cstddef>
#include <new>
#include <system_error>

namespace {

void markUsable([[maybe_unused]] quint8 *memory, [[maybe_unused]] qsizetype size,
                [[maybe_unused]] bool usable)
{
#if defined(BRISOL_ASAN)
    if (usable)
        __asan_unpoison_memory_region(memory, static_cast<std::size_t>(size));
    else
        __asan_poison_memory_region(memory, static_cast<std::size_t>(size));
#endif
}

} // namespace

ChunkSlabs::~ChunkSlabs()
{
    if (m_preparer.joinable()) {
        {
            const std::lock_guard lock(m_readyLock);
            m_stopping = true;
        }
        m_wanted.notify_one();
        m_preparer.join();
    }
    for (quint8 *slab : m_slabs) {
        markUsable(slab, kSlabBytes, true);
        unmap(slab, kSlabBytes);
    }
    for (quint8 *slab : m_ready)
        unmap(slab, kSlabBytes);
}

quint8 *ChunkSlabs::take()
{
    if (m_slabs.empty() || m_used == kSlabChunks) {
        // The place first, so that a slab mapped is never dropped.
        m_slabs.push_back(nullptr);
        try {
            m_slabs.back() = nextSlab(m_lastPresent);
        } catch (...) {
            m_slabs.pop_back();
            throw;
        }
        markUsable(m_slabs.back(), kSlabBytes, false);
        m_used = 0;
    }
    quint8 *chunk = m_slabs.back() + kChunkBytes * m_used++;
    markUsable(chunk, kChunkBytes, true);
    if (!m_lastPresent)
        populate(chunk, kChunkBytes);
    return chunk;
}

quint8 *ChunkSlabs::nextSlab(bool &present)
{
    // A single slab is all a short transcript takes: the thread starts with
    // the second, whose place in m_slabs is already taken.
    if (m_slabs.size() > 1 && !m_preparer.joinable() && !m_noPreparer) {
        try {
            m_preparer = std::thread(&ChunkSlabs::prepareAhead, this);
        } catch (const std::system_error &) {
            // No thread to be had: the taker maps its own slabs, as when
            // the thread stops for want of memory.
            m_noPreparer = true;
        }
    }
    {
        const std::lock_guard lock(m_readyLock);
        if (!m_ready.empty()) {
            quint8 *slab = m_ready.front();
            m_ready.pop_front();
            m_wanted.notify_one();
            present = true;
            return slab;
        }
    }
    m_wanted.notify_one();
    present = false;
    return map(kSlabBytes);
}

void ChunkSlabs::prepareAhead()
{
    // Fresh memory costs the receiving thread a page fault at most when none
    // is ready; a core taken from it while bytes wait costs the stream more.
    platform::transcript::giveWay(platform::transcript::GiveWay::ToTheStream);
    std::unique_lock lock(m_readyLock);
    for (;;) {
        m_wanted.wait(lock, [this] { return m_stopping || m_ready.size() < kReadySlabs; });
        if (m_stopping)
            return;
        lock.unlock();
        quint8 *slab = nullptr;
        try {
            slab = map(kSlabBytes);
            prepare(slab, kSlabBytes);
            lock.lock();
            m_ready.push_back(slab);
        } catch (const std::bad_alloc &) {
            // Out of memory: the taker maps its own, and finds out itself.
            if (slab)
                unmap(slab, kSlabBytes);
            return;
        }
    }
}

void ChunkSlabs::release(std::shared_ptr<ChunkSlabs> slabs)
{
    // Below this, unmapping costs less than starting a thread.
    constexpr qsizetype kReleasedElsewhere = 64 * kSlabBytes;
    if (!slabs || slabs.use_count() > 1 || slabs->bytes() < kReleasedElsewhere)
        return;
    try {
        std::thread([owned = std::move(slabs)]() mutable { owned.reset(); }).detach();
    } catch (const std::system_error &) {
        // No thread to be had: they go here, when `slabs` does.
    }
}

qsizetype ChunkSlabs::bytes() const
{
    // Slabs made ready ahead are not counted: they are the same few whatever
    // the length of the transcript.
    if (m_slabs.empty())
        return 0;
    return ((static_cast<qsizetype>(m_slabs.size()) - 1) * kSlabChunks + m_used) * kChunkBytes;
}
