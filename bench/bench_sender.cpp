// The sending end of bench/e2e_rate.sh: listens on 127.0.0.1 at a port the
// system chooses, prints "port P", and on the first connection waits the
// settle time, writes exactly N MiB of one shape of text, waits until the
// peer has read the last byte, shuts down its write side and waits for the
// peer to close. The time from the first write to the peer's reading of the
// last byte is the time the peer took to take the whole stream: the same
// moment for every client, whatever it does before it reads (the settle
// lets it finish starting) or after (giving back what it kept, exiting).
// The peer's reading is seen from here, in what the system holds for it
// unread (its socket diagnostics, NETLINK_SOCK_DIAG), asked every 20 µs once
// the last byte is written; the peer needs no part in it.
//
//   bench_sender --shape lines|flat|word [--mib N] [--settle MS] [--timeout S]
//                [--accept-timeout S] [-- COMMAND ARGS...]
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
//   bytes B seconds T accept_ns A start_ns S read_ns R close_ns C
// with T = R - S in seconds, and A (the accept), S (the first write), R (the
// last byte read) and C (the peer's close) read from CLOCK_MONOTONIC, so that
// other processes can place their own moments on the same clock. A peer that closes before it has
// read every byte makes the system reset the connection: that, a stall longer than the time-out, or
// a peer that sends anything, prints "FAIL: ..." and the program exits with status 1.

#include "bench_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
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

// The bytes the peer's end of a loopback connection holds unread, asked of
// the system's socket diagnostics by the connection's addresses seen from
// there.
class PeerUnread final
{
public:
    explicit PeerUnread(int connection)
    {
        sockaddr_in ours{};
        sockaddr_in theirs{};
        socklen_t size = sizeof ours;
        if (getsockname(connection, reinterpret_cast<sockaddr *>(&ours), &size) != 0)
            failErrno("getsockname");
        size = sizeof theirs;
        if (getpeername(connection, reinterpret_cast<sockaddr *>(&theirs), &size) != 0)
            failErrno("getpeername");
        m_request.header.nlmsg_len = sizeof m_request;
        m_request.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
        m_request.header.nlmsg_flags = NLM_F_REQUEST;
        m_request.body.sdiag_family = AF_INET;
        m_request.body.sdiag_protocol = IPPROTO_TCP;
        m_request.body.idiag_states = ~0u;
        m_request.body.id.idiag_sport = theirs.sin_port;
        m_request.body.id.idiag_dport = ours.sin_port;
        m_request.body.id.idiag_src[0] = theirs.sin_addr.s_addr;
        m_request.body.id.idiag_dst[0] = ours.sin_addr.s_addr;
        m_request.body.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
        m_request.body.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
        m_socket = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
        if (m_socket < 0)
            failErrno("the system's socket diagnostics (NETLINK_SOCK_DIAG)");
    }
    ~PeerUnread() { close(m_socket); }
    PeerUnread(const PeerUnread &) = delete;
    PeerUnread &operator=(const PeerUnread &) = delete;

    std::uint32_t bytes()
    {
        if (send(m_socket, &m_request, sizeof m_request, 0) != sizeof m_request)
            failErrno("asking the socket diagnostics");
        alignas(nlmsghdr) char answer[1024];
        const ssize_t got = recv(m_socket, answer, sizeof answer, 0);
        if (got < 0)
            failErrno("reading the socket diagnostics");
        const auto *header = reinterpret_cast<const nlmsghdr *>(answer);
        if (!NLMSG_OK(header, static_cast<unsigned>(got)) ||
            header->nlmsg_type != SOCK_DIAG_BY_FAMILY)
            fail("the socket diagnostics do not know the peer's end of the connection");
        return reinterpret_cast<const inet_diag_msg *>(answer + NLMSG_HDRLEN)->idiag_rqueue;
    }

private:
    struct Request
    {
        nlmsghdr header;
        inet_diag_req_v2 body;
    } m_request{};
    int m_socket = -1;
};

// Bytes written to the connection that the peer's end has not yet taken.
int unsent(int connection)
{
    int count = 0;
    if (ioctl(connection, SIOCOUTQ, &count) != 0)
        failErrno("SIOCOUTQ");
    return count;
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
        "usage: bench_sender --shape lines|flat|word [--mib N] [--settle MS] [--timeout S] "
        "[--accept-timeout S] [-- COMMAND ARGS...]";
    std::string shape;
    std::int64_t mib = 512;
    int settleMs = 0;
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
        else if (i + 1 < argc && argument == "--settle")
            settleMs = std::atoi(argv[++i]);
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
        acceptTimeout <= 0 || settleMs < 0)
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
    PeerUnread peerUnread(peer);
    if (settleMs > 0)
        poll(nullptr, 0, settleMs);

    const std::int64_t startNs = bench::monotonicNs();
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
    // Everything written has reached the peer's end, and none of it waits
    // there unread.
    const std::int64_t readDeadline = bench::monotonicNs() + std::int64_t{timeout} * 1000000000;
    while (unsent(peer) != 0 || peerUnread.bytes() != 0) {
        if (bench::monotonicNs() > readDeadline)
            fail("the peer did not read the last bytes within " + std::to_string(timeout) + " s");
        const timespec pause{0, 20000};
        nanosleep(&pause, nullptr);
    }
    const std::int64_t readNs = bench::monotonicNs();
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
    std::printf("bytes %lld seconds %.6f accept_ns %lld start_ns %lld read_ns %lld close_ns %lld\n",
                static_cast<long long>(written), static_cast<double>(readNs - startNs) / 1e9,
                static_cast<long long>(acceptNs), static_cast<long long>(startNs),
                static_cast<long long>(readNs), static_cast<long long>(closeNs));
    return 0;
}
