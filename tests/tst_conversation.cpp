// The whole conversation through the main window: the connect command with
// its validation and history lists, the receive and send paths, and the
// CONNECT tunnel against a scripted proxy and against tinyproxy.

#include "NetworkFixtures.h"
#include "ReceiveBoxProbe.h"
#include "SendBoxText.h"
#include "WindowTestSupport.h"
#include "connection/Connection_p.h"
#include "windows/tcp_client_p.h"

#include "brisol_version.h"
#include "connection/Connection.h"
#include "connection/Transcoding.h"
#include "receivebox/ReceiveBox.h"
#include "sendbox/SendBox.h"
#include "system/CodePage.h"
#include "system/ProcessExit_p.h"
#include "system/SocketControl_p.h"
#include "system/SystemColour.h"
#include "windows/proxy_settings.h"
#include "windows/tcp_client.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

void ignoreExit(int) {}

QColor foreColour(const QLabel *label)
{
    return label->palette().color(QPalette::WindowText);
}

// Presses the keys of a text in the send box as a user would: '\r' is Enter,
// '\b' Backspace, anything else the key that types that character.
void typeKeys(SendBox *box, const QString &keys)
{
    for (const QChar character : keys) {
        int key = Qt::Key_unknown;
        if (character == QLatin1Char('\r'))
            key = Qt::Key_Return;
        else if (character == QLatin1Char('\b'))
            key = Qt::Key_Backspace;
        else if (character.isLetterOrNumber() && character.unicode() < 0x80)
            key = character.toUpper().unicode();
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(character));
        QApplication::sendEvent(box, &press);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, QString(character));
        QApplication::sendEvent(box, &release);
    }
}

} // namespace

class TestConversation : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void validation_data();
    void validation();
    void startingEmptiesBothBoxes();
    void historyLists();
    void fieldsHoldWhatWasTyped_data();
    void fieldsHoldWhatWasTyped();
    void proxyAttemptUsesTheConfirmedTexts();

    void receive_data();
    void receive();
    void transcriptKeptUntilTheNextConnect();

    void send_data();
    void send();
    void keysBeforeTheConnectionAreNotSent();
    void receiveBoxKeysSendFromTheSendBox();

    void tunnel_data();
    void tunnel();
    void tunnelEndsWithoutAVerdict_data();
    void tunnelEndsWithoutAVerdict();
    void typingWhileTheProxyAnswers();
    void sessionThroughTinyproxy();

private:
    void startDirect(const QString &host, const QString &port);
    void confirmProxy(const QString &host, const QString &port);
    void connectDirect(LoopbackPeer &peer);

    std::unique_ptr<tcp_client> m_window;
};

void TestConversation::initTestCase()
{
    // Port texts are read with the user's locale; these tests use the point.
    QLocale::setDefault(QLocale::c());
    platform::system::setExitHandler(&ignoreExit);
}

void TestConversation::init()
{
    m_window = std::make_unique<tcp_client>();
    m_window->show();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
}

void TestConversation::cleanup()
{
    m_window.reset();
}

void TestConversation::startDirect(const QString &host, const QString &port)
{
    typeInCombo(controls(*m_window).host_remoto, host);
    typeInCombo(controls(*m_window).puerto_remoto, port);
    QTest::mouseClick(controls(*m_window).cmdConnect, Qt::LeftButton);
}

void TestConversation::confirmProxy(const QString &host, const QString &port)
{
    controls(*m_window).usar_proxy->setChecked(true);
    proxy_settings *settings = m_window->proxySettingsWindow();
    QVERIFY(settings && settings->isVisible());
    typeInCombo(settings->proxy, host);
    typeInCombo(settings->puerto, port);
    QTest::mouseClick(settings->OKButton, Qt::LeftButton);
    QVERIFY(!settings->isVisible());
}

void TestConversation::connectDirect(LoopbackPeer &peer)
{
    startDirect(QStringLiteral("127.0.0.1"), peer.portText());
    QTRY_COMPARE_WITH_TIMEOUT(controls(*m_window).Estado->text(), status::connected(), 10000);
    QTRY_VERIFY(peer.socket());
}

