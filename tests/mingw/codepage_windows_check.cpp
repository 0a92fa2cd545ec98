// The Windows files of platform/ on their own, without Qt: the two code-page
// tables built from the system's conversions (CodePage_windows.cpp) and
// ending the process (ProcessExit.cpp, ProcessExit_windows.cpp). Built by the
// mingw-w64 cross compiler in CTest; run on Windows (or wherever .exe files
// run), it checks the tables' contract and exits with the number of failures
// through the real ExitProcess.

#include "CodePageTables.h"
#include "ProcessExit.h"

#include <windows.h>

#include <cstdio>
#include <set>

namespace {

int g_failures = 0;
int g_recordedExit = -1;

void check(bool ok, const char *what, unsigned byte)
{
    if (!ok) {
        std::printf("FAIL: %s (byte 0x%02X)\n", what, byte);
        ++g_failures;
    }
}

void recordExit(int exitCode)
{
    g_recordedExit = exitCode;
}

} // namespace

int main()
{
    using platform::codepage::detail::buildAnsiTable;
    using platform::codepage::detail::buildOemTable;
    const std::array<char16_t, 256> ansi = buildAnsiTable();
    const std::array<std::uint8_t, 256> oem = buildOemTable(ansi);

    check(ansi[0] == 0, "byte 0 stands for U+0000", 0);
    std::set<char16_t> characters;
    for (unsigned code = 1; code < 256; ++code)
        check(characters.insert(ansi[code]).second, "each byte has a character of its own", code);
    for (unsigned code = 0; code < 128; ++code) {
        check(ansi[code] == code, "ASCII stands for itself", code);
        check(oem[code] == code, "the OEM step keeps ASCII", code);
    }

    // The Western European pair, where the system has it.
    if (GetACP() == 1252 && GetOEMCP() == 850) {
        check(ansi[0x80] == u'\u20AC', "0x80 is the euro sign in 1252", 0x80);
        check(ansi[0x81] == u'\u0081', "an undefined 1252 byte is its C1 control", 0x81);
        check(ansi[0xF1] == u'\u00F1', "0xF1 is n with tilde in 1252", 0xF1);
        check(oem[0xF1] == 0xA4, "n with tilde is 0xA4 in 850", 0xF1);
        check(oem[0xE9] == 0x82, "e with acute is 0x82 in 850", 0xE9);
    } else {
        std::printf("code pages %u and %u: only the general checks apply\n", GetACP(), GetOEMCP());
    }

    // A handler takes the place of ending the process, and gives it back.
    platform::setExitHandler(&recordExit);
    platform::exitProcess(3);
    check(g_recordedExit == 3, "the exit handler sees the exit code", 3);
    platform::setExitHandler(nullptr);

    std::printf("%d failed\n", g_failures);
    platform::exitProcess(g_failures == 0 ? 0 : 1);
}
