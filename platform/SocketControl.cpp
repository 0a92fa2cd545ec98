#include "SocketControl.h"

#include "CodePage.h"

#include <QHostAddress>
#include <QNetworkProxy>
#include <QTcpSocket>

#include <utility>

namespace {

// What the socket takes from the system at a time.
constexpr qint64 kReadBuffer = qint64{1} << 20;

// An IPv6 address typed in brackets, as in a URL, names that address; any
// other text is looked up as it stands.
QString hostToResolve(const QString &host)
{
    if (host.size() > 2 && host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']'))) {
        const QString inside = host.sliced(1, host.size() - 2);
        QHostAddress address;
        if (address.setAddress(inside) && address.protocol() == QAbstractSocket::IPv6Protocol)
            return inside;
    }
    return host;
}

} // namespace

SocketControl::SocketControl(QObject *parent) : QObject(parent) {}

SocketControl::~SocketControl()
{
    Close();
}

void SocketControl::setRemoteHost(const QString &host)
{
    m_remoteHost = host;
}

void SocketControl::setRemotePort(std::int32_t port)
{
    m_remotePort = port;
}

void SocketControl::Connect()
{
    Close();
    m_state = StateConnecting;
    auto *socket = new QTcpSocket(this);
    // The program speaks to proxies itself; no system proxy may intervene.
    socket->setProxy(QNetworkProxy::NoProxy);
    // Taken from the system a bounded piece at a time, so that the socket's
    // buffer and each arrival are blocks the allocator hands out again,
    // instead of fresh memory of the size of whatever is waiting.
    socket->setReadBufferSize(kReadBuffer);
    attach(socket);
    socket->connectToHost(hostToResolve(m_remoteHost), static_cast<quint16>(m_remotePort));
}

void SocketControl::attach(QTcpSocket *socket)
{
    m_socket = socket;
    m_ended = false;
    m_dataQueued = false;
    connect(socket, &QTcpSocket::connected, this, [this] {
        if (!m_ended)
            queue(Event(EventKind::Connect));
    });
    connect(socket, &QTcpSocket::readyRead, this, [this] {
        if (!m_dataQueued && !m_ended) {
            m_dataQueued = true;
            queue(Event(EventKind::Data));
        }
    });
    connect(socket, &QTcpSocket::errorOccurred, this,
            [this](QAbstractSocket::SocketError error) { onSocketError(static_cast<int>(error)); });
    connect(socket, &QTcpSocket::disconnected, this, [this] {
        if (!m_ended) {
            m_ended = true;
            queue(Event(EventKind::Close));
        }
    });
}

void SocketControl::onSocketError(int number)
{
    if (m_ended)
        return;
    m_ended = true;
    if (number == QAbstractSocket::RemoteHostClosedError)
        queue(Event(EventKind::Close));
    else
        queue(Event(EventKind::Error, number, m_socket->errorString()));
}

void SocketControl::queue(Event event)
{
    m_events.push_back(std::move(event));
    if (!m_deliveryPosted) {
        m_deliveryPosted = true;
        QMetaObject::invokeMethod(this, &SocketControl::deliverNext, Qt::QueuedConnection);
    }
}

void SocketControl::deliverNext()
{
    m_deliveryPosted = false;
    if (m_events.empty())
        return;
    Event event = std::move(m_events.front());
    m_events.pop_front();
    // Whatever the handler does, the rest goes out one per turn.
    if (!m_events.empty()) {
        m_deliveryPosted = true;
        QMetaObject::invokeMethod(this, &SocketControl::deliverNext, Qt::QueuedConnection);
    }
    deliver(event);
}

void SocketControl::deliver(const Event &event)
{
    switch (event.kind) {
    case EventKind::Connect:
        m_state = StateConnected;
        Q_EMIT connected();
        break;
    case EventKind::Data: {
        m_dataQueued = false;
        const qint64 available = m_socket ? m_socket->bytesAvailable() : 0;
        if (available <= 0)
            break;
        m_announced = available;
        Q_EMIT dataArrival(static_cast<std::int32_t>(qMin<qint64>(available, INT32_MAX)));
        m_announced = 0;
        break;
    }
    case EventKind::Close:
    case EventKind::Error:
        // Bytes that came with the end are offered first; the end follows in
        // the next turn.
        if (!event.dataOffered && m_socket && m_socket->bytesAvailable() > 0 && !m_dataQueued) {
            Event end = event;
            end.dataOffered = true;
            m_events.push_front(std::move(end));
            m_dataQueued = true;
            m_events.emplace_front(EventKind::Data);
            if (!m_deliveryPosted) {
                m_deliveryPosted = true;
                QMetaObject::invokeMethod(this, &SocketControl::deliverNext, Qt::QueuedConnection);
            }
            break;
        }
        if (event.kind == EventKind::Close) {
            m_state = StateClosing;
            Q_EMIT closed();
        } else {
            m_state = StateError;
            Q_EMIT error(event.number, event.description);
        }
        break;
    }
}

QByteArray SocketControl::GetData()
{
    if (!m_socket)
        return {};
    const qint64 wanted = m_announced > 0 ? m_announced : m_socket->bytesAvailable();
    m_announced = 0;
    return m_socket->read(wanted);
}

void SocketControl::SendData(QStringView text)
{
    if (text.isEmpty() || !m_socket || m_socket->state() != QAbstractSocket::ConnectedState)
        return;
    m_socket->write(platform::codepage::stringToAnsi(text));
}

void SocketControl::Close()
{
    m_events.clear();
    m_dataQueued = false;
    m_announced = 0;
    m_state = StateClosed;
    if (QTcpSocket *socket = std::exchange(m_socket, nullptr)) {
        // Cut the links first: abort() emits synchronously, and nothing of this
        // connection may reach the program any more.
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
}
