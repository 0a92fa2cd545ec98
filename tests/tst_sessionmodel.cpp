// The connection's state machine against a model of it: a plain description
// of the states and of what each fixes in the window, played against the real
// main window, its real socket control and real loopback peers over random
// sessions of user actions and peer events. A disagreement prints the seed
// and the shortest sequence, shrunk by dropping steps, that still disagrees.
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

#include <QMetaEnum>
#include <QRandomGenerator>
#include <QSignalBlocker>
#include <QTest>
#include <QTimer>

#include <memory>

namespace model {
Q_NAMESPACE

// The user's steps first, then the peer's, which are left out where no such
// peer is connected in the state reached.
// clang-format off
enum class Step { ConnectDirect, ConnectRefused, ConnectProxy, Disconnect, Type, Enter, Send,
                  PeerSends, PeerCloses, PeerResets, EnterAsPeerCloses,
                  ProxyAccepts, ProxyRefuses, ProxyFirstPiece, ProxyLastPiece, Count };
// clang-format on
Q_ENUM_NS(Step)

} // namespace model

namespace {

using model::Step;

void ignoreExit(int) {}

// Waits until the predicate holds, looking again after every event the loop
// delivers: no polling interval, no sleep. Five seconds is a failure.
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

// A user's step is either let settle, or followed at once by the next user's
// step, before any socket event can arrive (Desconectar right after Conectar).
struct Action
{
    Step step;
    bool settle;
};

// The model: what the window shows in each state and how each step moves it.
struct Model
{
    enum State { Idle, Connecting, ConnectingProxy, Awaiting, Connected } state = Idle;
    enum Target { Remote, Closed, Proxy } target = Remote;
    QString status;         // empty: a socket error's description, not a fixed text
    bool orAnError = false; // and a socket error's description is as good
    QString focus;          // object name; empty: not fixed by anything so far
    QString buffer;         // typed since the last send
    bool sendEnabled = false;
    bool returned = false; // the send box is read-only only after a return to idle
    bool firstPieceSent = false;
    QByteArray wire, shown; // what the newest connection's peer received; the box's bytes

    bool socketUp() const { return state == Awaiting || state == Connected; }
    // Idle in the window-background colour, connected green, between yellow.
    int colour() const { return state == Idle ? 0 : state == Connected ? 2 : 1; }

    void toIdle(const QString &text, bool orError = false)
    {
        state = Idle;
        returned = true;
        sendEnabled = false;
        focus = QStringLiteral("cmdConnect");
        status = text;
        orAnError = orError;
    }
    void connected()
    {
        buffer.clear();
        state = Connected;
        focus = QStringLiteral("txtSend");
        status = status::connected();
    }
    void connectTo(Target to)
    {
        state = to == Proxy ? ConnectingProxy : Connecting;
        target = to;
        status = to == Proxy ? status::connectingViaProxy() : status::connecting();
        focus = QStringLiteral("cmdDisconnect");
        shown.clear();
        wire.clear();
        firstPieceSent = false;
    }
    // The socket's events that follow a Conectar by themselves.
    void settleAttempt(const QByteArray &request)
    {
        if (state == Connecting)
            target == Closed ? toIdle(QString()) : connected();
        else if (state == ConnectingProxy)
            state = Awaiting, wire = request, status = status::awaitingProxyReply();
    }
    void send(const QString &text)
    {
        wire += text.toLatin1();
        buffer.clear();
    }
};

} // namespace

class TestSessionModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void randomSessions();

private:
    // Plays the actions on a new window; empty when it agreed with the model
    // after every step, else what differed.
    QString play(const QList<Action> &actions);
    QString compare(const Model &m) const;
    bool act(Model &m, Step step);

    std::unique_ptr<tcp_client> m_window;
    // A peer of its own for each Conectar, so that what it keeps is what the
    // window's newest connection sent, whatever became of the ones before.
    std::unique_ptr<LoopbackPeer> m_peer;
    // Bound and never listening, so that the port stays refused: no peer
    // made later and no connection's own end can be given it.
    QTcpSocket m_closed;
    QString m_closedPort;
};

