#pragma once

// The received bytes to a file, exactly as they came (a NUL a zero byte, CR
// LF as it arrived, no code-page conversion), straight from the store's
// chunks: no copy of the transcript is made. Through QSaveFile, so that the
// file at the path appears whole or not at all. It reads nothing but the
// store's bytes below its end, so a shared store (ByteStore::share) may be
// saved on another thread while the box goes on.

#include "ByteStore.h"

#include <QString>

#include <atomic>
#include <functional>

namespace platform::transcript {

enum class SaveResult { Saved, Cancelled, Failed };

struct SaveOutcome
{
    SaveResult result = SaveResult::Saved;
    QString error; // the system's description, when it failed
};

// Writes every byte of the store to the file at that path, replacing it only
// once all are written. `progress` is told how many bytes are written after
// each piece; `stop`, looked at between pieces, cancels. A failed or
// cancelled save leaves what was at the path as it was, and nothing beside.
SaveOutcome saveBytes(const ByteStore &store, const QString &path, const std::atomic<bool> &stop,
                      const std::function<void(qsizetype)> &progress);

} // namespace platform::transcript
