#pragma once

// The one connection of the main window: its fields, the status line, and
// every handler of the conversation (connect command, socket events, tunnel,
// receive and send paths).
//
// It drives the controls it is handed and reaches the proxy settings window
// through ProxySettingsAccess only; it knows no window class. The window
// connects each control event to the handler of the same name.

#include "ProxyTunnel.h"

#include <QObject>
#include <QString>

#include <cstdint>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class ReceiveBox;
class SendBox;
class SocketControl;

// The controls of the main window the connection drives; the window owns them.
struct ConnectionControls
{
    QComboBox *host_remoto = nullptr;
    QComboBox *puerto_remoto = nullptr;
    QCheckBox *usar_proxy = nullptr;
    QPushButton *cmdConnect = nullptr;
    QPushButton *cmdDisconnect = nullptr;
    SendBox *txtSend = nullptr;
    QPushButton *send_button = nullptr;
    ReceiveBox *txtRcv = nullptr;
    QLabel *Estado = nullptr;
    SocketControl *tcpClient = nullptr;
};

// What the connect command needs of the proxy settings window.
class ProxySettingsAccess
{
public:
    virtual ~ProxySettingsAccess() = default;
    // The window's history lists; the window is created, hidden, if needed.
    virtual QComboBox &proxyHostList() = 0;
    virtual QComboBox &proxyPortList() = 0;
    // Shows the window modeless, in front of and owned by the main window.
    virtual void showProxySettings() = 0;
};

namespace status {
// Colours of the status line, as 0x00BBGGRR words or system colours.
constexpr std::uint32_t yellow = 0x0000FFFF;
constexpr std::uint32_t green = 0x0000FF00;
constexpr std::uint32_t idle = 0x80000005;

QString ready();
QString connecting();
QString connectingViaProxy();
QString awaitingProxyReply();
QString connected();
QString disconnected();
QString closedByPeer();
QString proxyRefused();
// No memory left for what arrives: the connection is closed.
QString outOfMemory();
} // namespace status

// Text colour of both boxes, light grey on their dark back colour: from the
// start, and set again at every connect command.
constexpr std::uint32_t boxTextColour = 0x00E0E0E0;

// Texts of the message box.
namespace messages {
QString title();
QString invalidProxy();
QString invalidRemote();
} // namespace messages

class Connection final : public QObject
{
    Q_OBJECT

public:
    Connection(const ConnectionControls &controls, ProxySettingsAccess &proxySettings,
               QObject *parent = nullptr);
    Q_DISABLE_COPY_MOVE(Connection)

    // The window's connection fields. The two proxy strings are written by
    // the proxy settings window's "Aceptar" and read by the connect command.
    QString proxy_host_str;
    QString proxy_puerto_str;
    bool usando_proxy = false;
    bool tunel_listo = false;
    QString host_str;
    QString puerto_str;
    QString buffer_str;

    void cmdConnect_Click();
    void cmdDisconnect_Click();
    void tcpClient_Connect();
    void tcpClient_DataArrival(std::int32_t bytesTotal);
    void tcpClient_Close();
    void tcpClient_Error(int number, const QString &description);
    void txtSend_KeyPress(int keyAscii);
    void send_button_Click();

    // Shared by the handlers above.
    void returnToIdle(const QString &caption);
    void connectedSequence();

Q_SIGNALS:
    // The status line shows a new caption; an unchanged one is not told again.
    void statusChanged(const QString &caption);

private:
    void setStatus(std::uint32_t colour, const QString &caption);
    void showError(const QString &message);
    void sendTunnelRequest();
    void testProxyReply(QStringView arrived);

    ConnectionControls m_controls;
    ProxySettingsAccess &m_proxySettings;
    // Everything received since the connect command while the tunnel is
    // pending: the receive box's whole text, kept so the test need not read
    // the box back.
    ProxyReply m_proxyReply;
};
