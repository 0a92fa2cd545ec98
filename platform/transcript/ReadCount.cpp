#include "ReadCount_p.h"

#include <atomic>

namespace platform::transcript {

namespace {
// Readers on other threads (a save, a search) count too.
std::atomic<qsizetype> g_charactersRead{0};
} // namespace

void countRead(qsizetype characters)
{
    g_charactersRead.fetch_add(characters, std::memory_order_relaxed);
}

qsizetype charactersRead()
{
    return g_charactersRead.load(std::memory_order_relaxed);
}

} // namespace platform::transcript
