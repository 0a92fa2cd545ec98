// Resident memory the receive box takes per received byte, for streams of
// every shape a peer can choose, line index included.
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

#include "ReceivedBytes.h"
#include "bench_support.h"

#include "receivebox/ReceiveBox.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
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

    std::printf("resident memory per received byte, %lld MiB each\n", static_cast<long long>(mib));
    std::fflush(stdout);
    int failed = 0;
    for (std::size_t i = 0; i < patterns().size(); ++i) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--pattern"), QString::number(i), QStringLiteral("--mib"),
                     QString::number(mib)});
        child.waitForFinished(-1);
        failed += child.exitCode() != 0 || child.exitStatus() != QProcess::NormalExit;
    }
    return failed == 0 ? 0 : 1;
}
