// The sending end of bench/e2e_rate.sh: listens on 127.0.0.1 at a port the
// system chooses, prints "port P", and on the first connection writes exactly
// N MiB of one shape of text, shuts down its write side and waits for the
// peer to close. The time from the accept to the peer's close is the time the
// peer took to take the whole stream.
//
//   bench_sender --shape lines|flat|word [--mib N] [--timeout S] [--accept-timeout S]
//                [-- COMMAND ARGS...]
//
//   lines  80-column lines ending in CR LF
//   flat   the same characters with no line break at all
//   word   one letter over and over: a single word of N MiB
//
// With a command, the sender starts it once listening, with "{port}" in its
// arguments replaced by the port, its input and output /dev/null, and the
// stream ends when the peer has closed and the command has exited (with
// status 0). That is for a peer such as "nc -N", which shuts down its own
// write side as soon as its input ends, so that its close is not seen on the
// connection; its exit is that close.
//
// Every wait gives up after S seconds (default 300), except the wait for the
// connection, which gives up after the accept time-out (default S).
//
// It prints "accepted" at the connection, and on success one more line:
//   bytes B seconds T accept_ns A close_ns C
// with A and C read from CLOCK_MONOTONIC, so that other processes can place
// their own moments on the same clock. A peer that closes before it has read
// every byte makes the system reset the connection: that, a stall longer than
// the time-out, or a peer that sends anything, prints "FAIL: ..." and the
// program exits with status 1.

#include "bench_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::int64_t kMiB = 1024 * 1024;
constexpr std::size_t kWrite = 256 * 1024;

// The command the sender started, ended with the sender if it fails.
pid_t g_child = -1;

[[noreturn]] void fail(const std::string &what)
{
    if (g_child > 0) {
        kill(g_child, SIGTERM);
        waitpid(g_child, nullptr, 0);
    }
    std::printf("FAIL: %s\n", what.c_str());
    std::fflush(stdout);
    std::exit(1);
}

[[noreturn]] void failErrno(const std::string &what)
{
    fail(what + ": " + std::strerror(errno));
}

// One period of the stream, written twice over, so that any write of up to a
// period's length is one contiguous piece of it, wherever the stream is.
struct Pattern
{
    std::vector<char> bytes;
    std::size_t period = 0;
};

Pattern makePattern(bool lineBreaks, bool word)
{
    Pattern pattern;
    if (word) {
        pattern.period = 1 << 20;
        pattern.bytes.assign(2 * pattern.period, 'w');
        return pattern;
    }
    bench::Lines lines(lineBreaks ? bench::kStreamLines : bench::kStreamFlat);
    pattern.period = lines.lineLength() * 12800; // about 1 MiB
    pattern.bytes.resize(2 * pattern.period);
    lines.fill(pattern.bytes.data(), pattern.period);
    std::copy_n(pattern.bytes.begin(), pattern.period,
                pattern.bytes.begin() + static_cast<std::ptrdiff_t>(pattern.period));
    return pattern;
}

// Starts the command with its input and output on /dev/null and "{port}" in
// its arguments replaced; gives a descriptor that becomes readable when it
// exits.
int startCommand(std::vector<std::string> command, int port)
{
    for (std::string &argument : command)
        for (std::size_t at = argument.find("{port}"); at != std::string::npos;
             at = argument.find("{port}"))
            argument.replace(at, 6, std::to_string(port));
    std::vector<char *> arguments;
    for (std::string &argument : command)
        arguments.push_back(argument.data());
    arguments.push_back(nullptr);
    const pid_t parent = getpid();
    g_child = fork();
    if (g_child < 0)
        failErrno("fork");
    if (g_child == 0) {
        // The command goes with the sender, however the sender ends.
        if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || getppid() != parent)
            _exit(126);
        const int null = open("/dev/null", O_RDWR);
        if (null < 0 || dup2(null, 0) < 0 || dup2(null, 1) < 0)
            _exit(126);
        execvp(arguments[0], arguments.data());
        std::fprintf(stderr, "bench_sender: cannot run %s: %s\n", arguments[0],
                     std::strerror(errno));
        _exit(127);
    }
    const auto exited = static_cast<int>(syscall(SYS_pidfd_open, g_child, 0));
    if (exited < 0)
        failErrno("pidfd_open");
    return exited;
}

