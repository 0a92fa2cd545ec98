#include "DirectWrites.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

#if defined(O_DIRECT)

// A multiple of every logical block size a disk has, for the buffer's
// address, the lengths and the offsets alike.
constexpr qsizetype kBlock = 4096;
constexpr qsizetype kBufferBytes = qsizetype{1} << 20;

class LinuxDirectWrites final : public DirectWrites
{
public:
    LinuxDirectWrites(int fd, int flags, off_t end, char *buffer)
        : m_fd(fd), m_flags(flags), m_start(end & ~off_t{kBlock - 1}), m_base(end), m_buffer(buffer)
    {
        m_fill = static_cast<qsizetype>(end - m_start);
        m_onDisk = m_fill;
    }
    ~LinuxDirectWrites() override
    {
        ::fcntl(m_fd, F_SETFL, m_flags);
        std::free(m_buffer);
    }
    Q_DISABLE_COPY_MOVE(LinuxDirectWrites)

    // The part block already in the file, read back so that the first block
    // written whole carries it; through a reading descriptor of the same file,
    // as the log's own writes only.
    bool readTail()
    {
        if (m_fill == 0)
            return true;
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(m_fd);
        const int reader = ::open(self.constData(), O_RDONLY | O_CLOEXEC);
        if (reader < 0)
            return false;
        const bool read =
            ::pread(reader, m_buffer, static_cast<std::size_t>(m_fill), m_start) == m_fill;
        ::close(reader);
        return read;
    }

    bool append(const char *bytes, qsizetype size) override
    {
        while (size > 0) {
            const qsizetype take = std::min(size, kBufferBytes - m_fill);
            std::memcpy(m_buffer + m_fill, bytes, static_cast<std::size_t>(take));
            m_fill += take;
            bytes += take;
            size -= take;
            if (m_fill == kBufferBytes && !writeBlocks())
                return false;
        }
        return true;
    }

    bool flush() override
    {
        if (!writeBlocks())
            return false;
        if (m_onDisk == m_fill)
            return true;
        // The part block through the cache; it stays in the buffer.
        if (::fcntl(m_fd, F_SETFL, m_flags & ~O_APPEND) != 0)
            return failed(errno);
        const ssize_t wrote =
            ::pwrite(m_fd, m_buffer + m_onDisk, static_cast<std::size_t>(m_fill - m_onDisk),
                     m_start + m_onDisk);
        const int error = errno;
        if (!m_cached && ::fcntl(m_fd, F_SETFL, (m_flags & ~O_APPEND) | O_DIRECT) != 0)
            return failed(errno);
        if (wrote != m_fill - m_onDisk)
            return failed(wrote < 0 ? error : ENOSPC);
        m_onDisk = m_fill;
        return true;
    }

    qsizetype inFile() const override
    {
        return static_cast<qsizetype>(m_start + m_onDisk - m_base);
    }

    QFileDevice::FileError error() const override
    {
        switch (m_error) {
        case ENOSPC:
        case EDQUOT:
            return QFileDevice::ResourceError;
        case EACCES:
        case EPERM:
            return QFileDevice::PermissionsError;
        case EIO:
            return QFileDevice::WriteError;
        default:
            return QFileDevice::UnspecifiedError;
        }
    }

    QString errorString() const override { return QString::fromLocal8Bit(std::strerror(m_error)); }

private:
    // Writes the buffer's whole blocks and keeps the part block after them.
    bool writeBlocks()
    {
        const qsizetype whole = m_fill & ~(kBlock - 1);
        if (whole == 0)
            return true;
        ssize_t wrote = ::pwrite(m_fd, m_buffer, static_cast<std::size_t>(whole), m_start);
        // A disk whose blocks are larger than ours refuses the write whole:
        // the log goes on through the cache, as where the file's system
        // takes no such writes at all.
        if (wrote < 0 && errno == EINVAL && !m_cached) {
            if (::fcntl(m_fd, F_SETFL, m_flags & ~O_APPEND) != 0)
                return failed(errno);
            m_cached = true;
            wrote = ::pwrite(m_fd, m_buffer, static_cast<std::size_t>(whole), m_start);
        }
        if (wrote != whole)
            return failed(wrote < 0 ? errno : ENOSPC);
        const qsizetype rest = m_fill - whole;
        std::memmove(m_buffer, m_buffer + whole, static_cast<std::size_t>(rest));
        m_start += whole;
        m_fill = rest;
        m_onDisk = std::min(std::max<qsizetype>(m_onDisk - whole, 0), rest);
        return true;
    }

    bool failed(int error)
    {
        m_error = error;
        return false;
    }

    int m_fd;
    int m_flags;
    off_t m_start; // the file's offset of the buffer's first byte, block-aligned
    off_t m_base;  // the file's size before the first append
    char *m_buffer;
    qsizetype m_fill = 0;   // bytes in the buffer
    qsizetype m_onDisk = 0; // of them, already in the file
    int m_error = 0;
    bool m_cached = false; // the direct writes were refused: all through the cache
};

#endif

} // namespace

std::unique_ptr<DirectWrites> DirectWrites::open(QFile &file)
{
#if defined(O_DIRECT)
    const int fd = file.handle();
    struct stat status = {};
    if (fd < 0 || ::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))
        return nullptr;
    const int flags = ::fcntl(fd, F_GETFL);
    // Writes at offsets of their own: the append mode would ignore them.
    if (flags < 0 || ::fcntl(fd, F_SETFL, (flags & ~O_APPEND) | O_DIRECT) != 0)
        return nullptr;
    void *buffer = nullptr;
    if (::posix_memalign(&buffer, kBlock, kBufferBytes) != 0) {
        ::fcntl(fd, F_SETFL, flags);
        return nullptr;
    }
    auto writes =
        std::make_unique<LinuxDirectWrites>(fd, flags, status.st_size, static_cast<char *>(buffer));
    if (!writes->readTail())
        return nullptr;
    return writes;
#else
    Q_UNUSED(file);
    return nullptr;
#endif
}
