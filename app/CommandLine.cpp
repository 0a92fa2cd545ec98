#include "CommandLine.h"

#include "brisol_version.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

namespace {

// The exit code of a command line that cannot be carried out.
constexpr int kUsageError = 2;

// How the user writes an option: one letter after one dash, a word after two.
QString spelled(const QString &name)
{
    return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
}

QString usage(const QList<QCommandLineOption> &options)
{
    QString text = QStringLiteral(
        "Uso: brisol [OPCIÓN]... [EQUIPO [PUERTO]]\n"
        "Cliente TCP interactivo en texto plano.\n"
        "\n"
        "Con EQUIPO, la ventana se abre con él escrito en «Equipo Remoto». Con EQUIPO\n"
        "y PUERTO, con los dos escritos, y se pulsa «Conectar».\n"
        "\n"
        "Opciones:\n");
    // Each option's spellings, then its description in a column of its own.
    QStringList spellings;
    for (const QCommandLineOption &option : options) {
        QStringList names = option.names();
        for (QString &name : names)
            name = spelled(name);
        spellings.append(names.join(QStringLiteral(", ")));
    }
    qsizetype width = 0;
    for (const QString &spelling : spellings)
        width = qMax(width, spelling.size());
    for (qsizetype i = 0; i < options.size(); ++i)
        text += QStringLiteral("  ") + spellings.at(i).leftJustified(width) + QStringLiteral("  ") +
                options.at(i).description() + QLatin1Char('\n');
    return text;
}

// What is wrong with a command line that QCommandLineParser refused. An
// option of ours refuses only a value given with "=", as in "--help=x".
QString refusal(const QCommandLineParser &parser, const QStringList &arguments,
                const QList<QCommandLineOption> &options)
{
    const QStringList unknown = parser.unknownOptionNames();
    if (!unknown.isEmpty())
        return QStringLiteral("opción desconocida «%1»").arg(spelled(unknown.first()));
    for (const QString &argument : arguments.mid(1)) {
        if (argument == QStringLiteral("--"))
            break;
        if (!argument.startsWith(QStringLiteral("--")) || !argument.contains(QLatin1Char('=')))
            continue;
        const QString name = argument.section(QLatin1Char('='), 0, 0).mid(2);
        for (const QCommandLineOption &option : options)
            if (option.names().contains(name))
                return QStringLiteral("la opción «%1» no lleva valor").arg(spelled(name));
    }
    return QStringLiteral("argumentos no válidos");
}

CommandLine usageError(const QString &message, const QString &usageText)
{
    CommandLine result;
    result.exitCode = kUsageError;
    result.errors = QStringLiteral("brisol: %1\n\n%2").arg(message, usageText);
    return result;
}

} // namespace

CommandLine parseCommandLine(const QStringList &arguments)
{
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Muestra esta ayuda y sale."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Muestra la versión y sale."));
    const QList<QCommandLineOption> options = {help, version};
    const QString usageText = usage(options);

    QCommandLineParser parser;
    parser.addOptions(options);
    if (!parser.parse(arguments))
        return usageError(refusal(parser, arguments, options), usageText);

    CommandLine result;
    if (parser.isSet(help)) {
        result.exitCode = 0;
        result.output = usageText;
        return result;
    }
    if (parser.isSet(version)) {
        result.exitCode = 0;
        result.output = QStringLiteral("Brisol " BRISOL_VERSION "\n");
        return result;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() > 2)
        return usageError(QStringLiteral("sobra el argumento «%1»").arg(positional.at(2)),
                          usageText);
    if (!positional.isEmpty())
        result.host = positional.at(0);
    if (positional.size() == 2)
        result.port = positional.at(1);
    return result;
}
