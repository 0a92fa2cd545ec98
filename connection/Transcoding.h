#pragma once

// The two conversions of the conversation: received bytes to the text shown,
// and typed text to the console code page it goes out in.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Each byte as its ANSI character, except NUL, which is shown as the four
// characters "\x00".
QString renderReceived(QByteArrayView bytes);

// The same text as ANSI bytes: each NUL replaced by the four bytes "\x00",
// every other byte kept. Its characters in the ANSI code page are
// renderReceived(bytes).
QByteArray renderReceivedAnsi(QByteArrayView bytes);

// Typed text converted from the ANSI to the OEM code page, still one
// character per byte, so that SendData puts the OEM bytes on the wire.
QString toOemText(const QString &text);
