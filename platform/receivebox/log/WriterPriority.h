#pragma once

// The log's writer gives way to the stream: on a machine of few cores the
// copy into the system's file cache would otherwise take its share of a core
// from the thread that receives, or from the one that makes the transcript's
// memory ready ahead of it. Whatever the writer leaves behind waits in the
// transcript's own memory, which holds it anyway, and is written as soon as a
// core is free: at the latest when the process ends, which waits for it.
// One file per system.

namespace platform::receivebox::log {

// Lowers the calling thread's priority below the program's other threads.
void giveWayToTheStream();

} // namespace platform::receivebox::log
