#include "StatusLine.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QHelpEvent>
#include <QPainter>
#include <QStyle>
#include <QToolTip>

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
    // A description from the system is text, never markup.
    setTextFormat(Qt::PlainText);
    setText(caption);
}

QRect StatusLine::textRect() const
{
    const int space = margin();
    return contentsRect().adjusted(space, space, -space, -space);
}

QString StatusLine::shownText() const
{
    return fontMetrics().elidedText(text(), Qt::ElideRight, textRect().width());
}

bool StatusLine::event(QEvent *event)
{
    if (event->type() == QEvent::ToolTip) {
        const QString shown = shownText();
        if (shown != text())
            QToolTip::showText(static_cast<QHelpEvent *>(event)->globalPos(), text(), this);
        else
            QToolTip::hideText();
        return true;
    }
    return QLabel::event(event);
}

void StatusLine::paintEvent(QPaintEvent * /*event*/)
{
    QPainter painter(this);
    drawFrame(&painter);
    const int flags =
        static_cast<int>(QStyle::visualAlignment(layoutDirection(), alignment()).toInt()) |
        Qt::TextSingleLine;
    style()->drawItemText(&painter, textRect(), flags, palette(), isEnabled(), shownText(),
                          foregroundRole());
}
