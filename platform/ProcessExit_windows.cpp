#include "ProcessExit.h"

#include <windows.h>

namespace platform::detail {

void systemExit(int exitCode)
{
    ExitProcess(static_cast<UINT>(exitCode));
}

} // namespace platform::detail