void TestConversation::validation_data()
{
    QTest::addColumn<bool>("useProxy");
    QTest::addColumn<QString>("proxyHost");
    QTest::addColumn<QString>("proxyPort");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("message"); // empty: the attempt starts
    QTest::addColumn<int>("socketPort");

    const QString local = QStringLiteral("127.0.0.1");
    const QString remoteMessage = messages::invalidRemote();
    const QString proxyMessage = messages::invalidProxy();
    auto direct = [&](const char *name, const QString &host, const QString &port,
                      const QString &message, int socketPort) {
        QTest::newRow(name) << false << QString() << QString() << host << port << message
                            << socketPort;
    };
    direct("port 0", local, QStringLiteral("0"), remoteMessage, -1);
    direct("port -5", local, QStringLiteral("-5"), remoteMessage, -1);
    direct("port 65536", local, QStringLiteral("65536"), remoteMessage, -1);
    direct("port 65535.5", local, QStringLiteral("65535.5"), remoteMessage, -1);
    direct("port of letters", local, QStringLiteral("telnet"), remoteMessage, -1);
    direct("empty port", local, QString(), remoteMessage, -1);
    direct("port 0.4 rounds to 0", local, QStringLiteral("0.4"), remoteMessage, -1);
    direct("empty host", QString(), QStringLiteral("80"), remoteMessage, -1);
    direct("host with LF", QStringLiteral("a\nb"), QStringLiteral("80"), remoteMessage, -1);
    direct("port pasted with a line end", local, QStringLiteral("443\r\n"), remoteMessage, -1);
    direct("IPv6 address in brackets, kept as typed", QStringLiteral("[::1]"), QStringLiteral("7"),
           QString(), 7);
    direct("port 1", local, QStringLiteral("1"), QString(), 1);
    direct("port 65535", local, QStringLiteral("65535"), QString(), 65535);
    direct("port 80.5 to 80", local, QStringLiteral("80.5"), QString(), 80);
    direct("port 81.5 to 82", local, QStringLiteral("81.5"), QString(), 82);
    direct("host of blanks", QStringLiteral("   "), QStringLiteral("7"), QString(), 7);

    auto viaProxy = [&](const char *name, const QString &proxyHost, const QString &proxyPort,
                        const QString &host, const QString &port, const QString &message,
                        int socketPort) {
        QTest::newRow(name) << true << proxyHost << proxyPort << host << port << message
                            << socketPort;
    };
    viaProxy("proxy never confirmed", QString(), QString(), local, QStringLiteral("80"),
             proxyMessage, -1);
    viaProxy("proxy port invalid", local, QStringLiteral("0"), local, QStringLiteral("80"),
             proxyMessage, -1);
    viaProxy("proxy host with CR", QStringLiteral("p\r"), QStringLiteral("3128"), local,
             QStringLiteral("80"), proxyMessage, -1);
    viaProxy("both invalid: only the proxy message", QString(), QString(), QString(), QString(),
             proxyMessage, -1);
    viaProxy("remote port empty", local, QStringLiteral("3128"), local, QString(), remoteMessage,
             -1);
    viaProxy("proxy port text goes to the socket", local, QStringLiteral("08080"), local,
             QStringLiteral("0443"), QString(), 8080);
}

