// The yardstick for Brisol's start-up: a minimal Qt Widgets window (one push
// button, as in Qt's first example), watched the same way (see
// bench_startup.h).

#include "bench_startup.h"

#include <QApplication>
#include <QPushButton>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    reportFirstExpose(application, argc, argv);
    QPushButton window(QStringLiteral("Hola"));
    window.resize(200, 60);
    window.show();
    return QApplication::exec();
}
