// How fast, how big and how responsive the receive path is against a loopback
// stream, next to what a plain QTcpSocket reader gets from the same stream.
//
//   bench_stream [--mib N] [--repeat R]
//
// Without a case name every case runs in a process of its own (so each peak
// resident size is that case's alone), the stream cases interleaved R times
// so that a noisy machine slows all of them alike, and one line per figure
// is printed: name, value, unit. The medians of the repeats are shown. Every
// stream run compares what the receive box holds with what was sent; a run
// that lost, added or changed a character prints FAIL and the program ends
// with a non-zero status.
//
// Cases (each also runs alone: bench_stream CASE [--mib N]):
//   raw      a QTcpSocket reader in an event loop that discards the bytes
//   lines    80-column CR LF lines into the real main window tcp_client
//   flat     the same bytes with no line break at all
//   nul      lines where one byte in eight is NUL
//   latency  one 64 KiB arrival and one paint at 1 MiB and 512 MiB of
//            transcript, and a paint in the middle of a 64 MiB line
//   enter    Enter in the send box to the bytes at the loopback peer
// and the start-up of bench_startup_brisol against bench_startup_plain.

#include "bench_events.h"
#include "bench_support.h"

#include "receivebox/ReceiveBox.h"
#include "sendbox/SendBox.h"
#include "system/SocketControl.h"
#include "windows/tcp_client.h"
#include "windows/tcp_client_p.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr qint64 kKiB = 1024;
constexpr qint64 kMiB = 1024 * 1024;
constexpr qint64 kArrival = 64 * kKiB;

// CPU time of the calling thread (user and system), in nanoseconds.
qint64 threadCpuNs()
{
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return (qint64{usage.ru_utime.tv_sec} + qint64{usage.ru_stime.tv_sec}) * 1000000000 +
           (qint64{usage.ru_utime.tv_usec} + qint64{usage.ru_stime.tv_usec}) * 1000;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// --- what is sent ---

enum class Shape { Lines, Flat, Nul };

// The bytes of a stream, produced piece by piece; two generators of one shape
// produce the same bytes, numbered lines (see bench::LineFormat), with one
// byte in eight made NUL for Shape::Nul. All bytes are ASCII (or NUL), whose
// ANSI characters are the same code points.
class StreamGenerator final
{
public:
    explicit StreamGenerator(Shape shape)
        : m_shape(shape), m_lines(shape == Shape::Flat ? bench::kStreamFlat : bench::kStreamLines)
    {}

    void fill(char *out, qint64 count)
    {
        m_lines.fill(out, static_cast<std::size_t>(count));
        if (m_shape == Shape::Nul) {
            for (qint64 k = (7 - m_offset % 8 + 8) % 8; k < count; k += 8)
                out[k] = '\0';
        }
        m_offset += count;
    }

    // The characters the receive box shows for those bytes.
    static void expand(const char *bytes, qint64 count, std::vector<char16_t> &out)
    {
        out.clear();
        for (qint64 i = 0; i < count; ++i) {
            const auto byte = static_cast<unsigned char>(bytes[i]);
            if (byte == 0) {
                out.insert(out.end(), {u'\\', u'x', u'0', u'0'});
            } else {
                out.push_back(char16_t{byte});
            }
        }
    }

    // Characters shown for the first `bytes` bytes of a stream of that shape.
    static qint64 charsFor(Shape shape, qint64 bytes)
    {
        return shape == Shape::Nul ? bytes + 3 * (bytes / 8) : bytes;
    }

private:
    Shape m_shape;
    bench::Lines m_lines;
    qint64 m_offset = 0;
};

// --- the loopback peer ---

// A socket listening on 127.0.0.1; without one there is nothing to measure.
int listenOrExit(quint16 &port)
{
    const int fd = bench::listenOnLoopback(port);
    if (fd < 0) {
        std::perror("bench_stream: listen");
        std::exit(2);
    }
    return fd;
}

// Waits up to a minute for the one connection.
int acceptOne(int listener)
{
    pollfd p{listener, POLLIN, 0};
    if (::poll(&p, 1, 60000) != 1)
        return -1;
    return ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
}

// A peer in a thread of its own: accepts one connection on 127.0.0.1 and
// writes the generator's bytes in the amounts it is ordered to, then closes.
class Sender final
{
public:
    explicit Sender(Shape shape) : m_generator(shape)
    {
        m_listener = listenOrExit(m_port);
        m_thread = std::thread([this] { run(); });
    }

    ~Sender()
    {
        finish();
        m_thread.join();
        ::close(m_listener);
    }
    Q_DISABLE_COPY_MOVE(Sender)

    quint16 port() const { return m_port; }
    // When the connection was accepted: the start of a stream.
    qint64 acceptedNs() const { return m_accepted.load(); }

    void send(qint64 bytes)
    {
        const std::lock_guard lock(m_mutex);
        m_orders.push_back(bytes);
        m_wake.notify_one();
    }

    // Closes once everything ordered is written.
    void finish()
    {
        const std::lock_guard lock(m_mutex);
        m_finishing = true;
        m_wake.notify_one();
    }

private:
    void run()
    {
        const int fd = acceptOne(m_listener);
        m_accepted = bench::monotonicNs();
        std::vector<char> buffer(256 * kKiB);
        bool failed = fd < 0;
        for (;;) {
            qint64 bytes = 0;
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [this] { return !m_orders.empty() || m_finishing; });
                if (m_orders.empty())
                    break;
                bytes = m_orders.front();
                m_orders.pop_front();
            }
            while (bytes > 0 && !failed) {
                const qint64 take = std::min<qint64>(bytes, qint64(buffer.size()));
                m_generator.fill(buffer.data(), take);
                for (qint64 done = 0; done < take;) {
                    const ssize_t n = ::send(fd, buffer.data() + done,
                                             static_cast<std::size_t>(take - done), MSG_NOSIGNAL);
                    if (n <= 0) {
                        failed = true;
                        break;
                    }
                    done += n;
                }
                bytes -= take;
            }
        }
        if (fd >= 0)
            ::close(fd);
    }

    StreamGenerator m_generator;
    int m_listener = -1;
    quint16 m_port = 0;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<qint64> m_orders;
    bool m_finishing = false;
    std::atomic<qint64> m_accepted{0};
};