void TestConversation::validation()
{
    QFETCH(bool, useProxy);
    QFETCH(QString, proxyHost);
    QFETCH(QString, proxyPort);
    QFETCH(QString, host);
    QFETCH(QString, port);
    QFETCH(QString, message);
    QFETCH(int, socketPort);

    tcp_client &w = *m_window;
    if (useProxy) {
        w.connection().proxy_host_str = proxyHost;
        w.connection().proxy_puerto_str = proxyPort;
        QSignalBlocker quiet(controls(w).usar_proxy); // keep the proxy window closed for now
        controls(w).usar_proxy->setChecked(true);
    }
    MessageBoxWatcher boxes;
    startDirect(host, port);

    if (!message.isEmpty()) {
        QCOMPARE(boxes.texts, QStringList{message});
        QCOMPARE(boxes.titles, QStringList{QStringLiteral(BRISOL_TITLE)});
        QCOMPARE(boxes.icons, QList<QMessageBox::Icon>{QMessageBox::Critical});
        QCOMPARE(boxes.buttonCount, QList<qsizetype>{1});
        // Nothing of the window's state changed.
        QCOMPARE(controls(w).Estado->text(), status::ready());
        QVERIFY(controls(w).cmdConnect->isEnabled());
        QVERIFY(!controls(w).cmdDisconnect->isEnabled());
        QCOMPARE(controls(w).tcpClient->State(), int(SocketControl::StateClosed));
        QCOMPARE(controls(w).host_remoto->count(), 0);
        QCOMPARE(controls(w).puerto_remoto->count(), 0);
        QCOMPARE(controls(w).usar_proxy->isChecked(), useProxy);
        if (message == messages::invalidProxy()) {
            QVERIFY(w.proxySettingsWindow() && w.proxySettingsWindow()->isVisible());
        } else {
            QVERIFY(hasWindowFocus(controls(w).host_remoto));
            QVERIFY(!w.proxySettingsWindow() || !w.proxySettingsWindow()->isVisible());
        }
        return;
    }

    QVERIFY(boxes.texts.isEmpty());
    QCOMPARE(SocketControlPrivate::RemotePort(*controls(w).tcpClient), socketPort);
    QCOMPARE(SocketControlPrivate::RemoteHost(*controls(w).tcpClient), useProxy ? proxyHost : host);
    QCOMPARE(controls(w).Estado->text(),
             useProxy ? status::connectingViaProxy() : status::connecting());
    QCOMPARE(foreColour(controls(w).Estado), QColor(0xFF, 0xFF, 0));
    QVERIFY(!controls(w).cmdConnect->isEnabled());
    QVERIFY(controls(w).cmdDisconnect->isEnabled());
    QVERIFY(hasWindowFocus(controls(w).cmdDisconnect));
    QCOMPARE(ConnectionPrivate::host_str(w.connection()), host);
    QCOMPARE(ConnectionPrivate::puerto_str(w.connection()), port);
    QCOMPARE(ConnectionPrivate::usando_proxy(w.connection()), useProxy);
    QCOMPARE(controls(w).host_remoto->itemText(0), host);
    QCOMPARE(controls(w).puerto_remoto->itemText(0), port);
}

void TestConversation::startingEmptiesBothBoxes()
{
    tcp_client &w = *m_window;
    LoopbackPeer peer;
    connectDirect(peer);
    peer.socket()->write("old text");
    typeKeys(controls(w).txtSend, QStringLiteral("typed"));
    QTRY_COMPARE(boxText(*controls(w).txtRcv), QStringLiteral("old text"));
    QTest::mouseClick(controls(w).cmdDisconnect, Qt::LeftButton);
    QVERIFY(!sendText(*controls(w).txtSend).isEmpty());

    startDirect(QStringLiteral("127.0.0.1"), peer.portText());
    QCOMPARE(sendText(*controls(w).txtSend), QString());
    QCOMPARE(boxText(*controls(w).txtRcv), QString());
    const QColor lightGrey(0xE0, 0xE0, 0xE0);
    QCOMPARE(controls(w).txtRcv->textColour(), lightGrey);
    QCOMPARE(controls(w).txtSend->palette().color(QPalette::Text), lightGrey);
}

void TestConversation::historyLists()
{
    tcp_client &w = *m_window;
    const auto attempt = [&](const QString &host, const QString &port) {
        startDirect(host, port);
        QTest::mouseClick(controls(w).cmdDisconnect, Qt::LeftButton);
    };
    const auto items = [](const QComboBox *combo) {
        QStringList list;
        for (int i = 0; i < combo->count(); ++i)
            list.append(combo->itemText(i));
        return list;
    };
    for (const char *host : {"a", "b", "c", "d"})
        attempt(QString::fromLatin1(host), QStringLiteral("80"));
    QCOMPARE(items(controls(w).host_remoto), (QStringList{u"d"_s, u"c"_s, u"b"_s, u"a"_s}));
    // The item at index 3 moves to the top; the list does not grow.
    attempt(QStringLiteral("a"), QStringLiteral("80"));
    QCOMPARE(items(controls(w).host_remoto), (QStringList{u"a"_s, u"d"_s, u"c"_s, u"b"_s}));
    QCOMPARE(controls(w).host_remoto->currentText(), QStringLiteral("a"));
    // Exact comparisons: case and leading zeros make new items.
    attempt(QStringLiteral("A"), QStringLiteral("080"));
    QCOMPARE(items(controls(w).host_remoto).first(2), (QStringList{u"A"_s, u"a"_s}));
    QCOMPARE(items(controls(w).puerto_remoto), (QStringList{u"080"_s, u"80"_s}));
    // A direct attempt leaves the proxy window alone: it is not even created.
    QVERIFY(w.proxySettingsWindow() == nullptr);
    // A failed validation records nothing.
    MessageBoxWatcher boxes;
    startDirect(QStringLiteral("z"), QStringLiteral("0"));
    QCOMPARE(boxes.texts.size(), 1);
    QCOMPARE(items(controls(w).host_remoto).first(), QStringLiteral("A"));
}

