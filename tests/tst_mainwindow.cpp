// The main window as a user meets it: layout, initial state, keys, closing,
// and the two sequences every connection ends in (connected, idle).

#include "ReceiveBoxProbe.h"
#include "SendBoxText.h"
#include "WindowTestSupport.h"
#include "connection/Connection_p.h"
#include "windows/tcp_client_p.h"

#include "brisol_version.h"
#include "connection/Connection.h"
#include "receivebox/ReceiveBox.h"
#include "sendbox/SendBox.h"
#include "system/ProcessExit_p.h"
#include "system/SocketControl.h"
#include "system/SystemColour.h"
#include "windows/StatusLine.h"
#include "windows/Twips.h"
#include "windows/proxy_settings.h"
#include "windows/tcp_client.h"

#include <QAccessible>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>

namespace {

QList<int> g_exitCodes;
void recordExit(int code)
{
    g_exitCodes.append(code);
}

QColor foreColour(const QLabel *label)
{
    return label->palette().color(QPalette::WindowText);
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void layout_data();
    void layout();
    void initialState();
    void stackingAndTabOrder();
    void enterInAFieldPressesNothing_data();
    void enterInAFieldPressesNothing();
    void connectedSequence();
    void idleAfterDisconnect();
    void idleAfterPeerCloses();
    void idleAfterSocketError();
    void longStatusText_data();
    void longStatusText();
    void closingWhenReady_data() { proxyWindowShownOrNot(); }
    void closingWhenReady();
    void closingWhileConnecting_data() { proxyWindowShownOrNot(); }
    void closingWhileConnecting();
    void closingWhileAwaitingTheProxy_data() { proxyWindowShownOrNot(); }
    void closingWhileAwaitingTheProxy();
    void closingWhenConnected_data() { proxyWindowShownOrNot(); }
    void closingWhenConnected();

private:
    // Connects the window to the peer through the user's steps and waits for
    // "Conectado".
    void connectTo(const LoopbackPeer &peer);
    void connectWithLineAndTyping(const LoopbackPeer &peer);
    void checkIdle(const QString &caption, const QString &received, const QString &buffer);
    static void proxyWindowShownOrNot();
    void checkClosingEndsTheProcess();

    std::unique_ptr<tcp_client> m_window;
};

void TestMainWindow::init()
{
    g_exitCodes.clear();
    platform::system::setExitHandler(&recordExit);
    m_window = std::make_unique<tcp_client>();
    m_window->show();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
}

void TestMainWindow::cleanup()
{
    m_window.reset();
    platform::system::setExitHandler(nullptr);
}

void TestMainWindow::connectTo(const LoopbackPeer &peer)
{
    typeInCombo(controls(*m_window).host_remoto, QStringLiteral("127.0.0.1"));
    typeInCombo(controls(*m_window).puerto_remoto, peer.portText());
    QTest::mouseClick(controls(*m_window).cmdConnect, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(controls(*m_window).Estado->text(), status::connected(), 10000);
}

void TestMainWindow::layout_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QRect>("twips");
    auto row = [](const char *name, const QString &caption, int left, int top, int width,
                  int height) {
        QTest::newRow(name) << QString::fromLatin1(name) << caption
                            << QRect(left, top, width, height);
    };
    row("send_button", QStringLiteral("Enviar"), 10680, 2640, 735, 375);
    row("puerto_remoto", QString(), 7080, 600, 855, 315);
    row("host_remoto", QString(), 3960, 600, 2175, 315);
    row("txtSend", QString(), 480, 2160, 9975, 1455);
    row("txtRcv", QString(), 480, 4440, 10935, 2415);
    row("usar_proxy", QStringLiteral("Usar Proxy"), 5160, 120, 1215, 255);
    row("cmdDisconnect", QStringLiteral("Desconectar"), 6000, 1200, 1215, 375);
    row("cmdConnect", QStringLiteral("Conectar"), 4560, 1200, 975, 375);
    row("Frame1", QStringLiteral("Ventana de Recepción"), 240, 4080, 11415, 3015);
    row("Frame2", QStringLiteral("Ventana de Envío"), 240, 1800, 11415, 2055);
    row("Estado", QStringLiteral("Listo"), 240, 7320, 11415, 375);
    row("Label2", QStringLiteral("Puerto"), 6480, 600, 615, 255);
    row("Label1", QStringLiteral("Equipo Remoto"), 2760, 600, 1215, 255);
}

void TestMainWindow::layout()
{
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(QRect, twips);
    auto *widget = m_window->findChild<QWidget *>(name);
    QVERIFY(widget);
    QCOMPARE(widget->geometry(),
             rectFromTwips(twips.x(), twips.y(), twips.width(), twips.height()));
    QCOMPARE(widget->parentWidget(), m_window->centralWidget());
    QString shown;
    if (auto *button = qobject_cast<QAbstractButton *>(widget))
        shown = button->text();
    else if (auto *label = qobject_cast<QLabel *>(widget))
        shown = label->text();
    else if (auto *frame = qobject_cast<QGroupBox *>(widget))
        shown = frame->title();
    QCOMPARE(shown, caption);
}

void TestMainWindow::initialState()
{
    tcp_client &w = *m_window;
    QCOMPARE(w.windowTitle(), QStringLiteral(BRISOL_TITLE));
    QCOMPARE(w.centralWidget()->size(), QSize(794, 521));
    QCOMPARE(w.minimumSize(), w.maximumSize());
    QVERIFY(!(w.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(w.windowFlags() & Qt::WindowMinimizeButtonHint);

    QCOMPARE(w.menuBar()->actions().size(), 1);
    QCOMPARE(controls(w).options_menu->title(), QStringLiteral("Opciones"));
    QCOMPARE(controls(w).options_menu->actions(),
             QList<QAction *>{controls(w).proxy_settings_menu});
    QCOMPARE(controls(w).proxy_settings_menu->text(), QStringLiteral("Configurar Proxy"));
    QVERIFY(controls(w).proxy_settings_menu->shortcut().isEmpty());

    QCOMPARE(controls(w).Estado->text(), QStringLiteral("Listo"));
    QCOMPARE(controls(w).Estado->palette().color(QPalette::Window), QColor(0x80, 0x80, 0x80));
    QCOMPARE(foreColour(controls(w).Estado),
             platform::system::colourFromWord(platform::system::kWindowBackgroundColour));
    QVERIFY(controls(w).Estado->autoFillBackground());

    QVERIFY(controls(w).cmdConnect->isEnabled());
    QVERIFY(!controls(w).cmdDisconnect->isEnabled());
    QVERIFY(!controls(w).send_button->isEnabled());
    QVERIFY(!controls(w).usar_proxy->isChecked());
    QCOMPARE(controls(w).host_remoto->count(), 0);
    QCOMPARE(controls(w).puerto_remoto->count(), 0);
    QVERIFY(controls(w).host_remoto->isEditable() && controls(w).puerto_remoto->isEditable());
    QCOMPARE(controls(w).host_remoto->currentText(), QString());
    QVERIFY(!controls(w).txtSend->isReadOnly());
    QCOMPARE(sendText(*controls(w).txtSend), QString());
    QCOMPARE(boxText(*controls(w).txtRcv), QString());
    QCOMPARE(controls(w).txtRcv->backColour(),
             platform::system::colourFromWord(platform::system::kWindowTextColour));
    // Light grey on the dark back colour from the start: what is typed before
    // the first connection shows.
    const QColor lightGrey(0xE0, 0xE0, 0xE0);
    QCOMPARE(controls(w).txtRcv->textColour(), lightGrey);
    QCOMPARE(controls(w).txtSend->palette().color(QPalette::Text), lightGrey);
    QCOMPARE(controls(w).txtSend->palette().color(QPalette::Base),
             platform::system::colourFromWord(platform::system::kWindowTextColour));
    QCOMPARE(controls(w).tcpClient->State(), int(SocketControl::StateClosed));
    QVERIFY(w.proxySettingsWindow() == nullptr);

    Connection &c = w.connection();
    QVERIFY(c.proxy_host_str.isEmpty() && c.proxy_puerto_str.isEmpty());
    QVERIFY(ConnectionPrivate::host_str(c).isEmpty() &&
            ConnectionPrivate::puerto_str(c).isEmpty() &&
            ConnectionPrivate::buffer_str(c).isEmpty());
    QVERIFY(!ConnectionPrivate::usando_proxy(c) && !ConnectionPrivate::tunel_listo(c));

    QVERIFY(controls(w).host_remoto->hasFocus());
    for (QPushButton *button :
         {controls(w).cmdConnect, controls(w).cmdDisconnect, controls(w).send_button})
        QVERIFY(!button->isDefault() && !button->autoDefault());
}

void TestMainWindow::stackingAndTabOrder()
{
    tcp_client &w = *m_window;
    // Children are kept back to front.
    const QObjectList children = w.centralWidget()->children();
    const auto depth = [&](QWidget *widget) {
        return children.indexOf(widget);
    };
    QVERIFY(depth(controls(w).Frame2) < depth(controls(w).txtSend));
    QVERIFY(depth(controls(w).Frame2) < depth(controls(w).send_button));
    QVERIFY(depth(controls(w).Frame1) < depth(controls(w).txtRcv));
    QVERIFY(depth(controls(w).Label1) < depth(controls(w).host_remoto));
    QVERIFY(depth(controls(w).txtSend) < depth(controls(w).send_button));

    const QList<QWidget *> expected = {controls(w).host_remoto,   controls(w).puerto_remoto,
                                       controls(w).usar_proxy,    controls(w).cmdConnect,
                                       controls(w).cmdDisconnect, controls(w).txtSend,
                                       controls(w).send_button,   controls(w).txtRcv};
    // The focus chain from the host field, each widget's inner parts counted
    // as the widget; labels and frames never appear in it.
    QList<QWidget *> visited{controls(w).host_remoto};
    for (QWidget *next = controls(w).host_remoto->nextInFocusChain();
         next != controls(w).host_remoto; next = next->nextInFocusChain()) {
        QWidget *owner = next;
        while (owner && !expected.contains(owner))
            owner = owner->parentWidget();
        if (owner && owner != visited.last() && next->focusPolicy() & Qt::TabFocus)
            visited.append(owner);
    }
    for (QWidget *passive : std::initializer_list<QWidget *>{controls(w).Label1, controls(w).Label2,
                                                             controls(w).Frame1, controls(w).Frame2,
                                                             controls(w).Estado})
        QCOMPARE(passive->focusPolicy(), Qt::NoFocus);
    QCOMPARE(visited, expected);

    // Walked with the keys: Tab goes along the order, skipping the disabled
    // buttons, out of the send box too; Shift+Tab comes back; Ctrl+Tab types
    // a TAB into the send box.
    const auto focusedControl = [&] {
        QWidget *owner = QApplication::focusWidget();
        while (owner && !expected.contains(owner))
            owner = owner->parentWidget();
        return owner;
    };
    const QList<QWidget *> enabled = {controls(w).host_remoto, controls(w).puerto_remoto,
                                      controls(w).usar_proxy,  controls(w).cmdConnect,
                                      controls(w).txtSend,     controls(w).txtRcv};
    QList<QWidget *> forward{focusedControl()};
    for (qsizetype i = 1; i < enabled.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        forward.append(focusedControl());
    }
    QCOMPARE(forward, enabled);
    QList<QWidget *> back{focusedControl()};
    for (qsizetype i = 1; i < enabled.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
        back.prepend(focusedControl());
    }
    QCOMPARE(back, enabled);
    QVERIFY(sendText(*controls(w).txtSend).isEmpty());
    controls(w).txtSend->setFocus();
    QTest::keyClick(controls(w).txtSend, Qt::Key_Tab, Qt::ControlModifier);
    QCOMPARE(focusedControl(), controls(w).txtSend);
    QCOMPARE(sendText(*controls(w).txtSend), QStringLiteral("\t"));
}

void TestMainWindow::enterInAFieldPressesNothing_data()
{
    QTest::addColumn<QString>("field");
    QTest::newRow("host") << QStringLiteral("host_remoto");
    QTest::newRow("port") << QStringLiteral("puerto_remoto");
}

void TestMainWindow::enterInAFieldPressesNothing()
{
    QFETCH(QString, field);
    auto *combo = m_window->findChild<QComboBox *>(field);
    QSignalSpy connectClicks(controls(*m_window).cmdConnect, &QPushButton::clicked);
    combo->setFocus();
    typeInCombo(controls(*m_window).host_remoto, QStringLiteral("127.0.0.1"));
    typeInCombo(controls(*m_window).puerto_remoto, QStringLiteral("1"));
    QTest::keyClick(combo, Qt::Key_Return);
    QTest::keyClick(combo, Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(connectClicks.count(), 0);
    QCOMPARE(controls(*m_window).Estado->text(), QStringLiteral("Listo"));
    QCOMPARE(combo->count(), 0);
}

void TestMainWindow::connectedSequence()
{
    LoopbackPeer peer;
    ConnectionPrivate::buffer_str(m_window->connection()) =
        QStringLiteral("typed while connecting");
    connectTo(peer);
    tcp_client &w = *m_window;
    QCOMPARE(foreColour(controls(w).Estado), QColor(0, 0xFF, 0));
    QVERIFY(ConnectionPrivate::buffer_str(w.connection()).isEmpty());
    QVERIFY(!controls(w).txtSend->isReadOnly());
    QVERIFY(controls(w).txtSend->hasFocus());
    QVERIFY(!controls(w).send_button->isEnabled());
    QVERIFY(!controls(w).cmdConnect->isEnabled());
    QVERIFY(controls(w).cmdDisconnect->isEnabled());
    QCOMPARE(controls(w).tcpClient->State(), int(SocketControl::StateConnected));
}

// A connection with a line received and "ab" typed, for the ways back to idle.
void TestMainWindow::connectWithLineAndTyping(const LoopbackPeer &peer)
{
    tcp_client &w = *m_window;
    connectTo(peer);
    QTRY_VERIFY(peer.socket());
    peer.socket()->write("kept\r\n");
    QTRY_COMPARE(boxText(*controls(w).txtRcv), QStringLiteral("kept\r\n"));
    QTest::keyClicks(controls(w).txtSend, QStringLiteral("ab"));
    QCOMPARE(ConnectionPrivate::buffer_str(w.connection()), QStringLiteral("ab"));
}

// Idle with that caption: the received text and the typed buffer as they
// were, and a keyboard user goes on with Enter on the focused button.
void TestMainWindow::checkIdle(const QString &caption, const QString &received,
                               const QString &buffer)
{
    tcp_client &w = *m_window;
    QCOMPARE(controls(w).Estado->text(), caption);
    QCOMPARE(foreColour(controls(w).Estado),
             platform::system::colourFromWord(platform::system::kWindowBackgroundColour));
    QVERIFY(controls(w).cmdConnect->isEnabled());
    QVERIFY(controls(w).cmdConnect->hasFocus());
    QVERIFY(!controls(w).cmdDisconnect->isEnabled());
    QVERIFY(!controls(w).send_button->isEnabled());
    QVERIFY(controls(w).txtSend->isReadOnly());
    QCOMPARE(controls(w).tcpClient->State(), int(SocketControl::StateClosed));
    QCOMPARE(boxText(*controls(w).txtRcv), received);
    QCOMPARE(ConnectionPrivate::buffer_str(w.connection()), buffer);

    // The keypad's Enter included.
    QSignalSpy connectClicks(controls(w).cmdConnect, &QPushButton::clicked);
    QTest::keyClick(controls(w).cmdConnect, Qt::Key_Return);
    QCOMPARE(connectClicks.count(), 1);
    QVERIFY(hasWindowFocus(controls(w).cmdDisconnect));
    QTest::keyClick(controls(w).cmdDisconnect, Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(controls(w).Estado->text(), status::disconnected());
}

void TestMainWindow::idleAfterDisconnect()
{
    LoopbackPeer peer;
    connectWithLineAndTyping(peer);
    QTest::mouseClick(controls(*m_window).cmdDisconnect, Qt::LeftButton);
    checkIdle(status::disconnected(), QStringLiteral("kept\r\n"), QStringLiteral("ab"));
}

void TestMainWindow::idleAfterPeerCloses()
{
    LoopbackPeer peer;
    connectWithLineAndTyping(peer);
    peer.socket()->disconnectFromHost();
    QTRY_VERIFY_WITH_TIMEOUT(controls(*m_window).cmdConnect->isEnabled(), 10000);
    checkIdle(status::closedByPeer(), QStringLiteral("kept\r\n"), QStringLiteral("ab"));
}

void TestMainWindow::idleAfterSocketError()
{
    tcp_client &w = *m_window;
    quint16 port = 0;
    {
        QTcpServer closed;
        closed.listen(QHostAddress::LocalHost);
        port = closed.serverPort();
    }
    typeInCombo(controls(w).host_remoto, QStringLiteral("127.0.0.1"));
    typeInCombo(controls(w).puerto_remoto, QString::number(port));
    QTest::mouseClick(controls(w).cmdConnect, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(controls(w).cmdConnect->isEnabled(), 10000);
    const QString caption = controls(w).Estado->text();
    QVERIFY(caption != status::connecting());
    QVERIFY(!caption.isEmpty());
    checkIdle(caption, QString(), QString());
}

void TestMainWindow::longStatusText_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<bool>("elided");
    QTest::newRow("short: shown whole") << QStringLiteral("Conexión rehusada") << false;
    QTest::newRow("longer than the line: elided")
        << QStringLiteral("La operación no se pudo completar porque el equipo remoto ha dejado "
                          "de responder y el sistema ha agotado el tiempo de espera de la "
                          "conexión; compruebe la red, el nombre del equipo y el puerto, y "
                          "vuelva a intentarlo más tarde")
        << true;
}

void TestMainWindow::longStatusText()
{
    QFETCH(QString, description);
    QFETCH(bool, elided);
    tcp_client &w = *m_window;
    w.connection().tcpClient_Error(10060, description);
    auto *line = qobject_cast<StatusLine *>(controls(w).Estado);
    QVERIFY(line);
    QCOMPARE(line->text(), description);
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(line);
    QVERIFY(accessible);
    QCOMPARE(accessible->text(QAccessible::Name), description);

    const QString shown = line->shownText();
    QVERIFY(line->fontMetrics().horizontalAdvance(shown) <= line->contentsRect().width());
    QHelpEvent help(QEvent::ToolTip, QPoint(10, 10), line->mapToGlobal(QPoint(10, 10)));
    QApplication::sendEvent(line, &help);
    if (elided) {
        QVERIFY(shown.endsWith(QChar(0x2026)));
        QVERIFY(description.startsWith(shown.chopped(1)));
        QTRY_COMPARE(QToolTip::text(), description);
    } else {
        QCOMPARE(shown, description);
        QVERIFY(!QToolTip::isVisible());
    }
}

void TestMainWindow::proxyWindowShownOrNot()
{
    QTest::addColumn<bool>("proxyWindowShown");
    QTest::newRow("proxy window not shown") << false;
    QTest::newRow("proxy window shown") << true;
}

// Closing the window ends the process with 0 at once, whatever the state and
// whether or not the proxy settings window is shown: nothing runs before the
// exit, no status text, the connection untouched.
void TestMainWindow::checkClosingEndsTheProcess()
{
    QFETCH(bool, proxyWindowShown);
    tcp_client &w = *m_window;
    if (proxyWindowShown)
        controls(w).proxy_settings_menu->trigger();
    const QString caption = controls(w).Estado->text();
    const int socketState = controls(w).tcpClient->State();
    w.close();
    QCOMPARE(g_exitCodes, QList<int>{0});
    QCOMPARE(controls(w).Estado->text(), caption);
    QCOMPARE(controls(w).tcpClient->State(), socketState);
}

void TestMainWindow::closingWhenReady()
{
    checkClosingEndsTheProcess();
}

void TestMainWindow::closingWhileConnecting()
{
    tcp_client &w = *m_window;
    LoopbackPeer peer;
    typeInCombo(controls(w).host_remoto, QStringLiteral("127.0.0.1"));
    typeInCombo(controls(w).puerto_remoto, peer.portText());
    QTest::mouseClick(controls(w).cmdConnect, Qt::LeftButton);
    checkClosingEndsTheProcess();
}

void TestMainWindow::closingWhileAwaitingTheProxy()
{
    tcp_client &w = *m_window;
    // The peer plays a proxy that never answers.
    LoopbackPeer peer;
    w.connection().proxy_host_str = QStringLiteral("127.0.0.1");
    w.connection().proxy_puerto_str = peer.portText();
    controls(w).usar_proxy->setChecked(true);
    w.proxySettingsWindow()->hide();
    typeInCombo(controls(w).host_remoto, QStringLiteral("remote"));
    typeInCombo(controls(w).puerto_remoto, QStringLiteral("1"));
    QTest::mouseClick(controls(w).cmdConnect, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(controls(w).Estado->text(), status::awaitingProxyReply(), 10000);
    checkClosingEndsTheProcess();
}

void TestMainWindow::closingWhenConnected()
{
    LoopbackPeer peer;
    connectTo(peer);
    checkClosingEndsTheProcess();
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
