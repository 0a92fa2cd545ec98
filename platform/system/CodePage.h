#pragma once

// The system's ANSI and OEM code pages, as a Windows program sees them.
//
// Every byte 1..255 stands for exactly one character of the ANSI code page and
// back; where the system has no ANSI setting the page is Windows-1252, whose
// five undefined bytes (0x81, 0x8D, 0x8F, 0x90, 0x9D) stand for the C1 control
// characters of the same value. A character with no ANSI byte becomes '?'.
// The OEM conversion maps ANSI bytes to the console code page (850 where the
// system has none), one byte for one byte; a byte with no OEM equivalent
// becomes '?'.

#include <QByteArray>
#include <QByteArrayView>
#include <QChar>
#include <QString>
#include <QStringView>

#include <array>

namespace platform::system::codepage {

// The character that an ANSI byte stands for (byte 0 is U+0000).
QChar ansiToChar(unsigned char byte);
// The same for every byte at once, indexed by the byte.
const std::array<char16_t, 256> &ansiTable();
QString ansiToString(QByteArrayView bytes);

// One byte per character.
QByteArray stringToAnsi(QStringView text);
// The ANSI byte of one character, '?' where it has none.
unsigned char charToAnsi(QChar character);

// ANSI to OEM in place; the length never changes (ASCII, CR and LF are kept).
void ansiToOem(QByteArray &bytes);

} // namespace platform::system::codepage
