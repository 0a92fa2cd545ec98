#pragma once

// The proxy settings window: a small modeless dialog owned by the main
// window, in which the proxy's host and port are typed. "Aceptar" hands both
// texts, unchanged, to the main window's proxy strings and hides the window.
// It is created once and from then on only shown and hidden.

#include <QWidget>

class QComboBox;
class QLabel;
class QPushButton;
class Connection;

class proxy_settings final : public QWidget
{
    Q_OBJECT

public:
    // Owned by (and a child window of) the main window; writes the
    // connection's proxy strings.
    proxy_settings(QWidget &owner, Connection &connection);
    Q_DISABLE_COPY_MOVE(proxy_settings)

    // Shows the window, or brings it to the front and activates it.
    void showModeless();

    QComboBox *proxy = nullptr;
    QComboBox *puerto = nullptr;
    QPushButton *OKButton = nullptr;

    void OKButton_Click();

protected:
    bool event(QEvent *event) override;

private:
    Connection &m_connection;
};