void TestSessionModel::initTestCase()
{
    QLocale::setDefault(QLocale::c());
    platform::system::setExitHandler(&ignoreExit);
    QVERIFY(m_closed.bind(QHostAddress::LocalHost, 0, QAbstractSocket::DontShareAddress));
    m_closedPort = QString::number(m_closed.localPort());
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
    const bool anError = !status.isEmpty() && !QStringList{status::ready(),
                                                           status::connecting(),
                                                           status::connectingViaProxy(),
                                                           status::awaitingProxyReply(),
                                                           status::connected(),
                                                           status::disconnected(),
                                                           status::closedByPeer(),
                                                           status::proxyRefused()}
                                                   .contains(status);
    check(m.status.isEmpty() ? anError : status == m.status || (m.orAnError && anError),
          QStringLiteral("estado \"%1\", el modelo \"%2\"").arg(status, m.status));
    const std::uint32_t words[] = {0x80000005, 0x0000FFFF, 0x0000FF00};
    check(c.Estado->palette().color(QPalette::WindowText) ==
              platform::system::colourFromWord(words[m.colour()], c.Estado->palette()),
          QStringLiteral("colour"));
    const bool ready = m.state == Model::Idle;
    check(c.cmdConnect->isEnabled() == ready, QStringLiteral("Conectar enabled"));
    check(c.cmdDisconnect->isEnabled() == !ready, QStringLiteral("Desconectar enabled"));
    check(c.send_button->isEnabled() == m.sendEnabled, QStringLiteral("Enviar enabled"));
    if (m.state == Model::Connected || (ready && m.returned))
        check(c.txtSend->isReadOnly() == ready, QStringLiteral("read-only"));
    QWidget *focused = m_window->focusWidget();
    check(m.focus.isEmpty() || (focused && focused->objectName() == m.focus),
          QStringLiteral("focus on %1, the model %2")
              .arg(focused ? focused->objectName() : QStringLiteral("nothing"), m.focus));
    check(ConnectionPrivate::buffer_str(m_window->connection()) == m.buffer,
          QStringLiteral("buffer"));
    check(m_peer->received == m.wire,
          QStringLiteral("wire \"%1\", the model \"%2\"")
              .arg(QString::fromLatin1(m_peer->received), QString::fromLatin1(m.wire)));
    check(boxText(*c.txtRcv) == QString::fromLatin1(m.shown), QStringLiteral("receive box"));
    return differ.join(QStringLiteral("; "));
}

