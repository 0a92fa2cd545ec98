#include "Console.h"

#include <windows.h>

#include <cstdio>

namespace platform::system {

namespace {

// A handle that leads somewhere: a file, a pipe or a console given by the
// process that started the program.
bool leadsSomewhere(DWORD which)
{
    const HANDLE handle = GetStdHandle(which);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
           GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

} // namespace

void attachParentConsole()
{
    const bool output = leadsSomewhere(STD_OUTPUT_HANDLE);
    const bool errors = leadsSomewhere(STD_ERROR_HANDLE);
    if ((output && errors) || !AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    // What was redirected stays so; the rest goes to the console.
    if (!output)
        std::freopen("CONOUT$", "w", stdout);
    if (!errors)
        std::freopen("CONOUT$", "w", stderr);
}

} // namespace platform::system
