#include "SocketIo.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform::system::socketio {

namespace {

int fd(Descriptor descriptor)
{
    return static_cast<int>(descriptor);
}

} // namespace

Descriptor duplicate(Descriptor descriptor, int &error)
{
    const int copy = ::fcntl(fd(descriptor), F_DUPFD_CLOEXEC, 0);
    if (copy < 0) {
        error = errno;
        return kNoDescriptor;
    }
    // The status flags, non-blocking among them, belong to the connection
    // and come along; set it all the same, as nothing here may wait.
    const int flags = ::fcntl(copy, F_GETFL);
    if (flags < 0 || ::fcntl(copy, F_SETFL, flags | O_NONBLOCK) < 0) {
        error = errno;
        ::close(copy);
        return kNoDescriptor;
    }
    return copy;
}

void closeDescriptor(Descriptor descriptor)
{
    if (descriptor != kNoDescriptor)
        ::close(fd(descriptor));
}

std::int64_t available(Descriptor descriptor, int &error)
{
    int count = 0;
    if (::ioctl(fd(descriptor), FIONREAD, &count) < 0) {
        error = errno;
        return -1;
    }
    return count;
}

std::int64_t receive(Descriptor descriptor, void *into, std::int64_t max, int &error)
{
    for (;;) {
        const ssize_t got = ::recv(fd(descriptor), into, static_cast<std::size_t>(max), 0);
        if (got >= 0)
            return got;
        if (errno != EINTR) {
            error = errno;
            return -1;
        }
    }
}

int endOf(Descriptor descriptor)
{
    char probe = 0;
    for (;;) {
        const ssize_t got = ::recv(fd(descriptor), &probe, 1, MSG_PEEK);
        if (got == 0)
            return 0;
        if (got > 0 || errno == EAGAIN || errno == EWOULDBLOCK)
            return -1;
        if (errno != EINTR)
            return errno;
    }
}

std::int64_t send(Descriptor descriptor, const void *bytes, std::int64_t size, int &error)
{
    for (;;) {
        // A peer gone is an error to report, never a signal that ends us.
        const ssize_t sent =
            ::send(fd(descriptor), bytes, static_cast<std::size_t>(size), MSG_NOSIGNAL);
        if (sent >= 0)
            return sent;
        if (errno != EINTR) {
            error = errno;
            return -1;
        }
    }
}

bool wouldBlock(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK;
}

bool isReset(int error)
{
    return error == ECONNRESET;
}

QString describe(int error)
{
    // Every failure a connected socket reports, worded as Qt's Spanish
    // translation words the failures of an attempt, so that the status line
    // speaks with one voice whatever the desktop's language. strerror follows
    // the C locale, which is English on most desktops: it is left only for an
    // error no connection is known to end with.
    struct Description
    {
        int error;
        const char16_t *text;
    };
    static constexpr Description kDescriptions[] = {
        {ECONNRESET, u"Conexión restablecida por el equipo remoto"},
        {EPIPE, u"El equipo remoto ha cerrado la conexión"},
        {ETIMEDOUT, u"Conexión expirada"},
        {ECONNABORTED, u"Conexión anulada"},
        {EHOSTUNREACH, u"Equipo inaccesible"},
        {EHOSTDOWN, u"Equipo inaccesible"},
        {ENETUNREACH, u"Red inalcanzable"},
        {ENETDOWN, u"Red no disponible"},
        {ENETRESET, u"La red cerró la conexión al resetear"},
        {ESHUTDOWN, u"Conexión cerrada"},
        {ENOTCONN, u"El socket no está conectado"},
    };
    for (const Description &known : kDescriptions)
        if (known.error == error)
            return QString::fromUtf16(known.text);
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace platform::system::socketio
