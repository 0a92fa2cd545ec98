// The yardstick for Brisol's start-up: a minimal Qt Widgets window (one push
// button, as in Qt's first example), watched the same way (see
// bench_startup.h). Given a fixed size it exposes before any font is
// loaded; with the second argument "text" it takes its size from its
// caption, as Brisol's captions do, and so starts the font system first.

#include "bench_startup.h"

#include <QApplication>
#include <QPushButton>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    reportFirstExpose(application, argc, argv);
    QPushButton window(QStringLiteral("Hola"));
    if (QCoreApplication::arguments().value(2) != QLatin1String("text"))
        window.resize(200, 60);
    window.show();
    return QApplication::exec();
}
