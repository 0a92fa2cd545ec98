#pragma once

// The send box's text as the program put it and a user typed it: its line
// breaks read back as CR LF.

#include "sendbox/SendBox.h"

inline QString sendText(const SendBox &box)
{
    QString text = box.toPlainText();
    text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return text;
}
