// The connection's state machine against a model of it. The model below is a
// plain description of the states a connection goes through and what each
// fixes in the window; the driver plays random sessions of user actions and
// peer events on the real main window, its real socket control and real
// loopback peers, and after every step compares the window with the model.
// A disagreement prints the seed and the shortest sequence of steps, shrunk
// by dropping steps, that still disagrees.
//
//   BRISOL_MODEL_SEED=N    first seed (default 1)
//   BRISOL_MODEL_SESSIONS=N    how many sessions (default 2000)

#include "NetworkFixtures.h"
#include "PeerReset.h"
#include "ReceiveBoxProbe.h"
#include "WindowTestSupport.h"
#include "connection/Connection_p.h"
#include "windows/tcp_client_p.h"

#include "connection/StatusRows.h"
#include "sendbox/SendBox.h"
#include "system/ProcessExit_p.h"
#include "system/SystemColour.h"
#include "windows/tcp_client.h"

#include <QHash>
#include <QRandomGenerator>
#include <QSignalBlocker>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

void ignoreExit(int) {}

// A loopback server that keeps each connection's bytes apart, by the
// client's port: the model knows what the window's own connection must have
// received, whatever became of the attempts before it.
class Peer final : public QObject
{
public:
    Peer()
    {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                // A port the system gives again starts a new record.
                m_sockets.insert(socket->peerPort(), socket);
                m_received.remove(socket->peerPort());
                connect(socket, &QTcpSocket::readyRead, this,
                        [this, socket] { m_received[socket->peerPort()] += socket->readAll(); });
            }
        });
    }
    QString portText() const { return QString::number(m_server.serverPort()); }
    QTcpSocket *socket(quint16 clientPort) const { return m_sockets.value(clientPort); }
    QByteArray received(quint16 clientPort) const { return m_received.value(clientPort); }

private:
    QTcpServer m_server;
    QHash<quint16, QPointer<QTcpSocket>> m_sockets;
    QHash<quint16, QByteArray> m_received;
};

// The window's end of its connection, while it has one.
quint16 clientPort(const tcp_client &window)
{
    for (const QTcpSocket *socket : controls(window).tcpClient->findChildren<QTcpSocket *>())
        if (socket->state() == QAbstractSocket::ConnectedState)
            return socket->localPort();
    return 0;
}

