#pragma once

// Memory for the transcript's bytes: fixed-size chunks carved from slabs that
// are mapped apart from the heap. Received bytes pass through the socket's
// buffers on the heap first; were the transcript to take heap memory too, each
// freed socket buffer would go to the transcript and every read would touch
// fresh pages. A slab is only address space until a chunk of it is handed
// out; that chunk's pages are then made present in one call rather than
// faulted in one by one. How a slab is mapped is the system's part, in
// ChunkSlabs_posix.cpp and ChunkSlabs_windows.cpp.
//
// Fresh memory costs the system as much as the bytes written into it (every
// page is cleared first), so once chunks are being taken a thread of its own
// maps and makes present the next few slabs ahead of need, on another core:
// the thread that takes the chunks then only finds them ready. It touches no
// slab it has handed over.

#include <QtGlobal>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class ChunkSlabs final
{
public:
    static constexpr int kChunkBits = 16;
    static constexpr qsizetype kChunkBytes = qsizetype{1} << kChunkBits;

    ChunkSlabs() = default;
    ~ChunkSlabs();
    Q_DISABLE_COPY_MOVE(ChunkSlabs)

    // A chunk of kChunkBytes, usable until the slabs are destroyed, when
    // every slab goes back to the system.
    quint8 *take();
    // Chunks handed out so far, in bytes.
    qsizetype bytes() const;

    // Lets go of slabs that are no longer needed. Giving gigabytes back to
    // the system takes a noticeable time, so when these are the last owner
    // of many slabs that is done on a thread of its own; the caller goes on
    // at once.
    static void release(std::shared_ptr<ChunkSlabs> slabs);

private:
    static constexpr qsizetype kSlabChunks = 32;
    static constexpr qsizetype kSlabBytes = kSlabChunks * kChunkBytes;
    // Slabs kept ready ahead of need.
    static constexpr std::size_t kReadySlabs = 8;

    // The next slab: a ready one, or one mapped now.
    quint8 *nextSlab(bool &present);
    void prepareAhead();

    // The system's part.
    static quint8 *map(qsizetype size);
    static void unmap(quint8 *slab, qsizetype size);
    // Makes a chunk usable and its pages present, for the taker.
    static void populate(quint8 *piece, qsizetype size);
    // The same for a whole slab, on the preparing thread: without holding a
    // lock that the taker could then wait for while this thread waits for a
    // core.
    static void prepare(quint8 *slab, qsizetype size);

    std::vector<quint8 *> m_slabs;
    qsizetype m_used = 0;       // chunks handed out of the last slab
    bool m_lastPresent = false; // the last slab's pages are all present

    std::mutex m_readyLock;
    std::condition_variable m_wanted;
    std::deque<quint8 *> m_ready; // mapped and present, not handed out
    bool m_stopping = false;
    std::thread m_preparer;    // started with the second slab
    bool m_noPreparer = false; // the system refused a thread for it
};
