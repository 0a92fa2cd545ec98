#pragma once

// History lists: the items of an editable combo box, most recent first, one
// item per distinct text as long as only this rule fills the list.

#include <QString>

class QComboBox;

// Moves the text to the top of the list (removing the first item equal to
// it, compared exactly) and selects it, so that the box shows it.
void recordInHistory(QComboBox &combo, const QString &text);