// Waits until the predicate holds, looking again after every event the
// loop delivers and not in between: no polling interval, no sleep. Five
// seconds without it holding is a failure.
template <typename Predicate> bool settle(Predicate holds)
{
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.start(5000);
    while (!holds()) {
        if (!deadline.isActive())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

enum class Step {
    ConnectDirect,  // type host and port, "Usar Proxy" clear, Conectar
    ConnectRefused, // the same to a port where nothing listens
    ConnectProxy,   // "Usar Proxy" ticked, Conectar
    Disconnect,
    Type,
    Enter,
    Send,
    PeerSends,
    PeerCloses,
    PeerResets,
    ProxyAccepts, // 200
    ProxyRefuses, // 403
    ProxyFirstPiece,
    ProxyLastPiece,
    Count
};

// clang-format off
const char *const kStepNames[] = {
    "Conectar (directo)", "Conectar (puerto cerrado)", "Conectar (proxy)", "Desconectar",
    "tecla x", "Enter", "Enviar", "el equipo envía", "el equipo cierra", "el equipo resetea",
    "proxy 200", "proxy 403", "proxy: primer trozo", "proxy: último trozo"};
// clang-format on

// A step either lets the window settle before the next one, or is followed
// at once, before any socket event can arrive (Desconectar right after
// Conectar, before the connection is up).
struct Action
{
    Step step;
    bool settle;
};

// The model: what the window shows in each state and how each step moves it.
struct Model
{
    enum State { Idle, Connecting, ConnectingProxy, Awaiting, Connected } state = Idle;
    enum Colour { Background, Yellow, Green } colour = Background;
    QString status;         // empty: a socket error's description, not one of the fixed texts
    bool orAnError = false; // and a socket error's description is as good
    QString focus;          // object name; empty: not fixed by anything so far
    QString buffer;         // typed since the last send
    bool sendEnabled = false;
    enum Target { None, Remote, Proxy, Closed } target = None;
    quint16 port = 0; // the window's end of the connection, once it is up
    QByteArray wire;  // what the newest connection's peer has received
    QByteArray shown; // the receive box's bytes
    bool firstPieceSent = false;
    bool returned = false; // the send box is read-only only after a return to idle

    bool socketConnected() const { return state == Awaiting || state == Connected; }
    bool canConnect() const { return state == Idle; }

    void toIdle(const QString &text)
    {
        state = Idle;
        returned = true;
        sendEnabled = false;
        focus = QStringLiteral("cmdConnect");
        colour = Background;
        status = text;
        orAnError = false;
    }
    void connectedSequence()
    {
        buffer.clear();
        state = Connected;
        focus = QStringLiteral("txtSend");
        colour = Green;
        status = status::connected();
    }
    void connectCommand(Target to)
    {
        state = to == Proxy ? ConnectingProxy : Connecting;
        target = to;
        colour = Yellow;
        status = to == Proxy ? status::connectingViaProxy() : status::connecting();
        focus = QStringLiteral("cmdDisconnect");
        shown.clear();
        wire.clear();
        port = 0;
        firstPieceSent = false;
    }
    // The socket's events that follow a Conectar by themselves.
    void settleAttempt(const QByteArray &request)
    {
        if (state == Connecting && target == Closed) {
            toIdle(QString());
        } else if (state == Connecting) {
            connectedSequence();
        } else if (state == ConnectingProxy) {
            wire = request;
            state = Awaiting;
            status = status::awaitingProxyReply();
        }
    }
    void send(const QString &text)
    {
        wire += text.toLatin1();
        buffer.clear();
    }
};

// Whether a peer's step can happen now: only where such a peer is
// connected; elsewhere the step is left out.
bool applicable(const Model &m, Step step)
{
    switch (step) {
    case Step::PeerSends:
    case Step::PeerCloses:
    case Step::PeerResets:
        return m.socketConnected();
    case Step::ProxyAccepts:
    case Step::ProxyRefuses:
    case Step::ProxyFirstPiece:
        return m.state == Model::Awaiting && !m.firstPieceSent;
    case Step::ProxyLastPiece:
        return m.state == Model::Awaiting && m.firstPieceSent;
    default:
        return true;
    }
}

} // namespace

class TestSessionModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void randomSessions();

private:
    // Plays the actions from the window's present idle state; empty when the
    // window agreed with the model after every step, else what differed.
    QString play(const QList<Action> &actions);
    QString compare(const Model &m) const;
    bool act(Model &m, Step step);

    std::unique_ptr<tcp_client> m_window;
    Peer m_remote;
    Peer m_proxy;
    QString m_closedPort;
};

void TestSessionModel::initTestCase()
{
    QLocale::setDefault(QLocale::c());
    platform::system::setExitHandler(&ignoreExit);
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost);
        m_closedPort = QString::number(probe.serverPort());
    }
}

QString TestSessionModel::compare(const Model &m) const
{
    const tcp_clientControls c = controls(*m_window);
    QStringList differ;
    auto check = [&differ](bool same, const QString &what) {
        if (!same)
            differ << what;
    };
    const QString status = c.Estado->text();
    const QStringList fixed{status::ready(),
                            status::connecting(),
                            status::connectingViaProxy(),
                            status::awaitingProxyReply(),
                            status::connected(),
                            status::disconnected(),
                            status::closedByPeer(),
                            status::proxyRefused()};
    const bool anError = !fixed.contains(status) && !status.isEmpty();
    check(m.status.isEmpty() ? anError
                             : status == m.status ||
                                   (m.orAnError && m.status == status::closedByPeer() && anError),
          QStringLiteral("estado \"%1\", el modelo \"%2\"").arg(status, m.status));
    // Idle in the window-background colour, an attempt yellow, connected green.
    const std::uint32_t words[] = {0x80000005, 0x0000FFFF, 0x0000FF00};
    check(c.Estado->palette().color(QPalette::WindowText) ==
              platform::system::colourFromWord(words[m.colour], c.Estado->palette()),
          QStringLiteral("colour"));
    const bool ready = m.state == Model::Idle;
    check(c.cmdConnect->isEnabled() == ready, QStringLiteral("Conectar enabled"));
    check(c.cmdDisconnect->isEnabled() == !ready, QStringLiteral("Desconectar enabled"));
    check(c.send_button->isEnabled() == m.sendEnabled, QStringLiteral("Enviar enabled"));
    if (m.state == Model::Connected || (m.state == Model::Idle && m.returned))
        check(c.txtSend->isReadOnly() == (m.state == Model::Idle), QStringLiteral("read-only"));
    QWidget *focused = m_window->focusWidget();
    check(m.focus.isEmpty() || (focused && focused->objectName() == m.focus),
          QStringLiteral("focus on %1, the model %2")
              .arg(focused ? focused->objectName() : QStringLiteral("nothing"), m.focus));
    check(ConnectionPrivate::buffer_str(m_window->connection()) == m.buffer,
          QStringLiteral("buffer"));
    const Peer &peer = m.target == Model::Proxy ? m_proxy : m_remote;
    if (m.port != 0)
        check(peer.received(m.port) == m.wire,
              QStringLiteral("wire \"%1\", the model \"%2\"")
                  .arg(QString::fromLatin1(peer.received(m.port)), QString::fromLatin1(m.wire)));
    else
        check(m.wire.isEmpty() || m.state == Model::Idle, QStringLiteral("no connection"));
    check(boxText(*c.txtRcv) == QString::fromLatin1(m.shown), QStringLiteral("receive box"));
    return differ.join(QStringLiteral("; "));
}

