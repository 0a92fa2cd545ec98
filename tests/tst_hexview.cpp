#include "ByteStreams.h"
#include "ReceiveBoxProbe.h"
#include "receivebox/ReceiveBox.h"
#include "receivebox/views/HexClipboardText.h"
#include "receivebox/views/HexRows.h"
#include "system/CodePage.h"
#include "transcript/ByteStore_p.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QScrollBar>
#include <QTest>

namespace {

// An independent model of the hexadecimal view's rows that hold bytes
// [from, to): the offset in `digits` hex digits, two blanks, sixteen pairs
// with a blank between the two groups of eight, two blanks and the
// characters (a dot for NUL and control characters); bytes outside the range
// blank, and a row ends at the character of its last byte in the range.
QString hexRowsModel(const std::function<quint8(qsizetype)> &byteAt, qsizetype from, qsizetype to,
                     int digits = 8)
{
    const CharTable table = platform::system::codepage::ansiTable();
    QString out;
    for (qsizetype row = from / 16 * 16; row < to; row += 16) {
        QString pairs;
        QString chars;
        for (int i = 0; i < 16; ++i) {
            const qsizetype at = row + i;
            const bool in = at >= from && at < to;
            if (i == 8)
                pairs += u' ';
            const quint8 byte = in ? byteAt(at) : 0;
            pairs += in ? QString::asprintf("%02x", byte) : QStringLiteral("  ");
            if (i < 15)
                pairs += u' ';
            char16_t c = in ? table[byte] : u' ';
            if (in && (byte == 0 || c < 0x20 || (c >= 0x7F && c <= 0x9F)))
                c = u'.';
            chars += QChar(c);
        }
        QString line = QString::asprintf("%0*llx", digits, static_cast<unsigned long long>(row)) +
                       QStringLiteral("  ") + pairs + QStringLiteral("  ") + chars;
        line.chop(16 - (std::min(to, row + 16) - row));
        out += line + u'\n';
    }
    return out;
}

QString hexRowsModel(const QByteArray &bytes, qsizetype from, qsizetype to)
{
    return hexRowsModel([&](qsizetype at) { return static_cast<quint8>(bytes.at(at)); }, from, to);
}

// The box's character position of a byte: a NUL reads as four characters.
qsizetype positionOfByte(const QByteArray &bytes, qsizetype byte)
{
    return byte + 3 * bytes.left(byte).count('\0');
}

// The hexadecimal view's menu entry, as a right click offers it.
QAction *menuAction(QMenu &menu, const QString &text)
{
    for (QAction *action : menu.actions())
        if (action->text() == text)
            return action;
    return nullptr;
}

} // namespace

class TestHexView final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void hexRowsAsCopied_data();
    void hexRowsAsCopied();
    void hexOffsetsPast4GiB();
    void hexSelectionMapsBothWays_data();
    void hexSelectionMapsBothWays();
    void hexSwitchKeepsFirstByteInView_data();
    void hexSwitchKeepsFirstByteInView();
    void hexKeysMoveCaret_data();
    void hexKeysMoveCaret();
    void hexMouseSelectsBytes();
};

void TestHexView::hexRowsAsCopied_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<QString>("literal"); // the rows as they must read, where given
    const QByteArray example("Hola\r\n\0\xFF\x80\x81"
                             "ABCDEF",
                             16);
    QTest::newRow("a whole row") << example << 0 << 16
                                 << QStringLiteral("00000000  48 6f 6c 61 0d 0a 00 ff  80 81 41 42 "
                                                   "43 44 45 46  Hola...\u00FF\u20AC.ABCDEF\n");
    QTest::newRow("all 256 byte values") << allBytes() << 0 << 256 << QString();
    QTest::newRow("the last row ends mid-transcript")
        << QByteArray("\x02"
                      "frame\x03\x10\x00\x2A"
                      "0123456789abcdefghijklmnopqrstu",
                      41)
        << 0 << 41 << QString();
    QTest::newRow("a selection inside rows, blanks around")
        << (allBytes().mid(200) + allBytes().left(40)) << 5 << 42 << QString();
    QTest::newRow("one byte") << QByteArray("0123456789abcdefXYZ") << 17 << 18
                              << (QStringLiteral("00000010     59") + QString(46, u' ') +
                                  QStringLiteral("Y\n"));
}

