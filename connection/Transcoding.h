#pragma once

// The two conversions of the conversation: received bytes to the text shown,
// and typed text to the console code page it goes out in.

#include <QByteArrayView>
#include <QString>

// Each byte as its ANSI character, except NUL, which is shown as the four
// characters "\x00".
QString renderReceived(QByteArrayView bytes);

// Typed text converted from the ANSI to the OEM code page, still one
// character per byte, so that SendData puts the OEM bytes on the wire.
QString toOemText(const QString &text);
