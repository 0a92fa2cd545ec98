#pragma once

// What stands behind exitProcess(): the system's own exit, one file per
// system, and a handler that a program driving the real window installs to
// watch the exit instead of ending.

#include "ProcessExit.h"

namespace platform::system {

using ExitHandler = void (*)(int exitCode);

// Installs a handler in place of ending the process (nullptr restores the
// real exit); returns the previous one.
ExitHandler setExitHandler(ExitHandler handler);

namespace detail {
[[noreturn]] void systemExit(int exitCode);
}

} // namespace platform::system
