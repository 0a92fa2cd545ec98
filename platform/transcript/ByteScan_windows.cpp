#include "ByteScan.h"

#include <algorithm>
#include <functional>

// The system's C library has no memmem; Horspool's skips keep a search for
// a few typed bytes fast, though its worst case is not linear.
const quint8 *platform::transcript::bytescan::findBytes(const quint8 *haystack, qsizetype size,
                                                        const quint8 *needle, qsizetype n)
{
    const quint8 *end = haystack + size;
    const quint8 *at =
        std::search(haystack, end, std::boyer_moore_horspool_searcher(needle, needle + n));
    return at == end ? nullptr : at;
}
