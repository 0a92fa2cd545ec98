#pragma once

// Every row the status line shows: its caption and its fore colour word. The
// connection shows them all, the window's first row "Listo" included, so
// that the line's rules are read in one place. Idle rows and the first row
// are drawn in the system's window-background colour
// (platform::system::kWindowBackgroundColour); what such a word means is the
// system layer's.

#include <QString>

#include <cstdint>

namespace status {
// Fore colours, as 0x00BBGGRR words: an attempt under way, and connected.
constexpr std::uint32_t kYellow = 0x0000FFFF;
constexpr std::uint32_t kGreen = 0x0000FF00;

QString ready();
QString connecting();
QString connectingViaProxy();
QString awaitingProxyReply();
QString connected();
QString disconnected();
QString closedByPeer();
QString proxyRefused();
// No memory left for what arrives: the connection is closed.
QString outOfMemory();
} // namespace status

// Texts of the message box.
namespace messages {
QString title();
QString invalidProxy();
QString invalidRemote();
} // namespace messages
