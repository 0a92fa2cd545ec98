#pragma once

// What the windows do with their captions besides showing them: fit each one
// to the width its control was given, and name the controls that have no
// caption of their own after the label or frame beside them, for assistive
// technology.

#include <QString>

class QComboBox;
class QLabel;

// Narrows the label's font where its caption would be clipped; the label
// keeps its geometry.
void fitCaption(QLabel &label);

// Names an editable combo box after its label. The box's edit field takes the
// focus and its drop-down list opens apart from it, so each of the three
// carries the name: a screen reader announces the part that has the focus.
void nameAfter(QComboBox &combo, const QLabel &label);
