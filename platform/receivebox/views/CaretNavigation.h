#pragma once

// Where the caret and the selection go: the position under a point of the
// view, the word a double click takes, and the caret's place after a key.
// Pure arithmetic on the transcript; the widget applies the results.

#include "RowLayout.h"

#include <QPoint>

#include <utility>

namespace platform::receivebox::views::caretnavigation {

// Position for a viewport point: the character under it, or with
// betweenCharacters the nearest gap between characters (for the caret).
qsizetype positionAt(const Transcript &text, qsizetype firstRow, const CellMetrics &cell,
                     const QPoint &point, bool betweenCharacters);

// The word, run of blanks or single other character at a position; empty
// past the end of its line. At most kWordBound characters are read either way
// of the position: a longer word is cut there.
constexpr qsizetype kWordBound = qsizetype{1} << 16;
std::pair<qsizetype, qsizetype> wordAt(const Transcript &text, qsizetype position);

// The caret's place after a caret key (arrows, Home, End, PageUp, PageDown,
// with Control for the ends of the text), or -1 for any other key.
qsizetype positionAfterKey(const Transcript &text, qsizetype caret, int key, bool control,
                           int pageRows);

} // namespace platform::receivebox::views::caretnavigation
