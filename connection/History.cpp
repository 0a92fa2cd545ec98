#include "History.h"

#include <QComboBox>

void recordInHistory(QComboBox &combo, const QString &text)
{
    const int count = combo.count();
    for (int index = 0; index < count; ++index) {
        if (combo.itemText(index) == text) {
            combo.removeItem(index);
            break;
        }
    }
    combo.insertItem(0, text);
    combo.setCurrentIndex(0);
}
