#pragma once

// The two conversions of the conversation in which the connection itself
// reads or makes text: received bytes as text (what the proxy's reply test
// reads while the tunnel is pending; the receive box reads the bytes itself),
// and typed text into the console code page it goes out in.

#include <QByteArrayView>
#include <QString>

// Each byte as its ANSI character, except NUL, which reads as the four
// characters "\x00", as the receive box shows it.
QString renderReceived(QByteArrayView bytes);

// Typed text converted from the ANSI to the OEM code page, still one
// character per byte, so that SendData puts the OEM bytes on the wire.
QString toOemText(const QString &text);
