#pragma once

// Colours as 32-bit words: 0x00BBGGRR, or, with the top bit set, the index
// of a system colour, read from the toolkit's palette.

#include <QColor>
#include <QPalette>
#include <cstdint>

namespace platform::system {

constexpr std::uint32_t kWindowBackgroundColour = 0x80000005;
constexpr std::uint32_t kWindowTextColour = 0x80000008;

QColor colourFromWord(std::uint32_t word, const QPalette &palette);
// The same against the application's palette.
QColor colourFromWord(std::uint32_t word);

} // namespace platform::system
