// Both windows as assistive technology meets them, through QAccessible's
// interfaces: every control has a name (its label, its frame or its own
// caption), the status line is the window's status bar, and each change of
// the status line is announced once, with the new caption as the name.

#include "WindowTestSupport.h"

#include "Connection.h"
#include "ProcessExit.h"
#include "ReceiveBox.h"
#include "SendBox.h"
#include "proxy_settings.h"
#include "tcp_client.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

// Qt delivers accessibility events only while its platform accessibility is
// active, that is while an assistive technology listens; its own tests switch
// it on the same way.
#include <private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>

namespace {

void ignoreExit(int) {}

struct Announcement
{
    QAccessible::Event type;
    QString name;
};

QObject *g_watched = nullptr;
QList<Announcement> g_announcements;

void recordAnnouncement(QAccessibleEvent *event)
{
    if (!g_watched || event->object() != g_watched)
        return;
    QAccessibleInterface *iface = event->accessibleInterface();
    g_announcements.append({event->type(), iface ? iface->text(QAccessible::Name) : QString()});
}

// The caption a widget shows: a label's text, a button's, a frame's title.
QString captionOf(const QWidget *widget)
{
    if (auto *label = qobject_cast<const QLabel *>(widget))
        return label->text();
    if (auto *button = qobject_cast<const QAbstractButton *>(widget))
        return button->text();
    if (auto *frame = qobject_cast<const QGroupBox *>(widget))
        return frame->title();
    return QString();
}

// Every object below `iface` that a screen reader would announce by name but
// has none; structural parts (the client area, scroll bars, the menu bar) are
// announced by role alone.
void collectUnnamed(QAccessibleInterface *iface, const QString &path, QStringList &unnamed)
{
    for (int i = 0; i < iface->childCount(); ++i) {
        QAccessibleInterface *child = iface->child(i);
        if (!child)
            continue;
        const QObject *object = child->object();
        const QString here =
            path + QLatin1Char('/') +
            (object && !object->objectName().isEmpty()
                 ? object->objectName()
                 : QString::fromLatin1(object ? object->metaObject()->className() : "?"));
        static const QList<QAccessible::Role> structural = {
            QAccessible::Client, QAccessible::ScrollBar, QAccessible::MenuBar};
        if (!structural.contains(child->role()) && child->text(QAccessible::Name).isEmpty())
            unnamed << here;
        collectUnnamed(child, here, unnamed);
    }
}

} // namespace

class TestAccessibility : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void controlsAreNamed_data();
    void controlsAreNamed();
    void noControlIsUnnamed_data();
    void noControlIsUnnamed();
    void statusLineIsTheStatusBar();
    void statusChangesAreAnnounced_data();
    void statusChangesAreAnnounced();

private:
    QWidget *windowNamed(const QString &window);
    std::unique_ptr<tcp_client> m_window;
};

void TestAccessibility::initTestCase()
{
    platform::setExitHandler(&ignoreExit);
    QPlatformAccessibility *accessibility =
        QGuiApplicationPrivate::platformIntegration()->accessibility();
    QVERIFY2(accessibility, "the platform has no accessibility");
    accessibility->setActive(true);
    QVERIFY(QAccessible::isActive());
    QAccessible::installUpdateHandler(&recordAnnouncement);
}

void TestAccessibility::init()
{
    m_window = std::make_unique<tcp_client>();
    m_window->show();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
}

void TestAccessibility::cleanup()
{
    g_watched = nullptr;
    g_announcements.clear();
    m_window.reset();
}

QWidget *TestAccessibility::windowNamed(const QString &window)
{
    if (window == QLatin1String("proxy_settings")) {
        m_window->proxy_settings_menu->trigger();
        return m_window->proxySettingsWindow();
    }
    return m_window.get();
}