// --- the event loop's turns ---

// Times every event the loop dispatches itself (not those sent from inside
// another's handler): the longest is the longest the window could not answer.
class TimedApplication final : public QApplication
{
public:
    using QApplication::QApplication;

    bool notify(QObject *receiver, QEvent *event) override
    {
        if (!m_timing || m_depth > 0)
            return QApplication::notify(receiver, event);
        ++m_depth;
        const qint64 start = bench::monotonicNs();
        const bool result = QApplication::notify(receiver, event);
        m_longestNs = std::max(m_longestNs, bench::monotonicNs() - start);
        --m_depth;
        return result;
    }

    void startTiming()
    {
        m_longestNs = 0;
        m_timing = true;
    }
    double stopTiming()
    {
        m_timing = false;
        return double(m_longestNs) / 1e6;
    }

private:
    bool m_timing = false;
    int m_depth = 0;
    qint64 m_longestNs = 0;
};

TimedApplication &app()
{
    return *static_cast<TimedApplication *>(QCoreApplication::instance());
}

void print(const char *name, double value)
{
    std::printf("%s %.6g\n", name, value);
    std::fflush(stdout);
}

// --- raw: the limit ---

int runRaw(qint64 bytes)
{
    Sender sender(Shape::Lines);
    sender.send(bytes);
    sender.finish();
    QTcpSocket socket;
    std::vector<char> sink(kMiB);
    qint64 received = 0;
    qint64 end = 0;
    QEventLoop loop;
    QObject::connect(&socket, &QTcpSocket::readyRead, &loop, [&] {
        for (qint64 n; (n = socket.read(sink.data(), qint64(sink.size()))) > 0;)
            received += n;
        if (received >= bytes && end == 0) {
            end = bench::monotonicNs();
            loop.quit();
        }
    });
    QObject::connect(&socket, &QTcpSocket::disconnected, &loop, &QEventLoop::quit);
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    const qint64 cpuBefore = threadCpuNs();
    socket.connectToHost(QStringLiteral("127.0.0.1"), sender.port());
    loop.exec();
    const qint64 cpu = threadCpuNs() - cpuBefore;
    if (received != bytes || end == 0) {
        std::printf("FAIL raw: %lld of %lld bytes\n", static_cast<long long>(received),
                    static_cast<long long>(bytes));
        return 1;
    }
    print("raw_mib_s", double(bytes) / double(kMiB) / (double(end - sender.acceptedNs()) / 1e9));
    print("raw_cpu_ns_per_byte", double(cpu) / double(bytes));
    return 0;
}

