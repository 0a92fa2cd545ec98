#include "WriterPriority.h"

#include <sys/resource.h>
#include <unistd.h>

namespace platform::receivebox::log {

void giveWayToTheStream()
{
    // Linux keeps a nice value per thread, named by its id. Ten steps down
    // weigh a tenth of a thread at the program's: the writer still moves
    // when every core is busy. Refused, it writes at the program's.
    constexpr int kNice = 10;
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kNice);
}

} // namespace platform::receivebox::log
