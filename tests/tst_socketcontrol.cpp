// The socket control against real loopback servers: its events, their order,
// and the promise that none arrives inside a call or after Close.

#include "PeerReset.h"
#include "system/SocketControl_p.h"
#include "system/SocketIo.h"
#include "system/Translations.h"

#include <QHostAddress>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#ifdef _WIN32
#include <winsock2.h>
#endif

#include <cerrno>
#include <clocale>
#include <cstring>

namespace {

// Records every event of one control as text, and fails the test when an
// event arrives while a call into the control is on the stack.
class Recorder final : public QObject
{
    Q_OBJECT

public:
    explicit Recorder(SocketControl &control) : m_control(control)
    {
        connect(&control, &SocketControl::connected, this,
                [this] { record(QStringLiteral("connect")); });
        connect(&control, &SocketControl::dataArrival, this, [this](std::int32_t bytesTotal) {
            record(QStringLiteral("data"));
            const QByteArray data = m_control.GetData();
            if (data.size() != bytesTotal)
                mismatches.append(
                    QStringLiteral("announced %1, got %2").arg(bytesTotal).arg(data.size()));
            received += data;
        });
        connect(&control, &SocketControl::closed, this, [this] {
            record(QStringLiteral("close"));
            if (closeInsideEnd)
                call([this] { m_control.Close(); });
        });
        connect(&control, &SocketControl::error, this, [this](int, const QString &description) {
            record(QStringLiteral("error"));
            lastDescription = description;
            if (closeInsideEnd)
                call([this] { m_control.Close(); });
        });
    }

    template <typename Call> void call(Call &&body)
    {
        ++m_depth;
        body();
        --m_depth;
    }

    QStringList events;
    QStringList mismatches;
    QStringList insideCall;
    QByteArray received;
    QString lastDescription;
    bool closeInsideEnd = false;

Q_SIGNALS:
    void recorded();

private:
    void record(const QString &event)
    {
        if (m_depth > 0)
            insideCall.append(event);
        // Data events coalesce; the sequence is what matters.
        if (!(event == QLatin1String("data") && !events.isEmpty() && events.last() == event))
            events.append(event);
        Q_EMIT recorded();
    }

    SocketControl &m_control;
    int m_depth = 0;
};

// A port on which nothing listens, bound and never listening for as long as
// the test runs, so that no server and no connection's own end is given it.
quint16 closedPort()
{
    static QTcpSocket *const reserved = [] {
        auto *socket = new QTcpSocket(QCoreApplication::instance());
        socket->bind(QHostAddress::LocalHost, 0, QAbstractSocket::DontShareAddress);
        return socket;
    }();
    return reserved->localPort();
}

} // namespace

class TestSocketControl : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void connectsAndReportsConnected_data();
    void connectsAndReportsConnected();
    void failedAttempts_data();
    void failedAttempts();
    void peerSendsThenCloses_data();
    void peerSendsThenCloses();
    void peerEndsInAnError_data();
    void peerEndsInAnError();
    void closeBeforeConnectEvent();
    void closeInsideTheEndEvent_data();
    void closeInsideTheEndEvent();
    void closeOnAClosedControlRaisesNothing();
    void sendData_data();
    void sendData();
    void descriptionsInSpanish();
    void endingErrorsInSpanishInAnyLocale_data();
    void endingErrorsInSpanishInAnyLocale();

private:
    // Lets a second connection to the server run its whole course, so that
    // anything queued for earlier connections has had its turn.
    void flushEvents();
    QTcpSocket *acceptOne();

    std::unique_ptr<QTcpServer> m_server;
};

void TestSocketControl::init()
{
    m_server = std::make_unique<QTcpServer>();
    QVERIFY(m_server->listen(QHostAddress::LocalHost));
}

void TestSocketControl::cleanup()
{
    m_server.reset();
}

QTcpSocket *TestSocketControl::acceptOne()
{
    if (!m_server->hasPendingConnections() && !m_server->waitForNewConnection(10000))
        return nullptr;
    return m_server->nextPendingConnection();
}

void TestSocketControl::flushEvents()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    SocketControl other;
    QSignalSpy connected(&other, &SocketControl::connected);
    other.setRemoteHost(QStringLiteral("127.0.0.1"));
    other.setRemotePort(server.serverPort());
    other.Connect();
    QVERIFY(connected.wait(10000));
    QSignalSpy data(&other, &SocketControl::dataArrival);
    QVERIFY(server.hasPendingConnections() || server.waitForNewConnection(10000));
    QTcpSocket *peer = server.nextPendingConnection();
    QVERIFY(peer);
    peer->write("x");
    QVERIFY(data.wait(10000));
    other.Close();
}

