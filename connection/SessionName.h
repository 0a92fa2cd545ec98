#pragma once

// The name the receive box's save dialog proposes for what a connection
// received: the remote host and port and the moment of the connect command,
// so that sessions saved side by side are told apart and sort by time.

#include <QDateTime>
#include <QString>

#include <cstdint>

// "host-port-yyyyMMdd-HHmmss.txt"; a character of the host that a file name
// may not hold everywhere (":" of an IPv6 address, "/", "\", "*", "?", blanks)
// becomes "_".
QString sessionFileName(const QString &host, std::int32_t port, const QDateTime &when);
