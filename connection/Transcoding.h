#pragma once

// The two conversions of the conversation: received bytes to the text shown,
// and typed text to the console code page it goes out in.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Each byte as its ANSI character, except NUL, which is shown as the four
// characters "\x00".
QString renderReceived(QByteArrayView bytes);

// The same text as ANSI bytes: the bytes themselves (shared, not copied) when
// there is no NUL, else with each NUL replaced by the four bytes "\x00". Its
// characters in the ANSI code page are renderReceived(bytes).
QByteArray renderReceivedAnsi(const QByteArray &bytes);

// Typed text converted from the ANSI to the OEM code page, still one
// character per byte, so that SendData puts the OEM bytes on the wire.
QString toOemText(const QString &text);
