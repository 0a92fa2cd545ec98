#include "ProcessExit_p.h"

#include <cstdio>
#include <unistd.h>

namespace platform::system::detail {

void systemExit(int exitCode)
{
    // What was printed still goes out; nothing else runs.
    std::fflush(nullptr);
    _exit(exitCode);
}

} // namespace platform::system::detail
