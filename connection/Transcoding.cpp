#include "Transcoding.h"

#include "platform/CodePage.h"
#include "transcript/NulText.h"

QString renderReceived(QByteArrayView bytes)
{
    const auto &table = platform::codepage::ansiTable();
    QString shown;
    shown.reserve(bytes.size());
    for (const char byte : bytes) {
        if (byte == 0)
            shown.append(
                QStringView(platform::transcript::kNulText, platform::transcript::kNulChars));
        else
            shown.append(QChar(table[static_cast<unsigned char>(byte)]));
    }
    return shown;
}

QString toOemText(const QString &text)
{
    QByteArray bytes = platform::codepage::stringToAnsi(text);
    platform::codepage::ansiToOem(bytes);
    return platform::codepage::ansiToString(bytes);
}
