#include "ByteStreams.h"
#include "ReceiveBoxProbe.h"
#include "receivebox/ReceiveBox.h"
#include "receivebox/save/TranscriptSaver.h"
#include "system/CodePage.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#if defined(Q_OS_UNIX)
#include <sys/resource.h>

#include <csignal>
#endif

namespace {

using Result = platform::transcript::SaveResult;

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArrayLiteral("<no file>");
    return file.readAll();
}

QStringList folderEntries(const QTemporaryDir &folder)
{
    return QDir(folder.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

// Ctrl+S in the box, the path put into the save dialog and the dialog
// accepted: the saver it starts, or none.
TranscriptSaver *saveThroughTheDialog(ReceiveBox &box, const QString &path,
                                      const std::function<void()> &whileAsked = {})
{
    box.setFocus();
    QTest::keyClick(&box, Qt::Key_S, Qt::ControlModifier);
    auto *dialog = box.findChild<QFileDialog *>();
    if (!dialog || !dialog->isVisible() || dialog->windowTitle() != QStringLiteral("Guardar como"))
        return nullptr;
    if (whileAsked)
        whileAsked();
    dialog->selectFile(path);
    static_cast<QDialog *>(dialog)->accept();
    return box.findChild<TranscriptSaver *>();
}

} // namespace

class TestTranscriptSaver final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void saveHoldsTheBytesReceived_data();
    void saveHoldsTheBytesReceived();
    void saveHoldsWhatCameBeforeTheCommand();
    void saveFailureIsReported_data();
    void saveFailureIsReported();
};

void TestTranscriptSaver::saveHoldsTheBytesReceived_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QList<qsizetype>>("pieces");

    const QList<qsizetype> whole;
    QTest::newRow("all 256 byte values") << allBytes() << whole;
    QTest::newRow("every byte twice, one at a time")
        << allBytes() + allBytes() << QList<qsizetype>{1};
    QTest::newRow("NULs") << QByteArray("\0a\0\0b\0", 6) << QList<qsizetype>{2};
    QTest::newRow("CR LF split across arrivals")
        << QByteArray("one\r\ntwo\r\n\r\nthree\r") << QList<qsizetype>{4, 1, 5};
    QTest::newRow("more than two slabs, in arrivals of 64 KiB and a byte")
        << linesWithHighBytes(5 << 20, 7) + allBytes() << QList<qsizetype>{65537};
    QTest::newRow("nothing received") << QByteArray() << whole;
}

// What was received, byte for byte, through Ctrl+S and the save dialog: no
// conversion, a NUL a zero byte, CR LF as it came.
void TestTranscriptSaver::saveHoldsTheBytesReceived()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QList<qsizetype>, pieces);
    ReceiveBox box;
    SHOW(box, 400, 300);
    appendArrivals(box, bytes, pieces);
    box.setSaveName(QStringLiteral("host-7-20240305-090807.txt"));
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("sesi\u00F3n.txt"));
    QString proposed;
    TranscriptSaver *saver = saveThroughTheDialog(box, path, [&] {
        proposed = QFileInfo(box.findChild<QFileDialog *>()->selectedFiles().value(0)).fileName();
    });
    QVERIFY(saver);
    QCOMPARE(proposed, QStringLiteral("host-7-20240305-090807.txt"));
    QSignalSpy finished(saver, &TranscriptSaver::finished);
    QVERIFY(finished.wait(60000));
    QCOMPARE(finished.at(0).at(0).value<Result>(), Result::Saved);
    QCOMPARE(fileBytes(path), bytes);
    QCOMPARE(folderEntries(folder), QStringList{QFileInfo(path).fileName()});
}

