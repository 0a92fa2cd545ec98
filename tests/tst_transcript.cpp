// The transcript apart from any widget: the store keeps the bytes and gives
// the characters the table gives for them (a NUL as "\x00"); its line index
// agrees with the same text put as characters, however the bytes are split;
// and an append that runs out of memory leaves no trace. A search finds
// what the text shows, reading no more of the store than it passes over;
// a search for bytes finds them wherever they lie, line ends and NULs
// included.

#include "ByteScanCheck.h"
#include "ByteStreams.h"
#include "transcript/ByteSearch.h"
#include "transcript/ByteStore_p.h"
#include "transcript/Indexing.h"
#include "transcript/ReadCount_p.h"
#include "transcript/TextSearch.h"
#include "transcript/Transcript.h"
#include "transcript/TranscriptFile.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

Q_DECLARE_METATYPE(CharTable)

using platform::transcript::ix;

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

// Where the text shows the needle, character by character: the model the
// search is held to.
QList<qsizetype> shownMatches(const QString &shown, const QString &needle, bool matchCase)
{
    QList<qsizetype> found;
    if (needle.isEmpty() || needle.contains(u'\r') || needle.contains(u'\n'))
        return found;
    const auto fold = [matchCase](QChar c) {
        return matchCase ? c : c.toCaseFolded();
    };
    for (qsizetype at = 0; at + needle.size() <= shown.size(); ++at) {
        qsizetype i = 0;
        while (i < needle.size() && fold(shown[at + i]) == fold(needle[i]))
            ++i;
        if (i == needle.size())
            found.append(at);
    }
    return found;
}

std::unique_ptr<ByteStore> storeOf(const QByteArray &bytes, const CharTable &table, qsizetype piece)
{
    auto store = std::make_unique<ByteStore>(table);
    for (const QByteArray &part : split(bytes, {piece}))
        ByteStore::Private::append(*store, reinterpret_cast<const quint8 *>(part.constData()),
                                   part.size());
    return store;
}

// Every match, found one after the other forwards, and backwards.
QList<qsizetype> forwardMatches(const ByteStore &store, const TextSearch &search)
{
    QList<qsizetype> found;
    for (qsizetype at = search.first(store, 0, store.characterCount()); at >= 0;
         at = search.first(store, at + 1, store.characterCount()))
        found.append(at);
    return found;
}

QList<qsizetype> backwardMatches(const ByteStore &store, const TextSearch &search)
{
    QList<qsizetype> found;
    for (qsizetype at = search.last(store, 0, store.characterCount()); at >= 0;
         at = search.last(store, 0, at))
        found.prepend(at);
    return found;
}

// Where the bytes hold the needle, every start: the model the byte search
// is held to.
QList<qsizetype> byteMatches(const QByteArray &bytes, const QByteArray &needle)
{
    QList<qsizetype> found;
    for (auto it = std::search(bytes.begin(), bytes.end(), needle.begin(), needle.end());
         it != bytes.end(); it = std::search(it + 1, bytes.end(), needle.begin(), needle.end()))
        found.append(it - bytes.begin());
    return found;
}

// The character each byte's characters start at, as the box shows the
// bytes, and past the last.
std::vector<qsizetype> charactersOf(const QByteArray &bytes)
{
    std::vector<qsizetype> starts{0};
    for (const char byte : bytes)
        starts.push_back(starts.back() + (byte == 0 ? 4 : 1));
    return starts;
}

// Each list ends at the first match out of its range, which a search that
// finds the same match again would give.
QList<qsizetype> forwardByteMatches(const ByteStore &store, const ByteSearch &search)
{
    QList<qsizetype> found;
    for (qsizetype at = search.firstByte(store, 0, store.byteCount());
         at >= 0 && (found.isEmpty() || at > found.back());
         at = search.firstByte(store, at + 1, store.byteCount()))
        found.append(at);
    return found;
}

QList<qsizetype> backwardByteMatches(const ByteStore &store, const ByteSearch &search)
{
    QList<qsizetype> found;
    for (qsizetype at = search.lastByte(store, 0, store.byteCount());
         at >= 0 && (found.isEmpty() || at < found.front()); at = search.lastByte(store, 0, at))
        found.prepend(at);
    return found;
}