void TestAccessibility::controlsAreNamed_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("control");
    // "edit" or "list" for those parts of a combo box, else empty.
    QTest::addColumn<QString>("part");
    // The widget whose caption names the control; empty for its own caption.
    QTest::addColumn<QString>("namedAfter");

    const auto row = [](const char *window, const char *control, const char *part,
                        const char *namedAfter) {
        QTest::addRow("%s %s%s%s", window, control, *part ? " " : "", part)
            << QString::fromLatin1(window) << QString::fromLatin1(control)
            << QString::fromLatin1(part) << QString::fromLatin1(namedAfter);
    };
    for (const char *part : {"", "edit", "list"}) {
        row("tcp_client", "host_remoto", part, "Label1");
        row("tcp_client", "puerto_remoto", part, "Label2");
        row("proxy_settings", "proxy", part, "Label1");
        row("proxy_settings", "puerto", part, "Label2");
    }
    row("tcp_client", "txtSend", "", "Frame2");
    row("tcp_client", "txtRcv", "", "Frame1");
    for (const char *own : {"usar_proxy", "cmdConnect", "cmdDisconnect", "send_button", "Estado",
                            "Frame1", "Frame2", "Label1", "Label2"})
        row("tcp_client", own, "", "");
    for (const char *own : {"OKButton", "Label1", "Label2"})
        row("proxy_settings", own, "", "");
}

void TestAccessibility::controlsAreNamed()
{
    QFETCH(QString, window);
    QFETCH(QString, control);
    QFETCH(QString, part);
    QFETCH(QString, namedAfter);

    QWidget *top = windowNamed(window);
    QVERIFY(top);
    auto *widget = top->findChild<QWidget *>(control);
    QVERIFY(widget);
    QObject *target = widget;
    if (!part.isEmpty()) {
        auto *combo = qobject_cast<QComboBox *>(widget);
        QVERIFY(combo);
        target = part == QLatin1String("edit") ? static_cast<QObject *>(combo->lineEdit())
                                               : static_cast<QObject *>(combo->view());
    }
    const QString expected =
        captionOf(namedAfter.isEmpty() ? widget : top->findChild<QWidget *>(namedAfter));
    QVERIFY2(!expected.isEmpty(), "the naming widget shows no caption");

    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(target);
    QVERIFY(iface);
    QCOMPARE(iface->text(QAccessible::Name), expected);
}

void TestAccessibility::noControlIsUnnamed_data()
{
    QTest::addColumn<QString>("window");
    QTest::newRow("main window") << QStringLiteral("tcp_client");
    QTest::newRow("proxy settings window") << QStringLiteral("proxy_settings");
}

void TestAccessibility::noControlIsUnnamed()
{
    QFETCH(QString, window);
    QWidget *top = windowNamed(window);
    QVERIFY(top);
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(top);
    QVERIFY(iface);
    QVERIFY(iface->childCount() > 0);
    QStringList unnamed;
    collectUnnamed(iface, window, unnamed);
    QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(QStringLiteral(", "))));
}

void TestAccessibility::statusLineIsTheStatusBar()
{
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(m_window->Estado);
    QVERIFY(iface);
    QCOMPARE(iface->role(), QAccessible::StatusBar);
    QCOMPARE(iface->text(QAccessible::Name), QStringLiteral("Listo"));
}

void TestAccessibility::statusChangesAreAnnounced_data()
{
    QTest::addColumn<bool>("peerCloses");
    QTest::addColumn<QStringList>("announced");
    QTest::newRow("the user disconnects")
        << false << QStringList{status::connecting(), status::connected(), status::disconnected()};
    QTest::newRow("the remote end closes")
        << true << QStringList{status::connecting(), status::connected(), status::closedByPeer()};
}

void TestAccessibility::statusChangesAreAnnounced()
{
    QFETCH(bool, peerCloses);
    QFETCH(QStringList, announced);

    tcp_client &w = *m_window;
    LoopbackPeer peer;
    g_watched = w.Estado;
    typeInCombo(w.host_remoto, QStringLiteral("127.0.0.1"));
    typeInCombo(w.puerto_remoto, peer.portText());
    QTest::mouseClick(w.cmdConnect, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(w.Estado->text(), status::connected(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(peer.socket(), 10000);
    if (peerCloses)
        peer.socket()->disconnectFromHost();
    else
        QTest::mouseClick(w.cmdDisconnect, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(w.Estado->text(), announced.last(), 10000);

    // One name change per caption, the name already the new caption when it
    // is announced; nothing else about the status line.
    QStringList names;
    for (const Announcement &announcement : g_announcements) {
        QCOMPARE(announcement.type, QAccessible::NameChanged);
        names << announcement.name;
    }
    QCOMPARE(names, announced);
}

QTEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"
