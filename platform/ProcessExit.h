#pragma once

// Ending the process at once, as closing the main window does: no clean-up,
// no destructors, no event loop turn. Tests replace the handler to watch it.

namespace platform {

using ExitHandler = void (*)(int exitCode);

// Ends the process with the exit code, unless a handler has been installed,
// in which case the handler is called instead and this returns.
void exitProcess(int exitCode);

// Installs a handler in place of ending the process (nullptr restores the
// real exit); returns the previous one.
ExitHandler setExitHandler(ExitHandler handler);

namespace detail {
[[noreturn]] void systemExit(int exitCode);
}

} // namespace platform
