// The receive path's byte route gives exactly what its text route gives: the
// receive box fed bytes with a table of their characters holds the same text
// and rows as the box fed the rendered text, however the bytes are split; and
// the ANSI bytes of the rendering are the rendered text's.

#include "ByteStreams.h"
#include "ReceiveBoxProbe.h"
#include "platform/CodePage.h"
#include "receivebox/ReceiveBox.h"

#include <QTest>

#include <array>

Q_DECLARE_METATYPE(CharTable)

namespace {

CharTable ansi()
{
    return platform::codepage::ansiTable();
}

} // namespace

class TestBytePath final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void boxBytesEqualText();
    void renderedBytes_data();
    void renderedBytes();
};

// The box's own byte route, with its rows at the box's width.
void TestBytePath::boxBytesEqualText()
{
    const QByteArray bytes = linesWithHighBytes(100000, 7) + QByteArray("\0\t\r", 3);
    ReceiveBox fromText;
    ReceiveBox fromBytes;
    for (const QByteArray &piece : split(bytes, {4093, 1, 65536})) {
        putText(fromText, translated(piece, ansi()));
        fromBytes.appendBytes(piece, ansi());
    }
    QCOMPARE(boxText(fromBytes), boxText(fromText));
    QCOMPARE(fromBytes.rowCount(), fromText.rowCount());
    fromText.setSelStart(fromText.length() - 5);
    fromBytes.setSelStart(fromBytes.length() - 5);
    QCOMPARE(firstVisibleRow(fromBytes), firstVisibleRow(fromText));
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
    QByteArray expected = bytes;
    expected.replace(QByteArray(1, '\0'), QByteArray("\\x00"));
    // As the box reads them back: runs between NULs copied a block at a time.
    ReceiveBox box;
    box.appendBytes(bytes, ansi());
    QCOMPARE(boxText(box), platform::codepage::ansiToString(expected));
}

QTEST_MAIN(TestBytePath)
#include "tst_bytepath.moc"
