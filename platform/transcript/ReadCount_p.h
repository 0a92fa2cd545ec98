#pragma once

// Characters read out of every transcript of the process: lets a check tell
// that an action did not walk the text. Counted only where the tests are
// built (BRISOL_COUNT_READS); the product's reads pay nothing for it.

#include <QtGlobal>

namespace platform::transcript {

#ifdef BRISOL_COUNT_READS
void countRead(qsizetype characters);
qsizetype charactersRead();
#else
inline void countRead(qsizetype) {}
#endif

} // namespace platform::transcript
