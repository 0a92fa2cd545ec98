#include "ByteScan.h"

#include <cstring>

const quint8 *platform::transcript::bytescan::findBytes(const quint8 *haystack, qsizetype size,
                                                        const quint8 *needle, qsizetype n)
{
    return static_cast<const quint8 *>(
        memmem(haystack, static_cast<std::size_t>(size), needle, static_cast<std::size_t>(n)));
}
