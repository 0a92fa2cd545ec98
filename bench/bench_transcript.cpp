#include "bench_transcript.h"

#include "ReceivedBytes.h"
#include "bench_support.h"

#include "receivebox/ReceiveBox.h"

#include <QFile>
#include <QKeyEvent>
#include <QProcess>

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace bench {

namespace {

qint64 threadCpuNs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64{now.tv_sec} * 1000000000 + qint64{now.tv_nsec};
}

} // namespace

void fillBox(ReceiveBox &box, qsizetype bytes, const QByteArray &tail, const QString &copyPath)
{
    constexpr qsizetype kArrival = 64 * 1024;
    QFile copy(copyPath);
    if (!copyPath.isEmpty() && !copy.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(copyPath));
        std::exit(1);
    }
    Lines lines(kArrivalLines);
    QByteArray arrival(kArrival, Qt::Uninitialized);
    for (qsizetype done = 0; done < bytes;) {
        const qsizetype take = std::min(kArrival, bytes - done);
        arrival.resize(take);
        lines.fill(arrival.data(), static_cast<std::size_t>(take));
        appendAsReceived(box, arrival);
        box.setSelStart(box.length());
        if (copy.isOpen())
            copy.write(arrival);
        done += take;
    }
    appendAsReceived(box, tail);
    if (copy.isOpen())
        copy.write(tail);
}

TurnWatch::TurnWatch()
{
    m_timer.setObjectName(QStringLiteral("bench: turn watch"));
    m_timer.setInterval(0);
    QObject::connect(&m_timer, &QTimer::timeout, this, [this] { tick(); });
}

void TurnWatch::start()
{
    m_longestNs = 0;
    m_longestCpuNs = 0;
    m_clock.start();
    m_last = 0;
    m_lastCpu = threadCpuNs();
    m_timer.start();
}

void TurnWatch::stop()
{
    tick();
    m_timer.stop();
}

void TurnWatch::tick()
{
    const qint64 now = m_clock.nsecsElapsed();
    const qint64 cpu = threadCpuNs();
    m_longestNs = std::max(m_longestNs, now - m_last);
    if (cpu - m_lastCpu > m_longestCpuNs) {
        m_longestCpuNs = cpu - m_lastCpu;
        m_longestCpuAt = now;
    }
    m_last = now;
    m_lastCpu = cpu;
}

void TimedApplication::watch(bool on)
{
    m_watching = on;
    if (on) {
        m_longestNs = 0;
        m_longestOwnNs = 0;
        m_longestWhat.clear();
    }
}

bool TimedApplication::notify(QObject *receiver, QEvent *event)
{
    if (!m_watching || m_depth > 0)
        return QApplication::notify(receiver, event);
    const int type = event->type();
    const QByteArray receiverName =
        QByteArray(receiver->metaObject()->className()) +
        (receiver->objectName().isEmpty() ? QByteArray() : " " + receiver->objectName().toUtf8());
    // Read before: the receiver may be gone once the event is handled.
    const bool own = receiver->objectName().startsWith(QStringLiteral("bench: "));
    QElapsedTimer clock;
    clock.start();
    ++m_depth;
    const bool handled = QApplication::notify(receiver, event);
    --m_depth;
    if (own) {
        m_longestOwnNs = std::max(m_longestOwnNs, clock.nsecsElapsed());
    } else if (clock.nsecsElapsed() > m_longestNs) {
        m_longestNs = clock.nsecsElapsed();
        m_longestWhat = "event " + QByteArray::number(type) + " to " + receiverName;
    }
    return handled;
}

double timedRun(const QString &program, const QStringList &arguments, QByteArray *output,
                const QStringList &environment)
{
    QProcess process;
    if (!environment.isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString &setting : environment)
            env.insert(setting.section(u'=', 0, 0), setting.section(u'=', 1));
        process.setProcessEnvironment(env);
    }
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
        (process.exitCode() != 0 && program != QStringLiteral("grep"))) {
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program),
                     process.readAllStandardError().constData());
        std::exit(1);
    }
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    if (output)
        *output = process.readAllStandardOutput();
    return seconds;
}

void Turns::take(const TurnWatch &watch)
{
    longestMs = std::max(longestMs, watch.longestMs());
    longestCpuMs = std::max(longestCpuMs, watch.longestCpuMs());
    auto *app = static_cast<TimedApplication *>(QCoreApplication::instance());
    longestOwnEventMs = std::max(longestOwnEventMs, app->longestOwnEventMs());
    if (app->longestEventMs() > longestEventMs) {
        longestEventMs = app->longestEventMs();
        longestEvent = app->longestEvent();
    }
}

QString option(const QStringList &arguments, const QString &name, const QString &fallback)
{
    for (qsizetype i = 1; i + 1 < arguments.size(); i += 2) {
        if (arguments[i] == name)
            return arguments[i + 1];
    }
    return fallback;
}

RunSize runSize(const QStringList &arguments, qsizetype defaultMib)
{
    return {option(arguments, QStringLiteral("--mib"), QString::number(defaultMib)).toLongLong(),
            option(arguments, QStringLiteral("--repeat"), QStringLiteral("3")).toInt()};
}

void press(QWidget *widget, int key, Qt::KeyboardModifiers modifiers)
{
    QKeyEvent event(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(widget, &event);
}

} // namespace bench
