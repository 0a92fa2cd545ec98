// Everything either window shows reads in Spanish: our captions, and Qt's own
// strings (context menus, the message box's button, shortcut names), which
// come from Qt's Spanish translations as the application installs them.
// Each place is searched for English words a missing translation would leave,
// and for the Spanish texts it must show.

#include "WindowTestSupport.h"
#include "windows/tcp_client_p.h"

#include "brisol_version.h"
#include "receivebox/ReceiveBox.h"
#include "sendbox/SendBox.h"
#include "system/ProcessExit_p.h"
#include "system/Translations.h"
#include "windows/proxy_settings.h"
#include "windows/tcp_client.h"

#include <QAbstractButton>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTest>

namespace {

void ignoreExit(int) {}

// What a menu shows: each item's caption without its access-key marker, and
// its shortcut as drawn beside it.
QStringList menuStrings(const QMenu &menu)
{
    QStringList strings;
    for (const QAction *action : menu.actions()) {
        if (action->isSeparator() || !action->isVisible())
            continue;
        const QStringList parts = action->text().split(QLatin1Char('\t'));
        for (const QString &part : parts)
            strings << QString(part).remove(QLatin1Char('&'));
        if (!action->shortcut().isEmpty())
            strings << action->shortcut().toString(QKeySequence::NativeText);
        if (action->menu())
            strings << menuStrings(*action->menu());
    }
    return strings;
}

// Takes a menu that owns itself and returns what it showed.
QStringList stringsOfMenu(QMenu *menu)
{
    const QStringList strings = menuStrings(*menu);
    delete menu;
    return strings;
}

// What a window shows: its title, every visible caption, title, tooltip and
// menu bar item.
QStringList shownStrings(const QWidget &window)
{
    QStringList strings{window.windowTitle()};
    for (const QWidget *widget : window.findChildren<QWidget *>()) {
        if (!widget->isVisibleTo(&window))
            continue;
        strings << widget->toolTip() << widget->statusTip() << widget->whatsThis();
        if (auto *label = qobject_cast<const QLabel *>(widget))
            strings << label->text();
        else if (auto *button = qobject_cast<const QAbstractButton *>(widget))
            strings << button->text();
        else if (auto *frame = qobject_cast<const QGroupBox *>(widget))
            strings << frame->title();
        else if (auto *edit = qobject_cast<const QLineEdit *>(widget))
            strings << edit->placeholderText();
        else if (auto *bar = qobject_cast<const QMenuBar *>(widget))
            for (const QAction *action : bar->actions())
                strings << action->text().remove(QLatin1Char('&'));
    }
    strings.removeAll(QString());
    return strings;
}

// The menu a widget pops up on a right click, read while it is open.
QStringList poppedUpMenuStrings(QWidget *widget)
{
    QStringList strings;
    bool seen = false;
    QTimer::singleShot(0, widget, [&] {
        if (auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())) {
            seen = true;
            strings = menuStrings(*menu);
            menu->close();
        }
    });
    const QPoint centre = widget->rect().center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, centre, widget->mapToGlobal(centre));
    QApplication::sendEvent(widget, &event);
    if (!seen)
        qWarning("no menu popped up on %s", qPrintable(widget->objectName()));
    return strings;
}

const QStringList lineEditMenu = {QStringLiteral("Deshacer"),        QStringLiteral("Rehacer"),
                                  QStringLiteral("Cortar"),          QStringLiteral("Copiar"),
                                  QStringLiteral("Pegar"),           QStringLiteral("Borrar"),
                                  QStringLiteral("Seleccionar todo")};

} // namespace

class TestSpanish : public QObject
{
    Q_OBJECT

public:
    enum Place {
        MainWindow,
        OptionsMenu,
        ProxyWindow,
        HostFieldMenu,
        PortFieldMenu,
        ProxyHostFieldMenu,
        ProxyPortFieldMenu,
        SendBoxMenuAtStart,
        SendBoxMenuConnected,
        SendBoxMenuAfterDisconnecting,
        ReceiveBoxMenu,
        ReceiveBoxScrollBarMenu,
        MessageBoxOfConectar,
    };
    Q_ENUM(Place)

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void noEnglishIsShown_data();
    void noEnglishIsShown();

private:
    QStringList stringsShownAt(Place place);
    QStringList messageBoxOfConectar();
    bool connectToPeer(const LoopbackPeer &peer);

