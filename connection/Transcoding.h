#pragma once

// Typed text on its way out: into the console code page it goes out in.
// (Received bytes are never made into text here: the receive box keeps them
// as they came and reads them through the code page itself.)

#include <QString>

// Typed text converted from the ANSI to the OEM code page, still one
// character per byte, so that SendData puts the OEM bytes on the wire.
QString toOemText(const QString &text);
