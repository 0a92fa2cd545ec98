// What keeping a stream costs the system before anything else is done with
// it: every byte of the transcript needs a byte of memory the process has
// never used, which the kernel must find, clear and map. This maps N MiB
// (rounded up to whole slabs) in slabs of 2 MiB, as the transcript does, and
// makes every page present by writing to it, on one thread. It prints
//   fresh_memory_mib_s R cpu_ns_per_byte C
// R in MiB per second of wall-clock time, C the thread's CPU time per byte.
// Keeping a stream that arrives at X MiB/s takes X / R of a core for this
// alone; nc, which keeps nothing, pays none of it.
//
//   bench_fresh_memory [--mib N]   (default 512)

#include <sys/mman.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>
#include <vector>

namespace {

double seconds(clockid_t clock)
{
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

} // namespace

int main(int argc, char **argv)
{
    long mib = 512;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--mib" && i + 1 < argc) {
            mib = std::strtol(argv[++i], nullptr, 10);
        } else {
            std::fprintf(stderr, "usage: %s [--mib N]\n", argv[0]);
            return 2;
        }
    }
    if (mib <= 0) {
        std::fprintf(stderr, "%s: --mib takes a number above 0\n", argv[0]);
        return 2;
    }
    constexpr std::size_t kSlab = std::size_t{2} << 20;
    constexpr std::size_t kPage = 4096;
    // Whole slabs.
    const std::size_t total = ((static_cast<std::size_t>(mib) << 20) + kSlab - 1) & ~(kSlab - 1);
    std::vector<void *> slabs;
    const double wallStart = seconds(CLOCK_MONOTONIC);
    const double cpuStart = seconds(CLOCK_THREAD_CPUTIME_ID);
    for (std::size_t done = 0; done < total; done += kSlab) {
        void *slab =
            mmap(nullptr, kSlab, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (slab == MAP_FAILED) {
            std::fprintf(stderr, "FAIL: mmap: %s\n", std::strerror(errno));
            return 1;
        }
        slabs.push_back(slab);
        auto *bytes = static_cast<volatile unsigned char *>(slab);
        for (std::size_t at = 0; at < kSlab; at += kPage)
            bytes[at] = 0;
    }
    const double wall = seconds(CLOCK_MONOTONIC) - wallStart;
    const double cpu = seconds(CLOCK_THREAD_CPUTIME_ID) - cpuStart;
    for (void *slab : slabs)
        munmap(slab, kSlab);
    std::printf("fresh_memory_mib_s %.1f cpu_ns_per_byte %.3f\n",
                static_cast<double>(total >> 20) / wall, cpu * 1e9 / static_cast<double>(total));
    return 0;
}