// The same in characters, each match with its length: forwards from just
// past each match's first character, which inside a NUL is not a byte's.
QList<std::pair<qsizetype, qsizetype>> forwardCharacterMatches(const ByteStore &store,
                                                               const ByteSearch &search)
{
    QList<std::pair<qsizetype, qsizetype>> found;
    for (ByteSearch::Match match = search.first(store, 0, store.characterCount()); match.start >= 0;
         match = search.first(store, match.start + 1, store.characterCount())) {
        found.append({match.start, match.length});
        if (found.size() > 1 && match.start <= found[found.size() - 2].first)
            break;
    }
    return found;
}

QList<std::pair<qsizetype, qsizetype>> backwardCharacterMatches(const ByteStore &store,
                                                                const ByteSearch &search)
{
    QList<std::pair<qsizetype, qsizetype>> found;
    for (ByteSearch::Match match = search.last(store, 0, store.characterCount()); match.start >= 0;
         match = search.last(store, 0, match.start)) {
        found.prepend({match.start, match.length});
        if (found.size() > 1 && match.start >= found[1].first)
            break;
    }
    return found;
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
    void onePassMatchesByteByByte_data();
    void onePassMatchesByteByByte();
    void bytesEqualText_data();
    void bytesEqualText();
    void charactersAtEveryPosition_data();
    void charactersAtEveryPosition();
    void memoryPerByte_data();
    void memoryPerByte();
    void failedAppendLeavesNoTrace_data();
    void failedAppendLeavesNoTrace();
    void searchFindsWhatIsShown_data();
    void searchFindsWhatIsShown();
    void searchAgreesWithTheShownText();
    void searchReadsWhatItPasses_data();
    void searchReadsWhatItPasses();
    void hexPairsAreBytes_data();
    void hexPairsAreBytes();
    void byteSearchFindsTheBytes_data();
    void byteSearchFindsTheBytes();
    void byteSearchAgreesWithAModel();
    void cancelledSaveLeavesNoFile_data();
    void cancelledSaveLeavesNoFile();
    void shareKeepsItsText_data();
    void shareKeepsItsText();
};

void TestTranscript::bytesEqualText_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QList<qsizetype>>("pieces");
    QTest::addColumn<CharTable>("table");

    const QList<qsizetype> whole;
    QTest::newRow("NULs") << QByteArray("a\0b\0\0c\0", 7) << whole << ansi();
    // NULs where the store reads runs between them a block at a time.
    QTest::newRow("NUL alone") << QByteArray(1, '\0') << whole << ansi();
    QTest::newRow("NULs only") << QByteArray(40, '\0') << whole << ansi();
    QTest::newRow("NULs at 15, 16, 17 and 31")
        << QByteArray(40, 'z').replace(15, 3, QByteArray(3, '\0')).replace(31, 1, "\0", 1) << whole
        << ansi();
    QTest::newRow("one byte in eight NUL")
        << QByteArray("abcdefg\0", 8).repeated(1000) << whole << ansi();
    QTest::newRow("backslash and x next to NUL")
        << QByteArray("\\x\0\\x00\0", 8) << whole << ansi();
    QByteArray everyPlace;
    for (int place = 0; place < 16; ++place) {
        QByteArray block(16, static_cast<char>('a' + place));
        block[place] = '\0';
        everyPlace += block;
    }
    QTest::newRow("a NUL in every place of a block, then a block of NULs")
        << everyPlace + QByteArray(16, '\0') + QByteArray(40, 't') << whole << ansi();
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
            fromText.appendBytes(piece);
        for (const QByteArray &piece : split(bytes, pieces))
            fromBytes.appendBytes(piece);
        compareLines(fromText, fromBytes);
        if (QTest::currentTestFailed())
            return;
        // However split, the same as the whole text at once.
        Transcript whole(plainTable);
        whole.setColumns(columns);
        whole.appendBytes(plainBytes);
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
    transcript.appendBytes(bytes);
    transcript.appendBytes(more);
    transcript.appendBytes(bytes.left(100));
    const QString expected =
        translated(bytes, table) + translated(more, table) + translated(bytes.left(100), table);
    QCOMPARE(transcript.length(), expected.size());
    for (qsizetype i = 0; i < expected.size(); ++i) {
        if (transcript.store().at(i) != expected[i].unicode())
            QFAIL(qPrintable(QStringLiteral("character %1").arg(i)));
    }
    for (const qsizetype count : {1, 2, 3, 5, 4097}) {
        for (qsizetype from = 0; from < expected.size(); from += 13) {
            if (transcript.mid(from, count) != expected.mid(from, count))
                QFAIL(qPrintable(QStringLiteral("%1 characters from %2").arg(count).arg(from)));
        }
    }

    // The same bytes written straight into the store's memory, as the
    // one-copy receive path does, in stretches across blocks: the same
    // characters, and each stretch told whether it holds a NUL.
    const QByteArray all = bytes + more + bytes.left(100);
    ByteStore store(table);
    qsizetype given = 0;
    bool toldNul = false;
    constexpr qsizetype kMost = 5000;
    std::vector<quint64> marks(static_cast<std::size_t>((kMost + 63) / 64));
    const qsizetype appended = store.appendFilled(
        all.size(), kMost, marks.data(),
        [&](quint8 *into, qsizetype room) {
            const qsizetype take = std::min({room, all.size() - given, qsizetype{3001}});
            std::memcpy(into, all.constData() + given, static_cast<std::size_t>(take));
            given += take;
            return take;
        },
        [&](const quint8 *, qsizetype, bool hasNul) { toldNul = toldNul || hasNul; });
    QCOMPARE(appended, all.size());
    QCOMPARE(toldNul, all.contains('\0'));
    QCOMPARE(store.characterCount(), expected.size());
    for (qsizetype i = 0; i < expected.size(); ++i) {
        if (store.at(i) != expected[i].unicode())
            QFAIL(qPrintable(QStringLiteral("character %1, written in place").arg(i)));
    }
}

