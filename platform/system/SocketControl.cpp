#include "SocketControl.h"

#include "CodePage.h"

#include <QHostAddress>
#include <QNetworkProxy>
#include <QSocketNotifier>
#include <QTcpSocket>

#include <algorithm>
#include <cstring>
#include <utility>

namespace socketio = platform::system::socketio;

namespace {

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

// The most one Data event announces. What waits beyond it is the next
// event's, in the next turn: the loopback's buffer can hold several
// megabytes, and taking them in one turn would hold the window as long.
constexpr std::int64_t kMostPerArrival = std::int64_t{1} << 20;

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
    // Until the descriptor is taken over, Qt reads; what it read comes first.
    connect(socket, &QTcpSocket::readyRead, this, [this] {
        if (!m_dataQueued && !m_ended) {
            m_dataQueued = true;
            queue(Event(EventKind::Data));
        }
    });
    connect(socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        if (m_ended)
            return;
        m_ended = true;
        if (error == QAbstractSocket::RemoteHostClosedError)
            queue(Event(EventKind::Close));
        else
            queue(Event(EventKind::Error, static_cast<int>(error), m_socket->errorString()));
    });
    connect(socket, &QTcpSocket::disconnected, this, [this] {
        if (!m_ended) {
            m_ended = true;
            queue(Event(EventKind::Close));
        }
    });
}

// From the Connect event on, the connection is read and written through a
// descriptor of our own; Qt's socket, and its descriptor, go.
void SocketControl::takeOver()
{
    if (!m_socket || m_socket->state() != QAbstractSocket::ConnectedState)
        return;
    int systemError = 0;
    const socketio::Descriptor descriptor =
        socketio::duplicate(m_socket->socketDescriptor(), systemError);
    if (descriptor == socketio::kNoDescriptor) {
        // Qt goes on reading, as it would have had it been asked to.
        return;
    }
    QTcpSocket *socket = std::exchange(m_socket, nullptr);
    m_early += socket->readAll();
    socket->disconnect(this);
    socket->abort(); // closes Qt's descriptor; ours keeps the connection
    socket->deleteLater();

    m_descriptor = descriptor;
    m_readable = new QSocketNotifier(descriptor, QSocketNotifier::Read, this);
    connect(m_readable, &QSocketNotifier::activated, this, &SocketControl::onReadable);
    m_writable = new QSocketNotifier(descriptor, QSocketNotifier::Write, this);
    m_writable->setEnabled(false);
    connect(m_writable, &QSocketNotifier::activated, this, &SocketControl::onWritable);
    if (!m_early.isEmpty() && !m_dataQueued) {
        m_dataQueued = true;
        queue(Event(EventKind::Data));
    }
}

void SocketControl::onReadable()
{
    // Until the data event is delivered and read, the system's readiness
    // stays as it is: no notice is wanted meanwhile.
    m_readable->setEnabled(false);
    if (m_ended || m_dataQueued)
        return;
    int systemError = 0;
    const std::int64_t count = socketio::available(m_descriptor, systemError);
    if (count > 0) {
        m_dataQueued = true;
        queue(Event(EventKind::Data));
        return;
    }
    if (count < 0) {
        failed(systemError);
        return;
    }
    // Readable with nothing to read: the end, after the last byte.
    const int end = socketio::endOf(m_descriptor);
    if (end < 0) {
        m_readable->setEnabled(true);
        return;
    }
    if (end == 0) {
        m_ended = true;
        queue(Event(EventKind::Close));
        return;
    }
    failed(end);
}

void SocketControl::onWritable()
{
    flush();
}

void SocketControl::flush()
{
    while (!m_outgoing.isEmpty()) {
        int systemError = 0;
        const std::int64_t sent =
            socketio::send(m_descriptor, m_outgoing.constData(), m_outgoing.size(), systemError);
        if (sent < 0) {
            if (socketio::wouldBlock(systemError)) {
                m_writable->setEnabled(true);
                return;
            }
            m_outgoing.clear();
            failed(systemError);
            break;
        }
        m_outgoing.remove(0, static_cast<qsizetype>(sent));
    }
    if (m_writable)
        m_writable->setEnabled(false);
}

