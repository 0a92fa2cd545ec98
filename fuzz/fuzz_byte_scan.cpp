// The receive path's one pass over each arriving byte, wherever the bytes and
// their copy lie and wherever their marks start: the NULs it counts, the
// line-shaping bytes it marks and the copy it makes are those of a reading
// byte by byte.

#include "FuzzInput.h"

#include "ByteScanCheck.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzInput input(data, size);
    const std::uint8_t shifts = input.takeByte();
    const std::uint8_t first = input.takeByte();
    const QString why = byteScanMismatch(input.rest(), shifts % 16, shifts / 16, first % 128);
    if (!why.isEmpty()) {
        std::fprintf(stderr, "fuzz_byte_scan: %s\n", qPrintable(why));
        std::abort();
    }
    return 0;
}
