#include "Connection.h"

#include "History.h"
#include "PortText.h"
#include "SessionName.h"
#include "Transcoding.h"

#include "receivebox/ReceiveBox.h"
#include "sendbox/SendBox.h"
#include "system/CodePage.h"
#include "system/SocketControl.h"
#include "system/SystemColour.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include <new>

namespace {
constexpr int kSocketConnected = SocketControl::StateConnected;
// The send box reports Enter as the code of the carriage return.
constexpr int kEnterKey = 13;
// Text colour of both boxes, light grey on their dark back colour: from the
// start, and set again at every connect command.
constexpr std::uint32_t kBoxTextColour = 0x00E0E0E0;
} // namespace

Connection::Connection(const ConnectionControls &controls, ProxySettingsAccess &proxySettings,
                       QObject *parent)
    : QObject(parent), m_controls(controls), m_proxySettings(proxySettings)
{
    // Typed text shows in the boxes' colour before the first connect command.
    m_controls.txtSend->setTextColour(platform::system::colourFromWord(kBoxTextColour));
    m_controls.txtRcv->setTextColour(platform::system::colourFromWord(kBoxTextColour));
    setStatus(platform::system::kWindowBackgroundColour, status::ready());
}

void Connection::setStatus(std::uint32_t colour, const QString &caption)
{
    QLabel &estado = *m_controls.Estado;
    QPalette palette = estado.palette();
    palette.setColor(QPalette::WindowText, platform::system::colourFromWord(colour));
    estado.setPalette(palette);
    if (estado.text() == caption)
        return;
    estado.setText(caption);
    Q_EMIT statusChanged(caption);
}

void Connection::showError(const QString &message)
{
    QMessageBox box(QMessageBox::Critical, messages::title(), message, QMessageBox::Ok,
                    m_controls.cmdConnect->window());
    box.exec();
}

void Connection::returnToIdle(const QString &caption)
{
    m_controls.cmdDisconnect->setEnabled(false);
    m_controls.txtSend->setReadOnly(true);
    m_controls.send_button->setEnabled(false);
    m_controls.tcpClient->Close();
    m_controls.cmdConnect->setEnabled(true);
    m_controls.cmdConnect->setFocus();
    setStatus(platform::system::kWindowBackgroundColour, caption);
}

void Connection::connectedSequence()
{
    buffer_str.clear();
    m_controls.txtSend->setReadOnly(false);
    m_controls.txtSend->setFocus();
    setStatus(status::kGreen, status::connected());
}

void Connection::cmdDisconnect_Click()
{
    returnToIdle(status::disconnected());
}

void Connection::tcpClient_Connect()
{
    if (usando_proxy)
        sendTunnelRequest();
    else
        connectedSequence();
}

void Connection::tcpClient_Close()
{
    returnToIdle(status::closedByPeer());
}

void Connection::tcpClient_Error(int /*number*/, const QString &description)
{
    returnToIdle(description);
}

bool Connection::acceptRemote()
{
    if (isValidPair(host_str, puerto_str))
        return true;
    showError(messages::invalidRemote());
    m_controls.host_remoto->setFocus();
    return false;
}