void TestSocketControl::connectsAndReportsConnected_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("ipv6");
    QTest::newRow("IPv4 address") << QStringLiteral("127.0.0.1") << false;
    QTest::newRow("IPv6 address") << QStringLiteral("::1") << true;
    QTest::newRow("IPv6 address in brackets, as in a URL") << QStringLiteral("[::1]") << true;
}

void TestSocketControl::connectsAndReportsConnected()
{
    QFETCH(QString, host);
    QFETCH(bool, ipv6);
    if (ipv6) {
        m_server = std::make_unique<QTcpServer>();
        if (!m_server->listen(QHostAddress::LocalHostIPv6))
            QSKIP("no IPv6 loopback on this machine");
    }
    SocketControl control;
    Recorder recorder(control);
    QSignalSpy recorded(&recorder, &Recorder::recorded);
    control.setRemoteHost(host);
    control.setRemotePort(m_server->serverPort());
    recorder.call([&] { control.Connect(); });
    QCOMPARE(control.State(), int(SocketControl::StateConnecting));
    QVERIFY(recorded.wait(10000));
    QCOMPARE(recorder.events, QStringList{QStringLiteral("connect")});
    QCOMPARE(control.State(), int(SocketControl::StateConnected));
    QCOMPARE(SocketControlPrivate::RemoteHost(control), host);
    QVERIFY(acceptOne());
    QVERIFY(recorder.insideCall.isEmpty());
}

void TestSocketControl::failedAttempts_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port"); // 0: a closed loopback port
    QTest::newRow("refused") << QStringLiteral("127.0.0.1") << 0;
    // A name with an empty label is refused before any resolver is asked:
    // the name-not-found path without a query leaving the machine.
    QTest::newRow("name not found") << QStringLiteral("no-such-host..invalid") << 80;
    QTest::newRow("blank host") << QStringLiteral("   ") << 80;
}

void TestSocketControl::failedAttempts()
{
    QFETCH(QString, host);
    QFETCH(int, port);
    SocketControl control;
    Recorder recorder(control);
    QSignalSpy recorded(&recorder, &Recorder::recorded);
    control.setRemoteHost(host);
    control.setRemotePort(port ? port : closedPort());
    recorder.call([&] { control.Connect(); });
    QVERIFY(recorded.wait(30000));
    QCOMPARE(recorder.events, QStringList{QStringLiteral("error")});
    QVERIFY2(recorder.lastDescription.size() > 3, qPrintable(recorder.lastDescription));
    QCOMPARE(control.State(), int(SocketControl::StateError));
    QVERIFY(recorder.insideCall.isEmpty());
}

void TestSocketControl::peerSendsThenCloses_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("one byte") << 1;
    QTest::newRow("64 KiB") << 64 * 1024;
    QTest::newRow("1 MiB") << 1024 * 1024;
}

