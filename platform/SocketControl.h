#pragma once

// The TCP socket control: one outgoing connection at a time, reported through
// four events (Connect, DataArrival, Close, Error).
//
// Contracts the program relies on:
// - Events are delivered from the event loop, one per turn, never inside a
//   call the program makes to the control (Qt emits some signals
//   synchronously inside connectToHost, abort and close: they are queued).
// - After Close() no event of that connection arrives, queued ones included.
//   Close() raises no event and never fails, in any state.
// - A peer's orderly close or reset is the Close event, not Error, and every
//   byte that arrived is offered as DataArrival before it.
// - GetData() inside DataArrival hands over exactly the announced bytes.
// - Text goes out through the ANSI code page, one byte per character.

#include <QObject>
#include <QString>
#include <QStringView>

#include <cstdint>
#include <deque>
#include <utility>

class QTcpSocket;

class SocketControl final : public QObject
{
    Q_OBJECT

public:
    // The values State() reports: the socket control's documented state
    // numbers, which the program compares with, so they keep their values
    // (the states between them, such as resolving a name, are not reported).
    enum : int {
        StateClosed = 0,
        StateConnecting = 6,
        StateConnected = 7,
        StateClosing = 8, // the peer has closed
        StateError = 9,
    };

    explicit SocketControl(QObject *parent = nullptr);
    ~SocketControl() override;
    Q_DISABLE_COPY_MOVE(SocketControl)

    // Target of the next Connect(): a name or an address, an IPv6 address
    // also in brackets as in a URL.
    void setRemoteHost(const QString &host);
    // 0..65535; other values are reduced to 16 bits by the socket.
    void setRemotePort(std::int32_t port);

    // Starts an attempt and returns at once; ends any earlier connection first.
    void Connect();
    // Queues the text's ANSI bytes; the empty text sends nothing. Outside a
    // connection the text is dropped.
    void SendData(QStringView text);
    // Inside DataArrival: the announced bytes. Elsewhere: whatever waits.
    QByteArray GetData();
    int State() const { return m_state; }
    // Ends the connection or attempt; no event of it arrives afterwards.
    void Close();

Q_SIGNALS:
    void connected();
    void dataArrival(std::int32_t bytesTotal);
    void closed();
    void error(int number, const QString &description);

private:
    friend class SocketControlPrivate;

    enum class EventKind { Connect, Data, Close, Error };
    struct Event
    {
        explicit Event(EventKind eventKind, int errorNumber = 0, QString errorText = {})
            : kind(eventKind), number(errorNumber), description(std::move(errorText))
        {}
        EventKind kind;
        int number;
        QString description;
        // An end already held back once for unread bytes is not held again.
        bool dataOffered = false;
    };

    void attach(QTcpSocket *socket);
    void queue(Event event);
    void onSocketError(int number);
    void deliverNext();
    void deliver(const Event &event);

    QString m_remoteHost;
    std::int32_t m_remotePort = 0;
    QTcpSocket *m_socket = nullptr;
    int m_state = StateClosed;
    // Events of the current connection only: Close() clears them.
    std::deque<Event> m_events;
    bool m_deliveryPosted = false;
    bool m_dataQueued = false;
    // The connection has ended (Close or Error queued): Qt's later signals
    // about it are not events.
    bool m_ended = false;
    qint64 m_announced = 0;
};
