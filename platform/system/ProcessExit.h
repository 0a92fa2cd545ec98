#pragma once

// Ending the process at once, as closing the main window does: no clean-up,
// no destructors, no event loop turn. The one thing that runs first is what
// must not be lost: bytes the user asked to keep that are still on their way
// to a file (a finisher, below).

#include <functional>

namespace platform::system {

// Ends the process with the exit code, unless a handler has been installed
// (ProcessExit_p.h), in which case the handler is called instead and this
// returns. Either way the finishers run before, in the order they were added.
void exitProcess(int exitCode);

// Something that completes work in flight whose loss the user would see (a
// log's writing), and nothing else: it may wait, it never asks the user and
// never turns the event loop. Called on the thread that calls exitProcess().
// Returns an id for removeExitFinisher(). User-interface thread only.
int addExitFinisher(std::function<void()> finish);
void removeExitFinisher(int id);

} // namespace platform::system
