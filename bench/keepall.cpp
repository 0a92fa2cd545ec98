// The least a client that keeps every byte it receives must do, timed by
// bench/e2e_rate.sh beside nc (which keeps nothing) and the real binary: it
// connects to HOST PORT, recv()s straight into one anonymous mapping that
// only grows (64 GiB of address space reserved, nothing reused), and at the
// peer's close prints on standard error
//   keepall bytes B peak_rss_kib K
// and exits 0. A second thread makes the pages present ahead of the reader,
// at most 32 MiB ahead of where the reader has got (MADV_POPULATE_WRITE in
// 2 MiB pieces), so that the kernel finds and clears them on another core;
// with --one-thread the reader's recv() faults them in itself.
//
//   keepall [--one-thread] HOST PORT
//
// The sender times it, as every client, to its reading of the last byte:
// handing the kept memory back at the exit is not counted.
//
// HOST is a numeric loopback address (127.0.0.1, ::1): the benchmarks never
// leave the machine. Any failure prints "keepall: ..." and exits 1; wrong
// arguments exit 2.

#include "bench_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string_view>
#include <thread>
#include <vector>

namespace {

constexpr std::size_t kReserve = std::size_t{64} << 30;
constexpr std::size_t kAhead = std::size_t{32} << 20;
// The reader wakes the toucher each time it enters another step, not at
// every recv().
constexpr std::size_t kStep = std::size_t{4} << 20;
constexpr std::size_t kRead = std::size_t{4} << 20;
constexpr std::size_t kBounce = std::size_t{256} << 10;
constexpr unsigned kStop = ~0U;

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "keepall: %s: %s\n", what, std::strerror(errno));
    std::exit(1);
}

[[noreturn]] void usage()
{
    std::fprintf(
        stderr,
        "usage: keepall [--one-thread] [--bounce] HOST PORT  (HOST a numeric loopback address)\n");
    std::exit(2);
}

// A connected socket, or the program ends.
int connectTo(const char *host, const char *portText)
{
    char *end = nullptr;
    const long port = std::strtol(portText, &end, 10);
    if (*portText == '\0' || *end != '\0' || port <= 0 || port > 65535)
        usage();
    sockaddr_storage address{};
    socklen_t size = 0;
    auto *v4 = reinterpret_cast<sockaddr_in *>(&address);
    auto *v6 = reinterpret_cast<sockaddr_in6 *>(&address);
    if (inet_pton(AF_INET, host, &v4->sin_addr) == 1) {
        if ((ntohl(v4->sin_addr.s_addr) >> 24) != 127)
            usage();
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<std::uint16_t>(port));
        size = sizeof *v4;
    } else if (inet_pton(AF_INET6, host, &v6->sin6_addr) == 1) {
        if (std::memcmp(&v6->sin6_addr, &in6addr_loopback, sizeof in6addr_loopback) != 0)
            usage();
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<std::uint16_t>(port));
        size = sizeof *v6;
    } else {
        usage();
    }
    const int fd = socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        fail("socket");
    if (connect(fd, reinterpret_cast<sockaddr *>(&address), size) != 0)
        fail("connect");
    return fd;
}

// Where the reader has got, and the step it is in (kStop at the end), which
// the toucher waits on.
struct Progress
{
    std::atomic<std::size_t> received{0};
    std::atomic<unsigned> step{0};
};

// Makes the pages from the reader's position to kAhead past it present, in
// 2 MiB pieces: MADV_POPULATE_WRITE faults them in as writes would, without
// touching what they hold, so a page the reader is filling at the same
// moment keeps its bytes. Where the kernel refuses the advice, one byte of
// each page is written instead, atomically adding nothing.
void touchAhead(unsigned char *base, Progress &progress)
{
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    constexpr std::size_t kPiece = std::size_t{2} << 20;
    bool populate = true;
    std::size_t touched = 0;
    for (;;) {
        const unsigned step = progress.step.load(std::memory_order_acquire);
        if (step == kStop)
            return;
        const std::size_t reader = progress.received.load(std::memory_order_acquire);
        touched = std::max(touched, reader / page * page);
        const std::size_t limit = std::min(reader + kAhead, kReserve);
        while (touched < limit) {
            const std::size_t size = std::min(kPiece, limit - touched);
#if defined(MADV_POPULATE_WRITE)
            if (populate && madvise(base + touched, size, MADV_POPULATE_WRITE) != 0)
                populate = false;
#else
            populate = false;
#endif
            if (!populate) {
                for (std::size_t at = 0; at < size; at += page)
                    std::atomic_ref<unsigned char>(base[touched + at])
                        .fetch_add(0, std::memory_order_relaxed);
            }
            touched += size;
        }
        progress.step.wait(step, std::memory_order_acquire);
    }
}

} // namespace

int main(int argc, char **argv)
{
    bool oneThread = false;
    bool bounce = false;
    int first = 1;
    for (; first < argc && std::string_view(argv[first]).starts_with("--"); ++first) {
        if (std::string_view(argv[first]) == "--one-thread")
            oneThread = true;
        else if (std::string_view(argv[first]) == "--bounce")
            bounce = true;
        else
            usage();
    }
    if (argc - first != 2)
        usage();
    // Reserved, not committed: only the pages written to take memory.
    void *mapping = mmap(nullptr, kReserve, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (mapping == MAP_FAILED)
        fail("reserving 64 GiB of address space");
    auto *base = static_cast<unsigned char *>(mapping);
    const int fd = connectTo(argv[first], argv[first + 1]);

    Progress progress;
    std::thread toucher;
    if (!oneThread)
        toucher = std::thread(touchAhead, base, std::ref(progress));
    // With --bounce the system copies into one small buffer, used again and
    // again and so always in the cache, and the bytes are then copied into
    // the mapping: two copies, but the system's into memory it has touched.
    std::vector<unsigned char> bounceBuffer(bounce ? kBounce : 0);
    std::size_t received = 0;
    for (;;) {
        if (received == kReserve) {
            errno = EFBIG;
            fail("the stream is longer than the reserved 64 GiB");
        }
        const std::size_t room = std::min(kBounce, kReserve - received);
        const ssize_t got =
            bounce ? recv(fd, bounceBuffer.data(), room, 0)
                   : recv(fd, base + received, std::min(kRead, kReserve - received), 0);
        if (bounce && got > 0)
            std::memcpy(base + received, bounceBuffer.data(), static_cast<std::size_t>(got));
        if (got == 0)
            break;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            fail("recv");
        }
        received += static_cast<std::size_t>(got);
        progress.received.store(received, std::memory_order_release);
        if (const auto step = static_cast<unsigned>(received / kStep);
            step != progress.step.load(std::memory_order_relaxed)) {
            progress.step.store(step, std::memory_order_release);
            progress.step.notify_one();
        }
    }
    if (toucher.joinable()) {
        progress.step.store(kStop, std::memory_order_release);
        progress.step.notify_one();
        toucher.join();
    }
    close(fd);
    std::fprintf(stderr, "keepall bytes %zu peak_rss_kib %lld\n", received,
                 bench::peakResidentKiB());
    return 0;
}
