#include "Transcoding.h"

#include "CodePage.h"

#include <cstring>

QString renderReceived(QByteArrayView bytes)
{
    using platform::codepage::ansiToChar;
    const qsizetype nuls = bytes.count('\0');
    if (nuls == 0)
        return platform::codepage::ansiToString(bytes);

    static constexpr char16_t nulText[] = u"\\x00";
    QString text(bytes.size() + 3 * nuls, Qt::Uninitialized);
    char16_t *out = reinterpret_cast<char16_t *>(text.data());
    for (const char byte : bytes) {
        if (byte == '\0') {
            std::memcpy(out, nulText, 4 * sizeof(char16_t));
            out += 4;
        } else {
            *out++ = ansiToChar(static_cast<unsigned char>(byte)).unicode();
        }
    }
    return text;
}

QString toOemText(const QString &text)
{
    QByteArray bytes = platform::codepage::stringToAnsi(text);
    platform::codepage::ansiToOem(bytes);
    return platform::codepage::ansiToString(bytes);
}
