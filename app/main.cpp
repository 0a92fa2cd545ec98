// Brisol's entry: the application with Qt's own strings in Spanish, the main
// window, the event loop. Nothing else runs at start-up.

#include "Translations.h"
#include "tcp_client.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    // BRISOL_APP_ID names the installed desktop entry and icon
    // (packaging/CMakeLists.txt): the desktop matches the windows to the
    // entry by it, and the icon theme finds the icon under it once installed.
    QGuiApplication::setDesktopFileName(QStringLiteral(BRISOL_APP_ID));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral(BRISOL_APP_ID)));
    platform::installSpanishQtTranslations(application);
    tcp_client window;
    window.show();
    return QApplication::exec();
}
