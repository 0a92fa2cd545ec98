// Brisol's start-up as app/main.cpp makes it, with a watch for the first
// expose of its window (see bench_startup.h).

#include "bench_startup.h"

#include "windows/Application.h"
#include "windows/tcp_client.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    reportFirstExpose(application, argc, argv);
    setUpApplication(application);
    tcp_client window;
    window.show();
    return QApplication::exec();
}
