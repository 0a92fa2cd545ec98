// The session log on the real window against loopback peers: exact from any point of a stream
// and across "Conectar"; an existing file as the user answers; a full disk; the exit's wait.

#include "NetworkFixtures.h"
#include "ReceiveBoxProbe.h"
#include "ReceivedBytes.h"
#include "WindowTestSupport.h"
#include "system/ProcessExit_p.h"
#include "windows/tcp_client.h"
#include "windows/tcp_client_p.h"

#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QByteArray kOld("antes\0\r\n", 8);
constexpr auto kReplace = SessionLogger::Existing::Replace;

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

} // namespace

class TestSessionLog final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        platform::system::setExitHandler([](int) {}); // closing the window ends no test
        m_window = std::make_unique<tcp_client>();
        m_window->show();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    }
    void holdsEveryByte_data();
    void holdsEveryByte();
    void existingFile_data();
    void existingFile();
    void writeFailure_data();
    void writeFailure();
    void fileThatCannotBeOpened();
    void exitWaitsForTheLog();

private:
    ReceiveBox &box() const { return *controls(*m_window).txtRcv; }
    SessionLogger &logger() const { return boxControl(box()).logger; }
    QString lineText() const
    {
        const QLabel *line = logger().line();
        return line && line->isVisible() ? line->text() : QString();
    }
    qsizetype held() const { return boxState(box()).text.store().byteCount(); }
    void connectTo(LoopbackPeer &peer) const
    {
        typeInCombo(controls(*m_window).host_remoto, u"127.0.0.1"_s);
        typeInCombo(controls(*m_window).puerto_remoto, peer.portText());
        QTest::mouseClick(controls(*m_window).cmdConnect, Qt::LeftButton);
        QTRY_VERIFY(peer.socket());
    }
    void closeFromPeer(LoopbackPeer &peer) const
    {
        peer.socket()->disconnectFromHost();
        QTRY_VERIFY(controls(*m_window).cmdConnect->isEnabled());
    }

    std::unique_ptr<tcp_client> m_window;
    QTemporaryDir m_dir;
};

void TestSessionLog::holdsEveryByte_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<int>("start"); // the log opens at connecting, mid-stream, after the close
    const char *const when[] = {"before the first byte", "mid-stream", "after the peer closed"};
    for (int start = 0; start < 3; ++start) {
        QTest::addRow("lines, started %s", when[start]) << linesWithHighBytes(3 << 20, 7) << start;
        QTest::addRow("NULs, started %s", when[start]) << allBytes().repeated(3 << 12) << start;
    }
}

void TestSessionLog::holdsEveryByte()
{
    QFETCH(QByteArray, stream);
    QFETCH(int, start);
    const QString path = m_dir.filePath(u"sesion.log"_s);
    LoopbackPeer peer, next;
    connectTo(peer);
    const qsizetype half = stream.size() / 2 + 13;
    QVERIFY(start != 0 || logger().start(path, kReplace));
    peer.send(stream.left(half));
    QTRY_COMPARE(held(), half);
    QVERIFY(start != 1 || logger().start(path, kReplace));
    peer.send(stream.mid(half));
    closeFromPeer(peer);
    QVERIFY(start != 2 || logger().start(path, kReplace));
    QTRY_COMPARE(lineText(), u"Registrando en sesion.log: %1 bytes"_s.arg(stream.size()));
    QCOMPARE(fileBytes(path), stream);

    // Across "Conectar" the next connection's bytes follow in the file;
    // unticking the entry ends the log, and what comes next stays out.
    connectTo(next);
    next.send(allBytes());
    QTRY_COMPARE(fileBytes(path), stream + allBytes());
    std::unique_ptr<QMenu> menu(box().createContextMenu(nullptr));
    QAction *entry = menu->actions().constLast();
    QVERIFY(entry->text() == u"Registrar en archivo\u2026"_s && entry->isChecked());
    entry->setChecked(false);
    QVERIFY(!logger().isLogging() && lineText().isEmpty());
    next.send("despues");
    QTRY_COMPARE(held(), 256 + 7);
    QTRY_VERIFY(logger().children().isEmpty());
    QCOMPARE(fileBytes(path), stream + allBytes());
}

void TestSessionLog::existingFile_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QByteArray>("expected");
    const QByteArray stream = QByteArray("uno\0dos\r\n", 9) + allBytes();
    QTest::newRow("added to the end") << u"Añadir al final"_s << kOld + stream;
    QTest::newRow("replaced") << u"Reemplazar"_s << stream;
    QTest::newRow("left as it was") << u"Cancelar"_s << kOld;
}

