#pragma once

// The transcript's helper threads give way to the stream: on a machine of few
// cores their work would otherwise take its share of a core from the thread
// that receives, which has bytes waiting. What they leave behind is done as
// soon as a core is free. One file per system.

namespace platform::transcript {

enum class GiveWay {
    // Behind the program's own threads, still moving when every core is busy
    // (the session log's writer: what it leaves waits in the transcript).
    Some,
    // Only when a core would otherwise be idle, or nearly (the thread that
    // makes memory ready ahead of the receiving one, which makes its own
    // when none is ready).
    Most,
};

// Lowers the calling thread's priority; refused, it stays as it was.
void giveWay(GiveWay how);

} // namespace platform::transcript