void TestTranscript::onePassMatchesByteByByte_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QByteArray everyValue;
    for (int b = 0; b < 256; ++b)
        everyValue += char(b);
    QTest::newRow("every byte value") << everyValue.repeated(3);
    QTest::newRow("line breaks everywhere in a block")
        << QByteArray("abcdefghijklmno\r\n\tpqrstuvwxyz0123456789").repeated(9);
    QTest::newRow("NULs, more than a lane counts") << QByteArray(4200, '\0');
}

// Every alignment of the source and the copy, marks from several bits, and
// lengths that end anywhere in a block.
void TestTranscript::onePassMatchesByteByByte()
{
    QFETCH(QByteArray, bytes);
    for (std::size_t shifts = 0; shifts < 256; ++shifts)
        for (const qsizetype first : {0, 1, 49, 63, 81})
            for (qsizetype cut = 0; cut < 64; cut += 13)
                if (const QString why = byteScanMismatch(QByteArrayView(bytes).chopped(cut),
                                                         shifts % 16, shifts / 16, first);
                    !why.isEmpty())
                    QFAIL(qPrintable(QStringLiteral("shifts %1, bit %2, cut %3: %4")
                                         .arg(shifts)
                                         .arg(first)
                                         .arg(cut)
                                         .arg(why)));
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
        transcript.appendBytes(piece);
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
        transcript.appendBytes(piece);
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

void TestTranscript::searchFindsWhatIsShown_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<CharTable>("table");
    QTest::addColumn<QString>("needle");
    QTest::addColumn<bool>("matchCase");
    QTest::addColumn<QList<qsizetype>>("starts");

    constexpr qsizetype kSlab = 2 << 20;
    const QByteArray hola("Hola hola HOLA");
    QTest::newRow("case matters") << hola << ansi() << QStringLiteral("hola") << true
                                  << QList<qsizetype>{5};
    QTest::newRow("case folded") << hola << ansi() << QStringLiteral("hola") << false
                                 << QList<qsizetype>{0, 5, 10};
    QTest::newRow("letters of the upper half fold through the table")
        << QByteArray("\xC1rbol \xE1rbol \xC1RBOL") << ansi() << QStringLiteral("\u00E1rbol")
        << false << QList<qsizetype>{0, 6, 12};
    QTest::newRow("the table's character, not the byte's Latin-1 one")
        << QByteArray("\x80 \xA4") << ansi() << QStringLiteral("\u20AC") << true
        << QList<qsizetype>{0};
    QTest::newRow("a NUL as \\x00, and the four characters themselves")
        << QByteArray("a\0b a\\x00b", 11) << ansi() << QStringLiteral("a\\x00b") << true
        << QList<qsizetype>{0, 7};
    QTest::newRow("part of a NUL's characters, across two NULs")
        << QByteArray("\0\0", 2) << ansi() << QStringLiteral("00\\x") << true
        << QList<qsizetype>{2};
    QTest::newRow("a NUL's x folded") << QByteArray("-\0-", 3) << ansi() << QStringLiteral("\\X0")
                                      << false << QList<qsizetype>{1};
    QTest::newRow("a NUL's x when case matters")
        << QByteArray("-\0-", 3) << ansi() << QStringLiteral("\\X0") << true << QList<qsizetype>{};
    QTest::newRow("a match across a 2 MiB slab boundary")
        << QByteArray(kSlab - 3, 'a') + "needle" + QByteArray(9, 'a') << ansi()
        << QStringLiteral("needle") << true << QList<qsizetype>{kSlab - 3};
    QTest::newRow("a NUL at a slab's last byte")
        << QByteArray(kSlab - 1, 'b') + QByteArray("\0z", 2) << ansi() << QStringLiteral("b\\x00z")
        << true << QList<qsizetype>{kSlab - 2};
    QTest::newRow("no match across a line end")
        << QByteArray("ab\r\ncd\nef\rgh") << ansi() << QStringLiteral("bc") << true
        << QList<qsizetype>{};
    QTest::newRow("a needle holding a line end matches nothing")
        << QByteArray("ab\r\ncd") << ansi() << QStringLiteral("b\r\nc") << true
        << QList<qsizetype>{};
    QTest::newRow("matches overlap, in order")
        << QByteArray("xaaaax") << ansi() << QStringLiteral("aa") << true
        << QList<qsizetype>{1, 2, 3};
    QTest::newRow("one character")
        << QByteArray("xyx") << ansi() << QStringLiteral("X") << false << QList<qsizetype>{0, 2};
    QTest::newRow("a character no byte shows")
        << QByteArray("abc") << ansi() << QStringLiteral("b\u4E2D") << true << QList<qsizetype>{};
    QTest::newRow("longer than the text")
        << QByteArray("abc") << ansi() << QStringLiteral("abcd") << true << QList<qsizetype>{};
    QTest::newRow("five bytes show as one character")
        << QByteArray("\x80x\x84.\x82x\x83")
        << latin1With({{0x80, u'*'}, {0x81, u'*'}, {0x82, u'*'}, {0x83, u'*'}, {0x84, u'*'}})
        << QStringLiteral("*x*") << true << QList<qsizetype>{0, 4};
    QTest::newRow("longer than a chunk, across three of them")
        << "p" + QByteArray(140000, 'q') + "r" << ansi()
        << QString(69999, u'q') + QStringLiteral("r") << true << QList<qsizetype>{70002};
    QTest::newRow("at the very end, after NULs")
        << QByteArray(70000, '\0') + "end" << ansi() << QStringLiteral("0end") << true
        << QList<qsizetype>{4 * 70000 - 1};
}

