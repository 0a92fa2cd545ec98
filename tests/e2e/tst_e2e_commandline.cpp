// The command line through the real binary: for each form of it, what the
// program prints, its exit code, and whether its window opens and connects
// by itself. The forms that end at once run with no display at all, which
// proves they need none; the window rows need DISPLAY with a window manager
// (tests/e2e/with_xsession.sh) and are skipped without it. BRISOL_BINARY
// names the binary.

#include "NetworkFixtures.h"
#include "brisol_version.h"

#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

namespace {

// Stands for the loopback peer's port in a row's arguments.
const QString kPeerPort = QStringLiteral("PORT");

QByteArray run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(30000);
    return process.readAllStandardOutput();
}

// The visible windows of a process titled as the main window: the window
// itself, and a message box, which carries the same title.
QStringList windowsOf(const QProcess &process)
{
    QString title = QRegularExpression::escape(QStringLiteral(BRISOL_TITLE));
    const QByteArray found =
        run(QStringLiteral("xdotool"),
            {QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--onlyvisible"),
             QStringLiteral("--pid"), QString::number(process.processId()),
             QStringLiteral("--name"), QLatin1Char('^') + title + QLatin1Char('$')});
    return QString::fromLatin1(found).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// Clicks the port field of the main window once the window manager manages
// the window, and types the port there as a user would; then Tab over "Usar
// Proxy" to "Conectar", pressed with Enter.
bool typePortAndConnect(const QString &window, quint16 port)
{
    const QByteArray managed = QByteArray::number(window.toULongLong(), 16);
    if (!QTest::qWaitFor(
            [&] { return run(QStringLiteral("wmctrl"), {QStringLiteral("-l")}).contains(managed); },
            20000))
        return false;
    int height = 0;
    const QByteArray shell = run(QStringLiteral("xdotool"), {QStringLiteral("getwindowgeometry"),
                                                             QStringLiteral("--shell"), window});
    for (const QByteArray &line : shell.split('\n'))
        if (line.startsWith("HEIGHT="))
            height = line.mid(7).toInt();
    // The client area is 521 pixels high under the menu bar; twips at 15 a pixel.
    const int menuHeight = height - 521;
    if (menuHeight <= 0)
        return false;
    const QString xdotool = QStringLiteral("xdotool");
    run(xdotool,
        {QStringLiteral("mousemove"), QStringLiteral("--window"), window,
         QString::number((7080 + 400) / 15), QString::number(menuHeight + (600 + 150) / 15),
         QStringLiteral("click"), QStringLiteral("1")});
    run(xdotool, {QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"),
                  QString::number(port)});
    for (const char *key : {"Tab", "Tab", "Return"})
        run(xdotool, {QStringLiteral("key"), QLatin1String(key)});
    return true;
}

} // namespace

class TestCommandLine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void commandLine_data();
    void commandLine();

private:
    QString m_binary;
};

void TestCommandLine::initTestCase()
{
    m_binary = qEnvironmentVariable("BRISOL_BINARY");
    QVERIFY2(!m_binary.isEmpty(), "BRISOL_BINARY names the binary under test");
}

