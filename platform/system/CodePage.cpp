#include "CodePage.h"

#include "CodePageTables.h"

#include <array>
#include <memory>

namespace platform::system::codepage {

namespace {

struct Tables
{
    std::array<char16_t, 256> toChar{};
    std::array<std::uint8_t, 256> toOem{};
    // Indexed by UTF-16 code unit; 0 means "no byte" except for U+0000.
    std::unique_ptr<std::array<std::uint8_t, 65536>> toAnsi;

    Tables()
        : toChar(detail::buildAnsiTable()), toOem(detail::buildOemTable(toChar)),
          toAnsi(std::make_unique<std::array<std::uint8_t, 65536>>())
    {
        toAnsi->fill(0);
        // From the top down, so that a character two bytes share gets the lower.
        for (int byte = 255; byte >= 1; --byte)
            (*toAnsi)[toChar[static_cast<std::size_t>(byte)]] = static_cast<std::uint8_t>(byte);
    }
};

const Tables &tables()
{
    static const Tables instance;
    return instance;
}

} // namespace

QChar ansiToChar(unsigned char byte)
{
    return QChar(tables().toChar[byte]);
}

const std::array<char16_t, 256> &ansiTable()
{
    return tables().toChar;
}

QString ansiToString(QByteArrayView bytes)
{
    const auto &toChar = tables().toChar;
    QString text(bytes.size(), Qt::Uninitialized);
    char16_t *out = reinterpret_cast<char16_t *>(text.data());
    for (const char byte : bytes)
        *out++ = toChar[static_cast<unsigned char>(byte)];
    return text;
}

unsigned char charToAnsi(QChar character)
{
    const char16_t unit = character.unicode();
    if (unit == 0)
        return 0;
    const std::uint8_t byte = (*tables().toAnsi)[unit];
    return byte != 0 ? byte : static_cast<unsigned char>('?');
}

QByteArray stringToAnsi(QStringView text)
{
    QByteArray bytes(text.size(), Qt::Uninitialized);
    char *out = bytes.data();
    for (const QChar character : text)
        *out++ = static_cast<char>(charToAnsi(character));
    return bytes;
}

void ansiToOem(QByteArray &bytes)
{
    const auto &toOem = tables().toOem;
    for (char &byte : bytes)
        byte = static_cast<char>(toOem[static_cast<unsigned char>(byte)]);
}

} // namespace platform::system::codepage
