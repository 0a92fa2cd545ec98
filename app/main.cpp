// Brisol's entry: the application set up (Qt's own strings in Spanish among
// it), the main window, the event loop. Nothing else runs at start-up.

#include "windows/Application.h"
#include "windows/tcp_client.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    setUpApplication(application);
    tcp_client window;
    window.show();
    return QApplication::exec();
}
