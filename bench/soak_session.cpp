// A long session, by hand: 1 GiB received and 10,000 typed lines sent in one
// connection of the real main window (offscreen), every byte checked both
// ways. Prints the time, the memory and the verdict; exits 1 on any loss.
//
//   QT_QPA_PLATFORM=offscreen build/bench/soak_session [MiB] [lines]

#include "bench_support.h"

#include "ByteStreams.h"
#include "connection/Connection.h"
#include "receivebox/ReceiveBox.h"
#include "sendbox/SendBox.h"
#include "system/CodePage.h"
#include "system/ProcessExit_p.h"
#include "windows/tcp_client.h"
#include "windows/tcp_client_p.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <random>
#include <thread>

namespace {

// FNV-1a over UTF-16 units: the same on both sides, cheap to feed in pieces.
struct TextHash
{
    std::uint64_t value = 1469598103934665603ull;
    void add(QStringView text)
    {
        for (const QChar c : text) {
            value = (value ^ c.unicode()) * 1099511628211ull;
        }
    }
};

// A stream with everything a peer may send: lines, long lines, NULs, bytes
// of the upper half, control characters.
QByteArray makeBlock(std::mt19937 &random, qsizetype size)
{
    QByteArray block;
    block.reserve(size);
    while (block.size() < size) {
        switch (random() % 8) {
        case 0:
            block.append(QByteArray(qsizetype(random() % 4096), 'x'));
            break;
        case 1:
            block.append('\0');
            break;
        case 2:
            for (int i = 0; i < 16; ++i)
                block.append(static_cast<char>(0x80 + random() % 128));
            break;
        case 3:
            block.append("\t\a\x1b[0m\r");
            break;
        default:
            block.append("una l\xEDnea de texto normal, de ochenta columnas m\xE1s o menos, "
                         "como un registro\r\n");
        }
    }
    block.truncate(size);
    return block;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    const qint64 mebibytes = argc > 1 ? QByteArray(argv[1]).toLongLong() : 1024;
    const int lines = argc > 2 ? QByteArray(argv[2]).toInt() : 10000;
    const qint64 total = mebibytes * 1024 * 1024;
    platform::system::setExitHandler([](int) {});

    // The peer: a listening socket, a thread that streams, one that reads.
    quint16 port = 0;
    const int listener = bench::listenOnLoopback(port);
    if (listener < 0) {
        std::perror("listen");
        return 1;
    }
    std::atomic<int> peer{-1};
    std::atomic<bool> sent{false};
    std::atomic<qint64> renderedLength{0};
    TextHash sentHash;
    QByteArray typedOnWire;
    std::thread sender([&] {
        const int connection = ::accept(listener, nullptr, nullptr);
        peer = connection;
        std::mt19937 random(20261207);
        qint64 left = total;
        while (left > 0) {
            const QByteArray block = makeBlock(random, qMin<qint64>(left, 1 << 20));
            const QString rendered = translated(block, platform::system::codepage::ansiTable());
            sentHash.add(rendered);
            renderedLength += rendered.size();
            for (qsizetype at = 0; at < block.size();) {
                const ssize_t n = ::send(connection, block.constData() + at,
                                         static_cast<size_t>(block.size() - at), MSG_NOSIGNAL);
                if (n <= 0)
                    return;
                at += n;
            }
            left -= block.size();
        }
        sent = true;
    });
    std::thread reader([&] {
        while (peer < 0)
            std::this_thread::yield();
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::recv(peer, buffer, sizeof buffer, 0);
            if (n <= 0)
                return;
            typedOnWire.append(buffer, n);
        }
    });

    tcp_client window;
    window.show();
    controls(window).host_remoto->setEditText(QStringLiteral("127.0.0.1"));
    controls(window).puerto_remoto->setEditText(QString::number(port));
    QElapsedTimer clock;
    clock.start();
    controls(window).cmdConnect->click();

    // Type one line per event-loop turn while the stream runs.
    QByteArray typedExpected;
    int typed = 0;
    QTimer typist;
    typist.setInterval(0);
    QObject::connect(&typist, &QTimer::timeout, &window, [&] {
        if (controls(window).Estado->text() != status::connected())
            return;
        if (typed == lines) {
            typist.stop();
            return;
        }
        const QString line =
            QStringLiteral("l\u00EDnea %1 \u00F1").arg(typed++, 5, 10, QLatin1Char('0'));
        for (const QChar character : line) {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(character));
            QApplication::sendEvent(controls(window).txtSend, &press);
        }
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
        QApplication::sendEvent(controls(window).txtSend, &enter);
        QByteArray bytes = platform::system::codepage::stringToAnsi(line + QStringLiteral("\r\n"));
        platform::system::codepage::ansiToOem(bytes);
        typedExpected += bytes;
        // The send box keeps what is typed; keep it from growing for ever.
        if (typed % 100 == 0)
            controls(window).txtSend->setText(QString());
    });
    typist.start();

    QTimer watcher;
    watcher.setInterval(100);
    QObject::connect(&watcher, &QTimer::timeout, &window, [&] {
        // Done once everything is typed and the box holds all that was sent.
        if (sent && typed == lines && controls(window).txtRcv->length() >= renderedLength)
            application.quit();
        if (controls(window).Estado->text() != status::connected() &&
            controls(window).Estado->text() != status::connecting())
            application.quit();
    });
    watcher.start();
    application.exec();
    const double seconds = double(clock.elapsed()) / 1000.0;

    TextHash shownHash;
    const qsizetype shown = controls(window).txtRcv->length();
    for (qsizetype at = 0; at < shown; at += 1 << 20)
        shownHash.add(controls(window).txtRcv->mid(at, 1 << 20));
    controls(window).cmdDisconnect->click();
    ::shutdown(peer, SHUT_RDWR);
    sender.join();
    reader.join();

    const bool receivedOk = sent && shownHash.value == sentHash.value;
    const bool typedOk = typedOnWire == typedExpected;
    std::printf(
        "soak: %lld MiB received as %lld characters in %.1f s (%.0f MiB/s), %d lines typed\n",
        static_cast<long long>(mebibytes), static_cast<long long>(shown), seconds,
        double(mebibytes) / seconds, typed);
    const long long peakMiB = bench::peakResidentKiB() / 1024;
    std::printf("soak: peak RSS %lld MiB (%.2f bytes per received byte)\n", peakMiB,
                double(peakMiB) * 1024 * 1024 / double(total));
    std::printf("soak: received text %s, typed bytes %s (%lld of %lld)\n",
                receivedOk ? "matches" : "DIFFERS", typedOk ? "match" : "DIFFER",
                static_cast<long long>(typedOnWire.size()),
                static_cast<long long>(typedExpected.size()));
    return receivedOk && typedOk ? 0 : 1;
}
