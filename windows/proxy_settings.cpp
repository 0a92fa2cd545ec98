#include "proxy_settings.h"

#include "Captions.h"
#include "CommandButton.h"
#include "HistoryCombo.h"
#include "Twips.h"

#include "connection/Connection.h"
#include "system/Fonts.h"

#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QPushButton>

proxy_settings::proxy_settings(QWidget &owner, Connection &connection)
    : QWidget(&owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      m_connection(connection)
{
    setObjectName(QStringLiteral("proxy_settings"));
    setWindowTitle(QStringLiteral("Configuración Proxy"));
    setFont(platform::system::msSansSerifFont());
    setFixedSize(pixelsFromTwips(4695), pixelsFromTwips(1335));

    auto *label1 = new QLabel(QStringLiteral("Proxy HTTP"), this);
    label1->setObjectName(QStringLiteral("Label1"));
    label1->setGeometry(rectFromTwips(240, 240, 975, 255));
    fitCaption(*label1);
    auto *label2 = new QLabel(QStringLiteral("Puerto"), this);
    label2->setObjectName(QStringLiteral("Label2"));
    label2->setGeometry(rectFromTwips(240, 720, 615, 255));
    fitCaption(*label2);

    proxy = makeHistoryCombo(this, "proxy");
    proxy->setGeometry(rectFromTwips(1320, 240, 2175, 315));
    puerto = makeHistoryCombo(this, "puerto");
    puerto->setGeometry(rectFromTwips(840, 720, 855, 315));
    fitLargestPort(*puerto);
    OKButton = new CommandButton(QStringLiteral("Aceptar"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setGeometry(rectFromTwips(3720, 480, 855, 375));

    label1->setBuddy(proxy);
    label2->setBuddy(puerto);
    nameAfter(*proxy, *label1);
    nameAfter(*puerto, *label2);
    setTabOrder(proxy, puerto);
    setTabOrder(puerto, OKButton);

    connect(OKButton, &QPushButton::clicked, this, &proxy_settings::OKButton_Click);
}

void proxy_settings::showModeless()
{
    show();
    raise();
    activateWindow();
}

void proxy_settings::OKButton_Click()
{
    m_connection.proxy_host_str = proxy->currentText();
    m_connection.proxy_puerto_str = puerto->currentText();
    hide();
}

bool proxy_settings::event(QEvent *event)
{
    // Every activation, not only the first showing, puts the focus in the
    // host field.
    if (event->type() == QEvent::WindowActivate)
        proxy->setFocus(Qt::ActiveWindowFocusReason);
    return QWidget::event(event);
}
