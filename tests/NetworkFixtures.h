#pragma once

// Real peers on loopback for the tests: a server that keeps what it is sent,
// an echo server, a scripted proxy that answers what the test tells it to,
// and Debian's tinyproxy, started on a free loopback port with a generated
// configuration and stopped at the end.

#include <QByteArray>
#include <QHostAddress>
#include <QPointer>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

// A server on 127.0.0.1 that takes one connection, keeps what it receives and
// sends what it is told; later connections are dropped.
class LoopbackPeer final : public QObject
{
    Q_OBJECT

public:
    LoopbackPeer()
    {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                if (m_socket) {
                    socket->deleteLater();
                    continue;
                }
                m_socket = socket;
                connect(socket, &QTcpSocket::readyRead, this, [this] {
                    received += m_socket->readAll();
                    Q_EMIT receivedMore();
                });
                Q_EMIT accepted();
            }
        });
    }

    quint16 port() const { return m_server.serverPort(); }
    QString portText() const { return QString::number(port()); }
    QTcpSocket *socket() const { return m_socket; }
    // Whether a client has reached the listening socket, whether or not the
    // event loop has seen it yet: a connect() already made is in the queue.
    bool connectionWaiting()
    {
        if (!m_socket)
            m_server.waitForNewConnection(0);
        return m_socket != nullptr;
    }
    void send(const QByteArray &bytes) { m_socket->write(bytes); }

    QByteArray received;

Q_SIGNALS:
    void accepted();
    void receivedMore();

private:
    QTcpServer m_server;
    QPointer<QTcpSocket> m_socket;
};

// A proxy played by the test: it keeps the request and answers what it is told.
using ScriptedProxy = LoopbackPeer;

// A server that sends back whatever it receives, to any number of clients.
class EchoServer final : public QObject
{
    Q_OBJECT

public:
    EchoServer()
    {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket,
                        [socket] { socket->write(socket->readAll()); });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    QString portText() const { return QString::number(m_server.serverPort()); }

private:
    QTcpServer m_server;
};

// tinyproxy on 127.0.0.1, allowing CONNECT to any port.
class TinyProxy final
{
public:
    // Empty when tinyproxy could not be started; error() says why.
    bool start()
    {
        const QString program = QStandardPaths::findExecutable(QStringLiteral("tinyproxy"));
        if (program.isEmpty()) {
            m_error = QStringLiteral("tinyproxy is not installed (scripts/setup installs it)");
            return false;
        }
        quint16 port = 0;
        {
            QTcpServer probe;
            probe.listen(QHostAddress::LocalHost);
            port = probe.serverPort();
        }
        QFile config(m_dir.filePath(QStringLiteral("tinyproxy.conf")));
        if (!config.open(QIODevice::WriteOnly))
            return false;
        // No ConnectPort line: CONNECT is allowed to every port.
        config.write(QStringLiteral("Port %1\nListen 127.0.0.1\nTimeout 60\nAllow 127.0.0.1\n"
                                    "LogLevel Info\nMaxClients 20\n")
                         .arg(port)
                         .toLatin1());
        config.close();
        m_process.setProgram(program);
        m_process.setArguments({QStringLiteral("-d"), QStringLiteral("-c"), config.fileName()});
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start();
        if (!m_process.waitForStarted(10000)) {
            m_error = m_process.errorString();
            return false;
        }
        QSignalSpy output(&m_process, &QProcess::readyRead);
        QByteArray log;
        while (!log.contains("Accepting connections")) {
            if (m_process.state() != QProcess::Running || !output.wait(10000)) {
                m_error = QString::fromLocal8Bit(log + m_process.readAll());
                return false;
            }
            log += m_process.readAll();
        }
        m_port = port;
        return true;
    }

    ~TinyProxy()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(5000))
                m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    QString portText() const { return QString::number(m_port); }
    QString error() const { return m_error; }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_error;
};
