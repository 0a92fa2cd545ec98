#pragma once

// Standard output and error for a desktop program started from a console.
// On Windows the program is built for the GUI subsystem, so that no console
// opens beside its window; what it prints (help, version, a mistake on the
// command line) would then go nowhere. Where the output is not redirected
// already, this attaches it to the console of the process that started the
// program, if there is one. Elsewhere it changes nothing.

namespace platform::system {

void attachParentConsole();

} // namespace platform::system
