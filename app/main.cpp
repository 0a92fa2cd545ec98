// Brisol's entry: the application with Qt's own strings in Spanish, the main
// window, the event loop. Nothing else runs at start-up.

#include "Translations.h"
#include "tcp_client.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    platform::installSpanishQtTranslations(application);
    tcp_client window;
    window.show();
    return QApplication::exec();
}
