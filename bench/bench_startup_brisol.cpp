// Brisol's start-up as app/main.cpp makes it, with a watch for the first
// expose of its window (see bench_startup.h).

#include "bench_startup.h"

#include "Translations.h"
#include "tcp_client.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    reportFirstExpose(application, argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral(BRISOL_APP_ID));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral(BRISOL_APP_ID)));
    platform::installSpanishQtTranslations(application);
    tcp_client window;
    window.show();
    return QApplication::exec();
}
