// The receive box's session log on the real window against loopback peers:
// the file holds every byte as it came, started at any point of a stream and
// across "Conectar"; an existing file is added to, replaced or left alone as
// the user answers; a full disk stops the log, not the stream; and ending
// the process waits for what the writer has yet to write.

#include "NetworkFixtures.h"
#include "ReceiveBoxProbe.h"
#include "ReceivedBytes.h"
#include "WindowTestSupport.h"
#include "receivebox/log/SessionLog.h"
#include "system/ProcessExit_p.h"
#include "windows/tcp_client.h"
#include "windows/tcp_client_p.h"

#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

namespace {

int g_exits = 0;
void countExit(int)
{
    ++g_exits;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

QByteArray nulBytes(qsizetype size)
{
    return allBytes().repeated(size / 256);
}

enum class Start { BeforeFirstByte, MidStream, AfterPeerClosed };

} // namespace

class TestSessionLog final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QLocale::setDefault(QLocale::c());
        platform::system::setExitHandler(&countExit);
        QVERIFY(m_dir.isValid());
    }
    void init()
    {
        m_window = std::make_unique<tcp_client>();
        m_window->show();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    }
    void cleanup() { m_window.reset(); }
    void holdsEveryByte_data();
    void holdsEveryByte();
    void followsAcrossConnect();
    void existingFile_data();
    void existingFile();
    void writeFailure();
    void exitWaitsForTheLog();

private:
    ReceiveBox &box() const { return *controls(*m_window).txtRcv; }
    SessionLogger &logger() const { return boxControl(box()).logger; }
    qsizetype held() const { return boxState(box()).text.store().byteCount(); }
    void connectTo(LoopbackPeer &peer) const
    {
        QSignalSpy accepted(&peer, &LoopbackPeer::accepted);
        typeInCombo(controls(*m_window).host_remoto, QStringLiteral("127.0.0.1"));
        typeInCombo(controls(*m_window).puerto_remoto, peer.portText());
        QTest::mouseClick(controls(*m_window).cmdConnect, Qt::LeftButton);
        QVERIFY(accepted.wait());
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
    QTest::addColumn<Start>("start");
    const QByteArray lines = linesWithHighBytes(3 << 20, 7);
    const QByteArray bytes = nulBytes(3 << 20);
    QTest::newRow("lines, started before the first byte") << lines << Start::BeforeFirstByte;
    QTest::newRow("lines, started mid-stream") << lines << Start::MidStream;
    QTest::newRow("lines, started after the peer closed") << lines << Start::AfterPeerClosed;
    QTest::newRow("NULs and every byte, started before the first byte")
        << bytes << Start::BeforeFirstByte;
    QTest::newRow("NULs and every byte, started mid-stream") << bytes << Start::MidStream;
    QTest::newRow("NULs and every byte, started after the peer closed")
        << bytes << Start::AfterPeerClosed;
}

void TestSessionLog::holdsEveryByte()
{
    QFETCH(QByteArray, stream);
    QFETCH(Start, start);
    const QString path = m_dir.filePath(QStringLiteral("sesion.log"));
    LoopbackPeer peer;
    connectTo(peer);
    const qsizetype half = stream.size() / 2 + 13;
    if (start == Start::BeforeFirstByte)
        QVERIFY(logger().start(path, SessionLogger::Existing::Replace));
    peer.send(stream.left(half));
    QTRY_COMPARE(held(), half);
    if (start == Start::MidStream)
        QVERIFY(logger().start(path, SessionLogger::Existing::Replace));
    peer.send(stream.mid(half));
    closeFromPeer(peer);
    QCOMPARE(held(), stream.size());
    if (start == Start::AfterPeerClosed)
        QVERIFY(logger().start(path, SessionLogger::Existing::Replace));
    QTRY_COMPARE(logger().line()->text(),
                 QStringLiteral("Registrando en sesion.log: %1 bytes").arg(stream.size()));
    QVERIFY(logger().line()->isVisible());
    QCOMPARE(fileBytes(path), stream);
}

void TestSessionLog::followsAcrossConnect()
{
    const QString path = m_dir.filePath(QStringLiteral("dos.log"));
    const QByteArray first = nulBytes(1 << 20);
    const QByteArray second = linesWithHighBytes(1 << 20, 3);
    LoopbackPeer one;
    LoopbackPeer two;
    connectTo(one);
    QVERIFY(logger().start(path, SessionLogger::Existing::Replace));
    one.send(first);
    QTRY_COMPARE(held(), first.size());
    closeFromPeer(one);
    connectTo(two);
    two.send(second);
    QTRY_COMPARE(held(), second.size());
    QTRY_COMPARE(fileBytes(path), first + second);

    // Unticking the entry ends the log; what comes next is not in the file.
    std::unique_ptr<QMenu> menu(box().createContextMenu(nullptr));
    QAction *entry = menu->actions().constLast();
    QCOMPARE(entry->text(), QStringLiteral("Registrar en archivo\u2026"));
    QVERIFY(entry->isCheckable() && entry->isChecked());
    entry->setChecked(false);
    QVERIFY(!logger().isLogging());
    QVERIFY(logger().line()->isHidden());
    two.send("despues");
    QTRY_COMPARE(held(), second.size() + 7);
    QTRY_VERIFY(logger().findChildren<SessionLog *>().isEmpty());
    QCOMPARE(fileBytes(path), first + second);
}