void TestHexView::hexRowsAsCopied()
{
    // Selected through the keys in the hexadecimal view, copied with Ctrl+C
    // as the rows show, and with "Copiar como hexadecimal" as pairs.
    QFETCH(QByteArray, bytes);
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(QString, literal);
    ReceiveBox box;
    SHOW(box, 700, 300);
    appendBytes(box, bytes);
    box.setFocus();
    QTest::keyClick(&box, Qt::Key_H, Qt::ControlModifier);
    QVERIFY(box.isHexView());
    QTest::keyClick(&box, Qt::Key_Home, Qt::ControlModifier);
    for (int i = 0; i < from; ++i)
        QTest::keyClick(&box, Qt::Key_Right);
    for (int i = from; i < to; ++i)
        QTest::keyClick(&box, Qt::Key_Right, Qt::ShiftModifier);
    QCOMPARE(box.selectionStart(), positionOfByte(bytes, from));
    QCOMPARE(box.selectionEnd(), positionOfByte(bytes, to));

    QTest::keyClick(&box, Qt::Key_C, Qt::ControlModifier);
    const QString rows = QGuiApplication::clipboard()->text();
    QCOMPARE(rows, hexRowsModel(bytes, from, to));
    if (!literal.isEmpty())
        QCOMPARE(rows, literal);
    const auto *sized =
        qobject_cast<const SizedMimeData *>(QGuiApplication::clipboard()->mimeData());
    QVERIFY(sized);
    QCOMPARE(sized->textLength(), rows.size());

    std::unique_ptr<QMenu> menu(box.createContextMenu(nullptr));
    QAction *copyHex = menuAction(*menu, QStringLiteral("Copiar como hexadecimal"));
    QVERIFY(copyHex && copyHex->isEnabled());
    copyHex->trigger();
    const QString pairs = QString::fromLatin1(bytes.mid(from, to - from).toHex(' '));
    QCOMPARE(QGuiApplication::clipboard()->text(), pairs);
    QCOMPARE(QGuiApplication::clipboard()->mimeData()->data(QStringLiteral("text/plain")),
             pairs.toUtf8());
    // Saving is of the bytes, whatever the view.
    QCOMPARE(boxState(box).text.store().byteCount(), bytes.size());
}