void TestConversation::fieldsHoldWhatWasTyped_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("listed");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("enter");
    QTest::newRow("host, a longer one listed")
        << QStringLiteral("host_remoto") << QStringLiteral("127.0.0.10")
        << QStringLiteral("127.0.0.1") << false;
    QTest::newRow("port, a longer one listed")
        << QStringLiteral("puerto_remoto") << QStringLiteral("8080") << QStringLiteral("80")
        << false;
    QTest::newRow("host, Enter keeps the case typed")
        << QStringLiteral("host_remoto") << QStringLiteral("localhost")
        << QStringLiteral("LOCALHOST") << true;
    QTest::newRow("proxy host, a longer one listed")
        << QStringLiteral("proxy") << QStringLiteral("proxy.example") << QStringLiteral("proxy")
        << false;
    QTest::newRow("proxy port, a longer one listed")
        << QStringLiteral("puerto") << QStringLiteral("3128") << QStringLiteral("31") << true;
}

void TestConversation::fieldsHoldWhatWasTyped()
{
    QFETCH(QString, field);
    QFETCH(QString, listed);
    QFETCH(QString, typed);
    QFETCH(bool, enter);
    tcp_client &w = *m_window;
    const bool proxyWindow = field == QLatin1String("proxy") || field == QLatin1String("puerto");
    if (proxyWindow) {
        controls(w).proxy_settings_menu->trigger();
        QTRY_COMPARE(QApplication::activeWindow(), w.proxySettingsWindow());
    }
    QWidget *top = proxyWindow ? static_cast<QWidget *>(w.proxySettingsWindow()) : &w;
    auto *combo = top->findChild<QComboBox *>(field);
    QVERIFY(combo);
    combo->addItem(listed);
    typeInCombo(combo, typed);
    if (enter)
        QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
    QCOMPARE(combo->currentText(), typed);

    if (proxyWindow) {
        QTest::mouseClick(w.proxySettingsWindow()->OKButton, Qt::LeftButton);
        QCOMPARE(field == QLatin1String("proxy") ? w.connection().proxy_host_str
                                                 : w.connection().proxy_puerto_str,
                 typed);
        return;
    }
    if (combo == controls(w).host_remoto)
        typeInCombo(controls(w).puerto_remoto, QStringLiteral("1"));
    else
        typeInCombo(controls(w).host_remoto, QStringLiteral("127.0.0.1"));
    QTest::mouseClick(controls(w).cmdConnect, Qt::LeftButton);
    QCOMPARE(combo == controls(w).host_remoto ? ConnectionPrivate::host_str(w.connection())
                                              : ConnectionPrivate::puerto_str(w.connection()),
             typed);
    QCOMPARE(combo->itemText(0), typed);
    QTest::mouseClick(controls(w).cmdDisconnect, Qt::LeftButton);
}

void TestConversation::proxyAttemptUsesTheConfirmedTexts()
{
    tcp_client &w = *m_window;
    ScriptedProxy proxy;
    confirmProxy(QStringLiteral("127.0.0.1"), proxy.portText());
    proxy_settings *settings = w.proxySettingsWindow();
    // Edited again but not confirmed: the attempt does not use these.
    controls(w).usar_proxy->setChecked(false);
    controls(w).proxy_settings_menu->trigger();
    QVERIFY(controls(w).usar_proxy->isChecked() && settings->isVisible());
    typeInCombo(settings->proxy, QStringLiteral("edited.invalid"));
    typeInCombo(settings->puerto, QStringLiteral("1"));

    startDirect(QStringLiteral("remote.example"), QStringLiteral("0443"));
    QCOMPARE(SocketControlPrivate::RemoteHost(*controls(w).tcpClient), QStringLiteral("127.0.0.1"));
    QCOMPARE(settings->proxy->currentText(), QStringLiteral("127.0.0.1"));
    QCOMPARE(settings->puerto->currentText(), proxy.portText());
    QCOMPARE(settings->proxy->count(), 1);
    QCOMPARE(controls(w).host_remoto->itemText(0), QStringLiteral("remote.example"));
    QCOMPARE(controls(w).puerto_remoto->itemText(0), QStringLiteral("0443"));
    // The request carries the remote texts as typed.
    QTRY_COMPARE_WITH_TIMEOUT(proxy.received,
                              QByteArray("CONNECT remote.example:0443 HTTP/1.1\r\n"
                                         "Host: remote.example:0443\r\n\r\n"),
                              10000);
    QCOMPARE(controls(w).Estado->text(), status::awaitingProxyReply());
    QCOMPARE(foreColour(controls(w).Estado), QColor(0xFF, 0xFF, 0));
}

