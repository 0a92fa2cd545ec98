#pragma once

// What the store's searches share: the walk over a range of starts a window
// of a chunk at a time, looking at whether to stop every MiB, and the search
// of one window, where matches lying in its chunk are scanned where the bytes
// lie and those running on into the next chunks in a copy of the few bytes
// they take (a few, unless the pattern is longer than a chunk).

#include "ByteStore.h"
#include "ReadCount_p.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <span>
#include <vector>

namespace platform::transcript {

constexpr qsizetype kSearchWindow = ChunkSlabs::kChunkBytes;
constexpr int kWindowsBetweenStops = 16;

// Calls inWindow(from, to) on the windows of [low, high), from the low end
// forwards or from the high end backwards, until one gives 0 or more, which
// it returns; -1 when none does, or when `stop` is found set.
template <bool kForward, typename InWindow>
qsizetype forEachWindow(qsizetype low, qsizetype high, const std::atomic<bool> *stop,
                        const InWindow &inWindow)
{
    qsizetype windowFrom = low;
    qsizetype windowTo = high;
    for (int windows = 1; kForward ? windowFrom < high : windowTo > low; ++windows) {
        if constexpr (kForward)
            windowTo = std::min(high, (windowFrom | (kSearchWindow - 1)) + 1);
        else
            windowFrom = std::max(low, (windowTo - 1) & ~(kSearchWindow - 1));
        const qsizetype found = inWindow(windowFrom, windowTo);
        countRead(windowTo - windowFrom);
        if (found >= 0)
            return found;
        if constexpr (kForward)
            windowFrom = windowTo;
        else
            windowTo = windowFrom;
        if (stop && windows % kWindowsBetweenStops == 0 && stop->load(std::memory_order_relaxed))
            return -1;
    }
    return -1;
}

// The first (last) start in [from, to), all in one chunk, of a match of n
// bytes: scan(bytes, starts) gives the first (last) of starts [0, starts) of
// bytes laid out in memory that hold every byte a match starting there
// takes, or -1. Every match must end by the end of the store.
template <bool kForward, typename Scan>
qsizetype searchChunk(const ByteStore &store, qsizetype from, qsizetype to, qsizetype n,
                      std::vector<quint8> &scratch, const Scan &scan)
{
    const std::span<const quint8> chunk = store.bytesFrom(from);
    const qsizetype split =
        std::clamp(from + static_cast<qsizetype>(chunk.size()) - n + 1, from, to);
    const auto inPlace = [&]() -> qsizetype {
        const qsizetype start = scan(chunk.data(), split - from);
        return start < 0 ? -1 : from + start;
    };
    const auto across = [&]() -> qsizetype {
        if (split >= to)
            return -1;
        scratch.resize(static_cast<std::size_t>(to - split + n - 1));
        for (qsizetype at = split, end = to + n - 1; at < end;) {
            const std::span<const quint8> piece = store.bytesFrom(at);
            const auto count = std::min<qsizetype>(static_cast<qsizetype>(piece.size()), end - at);
            std::memcpy(scratch.data() + (at - split), piece.data(),
                        static_cast<std::size_t>(count));
            at += count;
        }
        const qsizetype start = scan(scratch.data(), to - split);
        return start < 0 ? -1 : split + start;
    };
    if constexpr (kForward) {
        const qsizetype start = inPlace();
        return start >= 0 ? start : across();
    } else {
        const qsizetype start = across();
        return start >= 0 ? start : inPlace();
    }
}

} // namespace platform::transcript