void TestHexView::hexOffsetsPast4GiB()
{
    // Past 4 GiB every row's offset takes nine digits, the rows before that
    // mark too, so that the columns still line up.
    static std::vector<quint8> chunk(ChunkSlabs::kChunkBytes, 'A');
    ByteStore store(platform::system::codepage::ansiTable());
    const qsizetype chunks = (qsizetype{1} << 32) / ChunkSlabs::kChunkBytes + 1;
    ByteStore::Private::appendAlike(store, chunk.data(), chunks);
    const qsizetype start = chunks * ChunkSlabs::kChunkBytes;
    const QByteArray tail("Hola\r\n\0\xFF\x80\x81"
                          "ABCDEF tras 4 GiB",
                          27);
    ByteStore::Private::append(store, reinterpret_cast<const quint8 *>(tail.constData()),
                               tail.size());
    const auto byteAt = [&](qsizetype at) {
        return at < start ? quint8{'A'} : static_cast<quint8>(tail.at(at - start));
    };
    const struct
    {
        qsizetype from;
        qsizetype to;
    } ranges[] = {{start - 8, start + tail.size()},
                  {0, 20},
                  {start + 3, start + 4},
                  {start - 150'001, start + tail.size()}};
    for (const auto &range : ranges) {
        const HexClipboardText rows(store.share(), range.from, range.to, HexClipboardText::Rows);
        QCOMPARE(rows.text(), hexRowsModel(byteAt, range.from, range.to, 9));
        QCOMPARE(rows.textLength(), rows.text().size());
        // As UTF-8, made a stretch of rows at a time, the same text.
        QCOMPARE(rows.data(QStringLiteral("text/plain")), rows.text().toUtf8());
        const HexClipboardText pairs(store.share(), range.from, range.to, HexClipboardText::Pairs);
        QCOMPARE(pairs.data(QStringLiteral("text/plain")), pairs.text().toUtf8());
        QCOMPARE(pairs.textLength(), pairs.text().size());
    }
    const qsizetype mark = qsizetype{1} << 32;
    const QString across =
        HexClipboardText(store.share(), mark - 8, mark + 2, HexClipboardText::Rows).text();
    QVERIFY2(across.startsWith(QStringLiteral("0fffffff0") + QString(27, u' ') +
                               QStringLiteral("41 41 ")),
             qPrintable(across));
    QVERIFY2(across.contains(QStringLiteral("\n100000000  41 41  ")), qPrintable(across));
    QCOMPARE(HexClipboardText(store.share(), start, start + 6, HexClipboardText::Pairs).text(),
             QStringLiteral("48 6f 6c 61 0d 0a"));
    QCOMPARE(platform::receivebox::views::hexrows::rowCount(store.byteCount()),
             (start + tail.size() + 15) / 16);
}

void TestHexView::hexSelectionMapsBothWays_data()
{
    // "ab", NUL, "cd", CR LF, "ef": characters a0 b1 \x00 2..5 c6 d7 CR8 LF9
    // e10 f11, bytes a0 b1 NUL2 c3 d4 CR5 LF6 e7 f8.
    QTest::addColumn<int>("anchor");
    QTest::addColumn<int>("caret");
    QTest::addColumn<int>("hexAnchor"); // character positions once in hex
    QTest::addColumn<int>("hexCaret");
    QTest::newRow("plain characters") << 0 << 2 << 0 << 2;
    QTest::newRow("ending inside the NUL takes it whole") << 1 << 3 << 1 << 6;
    QTest::newRow("backwards, the caret inside the NUL") << 7 << 4 << 7 << 2;
    QTest::newRow("starting inside the NUL") << 5 << 8 << 2 << 8;
    QTest::newRow("a caret inside the NUL stands before it") << 3 << 3 << 2 << 2;
    QTest::newRow("between CR and LF") << 9 << 12 << 9 << 12;
    QTest::newRow("everything") << 0 << 12 << 0 << 12;
}

void TestHexView::hexSelectionMapsBothWays()
{
    QFETCH(int, anchor);
    QFETCH(int, caret);
    QFETCH(int, hexAnchor);
    QFETCH(int, hexCaret);
    ReceiveBox box;
    SHOW(box, 700, 300);
    appendBytes(box, QByteArray("ab\0cd\r\nef", 9));
    box.setSelection(anchor, caret);
    box.setHexView(true);
    QCOMPARE(box.caretPosition(), hexCaret);
    QCOMPARE(box.selectionStart(), std::min(hexAnchor, hexCaret));
    QCOMPARE(box.selectionEnd(), std::max(hexAnchor, hexCaret));
    // Back in the text view the same bytes stay selected.
    box.setHexView(false);
    QCOMPARE(box.caretPosition(), hexCaret);
    QCOMPARE(box.selectionStart(), std::min(hexAnchor, hexCaret));
    QCOMPARE(box.selectionEnd(), std::max(hexAnchor, hexCaret));

    // The other way: bytes chosen in the hexadecimal view by Shift and the
    // arrows are those characters in the text view.
    box.setFocus();
    QTest::keyClick(&box, Qt::Key_H, Qt::ControlModifier);
    QTest::keyClick(&box, Qt::Key_Home, Qt::ControlModifier);
    QTest::keyClick(&box, Qt::Key_Right);
    QTest::keyClick(&box, Qt::Key_Right, Qt::ShiftModifier);
    QTest::keyClick(&box, Qt::Key_Right, Qt::ShiftModifier);
    QTest::keyClick(&box, Qt::Key_H, Qt::ControlModifier);
    QVERIFY(!box.isHexView());
    QCOMPARE(box.selectedText(), QStringLiteral("b\\x00"));
}

void TestHexView::hexSwitchKeepsFirstByteInView_data()
{
    QTest::addColumn<int>("textRow"); // the text view's first row before the switch
    QTest::addColumn<int>("hexRow");  // the hexadecimal view's, before switching back
    QTest::newRow("the start") << 0 << 0;
    QTest::newRow("a wrapped line's second row") << 1 << 3;
    QTest::newRow("inside a run of NULs") << 301 << 2000;
    QTest::newRow("deep in") << 1200 << 7777;
    QTest::newRow("the end") << 1000000 << 1000000;
}

void TestHexView::hexSwitchKeepsFirstByteInView()
{
    // Lines wider than the view, NULs that wrap mid-"\x00", blank lines: the
    // first byte shown before each switch is in view after it, at the top
    // where the view can put it there.
    QFETCH(int, textRow);
    QFETCH(int, hexRow);
    QByteArray bytes;
    for (int n = 0; n < 400; ++n)
        bytes += QByteArray(n % 97, 'w') + QByteArray(n % 5, '\0') + "\r\n" +
                 QByteArray(n % 3, '\n') + QByteArray(n % 7, '\t') + "x\r";
    ReceiveBox box;
    SHOW(box, 700, 300);
    appendBytes(box, bytes);
    const int viewHeight = box.viewport()->height();
    auto shown = [&](qsizetype position) {
        const QRect cell = box.characterRect(position);
        return cell.top() >= 0 && cell.bottom() < viewHeight;
    };
    auto firstByteShown = [&] {
        const qsizetype position = box.positionAt(QPoint(0, 0));
        qsizetype byte = 0;
        while (positionOfByte(bytes, byte + 1) <= position)
            ++byte;
        return byte;
    };
    box.verticalScrollBar()->setValue(textRow);
    const qsizetype textFirst = firstByteShown();
    box.setHexView(true);
    const bool canBeTop = textFirst / 16 <= box.rowCount() - visibleRowCount(box);
    QVERIFY(shown(positionOfByte(bytes, textFirst)));
    if (canBeTop)
        QCOMPARE(firstVisibleRow(box), textFirst / 16);

    box.verticalScrollBar()->setValue(hexRow);
    const qsizetype hexFirst = firstVisibleRow(box) * 16;
    box.setHexView(false);
    QVERIFY(shown(positionOfByte(bytes, hexFirst)));
    if (hexRow < box.rowCount() - visibleRowCount(box))
        QCOMPARE(box.characterRect(positionOfByte(bytes, hexFirst)).top(), 0);

    // Arrivals, the caret put at the end as the receive path does, keep the
    // end in view in the hexadecimal view too.
    box.setHexView(true);
    appendBytes(box, QByteArray(5000, 'z'));
    box.setSelStart(box.length());
    QVERIFY(shown(box.length()));
    // The next connection empties the box; the view stays as chosen.
    box.clear();
    QVERIFY(box.isHexView());
}

void TestHexView::hexKeysMoveCaret_data()
{
    // 100 bytes: rows 0..5 of sixteen and a last row of four.
    QTest::addColumn<int>("start");
    QTest::addColumn<QKeyCombination>("key");
    QTest::addColumn<int>("expected");
    QTest::newRow("Right") << 15 << QKeyCombination(Qt::Key_Right) << 16;
    QTest::newRow("Left at the start") << 0 << QKeyCombination(Qt::Key_Left) << 0;
    QTest::newRow("Down") << 3 << QKeyCombination(Qt::Key_Down) << 19;
    QTest::newRow("Down into the short last row") << 90 << QKeyCombination(Qt::Key_Down) << 100;
    QTest::newRow("Up on the first row") << 7 << QKeyCombination(Qt::Key_Up) << 0;
    QTest::newRow("Home") << 37 << QKeyCombination(Qt::Key_Home) << 32;
    QTest::newRow("End stays on its row") << 37 << QKeyCombination(Qt::Key_End) << 47;
    QTest::newRow("End of the last row") << 97 << QKeyCombination(Qt::Key_End) << 100;
    QTest::newRow("Ctrl+End") << 5 << (Qt::ControlModifier | Qt::Key_End) << 100;
    QTest::newRow("Ctrl+Home") << 55 << (Qt::ControlModifier | Qt::Key_Home) << 0;
    QTest::newRow("PageDown by the rows in view")
        << 1 << QKeyCombination(Qt::Key_PageDown) << 1 + 16 * 3;
    QTest::newRow("PageUp past the start") << 40 << QKeyCombination(Qt::Key_PageUp) << 0;
}

void TestHexView::hexKeysMoveCaret()
{
    QFETCH(int, start);
    QFETCH(QKeyCombination, key);
    QFETCH(int, expected);
    ReceiveBox box;
    box.resize(700, 100);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    box.resize(700, box.height() - box.viewport()->height() + 3 * cellSize(box).height());
    QTRY_COMPARE(visibleRowCount(box), 3);
    appendBytes(box, QByteArray(100, 'x'));
    box.setHexView(true);
    box.setSelStart(start);
    box.setFocus();
    QTest::keyClick(&box, key.key(), key.keyboardModifiers());
    QCOMPARE(box.caretPosition(), expected);
    QCOMPARE(box.selectionStart(), box.selectionEnd());
    QVERIFY(box.characterRect(expected).top() >= 0);
    QVERIFY(box.characterRect(expected).bottom() < box.viewport()->height());
}

void TestHexView::hexMouseSelectsBytes()
{
    // A press on a pair's left half and a drag to a character's right half
    // select the bytes between; a double click takes one byte.
    ReceiveBox box;
    SHOW(box, 700, 300);
    appendBytes(box, allBytes());
    box.setHexView(true);
    const platform::receivebox::views::hexrows::Geometry geometry(256);
    const QSize cell = cellSize(box);
    const QPoint press(geometry.pairColumn(5) * cell.width() + 1, cell.height() + 2);
    const QPoint release((geometry.charColumn(9) + 1) * cell.width() - 2, 2 * cell.height() + 2);
    QTest::mousePress(box.viewport(), Qt::LeftButton, {}, press);
    QTest::mouseMove(box.viewport(), release);
    QTest::mouseRelease(box.viewport(), Qt::LeftButton, {}, release);
    // Byte 0 is a NUL of four characters.
    QCOMPARE(box.selectionStart(), 21 + 3);
    QCOMPARE(box.selectionEnd(), 42 + 3);
    QTest::mouseDClick(box.viewport(), Qt::LeftButton, {},
                       QPoint((geometry.pairColumn(7) + 1) * cell.width(), cell.height() / 2));
    QCOMPARE(box.selectionStart(), 7 + 3);
    QCOMPARE(box.selectionEnd(), 8 + 3);
}

QTEST_MAIN(TestHexView)
#include "tst_hexview.moc"
