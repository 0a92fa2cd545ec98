#include "ChunkSlabs.h"

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
    clear();
}

quint8 *ChunkSlabs::take()
{
    if (m_slabs.empty() || m_used == kSlabChunks) {
        quint8 *slab = map(kSlabBytes);
        markUsable(slab, kSlabBytes, false);
        m_slabs.push_back(slab);
        m_used = 0;
    }
    quint8 *chunk = m_slabs.back() + kChunkBytes * m_used++;
    markUsable(chunk, kChunkBytes, true);
    populate(chunk, kChunkBytes);
    return chunk;
}

void ChunkSlabs::clear()
{
    for (quint8 *slab : m_slabs) {
        markUsable(slab, kSlabBytes, true);
        unmap(slab, kSlabBytes);
    }
    m_slabs.clear();
    m_slabs.shrink_to_fit();
    m_used = 0;
}

qsizetype ChunkSlabs::bytes() const
{
    if (m_slabs.empty())
        return 0;
    return ((static_cast<qsizetype>(m_slabs.size()) - 1) * kSlabChunks + m_used) * kChunkBytes;
}
