// The main window as a user meets it: layout, initial state, keys, closing,
// and the two sequences every connection ends in (connected, idle).

#include "WindowTestSupport.h"

#include "Connection.h"
#include "ProcessExit.h"
#include "ReceiveBox.h"
#include "SendBox.h"
#include "SocketControl.h"
#include "StatusLine.h"
#include "SystemColour.h"
#include "Twips.h"
#include "brisol_version.h"
#include "proxy_settings.h"
#include "tcp_client.h"

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
    void returnToIdle_data();
    void returnToIdle();
    void longStatusText_data();
    void longStatusText();
    void closingEndsTheProcess_data();
    void closingEndsTheProcess();

private:
    // Connects the window to the peer through the user's steps and waits for
    // "Conectado".
    void connectTo(const LoopbackPeer &peer);

    std::unique_ptr<tcp_client> m_window;
};

void TestMainWindow::init()
{
    g_exitCodes.clear();
    platform::setExitHandler(&recordExit);
    m_window = std::make_unique<tcp_client>();
    m_window->show();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
}

void TestMainWindow::cleanup()
{
    m_window.reset();
    platform::setExitHandler(nullptr);
}

void TestMainWindow::connectTo(const LoopbackPeer &peer)
{
    typeInCombo(m_window->host_remoto, QStringLiteral("127.0.0.1"));
    typeInCombo(m_window->puerto_remoto, peer.portText());
    QTest::mouseClick(m_window->cmdConnect, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(m_window->Estado->text(), status::connected(), 10000);
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
    QCOMPARE(w.options_menu->title(), QStringLiteral("Opciones"));
    QCOMPARE(w.options_menu->actions(), QList<QAction *>{w.proxy_settings_menu});
    QCOMPARE(w.proxy_settings_menu->text(), QStringLiteral("Configurar Proxy"));
    QVERIFY(w.proxy_settings_menu->shortcut().isEmpty());

    QCOMPARE(w.Estado->text(), QStringLiteral("Listo"));
    QCOMPARE(w.Estado->palette().color(QPalette::Window), QColor(0x80, 0x80, 0x80));
    QCOMPARE(foreColour(w.Estado), platform::colourFromWord(platform::windowBackgroundColour));
    QVERIFY(w.Estado->autoFillBackground());

    QVERIFY(w.cmdConnect->isEnabled());
    QVERIFY(!w.cmdDisconnect->isEnabled());
    QVERIFY(!w.send_button->isEnabled());
    QVERIFY(!w.usar_proxy->isChecked());
    QCOMPARE(w.host_remoto->count(), 0);
    QCOMPARE(w.puerto_remoto->count(), 0);
    QVERIFY(w.host_remoto->isEditable() && w.puerto_remoto->isEditable());
    QCOMPARE(w.host_remoto->currentText(), QString());
    QVERIFY(!w.txtSend->isReadOnly());
    QCOMPARE(w.txtSend->Text(), QString());
    QCOMPARE(w.txtRcv->Text(), QString());
    QCOMPARE(w.txtRcv->backColour(), platform::colourFromWord(platform::windowTextColour));
    // Light grey on the dark back colour from the start: what is typed before
    // the first connection shows.
    const QColor lightGrey(0xE0, 0xE0, 0xE0);
    QCOMPARE(w.txtRcv->textColour(), lightGrey);
    QCOMPARE(w.txtSend->palette().color(QPalette::Text), lightGrey);
    QCOMPARE(w.txtSend->palette().color(QPalette::Base),
             platform::colourFromWord(platform::windowTextColour));
    QCOMPARE(w.tcpClient->State(), int(SocketControl::StateClosed));
    QVERIFY(w.proxySettingsWindow() == nullptr);

    const Connection &c = w.connection();
    QVERIFY(c.proxy_host_str.isEmpty() && c.proxy_puerto_str.isEmpty());
    QVERIFY(c.host_str.isEmpty() && c.puerto_str.isEmpty() && c.buffer_str.isEmpty());
    QVERIFY(!c.usando_proxy && !c.tunel_listo);

    QVERIFY(w.host_remoto->hasFocus());
    for (QPushButton *button : {w.cmdConnect, w.cmdDisconnect, w.send_button})
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
    QVERIFY(depth(w.Frame2) < depth(w.txtSend));
    QVERIFY(depth(w.Frame2) < depth(w.send_button));
    QVERIFY(depth(w.Frame1) < depth(w.txtRcv));
    QVERIFY(depth(w.Label1) < depth(w.host_remoto));
    QVERIFY(depth(w.txtSend) < depth(w.send_button));

    const QList<QWidget *> expected = {w.host_remoto, w.puerto_remoto, w.usar_proxy,
                                       w.cmdConnect,  w.cmdDisconnect, w.txtSend,
                                       w.send_button, w.txtRcv};
    // The focus chain from the host field, each widget's inner parts counted
    // as the widget; labels and frames never appear in it.
    QList<QWidget *> visited{w.host_remoto};
    for (QWidget *next = w.host_remoto->nextInFocusChain(); next != w.host_remoto;
         next = next->nextInFocusChain()) {
        QWidget *owner = next;
        while (owner && !expected.contains(owner))
            owner = owner->parentWidget();
        if (owner && owner != visited.last() && next->focusPolicy() & Qt::TabFocus)
            visited.append(owner);
    }
    for (QWidget *passive :
         std::initializer_list<QWidget *>{w.Label1, w.Label2, w.Frame1, w.Frame2, w.Estado})
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
    const QList<QWidget *> enabled = {w.host_remoto, w.puerto_remoto, w.usar_proxy,
                                      w.cmdConnect,  w.txtSend,       w.txtRcv};
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
    QVERIFY(w.txtSend->Text().isEmpty());
    w.txtSend->setFocus();
    QTest::keyClick(w.txtSend, Qt::Key_Tab, Qt::ControlModifier);
    QCOMPARE(focusedControl(), w.txtSend);
    QCOMPARE(w.txtSend->Text(), QStringLiteral("\t"));
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
    QSignalSpy connectClicks(m_window->cmdConnect, &QPushButton::clicked);
    combo->setFocus();
    typeInCombo(m_window->host_remoto, QStringLiteral("127.0.0.1"));
    typeInCombo(m_window->puerto_remoto, QStringLiteral("1"));
    QTest::keyClick(combo, Qt::Key_Return);
    QTest::keyClick(combo, Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(connectClicks.count(), 0);
    QCOMPARE(m_window->Estado->text(), QStringLiteral("Listo"));
    QCOMPARE(combo->count(), 0);
}

void TestMainWindow::connectedSequence()
{
    LoopbackPeer peer;
    m_window->connection().buffer_str = QStringLiteral("typed while connecting");
    connectTo(peer);
    tcp_client &w = *m_window;
    QCOMPARE(foreColour(w.Estado), QColor(0, 0xFF, 0));
    QVERIFY(w.connection().buffer_str.isEmpty());
    QVERIFY(!w.txtSend->isReadOnly());
    QVERIFY(w.txtSend->hasFocus());
    QVERIFY(!w.send_button->isEnabled());
    QVERIFY(!w.cmdConnect->isEnabled());
    QVERIFY(w.cmdDisconnect->isEnabled());
    QCOMPARE(w.tcpClient->State(), int(SocketControl::StateConnected));
}

void TestMainWindow::returnToIdle_data()
{
    QTest::addColumn<QString>("trigger");
    QTest::newRow("Desconectar") << QStringLiteral("disconnect");
    QTest::newRow("peer closes") << QStringLiteral("peer");
    QTest::newRow("socket error") << QStringLiteral("error");
}

void TestMainWindow::returnToIdle()
{
    QFETCH(QString, trigger);
    tcp_client &w = *m_window;
    LoopbackPeer peer;
    QString expectedCaption;
    QString expectedReceived;
    if (trigger == QLatin1String("error")) {
        quint16 port = 0;
        {
            QTcpServer closed;
            closed.listen(QHostAddress::LocalHost);
            port = closed.serverPort();
        }
        typeInCombo(w.host_remoto, QStringLiteral("127.0.0.1"));
        typeInCombo(w.puerto_remoto, QString::number(port));
        QTest::mouseClick(w.cmdConnect, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(w.cmdConnect->isEnabled(), 10000);
        expectedCaption = w.Estado->text();
        QVERIFY(expectedCaption != status::connecting());
        QVERIFY(!expectedCaption.isEmpty());
    } else {
        connectTo(peer);
        QTRY_VERIFY(peer.socket());
        peer.socket()->write("kept\r\n");
        QTRY_COMPARE(w.txtRcv->Text(), QStringLiteral("kept\r\n"));
        expectedReceived = w.txtRcv->Text();
        QTest::keyClicks(w.txtSend, QStringLiteral("ab"));
        QCOMPARE(w.connection().buffer_str, QStringLiteral("ab"));
        if (trigger == QLatin1String("disconnect")) {
            QTest::mouseClick(w.cmdDisconnect, Qt::LeftButton);
            expectedCaption = status::disconnected();
        } else {
            peer.socket()->disconnectFromHost();
            expectedCaption = status::closedByPeer();
            QTRY_VERIFY_WITH_TIMEOUT(w.cmdConnect->isEnabled(), 10000);
        }
    }
    QCOMPARE(w.Estado->text(), expectedCaption);
    QCOMPARE(foreColour(w.Estado), platform::colourFromWord(platform::windowBackgroundColour));
    QVERIFY(w.cmdConnect->isEnabled());
    QVERIFY(w.cmdConnect->hasFocus());
    QVERIFY(!w.cmdDisconnect->isEnabled());
    QVERIFY(!w.send_button->isEnabled());
    QVERIFY(w.txtSend->isReadOnly());
    QCOMPARE(w.tcpClient->State(), int(SocketControl::StateClosed));
    QCOMPARE(w.txtRcv->Text(), expectedReceived);
    if (trigger != QLatin1String("error"))
        QCOMPARE(w.connection().buffer_str, QStringLiteral("ab"));

    // A keyboard user goes on with Enter on the focused button, the keypad's
    // Enter included.
    QSignalSpy connectClicks(w.cmdConnect, &QPushButton::clicked);
    QTest::keyClick(w.cmdConnect, Qt::Key_Return);
    QCOMPARE(connectClicks.count(), 1);
    QVERIFY(hasWindowFocus(w.cmdDisconnect));
    QTest::keyClick(w.cmdDisconnect, Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(w.Estado->text(), status::disconnected());
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
    auto *line = qobject_cast<StatusLine *>(w.Estado);
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

void TestMainWindow::closingEndsTheProcess_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<bool>("proxyWindowShown");
    QTest::newRow("ready") << QStringLiteral("ready") << false;
    QTest::newRow("connecting") << QStringLiteral("connecting") << false;
    QTest::newRow("awaiting the proxy") << QStringLiteral("awaiting") << true;
    QTest::newRow("connected") << QStringLiteral("connected") << false;
    QTest::newRow("connected, proxy window shown") << QStringLiteral("connected") << true;
    QTest::newRow("ready, proxy window shown") << QStringLiteral("ready") << true;
}

void TestMainWindow::closingEndsTheProcess()
{
    QFETCH(QString, state);
    QFETCH(bool, proxyWindowShown);
    tcp_client &w = *m_window;
    LoopbackPeer peer;
    if (state == QLatin1String("connecting")) {
        typeInCombo(w.host_remoto, QStringLiteral("127.0.0.1"));
        typeInCombo(w.puerto_remoto, peer.portText());
        QTest::mouseClick(w.cmdConnect, Qt::LeftButton);
    } else if (state == QLatin1String("awaiting")) {
        // The peer plays a proxy that never answers.
        w.connection().proxy_host_str = QStringLiteral("127.0.0.1");
        w.connection().proxy_puerto_str = peer.portText();
        w.usar_proxy->setChecked(true);
        w.proxySettingsWindow()->hide();
        typeInCombo(w.host_remoto, QStringLiteral("remote"));
        typeInCombo(w.puerto_remoto, QStringLiteral("1"));
        QTest::mouseClick(w.cmdConnect, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(w.Estado->text(), status::awaitingProxyReply(), 10000);
    } else if (state == QLatin1String("connected")) {
        connectTo(peer);
    }
    if (proxyWindowShown)
        w.proxy_settings_menu->trigger();
    const QString caption = w.Estado->text();
    const int socketState = w.tcpClient->State();
    w.close();
    QCOMPARE(g_exitCodes, QList<int>{0});
    // Nothing ran before the exit: no status text, the connection untouched.
    QCOMPARE(w.Estado->text(), caption);
    QCOMPARE(w.tcpClient->State(), socketState);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
