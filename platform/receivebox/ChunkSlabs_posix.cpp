#include "ChunkSlabs.h"

#include <sys/mman.h>

#include <cstddef>
#include <new>

quint8 *ChunkSlabs::map(qsizetype size)
{
    void *slab = mmap(nullptr, static_cast<std::size_t>(size), PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (slab == MAP_FAILED)
        throw std::bad_alloc();
    return static_cast<quint8 *>(slab);
}

void ChunkSlabs::unmap(quint8 *slab, qsizetype size)
{
    munmap(slab, static_cast<std::size_t>(size));
}

void ChunkSlabs::populate([[maybe_unused]] quint8 *piece, [[maybe_unused]] qsizetype size)
{
#if defined(MADV_POPULATE_WRITE)
    // Older kernels refuse the advice; the pages then fault in on use.
    madvise(piece, static_cast<std::size_t>(size), MADV_POPULATE_WRITE);
#endif
}
