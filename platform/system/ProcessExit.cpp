#include "ProcessExit.h"
#include "ProcessExit_p.h"

namespace platform::system {

namespace {
ExitHandler g_handler = nullptr;
}

void exitProcess(int exitCode)
{
    if (g_handler) {
        g_handler(exitCode);
        return;
    }
    detail::systemExit(exitCode);
}

ExitHandler setExitHandler(ExitHandler handler)
{
    const ExitHandler previous = g_handler;
    g_handler = handler;
    return previous;
}

} // namespace platform::system
