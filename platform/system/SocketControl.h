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
// - A peer's orderly close is the Close event. A reset, like every other
//   failure of the connection, is the Error event with a readable
//   description. Either comes after every byte that arrived has been offered
//   as DataArrival.
// - GetData() inside DataArrival hands over exactly the announced bytes, in
//   order; its second form puts them straight into the caller's memory, so
//   that a received byte is copied once, by the system.
// - Text goes out through the ANSI code page, one byte per character.
//
// Qt makes the connection (name look-up, each address in turn, its Spanish
// error texts). Once connected, the control reads and writes the connection's
// descriptor itself (SocketIo.h): Qt's sockets always read into a
// buffer of their own first.

#include "SocketIo.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringView>

#include <cstdint>
#include <deque>
#include <utility>

class QSocketNotifier;
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
    // The number of the Error event of a reset by the peer.
    static constexpr int kResetError = 10054;

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
    // Inside DataArrival: the announced bytes not taken yet. Elsewhere:
    // whatever waits.
    QByteArray GetData();
    // The same, at most max bytes, written at `into`; returns how many.
    std::int64_t GetData(void *into, std::int64_t max);
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
    void takeOver();
    void onReadable();
    void onWritable();
    void flush();
    void failed(int systemError);
    void queue(Event event);
    void deliverNext();
    void deliver(const Event &event);
    std::int64_t waiting() const;

    QString m_remoteHost;
    std::int32_t m_remotePort = 0;
    // While connecting.
    QTcpSocket *m_socket = nullptr;
    // Once connected.
    platform::system::socketio::Descriptor m_descriptor = platform::system::socketio::kNoDescriptor;
    QSocketNotifier *m_readable = nullptr;
    QSocketNotifier *m_writable = nullptr;
    // Bytes Qt had read before the descriptor was taken over; they come first.
    QByteArray m_early;
    QByteArray m_outgoing;

    int m_state = StateClosed;
    // Events of the current connection only: Close() clears them.
    std::deque<Event> m_events;
    bool m_deliveryPosted = false;
    bool m_dataQueued = false;
    // The connection has ended (Close or Error queued): nothing more of it
    // is an event.
    bool m_ended = false;
    std::int64_t m_announced = 0;
};
