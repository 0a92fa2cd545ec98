// Finding a word placed at the end of what was received, against grep -F -c
// of the same word over the same bytes in a file on /dev/shm.
//
//   bench_find [--mib N] [--repeat R]                (default 4096 MiB, 3)
//
// The receive box is fed straight through appendReceived() with N MiB of
// 80-column CR LF lines in 64 KiB arrivals, as the receive path calls it but
// without a socket, and a last line holding the word; the same bytes go to a
// file on /dev/shm. Each repeat times grep -F -c and grep -F -i -c (under
// LC_ALL=C.UTF-8, and under LC_ALL=C), TextSearch over a share of the store
// from the start, matching case and not, and the find bar: Ctrl+F, the word,
// Enter, until the match is selected, with the longest turn of the event
// loop meanwhile (on the clock, and in the thread's processor time; apart
// for opening the bar; and, for comparison, in a second of doing nothing)
// and the longest single event handled. Printed: rates in MiB/s
// of the medians, and the ratios of the search's rate to grep's.

#include "bench_support.h"
#include "bench_transcript.h"

#include "receivebox/ReceiveBox.h"
#include "receivebox/ReceiveBox_p.h"
#include "receivebox/find/BackgroundFind.h"
#include "transcript/TextSearch.h"

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

namespace {

constexpr qsizetype kMiB = 1024 * 1024;
const QString kWord = QStringLiteral("murcielago");

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Ctrl+F, the word, Enter: seconds until the match is selected. The turns
// of opening the bar (which take what Qt does when a widget first shows) and
// of finding are watched apart.
double findWithTheBar(ReceiveBox &box, bool matchCase, qsizetype expected, bench::Turns &opening,
                      bench::Turns &finding)
{
    box.setSelStart(0);
    {
        bench::TurnWatch turns;
        static_cast<bench::TimedApplication *>(QCoreApplication::instance())->watch(true);
        turns.start();
        bench::press(&box, Qt::Key_F, Qt::ControlModifier);
        QEventLoop settle;
        QTimer::singleShot(100, &settle, &QEventLoop::quit);
        settle.exec();
        turns.stop();
        static_cast<bench::TimedApplication *>(QCoreApplication::instance())->watch(false);
        opening.take(turns);
    }
    auto *field = box.findChild<QLineEdit *>(QStringLiteral("findText"));
    auto *caseBox = box.findChild<QCheckBox *>(QStringLiteral("findMatchCase"));
    auto *search = box.findChild<BackgroundFind *>();
    field->setText(kWord);
    caseBox->setChecked(matchCase);
    QEventLoop loop;
    QObject::connect(search, &BackgroundFind::found, &loop, &QEventLoop::quit);
    QObject::connect(search, &BackgroundFind::notFound, &loop, &QEventLoop::quit);
    bench::TurnWatch turns;
    QElapsedTimer clock;
    clock.start();
    static_cast<bench::TimedApplication *>(QCoreApplication::instance())->watch(true);
    turns.start();
    bench::press(field, Qt::Key_Return);
    loop.exec();
    QCoreApplication::processEvents();
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    turns.stop();
    static_cast<bench::TimedApplication *>(QCoreApplication::instance())->watch(false);
    finding.take(turns);
    if (box.selectionStart() != expected) {
        std::fprintf(stderr, "the bar found %lld, not %lld\n",
                     static_cast<long long>(box.selectionStart()),
                     static_cast<long long>(expected));
        std::exit(1);
    }
    bench::press(field, Qt::Key_Escape);
    return seconds;
}

} // namespace

