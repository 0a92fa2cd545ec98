#include "StatusLine.h"

#include <QAccessible>
#include <QAccessibleObject>
#include <QAccessibleWidget>
#include <QHelpEvent>
#include <QPainter>
#include <QStyle>
#include <QToolTip>

#include <algorithm>

namespace {

// One of the line's notices: a child of the line named with the caption it
// last told, with no place of its own on the screen, so that a screen reader
// reading the status bar does not read the caption twice.
class StatusNoticeAccessible final : public QAccessibleObject
{
public:
    StatusNoticeAccessible(QObject *notice, StatusLine *line)
        : QAccessibleObject(notice), m_line(line)
    {}

    void setCaption(const QString &caption) { m_caption = caption; }

    QAccessible::Role role() const override { return QAccessible::Notification; }
    QAccessible::State state() const override { return {}; }
    QString text(QAccessible::Text kind) const override
    {
        if (kind != QAccessible::Name)
            return {};
        // Until it first tells one, a notice is named with the line's caption.
        return m_caption.isNull() ? m_line->text() : m_caption;
    }
    QRect rect() const override { return {}; }
    QAccessibleInterface *parent() const override
    {
        return QAccessible::queryAccessibleInterface(m_line);
    }
    int childCount() const override { return 0; }
    QAccessibleInterface *child(int /*index*/) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface * /*child*/) const override { return -1; }

private:
    StatusLine *m_line;
    QString m_caption;
};

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

    int childCount() const override { return static_cast<int>(notices().size()); }
    QAccessibleInterface *child(int index) const override
    {
        return index >= 0 && index < childCount() ? QAccessible::queryAccessibleInterface(
                                                        notices()[static_cast<std::size_t>(index)])
                                                  : nullptr;
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        if (!child)
            return -1;
        const auto &all = notices();
        const auto *at = std::find(all.begin(), all.end(), child->object());
        return at == all.end() ? -1 : static_cast<int>(at - all.begin());
    }

private:
    const std::array<QObject *, 4> &notices() const
    {
        return static_cast<const StatusLine *>(widget())->notices();
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

StatusLine::StatusLine(QWidget *parent) : QLabel(parent)
{
    // Qt keeps the first interface it makes for an object, and setText makes
    // one when it announces the change: so the factory comes first, and a
    // caption is set only once the object is a StatusLine.
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(&statusLineAccessible);
        return true;
    }();
    Q_UNUSED(factoryInstalled)
    for (QObject *&notice : m_notices) {
        notice = new QObject(this);
        // A plain object has no interface of its own: it is given one, which
        // Qt keeps and deletes with the object.
        QAccessible::registerAccessibleInterface(new StatusNoticeAccessible(notice, this));
    }
    // A description from the system is text, never markup.
    setTextFormat(Qt::PlainText);
}

void StatusLine::announce()
{
    QObject *notice = m_notices.at(m_nextNotice);
    m_nextNotice = (m_nextNotice + 1) % m_notices.size();
    static_cast<StatusNoticeAccessible *>(QAccessible::queryAccessibleInterface(notice))
        ->setCaption(text());
    QAccessibleEvent shown(notice, QAccessible::ObjectShow);
    QAccessible::updateAccessibility(&shown);
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
