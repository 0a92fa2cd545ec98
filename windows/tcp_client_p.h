#pragma once

// The main window's controls, reached from outside the window the way a
// user's tools reach them: by their object names. For checks that drive the
// real window; the window itself keeps the pointers private.

#include "receivebox/ReceiveBox.h"
#include "sendbox/SendBox.h"
#include "system/SocketControl.h"
#include "tcp_client.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>

#include <type_traits>

struct tcp_clientControls
{
    QComboBox *host_remoto;
    QComboBox *puerto_remoto;
    QCheckBox *usar_proxy;
    QPushButton *cmdConnect;
    QPushButton *cmdDisconnect;
    SendBox *txtSend;
    QPushButton *send_button;
    ReceiveBox *txtRcv;
    QLabel *Estado;
    QGroupBox *Frame1;
    QGroupBox *Frame2;
    QLabel *Label1;
    QLabel *Label2;
    SocketControl *tcpClient;
    QMenu *options_menu;
    QAction *proxy_settings_menu;
};

// Controls of the client area are looked for there only: the proxy settings
// window, a child of the main window, has labels of the same names.
inline tcp_clientControls controls(const tcp_client &window)
{
    const QWidget *area = window.centralWidget();
    tcp_clientControls c{};
    auto in = [area](auto *&control, const char *name) {
        control = area->findChild<std::remove_reference_t<decltype(control)>>(QLatin1String(name));
    };
    auto top = [&window](auto *&control, const char *name) {
        control = window.findChild<std::remove_reference_t<decltype(control)>>(QLatin1String(name));
    };
    in(c.host_remoto, "host_remoto");
    in(c.puerto_remoto, "puerto_remoto");
    in(c.usar_proxy, "usar_proxy");
    in(c.cmdConnect, "cmdConnect");
    in(c.cmdDisconnect, "cmdDisconnect");
    in(c.txtSend, "txtSend");
    in(c.send_button, "send_button");
    in(c.txtRcv, "txtRcv");
    in(c.Estado, "Estado");
    in(c.Frame1, "Frame1");
    in(c.Frame2, "Frame2");
    in(c.Label1, "Label1");
    in(c.Label2, "Label2");
    top(c.tcpClient, "tcpClient");
    top(c.options_menu, "options_menu");
    top(c.proxy_settings_menu, "proxy_settings_menu");
    return c;
}