// --- the real window ---

// As a user would: Desconectar first if a connection is up, then the host,
// the port, and Conectar.
void connectWindow(tcp_client &window, quint16 port)
{
    if (!controls(window).cmdConnect->isEnabled())
        controls(window).cmdDisconnect->click();
    controls(window).host_remoto->setEditText(QStringLiteral("127.0.0.1"));
    controls(window).puerto_remoto->setEditText(QString::number(port));
    controls(window).cmdConnect->click();
}

// Compares the receive box's text with the stream's first `bytes` bytes.
bool sameAsSent(const ReceiveBox &box, Shape shape, qint64 bytes)
{
    StreamGenerator generator(shape);
    std::vector<char> sent(static_cast<std::size_t>(kMiB));
    std::vector<char16_t> expected;
    qint64 position = 0;
    for (qint64 done = 0; done < bytes;) {
        const qint64 take = std::min<qint64>(kMiB, bytes - done);
        generator.fill(sent.data(), take);
        StreamGenerator::expand(sent.data(), take, expected);
        const auto count = static_cast<qsizetype>(expected.size());
        const QString shown = box.mid(position, count);
        if (shown.size() != count ||
            std::memcmp(shown.utf16(), expected.data(), expected.size() * sizeof(char16_t)) != 0) {
            qsizetype at = 0;
            while (at < std::min(shown.size(), count) &&
                   shown.utf16()[at] == expected[static_cast<std::size_t>(at)])
                ++at;
            std::printf("FAIL text differs from what was sent at character %lld\n",
                        static_cast<long long>(position + at));
            return false;
        }
        position += count;
        done += take;
    }
    if (box.length() != position) {
        std::printf("FAIL text holds %lld characters, %lld were sent\n",
                    static_cast<long long>(box.length()), static_cast<long long>(position));
        return false;
    }
    return true;
}

int runStream(Shape shape, qint64 bytes, const char *name)
{
    tcp_client window;
    window.show();
    QCoreApplication::processEvents();
    Sender sender(shape);
    sender.send(bytes);
    sender.finish();

    const qint64 chars = StreamGenerator::charsFor(shape, bytes);
    qint64 end = 0;
    qint64 arrivals = 0;
    qint64 largest = 0;
    QObject context;
    // Connected after the window's own handler, so it sees the box after it.
    QObject::connect(controls(window).tcpClient, &SocketControl::dataArrival, &context,
                     [&](std::int32_t total) {
                         ++arrivals;
                         largest = std::max<qint64>(largest, total);
                         if (end == 0 && controls(window).txtRcv->length() >= chars)
                             end = bench::monotonicNs();
                     });
    const qint64 rssBefore = bench::peakResidentKiB();
    const qint64 cpuBefore = threadCpuNs();
    app().startTiming();
    connectWindow(window, sender.port());
    const bool complete = bench::runUntil([&] { return end != 0; });
    const double longest = app().stopTiming();
    const qint64 cpu = threadCpuNs() - cpuBefore;
    const qint64 rssAfter = bench::peakResidentKiB();
    if (!complete) {
        std::printf("FAIL %s: %lld of %lld characters arrived\n", name,
                    static_cast<long long>(controls(window).txtRcv->length()),
                    static_cast<long long>(chars));
        return 1;
    }
    if (!sameAsSent(*controls(window).txtRcv, shape, bytes))
        return 1;
    const std::string prefix(name);
    print((prefix + "_mib_s").c_str(),
          double(bytes) / double(kMiB) / (double(end - sender.acceptedNs()) / 1e9));
    print((prefix + "_rss_bytes_per_byte").c_str(),
          double(rssAfter - rssBefore) * double(kKiB) / double(bytes));
    print((prefix + "_longest_turn_ms").c_str(), longest);
    print((prefix + "_cpu_ns_per_byte").c_str(), double(cpu) / double(bytes));
    print((prefix + "_arrivals").c_str(), double(arrivals));
    print((prefix + "_largest_arrival_kib").c_str(), double(largest) / double(kKiB));
    return 0;
}

