#pragma once

// What assistive technology sees of the receive box: read-only multi-line
// text, read in the ranges it asks for, never as a whole, through the box's
// public interface; and the announcements the box makes of its changes.

#include <QtGlobal>

class ReceiveBox;

namespace receiveboxaccessible {

// Makes the accessible interface the one assistive technology gets for every
// receive box; once per process.
void install();

// The box's whole text was replaced; it held that many characters.
void announceReplaced(ReceiveBox *box, qsizetype oldLength);
// Characters [from, box length) were appended.
void announceAppended(ReceiveBox *box, qsizetype from);
// The caret or the selection moved.
void announceSelection(ReceiveBox *box, qsizetype anchor, qsizetype caret);

} // namespace receiveboxaccessible
