#pragma once

// What each operating system's file supplies to CodePage.cpp: the two tables
// from which every conversion is derived. Built once, on first use.

#include <array>
#include <cstdint>

namespace platform::system::codepage::detail {

// The character of each ANSI byte; index 0 is U+0000.
std::array<char16_t, 256> buildAnsiTable();

// The OEM byte of each ANSI byte, given the ANSI table; '?' where none.
std::array<std::uint8_t, 256> buildOemTable(const std::array<char16_t, 256> &ansi);

} // namespace platform::system::codepage::detail
