// Brisol's entry: the application with Qt's own strings in Spanish, the main
// window, the event loop. Nothing else runs at start-up.

#include "tcp_client.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);

    QTranslator qtTranslations;
    if (qtTranslations.load(QLocale(QLocale::Spanish), QStringLiteral("qtbase"),
                            QStringLiteral("_"),
                            QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTranslations);

    tcp_client window;
    window.show();
    return QApplication::exec();
}