// --- latency: one arrival, one paint ---

// Streams until the box holds `chars` characters.
bool fillTo(tcp_client &window, Sender &sender, Shape shape, qint64 sentBytes, qint64 bytes)
{
    sender.send(bytes - sentBytes);
    const qint64 chars = StreamGenerator::charsFor(shape, bytes);
    return bench::runUntil([&] { return controls(window).txtRcv->length() >= chars; });
}

// Times the DataArrival handler on one 64 KiB arrival: the peer writes it, the
// socket reads all of it, and the event that the socket control queued for it
// is delivered alone.
bool timeArrivals(tcp_client &window, Sender &sender, int count, std::vector<double> &micros)
{
    auto *socket = controls(window).tcpClient->findChild<QTcpSocket *>();
    if (!socket)
        return false;
    for (int i = 0; i < count; ++i) {
        const qint64 before = controls(window).txtRcv->length();
        sender.send(kArrival);
        while (socket->bytesAvailable() < kArrival) {
            if (!socket->waitForReadyRead(10000))
                return false;
        }
        const qint64 start = bench::monotonicNs();
        QCoreApplication::sendPostedEvents(controls(window).tcpClient, QEvent::MetaCall);
        micros.push_back(double(bench::monotonicNs() - start) / 1e3);
        if (controls(window).txtRcv->length() != before + kArrival)
            return false;
        // What the loop does after an arrival (the paint, the scroll bar) is
        // done before the next, outside the timing.
        QCoreApplication::processEvents();
    }
    return true;
}

double timePaints(ReceiveBox &box, int count)
{
    std::vector<double> millis;
    for (int i = 0; i < count; ++i) {
        const qint64 start = bench::monotonicNs();
        box.viewport()->repaint();
        millis.push_back(double(bench::monotonicNs() - start) / 1e6);
    }
    return median(millis);
}

