#include "ThreadPriority.h"

#include <windows.h>

void platform::transcript::giveWay(GiveWay how)
{
    SetThreadPriority(GetCurrentThread(),
                      how == GiveWay::Some ? THREAD_PRIORITY_BELOW_NORMAL : THREAD_PRIORITY_LOWEST);
}