void TestSocketControl::peerSendsThenCloses()
{
    QFETCH(int, size);
    QByteArray payload(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        payload[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);

    SocketControl control;
    Recorder recorder(control);
    QSignalSpy recorded(&recorder, &Recorder::recorded);
    control.setRemoteHost(QStringLiteral("127.0.0.1"));
    control.setRemotePort(m_server->serverPort());
    control.Connect();
    QTcpSocket *peer = acceptOne();
    QVERIFY(peer);
    peer->write(payload);
    peer->disconnectFromHost(); // sends what is buffered, then closes
    QTRY_VERIFY_WITH_TIMEOUT(recorder.events.contains(QStringLiteral("close")), 20000);
    QCOMPARE(recorder.received.size(), payload.size());
    QVERIFY(recorder.received == payload);
    QCOMPARE(recorder.events.last(), QStringLiteral("close"));
    QVERIFY(!recorder.events.contains(QStringLiteral("error")));
    QVERIFY2(recorder.mismatches.isEmpty(), qPrintable(recorder.mismatches.join(u'\n')));
    QCOMPARE(control.State(), int(SocketControl::StateClosing));
}

void TestSocketControl::peerEndsInAnError_data()
{
    QTest::addColumn<bool>("underASend");
    QTest::newRow("the peer resets") << false;
    QTest::newRow("the peer is gone under a send") << true; // closes in order, unseen by the sends
}

void TestSocketControl::peerEndsInAnError()
{
    QFETCH(bool, underASend);
    SocketControl control;
    Recorder recorder(control);
    control.setRemoteHost(QStringLiteral("127.0.0.1"));
    control.setRemotePort(m_server->serverPort());
    control.Connect();
    QTcpSocket *peer = acceptOne();
    QVERIFY(peer);
    QTRY_COMPARE_WITH_TIMEOUT(recorder.events, QStringList{QStringLiteral("connect")}, 10000);
    QVERIFY(setResetOnClose(*peer, !underASend));
    peer->abort();
    for (int i = 0; underASend && i < 64; ++i)
        control.SendData(u"x");
    if (!underASend && resetsArriveAsCloses()) {
        // Wine tells of the reset as a reset or as an orderly close, by when it comes.
        QTRY_COMPARE_WITH_TIMEOUT(recorder.events.size(), 2, 10000);
        QVERIFY2(recorder.events.last() == QStringLiteral("close") ||
                     recorder.events.last() == QStringLiteral("error"),
                 qPrintable(recorder.events.join(u' ')));
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(
        recorder.events, (QStringList{QStringLiteral("connect"), QStringLiteral("error")}), 10000);
    const QString told = recorder.lastDescription;
    QVERIFY2(told == QStringLiteral("Conexión restablecida por el equipo remoto") ||
                 (underASend && told == QStringLiteral("El equipo remoto ha cerrado la conexión")),
             qPrintable(told));
    QCOMPARE(control.State(), int(SocketControl::StateError));
}

void TestSocketControl::closeBeforeConnectEvent()
{
    SocketControl control;
    Recorder recorder(control);
    control.setRemoteHost(QStringLiteral("127.0.0.1"));
    control.setRemotePort(m_server->serverPort());
    recorder.call([&] {
        control.Connect();
        control.Close();
    });
    QCOMPARE(control.State(), int(SocketControl::StateClosed));
    flushEvents();
    QVERIFY2(recorder.events.isEmpty(), qPrintable(recorder.events.join(u',')));
}

void TestSocketControl::closeInsideTheEndEvent_data()
{
    QTest::addColumn<bool>("peerCloses"); // otherwise the attempt is refused
    QTest::newRow("inside Close") << true;
    QTest::newRow("inside Error") << false;
}

void TestSocketControl::closeInsideTheEndEvent()
{
    QFETCH(bool, peerCloses);
    SocketControl control;
    Recorder recorder(control);
    recorder.closeInsideEnd = true;
    QSignalSpy recorded(&recorder, &Recorder::recorded);
    control.setRemoteHost(QStringLiteral("127.0.0.1"));
    control.setRemotePort(peerCloses ? m_server->serverPort() : closedPort());
    control.Connect();
    if (peerCloses) {
        QTcpSocket *peer = acceptOne();
        QVERIFY(peer);
        peer->write("bye");
        peer->disconnectFromHost();
    }
    const QString end = peerCloses ? QStringLiteral("close") : QStringLiteral("error");
    QTRY_VERIFY_WITH_TIMEOUT(recorder.events.contains(end), 20000);
    const QStringList atEnd = recorder.events;
    QCOMPARE(control.State(), int(SocketControl::StateClosed));
    flushEvents();
    QCOMPARE(recorder.events, atEnd);
    QVERIFY(recorder.insideCall.isEmpty());
}

void TestSocketControl::closeOnAClosedControlRaisesNothing()
{
    SocketControl control;
    Recorder recorder(control);
    recorder.call([&] {
        control.Close();
        control.Close();
        control.SendData(u"ignored");
    });
    QCOMPARE(control.State(), int(SocketControl::StateClosed));
    QVERIFY(control.GetData().isEmpty());
    flushEvents();
    QVERIFY(recorder.events.isEmpty());
}

void TestSocketControl::sendData_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("ASCII line") << QStringLiteral("hi\r\n") << QByteArray("hi\r\n");
    QTest::newRow("e acute is one byte") << QStringLiteral("\u00E9") << QByteArray("\xE9");
    QTest::newRow("euro is 0x80") << QStringLiteral("\u20AC") << QByteArray("\x80");
    QString latin1;
    QByteArray latin1Bytes;
    for (int code = 0xA0; code <= 0xFF; ++code) {
        latin1.append(QChar(static_cast<char16_t>(code)));
        latin1Bytes.append(static_cast<char>(code));
    }
    QTest::newRow("A0 to FF one byte each") << latin1 << latin1Bytes;
    QTest::newRow("C1 controls of the undefined bytes")
        << QStringLiteral("\u0081\u008D\u008F\u0090\u009D") << QByteArray("\x81\x8D\x8F\x90\x9D");
    QTest::newRow("no ANSI byte") << QStringLiteral("\u4E2D") << QByteArray("?");
    QTest::newRow("empty sends nothing") << QString() << QByteArray();
}

void TestSocketControl::sendData()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    SocketControl control;
    Recorder recorder(control);
    QSignalSpy connected(&control, &SocketControl::connected);
    control.setRemoteHost(QStringLiteral("127.0.0.1"));
    control.setRemotePort(m_server->serverPort());
    control.Connect();
    QVERIFY(connected.wait(10000));
    QTcpSocket *peer = acceptOne();
    QVERIFY(peer);
    recorder.call([&] {
        control.SendData(text);
        control.SendData(u"|end");
    });
    const QByteArray expected = bytes + "|end";
    QByteArray got;
    QTRY_VERIFY_WITH_TIMEOUT((got += peer->readAll()).size() >= expected.size(), 10000);
    QCOMPARE(got, expected);
    QVERIFY(recorder.insideCall.isEmpty());
}

