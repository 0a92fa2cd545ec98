#include "ChunkSlabs.h"

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <new>

// Every change to the map of the address space (mmap, munmap) waits for the
// threads inside a call that reads it, MADV_POPULATE_WRITE among them; page
// faults do not. So the preparing thread, which may be waiting for a core in
// the middle of a slab, makes its slabs present by writing to them.

namespace {

// A slab is one huge page of the processor where the build asks for them
// (BRISOL_HUGE_PAGES) and the kernel offers them: it then costs one page
// fault and one TLB entry instead of 512. Aligned either way, which also
// keeps a new slab from being merged into the mapping of the one before,
// whose pages may be faulting in on the other thread.
constexpr std::size_t kHugePage = std::size_t{2} << 20;

} // namespace

quint8 *ChunkSlabs::map(qsizetype size)
{
    static_assert(kSlabBytes % kHugePage == 0);
    // Mapped one huge page larger, then trimmed to a huge page's boundary.
    const auto bytes = static_cast<std::size_t>(size);
    void *raw = mmap(nullptr, bytes + kHugePage, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        throw std::bad_alloc();
    auto *start = static_cast<quint8 *>(raw);
    const std::size_t head =
        (kHugePage - reinterpret_cast<std::uintptr_t>(raw) % kHugePage) % kHugePage;
    if (head > 0)
        munmap(start, head);
    if (kHugePage - head > 0)
        munmap(start + head + bytes, kHugePage - head);
    start += head;
#if defined(BRISOL_HUGE_PAGES) && defined(MADV_HUGEPAGE)
    // Refused where the kernel has no transparent huge pages: the slab then
    // has pages of the usual size, quietly.
    madvise(start, bytes, MADV_HUGEPAGE);
#endif
    return start;
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

void ChunkSlabs::prepare(quint8 *slab, qsizetype size)
{
    // No page is smaller than this. A fresh page reads as zero: writing a
    // zero changes nothing but makes it present.
    constexpr qsizetype kSmallestPage = 4096;
    for (qsizetype at = 0; at < size; at += kSmallestPage)
        *static_cast<volatile quint8 *>(slab + at) = 0;
}
