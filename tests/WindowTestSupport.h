#pragma once

// What the window tests share: a loopback peer that records what it is sent,
// a watcher that answers the modal message box as a user would, and small
// steps of driving the main window.

#include <QApplication>
#include <QByteArray>
#include <QComboBox>
#include <QHostAddress>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

// A server on 127.0.0.1 that takes one connection and keeps what it receives.
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

    QByteArray received;

Q_SIGNALS:
    void accepted();
    void receivedMore();

private:
    QTcpServer m_server;
    QPointer<QTcpSocket> m_socket;
};

// Answers every modal message box with OK, keeping what it showed.
class MessageBoxWatcher final : public QObject
{
    Q_OBJECT

public:
    MessageBoxWatcher()
    {
        m_timer.setInterval(0);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            texts.append(box->text());
            titles.append(box->windowTitle());
            icons.append(box->icon());
            buttonCount.append(box->buttons().size());
            box->button(QMessageBox::Ok)->click();
        });
        m_timer.start();
    }

    QStringList texts;
    QStringList titles;
    QList<QMessageBox::Icon> icons;
    QList<qsizetype> buttonCount;

private:
    QTimer m_timer;
};

inline void typeInCombo(QComboBox *combo, const QString &text)
{
    combo->setEditText(text);
}

// The widget holds its window's focus: it has the keyboard whenever the
// window is active, whether or not the platform has activated it again after
// a modal box or a second window.
inline bool hasWindowFocus(QWidget *widget)
{
    QWidget *focused = widget->window()->focusWidget();
    return focused && (focused == widget || widget->isAncestorOf(focused));
}
