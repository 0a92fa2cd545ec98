#pragma once

// Ending the process at once, as closing the main window does: no clean-up,
// no destructors, no event loop turn.

namespace platform::system {

// Ends the process with the exit code, unless a handler has been installed
// (ProcessExit_p.h), in which case the handler is called instead and this
// returns.
void exitProcess(int exitCode);

} // namespace platform::system
