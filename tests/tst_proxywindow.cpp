// The proxy settings window: one instance, shown modeless in front of the
// main window, "Aceptar" hands over both texts unchanged and hides it.

#include "WindowTestSupport.h"
#include "windows/tcp_client_p.h"

#include "connection/Connection.h"
#include "system/ProcessExit_p.h"
#include "windows/Twips.h"
#include "windows/proxy_settings.h"
#include "windows/tcp_client.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

namespace {
void ignoreExit(int) {}
} // namespace

class TestProxyWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { platform::system::setExitHandler(&ignoreExit); }
    void init();
    void cleanup() { m_window.reset(); }

    void windowAndLayout();
    void showings_data();
    void showings();
    void clearingTheBoxKeepsEverything();
    void aceptarStoresTheTextsAsTyped_data();
    void aceptarStoresTheTextsAsTyped();
    void unconfirmedTextsStayInTheFields();
    void everyActivationFocusesTheHostField();
    void enterPressesAceptarOnlyWhenItHasTheFocus();
    void closingOnlyHides();

private:
    proxy_settings *shownSettings();
    std::unique_ptr<tcp_client> m_window;
};

void TestProxyWindow::init()
{
    m_window = std::make_unique<tcp_client>();
    m_window->show();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
}

proxy_settings *TestProxyWindow::shownSettings()
{
    controls(*m_window).proxy_settings_menu->trigger();
    proxy_settings *settings = m_window->proxySettingsWindow();
    return settings && settings->isVisible() ? settings : nullptr;
}

void TestProxyWindow::windowAndLayout()
{
    proxy_settings *settings = shownSettings();
    QVERIFY(settings);
    QCOMPARE(settings->windowTitle(), QStringLiteral("Configuración Proxy"));
    QCOMPARE(settings->size(), QSize(313, 89));
    QCOMPARE(settings->minimumSize(), settings->maximumSize());
    QVERIFY(settings->isWindow());
    QCOMPARE(settings->parentWidget(), m_window.get()); // owned: no task-bar entry
    QCOMPARE(settings->windowType(), Qt::Dialog);
    QVERIFY(
        !(settings->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));

    const struct
    {
        const char *name;
        QString caption;
        QRect twips;
    } rows[] = {
        {"puerto", QString(), {840, 720, 855, 315}},
        {"proxy", QString(), {1320, 240, 2175, 315}},
        {"OKButton", QStringLiteral("Aceptar"), {3720, 480, 855, 375}},
        {"Label2", QStringLiteral("Puerto"), {240, 720, 615, 255}},
        {"Label1", QStringLiteral("Proxy HTTP"), {240, 240, 975, 255}},
    };
    for (const auto &row : rows) {
        auto *widget = settings->findChild<QWidget *>(QLatin1String(row.name));
        QVERIFY2(widget, row.name);
        QCOMPARE(widget->geometry(), rectFromTwips(row.twips.x(), row.twips.y(), row.twips.width(),
                                                   row.twips.height()));
        if (auto *label = qobject_cast<QLabel *>(widget))
            QCOMPARE(label->text(), row.caption);
        if (auto *button = qobject_cast<QPushButton *>(widget))
            QCOMPARE(button->text(), row.caption);
    }
    QVERIFY(settings->proxy->isEditable() && settings->puerto->isEditable());
    QCOMPARE(settings->proxy->count(), 0);
    QCOMPARE(settings->puerto->count(), 0);
    QCOMPARE(settings->proxy->nextInFocusChain()->parentWidget() == settings->proxy
                 ? settings->proxy->nextInFocusChain()->nextInFocusChain()
                 : settings->proxy->nextInFocusChain(),
             settings->puerto);
}

void TestProxyWindow::showings_data()
{
    QTest::addColumn<bool>("startTicked");
    QTest::addColumn<QString>("how");
    QTest::newRow("ticking the box") << false << QStringLiteral("tick");
    QTest::newRow("menu while clear") << false << QStringLiteral("menu");
    QTest::newRow("menu while ticked") << true << QStringLiteral("menu");
}

void TestProxyWindow::showings()
{
    QFETCH(bool, startTicked);
    QFETCH(QString, how);
    tcp_client &w = *m_window;
    if (startTicked) {
        controls(w).usar_proxy->setChecked(true);
        w.proxySettingsWindow()->hide();
    }
    if (how == QLatin1String("tick"))
        QTest::mouseClick(controls(w).usar_proxy, Qt::LeftButton);
    else
        controls(w).proxy_settings_menu->trigger();
    QVERIFY(controls(w).usar_proxy->isChecked());
    proxy_settings *settings = w.proxySettingsWindow();
    QVERIFY(settings && settings->isVisible());
    QTRY_COMPARE(QApplication::activeWindow(), settings);

    // Showing it again keeps the one instance and its texts.
    typeInCombo(settings->proxy, QStringLiteral("kept"));
    controls(w).proxy_settings_menu->trigger();
    QCOMPARE(w.proxySettingsWindow(), settings);
    QCOMPARE(settings->proxy->currentText(), QStringLiteral("kept"));
    QCOMPARE(w.findChildren<proxy_settings *>().size(), 1);
}

