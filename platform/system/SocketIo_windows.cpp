#include "SocketIo.h"

#include <winsock2.h>

#include <windows.h>

namespace platform::system::socketio {

namespace {

// Winsock's command numbers are unsigned; ioctlsocket takes them signed.
const long kNonBlocking = static_cast<long>(FIONBIO);
const long kBytesWaiting = static_cast<long>(FIONREAD);

SOCKET socketOf(Descriptor descriptor)
{
    return static_cast<SOCKET>(descriptor);
}

} // namespace

Descriptor duplicate(Descriptor descriptor, int &error)
{
    WSAPROTOCOL_INFOW info{};
    if (::WSADuplicateSocketW(socketOf(descriptor), ::GetCurrentProcessId(), &info) != 0) {
        error = ::WSAGetLastError();
        return kNoDescriptor;
    }
    const SOCKET copy = ::WSASocketW(FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO,
                                     &info, 0, WSA_FLAG_OVERLAPPED);
    if (copy == INVALID_SOCKET) {
        error = ::WSAGetLastError();
        return kNoDescriptor;
    }
    u_long nonBlocking = 1;
    if (::ioctlsocket(copy, kNonBlocking, &nonBlocking) != 0) {
        error = ::WSAGetLastError();
        ::closesocket(copy);
        return kNoDescriptor;
    }
    return static_cast<Descriptor>(copy);
}

void closeDescriptor(Descriptor descriptor)
{
    if (descriptor != kNoDescriptor)
        ::closesocket(socketOf(descriptor));
}

std::int64_t available(Descriptor descriptor, int &error)
{
    u_long count = 0;
    if (::ioctlsocket(socketOf(descriptor), kBytesWaiting, &count) != 0) {
        error = ::WSAGetLastError();
        return -1;
    }
    return static_cast<std::int64_t>(count);
}

std::int64_t receive(Descriptor descriptor, void *into, std::int64_t max, int &error)
{
    const int wanted = max > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(max);
    const int got = ::recv(socketOf(descriptor), static_cast<char *>(into), wanted, 0);
    if (got == SOCKET_ERROR) {
        error = ::WSAGetLastError();
        return -1;
    }
    return got;
}

int endOf(Descriptor descriptor)
{
    char probe = 0;
    const int got = ::recv(socketOf(descriptor), &probe, 1, MSG_PEEK);
    if (got == 0)
        return 0;
    if (got > 0)
        return -1;
    const int error = ::WSAGetLastError();
    return error == WSAEWOULDBLOCK ? -1 : error;
}

std::int64_t send(Descriptor descriptor, const void *bytes, std::int64_t size, int &error)
{
    const int wanted = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(size);
    const int sent = ::send(socketOf(descriptor), static_cast<const char *>(bytes), wanted, 0);
    if (sent == SOCKET_ERROR) {
        error = ::WSAGetLastError();
        return -1;
    }
    return sent;
}

bool wouldBlock(int error)
{
    return error == WSAEWOULDBLOCK;
}

bool isReset(int error)
{
    return error == WSAECONNRESET;
}

QString describe(int error)
{
    // Every failure a connected socket reports, worded as Qt's Spanish
    // translation words the failures of an attempt, so that the status line
    // speaks with one voice whatever the language of Windows. The system's
    // message is left only for an error no connection is known to end with.
    struct Description
    {
        int error;
        const char16_t *text;
    };
    static constexpr Description kDescriptions[] = {
        {WSAECONNRESET, u"Conexión restablecida por el equipo remoto"},
        {WSAETIMEDOUT, u"Conexión expirada"},
        {WSAECONNABORTED, u"Conexión anulada"},
        {WSAEHOSTUNREACH, u"Equipo inaccesible"},
        {WSAEHOSTDOWN, u"Equipo inaccesible"},
        {WSAENETUNREACH, u"Red inalcanzable"},
        {WSAENETDOWN, u"Red no disponible"},
        {WSAENETRESET, u"La red cerró la conexión al resetear"},
        {WSAESHUTDOWN, u"Conexión cerrada"},
        {WSAENOTCONN, u"El socket no está conectado"},
        {WSAEDISCON, u"El equipo remoto ha cerrado la conexión"},
    };
    for (const Description &known : kDescriptions)
        if (known.error == error)
            return QString::fromUtf16(known.text);
    wchar_t *text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    QString description =
        length > 0 ? QString::fromWCharArray(text, static_cast<qsizetype>(length)).trimmed()
                   : QString::number(error);
    ::LocalFree(text);
    return description;
}

} // namespace platform::system::socketio