void TestCommandLine::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    // -1: the program goes on, with its window, until the test kills it.
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");
    // Not looked at while the window is up: Qt may warn there.
    QTest::addColumn<QString>("errors");
    // Visible windows titled as the main window: it, and a message box.
    QTest::addColumn<int>("windows");
    // The user then types the peer's port and presses "Conectar".
    QTest::addColumn<bool>("typePort");
    QTest::addColumn<bool>("connects");

    const QString nothing = QStringLiteral("\\A\\z");
    const QString help = QStringLiteral("\\AUso: brisol .*\n  -h, --help +Muestra esta ayuda y "
                                        "sale\\.\n  -v, --version +Muestra la versión y sale\\.\n");
    const QString version =
        QStringLiteral("\\A") +
        QRegularExpression::escape(QStringLiteral("Brisol " BRISOL_VERSION "\n")) +
        QStringLiteral("\\z");
    const QString usageAfter = QStringLiteral("\n\nUso: brisol ");

    QTest::newRow("no arguments: the window as ever")
        << QStringList{} << -1 << nothing << QString() << 1 << false << false;
    QTest::newRow("--help") << QStringList{QStringLiteral("--help")} << 0 << help << nothing << 0
                            << false << false;
    QTest::newRow("-h") << QStringList{QStringLiteral("-h")} << 0 << help << nothing << 0 << false
                        << false;
    QTest::newRow("--version") << QStringList{QStringLiteral("--version")} << 0 << version
                               << nothing << 0 << false << false;
    QTest::newRow("-v") << QStringList{QStringLiteral("-v")} << 0 << version << nothing << 0
                        << false << false;
    QTest::newRow("unknown option")
        << QStringList{QStringLiteral("--foo")} << 2 << nothing
        << QStringLiteral("\\Abrisol: opción desconocida «--foo»") + usageAfter << 0 << false
        << false;
    QTest::newRow("value after an option")
        << QStringList{QStringLiteral("--version=2")} << 2 << nothing
        << QStringLiteral("\\Abrisol: la opción «--version» no lleva valor") + usageAfter << 0
        << false << false;
    QTest::newRow("extra argument")
        << QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")} << 2
        << nothing << QStringLiteral("\\Abrisol: sobra el argumento «c»") + usageAfter << 0 << false
        << false;
    QTest::newRow("host only: filled in, no connection until the port is typed")
        << QStringList{QStringLiteral("127.0.0.1")} << -1 << nothing << QString() << 1 << true
        << true;
    QTest::newRow("host and port: connects without a click")
        << QStringList{QStringLiteral("127.0.0.1"), kPeerPort} << -1 << nothing << QString() << 1
        << false << true;
    QTest::newRow("host and invalid port: the message box of a click")
        << QStringList{QStringLiteral("127.0.0.1"), QStringLiteral("0")} << -1 << nothing
        << QString() << 2 << false << false;
}

void TestCommandLine::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    QFETCH(QString, errors);
    QFETCH(int, windows);
    QFETCH(bool, typePort);
    QFETCH(bool, connects);

    LoopbackPeer peer;
    QSignalSpy accepted(&peer, &LoopbackPeer::accepted);
    arguments.replaceInStrings(kPeerPort, peer.portText());

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    if (windows == 0) {
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    } else {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("no X display: run through tests/e2e/with_xsession.sh");
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    }
    QProcess brisol;
    brisol.setProcessEnvironment(environment);
    brisol.start(m_binary, arguments);
    QVERIFY(brisol.waitForStarted());

    if (exitCode >= 0) {
        QVERIFY(brisol.waitForFinished(30000));
        QCOMPARE(brisol.exitStatus(), QProcess::NormalExit);
        QCOMPARE(brisol.exitCode(), exitCode);
    } else {
        QStringList shown;
        QVERIFY(QTest::qWaitFor(
            [&] {
                shown = windowsOf(brisol);
                return shown.size() >= windows;
            },
            20000));
        QCOMPARE(shown.size(), windows);
        QCOMPARE(brisol.state(), QProcess::Running);
        if (typePort) {
            QVERIFY2(!peer.connectionWaiting(), "connected before the port was typed");
            QVERIFY(typePortAndConnect(shown.first(), peer.port()));
        }
        if (connects)
            QVERIFY(accepted.count() > 0 || accepted.wait(20000));
        else
            QVERIFY2(!peer.connectionWaiting(), "connected with a port refused");
        brisol.kill();
        QVERIFY(brisol.waitForFinished(20000));
    }

    const QRegularExpression::PatternOptions options =
        QRegularExpression::DotMatchesEverythingOption;
    const QString printed = QString::fromUtf8(brisol.readAllStandardOutput());
    QVERIFY2(QRegularExpression(output, options).match(printed).hasMatch(), qPrintable(printed));
    if (exitCode >= 0) {
        const QString complained = QString::fromUtf8(brisol.readAllStandardError());
        QVERIFY2(QRegularExpression(errors, options).match(complained).hasMatch(),
                 qPrintable(complained));
    }
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_e2e_commandline.moc"
