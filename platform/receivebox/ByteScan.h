#pragma once

// The inner loops of the receive box's text: searches and conversions over
// whole pieces, sixteen bytes (or eight characters) at a time where the
// processor offers SSE2 (every x86-64), one at a time elsewhere. Every other
// unit of the box calls these instead of looping over single bytes.

#include <QtGlobal>

#include <cstddef>

namespace bytescan {

template <typename T> constexpr std::size_t ix(T i)
{
    return static_cast<std::size_t>(i);
}

// Index of the first CR, LF or TAB in [from, count), or count.
qsizetype findLineShaping(const quint8 *bytes, qsizetype from, qsizetype count);
qsizetype findLineShaping(const char16_t *text, qsizetype from, qsizetype count);

// Index of the first NUL in [from, count), or count.
qsizetype findNul(const quint8 *bytes, qsizetype from, qsizetype count);
// Number of NUL bytes in [0, count).
qsizetype countNuls(const quint8 *bytes, qsizetype count);

// out[i] = table[in[i]] for count bytes, none of them NUL. With asciiKept the
// table gives bytes 0x00..0x7F as themselves, and runs of them are widened
// sixteen at a time.
void translate(const quint8 *in, qsizetype count, const char16_t *table, bool asciiKept,
               char16_t *out);

} // namespace bytescan
