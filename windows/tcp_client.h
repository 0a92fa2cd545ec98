#pragma once

// The main window: every control of the connection at its place, the menu
// that leads to the proxy settings, and the wiring of each control event to
// its handler in the connection. No connection logic lives here.

#include "connection/Connection.h"

#include <QMainWindow>

#include <memory>
#include <optional>

class QAction;
class QGroupBox;
class QMenu;
class StatusLine;
class proxy_settings;

class tcp_client final : public QMainWindow, private ProxySettingsAccess
{
    Q_OBJECT

public:
    explicit tcp_client(QWidget *parent = nullptr);
    ~tcp_client() override;
    Q_DISABLE_COPY_MOVE(tcp_client)

    // The connection's fields and handlers, proxy strings included.
    Connection &connection() { return *m_connection; }
    // The proxy settings window, if it has been created.
    proxy_settings *proxySettingsWindow() const { return m_proxySettings; }

    // Fills the host field, and the port field when a port is given, as if
    // the user had typed them. With a port, "Conectar" is then pressed as by
    // a click, with its checks and messages; the press is queued, so it comes
    // from the event loop, after the caller has shown the window.
    void setTarget(const QString &host, const std::optional<QString> &port);

    void usar_proxy_Click();
    void proxy_settings_menu_Click();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    proxy_settings &proxySettings();
    QComboBox &proxyHostList() override;
    QComboBox &proxyPortList() override;
    void showProxySettings() override;

    void buildControls();
    void wireEvents();

    // The form's controls, by their own names; the window owns them. Those
    // the connection drives are handed to it as they are.
    ConnectionControls m_form;
    // The status line as the line it is: the connection drives it as a label,
    // the wiring tells it of each new caption.
    StatusLine *m_statusLine = nullptr;
    QGroupBox *Frame1 = nullptr;
    QGroupBox *Frame2 = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QMenu *options_menu = nullptr;
    QAction *proxy_settings_menu = nullptr;

    std::unique_ptr<Connection> m_connection;
    proxy_settings *m_proxySettings = nullptr;
};