int runLatency()
{
    tcp_client window;
    window.show();
    QCoreApplication::processEvents();
    constexpr int kSamples = 48;
    constexpr int kPaints = 40;
    {
        Sender sender(Shape::Lines);
        connectWindow(window, sender.port());
        qint64 sent = 0;
        // Fills the transcript up to `size` bytes, then times arrivals and
        // paints at its end.
        auto measureAt = [&](qint64 size, const char *what, std::vector<double> &arrivals,
                             double &paint) {
            if (!fillTo(window, sender, Shape::Lines, sent, size)) {
                std::printf("FAIL latency: %s did not arrive\n", what);
                return false;
            }
            sent = size;
            if (!timeArrivals(window, sender, kSamples, arrivals)) {
                std::printf("FAIL latency: a 64 KiB arrival went wrong\n");
                return false;
            }
            sent += kSamples * kArrival;
            controls(window).txtRcv->setSelStart(controls(window).txtRcv->length());
            paint = timePaints(*controls(window).txtRcv, kPaints);
            return true;
        };
        std::vector<double> small;
        std::vector<double> large;
        double paintSmall = 0;
        double paintLarge = 0;
        if (!measureAt(kMiB, "the first MiB", small, paintSmall) ||
            !measureAt(512 * kMiB, "512 MiB", large, paintLarge))
            return 1;
        if (!sameAsSent(*controls(window).txtRcv, Shape::Lines, sent))
            return 1;
        print("arrival_us_small", median(small));
        print("arrival_us_large", median(large));
        print("paint_ms_small", paintSmall);
        print("paint_ms_large", paintLarge);
    }
    {
        Sender sender(Shape::Flat);
        connectWindow(window, sender.port());
        if (!fillTo(window, sender, Shape::Flat, 0, 64 * kMiB)) {
            std::printf("FAIL latency: the 64 MiB line did not arrive\n");
            return 1;
        }
        controls(window).txtRcv->setSelStart(controls(window).txtRcv->length() / 2);
        controls(window).txtRcv->setFocus();
        const double paintLongLine = timePaints(*controls(window).txtRcv, kPaints);
        if (!sameAsSent(*controls(window).txtRcv, Shape::Flat, 64 * kMiB))
            return 1;
        print("paint_ms_long_line", paintLongLine);
    }
    return 0;
}

// --- Enter to the wire ---

int runEnter()
{
    constexpr int kSamples = 200;
    constexpr qint64 kLine = 22; // 20 characters, CR, LF
    quint16 port = 0;
    const int listener = listenOrExit(port);
    std::atomic<qint64> wanted{0};
    std::atomic<qint64> arrivedNs{0};
    std::atomic<bool> stop{false};
    std::thread peer([&] {
        const int fd = acceptOne(listener);
        if (fd < 0)
            return;
        std::array<char, 4096> buffer{};
        qint64 received = 0;
        while (!stop.load()) {
            const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
            if (n <= 0)
                break;
            received += n;
            if (received >= wanted.load() && arrivedNs.load() == 0)
                arrivedNs = bench::monotonicNs();
        }
        ::close(fd);
    });

    tcp_client window;
    window.show();
    QCoreApplication::processEvents();
    connectWindow(window, port);
    const bool connected = bench::runUntil(
        [&] { return controls(window).tcpClient->State() == SocketControl::StateConnected; });
    std::vector<double> micros;
    auto key = [&](int code, const QString &text) {
        QKeyEvent press(QEvent::KeyPress, code, Qt::NoModifier, text);
        QApplication::sendEvent(controls(window).txtSend, &press);
        QKeyEvent release(QEvent::KeyRelease, code, Qt::NoModifier, text);
        QApplication::sendEvent(controls(window).txtSend, &release);
    };
    for (int i = 0; connected && i < kSamples; ++i) {
        for (int c = 0; c < 20; ++c) {
            const char16_t letter = static_cast<char16_t>(u'a' + (i + c) % 26);
            key(Qt::Key_A + (letter - u'a'), QString(QChar(letter)));
        }
        QCoreApplication::processEvents();
        arrivedNs = 0;
        wanted = (i + 1) * kLine;
        const qint64 start = bench::monotonicNs();
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
        QApplication::sendEvent(controls(window).txtSend, &press);
        QElapsedTimer timeout;
        timeout.start();
        while (arrivedNs.load() == 0 && timeout.elapsed() < 10000)
            QCoreApplication::processEvents();
        if (arrivedNs.load() == 0)
            break;
        micros.push_back(double(arrivedNs.load() - start) / 1e3);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
        QApplication::sendEvent(controls(window).txtSend, &release);
    }
    stop = true;
    window.connection().cmdDisconnect_Click();
    peer.join();
    ::close(listener);
    if (micros.size() != static_cast<std::size_t>(kSamples)) {
        std::printf("FAIL enter: %zu of %d lines reached the peer\n", micros.size(), kSamples);
        return 1;
    }
    print("enter_to_wire_us", median(micros));
    return 0;
}

// --- the whole run ---

