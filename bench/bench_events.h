#pragma once

// Waiting in the benchmarks that run a Qt event loop.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

namespace bench {

// Runs the event loop until done() holds; false once limitMs pass without it.
template <typename Done> bool runUntil(Done done, qint64 limitMs = 60000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > limitMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

} // namespace bench
