#include "DirectWrites.h"

// Unbuffered writes on Windows need sector-aligned offsets from the file's
// opening (FILE_FLAG_NO_BUFFERING), which QFile does not give: the log goes
// through the system's cache there.
std::unique_ptr<DirectWrites> DirectWrites::open(QFile &)
{
    return nullptr;
}
