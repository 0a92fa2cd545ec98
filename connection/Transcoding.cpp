#include "Transcoding.h"

#include "platform/CodePage.h"

QString toOemText(const QString &text)
{
    QByteArray bytes = platform::codepage::stringToAnsi(text);
    platform::codepage::ansiToOem(bytes);
    return platform::codepage::ansiToString(bytes);
}
