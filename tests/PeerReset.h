#pragma once

// How a test's loopback peer ends its side of a connection with a reset (a
// TCP RST) rather than an orderly close: a linger time of zero, then the
// close. The one socket option the tests set themselves, made through the
// system's own call (Winsock on Windows).

#include <QTcpSocket>

#ifdef _WIN32
#include <winsock2.h>

#include <windows.h>
#else
#include <sys/socket.h>
#endif

// Whether closing the socket resets the connection (reset) or closes it in
// order; false when the system refused the option.
inline bool setResetOnClose(const QTcpSocket &socket, bool reset)
{
    const linger option{static_cast<decltype(linger::l_onoff)>(reset ? 1 : 0), 0};
#ifdef _WIN32
    return ::setsockopt(static_cast<SOCKET>(socket.socketDescriptor()), SOL_SOCKET, SO_LINGER,
                        reinterpret_cast<const char *>(&option), sizeof option) == 0;
#else
    return ::setsockopt(static_cast<int>(socket.socketDescriptor()), SOL_SOCKET, SO_LINGER, &option,
                        sizeof option) == 0;
#endif
}

// Under wine (Debian's 8.0) a connection whose peer resets it this way ends,
// for the program, as an orderly close: recv gives 0 where Windows gives
// WSAECONNRESET. Tests that tell the two apart expect that failure there.
inline bool resetsArriveAsCloses()
{
#ifdef _WIN32
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
#else
    return false;
#endif
}
