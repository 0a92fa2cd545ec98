#include "HistoryCombo.h"

#include <QComboBox>

QComboBox *makeHistoryCombo(QWidget *parent, const char *objectName)
{
    auto *combo = new QComboBox(parent);
    combo->setObjectName(QLatin1String(objectName));
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    return combo;
}