void TestTranscript::searchFindsWhatIsShown()
{
    QFETCH(QByteArray, bytes);
    QFETCH(CharTable, table);
    QFETCH(QString, needle);
    QFETCH(bool, matchCase);
    QFETCH(QList<qsizetype>, starts);
    for (const qsizetype piece : {qsizetype{7}, bytes.size()}) {
        if (piece == 7 && bytes.size() > 1000)
            continue;
        const auto stored = storeOf(bytes, table, piece);
        const ByteStore &store = *stored;
        const TextSearch search(needle, matchCase, table);
        QCOMPARE(forwardMatches(store, search), starts);
        QCOMPARE(backwardMatches(store, search), starts);
        for (const qsizetype start : starts) {
            // Bounds are the starts': a match may run past the end of the range.
            QCOMPARE(search.first(store, start, start + 1), start);
            QCOMPARE(search.last(store, start, start + 1), start);
        }
    }
}

// Bytes of a few kinds, NULs and line ends among them, and needles made of
// the same: every match the text shows is found, in both directions,
// however the bytes arrived.
void TestTranscript::searchAgreesWithTheShownText()
{
    QRandomGenerator random(20);
    const char alphabet[] = {'a', 'A', '\0', '\\', 'x', 'X', '0', '\r', '\n', '\xE1', '\xC1'};
    const QString needleAlphabet = QStringLiteral("aA\\xX0\u00E1\u00C1");
    const CharTable table = ansi();
    for (int round = 0; round < 300; ++round) {
        QByteArray bytes;
        const int size = random.bounded(1, 200);
        for (int i = 0; i < size; ++i)
            bytes.append(alphabet[random.bounded(int(sizeof alphabet))]);
        const QString shown = translated(bytes, table);
        QString needle;
        if (random.bounded(2) == 0) {
            // A piece of what is shown, often holding part of a NUL.
            const auto at = random.bounded(shown.size());
            needle = shown.mid(at, random.bounded(1, 9));
            if (needle.contains(u'\r') || needle.contains(u'\n'))
                needle = needle.left(needle.indexOf(QRegularExpression(QStringLiteral("[\r\n]"))));
        }
        if (needle.isEmpty()) {
            for (int i = random.bounded(1, 6); i > 0; --i)
                needle.append(needleAlphabet[random.bounded(needleAlphabet.size())]);
        }
        const bool matchCase = random.bounded(2) == 0;
        const auto stored = storeOf(bytes, table, random.bounded(1, 50));
        const ByteStore &store = *stored;
        const TextSearch search(needle, matchCase, table);
        const QList<qsizetype> expected = shownMatches(shown, needle, matchCase);
        const auto context = [&] {
            return qPrintable(QStringLiteral("bytes %1, needle \"%2\", case %3")
                                  .arg(QString::fromLatin1(bytes.toHex()), needle)
                                  .arg(matchCase));
        };
        QVERIFY2(forwardMatches(store, search) == expected, context());
        QVERIFY2(backwardMatches(store, search) == expected, context());
    }
}