struct Outcome
{
    std::map<std::string, double> values;
    bool failed = false;
};

Outcome runChild(const QString &program, const QStringList &arguments)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(program, arguments);
    child.waitForFinished(-1);
    Outcome outcome;
    const QStringList lines = QString::fromLocal8Bit(child.readAllStandardOutput())
                                  .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        const QStringList fields = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (fields.value(0) == QLatin1String("FAIL")) {
            std::printf("%s\n", qPrintable(line));
            outcome.failed = true;
        } else if (fields.size() == 2) {
            outcome.values[fields[0].toStdString()] = fields[1].toDouble();
        }
    }
    if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0) {
        std::printf("FAIL %s %s ended with status %d\n", qPrintable(program),
                    qPrintable(arguments.join(QLatin1Char(' '))), child.exitCode());
        outcome.failed = true;
    }
    return outcome;
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    return QString::fromLatin1(file.readAll()).section(QLatin1Char(' '), 0, 2);
}

void printFigure(const char *name, double value, const char *unit)
{
    std::printf("%-22s %12.6g %s\n", name, value, unit);
    std::fflush(stdout);
}

int runAll(qint64 mib, int repeats)
{
    const QString self = QCoreApplication::applicationFilePath();
    const QString dir = QCoreApplication::applicationDirPath();
    const QString size = QString::number(mib);
    bool failed = false;
    std::map<std::string, std::vector<double>> samples;
    auto take = [&](const Outcome &outcome) {
        failed = failed || outcome.failed;
        for (const auto &[name, value] : outcome.values)
            samples[name].push_back(value);
    };
    std::printf("# load average (1, 5, 15 min) at start: %s; %d cores\n", qPrintable(loadAverage()),
                QThread::idealThreadCount());
    std::fflush(stdout);
    for (int r = 0; r < repeats; ++r) {
        for (const char *name : {"raw", "lines", "flat", "nul"})
            take(runChild(self, {QString::fromLatin1(name), QStringLiteral("--mib"), size}));
    }
    take(runChild(self, {QStringLiteral("latency")}));
    take(runChild(self, {QStringLiteral("enter")}));
    // Start-up: Brisol, the plain window at a fixed size, the plain window
    // sized to its caption, in turn.
    std::vector<double> brisol;
    std::vector<double> plain;
    std::vector<double> plainText;
    const std::vector<std::pair<QStringList, std::vector<double> *>> launches = {
        {{dir + QStringLiteral("/bench_startup_brisol")}, &brisol},
        {{dir + QStringLiteral("/bench_startup_plain")}, &plain},
        {{dir + QStringLiteral("/bench_startup_plain"), QStringLiteral("text")}, &plainText},
    };
    for (int i = 0; i < 15; ++i) {
        for (const auto &[command, times] : launches) {
            const Outcome outcome =
                runChild(command.first(),
                         QStringList{QString::number(bench::monotonicNs())} + command.mid(1));
            failed = failed || outcome.failed;
            const auto it = outcome.values.find("startup_ms");
            if (it != outcome.values.end())
                times->push_back(it->second);
        }
    }

    auto figure = [&](const std::string &name) {
        return median(samples[name]);
    };
    auto longest = [&](const std::string &name) {
        const auto &v = samples[name];
        return v.empty() ? 0.0 : *std::max_element(v.begin(), v.end());
    };
    const double raw = figure("raw_mib_s");
    printFigure("raw_mib_s", raw, "MiB/s");
    printFigure("lines_mib_s", figure("lines_mib_s"), "MiB/s");
    printFigure("flat_mib_s", figure("flat_mib_s"), "MiB/s");
    printFigure("nul_mib_s", figure("nul_mib_s"), "MiB/s");
    printFigure("rss_bytes_per_byte", figure("lines_rss_bytes_per_byte"), "B/B");
    printFigure("arrival_us_small", figure("arrival_us_small"), "us");
    printFigure("arrival_us_large", figure("arrival_us_large"), "us");
    printFigure("paint_ms_small", figure("paint_ms_small"), "ms");
    printFigure("paint_ms_large", figure("paint_ms_large"), "ms");
    printFigure("paint_ms_long_line", figure("paint_ms_long_line"), "ms");
    printFigure("enter_to_wire_us", figure("enter_to_wire_us"), "us");
    const double startup = median(brisol);
    const double startupPlain = median(plain);
    printFigure("startup_ms", startup, "ms");
    printFigure("startup_plain_ms", startupPlain, "ms");
    printFigure("startup_ratio", startupPlain > 0 ? startup / startupPlain : 0, "x");
    const double startupText = median(plainText);
    printFigure("startup_plain_text_ms", startupText, "ms");
    printFigure("startup_ratio_text", startupText > 0 ? startup / startupText : 0, "x");
    printFigure("longest_turn_ms",
                std::max({longest("lines_longest_turn_ms"), longest("flat_longest_turn_ms"),
                          longest("nul_longest_turn_ms")}),
                "ms");
    // The ratios the goals are stated in, from the figures above.
    if (raw > 0) {
        printFigure("lines_vs_raw", figure("lines_mib_s") / raw, "x");
        printFigure("flat_vs_raw", figure("flat_mib_s") / raw, "x");
        printFigure("nul_vs_raw", figure("nul_mib_s") / raw, "x");
    }
    if (figure("arrival_us_small") > 0)
        printFigure("arrival_large_vs_small",
                    figure("arrival_us_large") / figure("arrival_us_small"), "x");
    if (figure("paint_ms_small") > 0) {
        printFigure("paint_large_vs_small", figure("paint_ms_large") / figure("paint_ms_small"),
                    "x");
        printFigure("paint_long_line_vs_small",
                    figure("paint_ms_long_line") / figure("paint_ms_small"), "x");
    }
    for (const char *name : {"lines", "flat", "nul"}) {
        const std::string n(name);
        std::printf("# %s: %d runs of %lld MiB, longest turn per run (ms):", name,
                    static_cast<int>(samples[n + "_mib_s"].size()), static_cast<long long>(mib));
        for (double v : samples[n + "_longest_turn_ms"])
            std::printf(" %.1f", v);
        std::printf("; arrivals per run %.0f, largest %.0f KiB\n", figure(n + "_arrivals"),
                    longest(n + "_largest_arrival_kib"));
    }
    std::printf("# receiving thread's CPU time per byte (ns): raw %.3f, lines %.3f, flat %.3f, "
                "nul %.3f\n",
                figure("raw_cpu_ns_per_byte"), figure("lines_cpu_ns_per_byte"),
                figure("flat_cpu_ns_per_byte"), figure("nul_cpu_ns_per_byte"));
    std::printf("# load average at end: %s\n", qPrintable(loadAverage()));
    if (failed) {
        std::printf("FAIL\n");
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    bench::defaultToOffscreen();
    TimedApplication application(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    qint64 mib = 256;
    int repeats = 3;
    QString which;
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--mib") && i + 1 < args.size())
            mib = args[++i].toLongLong();
        else if (args[i] == QLatin1String("--repeat") && i + 1 < args.size())
            repeats = args[++i].toInt();
        else
            which = args[i];
    }
    if (which.isEmpty())
        return runAll(mib, repeats);
    if (which == QLatin1String("raw"))
        return runRaw(mib * kMiB);
    if (which == QLatin1String("lines"))
        return runStream(Shape::Lines, mib * kMiB, "lines");
    if (which == QLatin1String("flat"))
        return runStream(Shape::Flat, mib * kMiB, "flat");
    if (which == QLatin1String("nul"))
        return runStream(Shape::Nul, mib * kMiB, "nul");
    if (which == QLatin1String("latency"))
        return runLatency();
    if (which == QLatin1String("enter"))
        return runEnter();
    std::fprintf(stderr, "bench_stream: no case %s\n", qPrintable(which));
    return 2;
}
