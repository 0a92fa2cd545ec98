#include "WriterPriority.h"

#include <windows.h>

namespace platform::receivebox::log {

void giveWayToTheStream()
{
    // Refused, the writer writes at the program's priority.
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
}

} // namespace platform::receivebox::log
