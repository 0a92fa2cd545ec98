// Switching the receive box between its text and hexadecimal views with a
// long transcript: the longest turn of the event loop around each Ctrl+H,
// the paint of the new view included, and the memory the box holds before
// and after.
//
//   bench_hexview [--mib N] [--repeat R]                (default 4096 MiB, 3)
//
// The box is fed straight through appendReceived() with N MiB of 80-column
// CR LF lines and a NUL, as bench_find does; then, with the view at the
// start, a third of the way, two thirds and the end, Ctrl+H switches to the
// hexadecimal view and back, R times each, each switch watched on its own
// until the event loop has been idle for 50 ms.

#include "bench_support.h"
#include "bench_transcript.h"

#include "receivebox/ReceiveBox.h"
#include "receivebox/ReceiveBox_p.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>

namespace {

constexpr qsizetype kMiB = 1024 * 1024;

void settle()
{
    QEventLoop loop;
    QTimer::singleShot(50, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char **argv)
{
    bench::defaultToOffscreen();
    bench::TimedApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const auto [mib, repeats] = bench::runSize(arguments, 4096);
    ReceiveBox box;
    box.resize(800, 600);
    box.show();
    bench::fillBox(box, mib * kMiB, QByteArray("\r\nun NUL: \0 y el final\r\n", 24), {});
    settle();
    const ReceiveBox::Private &state = ReceiveBox::Private::of(box);
    const qsizetype memoryBefore = state.text.memoryUsed();
    box.setFocus();

    bench::Turns switching;
    const qsizetype length = box.length();
    int switches = 0;
    for (int r = 0; r < repeats; ++r) {
        for (const qsizetype at : {qsizetype{0}, length / 3, 2 * length / 3, length}) {
            box.setSelStart(at);
            settle();
            for (int turn = 0; turn < 2; ++turn) {
                bench::TurnWatch turns;
                static_cast<bench::TimedApplication *>(QCoreApplication::instance())->watch(true);
                turns.start();
                bench::press(&box, Qt::Key_H, Qt::ControlModifier);
                settle();
                turns.stop();
                static_cast<bench::TimedApplication *>(QCoreApplication::instance())->watch(false);
                switching.take(turns);
                ++switches;
                auto *timed = static_cast<bench::TimedApplication *>(QCoreApplication::instance());
                std::printf("repeat %d, at %5.1f %%, to the %s view: turn %6.2f ms (processor "
                            "%6.2f ms), longest event %6.2f ms\n",
                            r, 100.0 * double(at) / double(length),
                            box.isHexView() ? "hex" : "text", turns.longestMs(),
                            turns.longestCpuMs(), timed->longestEventMs());
            }
        }
    }
    if (box.isHexView()) {
        std::fprintf(stderr, "the box was left in the hexadecimal view\n");
        return 1;
    }
    box.setHexView(true);
    settle();
    const qsizetype memoryInHex = state.text.memoryUsed();
    // A second with nothing to do: what the machine alone makes of a turn.
    bench::TurnWatch idle;
    idle.start();
    settle();
    for (int i = 0; i < 19; ++i)
        settle();
    idle.stop();

    std::printf("%-30s %10lld MiB\n", "received", static_cast<long long>(mib));
    std::printf("%-30s %10d\n", "switches", switches);
    std::printf("%-30s %10.2f ms (target <= 50)\n", "longest_turn_switching", switching.longestMs);
    std::printf("%-30s %10.2f ms\n", "longest_turn_cpu_switching", switching.longestCpuMs);
    std::printf("%-30s %10.2f ms (%s)\n", "longest_event_switching", switching.longestEventMs,
                switching.longestEvent.constData());
    std::printf("%-30s %10.2f ms\n", "longest_bench_timer_event", switching.longestOwnEventMs);
    std::printf("%-30s %10.2f ms\n", "longest_turn_idle", idle.longestMs());
    std::printf("%-30s %10lld bytes\n", "memory_text_view", static_cast<long long>(memoryBefore));
    std::printf("%-30s %10lld bytes\n", "memory_hex_view", static_cast<long long>(memoryInHex));
    return 0;
}
