#pragma once

// The two classic fonts the windows ask for, with the fallbacks of a system
// that has neither: the fixed-width system font and the default sans serif.

#include <QFont>
#include <QString>
#include <QStringList>

namespace platform::system {

// "Fixedsys" 9 pt regular, else the first monospace font installed of
// "Consolas", "Lucida Console" and "Courier New", else the system's fixed-width
// font, at 9 pt: monospaceFont() with those.
QFont fixedsysFont();

// The first of `families` that is installed and monospace; else
// `systemFixed` where what stands for it is monospace; else the first
// scalable monospace family installed that writes Latin; else `systemFixed`.
// Regular, at `pointSize`.
QFont monospaceFont(const QStringList &families, const QFont &systemFixed, qreal pointSize);

// "MS Sans Serif" regular, else the default sans serif, at that size (the
// classic dialog font is 8 pt).
QFont msSansSerifFont(qreal pointSize = 8.0);

// The font, made narrower and if need be smaller, so that `text` fits in
// `width` pixels on one line: first the stretch goes down, to semi-condensed
// at most, then the size, a quarter point at a time, to 6 pt at most. A text
// that fits already keeps the font unchanged. Layouts measured for a classic
// font keep their geometry when a wider fallback takes its place.
QFont fontFittingWidth(const QFont &font, const QString &text, int width);

} // namespace platform::system
