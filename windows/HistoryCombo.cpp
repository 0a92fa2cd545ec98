#include "HistoryCombo.h"

#include "system/Fonts.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QProxyStyle>
#include <QStyleOptionComboBox>

namespace {

// The widest drop-down button of a history field, in logical pixels: about
// that of a combo box on Windows. Wider buttons of other styles would leave
// a port field, laid out for Windows, too little room for five digits.
constexpr int kWidestArrow = 13;

class HistoryComboStyle final : public QProxyStyle
{
public:
    QRect subControlRect(ComplexControl control, const QStyleOptionComplex *option, SubControl part,
                         const QWidget *widget) const override
    {
        QRect rect = QProxyStyle::subControlRect(control, option, part, widget);
        if (control != CC_ComboBox || (part != SC_ComboBoxArrow && part != SC_ComboBoxEditField))
            return rect;
        const QRect arrow = QProxyStyle::subControlRect(control, option, SC_ComboBoxArrow, widget);
        const int spare = qMax(0, arrow.width() - kWidestArrow);
        // The button gives its spare width to the field, on whichever side
        // it stands.
        const bool arrowOnRight = arrow.center().x() > option->rect.center().x();
        if (part == SC_ComboBoxArrow) {
            if (arrowOnRight)
                rect.setLeft(rect.left() + spare);
            else
                rect.setRight(rect.right() - spare);
        } else if (arrowOnRight) {
            rect.setRight(rect.right() + spare);
        } else {
            rect.setLeft(rect.left() - spare);
        }
        return rect;
    }
};

QStyle *historyComboStyle()
{
    // One for the application, which deletes it with itself.
    static QPointer<QStyle> style;
    if (!style) {
        style = new HistoryComboStyle;
        style->setParent(qApp);
    }
    return style;
}

} // namespace

QComboBox *makeHistoryCombo(QWidget *parent, const char *objectName)
{
    auto *combo = new QComboBox(parent);
    combo->setObjectName(QLatin1String(objectName));
    combo->setStyle(historyComboStyle());
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    // The field holds exactly what was typed or picked: no inline completion
    // from the list, and with no completer Enter matches a listed item only
    // when it is equal, case included.
    combo->setCompleter(nullptr);
    return combo;
}

void fitLargestPort(QComboBox &combo)
{
    QStyleOptionComboBox option;
    option.initFrom(&combo);
    option.editable = true;
    option.frame = combo.hasFrame();
    const QRect field = combo.style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                      QStyle::SC_ComboBoxEditField, &combo);
    // The edit field keeps two pixels a side and one for the caret.
    const QMargins margins = combo.lineEdit()->textMargins();
    const int room = field.width() - margins.left() - margins.right() - 2 * 2 - 1;
    combo.setFont(platform::system::fontFittingWidth(combo.font(), QStringLiteral("65535"), room));
}
