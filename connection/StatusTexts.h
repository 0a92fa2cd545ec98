#pragma once

// What the connection tells the user, apart from any widget: the status
// line's texts and colours, the boxes' text colour, and the message box's
// texts.

#include <QString>

#include <cstdint>

namespace status {
// Colours of the status line, as 0x00BBGGRR words or system colours.
constexpr std::uint32_t kYellow = 0x0000FFFF;
constexpr std::uint32_t kGreen = 0x0000FF00;
constexpr std::uint32_t kIdle = 0x80000005;

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

// Text colour of both boxes, light grey on their dark back colour: from the
// start, and set again at every connect command.
constexpr std::uint32_t kBoxTextColour = 0x00E0E0E0;

// Texts of the message box.
namespace messages {
QString title();
QString invalidProxy();
QString invalidRemote();
} // namespace messages