void TestSocketControl::descriptionsInSpanish()
{
    SocketControl control;
    Recorder recorder(control);
    control.setRemoteHost(QStringLiteral("127.0.0.1"));
    control.setRemotePort(closedPort());
    control.Connect();
    QTRY_VERIFY_WITH_TIMEOUT(recorder.events.contains(QStringLiteral("error")), 10000);
    const QString english = recorder.lastDescription;

    QVERIFY(platform::system::installSpanishQtTranslations(*QCoreApplication::instance()));
    recorder.events.clear();
    control.Close();
    control.setRemotePort(closedPort());
    control.Connect();
    QTRY_VERIFY_WITH_TIMEOUT(recorder.events.contains(QStringLiteral("error")), 10000);
    QVERIFY2(recorder.lastDescription != english, qPrintable(recorder.lastDescription));
    QVERIFY2(recorder.lastDescription.contains(QStringLiteral("rechaz"), Qt::CaseInsensitive),
             qPrintable(recorder.lastDescription));
}

void TestSocketControl::endingErrorsInSpanishInAnyLocale_data()
{
    QTest::addColumn<QByteArray>("locale");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("description");
    struct Ending
    {
        const char *name;
        int error;
        const char16_t *text;
    };
    // The system's own numbers: errno values, or Winsock's under Windows,
    // whose messages are in the language of the installed Windows.
    // clang-format off
#ifdef _WIN32
#define BRISOL_ERROR(name) #name, name
    const Ending errors[] = {
        {BRISOL_ERROR(WSAECONNRESET), u"Conexión restablecida por el equipo remoto"},
        {BRISOL_ERROR(WSAETIMEDOUT), u"Conexión expirada"},
        {BRISOL_ERROR(WSAEDISCON), u"El equipo remoto ha cerrado la conexión"},
        {BRISOL_ERROR(WSAECONNABORTED), u"Conexión anulada"},
        {BRISOL_ERROR(WSAEHOSTUNREACH), u"Equipo inaccesible"},
        {BRISOL_ERROR(WSAEHOSTDOWN), u"Equipo inaccesible"},
        {BRISOL_ERROR(WSAENETUNREACH), u"Red inalcanzable"}, {BRISOL_ERROR(WSAENETDOWN), u"Red no disponible"},
        {BRISOL_ERROR(WSAENETRESET), u"La red cerró la conexión al resetear"},
        {BRISOL_ERROR(WSAESHUTDOWN), u"Conexión cerrada"},
        {BRISOL_ERROR(WSAENOTCONN), u"El socket no está conectado"}};
#else
#define BRISOL_ERROR(name) strerrorname_np(name), name
    const Ending errors[] = {
        {BRISOL_ERROR(ECONNRESET), u"Conexión restablecida por el equipo remoto"},
        {BRISOL_ERROR(ETIMEDOUT), u"Conexión expirada"},
        {BRISOL_ERROR(EPIPE), u"El equipo remoto ha cerrado la conexión"},
        {BRISOL_ERROR(ECONNABORTED), u"Conexión anulada"}, {BRISOL_ERROR(EHOSTUNREACH), u"Equipo inaccesible"},
        {BRISOL_ERROR(ENETUNREACH), u"Red inalcanzable"}, {BRISOL_ERROR(ENETDOWN), u"Red no disponible"},
        {BRISOL_ERROR(ENETRESET), u"La red cerró la conexión al resetear"}};
#endif
#undef BRISOL_ERROR
    // clang-format on
    for (const char *locale : {"C", "en_US.UTF-8", "es_ES.UTF-8"})
        for (const Ending &ending : errors)
            QTest::addRow("%s in %s", ending.name, locale)
                << QByteArray(locale) << ending.error << QString::fromUtf16(ending.text);
}

void TestSocketControl::endingErrorsInSpanishInAnyLocale()
{
    QFETCH(QByteArray, locale);
    QFETCH(int, error);
    QFETCH(QString, description);
    const QByteArray before = std::setlocale(LC_ALL, nullptr);
    // A locale that is not there would leave the one in force, and the row
    // would prove nothing; scripts/setup test makes the ones named here.
    // Windows words its messages in the language of its installation,
    // whatever the C library's locale.
    const bool installed = std::setlocale(LC_ALL, locale.constData()) != nullptr;
    const QString got = platform::system::socketio::describe(error);
    std::setlocale(LC_ALL, before.constData());
#ifndef _WIN32
    QVERIFY2(installed, locale.constData());
#else
    Q_UNUSED(installed)
#endif
    QCOMPARE(got, description);
}

QTEST_GUILESS_MAIN(TestSocketControl)
#include "tst_socketcontrol.moc"
