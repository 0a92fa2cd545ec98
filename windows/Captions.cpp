#include "Captions.h"

#include "system/Fonts.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

void fitCaption(QLabel &label)
{
    label.setFont(platform::system::fontFittingWidth(label.font(), label.text(),
                                                     label.contentsRect().width()));
}

void nameAfter(QComboBox &combo, const QLabel &label)
{
    const QString name = label.text();
    combo.setAccessibleName(name);
    if (QLineEdit *edit = combo.lineEdit())
        edit->setAccessibleName(name);
    combo.view()->setAccessibleName(name);
}