void setTimeout(int fd, int option, int seconds)
{
    timeval limit{};
    limit.tv_sec = seconds;
    if (setsockopt(fd, SOL_SOCKET, option, &limit, sizeof limit) != 0)
        failErrno("setsockopt");
}

} // namespace

int main(int argc, char **argv)
{
    const std::string usage =
        "usage: bench_sender --shape lines|flat|word [--mib N] [--timeout S] [--accept-timeout S] "
        "[-- COMMAND ARGS...]";
    std::string shape;
    std::int64_t mib = 512;
    int timeout = 300;
    int acceptTimeout = 0;
    std::vector<std::string> command;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--" && i + 1 < argc) {
            command.assign(argv + i + 1, argv + argc);
            break;
        }
        if (i + 1 < argc && argument == "--shape")
            shape = argv[++i];
        else if (i + 1 < argc && argument == "--mib")
            mib = std::atoll(argv[++i]);
        else if (i + 1 < argc && argument == "--timeout")
            timeout = std::atoi(argv[++i]);
        else if (i + 1 < argc && argument == "--accept-timeout")
            acceptTimeout = std::atoi(argv[++i]);
        else
            fail(usage);
    }
    if (acceptTimeout == 0)
        acceptTimeout = timeout;
    if ((shape != "lines" && shape != "flat" && shape != "word") || mib <= 0 || timeout <= 0 ||
        acceptTimeout <= 0)
        fail(usage);
    const Pattern pattern = makePattern(shape == "lines", shape == "word");
    const std::int64_t total = mib * kMiB;

    std::uint16_t port = 0;
    const int listener = bench::listenOnLoopback(port);
    if (listener < 0)
        failErrno("listening on 127.0.0.1");
    std::printf("port %d\n", port);
    std::fflush(stdout);
    const int exited = command.empty() ? -1 : startCommand(command, port);

    pollfd waiting[2] = {{listener, POLLIN, 0}, {exited, POLLIN, 0}};
    const int ready = poll(waiting, exited >= 0 ? 2 : 1, acceptTimeout * 1000);
    if (ready == 0)
        fail("no connection within " + std::to_string(acceptTimeout) + " s");
    if (ready < 0)
        failErrno("poll");
    if (!(waiting[0].revents & POLLIN))
        fail("the command exited before it connected");
    const int peer = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    const std::int64_t acceptNs = bench::monotonicNs();
    if (peer < 0)
        failErrno("accept");
    close(listener);
    std::printf("accepted\n");
    std::fflush(stdout);
    setTimeout(peer, SO_SNDTIMEO, timeout);
    setTimeout(peer, SO_RCVTIMEO, timeout);

    std::int64_t written = 0;
    std::size_t at = 0;
    while (written < total) {
        const auto piece =
            static_cast<std::size_t>(std::min<std::int64_t>(total - written, kWrite));
        const ssize_t sent = send(peer, pattern.bytes.data() + at, piece, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR)
                continue;
            failErrno("after " + std::to_string(written) + " of " + std::to_string(total) +
                      " bytes written");
        }
        written += sent;
        at = (at + static_cast<std::size_t>(sent)) % pattern.period;
    }
    if (shutdown(peer, SHUT_WR) != 0)
        failErrno("shutdown");

    // The peer's close comes as the end of its stream; a reset means it closed
    // with bytes still unread.
    char scratch[4096];
    for (;;) {
        const ssize_t got = recv(peer, scratch, sizeof scratch, 0);
        if (got == 0)
            break;
        if (got > 0)
            fail("the peer sent " + std::to_string(got) + " bytes; it should send nothing");
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            fail("the peer did not close within " + std::to_string(timeout) + " s");
        failErrno("waiting for the peer to close (it may have closed before reading all)");
    }
    if (exited >= 0) {
        pollfd child{exited, POLLIN, 0};
        if (poll(&child, 1, timeout * 1000) != 1)
            fail("the command did not exit within " + std::to_string(timeout) + " s");
        int status = 0;
        waitpid(g_child, &status, 0);
        g_child = -1;
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            fail("the command ended with status " + std::to_string(status));
    }
    const std::int64_t closeNs = bench::monotonicNs();
    close(peer);
    std::printf("bytes %lld seconds %.6f accept_ns %lld close_ns %lld\n",
                static_cast<long long>(written), static_cast<double>(closeNs - acceptNs) / 1e9,
                static_cast<long long>(acceptNs), static_cast<long long>(closeNs));
    return 0;
}
