// The real binary under X, driven as a person would with xdotool: type the
// host and port, Tab to "Conectar" and press Enter, type a line with ñ and á and
// Enter, read the bytes at a loopback server, select and copy the send box
// (nothing more goes out), have the server answer with text and a NUL, Tab
// into the receive box and copy it to the clipboard, look at the status
// line's colour on a screenshot, click "Desconectar", close the window. Then
// the same through
// tinyproxy. Then, in another session, save what was received with Ctrl+S
// and the save dialog (compared with cmp), and find a word at the end of
// 1 GiB with Ctrl+F. And a binary stream shown in hexadecimal (switched
// with Ctrl+H or from the context menu), its rows copied with Ctrl+C and
// read back into bytes, its bytes copied with "Copiar como hexadecimal", and
// the text view again. And a session log opened mid-stream, the window closed
// by its close box: the file holds every byte sent, exit code 0. Needs DISPLAY
// (tests/e2e/with_xsession.sh provides one) and the binary's path in BRISOL_BINARY.

#include "ByteStreams.h"
#include "NetworkFixtures.h"
#include "PeerReset.h"
#include "brisol_version.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Runs a command and gives its standard output; fails the test on error.
QByteArray run(const QString &program, const QStringList &arguments, int timeoutMs = 30000)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs) || process.exitCode() != 0) {
        qWarning("%s %s failed: %s", qPrintable(program), qPrintable(arguments.join(u' ')),
                 process.readAllStandardError().constData());
        return {};
    }
    return process.readAllStandardOutput();
}

QByteArray xdotool(const QStringList &arguments)
{
    return run(QStringLiteral("xdotool"), arguments);
}

// Client-area positions: the layout's twips, 15 to the pixel, below the menu.
struct Window
{
    QString id;
    int menuHeight = 0;

    void click(int xTwips, int yTwips) const
    {
        xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), id,
                 QString::number(xTwips / 15), QString::number(menuHeight + yTwips / 15),
                 QStringLiteral("click"), QStringLiteral("1")});
    }
    QImage screenshot() const
    {
        return QImage::fromData(
            run(QStringLiteral("import"), {QStringLiteral("-window"), id, QStringLiteral("png:-")}),
            "PNG");
    }
    // Pixels of the status line that are of the colour asked for.
    int statusPixels(const std::function<bool(QRgb)> &isColour) const
    {
        const QImage image = screenshot();
        int count = 0;
        for (int y = menuHeight + 7320 / 15; y < menuHeight + (7320 + 375) / 15; ++y)
            for (int x = 240 / 15; x < (240 + 11415) / 15; ++x)
                if (y < image.height() && x < image.width() && isColour(image.pixel(x, y)))
                    ++count;
        return count;
    }
};

// Waits for a visible window whose title matches, managed by the window
// manager, so that clicks reach it.
Window findWindow(const QString &namePattern)
{
    Window window;
    const QStringList search = {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                QStringLiteral("--name"), namePattern};
    if (!QTest::qWaitFor([&] { return !xdotool(search).isEmpty(); }, 20000))
        return window;
    window.id = QString::fromLatin1(xdotool(search).split('\n').value(0));
    const QByteArray managed = QByteArray::number(window.id.toULongLong(), 16);
    if (!QTest::qWaitFor(
            [&] { return run(QStringLiteral("wmctrl"), {QStringLiteral("-l")}).contains(managed); },
            20000))
        window.id.clear();
    const QByteArray shell =
        xdotool({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), window.id});
    for (const QByteArray &line : shell.split('\n'))
        if (line.startsWith("HEIGHT="))
            window.menuHeight = line.mid(7).toInt() - 521;
    return window;
}

// The pattern that matches exactly this title, for xdotool's extended
// regular expressions.
QString exactly(const QString &title)
{
    QString pattern = QStringLiteral("^");
    for (const QChar c : title) {
        if (QStringLiteral(".[]{}()*+?^$|\\").contains(c))
            pattern += QLatin1Char('\\');
        pattern += c;
    }
    return pattern + QLatin1Char('$');
}

void type(const QString &text)
{
    xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"), text});
}

void key(const QString &name)
{
    xdotool({QStringLiteral("key"), name});
}

