#pragma once

// The transcript's helper threads give way to the stream: on a machine of few
// cores their work would otherwise take its share of a core from the thread
// that receives while bytes wait for it. What they leave behind is done as
// soon as a core is free. One file per system.

namespace platform::transcript {

enum class GiveWay {
    // Below the program's own threads (the thread that makes memory ready
    // ahead of the receiving one, which makes its own when none is ready).
    ToTheStream,
    // Only on a core that would otherwise be idle, or all but (the session
    // log's writer: what it leaves behind waits in the transcript, which
    // holds it anyway, and the process's end waits for it). Its file's pages
    // are fresh memory too, which costs as much as the transcript's.
    ToAll,
};

// Lowers the calling thread's priority; refused, it stays as it was.
void giveWay(GiveWay how);

} // namespace platform::transcript