bool TestSessionModel::act(Model &m, Step step)
{
    const tcp_clientControls c = controls(*m_window);
    auto typeKey = [&c](int key, const QString &text) {
        for (const QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
            QKeyEvent event(type, key, Qt::NoModifier, text);
            QApplication::sendEvent(c.txtSend, &event);
        }
    };
    switch (step) {
    case Step::ConnectDirect:
    case Step::ConnectRefused:
    case Step::ConnectProxy:
        if (m.state == Model::Idle) {
            const bool proxy = step == Step::ConnectProxy;
            m_peer = std::make_unique<LoopbackPeer>();
            m_window->connection().proxy_puerto_str = m_peer->portText();
            // The settings window that ticking the box opens is the proxy
            // window's own test; here only the box's value matters.
            const QSignalBlocker quiet(c.usar_proxy);
            c.usar_proxy->setChecked(proxy);
            c.host_remoto->setEditText(QStringLiteral("127.0.0.1"));
            c.puerto_remoto->setEditText(step == Step::ConnectRefused ? m_closedPort
                                         : proxy                      ? QStringLiteral("7")
                                                                      : m_peer->portText());
            m.connectTo(proxy                          ? Model::Proxy
                        : step == Step::ConnectRefused ? Model::Closed
                                                       : Model::Remote);
        }
        QTest::mouseClick(c.cmdConnect, Qt::LeftButton);
        return true;
    case Step::Disconnect:
        if (m.state != Model::Idle)
            m.toIdle(status::disconnected());
        QTest::mouseClick(c.cmdDisconnect, Qt::LeftButton);
        return true;
    case Step::Type:
        if (m.socketUp())
            m.buffer += QLatin1Char('x'), m.sendEnabled = true;
        typeKey(Qt::Key_X, QStringLiteral("x"));
        return true;
    case Step::Enter:
        if (m.socketUp())
            m.sendEnabled = false, m.send(m.buffer + QStringLiteral("\r\n"));
        typeKey(Qt::Key_Return, QStringLiteral("\r"));
        return true;
    case Step::Send:
        if (m.sendEnabled && m.socketUp())
            m.send(m.buffer), m.focus = QStringLiteral("txtSend");
        m.sendEnabled = false;
        QTest::mouseClick(c.send_button, Qt::LeftButton);
        return true;
    default:
        break;
    }
    // The peer's side: its end of the window's connection, once it has it.
    if (!m.socketUp() ||
        (step >= Step::ProxyAccepts &&
         (m.state != Model::Awaiting || m.firstPieceSent != (step == Step::ProxyLastPiece))))
        return true;
    if (!settle([&] { return m_peer->socket() != nullptr; }))
        return false;
    QTcpSocket *socket = m_peer->socket();
    QByteArray bytes = "dato\r\n";
    switch (step) {
    case Step::ProxyAccepts:
        bytes = "HTTP/1.1 200 Connection established\r\n\r\n";
        m.connected();
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
        m.connected();
        break;
    case Step::PeerCloses:
    case Step::EnterAsPeerCloses:
        socket->disconnectFromHost();
        if (step == Step::EnterAsPeerCloses) {
            // Typed before the window hears of the close: the line goes to a
            // peer that is gone, and the close that follows may come as the
            // reset that the peer's system answers it with.
            typeKey(Qt::Key_Return, QStringLiteral("\r"));
            m.buffer.clear();
        }
        m.toIdle(status::closedByPeer(), step == Step::EnterAsPeerCloses);
        return true;
    case Step::PeerResets:
        setResetOnClose(*socket, true);
        socket->abort();
        // Any error's description; under wine, the orderly close's too, as
        // wine tells of a reset either way, by when it comes.
        m.toIdle(resetsArriveAsCloses() ? status::closedByPeer() : QString(),
                 resetsArriveAsCloses());
        return true;
    default:
        break;
    }
    m.shown += bytes;
    socket->write(bytes);
    return true;
}

QString TestSessionModel::play(const QList<Action> &actions)
{
    // A window of its own for each play, so that a seed, and each shrunk
    // sequence, starts from the same state. The proxy strings are the ones
    // the settings window's "Aceptar" confirms.
    m_window.reset();
    m_window = std::make_unique<tcp_client>();
    m_window->connection().proxy_host_str = QStringLiteral("127.0.0.1");
    m_peer = std::make_unique<LoopbackPeer>();
    m_window->show();
    if (!QTest::qWaitForWindowActive(m_window.get()))
        return QStringLiteral("the window never became active");
    Model m;
    m.status = controls(*m_window).Estado->text();
    const QByteArray request = "CONNECT 127.0.0.1:7 HTTP/1.1\r\nHost: 127.0.0.1:7\r\n\r\n";
    for (qsizetype i = 0; i < actions.size(); ++i) {
        if (!act(m, actions[i].step))
            return QStringLiteral("at step %1: the peer never saw the connection").arg(i + 1);
        // A peer's event reaches the window at a moment no one controls, so
        // the window settles before and after each.
        if (!actions[i].settle && actions[i].step < Step::PeerSends && i + 1 < actions.size() &&
            actions[i + 1].step < Step::PeerSends)
            continue;
        m.settleAttempt(request);
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
        // Drawn from the seed alone, whatever the window did, so that a seed
        // gives the same session on every run.
        QList<Action> actions(1 + int(random.bounded(12)));
        for (Action &action : actions)
            action = {Step(random.bounded(int(Step::Count))), random.bounded(3) != 0};
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
            steps << QString::fromLatin1(QMetaEnum::fromType<Step>().valueToKey(int(action.step))) +
                         (action.settle ? QString() : QStringLiteral(" (at once)"));
        QFAIL(qPrintable(QStringLiteral("seed %1: %2\n  shortest: %3\n  there: %4")
                             .arg(seed)
                             .arg(failure, steps.join(QStringLiteral(" -> ")), play(shortest))));
    }
}

QTEST_MAIN(TestSessionModel)
#include "tst_sessionmodel.moc"