QString clipboard()
{
    return QString::fromUtf8(run(
        QStringLiteral("xclip"),
        {QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard")}, 5000));
}

bool isLowerHexDigit(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f');
}

// Reads back the bytes of rows copied from the hexadecimal view: each line
// the offset in lowercase hex (eight digits or more), two spaces, sixteen
// slots of a hex pair or two blanks (a byte not selected, or past the end),
// a space between slots and two between the groups of eight, two spaces,
// then one character a byte, a dot for a control byte or a NUL. The bytes
// must follow one another from offset 0 on; the characters of bytes below
// 0x7F are checked too, those above depend on the code page. Gives an empty
// string, or what is wrong with the text.
QString bytesOfRows(const QString &rows, QByteArray &bytes)
{
    bytes.clear();
    if (rows.contains(u'\r'))
        return QStringLiteral("the rows end in CR LF, not LF");
    QStringList lines = rows.split(u'\n');
    if (lines.size() > 1 && lines.constLast().isEmpty())
        lines.removeLast();
    for (qsizetype n = 0; n < lines.size(); ++n) {
        const QString &line = lines[n];
        const auto wrong = [&](const QString &what) {
            return QStringLiteral("row %1, '%2': %3").arg(n).arg(line, what);
        };
        // Columns past the end of a line are blanks a copy may leave out.
        const auto at = [&](qsizetype column) {
            return column < line.size() ? line[column] : QChar(u' ');
        };
        qsizetype digits = 0;
        while (isLowerHexDigit(at(digits)))
            ++digits;
        if (digits < 8 || line.left(digits).toLongLong(nullptr, 16) != 16 * n)
            return wrong(QStringLiteral("not the offset %1 in eight lowercase hex digits or more")
                             .arg(16 * n, 0, 16));
        const qsizetype characters = digits + 2 + 16 * 3 + 1 + 1;
        if (at(characters - 2) != u' ' || at(characters - 1) != u' ')
            return wrong(QStringLiteral("no two blanks before the characters"));
        for (int slot = 0; slot < 16; ++slot) {
            const qsizetype column = digits + 2 + 3 * slot + (slot >= 8 ? 1 : 0);
            const bool twoBlanks = slot == 0 || slot == 8;
            if (at(column - 1) != u' ' || (twoBlanks && at(column - 2) != u' '))
                return wrong(
                    QStringLiteral("not %1 before slot %2")
                        .arg(twoBlanks ? QStringLiteral("two blanks") : QStringLiteral("a blank"))
                        .arg(slot));
            if (at(column) == u' ' && at(column + 1) == u' ')
                continue;
            if (!isLowerHexDigit(at(column)) || !isLowerHexDigit(at(column + 1)))
                return wrong(
                    QStringLiteral("slot %1 is neither a lowercase hex pair nor blank").arg(slot));
            if (16 * n + slot != bytes.size())
                return wrong(QStringLiteral("a gap before slot %1").arg(slot));
            const int byte = line.mid(column, 2).toInt(nullptr, 16);
            bytes.append(static_cast<char>(byte));
            const QChar shown = at(characters + slot);
            const QChar expected = byte < 0x20 ? QChar(u'.') : QChar(byte);
            if (byte < 0x7F && shown != expected)
                return wrong(QStringLiteral("slot %1 is shown as '%2', not '%3'")
                                 .arg(slot)
                                 .arg(shown)
                                 .arg(expected));
        }
    }
    return {};
}

// Where two byte arrays first differ, for a failure's message.
QString firstDifference(const QByteArray &got, const QByteArray &expected)
{
    qsizetype at = 0;
    while (at < got.size() && at < expected.size() && got[at] == expected[at])
        ++at;
    return QStringLiteral("%1 bytes read back, %2 sent; first difference at byte %3")
        .arg(got.size())
        .arg(expected.size())
        .arg(at);
}

// The receive box's context menu, opened with the menu key: how many times
// Down reaches "Ver en hexadecimal" and "Copiar como hexadecimal" from the
// menu as it opens, with a selection in the box ("Copiar" enabled).
constexpr int kSwitchItemDowns = 4;
constexpr int kCopyAsHexItemDowns = 3;

bool isGreen(QRgb pixel)
{
    return qGreen(pixel) > 200 && qRed(pixel) < 80 && qBlue(pixel) < 80;
}

bool isYellow(QRgb pixel)
{
    return qRed(pixel) > 200 && qGreen(pixel) > 200 && qBlue(pixel) < 80;
}

bool isWhite(QRgb pixel)
{
    return qRed(pixel) > 230 && qGreen(pixel) > 230 && qBlue(pixel) > 230;
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void session_data();
    void session();
    void yellowWhileTheProxyHoldsTheConnect();
    void resetTurnsTheStatusIdle();
    void saveAndFind();
    void hexView_data();
    void hexView();
    void sessionLog_data();
    void sessionLog();

private:
    // The real binary on the X display, with those arguments.
    void startBrisol(QProcess &brisol, const QStringList &arguments) const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        brisol.setProcessEnvironment(environment);
        brisol.start(m_binary, arguments);
    }

    // The binary, started with the peer's address on its command line,
    // connected to it: its window found, the status line green.
    void startConnected(QProcess &brisol, LoopbackPeer &peer, QSignalSpy &accepted,
                        Window &window) const
    {
        startBrisol(brisol, {QStringLiteral("127.0.0.1"), peer.portText()});
        QVERIFY(brisol.waitForStarted());
        window = findWindow(exactly(QStringLiteral(BRISOL_TITLE)));
        QVERIFY(!window.id.isEmpty());
        QVERIFY(accepted.count() > 0 || accepted.wait(20000));
        QTRY_VERIFY_WITH_TIMEOUT(window.statusPixels(isGreen) > 20, 20000);
    }

    // "Usar Proxy" ticked, and the proxy's address typed in its window.
    static void useProxy(const Window &window, const QString &port)
    {
        window.click(5160 + 100, 120 + 120); // "Usar Proxy"
        const Window settings = findWindow(QStringLiteral("^Configuraci.+n Proxy$"));
        QVERIFY(!settings.id.isEmpty());
        // The proxy window has no menu: its client area starts at the top.
        Window proxyWindow{settings.id, 0};
        proxyWindow.click(1320 + 1000, 240 + 150);
        type(QStringLiteral("127.0.0.1"));
        proxyWindow.click(840 + 400, 720 + 150);
        type(port);
        proxyWindow.click(3720 + 400, 480 + 180); // "Aceptar"
    }

    // Host and port typed, and "Conectar" pressed with Enter.
    static void connectTo(const Window &window, const QString &port)
    {
        window.click(3960 + 1000, 600 + 150);
        type(QStringLiteral("127.0.0.1"));
        window.click(7080 + 400, 600 + 150);
        type(port);
        // From the port field over "Usar Proxy" to "Conectar".
        key(QStringLiteral("Tab"));
        key(QStringLiteral("Tab"));
        key(QStringLiteral("Return"));
    }

    static void closeWithExitCodeZero(QProcess &brisol, const Window &window)
    {
        run(QStringLiteral("wmctrl"), {QStringLiteral("-i"), QStringLiteral("-c"), window.id});
        QVERIFY(brisol.waitForFinished(20000));
        QCOMPARE(brisol.exitStatus(), QProcess::NormalExit);
        QCOMPARE(brisol.exitCode(), 0);
    }

    QString m_binary;
};

void TestEndToEnd::initTestCase()
{
    m_binary = qEnvironmentVariable("BRISOL_BINARY");
    QVERIFY2(!m_binary.isEmpty(), "BRISOL_BINARY names the binary under test");
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        QSKIP("no X display: run through tests/e2e/with_xsession.sh");
    // A Spanish keyboard, as the users have: ñ has a key of its own, so
    // xdotool need not remap a key for it while the program reads the map.
    run(QStringLiteral("setxkbmap"), {QStringLiteral("-layout"), QStringLiteral("es")});
}

void TestEndToEnd::session_data()
{
    QTest::addColumn<bool>("throughTinyproxy");
    QTest::newRow("direct") << false;
    QTest::newRow("through tinyproxy") << true;
}

void TestEndToEnd::session()
{
    QFETCH(bool, throughTinyproxy);
    TinyProxy tinyproxy;
    if (throughTinyproxy && !tinyproxy.start())
        QFAIL(qPrintable(tinyproxy.error()));

    LoopbackPeer peer;
    QSignalSpy accepted(&peer, &LoopbackPeer::accepted);
    QProcess brisol;
    startBrisol(brisol, {});
    QVERIFY(brisol.waitForStarted());
    const Window window = findWindow(exactly(QStringLiteral(BRISOL_TITLE)));
    QVERIFY(!window.id.isEmpty());
    QVERIFY(window.menuHeight > 0);

    if (throughTinyproxy)
        useProxy(window, tinyproxy.portText());
    connectTo(window, peer.portText());
    QVERIFY(accepted.count() > 0 || accepted.wait(20000));
    QTRY_VERIFY_WITH_TIMEOUT(window.statusPixels(isGreen) > 20, 20000);

    type(QStringLiteral("hola \u00F1"));
    // á as a Spanish keyboard types it: the acute accent's dead key, then a.
    key(QStringLiteral("dead_acute"));
    key(QStringLiteral("a"));
    key(QStringLiteral("Return"));
    QTRY_COMPARE_WITH_TIMEOUT(peer.received, QByteArray("hola \xA4\xA0\r\n"), 20000);
    // Selecting and copying in the send box edits; it sends nothing.
    key(QStringLiteral("ctrl+a"));
    key(QStringLiteral("ctrl+c"));
    QTRY_COMPARE_WITH_TIMEOUT(clipboard(), QStringLiteral("hola \u00F1\u00E1\n"), 20000);

    peer.socket()->write(QByteArray("respuesta\r\n").append('\0').append("fin"));
    // Out of the send box with Tab: "Enviar" is disabled, the receive box is next.
    key(QStringLiteral("Tab"));
    // Wine hands a Windows program's copy to X with its CR LF made LF.
    const QString shown = qEnvironmentVariableIsSet("BRISOL_UNDER_WINE")
                              ? QStringLiteral("respuesta\n\\x00fin")
                              : QStringLiteral("respuesta\r\n\\x00fin");
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            key(QStringLiteral("ctrl+a"));
            key(QStringLiteral("ctrl+c"));
            return clipboard().endsWith(shown);
        }(),
        20000);
    if (throughTinyproxy)
        QVERIFY(clipboard().startsWith(QStringLiteral("HTTP/1.")));
    else
        QCOMPARE(clipboard(), shown);

    QCOMPARE(peer.received, QByteArray("hola \xA4\xA0\r\n"));

    window.click(6000 + 600, 1200 + 180); // "Desconectar"
    QTRY_VERIFY_WITH_TIMEOUT(window.statusPixels(isWhite) > 20 && window.statusPixels(isGreen) == 0,
                             20000);
    QTRY_VERIFY_WITH_TIMEOUT(peer.socket()->state() == QAbstractSocket::UnconnectedState, 20000);
    closeWithExitCodeZero(brisol, window);
}