bool TestSessionModel::act(Model &m, Step step)
{
    const tcp_clientControls c = controls(*m_window);
    auto typeKey = [&c](int key, const QString &text) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
        QApplication::sendEvent(c.txtSend, &press);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
        QApplication::sendEvent(c.txtSend, &release);
    };
    Peer &peer = m.target == Model::Proxy ? m_proxy : m_remote;
    switch (step) {
    case Step::ConnectDirect:
    case Step::ConnectRefused:
    case Step::ConnectProxy: {
        const bool proxy = step == Step::ConnectProxy;
        if (m.canConnect()) {
            // The settings window that ticking the box opens is the proxy
            // window's own test; here only the box's value matters.
            const QSignalBlocker quiet(c.usar_proxy);
            c.usar_proxy->setChecked(proxy);
            c.host_remoto->setEditText(QStringLiteral("127.0.0.1"));
            c.puerto_remoto->setEditText(step == Step::ConnectRefused ? m_closedPort
                                         : proxy                      ? QStringLiteral("7")
                                                                      : m_remote.portText());
            m.connectCommand(proxy                          ? Model::Proxy
                             : step == Step::ConnectRefused ? Model::Closed
                                                            : Model::Remote);
        }
        QTest::mouseClick(c.cmdConnect, Qt::LeftButton);
        return true;
    }
    case Step::Disconnect:
        if (m.state != Model::Idle)
            m.toIdle(status::disconnected());
        QTest::mouseClick(c.cmdDisconnect, Qt::LeftButton);
        return true;
    case Step::Type:
        if (m.socketConnected()) {
            m.buffer += QLatin1Char('x');
            m.sendEnabled = true;
        }
        typeKey(Qt::Key_X, QStringLiteral("x"));
        return true;
    case Step::Enter:
        if (m.socketConnected()) {
            m.sendEnabled = false;
            m.send(m.buffer + QStringLiteral("\r\n"));
        }
        typeKey(Qt::Key_Return, QStringLiteral("\r"));
        return true;
    case Step::Send:
        if (m.sendEnabled) {
            m.sendEnabled = false;
            if (m.socketConnected()) {
                m.send(m.buffer);
                m.focus = QStringLiteral("txtSend");
            }
        }
        QTest::mouseClick(c.send_button, Qt::LeftButton);
        return true;
    default:
        break;
    }
    // The peer's side: its end of the window's connection, once it has it.
    if (!applicable(m, step))
        return true;
    if (!settle([&] { return m.port != 0 && peer.socket(m.port); }))
        return false;
    QTcpSocket *socket = peer.socket(m.port);
    QByteArray bytes;
    switch (step) {
    case Step::PeerSends:
        bytes = "dato\r\n";
        break;
    case Step::ProxyAccepts:
        bytes = "HTTP/1.1 200 Connection established\r\n\r\n";
        m.connectedSequence();
        break;
    case Step::ProxyRefuses:
        bytes = "HTTP/1.1 403 Forbidden\r\n\r\n";
        m.toIdle(status::proxyRefused());
        break;
    case Step::ProxyFirstPiece:
        bytes = "HTTP/1.0 200 OK\r\nVia: p";
        m.firstPieceSent = true;
        break;
    case Step::ProxyLastPiece:
        bytes = "\r\n\r\n";
        m.connectedSequence();
        break;
    case Step::PeerCloses:
        socket->disconnectFromHost();
        m.toIdle(status::closedByPeer());
        return true;
    case Step::PeerResets: {
        setResetOnClose(*socket, true);
        socket->abort();
    }
        // Any error's description; under wine, the orderly close's too, as
        // wine tells of a reset either way, by when it comes.
        m.toIdle(resetsArriveAsCloses() ? status::closedByPeer() : QString());
        m.orAnError = resetsArriveAsCloses();
        return true;
    default:
        return true;
    }
    m.shown += bytes;
    socket->write(bytes);
    return true;
}