void TestConversation::receive_data()
{
    QTest::addColumn<QList<QByteArray>>("arrivals");
    QTest::addColumn<QString>("shown");
    QTest::newRow("A NUL B") << QList<QByteArray>{QByteArray("A\0B", 3)}
                             << QStringLiteral("A\\x00B");
    QTest::newRow("e acute") << QList<QByteArray>{"\xE9"} << QStringLiteral("\u00E9");
    QTest::newRow("only CR LF pairs")
        << QList<QByteArray>{"\r\n\r\n"} << QStringLiteral("\r\n\r\n");
    QTest::newRow("three arrivals in order")
        << QList<QByteArray>{"one ", QByteArray("\0", 1), "three\r\n"}
        << QStringLiteral("one \\x00three\r\n");
    QTest::newRow("every byte value") <<
        [] {
            QByteArray all;
            for (int byte = 0; byte < 256; ++byte)
                all.append(static_cast<char>(byte));
            return QList<QByteArray>{all};
        }() <<
        [] {
            QString text = QStringLiteral("\\x00");
            for (int byte = 1; byte < 256; ++byte) {
                const QByteArray one(1, static_cast<char>(byte));
                text += platform::system::codepage::ansiToString(one);
            }
            return text;
        }();
}

void TestConversation::receive()
{
    QFETCH(QList<QByteArray>, arrivals);
    QFETCH(QString, shown);
    tcp_client &w = *m_window;
    LoopbackPeer peer;
    connectDirect(peer);
    QString expected;
    for (const QByteArray &arrival : arrivals) {
        const qsizetype before = controls(w).txtRcv->length();
        peer.socket()->write(arrival);
        QTRY_VERIFY(controls(w).txtRcv->length() > before);
        QCOMPARE(controls(w).txtRcv->selectionStart(), controls(w).txtRcv->length());
        QCOMPARE(controls(w).txtRcv->selectionStart(), controls(w).txtRcv->selectionEnd());
    }
    QCOMPARE(boxText(*controls(w).txtRcv), shown);
}

void TestConversation::transcriptKeptUntilTheNextConnect()
{
    tcp_client &w = *m_window;
    LoopbackPeer peer;
    connectDirect(peer);
    peer.socket()->write("last words");
    peer.socket()->disconnectFromHost();
    QTRY_COMPARE_WITH_TIMEOUT(controls(w).Estado->text(), status::closedByPeer(), 10000);
    QCOMPARE(boxText(*controls(w).txtRcv), QStringLiteral("last words"));
    QVERIFY(hasWindowFocus(controls(w).cmdConnect));
    LoopbackPeer next;
    startDirect(QStringLiteral("127.0.0.1"), next.portText());
    QCOMPARE(boxText(*controls(w).txtRcv), QString());
}

void TestConversation::send_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<bool>("clickEnviar");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("h i Enter") << QStringLiteral("hi\r") << false << QByteArray("hi\r\n");
    QTest::newRow("Enter alone") << QStringLiteral("\r") << false << QByteArray("\r\n");
    QTest::newRow("a Backspace b Enter")
        << QStringLiteral("a\bb\r") << false << QByteArray("a\bb\r\n");
    QTest::newRow("n tilde Enter in OEM")
        << QStringLiteral("\u00F1\r") << false << QByteArray("\xA4\r\n");
    QTest::newRow("abc Enviar") << QStringLiteral("abc") << true << QByteArray("abc");
    QTest::newRow("two lines") << QStringLiteral("x\ry\r") << false << QByteArray("x\r\ny\r\n");
}