// A save holds what was received up to the command, exactly: not what
// arrives while the dialog asks, nor while the file is written, and the
// next "Conectar" takes nothing from it.
void TestTranscriptSaver::saveHoldsWhatCameBeforeTheCommand()
{
    ReceiveBox box;
    SHOW(box, 400, 300);
    const QByteArray before = linesWithHighBytes(3 << 20, 5) + QByteArray("\0end\r", 5);
    appendArrivals(box, before, {65536});
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("prefijo.bin"));
    TranscriptSaver *saver = saveThroughTheDialog(
        box, path, [&] { appendBytes(box, QByteArrayLiteral("\nwhile asked")); });
    QVERIFY(saver);
    QSignalSpy finished(saver, &TranscriptSaver::finished);
    const QByteArray stream = linesWithHighBytes(1 << 20, 3);
    for (int n = 0; finished.isEmpty(); ++n) {
        appendBytes(box, stream);
        if (n == 2) {
            box.clear();
            appendBytes(box, QByteArrayLiteral("next session"));
        }
        QCoreApplication::processEvents();
    }
    QCOMPARE(finished.at(0).at(0).value<Result>(), Result::Saved);
    QCOMPARE(fileBytes(path), before);
}

void TestTranscriptSaver::saveFailureIsReported_data()
{
    QTest::addColumn<QString>("where");
    QTest::addColumn<qsizetype>("received");
    QTest::addColumn<qsizetype>("limit");  // the largest file the system lets grow; 0: any
    QTest::addColumn<QStringList>("left"); // in the folder afterwards

    QTest::newRow("a folder that is not there")
        << QStringLiteral("gone/sesion.txt") << qsizetype{1000} << qsizetype{0} << QStringList{};
    QTest::newRow("a folder where the file would go")
        << QStringLiteral("carpeta") << qsizetype{1000} << qsizetype{0}
        << QStringList{QStringLiteral("carpeta")};
#if defined(Q_OS_UNIX)
    // As a full disk does: the system takes part of the bytes, then none.
    QTest::newRow("more than the system lets a file grow")
        << QStringLiteral("sesion.txt") << qsizetype{3 << 20} << qsizetype{1 << 20}
        << QStringList{QStringLiteral("sesion.txt")};
    QTest::newRow("a few bytes more than the system lets a file grow")
        << QStringLiteral("sesion.txt") << qsizetype{5000} << qsizetype{4096}
        << QStringList{QStringLiteral("sesion.txt")};
#endif
}

// The message box gives the system's description; what was at the path
// stays, and nothing half-written is left beside it.
void TestTranscriptSaver::saveFailureIsReported()
{
    QFETCH(QString, where);
    QFETCH(qsizetype, received);
    QFETCH(qsizetype, limit);
    QFETCH(QStringList, left);
    ReceiveBox box;
    SHOW(box, 400, 300);
    appendArrivals(box, linesWithHighBytes(received, 9), {1 << 20});
    QTemporaryDir folder;
    const QString path = folder.filePath(where);
    const QByteArray previous("what was there before\r\n");
    if (where == QStringLiteral("carpeta"))
        QVERIFY(QDir(folder.path()).mkdir(where));
    if (limit > 0) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(previous);
    }
#if defined(Q_OS_UNIX)
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    if (limit > 0) {
        const rlimit small{static_cast<rlim_t>(limit), saved.rlim_max};
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    }
#endif
    boxControl(box).saveTo(boxState(box).text.store().share(), path);
    QSignalSpy finished(box.findChild<TranscriptSaver *>(), &TranscriptSaver::finished);
    const bool ended = finished.wait(60000);
#if defined(Q_OS_UNIX)
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
#endif
    QVERIFY(ended);
    QCOMPARE(finished.at(0).at(0).value<Result>(), Result::Failed);
    QMessageBox *message = nullptr;
    QTRY_VERIFY((message = box.findChild<QMessageBox *>()) && message->isVisible());
    const QStringList said = message->text().split(u'\n');
    QCOMPARE(said.size(), 2);
    QCOMPARE(said[0], QStringLiteral("No se pudo guardar %1.").arg(QDir::toNativeSeparators(path)));
    QVERIFY(!said[1].isEmpty());
    message->close();
    QCOMPARE(folderEntries(folder), left);
    if (limit > 0)
        QCOMPARE(fileBytes(path), previous);
}

QTEST_MAIN(TestTranscriptSaver)
#include "tst_transcriptsaver.moc"
