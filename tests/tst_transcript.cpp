// The transcript apart from any widget: the store keeps the bytes and gives
// the characters the table gives for them (a NUL as "\x00"); its line index
// agrees with the same text put as characters, however the bytes are split;
// and an append that runs out of memory leaves no trace.

#include "ByteStreams.h"
#include "transcript/Transcript.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTest>

#include <array>
#include <cstdlib>
#include <new>

Q_DECLARE_METATYPE(CharTable)

namespace {

// Allocations fail on demand, on this thread only: the n-th from the moment
// t_failingAllocation is set to n (counted from 1) throws std::bad_alloc.
thread_local int t_failingAllocation = 0;

void *allocate(std::size_t size)
{
    if (t_failingAllocation > 0 && --t_failingAllocation == 0)
        throw std::bad_alloc();
    if (void *memory = std::malloc(size > 0 ? size : 1))
        return memory;
    throw std::bad_alloc();
}

} // namespace

void *operator new(std::size_t size)
{
    return allocate(size);
}
void *operator new[](std::size_t size)
{
    return allocate(size);
}
void *operator new(std::size_t size, const std::nothrow_t &) noexcept
{
    try {
        return allocate(size);
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}
void *operator new[](std::size_t size, const std::nothrow_t &) noexcept
{
    try {
        return allocate(size);
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}
void operator delete(void *memory) noexcept
{
    std::free(memory);
}
void operator delete[](void *memory) noexcept
{
    std::free(memory);
}
void operator delete(void *memory, std::size_t) noexcept
{
    std::free(memory);
}
void operator delete[](void *memory, std::size_t) noexcept
{
    std::free(memory);
}
void operator delete(void *memory, const std::nothrow_t &) noexcept
{
    std::free(memory);
}
void operator delete[](void *memory, const std::nothrow_t &) noexcept
{
    std::free(memory);
}

namespace {

CharTable ansi()
{
    return cp1252Table();
}

// Every byte its Latin-1 character, then the changes given.
CharTable latin1With(std::initializer_list<std::pair<int, char16_t>> changes)
{
    CharTable table{};
    for (std::size_t b = 0; b < table.size(); ++b)
        table[b] = static_cast<char16_t>(b);
    for (const auto &[byte, character] : changes)
        table[static_cast<std::size_t>(byte)] = character;
    return table;
}

// The upper half as Cyrillic, as in a Windows-1251-like code page: every byte
// above 0x7F becomes a character above U+00FF.
CharTable cyrillic()
{
    CharTable table = latin1With({});
    for (std::size_t b = 0x80; b < table.size(); ++b)
        table[b] = static_cast<char16_t>(0x0400 + (b - 0x80));
    return table;
}

void compareLines(const Transcript &a, const Transcript &b)
{
    QCOMPARE(b.length(), a.length());
    QCOMPARE(b.mid(0, b.length()), a.mid(0, a.length()));
    QCOMPARE(b.lines().rowCount(), a.lines().rowCount());
    LineIndex::Line lineA = a.lines().lineAtPosition(0).line;
    LineIndex::Line lineB = b.lines().lineAtPosition(0).line;
    for (;;) {
        QCOMPARE(lineB.start, lineA.start);
        QCOMPARE(lineB.length, lineA.length);
        QCOMPARE(lineB.columns, lineA.columns);
        QCOMPARE(lineB.terminator, lineA.terminator);
        QCOMPARE(lineB.hasTab, lineA.hasTab);
        const bool moreA = a.lines().nextLine(lineA);
        QCOMPARE(b.lines().nextLine(lineB), moreA);
        if (!moreA)
            break;
    }
    const qsizetype step = std::max<qsizetype>(1, a.length() / 4096);
    for (qsizetype position = 0; position <= a.length(); position += step) {
        const auto atA = a.lines().rowColumnOf(position);
        const auto atB = b.lines().rowColumnOf(position);
        QCOMPARE(atB.row, atA.row);
        QCOMPARE(atB.column, atA.column);
    }
}

QByteArray randomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator random(7);
    random.fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    return bytes;
}

} // namespace

class TestTranscript final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void clearGivesTheMemoryBack();
    void bytesEqualText_data();
    void bytesEqualText();
    void charactersAtEveryPosition_data();
    void charactersAtEveryPosition();
    void memoryPerByte_data();
    void memoryPerByte();
    void failedAppendLeavesNoTrace_data();
    void failedAppendLeavesNoTrace();
};

