#include "bench_startup.h"

#include "bench_support.h"

#include <QApplication>
#include <QEvent>
#include <QWindow>

#include <cstdio>
#include <cstdlib>

namespace {

class ExposeWatch final : public QObject
{
public:
    explicit ExposeWatch(long long startNs) : m_startNs(startNs) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Expose && watched->isWindowType() &&
            static_cast<QWindow *>(watched)->isExposed()) {
            std::printf("startup_ms %.3f\n", double(bench::monotonicNs() - m_startNs) / 1e6);
            std::fflush(stdout);
            std::_Exit(0);
        }
        return false;
    }

private:
    long long m_startNs;
};

} // namespace

void reportFirstExpose(QApplication &application, int argc, char **argv)
{
    const long long start = argc > 1 ? std::atoll(argv[1]) : 0;
    application.installEventFilter(new ExposeWatch(start));
}
