#include "tcp_client.h"

#include "Captions.h"
#include "CommandButton.h"
#include "HistoryCombo.h"
#include "StatusLine.h"
#include "Twips.h"
#include "brisol_version.h"
#include "proxy_settings.h"

#include "receivebox/ReceiveBox.h"
#include "sendbox/SendBox.h"
#include "system/Fonts.h"
#include "system/ProcessExit.h"
#include "system/SocketControl.h"
#include "system/SystemColour.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>

namespace {

constexpr std::uint32_t kStatusBackColour = 0x00808080;
constexpr std::uint32_t kBoxBackColour = platform::system::kWindowTextColour;

QPushButton *commandButton(QWidget *parent, const char *name, const QString &caption)
{
    auto *button = new CommandButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    return button;
}

QLabel *label(QWidget *parent, const char *name, const QString &caption)
{
    auto *result = new QLabel(caption, parent);
    result->setObjectName(QLatin1String(name));
    return result;
}

template <typename Widget> Widget *named(Widget *widget, const char *name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}

} // namespace

tcp_client::tcp_client(QWidget *parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                              Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QStringLiteral("tcp_client"));
    setWindowTitle(QStringLiteral(BRISOL_TITLE));
    // The layout is measured for the classic 8 pt dialog font: larger
    // defaults would clip the captions.
    setFont(platform::system::msSansSerifFont());
    buildControls();
    m_connection = std::make_unique<Connection>(m_form, static_cast<ProxySettingsAccess &>(*this));
    wireEvents();
    m_form.host_remoto->setFocus(Qt::OtherFocusReason);
}

tcp_client::~tcp_client() = default;

void tcp_client::buildControls()
{
    options_menu = menuBar()->addMenu(QStringLiteral("Opciones"));
    options_menu->setObjectName(QStringLiteral("options_menu"));
    options_menu->setAccessibleName(options_menu->title());
    proxy_settings_menu = options_menu->addAction(QStringLiteral("Configurar Proxy"));
    proxy_settings_menu->setObjectName(QStringLiteral("proxy_settings_menu"));

    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("client_area"));
    client->setFixedSize(pixelsFromTwips(11910), pixelsFromTwips(7815));
    setCentralWidget(client);

    // Created from back to front: a widget created later lies in front.
    Label1 = label(client, "Label1", QStringLiteral("Equipo Remoto"));
    Label1->setGeometry(rectFromTwips(2760, 600, 1215, 255));
    fitCaption(*Label1);
    Label2 = label(client, "Label2", QStringLiteral("Puerto"));
    Label2->setGeometry(rectFromTwips(6480, 600, 615, 255));
    fitCaption(*Label2);

    // The connection shows the first row, and every row after it.
    m_statusLine = named(new StatusLine(client), "Estado");
    m_form.Estado = m_statusLine;
    m_form.Estado->setGeometry(rectFromTwips(240, 7320, 11415, 375));
    m_form.Estado->setFont(platform::system::msSansSerifFont(9.75));
    m_form.Estado->setAutoFillBackground(true);
    {
        QPalette palette = m_form.Estado->palette();
        palette.setColor(QPalette::Window, platform::system::colourFromWord(kStatusBackColour));
        m_form.Estado->setPalette(palette);
    }

    Frame2 = named(new QGroupBox(QStringLiteral("Ventana de Envío"), client), "Frame2");
    Frame2->setGeometry(rectFromTwips(240, 1800, 11415, 2055));
    Frame1 = named(new QGroupBox(QStringLiteral("Ventana de Recepción"), client), "Frame1");
    Frame1->setGeometry(rectFromTwips(240, 4080, 11415, 3015));

    m_form.tcpClient = named(new SocketControl(this), "tcpClient");

    m_form.cmdConnect = commandButton(client, "cmdConnect", QStringLiteral("Conectar"));
    m_form.cmdConnect->setGeometry(rectFromTwips(4560, 1200, 975, 375));
    m_form.cmdDisconnect = commandButton(client, "cmdDisconnect", QStringLiteral("Desconectar"));
    m_form.cmdDisconnect->setGeometry(rectFromTwips(6000, 1200, 1215, 375));
    m_form.cmdDisconnect->setEnabled(false);

    m_form.usar_proxy = named(new QCheckBox(QStringLiteral("Usar Proxy"), client), "usar_proxy");
    m_form.usar_proxy->setGeometry(rectFromTwips(5160, 120, 1215, 255));

    const QFont boxFont = platform::system::fixedsysFont();
    const QColor boxBack = platform::system::colourFromWord(kBoxBackColour);
    m_form.txtRcv = named(new ReceiveBox(client), "txtRcv");
    m_form.txtRcv->setGeometry(rectFromTwips(480, 4440, 10935, 2415));
    m_form.txtRcv->setFont(boxFont);
    m_form.txtRcv->setBackColour(boxBack);
    m_form.txtRcv->setAccessibleName(Frame1->title());

    m_form.txtSend = named(new SendBox(client), "txtSend");
    m_form.txtSend->setGeometry(rectFromTwips(480, 2160, 9975, 1455));
    m_form.txtSend->setFont(boxFont);
    m_form.txtSend->setBackColour(boxBack);
    m_form.txtSend->setAccessibleName(Frame2->title());

    m_form.host_remoto = makeHistoryCombo(client, "host_remoto");
    m_form.host_remoto->setGeometry(rectFromTwips(3960, 600, 2175, 315));
    m_form.puerto_remoto = makeHistoryCombo(client, "puerto_remoto");
    m_form.puerto_remoto->setGeometry(rectFromTwips(7080, 600, 855, 315));
    fitLargestPort(*m_form.puerto_remoto);

    m_form.send_button = commandButton(client, "send_button", QStringLiteral("Enviar"));
    m_form.send_button->setGeometry(rectFromTwips(10680, 2640, 735, 375));
    m_form.send_button->setEnabled(false);

    Label1->setBuddy(m_form.host_remoto);
    Label2->setBuddy(m_form.puerto_remoto);
    nameAfter(*m_form.host_remoto, *Label1);
    nameAfter(*m_form.puerto_remoto, *Label2);

    // Tab order by tab index; labels and frames take no focus.
    QWidget *const tabOrder[] = {m_form.host_remoto, m_form.puerto_remoto, m_form.usar_proxy,
                                 m_form.cmdConnect,  m_form.cmdDisconnect, m_form.txtSend,
                                 m_form.send_button, m_form.txtRcv};
    for (std::size_t i = 1; i < std::size(tabOrder); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);

    // The window is exactly the client area and the menu bar; no resizing.
    adjustSize();
    setFixedSize(sizeHint());
}