void TestTranscript::searchReadsWhatItPasses_data()
{
    QTest::addColumn<bool>("forward");
    QTest::addColumn<qsizetype>("from"); // the range ends at the end
    QTest::addColumn<qsizetype>("found");
    QTest::addColumn<qsizetype>("passed"); // bytes between the start and the match

    // 16 MiB with the needle at 1 MiB and at 15 MiB.
    constexpr qsizetype kMiB = 1 << 20;
    QTest::newRow("the first, near the start") << true << qsizetype{0} << kMiB << kMiB;
    QTest::newRow("the next, far on") << true << kMiB + 1 << 15 * kMiB << 14 * kMiB;
    QTest::newRow("the last, from the end") << false << qsizetype{0} << 15 * kMiB << kMiB;
    QTest::newRow("none after the last") << true << 15 * kMiB + 1 << qsizetype{-1} << kMiB;
}

// Bounded work, counted in reads: a search reads the bytes between where it
// starts and the match, give or take a chunk, not the whole store.
void TestTranscript::searchReadsWhatItPasses()
{
    QFETCH(bool, forward);
    QFETCH(qsizetype, from);
    QFETCH(qsizetype, found);
    QFETCH(qsizetype, passed);
    constexpr qsizetype kMiB = 1 << 20;
    QByteArray bytes = linesWithHighBytes(16 * kMiB, 50);
    bytes.replace(kMiB, 6, "needle");
    bytes.replace(15 * kMiB, 6, "needle");
    const auto stored = storeOf(bytes, ansi(), bytes.size());
    const ByteStore &store = *stored;
    const TextSearch search(QStringLiteral("needle"), true, ansi());
    const qsizetype before = platform::transcript::charactersRead();
    const qsizetype at = forward ? search.first(store, from, store.characterCount())
                                 : search.last(store, from, store.characterCount());
    const qsizetype read = platform::transcript::charactersRead() - before;
    QCOMPARE(at, found);
    QVERIFY2(read >= passed - 2 * ChunkSlabs::kChunkBytes &&
                 read <= passed + 2 * ChunkSlabs::kChunkBytes,
             qPrintable(QString::number(read)));
}

