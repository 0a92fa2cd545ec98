#pragma once

class QComboBox;
class QWidget;

// An editable combo box for a history list: the user types any text, which
// the list never completes or changes, and only the connect command fills
// the list (Enter adds nothing to it).
QComboBox *makeHistoryCombo(QWidget *parent, const char *objectName);
