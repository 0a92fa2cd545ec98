#pragma once

// What the benchmarks share and the product does not: the text they stream,
// the clock on which separate processes place their moments, a listening
// socket on loopback, and the process's resident size. Plain C++ on POSIX,
// with no Qt, so that the loopback sender and the reference client link it as
// the Qt benchmarks do.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace bench {

// Numbered lines: the line's number (from 0, zero-padded to `digits`, back to
// 0 past the largest), a space, `phrase` over and over up to `columns`
// characters, then CR LF where `lineBreak` holds. Every line differs from its
// neighbours, so that a piece lost, repeated or moved changes the text.
struct LineFormat
{
    int digits;
    std::string_view phrase;
    int columns;
    bool lineBreak;
};

// The streams of the loopback peers: 80-character lines, CR LF or none.
inline constexpr LineFormat kStreamLines{
    10, "The quick brown fox jumps over the lazy dog; 0123456789 ABCDEFGHIJKLM", 80, true};
inline constexpr LineFormat kStreamFlat{kStreamLines.digits, kStreamLines.phrase,
                                        kStreamLines.columns, false};
// The arrivals handed straight to the receive box: 80 bytes a line, CR LF
// included.
inline constexpr LineFormat kArrivalLines{8, "The quick brown fox jumps over the lazy dog. ", 78,
                                          true};

// The text of one format, produced piece by piece from its start.
class Lines final
{
public:
    explicit Lines(const LineFormat &format);

    // Writes the next `count` bytes of the text.
    void fill(char *out, std::size_t count);
    // Bytes per line, the line break included.
    std::size_t lineLength() const { return m_line.size(); }

private:
    void nextLine();

    std::string m_line;
    std::size_t m_digits;
    std::size_t m_at = 0;
};

// The first `count` bytes of a format's text.
std::string linesText(const LineFormat &format, std::size_t count);

// CLOCK_MONOTONIC in nanoseconds: the clock that a process hands to another
// (a start time on a command line, an accept time in a report) and that
// Python's time.monotonic_ns() reads too.
std::int64_t monotonicNs();

// A socket listening on 127.0.0.1 at a port the system chooses, one
// connection at a time, closed on exec; -1 with errno set where that fails.
int listenOnLoopback(std::uint16_t &port);

// The resident size now (VmRSS), in KiB; -1 where the system does not tell.
long long residentKiB();
// The largest resident size so far (ru_maxrss), in KiB.
long long peakResidentKiB();

// The Qt benchmarks run offscreen unless QT_QPA_PLATFORM names a platform.
void defaultToOffscreen();

} // namespace bench