QString TestSessionModel::play(const QList<Action> &actions)
{
    // Each play on a window of its own, so that a seed, and each shrunk
    // sequence, starts from the same state. The proxy strings are the ones
    // the settings window's "Aceptar" confirms.
    m_window.reset();
    m_window = std::make_unique<tcp_client>();
    m_window->connection().proxy_host_str = QStringLiteral("127.0.0.1");
    m_window->connection().proxy_puerto_str = m_proxy.portText();
    m_window->show();
    if (!QTest::qWaitForWindowActive(m_window.get()))
        return QStringLiteral("the window never became active");
    const tcp_clientControls c = controls(*m_window);
    Model m;
    m.status = c.Estado->text();
    const QByteArray request = "CONNECT 127.0.0.1:7 HTTP/1.1\r\nHost: 127.0.0.1:7\r\n\r\n";
    for (qsizetype i = 0; i < actions.size(); ++i) {
        if (!act(m, actions[i].step))
            return QStringLiteral("at step %1: the peer never saw the connection").arg(i + 1);
        // A peer's event reaches the window through the event loop at a
        // moment no one controls, so the window settles before and after
        // each; a user's action may be followed by the next user's action
        // before any socket event arrives.
        if (!actions[i].settle && actions[i].step < Step::PeerSends && i + 1 < actions.size() &&
            actions[i + 1].step < Step::PeerSends)
            continue;
        m.settleAttempt(request);
        if (m.socketConnected() && m.port == 0 &&
            !settle([&] { return (m.port = clientPort(*m_window)) != 0; }))
            return QStringLiteral("after step %1: no connection").arg(i + 1);
        // Every step has an effect the window shows or the peer receives;
        // the window has settled once all of it is there.
        if (!settle([&] { return compare(m).isEmpty(); }))
            return QStringLiteral("after step %1: %2").arg(i + 1).arg(compare(m));
    }
    return {};
}

void TestSessionModel::randomSessions()
{
    const quint32 firstSeed = qEnvironmentVariableIsSet("BRISOL_MODEL_SEED")
                                  ? quint32(qEnvironmentVariableIntValue("BRISOL_MODEL_SEED"))
                                  : 1;
    const int sessions = qEnvironmentVariableIsSet("BRISOL_MODEL_SESSIONS")
                             ? qEnvironmentVariableIntValue("BRISOL_MODEL_SESSIONS")
                             : 2000;
    for (int n = 0; n < sessions; ++n) {
        const quint32 seed = firstSeed + quint32(n);
        QRandomGenerator random(seed);
        // The steps are drawn from the seed alone, whatever the window did,
        // so a seed gives the same session on every run; a peer's step that
        // does not apply in the state reached is left out when played.
        QList<Action> actions;
        const int length = 1 + int(random.bounded(12));
        for (int i = 0; i < length; ++i)
            actions.append(
                {static_cast<Step>(random.bounded(int(Step::Count))), random.bounded(3) != 0});
        const QString failure = play(actions);
        if (failure.isEmpty())
            continue;
        // Shrink: drop any step whose loss still leaves a disagreement.
        QList<Action> shortest = actions;
        for (qsizetype i = shortest.size() - 1; i >= 0; --i) {
            QList<Action> fewer = shortest;
            fewer.removeAt(i);
            if (!fewer.isEmpty() && !play(fewer).isEmpty())
                shortest = fewer;
        }
        QStringList steps;
        for (const Action &action : shortest)
            steps << QString::fromUtf8(kStepNames[int(action.step)]) +
                         (action.settle ? QString() : QStringLiteral(" (sin esperar)"));
        QFAIL(qPrintable(QStringLiteral("seed %1: %2\n  shortest: %3\n  there: %4")
                             .arg(seed)
                             .arg(failure, steps.join(QStringLiteral(" -> ")), play(shortest))));
    }
}

QTEST_MAIN(TestSessionModel)
#include "tst_sessionmodel.moc"