// A proxy that takes the connection and never answers the CONNECT: the
// attempt waits, yellow, and closing the window still ends with 0.
void TestEndToEnd::yellowWhileTheProxyHoldsTheConnect()
{
    ScriptedProxy proxy;
    QSignalSpy accepted(&proxy, &LoopbackPeer::accepted);
    QProcess brisol;
    startBrisol(brisol, {});
    QVERIFY(brisol.waitForStarted());
    const Window window = findWindow(exactly(QStringLiteral(BRISOL_TITLE)));
    QVERIFY(!window.id.isEmpty());
    useProxy(window, proxy.portText());
    connectTo(window, QStringLiteral("22"));
    QVERIFY(accepted.count() > 0 || accepted.wait(20000));
    QTRY_VERIFY_WITH_TIMEOUT(proxy.received.startsWith("CONNECT 127.0.0.1:22 "), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(window.statusPixels(isYellow) > 20, 20000);
    QCOMPARE(window.statusPixels(isGreen), 0);
    closeWithExitCodeZero(brisol, window);
}

// The peer resets the connection: the status line leaves green for the
// idle colour, as after "Desconectar".
void TestEndToEnd::resetTurnsTheStatusIdle()
{
    LoopbackPeer peer;
    QSignalSpy accepted(&peer, &LoopbackPeer::accepted);
    QProcess brisol;
    Window window;
    startConnected(brisol, peer, accepted, window);
    QVERIFY(peer.socket());
    QVERIFY(setResetOnClose(*peer.socket(), true));
    peer.socket()->abort();
    QTRY_VERIFY_WITH_TIMEOUT(window.statusPixels(isWhite) > 20 && window.statusPixels(isGreen) == 0,
                             20000);
    closeWithExitCodeZero(brisol, window);
}

void TestEndToEnd::saveAndFind()
{
    LoopbackPeer peer;
    QSignalSpy accepted(&peer, &LoopbackPeer::accepted);
    QProcess brisol;
    // The command line connects once the window shows.
    Window window;
    startConnected(brisol, peer, accepted, window);
    if (QTest::currentTestFailed())
        return;

    // Every byte value, NULs, and a CR and its LF in two writes.
    const QByteArray first = allBytes() + QByteArray("\0\0line\r");
    const QByteArray stream = first + QByteArray("\n") + allBytes() + QByteArray("FIN");
    peer.socket()->write(first);
    QVERIFY(peer.socket()->waitForBytesWritten(5000));
    peer.socket()->write(stream.mid(first.size()));
    window.click(480 + 2000, 4440 + 600); // into "Ventana de Recepción"
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            key(QStringLiteral("ctrl+a"));
            key(QStringLiteral("ctrl+c"));
            return clipboard().endsWith(QStringLiteral("FIN"));
        }(),
        20000);

    QTemporaryDir folder;
    QTemporaryDir expectedFolder;
    const QString saved = folder.filePath(QStringLiteral("sesion.bin"));
    const QString expected = expectedFolder.filePath(QStringLiteral("esperado.bin"));
    {
        QFile file(expected);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(stream);
    }
    key(QStringLiteral("ctrl+s"));
    const Window dialog = findWindow(QStringLiteral("^Guardar como$"));
    QVERIFY(!dialog.id.isEmpty());
    key(QStringLiteral("ctrl+a"));
    type(saved);
    key(QStringLiteral("Return"));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(saved).size() == stream.size(), 20000);
    QProcess cmp;
    cmp.start(QStringLiteral("cmp"), {expected, saved});
    QVERIFY(cmp.waitForFinished(20000));
    QCOMPARE(cmp.exitCode(), 0);

    // A word at the end of 1 GiB more, sent as fast as the binary takes it.
    const QByteArray lines = linesWithHighBytes(4 << 20, 0);
    for (qsizetype sent = 0; sent < (qsizetype{1} << 30); sent += lines.size()) {
        peer.socket()->write(lines);
        while (peer.socket()->bytesToWrite() > 4 * lines.size())
            QVERIFY(peer.socket()->waitForBytesWritten(20000));
    }
    peer.socket()->write("\r\naguja");
    while (peer.socket()->bytesToWrite() > 0)
        QVERIFY(peer.socket()->waitForBytesWritten(20000));
    // Ctrl+F, the word and Enter, then Shift+Tab back into the box, whose
    // selection Ctrl+C copies once the search has found the word: again if
    // the search ran before the word had arrived.
    bool typed = false;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            key(QStringLiteral("ctrl+f"));
            if (!typed)
                type(QStringLiteral("aguja"));
            typed = true;
            key(QStringLiteral("End"));
            key(QStringLiteral("Return"));
            key(QStringLiteral("shift+Tab"));
            return QTest::qWaitFor(
                [&] {
                    key(QStringLiteral("ctrl+c"));
                    return clipboard() == QStringLiteral("aguja");
                },
                10000);
        }(),
        120000);

    run(QStringLiteral("wmctrl"), {QStringLiteral("-i"), QStringLiteral("-c"), window.id});
    QVERIFY(brisol.waitForFinished(20000));
    QCOMPARE(brisol.exitCode(), 0);
}

