// The code-page tables and the ending of the process of platform/ on their
// own, without Qt. Built twice: by the mingw-w64 cross compiler with the
// Windows files (CodePage_windows.cpp, ProcessExit.cpp,
// ProcessExit_windows.cpp) and run under wine, and natively with the POSIX
// files, whose results are the reference. Both runs check the tables'
// contract and print the code pages, the failures, and one line per byte
// 0..255 ("table XX UUUU YY": the byte, its ANSI character, its OEM byte) for
// check.sh to compare. The exit code, through the real exit (ExitProcess on
// Windows), is 0 when every check passed.

#include "system/CodePageTables.h"
#include "system/ProcessExit_p.h"

#ifdef _WIN32
#include <windows.h>
#endif

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

struct CodePages
{
    unsigned ansi;
    unsigned oem;
};

CodePages systemCodePages()
{
#ifdef _WIN32
    return {GetACP(), GetOEMCP()};
#else
    // The POSIX files have no system setting to read: these are their pages.
    return {1252, 850};
#endif
}

} // namespace

int main()
{
    // First, so that a run that prints nothing never started.
    const CodePages pages = systemCodePages();
    std::printf("code pages: ANSI %u, OEM %u\n", pages.ansi, pages.oem);
    std::fflush(stdout);

    using platform::system::codepage::detail::buildAnsiTable;
    using platform::system::codepage::detail::buildOemTable;
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

    // The Western European pages of Brisol's users: 1252 with 850, or with
    // 437 where a system's console keeps the American page.
    if (pages.ansi == 1252 && (pages.oem == 850 || pages.oem == 437)) {
        check(ansi[0x80] == u'\u20AC', "0x80 is the euro sign in 1252", 0x80);
        check(ansi[0x81] == u'\u0081', "an undefined 1252 byte is its C1 control", 0x81);
        check(ansi[0xF1] == u'\u00F1', "0xF1 is n with tilde in 1252", 0xF1);
        check(oem[0xF1] == 0xA4, "n with tilde is 0xA4 in 850 and 437", 0xF1);
        check(oem[0xE9] == 0x82, "e with acute is 0x82 in 850 and 437", 0xE9);
    } else {
        std::printf("code pages %u and %u: only the general checks apply\n", pages.ansi, pages.oem);
    }

    // A handler takes the place of ending the process, and gives it back.
    platform::system::setExitHandler(&recordExit);
    platform::system::exitProcess(3);
    check(g_recordedExit == 3, "the exit handler sees the exit code", 3);
    platform::system::setExitHandler(nullptr);

    for (unsigned code = 0; code < 256; ++code)
        std::printf("table %02X %04X %02X\n", code, static_cast<unsigned>(ansi[code]),
                    static_cast<unsigned>(oem[code]));
    std::printf("%d failed\n", g_failures);
    platform::system::exitProcess(g_failures == 0 ? 0 : 1);
}