void tcp_client::wireEvents()
{
    Connection *connection = m_connection.get();
    connect(m_form.cmdConnect, &QPushButton::clicked, connection, &Connection::cmdConnect_Click);
    connect(m_form.cmdDisconnect, &QPushButton::clicked, connection,
            &Connection::cmdDisconnect_Click);
    connect(m_form.tcpClient, &SocketControl::connected, connection,
            &Connection::tcpClient_Connect);
    connect(m_form.tcpClient, &SocketControl::dataArrival, connection,
            &Connection::tcpClient_DataArrival);
    connect(m_form.tcpClient, &SocketControl::closed, connection, &Connection::tcpClient_Close);
    connect(m_form.tcpClient, &SocketControl::error, connection, &Connection::tcpClient_Error);
    // Each new caption is told to assistive technology by the line itself.
    connect(connection, &Connection::statusChanged, m_statusLine, &StatusLine::announce);
    connect(m_form.txtSend, &SendBox::keyPress, connection, &Connection::txtSend_KeyPress);
    connect(m_form.send_button, &QPushButton::clicked, connection, &Connection::send_button_Click);
    // toggled, not clicked: the menu item's tick counts as a click of the box.
    connect(m_form.usar_proxy, &QCheckBox::toggled, this, &tcp_client::usar_proxy_Click);
    connect(proxy_settings_menu, &QAction::triggered, this, &tcp_client::proxy_settings_menu_Click);
}

proxy_settings &tcp_client::proxySettings()
{
    if (!m_proxySettings)
        m_proxySettings = new proxy_settings(*this, *m_connection);
    return *m_proxySettings;
}

QComboBox &tcp_client::proxyHostList()
{
    return *proxySettings().proxy;
}

QComboBox &tcp_client::proxyPortList()
{
    return *proxySettings().puerto;
}

void tcp_client::showProxySettings()
{
    proxySettings().showModeless();
}

void tcp_client::setTarget(const QString &host, const std::optional<QString> &port)
{
    m_form.host_remoto->setEditText(host);
    if (!port)
        return;
    m_form.puerto_remoto->setEditText(*port);
    QMetaObject::invokeMethod(m_form.cmdConnect, &QAbstractButton::click, Qt::QueuedConnection);
}

void tcp_client::usar_proxy_Click()
{
    if (m_form.usar_proxy->isChecked())
        showProxySettings();
}

void tcp_client::proxy_settings_menu_Click()
{
    m_form.usar_proxy->setChecked(true);
    showProxySettings();
}

void tcp_client::closeEvent(QCloseEvent *event)
{
    // Ends the process here, in every state: the connection ends with it.
    platform::system::exitProcess(0);
    event->accept();
}