void TestEndToEnd::hexView_data()
{
    // The keys that switch the receive box between its views, pressed with
    // the box focused.
    QTest::addColumn<QStringList>("switchKeys");
    QTest::newRow("Ctrl+H") << QStringList{QStringLiteral("ctrl+h")};
    QStringList menu{QStringLiteral("Menu")};
    for (int down = 0; down < kSwitchItemDowns; ++down)
        menu << QStringLiteral("Down");
    menu << QStringLiteral("Return");
    QTest::newRow("\"Ver en hexadecimal\" in the context menu") << menu;
}

void TestEndToEnd::hexView()
{
    QFETCH(QStringList, switchKeys);
    LoopbackPeer peer;
    QSignalSpy accepted(&peer, &LoopbackPeer::accepted);
    QProcess brisol;
    Window window;
    startConnected(brisol, peer, accepted, window);
    if (QTest::currentTestFailed())
        return;

    // Every byte value in each of twelve orders, each followed by CR LF,
    // NULs and bytes above 0x7F; the last row ends halfway.
    QByteArray stream;
    for (int round = 0; round < 12; ++round) {
        for (int b = 0; b < 256; ++b)
            stream.append(static_cast<char>((b * 7 + round * 29) & 0xFF));
        stream.append("\r\n\0\0\xFF\x80", 6);
    }
    QCOMPARE(stream.size() % 16, 8);
    peer.socket()->write(stream);
    while (peer.socket()->bytesToWrite() > 0)
        QVERIFY(peer.socket()->waitForBytesWritten(20000));

    window.click(480 + 2000, 4440 + 600); // into "Ventana de Recepción"
    // The whole stream in the text view first: the switch then shows bytes
    // already kept.
    const QString text = translated(stream, cp1252Table());
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            key(QStringLiteral("ctrl+a"));
            key(QStringLiteral("ctrl+c"));
            return clipboard() == text;
        }(),
        20000);

    xdotool(QStringList{QStringLiteral("key")} + switchKeys);
    QByteArray dumped;
    QString wrong;
    const bool readBack = QTest::qWaitFor(
        [&] {
            key(QStringLiteral("ctrl+a"));
            key(QStringLiteral("ctrl+c"));
            wrong = bytesOfRows(clipboard(), dumped);
            return wrong.isEmpty() && dumped == stream;
        },
        20000);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    QVERIFY2(readBack, qPrintable(firstDifference(dumped, stream)));

    // "Copiar como hexadecimal", reached from the menu key, on the same
    // selection.
    QStringList copyAsHex{QStringLiteral("key"), QStringLiteral("Menu")};
    for (int down = 0; down < kCopyAsHexItemDowns; ++down)
        copyAsHex << QStringLiteral("Down");
    copyAsHex << QStringLiteral("Return");
    xdotool(copyAsHex);
    const QString pairs = QString::fromLatin1(stream.toHex(' '));
    QTRY_COMPARE_WITH_TIMEOUT(clipboard().size(), pairs.size(), 20000);
    QCOMPARE(clipboard(), pairs);

    // The same keys switch back: Ctrl+C copies text again.
    xdotool(QStringList{QStringLiteral("key")} + switchKeys);
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            key(QStringLiteral("ctrl+a"));
            key(QStringLiteral("ctrl+c"));
            return clipboard() == text;
        }(),
        20000);

    run(QStringLiteral("wmctrl"), {QStringLiteral("-i"), QStringLiteral("-c"), window.id});
    QVERIFY(brisol.waitForFinished(20000));
    QCOMPARE(brisol.exitCode(), 0);
}

