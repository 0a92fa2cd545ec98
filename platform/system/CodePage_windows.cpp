// Code pages on Windows: the system's own ANSI and OEM pages, through the
// conversions a Windows program calls (CharToOemBuffA for the OEM step).

#include "CodePageTables.h"

#include <windows.h>

namespace platform::system::codepage::detail {

std::array<char16_t, 256> buildAnsiTable()
{
    std::array<char16_t, 256> table{};
    for (int byte = 0; byte < 256; ++byte) {
        const char in = static_cast<char>(byte);
        wchar_t out = 0;
        const int written = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, &in, 1, &out, 1);
        table[static_cast<std::size_t>(byte)] =
            written == 1 ? static_cast<char16_t>(out) : static_cast<char16_t>(byte);
    }
    return table;
}

std::array<std::uint8_t, 256> buildOemTable(const std::array<char16_t, 256> &)
{
    std::array<std::uint8_t, 256> table{};
    for (int byte = 0; byte < 256; ++byte) {
        char buffer[2] = {static_cast<char>(byte), 0};
        CharToOemBuffA(buffer, buffer, 1);
        table[static_cast<std::size_t>(byte)] = static_cast<std::uint8_t>(buffer[0]);
    }
    return table;
}

} // namespace platform::system::codepage::detail
