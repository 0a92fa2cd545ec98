// The receive path's one pass over each arriving byte, wherever the bytes,
// their copy and their marks lie, against a reading byte by byte.

#include "FuzzInput.h"

#include "ByteScanCheck.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzInput input(data, size);
    const std::uint8_t shifts = input.takeByte();
    const std::uint8_t first = input.takeByte();
    FUZZ_CHECK(byteScanMismatch(input.rest(), shifts % 16u, shifts / 16u, first % 128).isEmpty());
    return 0;
}