void TestTranscript::bytesEqualText_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QList<qsizetype>>("pieces");
    QTest::addColumn<CharTable>("table");

    const QList<qsizetype> whole;
    QTest::newRow("NULs") << QByteArray("a\0b\0\0c\0", 7) << whole << ansi();
    QTest::newRow("0x80..0x9F among ASCII")
        << QByteArray("ab\x80\x81\x8D\x8F\x90\x9D\x9F z") << whole << ansi();
    QTest::newRow("a character above U+00FF late in a long piece")
        << QByteArray(100, 'x') + "\x80" + QByteArray(100, 'y') << whole << ansi();
    QTest::newRow("every byte, one piece") << allBytes() << whole << ansi();
    QTest::newRow("every byte, one at a time") << allBytes() << QList<qsizetype>{1} << ansi();
    QTest::newRow("every byte twice, pieces of 17")
        << allBytes() + allBytes() << QList<qsizetype>{17} << ansi();
    QTest::newRow("CR ends a piece, LF starts the next")
        << QByteArray("ab\r\ncd\r\nef") << QList<qsizetype>{3, 5} << ansi();
    QTest::newRow("CR ends a piece, no LF follows")
        << QByteArray("ab\rcd\r\r") << QList<qsizetype>{3, 3, 1} << ansi();
    QTest::newRow("CR alone as the last piece")
        << QByteArray("ab\r") << QList<qsizetype>{2, 1} << ansi();
    QTest::newRow("LF alone, CR alone, CR LF")
        << QByteArray("a\nb\rc\r\nd\n\r\n\r") << QList<qsizetype>{2} << ansi();
    QTest::newRow("TABs in a long line")
        << QByteArray("\tab\tc").repeated(700) + "\r\nx\t" << QList<qsizetype>{999} << ansi();
    QTest::newRow("lines across a chunk boundary, 0x80 after it")
        << linesWithHighBytes(70000, 0) + "\x80\x93tail\r\n"
        << QList<qsizetype>{30000} << ansi();
    QTest::newRow("0x80 now and then across chunks")
        << linesWithHighBytes(140000, 300) << QList<qsizetype>{50000, 65536, 7} << ansi();
    QTest::newRow("a 200000-byte line")
        << QByteArray(200000, 'q') << QList<qsizetype>{65535} << ansi();
    QTest::newRow("every byte of the upper half above U+00FF (Cyrillic)")
        << allBytes() + QByteArray("\r\n") + allBytes() << QList<qsizetype>{100} << cyrillic();
    QTest::newRow("ASCII not kept: a and b swapped")
        << QByteArray("abc\r\nbabab").repeated(40) << QList<qsizetype>{33}
        << latin1With({{'a', u'b'}, {'b', u'a'}});
    QTest::newRow("other bytes stand for CR, LF and TAB")
        << QByteArray("x\x01y\x02z\x03w\r\n\t.").repeated(30) << QList<qsizetype>{7}
        << latin1With({{0x01, u'\r'},
                       {0x02, u'\n'},
                       {0x03, u'\t'},
                       {'\r', u'R'},
                       {'\n', u'N'},
                       {'\t', u'T'}});
    QTest::newRow("bytes for CR and LF swapped, CR at a piece's end")
        << QByteArray("a\n\rb\n\nc") << QList<qsizetype>{2, 2}
        << latin1With({{'\r', u'\n'}, {'\n', u'\r'}});
}

