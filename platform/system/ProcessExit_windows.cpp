#include "ProcessExit_p.h"

#include <windows.h>

#include <cstdio>

namespace platform::system::detail {

void systemExit(int exitCode)
{
    // What was printed still goes out, as on POSIX: ExitProcess does not
    // flush the C library's buffers. Nothing else runs.
    std::fflush(nullptr);
    ExitProcess(static_cast<UINT>(exitCode));
}

} // namespace platform::system::detail
