#pragma once

// A session log's file written around the system's file cache, where the
// system allows it (Linux's O_DIRECT): what a log writes never goes through
// page-cache pages to be made, filled and flushed later by the system's own
// threads at the stream's priority; it goes from a staging buffer of the
// writer's to the disk, in whole blocks, on the writer's thread alone.
//
// The file stays an exact prefix of what was appended after every call: a
// block goes out only whole, and flush() writes the part block at the end
// through the cache, at its place, to be written again whole once it fills.
// The file's open mode (append or not) is restored when this is destroyed.

#include <QFileDevice>
#include <QString>

#include <memory>

class QFile;

class DirectWrites
{
public:
    // Null where the file's system takes no such writes, or the file is not
    // a plain one open for writing; then the file is left as it was.
    static std::unique_ptr<DirectWrites> open(QFile &file);
    virtual ~DirectWrites() = default;

    // Bytes after those appended before; whole blocks go to the file as they
    // fill. False once a write failed.
    virtual bool append(const char *bytes, qsizetype size) = 0;
    // Puts every byte appended in the file. False once a write failed.
    virtual bool flush() = 0;
    // Bytes of the file that come from appends, so far.
    virtual qsizetype inFile() const = 0;
    // Why the last write failed, in the kinds Qt tells a file's failures
    // apart by, and the system's own words for it.
    virtual QFileDevice::FileError error() const = 0;
    virtual QString errorString() const = 0;
};