void TestTranscript::hexPairsAreBytes_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("bytes"); // empty: a text, not hex pairs

    QTest::newRow("CR LF NUL") << QStringLiteral("0d 0a 00") << QByteArray("\r\n\0", 3);
    QTest::newRow("one pair, capitals") << QStringLiteral("FF") << QByteArray("\xFF");
    QTest::newRow("one pair of letters") << QStringLiteral("ab") << QByteArray("\xAB");
    QTest::newRow("a word") << QStringLiteral("48 6f 6C 61") << QByteArray("Hola");
    QTest::newRow("blanks around and between") << QStringLiteral(" 41  42 ") << QByteArray("AB");
    QTest::newRow("a tab between") << QStringLiteral("41\t42") << QByteArray("AB");
    QTest::newRow("pairs run together") << QStringLiteral("0d0a") << QByteArray();
    QTest::newRow("not a hex digit") << QStringLiteral("0g") << QByteArray();
    QTest::newRow("empty") << QString() << QByteArray();
    QTest::newRow("only blanks") << QStringLiteral("   ") << QByteArray();
    QTest::newRow("one digit") << QStringLiteral("0") << QByteArray();
    QTest::newRow("a last digit alone") << QStringLiteral("0d 0") << QByteArray();
    QTest::newRow("three digits") << QStringLiteral("0d 0a0") << QByteArray();
    QTest::newRow("commas") << QStringLiteral("0d,0a") << QByteArray();
    QTest::newRow("a C prefix") << QStringLiteral("0x0d") << QByteArray();
    QTest::newRow("a word of letters") << QStringLiteral("hola") << QByteArray();
    QTest::newRow("digits of another script") << QStringLiteral("\u0661\u0662") << QByteArray();
}

void TestTranscript::hexPairsAreBytes()
{
    QFETCH(QString, typed);
    QFETCH(QByteArray, bytes);
    QCOMPARE(ByteSearch::hexPairs(typed), bytes);
}

void TestTranscript::byteSearchFindsTheBytes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("needle");
    QTest::addColumn<QList<qsizetype>>("starts"); // bytes
    QTest::addColumn<qsizetype>("firstAt");       // the first's character; -1: none

    constexpr qsizetype kChunk = 64 << 10;
    constexpr qsizetype kSlab = 2 << 20;
    const QByteArray crLfNul("\r\n\0", 3);
    QTest::newRow("at the start") << QByteArray("\x01\x02rest") << QByteArray("\x01\x02")
                                  << QList<qsizetype>{0} << qsizetype{0};
    QTest::newRow("at the end") << QByteArray("rest\xFE\xFF") << QByteArray("\xFE\xFF")
                                << QList<qsizetype>{4} << qsizetype{4};
    QTest::newRow("CR LF NUL, across the line end")
        << QByteArray("ab\r\n\0cd", 7) << crLfNul << QList<qsizetype>{2} << qsizetype{2};
    QTest::newRow("after NULs, three characters further each")
        << QByteArray("\0\0x\0y\0", 6) << QByteArray("x\0y", 3) << QList<qsizetype>{2}
        << qsizetype{8};
    QTest::newRow("starting with a NUL, after one")
        << QByteArray("\0a\0\0b", 5) << QByteArray("\0b", 2) << QList<qsizetype>{3} << qsizetype{9};
    QTest::newRow("overlapping") << QByteArray("\xAA\xAA\xAA") << QByteArray("\xAA\xAA")
                                 << QList<qsizetype>{0, 1} << qsizetype{0};
    QTest::newRow("NULs overlapping") << QByteArray(5, '\0') << QByteArray(2, '\0')
                                      << QList<qsizetype>{0, 1, 2, 3} << qsizetype{0};
    QTest::newRow("not found") << QByteArray("\r\n\r\n") << QByteArray("\n\n") << QList<qsizetype>{}
                               << qsizetype{-1};
    QTest::newRow("not the text \\x00 for a NUL")
        << QByteArray("a\\x00b") << QByteArray("a\0b", 3) << QList<qsizetype>{} << qsizetype{-1};
    QTest::newRow("longer than the store")
        << QByteArray("ab") << QByteArray("abc") << QList<qsizetype>{} << qsizetype{-1};
    QTest::newRow("every byte value, once")
        << allBytes() + allBytes() << QByteArray("\xFF\0\x01", 3) << QList<qsizetype>{255}
        << qsizetype{258};
    QTest::newRow("across a chunk boundary")
        << QByteArray(kChunk - 2, 'a') + crLfNul + "z" << crLfNul + "z"
        << QList<qsizetype>{kChunk - 2} << kChunk - 2;
    QTest::newRow("the first byte of the next chunk")
        << QByteArray(kChunk, '\0') + "z" << QByteArray("\0z", 2) << QList<qsizetype>{kChunk - 1}
        << 4 * (kChunk - 1);
    QTest::newRow("across a 2 MiB slab boundary")
        << QByteArray(kSlab - 3, 'a') + crLfNul + "\xFF" + QByteArray(9, 'a') << crLfNul + "\xFF"
        << QList<qsizetype>{kSlab - 3} << kSlab - 3;
    QTest::newRow("on both sides of a slab boundary")
        << QByteArray(kSlab - 2, 'a') + "\r\n" + QByteArray(kChunk, 'a') + "\r\n"
        << QByteArray("a\r\n") << QList<qsizetype>{kSlab - 3, kSlab + kChunk - 1} << kSlab - 3;
    QTest::newRow("longer than a chunk, across three of them")
        << "p" + QByteArray(140000, 'q') + "r" << QByteArray(69999, 'q') + "r"
        << QList<qsizetype>{70002} << qsizetype{70002};
}

