#include "ProcessExit.h"
#include "ProcessExit_p.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace platform::system {

namespace {
ExitHandler g_handler = nullptr;

struct Finisher
{
    int id;
    std::function<void()> finish;
};
std::vector<Finisher> g_finishers;
int g_lastFinisherId = 0;
} // namespace

void exitProcess(int exitCode)
{
    // A copy: a finisher that removes itself does not change the list walked.
    const std::vector<Finisher> finishers = g_finishers;
    for (const Finisher &finisher : finishers)
        finisher.finish();
    if (g_handler) {
        g_handler(exitCode);
        return;
    }
    detail::systemExit(exitCode);
}

ExitHandler setExitHandler(ExitHandler handler)
{
    const ExitHandler previous = g_handler;
    g_handler = handler;
    return previous;
}

int addExitFinisher(std::function<void()> finish)
{
    g_finishers.push_back({++g_lastFinisherId, std::move(finish)});
    return g_lastFinisherId;
}

void removeExitFinisher(int id)
{
    std::erase_if(g_finishers, [id](const Finisher &finisher) { return finisher.id == id; });
}

} // namespace platform::system
