#pragma once

// Start-up time of a window: from the moment the launching process names (a
// steady-clock time in nanoseconds, the first argument) to the first expose
// of any window of this process. Prints "startup_ms <value>" and ends the
// process at once, so that nothing after the expose is counted.

class QApplication;

void reportFirstExpose(QApplication &application, int argc, char **argv);
