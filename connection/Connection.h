#pragma once

// The one connection of the main window: its fields, the status line, and
// every handler of the conversation (connect command, socket events, tunnel,
// receive and send paths).
//
// This is the form's code-behind: it drives the widgets it is handed (raw
// pointers the window owns), shows the message box, and reaches the proxy
// settings window through ProxySettingsAccess only; it knows no window
// class. The window connects each control event to the handler of the same
// name. What only decides, and needs no widget, lives beside it: the status
// rows, caption and colour (StatusRows.h), port text, history rule, the CONNECT
// request and reply test, and the conversions of the conversation.

#include "ProxyTunnel.h"
#include "StatusRows.h"

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

class Connection final : public QObject
{
    Q_OBJECT

public:
    Connection(const ConnectionControls &controls, ProxySettingsAccess &proxySettings,
               QObject *parent = nullptr);
    Q_DISABLE_COPY_MOVE(Connection)

    // The window's public strings: written by the proxy settings window's
    // "Aceptar", read by the connect command.
    QString proxy_host_str;
    QString proxy_puerto_str;

    void cmdConnect_Click();
    void cmdDisconnect_Click();
    void tcpClient_Connect();
    void tcpClient_DataArrival(std::int32_t bytesTotal);
    void tcpClient_Close();
    void tcpClient_Error(int number, const QString &description);
    void txtSend_KeyPress(int keyAscii);
    void send_button_Click();

Q_SIGNALS:
    // The status line shows a new caption; an unchanged one is not told again.
    void statusChanged(const QString &caption);

private:
    friend class ConnectionPrivate;

    // Shared by the handlers above.
    void returnToIdle(const QString &caption);
    void connectedSequence();
    bool acceptRemote();
    void setStatus(std::uint32_t colour, const QString &caption);
    void showError(const QString &message);
    void sendTunnelRequest();
    void testProxyReply(QStringView arrived);

    // The connection's fields, kept between events.
    bool usando_proxy = false;
    bool tunel_listo = false;
    QString host_str;
    QString puerto_str;
    // Typed since the last send, in the ANSI code page.
    QString buffer_str;

    ConnectionControls m_controls;
    ProxySettingsAccess &m_proxySettings;
    // What the proxy has answered so far while the tunnel is pending, as
    // text: the reply test reads it instead of the receive box.
    ProxyReply m_proxyReply;
};