void TestConversation::send()
{
    QFETCH(QString, keys);
    QFETCH(bool, clickEnviar);
    QFETCH(QByteArray, wire);
    tcp_client &w = *m_window;
    LoopbackPeer peer;
    connectDirect(peer);
    QVERIFY(!controls(w).send_button->isEnabled());
    typeKeys(controls(w).txtSend, keys);
    if (clickEnviar) {
        QVERIFY(controls(w).send_button->isEnabled());
        controls(w).cmdDisconnect->setFocus();
        QTest::mouseClick(controls(w).send_button, Qt::LeftButton);
        QVERIFY(hasWindowFocus(controls(w).txtSend));
    }
    QTRY_COMPARE_WITH_TIMEOUT(peer.received, wire, 10000);
    QVERIFY(ConnectionPrivate::buffer_str(w.connection()).isEmpty());
    QVERIFY(!controls(w).send_button->isEnabled());
    // The next character enables the button again.
    typeKeys(controls(w).txtSend, QStringLiteral("z"));
    QVERIFY(controls(w).send_button->isEnabled());
}

void TestConversation::keysBeforeTheConnectionAreNotSent()
{
    tcp_client &w = *m_window;
    typeKeys(controls(w).txtSend, QStringLiteral("early\r"));
    QCOMPARE(sendText(*controls(w).txtSend), QStringLiteral("early\r\n"));
    QVERIFY(ConnectionPrivate::buffer_str(w.connection()).isEmpty());
    QVERIFY(!controls(w).send_button->isEnabled());
    LoopbackPeer peer;
    connectDirect(peer);
    typeKeys(controls(w).txtSend, QStringLiteral("\r"));
    QTRY_COMPARE(peer.received, QByteArray("\r\n"));
}

// Ctrl+F and Ctrl+S find and save in the receive box; typed in the send box
// they are control codes, sent with the line, and neither the find bar nor
// the save dialog shows.
void TestConversation::receiveBoxKeysSendFromTheSendBox()
{
    tcp_client &w = *m_window;
    LoopbackPeer peer;
    connectDirect(peer);
    controls(w).txtSend->setFocus();
    QTest::sendKeyEvent(QTest::Click, controls(w).txtSend, Qt::Key_F, QStringLiteral("\u0006"),
                        Qt::ControlModifier);
    QTest::sendKeyEvent(QTest::Click, controls(w).txtSend, Qt::Key_S, QStringLiteral("\u0013"),
                        Qt::ControlModifier);
    typeKeys(controls(w).txtSend, QStringLiteral("\r"));
    QTRY_COMPARE(peer.received, QByteArray("\x06\x13\r\n"));
    QVERIFY(!w.findChild<QFileDialog *>());
    QVERIFY(!controls(w).txtRcv->findChild<QLineEdit *>());
    QVERIFY(controls(w).txtSend->hasFocus());
}

void TestConversation::tunnel_data()
{
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<int>("verdictAt"); // index of the piece that completes the reply
    QTest::addColumn<bool>("accepted");
    QTest::newRow("1.1 200 in one piece")
        << QList<QByteArray>{"HTTP/1.1 200 Connection established\r\n\r\n"} << 0 << true;
    QTest::newRow("1.0 200 OK") << QList<QByteArray>{"HTTP/1.0 200 OK\r\n\r\n"} << 0 << true;
    QTest::newRow("in pieces, blank line in the last")
        << QList<QByteArray>{"HTTP/1.1 200 OK\r\n", "Via: 1.1 p\r\n", "\r\n"} << 2 << true;
    QTest::newRow("blank line split across pieces")
        << QList<QByteArray>{"HTTP/1.1 200 OK\r\n\r", "\nhello"} << 1 << true;
    QTest::newRow("data after the blank line")
        << QList<QByteArray>{"HTTP/1.1 200 OK\r\n\r\nSSH-2.0-server\r\n"} << 0 << true;
    QTest::newRow("NUL in the reply")
        << QList<QByteArray>{QByteArray("HTTP/1.1 200 O").append('\0').append("K\r\n\r\n")} << 0
        << true;
    QTest::newRow("407 with body")
        << QList<QByteArray>{"HTTP/1.1 407 Proxy Authentication Required\r\n"
                             "Proxy-Authenticate: Basic realm=\"p\"\r\nContent-Length: 4\r\n\r\n"
                             "deny"}
        << 0 << false;
    QTest::newRow("403") << QList<QByteArray>{"HTTP/1.1 403 Forbidden\r\n\r\n"} << 0 << false;
    QTest::newRow("no reason phrase") << QList<QByteArray>{"HTTP/1.1 200\r\n\r\n"} << 0 << false;
    QTest::newRow("two spaces") << QList<QByteArray>{"HTTP/1.1  200 OK\r\n\r\n"} << 0 << false;
    QTest::newRow("no space at all") << QList<QByteArray>{"HTTP/1.1\r\n\r\n"} << 0 << false;
}

