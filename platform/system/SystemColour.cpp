#include "SystemColour.h"

#include <QApplication>

namespace platform::system {

namespace {

// The Windows system colour indices the palette has a counterpart for.
QPalette::ColorRole roleOfSystemColour(std::uint32_t index)
{
    switch (index) {
    case 4:  // menu
    case 15: // button face
        return QPalette::Button;
    case 7:  // menu text
    case 18: // button text
        return QPalette::ButtonText;
    case 8: // window text
        return QPalette::Text;
    case 13: // highlight
        return QPalette::Highlight;
    case 14: // highlight text
        return QPalette::HighlightedText;
    case 16: // button shadow
        return QPalette::Dark;
    case 20: // button highlight
        return QPalette::Light;
    case 23: // tooltip text
        return QPalette::ToolTipText;
    case 24: // tooltip background
        return QPalette::ToolTipBase;
    case 5: // window background
    default:
        return QPalette::Base;
    }
}

} // namespace

QColor colourFromWord(std::uint32_t word, const QPalette &palette)
{
    if (word & 0x80000000u)
        return palette.color(QPalette::Active, roleOfSystemColour(word & 0xFFu));
    return QColor(static_cast<int>(word & 0xFFu), static_cast<int>((word >> 8) & 0xFFu),
                  static_cast<int>((word >> 16) & 0xFFu));
}

QColor colourFromWord(std::uint32_t word)
{
    return colourFromWord(word, QApplication::palette());
}

} // namespace platform::system
