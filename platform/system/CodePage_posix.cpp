// Code pages on systems without ANSI and OEM settings: Windows-1252 and 850,
// read from glibc's iconv so that no table is typed in by hand.

#include "CodePageTables.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace platform::system::codepage::detail {

namespace {

constexpr const char *ansiName = "CP1252";
constexpr const char *oemName = "CP850";

class Converter final
{
public:
    Converter(const char *to, const char *from) : m_cd(iconv_open(to, from))
    {
        if (m_cd == reinterpret_cast<iconv_t>(-1))
            throw std::runtime_error(std::string("iconv cannot convert ") + from + " to " + to);
    }
    ~Converter() { iconv_close(m_cd); }
    Converter(const Converter &) = delete;
    Converter &operator=(const Converter &) = delete;

    // Converts exactly `inSize` bytes into at most `outSize` bytes; returns the
    // number of bytes written, or -1 when the input has no conversion.
    long convert(const char *in, std::size_t inSize, char *out, std::size_t outSize)
    {
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        char *inPtr = const_cast<char *>(in);
        char *outPtr = out;
        std::size_t inLeft = inSize;
        std::size_t outLeft = outSize;
        const std::size_t result = iconv(m_cd, &inPtr, &inLeft, &outPtr, &outLeft);
        if (result == static_cast<std::size_t>(-1) || inLeft != 0 || result != 0)
            return -1;
        return static_cast<long>(outSize - outLeft);
    }

private:
    iconv_t m_cd;
};

} // namespace

std::array<char16_t, 256> buildAnsiTable()
{
    Converter toUtf16("UTF-16LE", ansiName);
    std::array<char16_t, 256> table{};
    for (int byte = 0; byte < 256; ++byte) {
        const char in = static_cast<char>(byte);
        unsigned char out[4] = {};
        const long written = toUtf16.convert(&in, 1, reinterpret_cast<char *>(out), sizeof out);
        // Bytes the page leaves undefined stand for the C1 control of that value.
        table[static_cast<std::size_t>(byte)] = written == 2
                                                    ? static_cast<char16_t>(out[0] | (out[1] << 8))
                                                    : static_cast<char16_t>(byte);
    }
    return table;
}

std::array<std::uint8_t, 256> buildOemTable(const std::array<char16_t, 256> &ansi)
{
    // iconv's strict conversion fails where 850 has no equivalent; such
    // bytes become '?'.
    Converter toOem(oemName, "UTF-16LE");
    std::array<std::uint8_t, 256> table{};
    for (std::size_t byte = 0; byte < 256; ++byte) {
        const unsigned char in[2] = {static_cast<unsigned char>(ansi[byte] & 0xFF),
                                     static_cast<unsigned char>(ansi[byte] >> 8)};
        char out[4] = {};
        const long written = toOem.convert(reinterpret_cast<const char *>(in), 2, out, sizeof out);
        table[byte] = written == 1 ? static_cast<std::uint8_t>(out[0]) : std::uint8_t{'?'};
    }
    return table;
}

} // namespace platform::system::codepage::detail
