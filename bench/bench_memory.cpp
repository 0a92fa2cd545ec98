// Resident memory the receive box takes per received byte, for streams of
// every shape a peer can choose, line index included.
// Last, 200 connections in a row of the real window must give back what
// each took.
//
//   QT_QPA_PLATFORM=offscreen bench_memory [--mib N]      (default 256)
//
// Each pattern runs in a process of its own: the box receives N MiB of it in
// 64 KiB arrivals through appendReceived() with the code page's table, the
// caret put at the end after each as the receive path does. The growth of
// the resident size (VmRSS) over the whole stream is divided by the bytes
// received and checked against the pattern's bound; a pattern over its
// bound prints FAIL and the program ends with a non-zero status. Then the
// box is emptied: within 20 s (the memory is given back from another
// thread) the resident size must be back within 64 MiB of where it started,
// or that pattern fails too.
//
// The connections: the window connects to a loopback echo peer, sends a line,
// reads it back and disconnects, 10 times to warm up and then 200 times. The
// resident size may grow by at most 2 MiB over the 200, and the open files
// must come back to within 2 of what they were.

#include "ReceivedBytes.h"
#include "bench_events.h"
#include "bench_support.h"

#include "connection/StatusRows.h"
#include "receivebox/ReceiveBox.h"
#include "sendbox/SendBox.h"
#include "windows/tcp_client.h"
#include "windows/tcp_client_p.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>

#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr qsizetype kArrival = 64 * 1024;
constexpr qsizetype kMiB = 1024 * 1024;

struct Pattern
{
    const char *name;
    double bound; // bytes of memory per received byte, at most
    std::function<QByteArray()> arrival;
    bool freshEachArrival = false; // else one arrival is sent over and over
};

QByteArray repeated(const QByteArray &unit)
{
    return unit.repeated(kArrival / unit.size() + 1).left(kArrival);
}

QByteArray lines80()
{
    return QByteArray::fromStdString(
        bench::linesText(bench::kArrivalLines, static_cast<std::size_t>(kArrival)));
}

const std::vector<Pattern> &patterns()
{
    static const std::vector<Pattern> all = {
        {"80-column text", 1.15, lines80},
        {"all 0x80", 2.0,
         [] {
             return repeated(QByteArray(1, '\x80'));
         }},
        {"all LF", 2.0,
         [] {
             return repeated(QByteArray(1, '\n'));
         }},
        {"all NUL", 2.0,
         [] {
             return repeated(QByteArray(1, '\0'));
         }},
        {"0x80 then 16383 NULs", 2.0,
         [] {
             return repeated(QByteArray(1, '\x80') + QByteArray(16383, '\0'));
         }},
        {"random bytes", 2.0,
         [] {
             QByteArray bytes(kArrival, Qt::Uninitialized);
             QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(bytes.data()),
                                                   kArrival / 4);
             return bytes;
         },
         true},
    };
    return all;
}

int runPattern(const Pattern &pattern, qsizetype mib)
{
    ReceiveBox box;
    box.resize(640, 480);
    box.show();
    QCoreApplication::processEvents();
    // One arrival first, so that what every box allocates once is not counted.
    QByteArray arrival = pattern.arrival();
    appendAsReceived(box, arrival);
    QCoreApplication::processEvents();
    const qint64 before = bench::residentKiB() * 1024;
    const qsizetype total = mib * kMiB;
    for (qsizetype received = 0; received < total; received += kArrival) {
        if (pattern.freshEachArrival)
            arrival = pattern.arrival();
        appendAsReceived(box, arrival);
        box.setSelStart(box.length());
        if ((received & (16 * kMiB - 1)) == 0)
            QCoreApplication::processEvents();
    }
    QCoreApplication::processEvents();
    const double perByte = double(bench::residentKiB() * 1024 - before) / double(total);
    const bool within = perByte <= pattern.bound;
    std::printf("%-24s %6.3f bytes/byte  (bound %.2f)%s\n", pattern.name, perByte, pattern.bound,
                within ? "" : "  FAIL");
    box.clear();
    constexpr qint64 kKeptAfterClear = 64 * kMiB;
    QElapsedTimer releasing;
    releasing.start();
    qint64 kept = bench::residentKiB() * 1024 - before;
    while (kept >= kKeptAfterClear && releasing.elapsed() < 20000) {
        QCoreApplication::processEvents();
        QThread::msleep(50);
        kept = bench::residentKiB() * 1024 - before;
    }
    const bool released = kept < kKeptAfterClear;
    std::printf("%-24s %6.1f MiB kept after clear (bound %lld)%s\n", pattern.name,
                double(kept) / double(kMiB), static_cast<long long>(kKeptAfterClear / kMiB),
                released ? "" : "  FAIL");
    std::fflush(stdout);
    return within && released ? 0 : 1;
}

