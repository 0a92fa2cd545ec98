#pragma once

class QComboBox;
class QWidget;

// An editable combo box for a history list: the user types any text, which
// the list never completes or changes, and only the connect command fills
// the list (Enter adds nothing to it). Its drop-down button is no wider than
// on Windows.
QComboBox *makeHistoryCombo(QWidget *parent, const char *objectName);

// Narrows the field's font where the largest port, 65535, would not show
// whole in it at its present size; the field keeps its geometry.
void fitLargestPort(QComboBox &combo);
