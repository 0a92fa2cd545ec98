#include "bench_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace bench {

Lines::Lines(const LineFormat &format) : m_digits(static_cast<std::size_t>(format.digits))
{
    const auto columns = static_cast<std::size_t>(format.columns);
    m_line.assign(m_digits, '0');
    m_line += ' ';
    while (m_line.size() < columns)
        m_line += format.phrase;
    m_line.resize(columns);
    if (format.lineBreak)
        m_line += "\r\n";
}

void Lines::fill(char *out, std::size_t count)
{
    while (count > 0) {
        if (m_at == m_line.size()) {
            nextLine();
            m_at = 0;
        }
        const std::size_t take = std::min(count, m_line.size() - m_at);
        std::memcpy(out, m_line.data() + m_at, take);
        m_at += take;
        out += take;
        count -= take;
    }
}

// Counts on in the line's own digits, which is all a new line changes.
void Lines::nextLine()
{
    for (std::size_t i = m_digits; i-- > 0;) {
        if (m_line[i] != '9') {
            ++m_line[i];
            return;
        }
        m_line[i] = '0';
    }
}

std::string linesText(const LineFormat &format, std::size_t count)
{
    std::string text(count, '\0');
    Lines(format).fill(text.data(), count);
    return text;
}

std::int64_t monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t{now.tv_sec} * 1000000000 + std::int64_t{now.tv_nsec};
}

int listenOnLoopback(std::uint16_t &port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t size = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr *>(&address), size) != 0 || listen(fd, 1) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) != 0) {
        const int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

long long residentKiB()
{
    std::FILE *status = std::fopen("/proc/self/status", "r");
    if (!status)
        return -1;
    long long kib = -1;
    char line[256];
    while (std::fgets(line, sizeof line, status)) {
        if (std::sscanf(line, "VmRSS: %lld kB", &kib) == 1)
            break;
    }
    std::fclose(status);
    return kib;
}

long long peakResidentKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void defaultToOffscreen()
{
    const char *platform = std::getenv("QT_QPA_PLATFORM");
    if (!platform || !*platform)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
}

} // namespace bench