// Every match, one after the other forwards and backwards, in bytes and in
// characters; a range holds a match whose first character is in it.
void TestTranscript::byteSearchFindsTheBytes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, needle);
    QFETCH(QList<qsizetype>, starts);
    QFETCH(qsizetype, firstAt);
    const auto stored = storeOf(bytes, ansi(), bytes.size());
    const ByteStore &store = *stored;
    const ByteSearch search(needle);
    QCOMPARE(forwardByteMatches(store, search), starts);
    QCOMPARE(backwardByteMatches(store, search), starts);
    const std::vector<qsizetype> characters = charactersOf(bytes);
    QList<std::pair<qsizetype, qsizetype>> matches;
    for (const qsizetype start : starts) {
        const qsizetype at = characters[ix(start)];
        matches.append({at, characters[ix(start + needle.size())] - at});
    }
    QCOMPARE(search.first(store, 0, store.characterCount()).start, firstAt);
    QCOMPARE(forwardCharacterMatches(store, search), matches);
    QCOMPARE(backwardCharacterMatches(store, search), matches);
    for (const auto &[at, length] : matches) {
        QCOMPARE(search.first(store, at, at + 1).start, at);
        // A range that ends inside the first character's NUL holds it.
        QCOMPARE(search.last(store, at, at + 1).start, at);
    }
}

// Stores of few byte values or many, NULs and line ends among them, and
// needles from their own bytes, many about chunk boundaries: the matches
// are those the bytes hold, in both directions, in bytes and in
// characters, from any range.
void TestTranscript::byteSearchAgreesWithAModel()
{
    constexpr qsizetype kChunk = 64 << 10;
    constexpr qsizetype kSlab = 2 << 20;
    QRandomGenerator random(21);
    const QByteArray few("\0\r\n\xAA", 4);
    QByteArray many;
    for (int b = 0; b < 256; b += 17)
        many.append(static_cast<char>(b));
    const struct
    {
        qsizetype size;
        QByteArray alphabet;
    } stores[] = {
        {300, few}, {3 * kChunk + 100, few}, {3 * kChunk + 100, many}, {kSlab + kChunk, many}};
    for (const auto &[size, alphabet] : stores) {
        QByteArray bytes(size, Qt::Uninitialized);
        for (char &byte : bytes)
            byte = alphabet[random.bounded(alphabet.size())];
        const auto stored = storeOf(bytes, ansi(), random.bounded(1000, 100000));
        const ByteStore &store = *stored;
        const std::vector<qsizetype> characters = charactersOf(bytes);
        for (int round = 0; round < 12; ++round) {
            const auto length = static_cast<qsizetype>(random.bounded(1, round < 10 ? 9 : 300));
            // About a chunk boundary, or anywhere.
            const qsizetype boundary = kChunk * random.bounded(1, int(size / kChunk) + 1);
            qsizetype at = round % 2 == 0 && boundary < size
                               ? boundary - random.bounded(int(length))
                               : random.bounded(size);
            at = std::clamp<qsizetype>(at, 0, size - length);
            const QByteArray needle = bytes.mid(at, length);
            const ByteSearch search(needle);
            const QList<qsizetype> expected = byteMatches(bytes, needle);
            const auto context = [&] {
                return qPrintable(QStringLiteral("store of %1, needle %2 at %3")
                                      .arg(size)
                                      .arg(QString::fromLatin1(needle.left(16).toHex(' ')))
                                      .arg(at));
            };
            QVERIFY2(forwardByteMatches(store, search) == expected, context());
            QVERIFY2(backwardByteMatches(store, search) == expected, context());
            // A range of characters, its ends anywhere, NULs' insides too.
            qsizetype from = random.bounded(store.characterCount());
            qsizetype to = random.bounded(store.characterCount());
            if (from > to)
                std::swap(from, to);
            qsizetype first = -1;
            qsizetype last = -1;
            for (const qsizetype start : expected) {
                const qsizetype character = characters[ix(start)];
                if (character >= from && character < to) {
                    first = first < 0 ? character : first;
                    last = character;
                }
            }
            QVERIFY2(search.first(store, from, to).start == first, context());
            QVERIFY2(search.last(store, from, to).start == last, context());
        }
    }
}

