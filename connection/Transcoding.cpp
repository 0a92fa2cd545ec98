#include "Transcoding.h"

#include "system/CodePage.h"

QString toOemText(const QString &text)
{
    QByteArray bytes = platform::system::codepage::stringToAnsi(text);
    platform::system::codepage::ansiToOem(bytes);
    return platform::system::codepage::ansiToString(bytes);
}