    std::unique_ptr<tcp_client> m_window;
};

void TestSpanish::initTestCase()
{
    platform::system::setExitHandler(&ignoreExit);
    QVERIFY2(platform::system::installSpanishQtTranslations(*QCoreApplication::instance()),
             "Qt's Spanish translations are not installed (qt6-translations-l10n)");
}

void TestSpanish::init()
{
    m_window = std::make_unique<tcp_client>();
    m_window->show();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
}

void TestSpanish::cleanup()
{
    m_window.reset();
}

QStringList TestSpanish::messageBoxOfConectar()
{
    // "Conectar" with no host: the message box of invalid data, read while
    // it is open, then answered.
    QStringList strings;
    QTimer watcher;
    watcher.setInterval(0);
    connect(&watcher, &QTimer::timeout, this, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        strings = shownStrings(*box);
        watcher.stop();
        box->button(QMessageBox::Ok)->click();
    });
    watcher.start();
    QTest::mouseClick(controls(*m_window).cmdConnect, Qt::LeftButton);
    return strings;
}

bool TestSpanish::connectToPeer(const LoopbackPeer &peer)
{
    tcp_client &w = *m_window;
    typeInCombo(controls(w).host_remoto, QStringLiteral("127.0.0.1"));
    typeInCombo(controls(w).puerto_remoto, peer.portText());
    QTest::mouseClick(controls(w).cmdConnect, Qt::LeftButton);
    return QTest::qWaitFor(
        [&] {
            return !controls(w).txtSend->isReadOnly() && controls(w).cmdDisconnect->isEnabled();
        },
        10000);
}

QStringList TestSpanish::stringsShownAt(Place place)
{
    tcp_client &w = *m_window;
    switch (place) {
    case MainWindow:
        return shownStrings(w);
    case OptionsMenu:
        return menuStrings(*controls(w).options_menu);
    case ProxyWindow:
        controls(w).proxy_settings_menu->trigger();
        return shownStrings(*w.proxySettingsWindow());
    case HostFieldMenu:
        return stringsOfMenu(controls(w).host_remoto->lineEdit()->createStandardContextMenu());
    case PortFieldMenu:
        return stringsOfMenu(controls(w).puerto_remoto->lineEdit()->createStandardContextMenu());
    case ProxyHostFieldMenu:
        controls(w).proxy_settings_menu->trigger();
        return stringsOfMenu(
            w.proxySettingsWindow()->proxy->lineEdit()->createStandardContextMenu());
    case ProxyPortFieldMenu:
        controls(w).proxy_settings_menu->trigger();
        return stringsOfMenu(
            w.proxySettingsWindow()->puerto->lineEdit()->createStandardContextMenu());
    case SendBoxMenuAtStart:
        return stringsOfMenu(controls(w).txtSend->createStandardContextMenu());
    case SendBoxMenuConnected: {
        LoopbackPeer peer;
        if (!connectToPeer(peer))
            return {};
        return stringsOfMenu(controls(w).txtSend->createStandardContextMenu());
    }
    case SendBoxMenuAfterDisconnecting: {
        // Back to idle, the box is read-only: its menu only copies and selects.
        LoopbackPeer peer;
        if (!connectToPeer(peer))
            return {};
        QTest::mouseClick(controls(w).cmdDisconnect, Qt::LeftButton);
        if (!controls(w).txtSend->isReadOnly())
            return {};
        return stringsOfMenu(controls(w).txtSend->createStandardContextMenu());
    }
    case ReceiveBoxMenu:
        return stringsOfMenu(controls(w).txtRcv->createContextMenu(nullptr));
    case ReceiveBoxScrollBarMenu:
        return poppedUpMenuStrings(controls(w).txtRcv->verticalScrollBar());
    case MessageBoxOfConectar:
        return messageBoxOfConectar();
    }
    return {};
}

