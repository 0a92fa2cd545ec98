#include "HistoryCombo.h"

#include <QComboBox>

QComboBox *makeHistoryCombo(QWidget *parent, const char *objectName)
{
    auto *combo = new QComboBox(parent);
    combo->setObjectName(QLatin1String(objectName));
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    // The field holds exactly what was typed or picked: no inline completion
    // from the list, and with no completer Enter matches a listed item only
    // when it is equal, case included.
    combo->setCompleter(nullptr);
    return combo;
}
