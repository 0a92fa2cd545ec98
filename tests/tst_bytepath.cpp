// The receive path's byte route gives exactly what its text route gives: the
// receive box fed bytes with a table of their characters holds the same text,
// lines and rows as the box fed the translated text, however the bytes are
// split; and the ANSI bytes of the rendering are the rendered text's.

#include "CodePage.h"
#include "ReceiveBox.h"
#include "ReceiveBoxText.h"
#include "Transcoding.h"

#include <QTest>

#include <array>

using CharTable = std::array<char16_t, 256>;

Q_DECLARE_METATYPE(CharTable)

namespace {

CharTable ansi()
{
    return platform::codepage::ansiTable();
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

QString translated(const QByteArray &bytes, const CharTable &table)
{
    QString text;
    for (const char byte : bytes)
        text.append(QChar(table[static_cast<unsigned char>(byte)]));
    return text;
}

QByteArray allBytes()
{
    QByteArray bytes;
    for (int b = 0; b < 256; ++b)
        bytes.append(static_cast<char>(b));
    return bytes;
}

// 80-column CR LF lines, with a byte of the upper half now and then.
QByteArray linesWithHighBytes(qsizetype size, int every)
{
    QByteArray bytes;
    for (int n = 0; bytes.size() < size; ++n) {
        QByteArray line = QByteArray::number(n).rightJustified(78, '.');
        if (every > 0 && n % every == 0)
            line[40] = '\x80';
        bytes += line + "\r\n";
    }
    bytes.truncate(size);
    return bytes;
}

QList<QByteArray> split(const QByteArray &bytes, const QList<qsizetype> &sizes)
{
    QList<QByteArray> pieces;
    qsizetype at = 0;
    for (int i = 0; at < bytes.size(); ++i) {
        const qsizetype size = sizes.isEmpty() ? bytes.size() : sizes[i % sizes.size()];
        pieces.append(bytes.mid(at, size));
        at += size;
    }
    return pieces;
}

void compareLines(const ReceiveBoxText &a, const ReceiveBoxText &b)
{
    QCOMPARE(b.length(), a.length());
    QCOMPARE(b.mid(0, b.length()), a.mid(0, a.length()));
    QCOMPARE(b.rowCount(), a.rowCount());
    ReceiveBoxText::Line lineA = a.lineAtPosition(0).line;
    ReceiveBoxText::Line lineB = b.lineAtPosition(0).line;
    for (;;) {
        QCOMPARE(lineB.start, lineA.start);
        QCOMPARE(lineB.length, lineA.length);
        QCOMPARE(lineB.columns, lineA.columns);
        QCOMPARE(lineB.terminator, lineA.terminator);
        QCOMPARE(lineB.hasTab, lineA.hasTab);
        const bool moreA = a.nextLine(lineA);
        QCOMPARE(b.nextLine(lineB), moreA);
        if (!moreA)
            break;
    }
    const qsizetype step = std::max<qsizetype>(1, a.length() / 4096);
    for (qsizetype position = 0; position <= a.length(); position += step) {
        const auto atA = a.rowColumnOf(position);
        const auto atB = b.rowColumnOf(position);
        QCOMPARE(atB.row, atA.row);
        QCOMPARE(atB.column, atA.column);
    }
}

} // namespace

class TestBytePath final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void bytesEqualText_data();
    void bytesEqualText();
    void boxBytesEqualText();
    void renderedBytes_data();
    void renderedBytes();
};

void TestBytePath::bytesEqualText_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QList<qsizetype>>("pieces");
    QTest::addColumn<CharTable>("table");

    const QList<qsizetype> whole;
    QTest::newRow("NULs") << QByteArray("a\0b\0\0c\0", 7) << whole << ansi();
    QTest::newRow("0x80..0x9F among ASCII")
        << QByteArray("ab\x80\x81\x8D\x8F\x90\x9D\x9F z") << whole << ansi();
    QTest::newRow("a wide character late in a long piece")
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
    QTest::newRow("lines across a chunk boundary, wide after it")
        << linesWithHighBytes(70000, 0) + "\x80\x93tail\r\n"
        << QList<qsizetype>{30000} << ansi();
    QTest::newRow("a narrow chunk turns wide in the middle of a piece")
        << linesWithHighBytes(140000, 300) << QList<qsizetype>{50000, 65536, 7} << ansi();
    QTest::newRow("a 200000-byte line")
        << QByteArray(200000, 'q') << QList<qsizetype>{65535} << ansi();
    QTest::newRow("every byte of the upper half wide (Cyrillic)")
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

