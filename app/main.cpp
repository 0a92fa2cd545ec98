// Brisol's entry: the command line first, which may end the program before
// anything needs a display; then the application set up (Qt's own strings in
// Spanish among it), the main window, the event loop. Nothing else runs at
// start-up.

#include "CommandLine.h"
#include "system/Console.h"
#include "windows/Application.h"
#include "windows/tcp_client.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const CommandLine commandLine = parseCommandLine(arguments);
    if (commandLine.exitCode) {
        platform::system::attachParentConsole();
        std::fputs(commandLine.output.toLocal8Bit().constData(), stdout);
        std::fputs(commandLine.errors.toLocal8Bit().constData(), stderr);
        return *commandLine.exitCode;
    }

    QApplication application(argc, argv);
    setUpApplication(application);
    tcp_client window;
    if (commandLine.host)
        window.setTarget(*commandLine.host, commandLine.port);
    window.show();
    return QApplication::exec();
}
