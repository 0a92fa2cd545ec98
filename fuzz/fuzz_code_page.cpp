// Code pages: every byte sequence survives the trip to characters and back,
// the OEM conversion keeps the length, and any text becomes one byte per
// character.

#include "FuzzInput.h"

#include "system/CodePage.h"

#include <cstring>

using namespace platform::system::codepage;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const QString text = ansiToString(bytes);
    FUZZ_CHECK(text.size() == bytes.size());
    FUZZ_CHECK(stringToAnsi(text) == bytes);

    QByteArray oem = bytes.toByteArray();
    ansiToOem(oem);
    FUZZ_CHECK(oem.size() == bytes.size());
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (static_cast<unsigned char>(bytes[i]) < 0x80)
            FUZZ_CHECK(oem[i] == bytes[i]);
    }

    // The same bytes read as UTF-16 units, lone surrogates included.
    QString units(static_cast<qsizetype>(size / 2), Qt::Uninitialized);
    std::memcpy(units.data(), data, size / 2 * sizeof(char16_t));
    const QByteArray ansi = stringToAnsi(units);
    FUZZ_CHECK(ansi.size() == units.size());
    for (qsizetype i = 0; i < units.size(); ++i) {
        const bool mapped = ansiToChar(static_cast<unsigned char>(ansi[i])) == units[i];
        FUZZ_CHECK(mapped || ansi[i] == '?');
    }
    return 0;
}