// Bytes and their text give the same characters, lines and caret places:
// the text is read again from other bytes, through a table where CR, LF and
// TAB are their own bytes and NUL is not among them, and indexed the plain
// way.
void TestTranscript::bytesEqualText()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QList<qsizetype>, pieces);
    QFETCH(CharTable, table);
    CharTable plainTable = ansi();
    const QByteArray plainBytes = bytesReadingAs(translated(bytes, table), plainTable, true);

    for (const int columns : {1, 7, 80}) {
        Transcript fromText(plainTable);
        Transcript fromBytes(table);
        fromText.setColumns(columns);
        fromBytes.setColumns(columns);
        for (const QByteArray &piece : split(plainBytes, pieces))
            fromText.appendBytes(piece, plainTable);
        for (const QByteArray &piece : split(bytes, pieces))
            fromBytes.appendBytes(piece, table);
        compareLines(fromText, fromBytes);
        if (QTest::currentTestFailed())
            return;
        // However split, the same as the whole text at once.
        Transcript whole(plainTable);
        whole.setColumns(columns);
        whole.appendBytes(plainBytes, plainTable);
        compareLines(whole, fromBytes);
        if (QTest::currentTestFailed())
            return;
    }
}

void TestTranscript::charactersAtEveryPosition_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("more"); // put after the bytes

    QByteArray nulEvery1000(20000, 'n');
    for (qsizetype at = 999; at < nulEvery1000.size(); at += 1000)
        nulEvery1000[at] = '\0';
    QTest::newRow("a NUL every 1000 bytes, across blocks") << nulEvery1000 << QByteArray();
    QTest::newRow("a NUL at each block's first and last byte")
        << QByteArray(4095, 'a') + QByteArray(2, '\0') + QByteArray(4094, 'b') + QByteArray(2, '\0')
        << QByteArray();
    QTest::newRow("NULs only, across a chunk") << QByteArray(70000, '\0') << QByteArray();
    QTest::newRow("no NUL, then a first NUL among SUB, the text \\x00 and 0x80")
        << QByteArray(5000, 'x') << QByteArray("\xE9\xFC\0\x1A\\x00", 9) + QByteArray(10, '\x80');
    QTest::newRow("NULs, then bytes of the upper half, then more bytes")
        << QByteArray("a\0b", 3) << QByteArray("\xE9.\xFC");
}

// Every character read alone and in ranges, wherever it falls: in a NUL's
// four characters, or at the edges of the blocks the position index keeps.
void TestTranscript::charactersAtEveryPosition()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, more);
    const CharTable table = ansi();
    Transcript transcript(table);
    transcript.appendBytes(bytes, table);
    transcript.appendBytes(more, table);
    transcript.appendBytes(bytes.left(100), table);
    const QString expected =
        translated(bytes, table) + translated(more, table) + translated(bytes.left(100), table);
    QCOMPARE(transcript.length(), expected.size());
    for (qsizetype i = 0; i < expected.size(); ++i) {
        if (transcript.chars().at(i) != expected[i].unicode())
            QFAIL(qPrintable(QStringLiteral("character %1").arg(i)));
    }
    for (const qsizetype count : {1, 2, 3, 5, 4097}) {
        for (qsizetype from = 0; from < expected.size(); from += 13) {
            if (transcript.mid(from, count) != expected.mid(from, count))
                QFAIL(qPrintable(QStringLiteral("%1 characters from %2").arg(count).arg(from)));
        }
    }
}

void TestTranscript::memoryPerByte_data()
{
    QTest::addColumn<QByteArray>("pattern");
    QTest::addColumn<double>("bytesPerByte"); // at most

    QTest::newRow("80-column lines") << QByteArray(78, 'a') + "\r\n" << 1.15;
    QTest::newRow("no line break") << QByteArray("abcdefgh") << 1.05;
    QTest::newRow("all 0x80") << QByteArray(1, '\x80') << 1.05;
    QTest::newRow("all LF") << QByteArray(1, '\n') << 2.0;
    QTest::newRow("all NUL") << QByteArray(1, '\0') << 2.0;
    QTest::newRow("0x80 and 16383 NULs") << QByteArray(1, '\x80') + QByteArray(16383, '\0') << 2.0;
    QTest::newRow("one-character lines") << QByteArray("x\n") << 2.0;
    QTest::newRow("two blank lines and one of text") << QByteArray("\n\nx\n") << 2.0;
    QTest::newRow("columns of TABs") << QByteArray("ab\tcd\tef\r\n") << 2.0;
    QTest::newRow("random bytes") << randomBytes(1 << 20) << 2.0;
}

