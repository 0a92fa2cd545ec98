#pragma once

// A connected stream socket read and written through its descriptor, with no
// buffer of ours in between: received bytes go from the system straight into
// memory the caller names. The system's part, one file per system
// (SocketIo_posix.cpp, SocketIo_windows.cpp). None of these
// calls waits: the descriptor is non-blocking.

#include <QString>

#include <cstdint>

namespace platform::system::socketio {

using Descriptor = std::intptr_t;
inline constexpr Descriptor kNoDescriptor = -1;

// A second descriptor of the same connection, which stays connected when the
// first is closed; kNoDescriptor, with the error, when the system refuses.
Descriptor duplicate(Descriptor descriptor, int &error);
void closeDescriptor(Descriptor descriptor);

// Bytes the system holds for reading now, or -1 with the error.
std::int64_t available(Descriptor descriptor, int &error);

// Up to max bytes into `into`: how many, 0 at the peer's orderly close once
// every byte has been read, or -1 with the error (wouldBlock() when nothing
// is there yet).
std::int64_t receive(Descriptor descriptor, void *into, std::int64_t max, int &error);

// How the connection ended, when nothing is left to read: 0 for an orderly
// close by the peer, the error for a failure, -1 when it has not ended.
int endOf(Descriptor descriptor);

// As much of the bytes as the system takes now, or -1 with the error.
std::int64_t send(Descriptor descriptor, const void *bytes, std::int64_t size, int &error);

bool wouldBlock(int error);
// The peer reset the connection (a TCP RST), as against closing it.
bool isReset(int error);
// The description of an error, in Spanish whatever the system's language:
// every error that ends a connection has its own; the system's text is left
// for any other.
QString describe(int error);

} // namespace platform::system::socketio
