#include "ThreadPriority.h"

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

void platform::transcript::giveWay(GiveWay how)
{
    if (how == GiveWay::ToAll) {
        // Weighs about a third of a thread at nice 19: it still moves, at a
        // crawl, when every core is busy.
        const sched_param parameters{};
        if (sched_setscheduler(0, SCHED_IDLE, &parameters) == 0)
            return;
    }
    // Linux keeps a nice value per thread, named by its id; nineteen steps
    // down weigh about a seventieth of a thread at the program's.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19);
}
