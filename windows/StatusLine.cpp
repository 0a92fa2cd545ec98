#include "StatusLine.h"

#include <QAccessible>
#include <QAccessibleWidget>

namespace {

class StatusLineAccessible final : public QAccessibleWidget
{
public:
    explicit StatusLineAccessible(StatusLine *line)
        : QAccessibleWidget(line, QAccessible::StatusBar)
    {}

    QString text(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Name && widget()->accessibleName().isEmpty())
            return static_cast<const QLabel *>(widget())->text();
        return QAccessibleWidget::text(kind);
    }
};

QAccessibleInterface *statusLineAccessible(const QString &className, QObject *object)
{
    if (className == QLatin1String(StatusLine::staticMetaObject.className()))
        if (auto *line = qobject_cast<StatusLine *>(object))
            return new StatusLineAccessible(line);
    return nullptr;
}

} // namespace

StatusLine::StatusLine(const QString &caption, QWidget *parent) : QLabel(parent)
{
    // Qt keeps the first interface it makes for an object, and setText makes
    // one when it announces the change: so the factory comes first, and the
    // caption is set only once the object is a StatusLine.
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(&statusLineAccessible);
        return true;
    }();
    Q_UNUSED(factoryInstalled)
    setText(caption);
}
