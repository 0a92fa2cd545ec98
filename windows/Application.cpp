#include "Application.h"

#include "system/Translations.h"

#include <QApplication>
#include <QIcon>

void setUpApplication(QApplication &application)
{
    // BRISOL_APP_ID names the installed desktop entry and icon
    // (packaging/CMakeLists.txt): the desktop matches the windows to the
    // entry by it, and the icon theme finds the icon under it once installed.
    QGuiApplication::setDesktopFileName(QStringLiteral(BRISOL_APP_ID));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral(BRISOL_APP_ID)));
    platform::system::installSpanishQtTranslations(application);
}