void TestConversation::tunnel()
{
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(int, verdictAt);
    QFETCH(bool, accepted);
    tcp_client &w = *m_window;
    ScriptedProxy proxy;
    confirmProxy(QStringLiteral("127.0.0.1"), QStringLiteral("0") + proxy.portText());
    startDirect(QStringLiteral("192.0.2.10"), QStringLiteral("443"));
    QCOMPARE(controls(w).Estado->text(), status::connectingViaProxy());
    const QByteArray request("CONNECT 192.0.2.10:443 HTTP/1.1\r\nHost: 192.0.2.10:443\r\n\r\n");
    QCOMPARE(request.size(), 57);
    QTRY_COMPARE_WITH_TIMEOUT(proxy.received, request, 10000);
    QCOMPARE(controls(w).Estado->text(), status::awaitingProxyReply());

    QByteArray sent;
    for (int i = 0; i < pieces.size(); ++i) {
        sent += pieces[i];
        const QString expectedText = translated(sent, platform::system::codepage::ansiTable());
        proxy.send(pieces[i]);
        QTRY_COMPARE_WITH_TIMEOUT(boxText(*controls(w).txtRcv), expectedText, 10000);
        if (i < verdictAt) {
            QCOMPARE(controls(w).Estado->text(), status::awaitingProxyReply());
            QVERIFY(!ConnectionPrivate::tunel_listo(w.connection()));
        }
    }
    if (accepted) {
        QCOMPARE(controls(w).Estado->text(), status::connected());
        QCOMPARE(foreColour(controls(w).Estado), QColor(0, 0xFF, 0));
        QVERIFY(ConnectionPrivate::tunel_listo(w.connection()));
        QVERIFY(hasWindowFocus(controls(w).txtSend));
        // From now on everything is the remote end's and is only shown.
        proxy.send("HTTP/1.1 500 not a reply any more\r\n\r\n");
        QTRY_VERIFY(boxText(*controls(w).txtRcv).endsWith(QStringLiteral("any more\r\n\r\n")));
        QCOMPARE(controls(w).Estado->text(), status::connected());
    } else {
        QCOMPARE(controls(w).Estado->text(), status::proxyRefused());
        QCOMPARE(foreColour(controls(w).Estado),
                 platform::system::colourFromWord(platform::system::kWindowBackgroundColour));
        QVERIFY(controls(w).cmdConnect->isEnabled());
        QCOMPARE(controls(w).tcpClient->State(), int(SocketControl::StateClosed));
    }
}

void TestConversation::tunnelEndsWithoutAVerdict_data()
{
    QTest::addColumn<QByteArray>("partial");
    QTest::addColumn<bool>("proxyCloses"); // otherwise the user presses "Desconectar"
    QTest::newRow("proxy closes mid-reply") << QByteArray("HTTP/1.1 200 OK\r\n") << true;
    QTest::newRow("proxy never finishes") << QByteArray("HTTP/1.1 200 OK\r\nVia: x\r\n") << false;
}