int main(int argc, char **argv)
{
    bench::defaultToOffscreen();
    bench::TimedApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const auto [mib, repeats] = bench::runSize(arguments, 4096);
    const QString file =
        QStringLiteral("/dev/shm/brisol-bench-find-%1.txt").arg(QCoreApplication::applicationPid());
    ReceiveBox box;
    box.resize(800, 600);
    const QByteArray tail = "\r\nel " + kWord.toLatin1() + " al final\r\n";
    bench::fillBox(box, mib * kMiB, tail, file);
    const qsizetype expected = box.length() - tail.size() + 5;
    const double megabytes = double(mib * kMiB + tail.size()) / double(kMiB);

    std::map<std::string, std::vector<double>> times;
    bench::Turns opening;
    bench::Turns finding;
    const std::shared_ptr<const ByteStore> store =
        ReceiveBox::Private::of(box).text.store().share();
    for (int r = 0; r < repeats; ++r) {
        for (const char *locale : {"C.UTF-8", "C"}) {
            for (const bool fold : {false, true}) {
                QStringList grepArguments{QStringLiteral("-F"), QStringLiteral("-c")};
                if (fold)
                    grepArguments << QStringLiteral("-i");
                grepArguments << kWord << file;
                QByteArray count;
                const double seconds =
                    bench::timedRun(QStringLiteral("grep"), grepArguments, &count,
                                    {QStringLiteral("LC_ALL=%1").arg(QLatin1String(locale))});
                if (count.trimmed() != "1") {
                    std::fprintf(stderr, "grep counted %s\n", count.constData());
                    return 1;
                }
                times[std::string("grep") + (fold ? "_i" : "") + "_" + locale].push_back(seconds);
            }
        }
        for (const bool matchCase : {true, false}) {
            const TextSearch search(kWord, matchCase, store->table());
            QElapsedTimer clock;
            clock.start();
            const qsizetype at = search.first(*store, 0, store->characterCount());
            const double seconds = double(clock.nsecsElapsed()) / 1e9;
            if (at != expected) {
                std::fprintf(stderr, "found %lld, not %lld\n", static_cast<long long>(at),
                             static_cast<long long>(expected));
                return 1;
            }
            times[matchCase ? "search" : "search_i"].push_back(seconds);
            times[matchCase ? "bar" : "bar_i"].push_back(
                findWithTheBar(box, matchCase, expected, opening, finding));
        }
        std::printf("repeat %d: grep %.3f s, grep -i %.3f s, search %.3f s, search -i %.3f s, "
                    "bar %.3f s, bar -i %.3f s\n",
                    r, times["grep_C.UTF-8"].back(), times["grep_i_C.UTF-8"].back(),
                    times["search"].back(), times["search_i"].back(), times["bar"].back(),
                    times["bar_i"].back());
    }
    QFile::remove(file);
    // A second with nothing to do: what the machine alone makes of a turn.
    bench::TurnWatch idle;
    {
        QEventLoop loop;
        QTimer::singleShot(1000, &loop, &QEventLoop::quit);
        idle.start();
        loop.exec();
        idle.stop();
    }

    std::printf("%-30s %10.0f MiB\n", "received", megabytes);
    for (const auto &[name, values] : times)
        std::printf("%-30s %10.1f MiB/s\n", (name + "_mib_s").c_str(), megabytes / median(values));
    const auto ratio = [&](const char *ours, const std::string &theirs) {
        return median(times[theirs]) / median(times[ours]);
    };
    std::printf("%-30s %10.3f x (target >= 0.8)\n", "search_vs_grep",
                ratio("search", "grep_C.UTF-8"));
    std::printf("%-30s %10.3f x (target >= 0.5)\n", "search_i_vs_grep_i",
                ratio("search_i", "grep_i_C.UTF-8"));
    std::printf("%-30s %10.3f x\n", "search_vs_grep_C", ratio("search", "grep_C"));
    std::printf("%-30s %10.3f x\n", "search_i_vs_grep_i_C", ratio("search_i", "grep_i_C"));
    std::printf("%-30s %10.3f x\n", "bar_vs_grep", ratio("bar", "grep_C.UTF-8"));
    std::printf("%-30s %10.3f x\n", "bar_i_vs_grep_i", ratio("bar_i", "grep_i_C.UTF-8"));
    std::printf("%-30s %10.2f ms\n", "longest_turn_finding", finding.longestMs);
    std::printf("%-30s %10.2f ms\n", "longest_turn_cpu_finding", finding.longestCpuMs);
    std::printf("%-30s %10.2f ms (%s)\n", "longest_event_finding", finding.longestEventMs,
                finding.longestEvent.constData());
    std::printf("%-30s %10.2f ms\n", "longest_bench_timer_event",
                std::max(finding.longestOwnEventMs, opening.longestOwnEventMs));
    std::printf("%-30s %10.2f ms\n", "longest_turn_opening_bar", opening.longestMs);
    std::printf("%-30s %10.2f ms\n", "longest_turn_cpu_opening_bar", opening.longestCpuMs);
    std::printf("%-30s %10.2f ms (%s)\n", "longest_event_opening_bar", opening.longestEventMs,
                opening.longestEvent.constData());
    std::printf("%-30s %10.2f ms\n", "longest_turn_idle", idle.longestMs());
    std::printf("%-30s %10.2f ms\n", "longest_turn_cpu_idle", idle.longestCpuMs());
    return 0;
}