void Connection::cmdConnect_Click()
{
    host_str = m_controls.host_remoto->currentText();
    puerto_str = m_controls.puerto_remoto->currentText();

    QString portText;
    if (m_controls.usar_proxy->isChecked()) {
        usando_proxy = true;
        tunel_listo = false;
        if (!isValidPair(proxy_host_str, proxy_puerto_str)) {
            showError(messages::invalidProxy());
            m_proxySettings.showProxySettings();
            return;
        }
        if (!acceptRemote())
            return;
        m_controls.tcpClient->setRemoteHost(proxy_host_str);
        portText = proxy_puerto_str;
    } else {
        usando_proxy = false;
        if (!acceptRemote())
            return;
        m_controls.tcpClient->setRemoteHost(host_str);
        portText = puerto_str;
    }
    m_controls.tcpClient->setRemotePort(portFromText(portText).value_or(0));

    recordInHistory(*m_controls.host_remoto, host_str);
    recordInHistory(*m_controls.puerto_remoto, puerto_str);
    if (usando_proxy) {
        recordInHistory(m_proxySettings.proxyHostList(), proxy_host_str);
        recordInHistory(m_proxySettings.proxyPortList(), proxy_puerto_str);
    }

    m_controls.cmdConnect->setEnabled(false);
    setStatus(status::kYellow, usando_proxy ? status::connectingViaProxy() : status::connecting());
    m_controls.tcpClient->Connect();
    m_controls.cmdDisconnect->setEnabled(true);
    m_controls.cmdDisconnect->setFocus();
    m_controls.txtSend->setText(QString());
    m_controls.txtSend->setTextColour(platform::system::colourFromWord(kBoxTextColour));
    m_controls.txtRcv->clear();
    m_controls.txtRcv->setTextColour(platform::system::colourFromWord(kBoxTextColour));
    m_controls.txtRcv->setSaveName(sessionFileName(host_str, portFromText(puerto_str).value_or(0),
                                                   QDateTime::currentDateTime()));
    m_proxyReply.reset();
}

void Connection::sendTunnelRequest()
{
    m_controls.tcpClient->SendData(connectRequest(host_str, puerto_str));
    setStatus(status::kYellow, status::awaitingProxyReply());
}

void Connection::tcpClient_DataArrival(std::int32_t bytesTotal)
{
    try {
        // Appending gives the same text as rewriting the whole transcript
        // with the arrival at its end, at the cost of the arrival alone. The
        // socket puts the bytes into memory the box offers (a landing buffer
        // that stays in the cache, from which the box copies them into its
        // store), where they stay as they came; the box reads them through
        // the code page's table, a NUL as "\x00": no text is built here.
        ReceiveBox &box = *m_controls.txtRcv;
        SocketControl &socket = *m_controls.tcpClient;
        const qsizetype from = box.length();
        box.appendReceived(
            qMax<std::int32_t>(bytesTotal, 0),
            [&socket](quint8 *into, qsizetype room) { return socket.GetData(into, room); });
        box.setSelStart(box.length());
        // The reply test reads what arrived as the box shows it.
        if (usando_proxy && !tunel_listo)
            testProxyReply(box.mid(from, box.length() - from));
    } catch (const std::bad_alloc &) {
        // The transcript grows for as long as the connection lasts, until
        // memory runs out. What arrived before stays readable; what cannot
        // be shown is not taken in silence: the connection ends, and says
        // why.
        returnToIdle(status::outOfMemory());
    }
}

void Connection::testProxyReply(QStringView arrived)
{
    switch (m_proxyReply.feed(arrived)) {
    case ProxyVerdict::Incomplete:
        break;
    case ProxyVerdict::Accepted:
        m_proxyReply.reset();
        tunel_listo = true;
        connectedSequence();
        break;
    case ProxyVerdict::Refused:
        m_proxyReply.reset();
        returnToIdle(status::proxyRefused());
        break;
    }
}

void Connection::txtSend_KeyPress(int keyAscii)
{
    if (m_controls.tcpClient->State() != kSocketConnected)
        return;
    if (keyAscii == kEnterKey) {
        m_controls.send_button->setEnabled(false);
        buffer_str += QLatin1String("\r\n");
        buffer_str = toOemText(buffer_str);
        m_controls.tcpClient->SendData(buffer_str);
        buffer_str.clear();
        return;
    }
    buffer_str += platform::system::codepage::ansiToChar(static_cast<unsigned char>(keyAscii));
    if (!m_controls.send_button->isEnabled())
        m_controls.send_button->setEnabled(true);
}

void Connection::send_button_Click()
{
    m_controls.send_button->setEnabled(false);
    if (m_controls.tcpClient->State() != kSocketConnected)
        return;
    buffer_str = toOemText(buffer_str);
    m_controls.tcpClient->SendData(buffer_str);
    buffer_str.clear();
    m_controls.txtSend->setFocus();
}