void TestTranscript::cancelledSaveLeavesNoFile_data()
{
    QTest::addColumn<bool>("fileBefore");
    QTest::newRow("no file before") << false;
    QTest::newRow("a file before") << true;
}

// Cancelled after the first piece written: the path holds what it held, and
// nothing is left beside it.
void TestTranscript::cancelledSaveLeavesNoFile()
{
    using platform::transcript::SaveResult;
    QFETCH(bool, fileBefore);
    const QByteArray bytes = linesWithHighBytes(12 << 20, 4);
    const auto stored = storeOf(bytes, ansi(), bytes.size());
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("cancelado.txt"));
    if (fileBefore) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("before");
    }
    std::atomic<bool> stop{false};
    qsizetype pieces = 0;
    const auto outcome = platform::transcript::saveBytes(*stored, path, stop, [&](qsizetype) {
        ++pieces;
        stop = true;
    });
    QCOMPARE(outcome.result, SaveResult::Cancelled);
    QCOMPARE(pieces, 1);
    QCOMPARE(QDir(folder.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             fileBefore ? QStringList{QStringLiteral("cancelado.txt")} : QStringList{});
    if (fileBefore) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("before"));
    }
}

void TestTranscript::shareKeepsItsText_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");
    QTest::addColumn<bool>("cleared"); // the store emptied after the share

    QByteArray nulEvery100(300000, 'n');
    for (qsizetype at = 99; at < nulEvery100.size(); at += 100)
        nulEvery100[at] = '\0';
    QTest::newRow("the first NUL after the share")
        << linesWithHighBytes(200000, 7) << QByteArray(5, '\0') + nulEvery100 << false;
    QTest::newRow("NULs before, and so many after that the index grows")
        << nulEvery100 << nulEvery100.repeated(20) << false;
    QTest::newRow("emptied, then other bytes")
        << nulEvery100 << QByteArray("x\0y", 3).repeated(100000) << true;
}

// A share reads as the store did when it was made, characters and places,
// while the store goes on appending, or is emptied and filled again.
void TestTranscript::shareKeepsItsText()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    QFETCH(bool, cleared);
    const CharTable table = ansi();
    ByteStore store(table);
    ByteStore::Private::append(store, reinterpret_cast<const quint8 *>(before.constData()),
                               before.size());
    const std::shared_ptr<const ByteStore> shared = store.share();
    const QString text = translated(before, table);
    if (cleared)
        store.clear();
    for (const QByteArray &piece : split(after, {4093}))
        ByteStore::Private::append(store, reinterpret_cast<const quint8 *>(piece.constData()),
                                   piece.size());
    QCOMPARE(shared->characterCount(), text.size());
    QCOMPARE(shared->byteCount(), before.size());
    QString read(text.size(), Qt::Uninitialized);
    shared->copy(0, text.size(), reinterpret_cast<char16_t *>(read.data()));
    QCOMPARE(read, text);
    qsizetype position = 0;
    for (qsizetype byte = 0; byte < before.size(); ++byte) {
        if (byte % 997 == 0) {
            QCOMPARE(shared->positionOfByte(byte), position);
            QCOMPARE(shared->locate(position).byte, byte);
            QCOMPARE(shared->at(position), text[position].unicode());
        }
        position += before[byte] == '\0' ? 4 : 1;
    }
}

QTEST_GUILESS_MAIN(TestTranscript)
#include "tst_transcript.moc"