void TestSessionLog::existingFile_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QByteArray>("expected");
    const QByteArray old("antes\0\r\n", 8);
    const QByteArray stream = QByteArray("uno\0dos\r\n", 9) + allBytes();
    QTest::newRow("added to the end") << QStringLiteral("Añadir al final") << old + stream;
    QTest::newRow("replaced") << QStringLiteral("Reemplazar") << stream;
    QTest::newRow("left as it was") << QStringLiteral("Cancelar") << old;
}

void TestSessionLog::existingFile()
{
    QFETCH(QString, answer);
    QFETCH(QByteArray, expected);
    const QString path = m_dir.filePath(QStringLiteral("existente.log"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(QByteArray("antes\0\r\n", 8));
    file.close();
    const CharTable table = platform::system::codepage::ansiTable();
    appendAsReceived(box(), QByteArrayView("uno\0dos\r\n", 9), table);
    QTest::keyClick(&box(), Qt::Key_L, Qt::ControlModifier);
    auto *dialog = m_window->findChild<QFileDialog *>();
    QVERIFY(dialog && dialog->isVisible());
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Registrar en archivo"));
    QCOMPARE(QFileInfo(dialog->selectedFiles().value(0)).fileName(),
             QStringLiteral("recibido.log"));
    dialog->selectFile(path);
    static_cast<QDialog *>(dialog)->accept();
    QMessageBox *question = nullptr;
    QTRY_VERIFY((question = m_window->findChild<QMessageBox *>()) && question->isVisible());
    QCOMPARE(fileBytes(path), QByteArray("antes\0\r\n", 8));
    const QList<QAbstractButton *> buttons = question->buttons();
    const auto chosen = std::find_if(buttons.cbegin(), buttons.cend(),
                                     [&](QAbstractButton *b) { return b->text() == answer; });
    QVERIFY(buttons.size() == 3 && chosen != buttons.cend());
    (*chosen)->click();
    appendAsReceived(box(), allBytes(), table);
    QCOMPARE(logger().isLogging(), answer != QStringLiteral("Cancelar"));
    QTRY_COMPARE(fileBytes(path), expected);
}

void TestSessionLog::writeFailure()
{
    // A full small filesystem where we may mount one, else a device that is
    // always full: both refuse a write with ENOSPC.
    QTemporaryDir mountPoint;
    const bool mounted = QProcess::execute(QStringLiteral("mount"),
                                           {QStringLiteral("-t"), QStringLiteral("tmpfs"),
                                            QStringLiteral("-o"), QStringLiteral("size=64k"),
                                            QStringLiteral("tmpfs"), mountPoint.path()}) == 0;
    auto unmount = qScopeGuard([&] {
        if (mounted)
            QProcess::execute(QStringLiteral("umount"), {mountPoint.path()});
    });
    if (!mounted)
        qWarning("mounting a tmpfs was refused: the log goes to /dev/full");
    const QString path =
        mounted ? mountPoint.filePath(QStringLiteral("lleno.log")) : QStringLiteral("/dev/full");
    LoopbackPeer peer;
    connectTo(peer);
    QVERIFY(logger().start(path, SessionLogger::Existing::Append));
    const QByteArray stream = nulBytes(1 << 20);
    peer.send(stream);
    QTRY_COMPARE(logger().line()->text(),
                 QStringLiteral("No se pudo escribir el registro: no queda espacio en el disco"));
    QVERIFY(!logger().isLogging() && logger().line()->isVisible());
    QTRY_COMPARE(held(), stream.size());
    peer.send("sigue");
    QTRY_COMPARE(held(), stream.size() + 5);
    QVERIFY(!controls(*m_window).cmdConnect->isEnabled());
    QTRY_VERIFY(logger().findChildren<SessionLog *>().isEmpty());
    if (mounted) {
        const QByteArray kept = fileBytes(path);
        QVERIFY(kept.size() > 0 && kept.size() <= (64 << 10) && stream.startsWith(kept));
    }
}

void TestSessionLog::exitWaitsForTheLog()
{
    const QString path = m_dir.filePath(QStringLiteral("salida.log"));
    const QByteArray piece = nulBytes(1 << 20);
    QVERIFY(logger().start(path, SessionLogger::Existing::Replace));
    for (int n = 0; n < 64; ++n)
        appendAsReceived(box(), piece, platform::system::codepage::ansiTable());
    const int exits = g_exits;
    m_window->close();
    QCOMPARE(g_exits, exits + 1);
    QCOMPARE(QFileInfo(path).size(), 64 * piece.size());
    QCOMPARE(fileBytes(path), piece.repeated(64));
}

QTEST_MAIN(TestSessionLog)
#include "tst_sessionlog.moc"