void TestConversation::tunnelEndsWithoutAVerdict()
{
    QFETCH(QByteArray, partial);
    QFETCH(bool, proxyCloses);
    tcp_client &w = *m_window;
    ScriptedProxy proxy;
    confirmProxy(QStringLiteral("127.0.0.1"), proxy.portText());
    startDirect(QStringLiteral("remote"), QStringLiteral("22"));
    QTRY_COMPARE_WITH_TIMEOUT(controls(w).Estado->text(), status::awaitingProxyReply(), 10000);
    proxy.send(partial);
    QTRY_COMPARE(controls(w).txtRcv->length(), partial.size());
    QCOMPARE(controls(w).Estado->text(), status::awaitingProxyReply());
    if (proxyCloses) {
        proxy.socket()->disconnectFromHost();
        QTRY_COMPARE_WITH_TIMEOUT(controls(w).Estado->text(), status::closedByPeer(), 10000);
    } else {
        QTest::mouseClick(controls(w).cmdDisconnect, Qt::LeftButton);
        QCOMPARE(controls(w).Estado->text(), status::disconnected());
    }
    QCOMPARE(boxText(*controls(w).txtRcv), QString::fromLatin1(partial));
    QVERIFY(controls(w).cmdConnect->isEnabled());
}

void TestConversation::typingWhileTheProxyAnswers()
{
    tcp_client &w = *m_window;
    ScriptedProxy proxy;
    confirmProxy(QStringLiteral("127.0.0.1"), proxy.portText());
    startDirect(QStringLiteral("remote"), QStringLiteral("22"));
    QTRY_COMPARE_WITH_TIMEOUT(controls(w).Estado->text(), status::awaitingProxyReply(), 10000);
    // The request reaches the proxy a moment after the status line says it went.
    QTRY_VERIFY(proxy.received.endsWith("\r\n\r\n"));
    const qsizetype requestSize = proxy.received.size();
    // The send box is still read-only, but the socket counts as connected.
    typeKeys(controls(w).txtSend, QStringLiteral("x\r"));
    QTRY_COMPARE(proxy.received.mid(requestSize), QByteArray("x\r\n"));
    typeKeys(controls(w).txtSend, QStringLiteral("y"));
    QVERIFY(controls(w).send_button->isEnabled());
    QCOMPARE(ConnectionPrivate::buffer_str(w.connection()), QStringLiteral("y"));

    proxy.send("HTTP/1.1 200 OK\r\n\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(controls(w).Estado->text(), status::connected(), 10000);
    // The connected sequence drops the buffer but leaves the button enabled.
    QVERIFY(ConnectionPrivate::buffer_str(w.connection()).isEmpty());
    QVERIFY(controls(w).send_button->isEnabled());
    controls(w).cmdDisconnect->setFocus();
    QTest::mouseClick(controls(w).send_button, Qt::LeftButton);
    QVERIFY(!controls(w).send_button->isEnabled());
    QVERIFY(hasWindowFocus(controls(w).txtSend));
    typeKeys(controls(w).txtSend, QStringLiteral("!\r"));
    QTRY_COMPARE(proxy.received.mid(requestSize), QByteArray("x\r\n!\r\n"));
}

void TestConversation::sessionThroughTinyproxy()
{
#ifdef _WIN32
    QSKIP("tinyproxy is a program of Debian's: built for Windows, the tunnel through it is "
          "tested end to end, brisol.exe under wine (scripts/test-windows)");
#endif
    TinyProxy tinyproxy;
    if (!tinyproxy.start())
        QFAIL(qPrintable(QStringLiteral("tinyproxy: ") + tinyproxy.error()));
    EchoServer echo;
    tcp_client &w = *m_window;
    confirmProxy(QStringLiteral("127.0.0.1"), tinyproxy.portText());
    startDirect(QStringLiteral("127.0.0.1"), echo.portText());
    QTRY_COMPARE_WITH_TIMEOUT(controls(w).Estado->text(), status::connected(), 20000);
    QVERIFY(boxText(*controls(w).txtRcv).startsWith(QStringLiteral("HTTP/1.")));
    QVERIFY(boxText(*controls(w).txtRcv).contains(QStringLiteral(" 200 ")));
    const qsizetype replySize = controls(w).txtRcv->length();
    typeKeys(controls(w).txtSend, QStringLiteral("hola\r\u00F1\r"));
    QTRY_COMPARE_WITH_TIMEOUT(boxText(*controls(w).txtRcv).mid(replySize),
                              QStringLiteral("hola\r\n") +
                                  platform::system::codepage::ansiToString("\xA4") +
                                  QStringLiteral("\r\n"),
                              10000);
    QTest::mouseClick(controls(w).cmdDisconnect, Qt::LeftButton);
    QCOMPARE(controls(w).Estado->text(), status::disconnected());
}

QTEST_MAIN(TestConversation)
#include "tst_conversation.moc"