// The bytes and everything kept about them, line index included.
void TestTranscript::memoryPerByte()
{
    QFETCH(QByteArray, pattern);
    QFETCH(double, bytesPerByte);
    const QByteArray piece = pattern.repeated(64 * 1024 / pattern.size() + 1);
    Transcript transcript(ansi());
    qsizetype received = 0;
    while (received < 32 * 1024 * 1024) {
        transcript.appendBytes(piece, ansi());
        received += piece.size();
    }
    const double used = double(transcript.memoryUsed()) / double(received);
    if (used > bytesPerByte)
        QFAIL(qPrintable(QStringLiteral("%1 bytes a byte").arg(used)));
}

void TestTranscript::failedAppendLeavesNoTrace_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QList<qsizetype>>("pieces");

    QByteArray tabLines;
    for (int n = 0; n < 40; ++n)
        tabLines += QByteArray("x\t").repeated(n % 3 == 0 ? 700 : 5) + "\r\n";
    QTest::newRow("runs of lines alike, broken now and then")
        << (QByteArray("ab\r\n").repeated(300) + "abc\r\n").repeated(4) << QList<qsizetype>{97};
    QTest::newRow("CR ending a piece, its LF in the next")
        << QByteArray("abcdefg\r\n").repeated(400) << QList<qsizetype>{8, 9, 10};
    QTest::newRow("lines with TABs, some of them long") << tabLines << QList<qsizetype>{1500, 777};
    QTest::newRow("a first NUL, late, across chunks")
        << linesWithHighBytes(150000, 9) + QByteArray("\0\0x", 3) + linesWithHighBytes(20000, 0)
        << QList<qsizetype>{65536, 3000};
    QTest::newRow("more than a slab")
        << linesWithHighBytes(5 << 20, 0) << QList<qsizetype>{1 << 20};
    QTest::newRow("TABs, CR LF, a C1 byte and a CR ending a piece")
        << QByteArray("a\tb\r\n\x81\r").repeated(500) << QList<qsizetype>{33};
}

// Every allocation an append makes fails in turn: each time, the transcript
// reads as it did before the append, and once the append goes through, as
// one that never failed.
void TestTranscript::failedAppendLeavesNoTrace()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QList<qsizetype>, pieces);
    const CharTable table = ansi();
    Transcript reference(table);
    Transcript failing(table);
    reference.setColumns(7);
    failing.setColumns(7);
    const auto append = [&](Transcript &transcript, const QByteArray &piece) {
        transcript.appendBytes(piece, table);
    };
    int failures = 0;
    for (const QByteArray &piece : split(bytes, pieces)) {
        int attempt = 1;
        for (;; ++attempt) {
            bool failed = false;
            t_failingAllocation = attempt;
            try {
                append(failing, piece);
            } catch (const std::bad_alloc &) {
                failed = true;
            }
            t_failingAllocation = 0;
            if (!failed)
                break;
            ++failures;
            compareLines(reference, failing);
            if (QTest::currentTestFailed())
                QFAIL(qPrintable(QStringLiteral("allocation %1 of the append of %2 bytes at %3")
                                     .arg(attempt)
                                     .arg(piece.size())
                                     .arg(reference.length())));
        }
        append(reference, piece);
    }
    compareLines(reference, failing);
    QVERIFY(failures > 0);
}

// Resident memory of this process, in KiB.
qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// Emptying a large transcript gives its memory back to the system (from
// another thread, so that the caller does not wait for it).
void TestTranscript::clearGivesTheMemoryBack()
{
    if (residentKiB() < 0)
        QSKIP("no /proc/self/status here");
    const CharTable table = ansi();
    Transcript transcript(table);
    const qint64 before = residentKiB();
    const QByteArray piece = linesWithHighBytes(1 << 20, 0);
    for (int n = 0; n < 256; ++n)
        transcript.appendBytes(piece, table);
    QVERIFY(residentKiB() - before > 200 * 1024);
    transcript.clear(0);
    QTRY_VERIFY_WITH_TIMEOUT(residentKiB() - before < 64 * 1024, 20000);
    QCOMPARE(transcript.length(), 0);
}

QTEST_GUILESS_MAIN(TestTranscript)
#include "tst_transcript.moc"