void TestEndToEnd::sessionLog_data()
{
    QTest::addColumn<bool>("killed");
    QTest::newRow("the window closed by its close box") << false;
    QTest::newRow("the process killed mid-stream") << true;
}

void TestEndToEnd::sessionLog()
{
    QFETCH(bool, killed);
    LoopbackPeer peer;
    QSignalSpy accepted(&peer, &LoopbackPeer::accepted);
    QProcess brisol;
    Window window;
    startConnected(brisol, peer, accepted, window);
    if (QTest::currentTestFailed())
        return;
    const QByteArray stream = allBytes() + linesWithHighBytes(4 << 20, 5).repeated(16);
    peer.socket()->write(stream.left(256));
    window.click(480 + 2000, 4440 + 600); // into "Ventana de Recepción"
    key(QStringLiteral("ctrl+l"));
    QVERIFY(!findWindow(QStringLiteral("^Registrar en archivo$")).id.isEmpty());
    QTemporaryDir folder;
    const QString log = folder.filePath(QStringLiteral("sesion.log"));
    key(QStringLiteral("ctrl+a"));
    type(log);
    key(QStringLiteral("Return"));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(log), 20000);
    // 64 MiB more and the close: a status line no longer green has them all.
    peer.socket()->write(stream.mid(256));
    QFile file(log);
    if (killed) {
        // SIGKILL: whatever the file holds then is what came first.
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(log).size() > (1 << 20), 60000);
        brisol.kill();
        QVERIFY(brisol.waitForFinished(20000));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray kept = file.readAll();
        QVERIFY2(kept.size() > (1 << 20) && stream.startsWith(kept),
                 qPrintable(QString::number(kept.size())));
        return;
    }
    peer.socket()->disconnectFromHost();
    QTRY_VERIFY_WITH_TIMEOUT(window.statusPixels(isGreen) == 0, 60000);
    run(QStringLiteral("wmctrl"), {QStringLiteral("-i"), QStringLiteral("-c"), window.id});
    QVERIFY(brisol.waitForFinished(20000));
    QCOMPARE(brisol.exitCode(), 0);
    QVERIFY(file.open(QIODevice::ReadOnly) && file.readAll() == stream);
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_e2e_session.moc"