qsizetype openFileCount()
{
    return static_cast<qsizetype>(QDir(QStringLiteral("/proc/self/fd"))
                                      .entryList(QDir::AllEntries | QDir::NoDotAndDotDot)
                                      .size());
}

// Runs the event loop until the condition holds, for at most 10 s.
template <typename Condition> bool settles(Condition condition)
{
    return bench::runUntil(condition, 10000);
}

int runConnections(int count)
{
    QTcpServer echo;
    echo.listen(QHostAddress::LocalHost);
    QObject::connect(&echo, &QTcpServer::newConnection, &echo, [&echo] {
        while (QTcpSocket *socket = echo.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::readyRead, socket,
                             [socket] { socket->write(socket->readAll()); });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
    tcp_client window;
    window.show();
    const tcp_clientControls form = controls(window);
    const auto cycle = [&] {
        form.host_remoto->setEditText(QStringLiteral("127.0.0.1"));
        form.puerto_remoto->setEditText(QString::number(echo.serverPort()));
        form.cmdConnect->click();
        if (!settles([&] { return form.Estado->text() == status::connected(); }))
            return false;
        QTest::keyClicks(form.txtSend, QStringLiteral("ping"));
        QTest::keyClick(form.txtSend, Qt::Key_Return);
        if (!settles([&] { return form.txtRcv->mid(0, 6) == QStringLiteral("ping\r\n"); }))
            return false;
        form.cmdDisconnect->click();
        return true;
    };
    for (int i = 0; i < 10; ++i)
        if (!cycle())
            return 1;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const qsizetype filesBefore = openFileCount();
    const long long before = bench::residentKiB();
    for (int i = 0; i < count; ++i) {
        if (!cycle()) {
            std::printf("connection %d did not echo  FAIL\n", i);
            return 1;
        }
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    settles([&] { return openFileCount() <= filesBefore + 2; });
    const long long grown = bench::residentKiB() - before;
    const qsizetype files = openFileCount();
    const bool within = grown < 2 * 1024 && files <= filesBefore + 2;
    std::printf("%d connections in a row   %+lld KiB resident (bound 2048), open files %lld -> "
                "%lld%s\n",
                count, grown, static_cast<long long>(filesBefore), static_cast<long long>(files),
                within ? "" : "  FAIL");
    std::fflush(stdout);
    return within ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QStringList args = app.arguments();
    qsizetype mib = 256;
    if (const auto at = args.indexOf(QStringLiteral("--mib")); at > 0 && at + 1 < args.size())
        mib = args.at(at + 1).toLongLong();
    if (const auto at = args.indexOf(QStringLiteral("--pattern")); at > 0 && at + 1 < args.size())
        return runPattern(patterns().at(static_cast<std::size_t>(args.at(at + 1).toInt())), mib);
    if (const auto at = args.indexOf(QStringLiteral("--connections"));
        at > 0 && at + 1 < args.size())
        return runConnections(args.at(at + 1).toInt());

    std::printf("resident memory per received byte, %lld MiB each\n", static_cast<long long>(mib));
    std::fflush(stdout);
    int failed = 0;
    const auto runChild = [&failed](const QStringList &arguments) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(), arguments);
        child.waitForFinished(-1);
        failed += child.exitCode() != 0 || child.exitStatus() != QProcess::NormalExit;
    };
    for (std::size_t i = 0; i < patterns().size(); ++i)
        runChild({QStringLiteral("--pattern"), QString::number(i), QStringLiteral("--mib"),
                  QString::number(mib)});
    runChild({QStringLiteral("--connections"), QStringLiteral("200")});
    return failed == 0 ? 0 : 1;
}
