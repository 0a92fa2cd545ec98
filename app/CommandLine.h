#pragma once

// The program's command line, read before any application object exists:
// help, version and mistakes end the program at once, without a display; a
// host, and a port with it, are what the main window opens with. A plain
// function of the arguments, so that main() only carries out its result.

#include <QString>
#include <QStringList>

#include <optional>

struct CommandLine
{
    // Set when the program ends at once, with this exit code, and no window.
    std::optional<int> exitCode;
    // The texts for standard output and standard error before it ends.
    QString output;
    QString errors;
    // The host field's text, and the port field's; with both, "Conectar" is
    // pressed once the window is shown.
    std::optional<QString> host;
    std::optional<QString> port;
};

// `arguments` as the program gets them, its own name first.
CommandLine parseCommandLine(const QStringList &arguments);
