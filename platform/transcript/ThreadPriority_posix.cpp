#include "ThreadPriority.h"

#include <sys/resource.h>
#include <unistd.h>

void platform::transcript::giveWay(GiveWay how)
{
    // Linux keeps a nice value per thread, named by its id. Ten steps down
    // weigh a tenth of a thread at the program's, nineteen about a seventieth.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), how == GiveWay::Some ? 10 : 19);
}
