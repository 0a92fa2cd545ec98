// Saving what was received, against cp of the same bytes.
//
//   bench_save [--mib N] [--folder DIR] [--repeat R]     (default 1024 MiB, a
//                                                        new folder in /tmp, 3)
//
// The receive box is fed straight through appendReceived() with N MiB of
// 80-column CR LF lines in 64 KiB arrivals, as the receive path calls it but
// without a socket; the same bytes go to a file on /dev/shm. Each repeat
// then copies that file into the folder with cp, and saves the box's
// transcript into the same folder the way Ctrl+S does once the dialog has
// its path (the saver's thread, QSaveFile, its sync to disk at commit), the
// event loop running meanwhile. Both files are removed after each repeat.
// Printed: each time, the ratio of the median save to the median cp (and to
// cp followed by a sync of the copy, which QSaveFile's commit does), the
// longest turn of the event loop while saving (on the clock, and in the
// thread's processor time; and, for comparison, while idle as long), the
// longest single event handled meanwhile, and the resident size before, at
// its largest during and after the save.

#include "bench_support.h"
#include "bench_transcript.h"

#include "receivebox/ReceiveBox.h"
#include "receivebox/ReceiveBox_p.h"
#include "receivebox/save/TranscriptSaver.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr qsizetype kMiB = 1024 * 1024;

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    bench::defaultToOffscreen();
    bench::TimedApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const auto [mib, repeats] = bench::runSize(arguments, 1024);
    QString folder = bench::option(arguments, QStringLiteral("--folder"), QString());
    const QString tag =
        QStringLiteral("brisol-bench-save-%1").arg(QCoreApplication::applicationPid());
    const bool ownFolder = folder.isEmpty();
    if (ownFolder) {
        folder = QDir::temp().filePath(tag);
        QDir().mkpath(folder);
    }
    const QString source = QStringLiteral("/dev/shm/%1.txt").arg(tag);
    const QString copied = QDir(folder).filePath(QStringLiteral("cp.txt"));
    const QString saved = QDir(folder).filePath(QStringLiteral("saved.txt"));

    ReceiveBox box;
    bench::fillBox(box, mib * kMiB, {}, source);
    const long long rssBefore = bench::residentKiB();

    std::vector<double> cpTimes;
    std::vector<double> cpSyncTimes;
    std::vector<double> saveTimes;
    double longestTurnMs = 0;
    double longestTurnCpuMs = 0;
    double longestTurnCpuAt = 0;
    double longestEventMs = 0;
    double longestOwnEventMs = 0;
    QByteArray longestEvent;
    long long rssDuring = 0;
    long long rssAfter = 0;
    // Saves the box's transcript; with `watched`, the event loop's turns and
    // the resident size are watched meanwhile (the watch keeps the thread
    // busy, so the timed saves go unwatched).
    const auto saveOnce = [&](bool watched) {
        bench::TurnWatch turns;
        QTimer sampler;
        sampler.setObjectName(QStringLiteral("bench: resident size"));
        sampler.setInterval(5);
        long long largest = bench::residentKiB();
        QObject::connect(&sampler, &QTimer::timeout, &sampler,
                         [&] { largest = std::max(largest, bench::residentKiB()); });
        QEventLoop loop;
        QElapsedTimer clock;
        clock.start();
        if (watched) {
            turns.start();
            sampler.start();
            app.watch(true);
        }
        ReceiveBox::Private::of(box).saveTo(ReceiveBox::Private::of(box).text.store().share(),
                                            saved);
        // The newest child: one done before may not be deleted yet.
        TranscriptSaver *saver = box.findChildren<TranscriptSaver *>().constLast();
        platform::transcript::SaveResult result = platform::transcript::SaveResult::Failed;
        QObject::connect(saver, &TranscriptSaver::finished, &loop,
                         [&](platform::transcript::SaveResult outcome) {
                             result = outcome;
                             loop.quit();
                         });
        loop.exec();
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        if (watched) {
            app.watch(false);
            turns.stop();
            sampler.stop();
            longestEventMs = app.longestEventMs();
            longestEvent = app.longestEvent();
            longestOwnEventMs = app.longestOwnEventMs();
            longestTurnMs = turns.longestMs();
            longestTurnCpuMs = turns.longestCpuMs();
            longestTurnCpuAt = turns.longestCpuAtS();
            rssDuring = largest;
        }
        QCoreApplication::processEvents(); // the saver goes
        if (result != platform::transcript::SaveResult::Saved ||
            QFileInfo(saved).size() != mib * kMiB) {
            std::fprintf(stderr, "the save failed\n");
            std::exit(1);
        }
        return seconds;
    };
    for (int r = 0; r < repeats; ++r) {
        const double cp = bench::timedRun(QStringLiteral("cp"), {source, copied});
        const double sync = bench::timedRun(QStringLiteral("sync"), {QStringLiteral("-d"), copied});
        QFile::remove(copied);
        cpTimes.push_back(cp);
        cpSyncTimes.push_back(cp + sync);
        const double seconds = saveOnce(false);
        if (r == 0)
            bench::timedRun(QStringLiteral("cmp"), {source, saved});
        QFile::remove(saved);
        saveTimes.push_back(seconds);
        std::printf("repeat %d: cp %.3f s, cp+sync %.3f s, save %.3f s\n", r, cp, cp + sync,
                    seconds);
    }
    const double watchedSeconds = saveOnce(true);
    // The same time with nothing to do: what the machine alone makes of a
    // turn.
    bench::TurnWatch idle;
    {
        QEventLoop loop;
        QTimer::singleShot(static_cast<int>(watchedSeconds * 1000), &loop, &QEventLoop::quit);
        idle.start();
        loop.exec();
        idle.stop();
    }
    QFile::remove(saved);
    rssAfter = bench::residentKiB();
    std::printf("watched save: %.3f s\n", watchedSeconds);
    QFile::remove(source);
    if (ownFolder)
        QDir().rmdir(folder);

    const double cp = median(cpTimes);
    const double save = median(saveTimes);
    std::printf("%-28s %10lld MiB\n", "received", static_cast<long long>(mib));
    std::printf("%-28s %10s\n", "folder", qPrintable(folder));
    std::printf("%-28s %10.3f s\n", "cp_median", cp);
    std::printf("%-28s %10.3f s\n", "cp_sync_median", median(cpSyncTimes));
    std::printf("%-28s %10.3f s\n", "save_median", save);
    std::printf("%-28s %10.3f x (target <= 1.5)\n", "save_vs_cp", save / cp);
    std::printf("%-28s %10.3f x\n", "save_vs_cp_sync", save / median(cpSyncTimes));
    std::printf("%-28s %10.2f ms\n", "longest_turn_saving", longestTurnMs);
    std::printf("%-28s %10.2f ms (ending %.3f s into the save)\n", "longest_turn_cpu_saving",
                longestTurnCpuMs, longestTurnCpuAt);
    std::printf("%-28s %10.2f ms (%s)\n", "longest_event_saving", longestEventMs,
                longestEvent.constData());
    std::printf("%-28s %10.2f ms\n", "longest_bench_timer_event", longestOwnEventMs);
    std::printf("%-28s %10.2f ms\n", "longest_turn_idle", idle.longestMs());
    std::printf("%-28s %10.2f ms\n", "longest_turn_cpu_idle", idle.longestCpuMs());
    std::printf("%-28s %10lld MiB\n", "rss_before_save", rssBefore / 1024);
    std::printf("%-28s %10lld MiB\n", "rss_largest_during_save", rssDuring / 1024);
    std::printf("%-28s %10lld MiB\n", "rss_after_save", rssAfter / 1024);
    return 0;
}