void TestProxyWindow::clearingTheBoxKeepsEverything()
{
    tcp_client &w = *m_window;
    proxy_settings *settings = shownSettings();
    QVERIFY(settings);
    typeInCombo(settings->proxy, QStringLiteral("p"));
    typeInCombo(settings->puerto, QStringLiteral("3128"));
    QTest::mouseClick(settings->OKButton, Qt::LeftButton);
    controls(w).proxy_settings_menu->trigger();
    QTest::mouseClick(controls(w).usar_proxy, Qt::LeftButton);
    QVERIFY(!controls(w).usar_proxy->isChecked());
    QVERIFY(settings->isVisible());
    QCOMPARE(w.connection().proxy_host_str, QStringLiteral("p"));
    QCOMPARE(w.connection().proxy_puerto_str, QStringLiteral("3128"));
}

void TestProxyWindow::aceptarStoresTheTextsAsTyped_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("port");
    QTest::newRow("plain") << QStringLiteral("proxy.example") << QStringLiteral("3128");
    QTest::newRow("both empty") << QString() << QString();
    QTest::newRow("blanks and letters") << QStringLiteral("  p  ") << QStringLiteral("http");
}

void TestProxyWindow::aceptarStoresTheTextsAsTyped()
{
    QFETCH(QString, host);
    QFETCH(QString, port);
    tcp_client &w = *m_window;
    proxy_settings *settings = shownSettings();
    QVERIFY(settings);
    w.connection().proxy_host_str = QStringLiteral("old");
    typeInCombo(settings->proxy, host);
    typeInCombo(settings->puerto, port);
    QTest::mouseClick(settings->OKButton, Qt::LeftButton);
    QCOMPARE(w.connection().proxy_host_str, host);
    QCOMPARE(w.connection().proxy_puerto_str, port);
    QVERIFY(!settings->isVisible());
    QCOMPARE(settings->proxy->count(), 0); // the lists are the connect command's
    QCOMPARE(w.proxySettingsWindow(), settings);
}

void TestProxyWindow::unconfirmedTextsStayInTheFields()
{
    tcp_client &w = *m_window;
    proxy_settings *settings = shownSettings();
    QVERIFY(settings);
    typeInCombo(settings->proxy, QStringLiteral("typed"));
    settings->hide();
    QVERIFY(w.connection().proxy_host_str.isEmpty());
    controls(w).proxy_settings_menu->trigger();
    QCOMPARE(settings->proxy->currentText(), QStringLiteral("typed"));
}

void TestProxyWindow::everyActivationFocusesTheHostField()
{
    tcp_client &w = *m_window;
    proxy_settings *settings = shownSettings();
    QVERIFY(settings);
    QTRY_COMPARE(QApplication::activeWindow(), settings);
    QVERIFY(settings->proxy->hasFocus());
    settings->puerto->setFocus();
    QVERIFY(settings->puerto->hasFocus());
    w.activateWindow();
    QTRY_COMPARE(QApplication::activeWindow(), &w);
    settings->activateWindow();
    QTRY_COMPARE(QApplication::activeWindow(), settings);
    QVERIFY(settings->proxy->hasFocus());
}

void TestProxyWindow::enterPressesAceptarOnlyWhenItHasTheFocus()
{
    proxy_settings *settings = shownSettings();
    QVERIFY(settings);
    QSignalSpy clicks(settings->OKButton, &QPushButton::clicked);
    for (QWidget *field :
         {static_cast<QWidget *>(settings->proxy), static_cast<QWidget *>(settings->puerto)}) {
        QTest::keyClick(field, Qt::Key_Return);
        QTest::keyClick(field, Qt::Key_Escape);
    }
    QCOMPARE(clicks.count(), 0);
    QVERIFY(settings->isVisible());
    QCOMPARE(settings->proxy->count(), 0);
    // Enter presses the button that has the focus, as Space does.
    typeInCombo(settings->proxy, QStringLiteral("p"));
    QTest::keyClick(settings->focusWidget(), Qt::Key_Tab);
    QTest::keyClick(settings->focusWidget(), Qt::Key_Tab);
    QCOMPARE(settings->focusWidget(), settings->OKButton);
    QTest::keyClick(settings->OKButton, Qt::Key_Return);
    QCOMPARE(clicks.count(), 1);
    QVERIFY(!settings->isVisible());
    QCOMPARE(m_window->connection().proxy_host_str, QStringLiteral("p"));
}

void TestProxyWindow::closingOnlyHides()
{
    tcp_client &w = *m_window;
    proxy_settings *settings = shownSettings();
    QVERIFY(settings);
    typeInCombo(settings->proxy, QStringLiteral("p"));
    typeInCombo(settings->puerto, QStringLiteral("1"));
    QTest::mouseClick(settings->OKButton, Qt::LeftButton);
    controls(w).proxy_settings_menu->trigger();
    typeInCombo(settings->proxy, QStringLiteral("not confirmed"));
    QVERIFY(settings->close());
    QVERIFY(!settings->isVisible());
    QCOMPARE(w.proxySettingsWindow(), settings);
    QCOMPARE(w.connection().proxy_host_str, QStringLiteral("p"));
    QCOMPARE(w.connection().proxy_puerto_str, QStringLiteral("1"));
    QVERIFY(w.isVisible());
}

QTEST_MAIN(TestProxyWindow)
#include "tst_proxywindow.moc"
