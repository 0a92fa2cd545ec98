#pragma once

// Host and port texts as the user typed them, and the test that decides
// whether they can make an attempt.
//
// One locale-aware parser serves for the numeric test, the range test and
// the integer given to the socket, so that the three can never disagree.

#include <QLocale>
#include <QString>

#include <cstdint>
#include <optional>

// The port a port text names: its value read by the locale's number parser,
// rounded to the nearest whole number (halves to the even neighbour); none
// when the text is empty, holds a line end (CR or LF), is not a number, or is
// outside 1..65535 once rounded.
std::optional<std::int32_t> portFromText(const QString &text, const QLocale &locale = QLocale());

// A host and port pair can make an attempt: the host is not empty and holds
// no line break (it goes into a request line as it stands), and the port
// names a port (so holds no line break either).
bool isValidPair(const QString &host, const QString &port, const QLocale &locale = QLocale());