void TestSpanish::noEnglishIsShown_data()
{
    QTest::addColumn<Place>("place");
    QTest::addColumn<QStringList>("spanish");

    QTest::newRow("main window")
        << MainWindow
        << QStringList{QStringLiteral(BRISOL_TITLE),  QStringLiteral("Opciones"),
                       QStringLiteral("Usar Proxy"),  QStringLiteral("Equipo Remoto"),
                       QStringLiteral("Puerto"),      QStringLiteral("Conectar"),
                       QStringLiteral("Desconectar"), QStringLiteral("Ventana de Envío"),
                       QStringLiteral("Enviar"),      QStringLiteral("Ventana de Recepción"),
                       QStringLiteral("Listo")};
    QTest::newRow("menu Opciones")
        << OptionsMenu << QStringList{QStringLiteral("Configurar Proxy")};
    QTest::newRow("proxy settings window")
        << ProxyWindow
        << QStringList{QStringLiteral("Configuración Proxy"), QStringLiteral("Proxy HTTP"),
                       QStringLiteral("Puerto"), QStringLiteral("Aceptar")};
    QTest::newRow("menu of the host field") << HostFieldMenu << lineEditMenu;
    QTest::newRow("menu of the port field") << PortFieldMenu << lineEditMenu;
    QTest::newRow("menu of the proxy host field") << ProxyHostFieldMenu << lineEditMenu;
    QTest::newRow("menu of the proxy port field") << ProxyPortFieldMenu << lineEditMenu;
    QTest::newRow("menu of the send box at start") << SendBoxMenuAtStart << lineEditMenu;
    QTest::newRow("menu of the send box, connected") << SendBoxMenuConnected << lineEditMenu;
    QTest::newRow("menu of the send box after Desconectar")
        << SendBoxMenuAfterDisconnecting
        << QStringList{QStringLiteral("Copiar"), QStringLiteral("Seleccionar todo")};
    QTest::newRow("menu of the receive box")
        << ReceiveBoxMenu
        << QStringList{QStringLiteral("Copiar"), QStringLiteral("Seleccionar todo")};
    QTest::newRow("menu of the receive box's scroll bar")
        << ReceiveBoxScrollBarMenu
        << QStringList{QStringLiteral("Desplazar hasta aquí"), QStringLiteral("Parte superior"),
                       QStringLiteral("Parte inferior")};
    QTest::newRow("message box of Conectar with no host")
        << MessageBoxOfConectar
        << QStringList{QStringLiteral(BRISOL_TITLE),
                       QStringLiteral("Datos del equipo remoto no válidos"),
                       QStringLiteral("Aceptar")};
}

void TestSpanish::noEnglishIsShown()
{
    QFETCH(Place, place);
    QFETCH(QStringList, spanish);

    const QStringList shown = stringsShownAt(place);
    QVERIFY2(!shown.isEmpty(), "nothing was shown");

    // Words an untranslated Qt string shows; whole words, as written.
    static const QRegularExpression english(QStringLiteral(
        "\\b(Undo|Redo|Cut|Copy|Paste|Delete|Select All|OK|Cancel|Close|Apply|Yes|Help|"
        "Clear|Ctrl|Shift|Scroll|Page|Top|Bottom|Left edge|Right edge|Show Details)\\b"));
    for (const QString &text : shown)
        QVERIFY2(!english.match(text).hasMatch(),
                 qPrintable(QStringLiteral("English shown: \"%1\" among: %2")
                                .arg(text, shown.join(QStringLiteral(" | ")))));

    // Only a shortcut's name may stand beside a caption: each Spanish text
    // must be one of the strings shown, exactly.
    for (const QString &text : spanish)
        QVERIFY2(shown.contains(text),
                 qPrintable(QStringLiteral("\"%1\" not shown; shown: %2")
                                .arg(text, shown.join(QStringLiteral(" | ")))));
}

QTEST_MAIN(TestSpanish)
#include "tst_spanish.moc"
