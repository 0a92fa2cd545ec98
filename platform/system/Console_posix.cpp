#include "Console.h"

namespace platform::system {

// A program started from a terminal writes to it already.
void attachParentConsole() {}

} // namespace platform::system
