#include "ThreadPriority.h"

#include <windows.h>

void platform::transcript::giveWay(GiveWay how)
{
    // The system lifts a thread that has waited seconds for a core for a
    // moment, so even the idle priority moves when every core is busy.
    SetThreadPriority(GetCurrentThread(),
                      how == GiveWay::ToAll ? THREAD_PRIORITY_IDLE : THREAD_PRIORITY_LOWEST);
}