void SocketControl::failed(int systemError)
{
    if (m_ended)
        return;
    m_ended = true;
    if (m_readable)
        m_readable->setEnabled(false);
    queue(Event(EventKind::Error, socketio::isReset(systemError) ? kResetError : systemError,
                socketio::describe(systemError)));
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

std::int64_t SocketControl::waiting() const
{
    std::int64_t count = m_early.size();
    if (m_socket)
        count += m_socket->bytesAvailable();
    if (m_descriptor != socketio::kNoDescriptor) {
        int systemError = 0;
        count += std::max<std::int64_t>(0, socketio::available(m_descriptor, systemError));
    }
    return count;
}

void SocketControl::deliver(const Event &event)
{
    switch (event.kind) {
    case EventKind::Connect:
        takeOver();
        m_state = StateConnected;
        Q_EMIT connected();
        break;
    case EventKind::Data: {
        m_dataQueued = false;
        const std::int64_t available = std::min(waiting(), kMostPerArrival);
        if (available > 0) {
            m_announced = available;
            Q_EMIT dataArrival(
                static_cast<std::int32_t>(std::min<std::int64_t>(available, INT32_MAX)));
            m_announced = 0;
        }
        // The handler may have closed the control, and with it the notifier.
        if (m_readable && !m_ended)
            m_readable->setEnabled(true);
        break;
    }
    case EventKind::Close:
    case EventKind::Error:
        // Bytes that came with the end are offered first; the end follows in
        // the next turn.
        if (!event.dataOffered && waiting() > 0 && !m_dataQueued) {
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

std::int64_t SocketControl::GetData(void *into, std::int64_t max)
{
    auto *out = static_cast<char *>(into);
    std::int64_t got = 0;
    if (m_announced > 0)
        max = std::min(max, m_announced);
    if (m_socket && max > 0)
        got += std::max<qint64>(0, m_socket->read(out, max));
    if (!m_early.isEmpty() && got < max) {
        const auto n = static_cast<qsizetype>(std::min<std::int64_t>(max - got, m_early.size()));
        std::memcpy(out + got, m_early.constData(), static_cast<std::size_t>(n));
        m_early.remove(0, n);
        got += n;
    }
    while (m_descriptor != socketio::kNoDescriptor && got < max) {
        int systemError = 0;
        const std::int64_t n = socketio::receive(m_descriptor, out + got, max - got, systemError);
        if (n <= 0)
            break; // the end or a failure shows at the next notice
        got += n;
    }
    if (m_announced > 0)
        m_announced -= got;
    return got;
}

QByteArray SocketControl::GetData()
{
    const std::int64_t wanted = m_announced > 0 ? m_announced : waiting();
    QByteArray bytes(static_cast<qsizetype>(wanted), Qt::Uninitialized);
    bytes.truncate(static_cast<qsizetype>(GetData(bytes.data(), wanted)));
    return bytes;
}

void SocketControl::SendData(QStringView text)
{
    if (text.isEmpty() || m_ended)
        return;
    if (m_descriptor != socketio::kNoDescriptor) {
        m_outgoing += platform::system::codepage::stringToAnsi(text);
        flush();
    } else if (m_socket && m_socket->state() == QAbstractSocket::ConnectedState) {
        m_socket->write(platform::system::codepage::stringToAnsi(text));
    }
}

void SocketControl::Close()
{
    m_events.clear();
    m_dataQueued = false;
    m_announced = 0;
    m_state = StateClosed;
    m_early.clear();
    m_outgoing.clear();
    delete std::exchange(m_readable, nullptr);
    delete std::exchange(m_writable, nullptr);
    socketio::closeDescriptor(std::exchange(m_descriptor, socketio::kNoDescriptor));
    if (QTcpSocket *socket = std::exchange(m_socket, nullptr)) {
        // Cut the links first: abort() emits synchronously, and nothing of this
        // connection may reach the program any more.
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
}
