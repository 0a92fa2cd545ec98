#include "ChunkSlabs.h"

#include <windows.h>

#include <cstddef>
#include <new>

// A slab is reserved whole and committed a chunk at a time, so that only the
// chunks handed out count against the system's commit limit.
quint8 *ChunkSlabs::map(qsizetype size)
{
    void *slab = VirtualAlloc(nullptr, static_cast<SIZE_T>(size), MEM_RESERVE, PAGE_NOACCESS);
    if (!slab)
        throw std::bad_alloc();
    return static_cast<quint8 *>(slab);
}

void ChunkSlabs::unmap(quint8 *slab, qsizetype)
{
    VirtualFree(slab, 0, MEM_RELEASE);
}

void ChunkSlabs::populate(quint8 *piece, qsizetype size)
{
    if (!VirtualAlloc(piece, static_cast<SIZE_T>(size), MEM_COMMIT, PAGE_READWRITE))
        throw std::bad_alloc();
}

void ChunkSlabs::prepare(quint8 *slab, qsizetype size)
{
    populate(slab, size);
}
