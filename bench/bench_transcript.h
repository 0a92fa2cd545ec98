#pragma once

// What the save and find benchmarks share: a receive box filled straight
// with received lines (appendBytes, as the receive path calls it, without a
// socket), the same bytes written to a file for the tool compared against,
// the longest turn of the event loop while an action runs, and an external
// command timed.

#include <QApplication>
#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

class ReceiveBox;

namespace bench {

// Streams `bytes` of 80-column CR LF lines into the box in 64 KiB arrivals,
// the caret put at the end after each as the receive path does; the same
// bytes go to `copyPath` too, unless it is empty. Ends with `tail`.
void fillBox(ReceiveBox &box, qsizetype bytes, const QByteArray &tail, const QString &copyPath);

// Watches the event loop: a timer due at every turn notes the longest time
// between two of its calls, which is the longest turn while it runs, on the
// clock and in the processor time of the thread (the clock's figure also
// holds the time the thread waited for a core on a busy machine).
class TurnWatch final : public QObject
{
public:
    TurnWatch();
    void start();
    void stop();
    double longestMs() const { return double(m_longestNs) / 1e6; }
    double longestCpuMs() const { return double(m_longestCpuNs) / 1e6; }
    // When the turn of most processor time ended, from the start.
    double longestCpuAtS() const { return double(m_longestCpuAt) / 1e9; }

private:
    void tick();

    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_lastCpu = 0;
    qint64 m_longestNs = 0;
    qint64 m_longestCpuNs = 0;
    qint64 m_longestCpuAt = 0;
};

// The application, timing each event it delivers from the event loop while
// watching: the longest, and to whom it went. An event sent while another
// is handled counts within that one. Events to the benchmark's own timers
// (named "bench: …") are timed apart: as they do next to nothing, their
// longest is what the machine alone adds to an event (a core taken away).
class TimedApplication final : public QApplication
{
public:
    using QApplication::QApplication;

    void watch(bool on);
    double longestEventMs() const { return double(m_longestNs) / 1e6; }
    // The longest event's type and receiver's class.
    QByteArray longestEvent() const { return m_longestWhat; }
    double longestOwnEventMs() const { return double(m_longestOwnNs) / 1e6; }

    bool notify(QObject *receiver, QEvent *event) override;

private:
    bool m_watching = false;
    int m_depth = 0;
    qint64 m_longestNs = 0;
    qint64 m_longestOwnNs = 0;
    QByteArray m_longestWhat;
};

// The longest turn and event over the stretches watched so far.
struct Turns
{
    double longestMs = 0;
    double longestCpuMs = 0;
    double longestEventMs = 0;
    double longestOwnEventMs = 0;
    QByteArray longestEvent;
    // Adds a stretch: the watch's turns, the application's events.
    void take(const TurnWatch &watch);
};

// The value given after an option on the command line ("--mib 512"), or
// the fallback.
QString option(const QStringList &arguments, const QString &name, const QString &fallback);

// How much a benchmark streams and how often it repeats: --mib N and
// --repeat R on the command line, or the defaults.
struct RunSize
{
    qsizetype mib = 0;
    int repeats = 3;
};
RunSize runSize(const QStringList &arguments, qsizetype defaultMib);

// A key pressed on a widget, as the keyboard delivers it.
void press(QWidget *widget, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);

// Runs a program and waits for it; wall-clock seconds, its output in
// `output` when given. A program that fails ends the benchmark.
double timedRun(const QString &program, const QStringList &arguments, QByteArray *output = nullptr,
                const QStringList &environment = {});

} // namespace bench
