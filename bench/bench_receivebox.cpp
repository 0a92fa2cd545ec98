// Throughput, memory and paint latency of the receive box on the receive
// path (append a piece, put the caret at the end, paint), against
// QPlainTextEdit doing the same.
//
//   QT_QPA_PLATFORM=offscreen bench_receivebox [case]
//
// Without an argument every case runs in a process of its own, so that each
// peak resident size (ru_maxrss) is that case's alone, and the ratios are
// printed at the end.

#include "ReceivedBytes.h"
#include "bench_support.h"

#include "receivebox/ReceiveBox.h"
#include "system/CodePage.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QProcess>
#include <QScrollBar>
#include <QTextCursor>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <vector>

namespace {

constexpr qsizetype kPiece = 64 * 1024;
constexpr qsizetype kMiB = 1024 * 1024;

// Pieces of 80-column CR LF lines; a piece ends inside a line as arrivals do.
QString linesPiece(bool wide)
{
    QString piece = QString::fromStdString(
        bench::linesText(bench::kArrivalLines, static_cast<std::size_t>(kPiece)));
    if (wide) {
        // A euro sign in every line of 80 bytes: the chunk turns 16-bit.
        constexpr qsizetype kLine = bench::kArrivalLines.columns + 2;
        for (qsizetype at = 40; at < piece.size(); at += kLine)
            piece[at] = QChar(0x20AC);
    }
    return piece;
}

QString unbrokenPiece()
{
    QString piece;
    while (piece.size() < kPiece)
        piece += QStringLiteral("abcdefghijklmnopqrstuvwxyz0123456789");
    piece.truncate(kPiece);
    return piece;
}

QString tinyLinesPiece()
{
    return QStringLiteral("x\n").repeated(kPiece / 2);
}

struct Result
{
    qsizetype chars = 0;
    double seconds = 0;
    double medianPaintMs = 0;
    double maxPaintMs = 0;
    qint64 rssGrowthKiB = 0;
    qint64 peakRssKiB = 0;
};

// Appends total characters in pieces, each followed by what the receive path
// does after an arrival: the caret to the end and a paint of the view.
Result run(QWidget &view, QWidget *viewport, const QString &piece, qsizetype total,
           const std::function<void(const QString &)> &arrive)
{
    view.resize(900, 700);
    view.show();
    QCoreApplication::processEvents();
    const qint64 rssBefore = bench::peakResidentKiB();
    std::vector<double> paints;
    QElapsedTimer all;
    all.start();
    for (qsizetype done = 0; done < total; done += piece.size()) {
        arrive(piece);
        QElapsedTimer paint;
        paint.start();
        viewport->repaint();
        paints.push_back(double(paint.nsecsElapsed()) / 1e6);
    }
    Result result;
    result.seconds = double(all.nsecsElapsed()) / 1e9;
    result.chars = total;
    std::sort(paints.begin(), paints.end());
    result.medianPaintMs = paints[paints.size() / 2];
    result.maxPaintMs = paints.back();
    result.peakRssKiB = bench::peakResidentKiB();
    result.rssGrowthKiB = result.peakRssKiB - rssBefore;
    return result;
}

Result runReceiveBox(const QString &piece, qsizetype total)
{
    ReceiveBox box;
    box.setBackColour(Qt::black);
    box.setTextColour(QColor(0xE0E0E0));
    // The piece as the bytes that arrive, each a character of its own.
    const QByteArray bytes = platform::system::codepage::stringToAnsi(piece);
    return run(box, box.viewport(), piece, total, [&](const QString &) {
        appendAsReceived(box, bytes);
        box.setSelStart(box.length());
    });
}

Result runPlainTextEdit(const QString &piece, qsizetype total)
{
    QPlainTextEdit edit;
    edit.setReadOnly(true);
    edit.setFont(ReceiveBox().font());
    return run(edit, edit.viewport(), piece, total, [&](const QString &text) {
        edit.moveCursor(QTextCursor::End);
        edit.insertPlainText(text);
        edit.moveCursor(QTextCursor::End);
        edit.ensureCursorVisible();
    });
}

struct Case
{
    const char *name;
    const char *what;
    std::function<Result()> run;
};

const std::vector<Case> &cases()
{
    static const std::vector<Case> all = {
        {"box-lines", "ReceiveBox, 64 MiB of 80-column lines",
         [] {
             return runReceiveBox(linesPiece(false), 64 * kMiB);
         }},
        {"box-unbroken", "ReceiveBox, 16 MiB without a line break",
         [] {
             return runReceiveBox(unbrokenPiece(), 16 * kMiB);
         }},
        {"box-wide-lines", "ReceiveBox, 64 MiB of lines with a euro sign each",
         [] {
             return runReceiveBox(linesPiece(true), 64 * kMiB);
         }},
        {"box-tiny-lines", "ReceiveBox, 64 MiB of 1-character LF lines",
         [] {
             return runReceiveBox(tinyLinesPiece(), 64 * kMiB);
         }},
        {"edit-lines", "QPlainTextEdit, 16 MiB of 80-column lines",
         [] {
             return runPlainTextEdit(linesPiece(false), 16 * kMiB);
         }},
        {"edit-unbroken", "QPlainTextEdit, 512 KiB without a line break",
         [] {
             return runPlainTextEdit(unbrokenPiece(), kMiB / 2);
         }},
    };
    return all;
}

int runOne(const QString &name)
{
    for (const Case &c : cases()) {
        if (name != QLatin1String(c.name))
            continue;
        const Result r = c.run();
        std::printf("%s rate=%.3f median=%.3f max=%.3f growth=%lld peak=%lld chars=%lld\n", c.name,
                    double(r.chars) / kMiB / r.seconds, r.medianPaintMs, r.maxPaintMs,
                    static_cast<long long>(r.rssGrowthKiB), static_cast<long long>(r.peakRssKiB),
                    static_cast<long long>(r.chars));
        return 0;
    }
    std::fprintf(stderr, "no case %s\n", qPrintable(name));
    return 2;
}

int runAll(const QString &program)
{
    std::map<QString, double> rates;
    // Peak RSS is the process's; growth is the peak's rise during the run,
    // per character appended.
    std::printf("%-50s %8s %11s %10s %9s %9s %7s\n", "case", "MiB/s", "paint med", "paint max",
                "peak MiB", "grow MiB", "B/char");
    for (const Case &c : cases()) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(program, {QString::fromLatin1(c.name)});
        child.waitForFinished(-1);
        const QStringList fields = QString::fromLocal8Bit(child.readAllStandardOutput())
                                       .trimmed()
                                       .split(QLatin1Char(' '), Qt::SkipEmptyParts);
        std::map<QString, double> values;
        for (const QString &field : fields.mid(1)) {
            const auto kv = field.split(QLatin1Char('='));
            if (kv.size() == 2)
                values[kv[0]] = kv[1].toDouble();
        }
        if (child.exitCode() != 0 || values.size() < 6) {
            std::printf("%-50s failed\n", c.what);
            continue;
        }
        rates[QString::fromLatin1(c.name)] = values[QStringLiteral("rate")];
        std::printf("%-50s %8.2f %8.3f ms %7.3f ms %9.1f %9.1f %7.2f\n", c.what,
                    values[QStringLiteral("rate")], values[QStringLiteral("median")],
                    values[QStringLiteral("max")], values[QStringLiteral("peak")] / 1024,
                    values[QStringLiteral("growth")] / 1024,
                    values[QStringLiteral("growth")] * 1024 / values[QStringLiteral("chars")]);
        std::fflush(stdout);
    }
    auto ratio = [&](const char *box, const char *edit) {
        const double a = rates[QString::fromLatin1(box)];
        const double b = rates[QString::fromLatin1(edit)];
        return b > 0 ? a / b : 0.0;
    };
    std::printf("rate ratio ReceiveBox / QPlainTextEdit, lines:     %.0fx\n",
                ratio("box-lines", "edit-lines"));
    std::printf("rate ratio ReceiveBox / QPlainTextEdit, unbroken:  %.0fx\n",
                ratio("box-unbroken", "edit-unbroken"));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    bench::defaultToOffscreen();
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() > 1)
        return runOne(args.at(1));
    return runAll(QCoreApplication::applicationFilePath());
}