void TestSessionLog::existingFile()
{
    QFETCH(QString, answer);
    QFETCH(QByteArray, expected);
    const QString path = m_dir.filePath(u"existente.log"_s);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(kOld) == 8);
    file.close();
    appendAsReceived(box(), QByteArrayView("uno\0dos\r\n", 9));
    QTest::keyClick(&box(), Qt::Key_L, Qt::ControlModifier);
    auto *dialog = m_window->findChild<QFileDialog *>();
    QVERIFY(dialog && dialog->isVisible() && dialog->windowTitle() == u"Registrar en archivo"_s);
    QCOMPARE(QFileInfo(dialog->selectedFiles().value(0)).fileName(), u"recibido.log"_s);
    dialog->selectFile(path);
    static_cast<QDialog *>(dialog)->accept();
    QMessageBox *question = nullptr;
    QTRY_VERIFY((question = m_window->findChild<QMessageBox *>()) && question->isVisible());
    QCOMPARE(fileBytes(path), kOld);
    for (QAbstractButton *button : question->buttons())
        if (button->text() == answer)
            button->click();
    appendAsReceived(box(), allBytes());
    QCOMPARE(logger().isLogging(), answer != u"Cancelar"_s);
    QTRY_COMPARE(fileBytes(path), expected);
}

void TestSessionLog::writeFailure_data()
{
    QTest::addColumn<QString>("filesystem");
    QTest::addColumn<int>("size");
    // tmpfs takes its writes through the cache alone; a disk's filesystem
    // also around it.
    QTest::newRow("written through the cache") << u"tmpfs"_s << (64 << 10);
    QTest::newRow("written around the cache") << u"ext4"_s << (2 << 20);
}

void TestSessionLog::writeFailure()
{
#ifdef Q_OS_WIN
    QSKIP("no small filesystem to fill, and no /dev/full, under Windows");
#endif
    QFETCH(QString, filesystem);
    QFETCH(int, size);
    // A full small filesystem where we may mount one, else /dev/full: ENOSPC.
    QTemporaryDir mountPoint;
    bool mounted = false;
    if (filesystem == u"tmpfs"_s) {
        mounted =
            QProcess::execute(u"mount"_s, {u"-t"_s, u"tmpfs"_s, u"-o"_s, u"size=%1"_s.arg(size),
                                           u"tmpfs"_s, mountPoint.path()}) == 0;
    } else {
        const QString image = m_dir.filePath(u"disco.img"_s);
        QFile file(image);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(size));
        file.close();
        mounted =
            QProcess::execute(u"mkfs.ext4"_s, {u"-q"_s, u"-O"_s, u"^has_journal"_s, image}) == 0 &&
            QProcess::execute(u"mount"_s, {u"-o"_s, u"loop"_s, image, mountPoint.path()}) == 0;
        if (!mounted)
            QSKIP("mounting a filesystem image was refused");
    }
    auto unmount = qScopeGuard([&] { QProcess::execute(u"umount"_s, {mountPoint.path()}); });
    if (!mounted)
        qWarning("mounting a tmpfs was refused: the log goes to /dev/full");
    const QString path = mounted ? mountPoint.filePath(u"lleno.log"_s) : u"/dev/full"_s;
    LoopbackPeer peer;
    connectTo(peer);
    QVERIFY(logger().start(path, SessionLogger::Existing::Append));
    const QByteArray stream = allBytes().repeated(size / 16);
    peer.send(stream);
    QTRY_COMPARE(lineText(), u"No se pudo escribir el registro: no queda espacio en el disco"_s);
    QVERIFY(!logger().isLogging());
    peer.send("sigue");
    QTRY_COMPARE(held(), stream.size() + 5);
    QVERIFY(!controls(*m_window).cmdConnect->isEnabled());
    QTRY_VERIFY(logger().children().isEmpty());
    const QByteArray kept = mounted ? fileBytes(path) : stream.left(1);
    QVERIFY(kept.size() > 0 && kept.size() <= size && stream.startsWith(kept));
}

void TestSessionLog::fileThatCannotBeOpened()
{
    // In Spanish whatever the desktop's language, which Qt's text follows.
    QVERIFY(!logger().start(m_dir.filePath(u"no-existe/registro.log"_s), kReplace));
    QCOMPARE(lineText(), u"No se pudo escribir el registro: no se pudo abrir el archivo"_s);
    QVERIFY(!logger().isLogging());
}

void TestSessionLog::exitWaitsForTheLog()
{
    const QString path = m_dir.filePath(u"salida.log"_s);
    const QByteArray piece = allBytes().repeated(1 << 12);
    QVERIFY(logger().start(path, kReplace));
    for (int n = 0; n < 64; ++n)
        appendAsReceived(box(), piece);
    m_window->close(); // exitProcess(), and no turn of the event loop before the file is read
    QCOMPARE(fileBytes(path), piece.repeated(64));
}

QTEST_MAIN(TestSessionLog)
#include "tst_sessionlog.moc"
