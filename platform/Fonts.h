#pragma once

// The two classic fonts the windows ask for, with the fallbacks of a system
// that has neither: the fixed-width system font and the default sans serif.

#include <QFont>

namespace platform {

// "Fixedsys" 9 pt regular, else the system's fixed-width font at 9 pt.
QFont fixedsysFont();

// "MS Sans Serif" regular, else the default sans serif, at that size (the
// classic dialog font is 8 pt).
QFont msSansSerifFont(qreal pointSize = 8.0);

} // namespace platform