// ReceiveBoxText, where the line index lives: every line and caret place.
void TestBytePath::bytesEqualText()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QList<qsizetype>, pieces);
    QFETCH(CharTable, table);

    for (const int columns : {1, 7, 80}) {
        ReceiveBoxText fromText;
        ReceiveBoxText fromBytes;
        fromText.setColumns(columns);
        fromBytes.setColumns(columns);
        for (const QByteArray &piece : split(bytes, pieces)) {
            fromText.append(translated(piece, table));
            fromBytes.appendBytes(piece, table);
        }
        compareLines(fromText, fromBytes);
        if (QTest::currentTestFailed())
            return;
        // However split, the same as the whole text at once.
        ReceiveBoxText whole;
        whole.setColumns(columns);
        whole.append(translated(bytes, table));
        compareLines(whole, fromBytes);
        if (QTest::currentTestFailed())
            return;
    }
}

// The box's own byte route, with its rows at the box's width.
void TestBytePath::boxBytesEqualText()
{
    const QByteArray bytes = linesWithHighBytes(100000, 7) + QByteArray("\0\t\r", 3);
    ReceiveBox fromText;
    ReceiveBox fromBytes;
    for (const QByteArray &piece : split(bytes, {4093, 1, 65536})) {
        fromText.append(translated(piece, ansi()));
        fromBytes.appendBytes(piece, ansi());
    }
    QCOMPARE(fromBytes.Text(), fromText.Text());
    QCOMPARE(fromBytes.rowCount(), fromText.rowCount());
    fromText.setSelStart(fromText.length() - 5);
    fromBytes.setSelStart(fromBytes.length() - 5);
    QCOMPARE(fromBytes.firstVisibleRow(), fromText.firstVisibleRow());
}

void TestBytePath::renderedBytes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("NUL alone") << QByteArray(1, '\0');
    QTest::newRow("NULs only") << QByteArray(40, '\0');
    QTest::newRow("NUL first and last") << QByteArray("\0abc\0", 5);
    QTest::newRow("NULs at 15, 16, 17 and 31")
        << QByteArray(40, 'z').replace(15, 3, QByteArray(3, '\0')).replace(31, 1, "\0", 1);
    QTest::newRow("one byte in eight NUL") << QByteArray("abcdefg\0", 8).repeated(1000);
    QTest::newRow("a NUL after a long run") << QByteArray(1000, 'r') + QByteArray(1, '\0') + "x";
    QTest::newRow("every byte") << allBytes().repeated(3);
    QTest::newRow("backslash and x next to NUL") << QByteArray("\\x\0\\x00\0", 8);
    QByteArray everyPlace;
    for (int place = 0; place < 16; ++place) {
        QByteArray block(16, static_cast<char>('a' + place));
        block[place] = '\0';
        everyPlace += block;
    }
    QTest::newRow("a NUL in every place of a block, then a block of NULs")
        << everyPlace + QByteArray(16, '\0') + QByteArray(40, 't');
    QTest::newRow("no NUL") << allBytes().mid(1).repeated(3);
}

void TestBytePath::renderedBytes()
{
    QFETCH(QByteArray, bytes);
    const QByteArray shown = renderReceivedAnsi(bytes);
    QByteArray expected = bytes;
    expected.replace(QByteArray(1, '\0'), QByteArray("\\x00"));
    QCOMPARE(shown, expected);
    QCOMPARE(platform::codepage::ansiToString(shown), renderReceived(bytes));
}

QTEST_MAIN(TestBytePath)
#include "tst_bytepath.moc"
