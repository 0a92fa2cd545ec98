#include "ByteStreams.h"
#include "ReceiveBoxProbe.h"
#include "receivebox/ReceiveBox.h"
#include "receivebox/ViewScroller.h"
#include "receivebox/find/BackgroundFind.h"
#include "receivebox/find/FindBar.h"
#include "receivebox/save/TranscriptSaver.h"
#include "receivebox/views/HexClipboardText.h"
#include "receivebox/views/HexRows.h"
#include "system/CodePage.h"
#include "transcript/ByteStore_p.h"

#include <cmath>

#include <QCheckBox>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>
#include <QWheelEvent>

#if defined(Q_OS_UNIX)
#include <sys/resource.h>

#include <csignal>
#endif

namespace {

// Windows-1252 as the receive path decodes it: 0x80..0x9F are mostly
// typographic characters above U+00FF; the five unassigned bytes stay C1.
QString cp1252Characters1To255()
{
    return translated(allBytes().mid(1), cp1252Table());
}

// An independent model of the layout: lines end at CR LF, LF or CR; a TAB
// runs to the next multiple of 8 columns of its line; a line of c columns
// takes max(1, ceil(c / width)) rows.
class Model final
{
public:
    Model(const QString &text, int width) : m_width(width)
    {
        m_lines.append(Line{});
        for (qsizetype i = 0; i < text.size(); ++i) {
            const QChar c = text[i];
            if (c == u'\r' || c == u'\n') {
                if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
                    ++i;
                m_lines.append(Line{i + 1, {}, 0});
            } else {
                m_lines.last().chars.append(c);
            }
        }
        for (Line &line : m_lines) {
            line.firstRow = m_rows;
            m_rows += std::max<qsizetype>(1, (columns(line.chars) + width - 1) / width);
        }
    }

    qsizetype rows() const { return m_rows; }

    // Position of the character in that cell (a line's end past its last one).
    qsizetype positionAt(qsizetype row, int column) const
    {
        const auto it =
            std::upper_bound(m_lines.begin(), m_lines.end(), row,
                             [](qsizetype r, const Line &line) { return r < line.firstRow; });
        const Line &line = *(it - 1);
        const qsizetype wanted = (row - line.firstRow) * m_width + column;
        qsizetype c = 0;
        for (qsizetype i = 0; i < line.chars.size(); ++i) {
            const qsizetype next = line.chars[i] == u'\t' ? (c / 8 + 1) * 8 : c + 1;
            if (wanted < next)
                return line.start + i;
            c = next;
        }
        return line.start + line.chars.size();
    }

private:
    struct Line
    {
        qsizetype start = 0;
        QString chars;
        qsizetype firstRow = 0;
    };

    static qsizetype columns(QStringView chars)
    {
        qsizetype column = 0;
        for (QChar c : chars)
            column = c == u'\t' ? (column / 8 + 1) * 8 : column + 1;
        return column;
    }

    int m_width;
    QList<Line> m_lines;
    qsizetype m_rows = 0;
};

QPoint cellCentre(const ReceiveBox &box, qsizetype rowInView, int column)
{
    const QSize cell = cellSize(box);
    return {column * cell.width() + cell.width() / 2,
            static_cast<int>(rowInView) * cell.height() + cell.height() / 2};
}

QPoint cellLeftEdge(const ReceiveBox &box, qsizetype rowInView, int column)
{
    const QSize cell = cellSize(box);
    return {column * cell.width() + 1,
            static_cast<int>(rowInView) * cell.height() + cell.height() / 2};
}

// Every visible row, at a few columns, maps to the model's character.
void compareWithModel(const ReceiveBox &box, const Model &model)
{
    const int width = columnsPerRow(box);
    QCOMPARE(box.rowCount(), model.rows());
    const qsizetype shown =
        std::min<qsizetype>(visibleRowCount(box), box.rowCount() - firstVisibleRow(box));
    for (qsizetype row = 0; row < shown; ++row) {
        for (int column : {0, 1, 7, 8, 9, width / 2, width - 1}) {
            const qsizetype expected = model.positionAt(firstVisibleRow(box) + row, column);
            const qsizetype actual = box.positionAt(cellCentre(box, row, column));
            if (actual != expected)
                QFAIL(qPrintable(QStringLiteral("row %1 column %2: %3, expected %4")
                                     .arg(firstVisibleRow(box) + row)
                                     .arg(column)
                                     .arg(actual)
                                     .arg(expected)));
        }
    }
}

void compareWithModel(const ReceiveBox &box, const QString &text)
{
    compareWithModel(box, Model(text, columnsPerRow(box)));
}

QString lines80(qsizetype totalChars)
{
    QString line(78, QLatin1Char('x'));
    line += QStringLiteral("\r\n");
    QString text;
    text.reserve(totalChars);
    while (text.size() + line.size() <= totalChars)
        text += line;
    return text;
}

using Result = platform::transcript::SaveResult;

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArrayLiteral("<no file>");
    return file.readAll();
}

QStringList folderEntries(const QTemporaryDir &folder)
{
    return QDir(folder.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

void appendArrivals(ReceiveBox &box, const QByteArray &bytes, const QList<qsizetype> &pieces)
{
    for (const QByteArray &piece : split(bytes, pieces))
        appendBytes(box, piece, platform::system::codepage::ansiTable());
}

// Ctrl+S in the box, the path put into the save dialog and the dialog
// accepted: the saver it starts, or none.
TranscriptSaver *saveThroughTheDialog(ReceiveBox &box, const QString &path,
                                      const std::function<void()> &whileAsked = {})
{
    box.setFocus();
    QTest::keyClick(&box, Qt::Key_S, Qt::ControlModifier);
    auto *dialog = box.findChild<QFileDialog *>();
    if (!dialog || !dialog->isVisible() || dialog->windowTitle() != QStringLiteral("Guardar como"))
        return nullptr;
    if (whileAsked)
        whileAsked();
    dialog->selectFile(path);
    static_cast<QDialog *>(dialog)->accept();
    return box.findChild<TranscriptSaver *>();
}

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

// Ctrl+F in the box and the text typed into the bar's field key by key: the
// bar, or none when it did not open with the focus in its field.
FindBar *findBarTyped(ReceiveBox &box, const QString &typed)
{
    box.setFocus();
    QTest::keyClick(&box, Qt::Key_F, Qt::ControlModifier);
    auto *bar = box.findChild<FindBar *>();
    if (!bar || !bar->isVisible())
        return nullptr;
    auto *field = bar->findChild<QLineEdit *>(QStringLiteral("findText"));
    if (!field->hasFocus())
        return nullptr;
    QTest::keyClicks(field, typed);
    return field->text() == typed ? bar : nullptr;
}

} // namespace

#define SHOW(box, width, height)                                                                   \
    do {                                                                                           \
        (box).resize((width), (height));                                                           \
        (box).show();                                                                              \
        QVERIFY(QTest::qWaitForWindowExposed(&(box)));                                             \
    } while (false)

class TestReceiveBox final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void roundTrip_data();
    void roundTrip();
    void setTextReplaces();
    void piecesEqualWhole_data();
    void piecesEqualWhole();
    void lineBreaks_data();
    void lineBreaks();
    void longLineWraps();
    void resizeRewraps();
    void fontChangeRewraps();
    void tabStops_data();
    void tabStops();
    void randomTextMatchesModel();
    void selStartAtEndShowsLastRow();
    void selStartInLongLine();
    void dragSelects();
    void dragPastTheBottomScrolls();
    void shiftClickExtends();
    void doubleClickSelectsWord_data();
    void doubleClickSelectsWord();
    void selectAllCopy();
    void copyReadsNothingUntilAsked();
    void doubleClickInAHugeWord();
    void keysMoveCaret_data();
    void keysMoveCaret();
    void caretSkipsLineEnds();
    void scrollBarStepsExactRows_data();
    void scrollBarStepsExactRows();
    void wheelScrolls();
    void contextMenu();
    void manyPieces();
    void sixteenMebibyteLine();
    void scrollBarFollowsArrivals();
    void hugeRowCountScrollBar();
    void paintStates_data();
    void paintStates();
    void controlCharacterIsDrawn();
    void textColourIsTheWholeText();
    void paintsAgreeOnEveryDevice();
    void saveHoldsTheBytesReceived_data();
    void saveHoldsTheBytesReceived();
    void saveHoldsWhatCameBeforeTheCommand();
    void saveFailureIsReported_data();
    void saveFailureIsReported();
    void findBarFindsInTurn_data();
    void findBarFindsInTurn();
    void findBarInTheBox();
    void findSearchesWhatArrivesMeanwhile();
    void findInTheHexViewSaysItsKind_data();
    void findInTheHexViewSaysItsKind();
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

void TestReceiveBox::roundTrip_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QString();
    QTest::newRow("CR LF between letters") << QStringLiteral("A\r\nB");
    QTest::newRow("cp1252 characters 1..255") << cp1252Characters1To255();
    QTest::newRow("NUL and the four characters \\x00")
        << (QString(QChar(0)) + QStringLiteral("\\x00") + QChar(0));
    QTest::newRow("C1 controls") << QStringLiteral("\u0080\u0085\u009F x");
    QTest::newRow("wide, and a surrogate pair") << QStringLiteral("\u4E2D\u6587 \U0001F600 end");
    // A chunk that turns wide after holding narrow text, across a boundary.
    QTest::newRow("euro after 70000 narrow characters")
        << (QString(70000, QLatin1Char('a')) + QChar(0x20AC) + QString(70000, QChar(0xE9)));
}

void TestReceiveBox::roundTrip()
{
    QFETCH(QString, text);
    ReceiveBox box;
    setBoxText(box, text);
    QCOMPARE(box.length(), text.size());
    QCOMPARE(boxText(box), text);
    QCOMPARE(box.mid(1, 3), text.mid(1, 3));
    QCOMPARE(box.mid(text.size() - 2, 10), text.mid(text.size() - 2, 10));
    QCOMPARE(box.mid(-5, 7), text.left(2));
    QCOMPARE(box.mid(text.size() + 1, 3), QString());
}

void TestReceiveBox::setTextReplaces()
{
    ReceiveBox box;
    SHOW(box, 400, 300);
    setBoxText(box, QStringLiteral("one\r\ntwo\r\nthree"));
    box.setSelection(2, 9);
    setBoxText(box, QStringLiteral("four"));
    QCOMPARE(boxText(box), QStringLiteral("four"));
    QCOMPARE(box.rowCount(), 1);
    QCOMPARE(box.selectionStart(), box.selectionEnd());
    QCOMPARE(box.positionAt(cellCentre(box, 0, 2)), 2);
    box.clear();
    QCOMPARE(box.length(), 0);
    QCOMPARE(box.rowCount(), 1);
}

void TestReceiveBox::piecesEqualWhole_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("CR LF, LF, CR and doubled ends")
        << QStringLiteral("ab\r\ncd\nef\rgh\r\r\n\n\rij\r");
    QTest::newRow("tabs and wide characters")
        << QStringLiteral("a\tb\u20AC\t\tc\r\n\td\u2014e\rf\t");
    QTest::newRow("CR LF pairs only") << QStringLiteral("\r\n\r\n\r\n");
}

void TestReceiveBox::piecesEqualWhole()
{
    QFETCH(QString, text);
    ReceiveBox whole;
    SHOW(whole, 200, 400);
    putText(whole, text);
    const qsizetype rows = whole.rowCount();
    compareWithModel(whole, text);
    // Every way of cutting the text in two, in particular between CR and LF.
    for (qsizetype cut = 0; cut <= text.size(); ++cut) {
        ReceiveBox pieces;
        SHOW(pieces, 200, 400);
        putText(pieces, QStringView(text).left(cut));
        putText(pieces, QStringView(text).mid(cut));
        QCOMPARE(boxText(pieces), text);
        QCOMPARE(pieces.rowCount(), rows);
        compareWithModel(pieces, text);
    }
    // And one character at a time.
    ReceiveBox single;
    SHOW(single, 200, 400);
    for (QChar c : text)
        putText(single, QStringView(&c, 1));
    QCOMPARE(boxText(single), text);
    compareWithModel(single, text);
}

void TestReceiveBox::lineBreaks_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("rows");
    QTest::newRow("empty") << QString() << 1;
    QTest::newRow("CR LF") << QStringLiteral("A\r\nB") << 2;
    QTest::newRow("LF") << QStringLiteral("A\nB") << 2;
    QTest::newRow("CR") << QStringLiteral("A\rB") << 2;
    QTest::newRow("LF CR is two ends") << QStringLiteral("A\n\rB") << 3;
    QTest::newRow("CR CR LF is two ends") << QStringLiteral("A\r\r\nB") << 3;
    QTest::newRow("trailing CR LF opens an empty row") << QStringLiteral("A\r\n") << 2;
    QTest::newRow("mixed") << QStringLiteral("1\r\n2\n3\r4\r\n\r\n5") << 6;
}

void TestReceiveBox::lineBreaks()
{
    QFETCH(QString, text);
    QFETCH(int, rows);
    ReceiveBox box;
    SHOW(box, 300, 300);
    setBoxText(box, text);
    QCOMPARE(box.rowCount(), rows);
    compareWithModel(box, text);
}

void TestReceiveBox::longLineWraps()
{
    ReceiveBox box;
    SHOW(box, 500, 300);
    const int width = columnsPerRow(box);
    QCOMPARE(width, box.viewport()->width() / cellSize(box).width());
    const qsizetype size = qsizetype{1} << 20;
    setBoxText(box, QString(size, QLatin1Char('z')));
    QCOMPARE(box.rowCount(), (size + width - 1) / width);
    box.setSelStart(size / 2);
    const qsizetype row = firstVisibleRow(box);
    QCOMPARE(box.positionAt(cellCentre(box, 0, 0)), row * width);
    QCOMPARE(box.positionAt(cellCentre(box, 1, 3)), (row + 1) * width + 3);
}

void TestReceiveBox::resizeRewraps()
{
    ReceiveBox box;
    SHOW(box, 600, 300);
    const QString text = QString(1000, QLatin1Char('q')) + QStringLiteral("\r\nshort");
    setBoxText(box, text);
    const int wide = columnsPerRow(box);
    QCOMPARE(box.rowCount(), (1000 + wide - 1) / wide + 1);
    box.setSelStart(500);
    const qsizetype shownBefore = box.positionAt(cellCentre(box, 0, 0));
    box.resize(300, 300);
    QTRY_VERIFY(columnsPerRow(box) < wide);
    const int narrow = columnsPerRow(box);
    QCOMPARE(box.rowCount(), (1000 + narrow - 1) / narrow + 1);
    compareWithModel(box, text);
    // The row at the top still holds what was at the top.
    const qsizetype top = box.positionAt(cellCentre(box, 0, 0));
    QVERIFY(top <= shownBefore && shownBefore < top + narrow);
}

void TestReceiveBox::fontChangeRewraps()
{
    ReceiveBox box;
    SHOW(box, 500, 300);
    const QString text = QString(2000, QLatin1Char('f')) + QStringLiteral("\r\n\tg");
    setBoxText(box, text);
    const int before = columnsPerRow(box);
    QFont bigger = box.font();
    bigger.setPointSizeF(bigger.pointSizeF() * 2);
    box.setFont(bigger);
    QVERIFY(columnsPerRow(box) < before);
    QCOMPARE(columnsPerRow(box), box.viewport()->width() / cellSize(box).width());
    compareWithModel(box, text);
}

void TestReceiveBox::tabStops_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("column"); // where the character after the last TAB is drawn
    QTest::newRow("after two letters") << QStringLiteral("ab\tX") << 8;
    QTest::newRow("at line start") << QStringLiteral("\tX") << 8;
    QTest::newRow("seven letters") << QStringLiteral("1234567\tX") << 8;
    QTest::newRow("eight letters go to the next stop") << QStringLiteral("12345678\tX") << 16;
    QTest::newRow("two tabs") << QStringLiteral("\t\tX") << 16;
    QTest::newRow("after a CR LF the stops restart") << QStringLiteral("abcdefghij\r\nab\tX") << 8;
}

void TestReceiveBox::tabStops()
{
    QFETCH(QString, text);
    QFETCH(int, column);
    ReceiveBox box;
    SHOW(box, 400, 200);
    setBoxText(box, text);
    const qsizetype row = box.rowCount() - 1;
    const qsizetype x = text.size() - 1;
    QCOMPARE(box.positionAt(cellCentre(box, row, column)), x);
    QCOMPARE(box.positionAt(cellCentre(box, row, column - 1)), x - 1); // the TAB's last cell
    compareWithModel(box, text);
}

void TestReceiveBox::randomTextMatchesModel()
{
    // Short lines and lines of thousands of characters (past the 1024 where a
    // line with TABs keeps checkpoints), TABs, wide and control characters,
    // every line end, appended in random pieces.
    QRandomGenerator random(20240611);
    const char16_t sprinkles[] = {u'\t', u'\t', u' ', 0x20AC, 0x01, 0x85, 0x2014};
    const QString ends[] = {QStringLiteral("\r\n"), QStringLiteral("\n"), QStringLiteral("\r")};
    QString text;
    while (text.size() < 80000) {
        const int kind = random.bounded(10);
        const int length = kind < 3   ? random.bounded(60)
                           : kind < 4 ? random.bounded(1000, 6000)
                                      : random.bounded(60, 200);
        for (int i = 0; i < length; ++i)
            text.append(random.bounded(8) == 0
                            ? QChar(sprinkles[random.bounded(int(std::size(sprinkles)))])
                            : QChar(u'a' + random.bounded(26)));
        text += ends[random.bounded(3)];
    }
    ReceiveBox box;
    SHOW(box, 330, 1500);
    for (qsizetype at = 0; at < text.size();) {
        const qsizetype piece = random.bounded(1, 3000);
        putText(box, QStringView(text).mid(at, piece));
        at += piece;
    }
    QCOMPARE(boxText(box), text);
    const Model model(text, columnsPerRow(box));
    QCOMPARE(box.rowCount(), model.rows());
    box.setFocus();
    box.setSelStart(0);
    for (;;) {
        compareWithModel(box, model);
        if (QTest::currentTestFailed())
            return;
        if (firstVisibleRow(box) + visibleRowCount(box) >= box.rowCount())
            break;
        QTest::keyClick(&box, Qt::Key_PageDown);
    }
}

void TestReceiveBox::selStartAtEndShowsLastRow()
{
    ReceiveBox box;
    SHOW(box, 400, 300);
    QString text;
    for (int i = 0; i < 1000; ++i)
        text += QStringLiteral("line %1\r\n").arg(i);
    text += QStringLiteral("last");
    setBoxText(box, text);
    box.setSelStart(box.length());
    QCOMPARE(box.selectionStart(), box.length());
    QCOMPARE(box.selectionEnd(), box.length());
    QCOMPARE(firstVisibleRow(box) + visibleRowCount(box), box.rowCount());
    QCOMPARE(box.positionAt(cellCentre(box, visibleRowCount(box) - 1, 0)), text.size() - 4);
    QCOMPARE(box.verticalScrollBar()->value(), box.verticalScrollBar()->maximum());
    box.setSelStart(3);
    QCOMPARE(firstVisibleRow(box), 0);
}

void TestReceiveBox::selStartInLongLine()
{
    ReceiveBox box;
    SHOW(box, 500, 300);
    const qsizetype size = qsizetype{16} << 20;
    QString text(size, QLatin1Char('-'));
    const qsizetype middle = size / 2 + 5;
    text[middle] = QLatin1Char('#');
    setBoxText(box, text);
    box.setSelStart(middle);
    const int width = columnsPerRow(box);
    const qsizetype row = middle / width;
    QVERIFY(firstVisibleRow(box) <= row);
    QVERIFY(row < firstVisibleRow(box) + visibleRowCount(box));
    QCOMPARE(box.positionAt(QPoint(0, 0)), firstVisibleRow(box) * width);
    const qsizetype shown = box.positionAt(
        cellCentre(box, row - firstVisibleRow(box), static_cast<int>(middle % width)));
    QCOMPARE(shown, middle);
    QCOMPARE(box.mid(shown, 1), QStringLiteral("#"));
}

void TestReceiveBox::dragSelects()
{
    ReceiveBox box;
    SHOW(box, 400, 300);
    setBoxText(box, QStringLiteral("hello world\r\nsecond line"));
    QWidget *view = box.viewport();
    QTest::mousePress(view, Qt::LeftButton, {}, cellLeftEdge(box, 0, 6));
    QTest::mouseMove(view, cellLeftEdge(box, 1, 3));
    QTest::mouseRelease(view, Qt::LeftButton, {}, cellLeftEdge(box, 1, 3));
    QCOMPARE(box.selectedText(), QStringLiteral("world\r\nsec"));
    // Dragging up selects backwards.
    QTest::mousePress(view, Qt::LeftButton, {}, cellLeftEdge(box, 1, 2));
    QTest::mouseMove(view, cellLeftEdge(box, 0, 9));
    QTest::mouseRelease(view, Qt::LeftButton, {}, cellLeftEdge(box, 0, 9));
    QCOMPARE(box.selectedText(), QStringLiteral("ld\r\nse"));
    // Past the end of a line means its end.
    QTest::mousePress(view, Qt::LeftButton, {}, cellLeftEdge(box, 0, 30));
    QTest::mouseMove(view, cellLeftEdge(box, 1, 0));
    QTest::mouseRelease(view, Qt::LeftButton, {}, cellLeftEdge(box, 1, 0));
    QCOMPARE(box.selectedText(), QStringLiteral("\r\n"));
    QCOMPARE(boxText(box), QStringLiteral("hello world\r\nsecond line"));
}

void TestReceiveBox::dragPastTheBottomScrolls()
{
    ReceiveBox box;
    SHOW(box, 400, 200);
    setBoxText(box, lines80(300 * 80));
    QWidget *view = box.viewport();
    QTest::mousePress(view, Qt::LeftButton, {}, cellLeftEdge(box, 0, 2));
    QTest::mouseMove(view, QPoint(10, view->height() + 40));
    QTRY_VERIFY(firstVisibleRow(box) > 3);
    QVERIFY(boxState(box).autoScroll.isActive());
    QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(10, view->height() + 40));
    const qsizetype stopped = firstVisibleRow(box);
    // The selection runs from the press to the row past the bottom.
    QCOMPARE(box.selectionStart(), 2);
    QVERIFY(box.selectionEnd() > box.positionAt(cellLeftEdge(box, visibleRowCount(box) - 1, 0)));
    // Released: the step timer is stopped, so no later step can scroll.
    QVERIFY(!boxState(box).autoScroll.isActive());
    QCoreApplication::processEvents();
    QCOMPARE(firstVisibleRow(box), stopped);
}

void TestReceiveBox::shiftClickExtends()
{
    ReceiveBox box;
    SHOW(box, 400, 300);
    setBoxText(box, QStringLiteral("0123456789\r\nabcdef"));
    QWidget *view = box.viewport();
    QTest::mouseClick(view, Qt::LeftButton, {}, cellLeftEdge(box, 0, 2));
    QTest::mouseClick(view, Qt::LeftButton, Qt::ShiftModifier, cellLeftEdge(box, 1, 4));
    QCOMPARE(box.selectedText(), QStringLiteral("23456789\r\nabcd"));
    QTest::mouseClick(view, Qt::LeftButton, Qt::ShiftModifier, cellLeftEdge(box, 0, 1));
    QCOMPARE(box.selectedText(), QStringLiteral("1"));
}

void TestReceiveBox::doubleClickSelectsWord_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("selected");
    QTest::newRow("first word") << 0 << 1 << QStringLiteral("alpha_1");
    QTest::newRow("last letter of a word") << 0 << 12 << QStringLiteral("b\u00E9ta");
    QTest::newRow("a run of spaces") << 0 << 8 << QStringLiteral("  ");
    QTest::newRow("punctuation alone") << 0 << 13 << QStringLiteral(",");
    QTest::newRow("word on the second line") << 1 << 2 << QStringLiteral("gamma");
    QTest::newRow("past the line end selects nothing") << 0 << 30 << QString();
}

void TestReceiveBox::doubleClickSelectsWord()
{
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(QString, selected);
    ReceiveBox box;
    SHOW(box, 400, 300);
    setBoxText(box, QStringLiteral("alpha_1  b\u00E9ta,!\r\ngamma"));
    QTest::mouseDClick(box.viewport(), Qt::LeftButton, {}, cellCentre(box, row, column));
    QCOMPARE(box.selectedText(), selected);
}

void TestReceiveBox::selectAllCopy()
{
    ReceiveBox box;
    SHOW(box, 400, 300);
    const QString text = QStringLiteral("first\r\nsecond\n\u20AC\t\u0001third\r");
    setBoxText(box, text);
    box.setFocus();
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    QTest::keySequence(&box, QKeySequence::Copy);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
    QTest::keySequence(&box, QKeySequence::SelectAll);
    QCOMPARE(box.selectedText(), text);
    QTest::keySequence(&box, QKeySequence::Copy);
    QCOMPARE(QGuiApplication::clipboard()->text(), text);
    QCOMPARE(boxText(box), text);
}

void TestReceiveBox::copyReadsNothingUntilAsked()
{
    // Ctrl+A, Ctrl+C on a long transcript reads none of it: the clipboard
    // reads the selected characters when a program asks, exactly as the box
    // holds them, even after the box was emptied by the next connection.
    ReceiveBox box;
    SHOW(box, 400, 300);
    const QByteArray line = QByteArray("l\xEDnea\0\tfin").leftJustified(78, '.') + "\r\n";
    const QByteArray arrival = line.repeated(1000);
    for (int n = 0; n < 100; ++n)
        appendBytes(box, arrival, platform::system::codepage::ansiTable());
    putText(box, QStringLiteral("\u00E9\u20AC \u00FF"));
    const QString text = boxText(box);
    box.setFocus();
    QTest::keyClick(&box, Qt::Key_A, Qt::ControlModifier);
    const qsizetype before = charactersRead();
    QTest::keyClick(&box, Qt::Key_C, Qt::ControlModifier);
    QVERIFY2(charactersRead() - before < text.size() / 100,
             qPrintable(QString::number(charactersRead() - before)));
    box.clear();
    const QMimeData *copied = QGuiApplication::clipboard()->mimeData();
    QVERIFY(copied);
    QCOMPARE(copied->text(), text);
    QCOMPARE(copied->data(QStringLiteral("text/plain")), text.toUtf8());
}

void TestReceiveBox::doubleClickInAHugeWord()
{
    // A word longer than a double click reads is cut at the bound, not
    // scanned to its ends.
    ReceiveBox box;
    SHOW(box, 400, 300);
    const QByteArray piece(64 * 1024, 'w');
    for (int n = 0; n < 64; ++n)
        appendBytes(box, piece, platform::system::codepage::ansiTable());
    box.setSelStart(box.length() / 2);
    const qsizetype before = charactersRead();
    QTest::mouseDClick(box.viewport(), Qt::LeftButton, {}, cellCentre(box, 1, 3));
    const qsizetype selected = box.selectionEnd() - box.selectionStart();
    QVERIFY(selected > 64 * 1024);
    QVERIFY2(selected <= 2 * 64 * 1024 + 1, qPrintable(QString::number(selected)));
    QVERIFY(charactersRead() - before < 4 * 64 * 1024);
}

void TestReceiveBox::keysMoveCaret_data()
{
    // From the caret at the start of the third page, shown at the top: where
    // the caret goes and which row is then at the top, in pages and rows
    // (pages -1: counted from the end).
    QTest::addColumn<QKeyCombination>("key");
    QTest::addColumn<int>("caretPages");
    QTest::addColumn<int>("caretRows");
    QTest::addColumn<int>("firstPages");
    QTest::addColumn<int>("firstRows");
    QTest::addColumn<bool>("selects");
    QTest::newRow("PageDown") << QKeyCombination(Qt::Key_PageDown) << 3 << 0 << 3 << 0 << false;
    QTest::newRow("PageUp") << QKeyCombination(Qt::Key_PageUp) << 1 << 0 << 1 << 0 << false;
    QTest::newRow("Down stays in view")
        << QKeyCombination(Qt::Key_Down) << 2 << 1 << 2 << 0 << false;
    QTest::newRow("Up scrolls one row")
        << QKeyCombination(Qt::Key_Up) << 2 << -1 << 2 << -1 << false;
    QTest::newRow("Right") << QKeyCombination(Qt::Key_Right) << 2 << 0 << 2 << 0 << false;
    QTest::newRow("Ctrl+Home") << (Qt::ControlModifier | Qt::Key_Home) << 0 << 0 << 0 << 0 << false;
    QTest::newRow("Ctrl+End") << (Qt::ControlModifier | Qt::Key_End) << -1 << 0 << -1 << 0 << false;
    QTest::newRow("Shift+Down selects")
        << (Qt::ShiftModifier | Qt::Key_Down) << 2 << 1 << 2 << 0 << true;
    QTest::newRow("Shift+PageUp selects")
        << (Qt::ShiftModifier | Qt::Key_PageUp) << 1 << 0 << 1 << 0 << true;
    QTest::newRow("Shift+Ctrl+End selects")
        << (Qt::ShiftModifier | Qt::ControlModifier | Qt::Key_End) << -1 << 0 << -1 << 0 << true;
}

void TestReceiveBox::keysMoveCaret()
{
    QFETCH(QKeyCombination, key);
    QFETCH(int, caretPages);
    QFETCH(int, caretRows);
    QFETCH(int, firstPages);
    QFETCH(int, firstRows);
    QFETCH(bool, selects);
    ReceiveBox box;
    SHOW(box, 400, 300);
    const QString text = lines80(400 * 80);
    setBoxText(box, text);
    box.setFocus();
    QTest::keyClick(&box, Qt::Key_PageDown);
    QTest::keyClick(&box, Qt::Key_PageDown);
    const qsizetype page = visibleRowCount(box);
    QCOMPARE(firstVisibleRow(box), 2 * page);
    const qsizetype before = box.caretPosition();
    QTest::keyClick(&box, key.key(), key.keyboardModifiers());
    const qsizetype lastPage = box.rowCount() - page;
    const qsizetype first = firstPages < 0 ? lastPage : firstPages * page + firstRows;
    QCOMPARE(firstVisibleRow(box), first);
    QCOMPARE(box.verticalScrollBar()->value(), first);
    const qsizetype caretRow =
        firstVisibleRow(box) + box.characterRect(box.caretPosition()).y() / cellSize(box).height();
    QCOMPARE(caretRow, caretPages < 0 ? box.rowCount() - 1 : caretPages * page + caretRows);
    if (key.key() == Qt::Key_Right)
        QCOMPARE(box.caretPosition(), before + 1);
    if (caretPages < 0)
        QCOMPARE(box.caretPosition(), box.length());
    QCOMPARE(box.selectionEnd() - box.selectionStart(),
             selects ? qAbs(box.caretPosition() - before) : 0);
    QCOMPARE(boxText(box), text);
}

void TestReceiveBox::caretSkipsLineEnds()
{
    // The caret steps over a CR LF as one line end, and what Shift selects
    // is what Ctrl+C copies.
    ReceiveBox box;
    SHOW(box, 400, 300);
    setBoxText(box, QStringLiteral("ab\r\ncd"));
    box.setFocus();
    QTest::keyClick(&box, Qt::Key_Home, Qt::ControlModifier);
    QTest::keyClick(&box, Qt::Key_Right);
    QTest::keyClick(&box, Qt::Key_Right);
    QCOMPARE(box.caretPosition(), 2);
    QTest::keyClick(&box, Qt::Key_Right);
    QCOMPARE(box.caretPosition(), 4);
    QTest::keyClick(&box, Qt::Key_Left);
    QCOMPARE(box.caretPosition(), 2);
    QTest::keyClick(&box, Qt::Key_Left, Qt::ShiftModifier);
    QTest::keyClick(&box, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("b"));
    QTest::keyClick(&box, Qt::Key_Home, Qt::ShiftModifier);
    QCOMPARE(box.selectedText(), QStringLiteral("ab"));
    QTest::keyClick(&box, Qt::Key_Down);
    QCOMPARE(box.caretPosition(), 4);
    QCOMPARE(box.selectedText(), QString());
    QTest::keyClick(&box, Qt::Key_End);
    QCOMPARE(box.caretPosition(), 6);
}

void TestReceiveBox::scrollBarStepsExactRows_data()
{
    QTest::addColumn<qsizetype>("maxRow");
    QTest::newRow("2^24 rows, the bar's values are rows") << (qsizetype{1} << 24);
    QTest::newRow("40 million rows") << qsizetype{40'000'000};
    QTest::newRow("2^31 + 7 rows") << (qsizetype{1} << 31) + 7;
    QTest::newRow("3 billion rows") << qsizetype{3'000'000'000};
    QTest::newRow("2^40 rows") << (qsizetype{1} << 40);
}

// The scroll bar's arithmetic at any number of rows: arrows and trough move
// by exact rows, a value of the bar stays within its range, and a drag
// reaches both ends and every stretch between.
void TestReceiveBox::scrollBarStepsExactRows()
{
    QFETCH(qsizetype, maxRow);
    const int page = 37;
    qsizetype row = maxRow / 3;
    for (int click = 0; click < 5; ++click) {
        const qsizetype next =
            RowScale::rowAfter(QAbstractSlider::SliderSingleStepAdd, row, maxRow, page);
        QCOMPARE(next, row + 1);
        row = next;
    }
    QCOMPARE(RowScale::rowAfter(QAbstractSlider::SliderSingleStepSub, row, maxRow, page), row - 1);
    QCOMPARE(RowScale::rowAfter(QAbstractSlider::SliderPageStepAdd, row, maxRow, page), row + page);
    QCOMPARE(RowScale::rowAfter(QAbstractSlider::SliderPageStepSub, row, maxRow, page), row - page);
    QCOMPARE(RowScale::rowAfter(QAbstractSlider::SliderPageStepAdd, maxRow - 1, maxRow, page),
             maxRow);
    QCOMPARE(RowScale::rowAfter(QAbstractSlider::SliderSingleStepSub, 0, maxRow, page), 0);
    QCOMPARE(RowScale::rowAfter(QAbstractSlider::SliderMove, row, maxRow, page), -1);

    const RowScale::Bar end = RowScale::barFor(maxRow, maxRow, page);
    QCOMPARE(end.value, end.maximum);
    QVERIFY(end.page >= 1);
    QCOMPARE(RowScale::rowAt(end.maximum, maxRow), maxRow);
    QCOMPARE(RowScale::rowAt(0, maxRow), 0);
    // Each value of the bar leads to a row no further than one value's worth
    // of rows from the next value's.
    const double rowsPerValue = std::max(1.0, double(maxRow) / double(end.maximum));
    for (const int value : {1, end.maximum / 3, end.maximum / 2, end.maximum - 1}) {
        const qsizetype at = RowScale::rowAt(value, maxRow);
        QVERIFY(RowScale::rowAt(value + 1, maxRow) - at <= qsizetype(std::ceil(rowsPerValue)));
        QCOMPARE(RowScale::barFor(at, maxRow, page).value, value);
    }
}

void TestReceiveBox::wheelScrolls()
{
    ReceiveBox box;
    SHOW(box, 400, 300);
    setBoxText(box, lines80(200 * 80));
    const QPoint at = cellCentre(box, 1, 1);
    auto wheel = [&](int delta) {
        QWheelEvent event(at, box.viewport()->mapToGlobal(at), {}, QPoint(0, delta), Qt::NoButton,
                          {}, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(box.viewport(), &event);
    };
    wheel(-240);
    QCOMPARE(firstVisibleRow(box), 2 * QApplication::wheelScrollLines());
    wheel(120);
    QCOMPARE(firstVisibleRow(box), QApplication::wheelScrollLines());
    wheel(60);
    wheel(60);
    QCOMPARE(firstVisibleRow(box), 0);
}

void TestReceiveBox::contextMenu()
{
    ReceiveBox box;
    SHOW(box, 400, 300);
    setBoxText(box, QStringLiteral("uno\r\ndos"));
    {
        std::unique_ptr<QMenu> menu(box.createContextMenu(nullptr));
        const QList<QAction *> actions = menu->actions();
        QCOMPARE(actions.size(), 9);
        QCOMPARE(actions[0]->text(), QStringLiteral("Copiar"));
        QVERIFY(!actions[0]->isEnabled());
        QCOMPARE(actions[1]->text(), QStringLiteral("Seleccionar todo"));
        QCOMPARE(actions[2]->text(), QStringLiteral("Copiar como hexadecimal"));
        QVERIFY(!actions[2]->isEnabled());
        QVERIFY(actions[3]->isSeparator());
        QCOMPARE(actions[4]->text(), QStringLiteral("Ver en hexadecimal"));
        QCOMPARE(actions[4]->shortcut(), QKeySequence(QStringLiteral("Ctrl+H")));
        QVERIFY(actions[4]->isCheckable() && !actions[4]->isChecked());
        QVERIFY(actions[5]->isSeparator());
        QCOMPARE(actions[6]->text(), QStringLiteral("Buscar\u2026"));
        QCOMPARE(actions[6]->shortcut(), QKeySequence(QStringLiteral("Ctrl+F")));
        QCOMPARE(actions[7]->text(), QStringLiteral("Guardar como\u2026"));
        QCOMPARE(actions[7]->shortcut(), QKeySequence(QStringLiteral("Ctrl+S")));
        QCOMPARE(actions[8]->shortcut(), QKeySequence(QStringLiteral("Ctrl+L")));
        actions[1]->trigger();
        QCOMPARE(box.selectedText(), boxText(box));
        // "Buscar…" opens the find bar, "Guardar como…" the save dialog.
        actions[6]->trigger();
        QVERIFY(box.findChild<FindBar *>() && box.findChild<FindBar *>()->isVisible());
        actions[7]->trigger();
        auto *dialog = box.findChild<QFileDialog *>();
        QVERIFY(dialog && dialog->isVisible());
        dialog->reject();
        box.findChild<FindBar *>()->dismiss();
    }
    {
        box.setSelection(1, 6);
        std::unique_ptr<QMenu> menu(box.createContextMenu(nullptr));
        QAction *copy = menu->actions().value(0);
        QVERIFY(copy->isEnabled());
        copy->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("no\r\nd"));
    }
    // A right click shows the menu.
    QContextMenuEvent event(QContextMenuEvent::Mouse, cellCentre(box, 0, 0),
                            box.viewport()->mapToGlobal(cellCentre(box, 0, 0)));
    QCoreApplication::sendEvent(box.viewport(), &event);
    QMenu *shown = box.findChild<QMenu *>();
    QVERIFY(shown);
    QTRY_VERIFY(shown->isVisible());
    QCOMPARE(shown->actions().value(0)->text(), QStringLiteral("Copiar"));
    shown->close();
}

void TestReceiveBox::manyPieces()
{
    // 64 MiB of 80-column lines in 64 KiB pieces, the view following the end.
    ReceiveBox box;
    SHOW(box, 640, 400);
    const qsizetype pieceSize = 64 * 1024;
    QString piece;
    for (int i = 0; piece.size() < pieceSize; ++i)
        piece += QStringLiteral("%1 %2\r\n").arg(i, 6).arg(QString(70, QChar(u'a' + i % 26)));
    piece.truncate(pieceSize);
    const int pieces = 1024;
    for (int i = 0; i < pieces; ++i) {
        putText(box, piece);
        box.setSelStart(box.length());
    }
    QCOMPARE(box.length(), pieceSize * pieces);
    // Pieces end inside a line, which carries on into the next piece; every
    // piece after the first adds the same rows.
    const qsizetype one = Model(piece, columnsPerRow(box)).rows();
    const qsizetype two = Model(piece.repeated(2), columnsPerRow(box)).rows();
    QCOMPARE(box.rowCount(), one + (pieces - 1) * (two - one));
    for (qsizetype at : {qsizetype{0}, pieceSize * 7 + 123, pieceSize * 1023 + 5000})
        QCOMPARE(box.mid(at, 300), piece.mid(at % pieceSize, 300));
    QCOMPARE(firstVisibleRow(box) + visibleRowCount(box), box.rowCount());
}

void TestReceiveBox::sixteenMebibyteLine()
{
    ReceiveBox box;
    SHOW(box, 640, 400);
    const qsizetype pieceSize = 64 * 1024;
    QString piece(pieceSize, QLatin1Char('m'));
    const int pieces = 256;
    for (int i = 0; i < pieces; ++i) {
        piece[0] = QChar(u'A' + i % 26);
        putText(box, piece);
        box.setSelStart(box.length());
    }
    const qsizetype size = pieceSize * pieces;
    QCOMPARE(box.length(), size);
    const int width = columnsPerRow(box);
    QCOMPARE(box.rowCount(), (size + width - 1) / width);
    QCOMPARE(box.mid(pieceSize * 200 - 2, 4),
             QStringLiteral("mm") + QChar(u'A' + 200 % 26) + QStringLiteral("m"));
    QCOMPARE(box.positionAt(QPoint(0, 0)), firstVisibleRow(box) * width);
}

namespace {

class PaintCounter final : public QObject
{
public:
    explicit PaintCounter(QWidget *widget) { widget->installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        count += event->type() == QEvent::Paint;
        return false;
    }
};

} // namespace

void TestReceiveBox::scrollBarFollowsArrivals()
{
    // An append alone brings the bar up to date once the event loop runs.
    // Arrivals followed to the end repaint the bar only while its slider
    // still moves; a jump to the top repaints it.
    ReceiveBox box;
    SHOW(box, 400, 300);
    QScrollBar *bar = box.verticalScrollBar();
    putText(box, lines80(2000 * 80));
    QTRY_COMPARE(bar->maximum(), box.rowCount() - visibleRowCount(box));
    QCOMPARE(bar->value(), 0);
    PaintCounter paints(bar);
    box.setSelStart(box.length());
    QCOMPARE(bar->value(), bar->maximum());
    QTRY_VERIFY(paints.count > 0);
    paints.count = 0;
    for (int i = 0; i < 20; ++i) {
        putText(box, QStringLiteral("one more line\r\n"));
        box.setSelStart(box.length());
        QCoreApplication::processEvents();
    }
    QCOMPARE(bar->value(), bar->maximum());
    QCOMPARE(bar->maximum(), box.rowCount() - visibleRowCount(box));
    QCOMPARE(paints.count, 0);
    box.setSelStart(0);
    QCOMPARE(bar->value(), 0);
    QTRY_VERIFY(paints.count > 0);
}

void TestReceiveBox::hugeRowCountScrollBar()
{
    // More rows than a scroll bar step per row allows: the bar is scaled, the
    // keys still move by rows and both ends are reachable.
    ReceiveBox box;
    SHOW(box, 400, 300);
    const qsizetype lines = 20'000'000;
    setBoxText(box, QString(lines, QLatin1Char('\n')));
    QCOMPARE(box.rowCount(), lines + 1);
    QScrollBar *bar = box.verticalScrollBar();
    box.setFocus();
    QTest::keyClick(&box, Qt::Key_End, Qt::ControlModifier);
    QCOMPARE(firstVisibleRow(box), box.rowCount() - visibleRowCount(box));
    QCOMPARE(bar->value(), bar->maximum());
    // The bar's arrow and trough, clicked: one row, one page, at any count.
    const qsizetype last = box.rowCount() - visibleRowCount(box);
    for (int click = 1; click <= 5; ++click) {
        bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
        QCOMPARE(firstVisibleRow(box), last - click);
    }
    bar->triggerAction(QAbstractSlider::SliderPageStepSub);
    QCOMPARE(firstVisibleRow(box), last - 5 - visibleRowCount(box));
    bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    QCOMPARE(firstVisibleRow(box), last - 4 - visibleRowCount(box));
    bar->setValue(bar->maximum() / 2);
    const qsizetype half = (box.rowCount() - visibleRowCount(box)) / 2;
    QVERIFY(qAbs(firstVisibleRow(box) - half) < 2);
    QCOMPARE(box.positionAt(QPoint(0, 0)), firstVisibleRow(box));
    bar->setValue(0);
    QCOMPARE(firstVisibleRow(box), 0);
}

void TestReceiveBox::paintStates_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("selectFrom");
    QTest::addColumn<int>("selectTo");
    QTest::newRow("empty") << QString() << 0 << 0;
    QString controls;
    for (int c = 0; c < 0x20; ++c)
        controls.append(QChar(c));
    controls += QStringLiteral("\u007F\u0080\u0085\u009F\u20AC\u4E2D\U0001F600");
    QTest::newRow("control characters") << controls << 0 << 0;
    QTest::newRow("long lines, tabs")
        << (QString(5000, QLatin1Char('w')) + QStringLiteral("\t\t\r\n") + QString(3000, u'\t'))
        << 100 << 6000;
    QTest::newRow("selection across lines") << QStringLiteral("abc\r\ndef\r\nghi") << 2 << 9;
}

void TestReceiveBox::paintStates()
{
    QFETCH(QString, text);
    QFETCH(int, selectFrom);
    QFETCH(int, selectTo);
    ReceiveBox box;
    SHOW(box, 300, 200);
    setBoxText(box, text);
    box.setSelection(selectFrom, selectTo);
    const QImage image = box.grab().toImage();
    QVERIFY(!image.isNull());
    if (selectFrom < selectTo) {
        const QRgb highlight = box.palette().color(QPalette::Highlight).rgb();
        bool found = false;
        for (int y = 0; y < image.height() && !found; ++y)
            for (int x = 0; x < image.width() && !found; ++x)
                found = image.pixel(x, y) == highlight;
        QVERIFY(found);
    }
}

// The pixels of a cell of the viewport in a grab made at the screen's device
// pixel ratio, kept inside the cell where the ratio is fractional.
QRect cellPixels(const ReceiveBox &box, const QImage &image, int row, int column)
{
    const qreal ratio = image.devicePixelRatio();
    const QSize cell = cellSize(box);
    const auto from = [ratio](int v) {
        return static_cast<int>(std::ceil(v * ratio));
    };
    const auto to = [ratio](int v) {
        return static_cast<int>(std::floor(v * ratio));
    };
    return QRect(QPoint(from(column * cell.width()), from(row * cell.height())),
                 QPoint(to((column + 1) * cell.width()) - 1, to((row + 1) * cell.height()) - 1));
}

void TestReceiveBox::controlCharacterIsDrawn()
{
    // Every control character leaves visible pixels in its cell, and the
    // cells around it stay as they are.
    ReceiveBox box;
    SHOW(box, 400, 200);
    box.setBackColour(Qt::black);
    box.setTextColour(QColor(0xE0E0E0));
    auto inkInCell = [&](const QImage &image, int column) {
        int ink = 0;
        const QRect cell = cellPixels(box, image, 0, column);
        for (int y = cell.top(); y <= cell.bottom(); ++y)
            for (int x = cell.left(); x <= cell.right(); ++x)
                ink += image.pixel(x, y) != QColor(Qt::black).rgb();
        return ink;
    };
    QList<int> codes;
    for (int c = 0; c < 0x20; ++c)
        if (c != '\t' && c != '\r' && c != '\n')
            codes << c;
    codes << 0x7F << 0x80 << 0x9F;
    for (int code : codes) {
        setBoxText(box, QStringLiteral(" ") + QChar(code) + QStringLiteral(" "));
        box.setSelStart(box.length()); // the caret out of the cells looked at
        const QImage image = box.viewport()->grab().toImage();
        if (inkInCell(image, 1) == 0 || inkInCell(image, 0) != 0 || inkInCell(image, 2) != 0)
            QFAIL(qPrintable(QStringLiteral("code %1: ink %2 %3 %4")
                                 .arg(code, 2, 16)
                                 .arg(inkInCell(image, 0))
                                 .arg(inkInCell(image, 1))
                                 .arg(inkInCell(image, 2))));
    }
}

void TestReceiveBox::textColourIsTheWholeText()
{
    ReceiveBox box;
    SHOW(box, 400, 200);
    box.setBackColour(Qt::black);
    box.setTextColour(Qt::red);
    putText(box, QStringLiteral("AAAA"));
    box.setTextColour(Qt::green);
    putText(box, QStringLiteral("BBBB"));
    QCOMPARE(box.textColour(), QColor(Qt::green));
    const QImage image = box.viewport()->grab().toImage();
    // The strongest pixel of a cell shows its colour.
    auto strongest = [&](int column) {
        QColor best(Qt::black);
        const QRect cell = cellPixels(box, image, 0, column);
        for (int y = cell.top(); y <= cell.bottom(); ++y)
            for (int x = cell.left(); x <= cell.right(); ++x) {
                const QColor c = image.pixelColor(x, y);
                if (c.value() > best.value())
                    best = c;
            }
        return best;
    };
    // The text that was there before the colour changed takes it too.
    for (const int column : {1, 5}) {
        const QColor c = strongest(column);
        QVERIFY2(c.green() > 128 && c.red() < 64, qPrintable(c.name()));
    }
}

void TestReceiveBox::paintsAgreeOnEveryDevice()
{
    // Into a 32-bit image the box copies its cells straight to the device;
    // into any other it goes through a frame of its own. Both give the same
    // picture, for the whole view and for a part of it, with the box away
    // from the window's corner.
    QWidget window;
    const qreal ratio = window.devicePixelRatioF();
    if (ratio != std::round(ratio))
        QSKIP("At a fractional device pixel ratio both draw text with the painter");
    auto *layout = new QVBoxLayout(&window);
    layout->setContentsMargins(13, 17, 11, 7);
    auto *box = new ReceiveBox;
    layout->addWidget(box);
    SHOW(window, 420, 260);
    box->setBackColour(QColor(0x102030));
    box->setTextColour(QColor(0xE0E0E0));
    putText(*box, QStringLiteral("plain \u20AC\u2014 line\r\n\ttab\u0001\u0085\x7F end\r\n"));
    box->setTextColour(QColor(0x80FF80));
    putText(*box, QString(300, QLatin1Char('w')) + QStringLiteral("\r\nlast"));
    box->setSelection(10, 40);
    const QRect view(box->viewport()->mapTo(&window, QPoint(0, 0)), box->viewport()->size());
    auto render = [&](QImage::Format format, const QRegion &region) {
        QImage image(window.size() * ratio, format);
        image.setDevicePixelRatio(ratio);
        image.fill(Qt::magenta);
        window.render(&image, QPoint(), region);
        return image.convertToFormat(QImage::Format_RGB32)
            .copy(QRect(view.topLeft() * ratio, view.size() * ratio));
    };
    const QRegion twoParts =
        QRegion(view.adjusted(5, 5, -200, -150)) + QRegion(view.adjusted(150, 100, -3, -3));
    // The hexadecimal view's rows, wider than the view here, the same way.
    for (const bool hex : {false, true}) {
        box->setHexView(hex);
        for (const QRegion &region :
             {QRegion(view), QRegion(view.adjusted(23, 9, -41, -30)), twoParts, QRegion()}) {
            const QImage direct = render(QImage::Format_ARGB32_Premultiplied, region);
            const QImage framed = render(QImage::Format_RGB888, region);
            QCOMPARE(direct, framed);
        }
    }
}

void TestReceiveBox::saveHoldsTheBytesReceived_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QList<qsizetype>>("pieces");

    const QList<qsizetype> whole;
    QTest::newRow("all 256 byte values") << allBytes() << whole;
    QTest::newRow("every byte twice, one at a time")
        << allBytes() + allBytes() << QList<qsizetype>{1};
    QTest::newRow("NULs") << QByteArray("\0a\0\0b\0", 6) << QList<qsizetype>{2};
    QTest::newRow("CR LF split across arrivals")
        << QByteArray("one\r\ntwo\r\n\r\nthree\r") << QList<qsizetype>{4, 1, 5};
    QTest::newRow("more than two slabs, in arrivals of 64 KiB and a byte")
        << linesWithHighBytes(5 << 20, 7) + allBytes() << QList<qsizetype>{65537};
    QTest::newRow("nothing received") << QByteArray() << whole;
}

// What was received, byte for byte, through Ctrl+S and the save dialog: no
// conversion, a NUL a zero byte, CR LF as it came.
void TestReceiveBox::saveHoldsTheBytesReceived()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QList<qsizetype>, pieces);
    ReceiveBox box;
    SHOW(box, 400, 300);
    appendArrivals(box, bytes, pieces);
    box.setSaveName(QStringLiteral("host-7-20240305-090807.txt"));
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("sesi\u00F3n.txt"));
    QString proposed;
    TranscriptSaver *saver = saveThroughTheDialog(box, path, [&] {
        proposed = QFileInfo(box.findChild<QFileDialog *>()->selectedFiles().value(0)).fileName();
    });
    QVERIFY(saver);
    QCOMPARE(proposed, QStringLiteral("host-7-20240305-090807.txt"));
    QSignalSpy finished(saver, &TranscriptSaver::finished);
    QVERIFY(finished.wait(60000));
    QCOMPARE(finished.at(0).at(0).value<Result>(), Result::Saved);
    QCOMPARE(fileBytes(path), bytes);
    QCOMPARE(folderEntries(folder), QStringList{QFileInfo(path).fileName()});
}

// A save holds what was received up to the command, exactly: not what
// arrives while the dialog asks, nor while the file is written, and the
// next "Conectar" takes nothing from it.
void TestReceiveBox::saveHoldsWhatCameBeforeTheCommand()
{
    ReceiveBox box;
    SHOW(box, 400, 300);
    const QByteArray before = linesWithHighBytes(3 << 20, 5) + QByteArray("\0end\r", 5);
    appendArrivals(box, before, {65536});
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("prefijo.bin"));
    TranscriptSaver *saver = saveThroughTheDialog(box, path, [&] {
        appendBytes(box, QByteArrayLiteral("\nwhile asked"),
                    platform::system::codepage::ansiTable());
    });
    QVERIFY(saver);
    QSignalSpy finished(saver, &TranscriptSaver::finished);
    const QByteArray stream = linesWithHighBytes(1 << 20, 3);
    for (int n = 0; finished.isEmpty(); ++n) {
        appendBytes(box, stream, platform::system::codepage::ansiTable());
        if (n == 2) {
            box.clear();
            appendBytes(box, QByteArrayLiteral("next session"),
                        platform::system::codepage::ansiTable());
        }
        QCoreApplication::processEvents();
    }
    QCOMPARE(finished.at(0).at(0).value<Result>(), Result::Saved);
    QCOMPARE(fileBytes(path), before);
}

void TestReceiveBox::saveFailureIsReported_data()
{
    QTest::addColumn<QString>("where");
    QTest::addColumn<qsizetype>("received");
    QTest::addColumn<qsizetype>("limit");  // the largest file the system lets grow; 0: any
    QTest::addColumn<QStringList>("left"); // in the folder afterwards

    QTest::newRow("a folder that is not there")
        << QStringLiteral("gone/sesion.txt") << qsizetype{1000} << qsizetype{0} << QStringList{};
    QTest::newRow("a folder where the file would go")
        << QStringLiteral("carpeta") << qsizetype{1000} << qsizetype{0}
        << QStringList{QStringLiteral("carpeta")};
#if defined(Q_OS_UNIX)
    // As a full disk does: the system takes part of the bytes, then none.
    QTest::newRow("more than the system lets a file grow")
        << QStringLiteral("sesion.txt") << qsizetype{3 << 20} << qsizetype{1 << 20}
        << QStringList{QStringLiteral("sesion.txt")};
    QTest::newRow("a few bytes more than the system lets a file grow")
        << QStringLiteral("sesion.txt") << qsizetype{5000} << qsizetype{4096}
        << QStringList{QStringLiteral("sesion.txt")};
#endif
}

// The message box gives the system's description; what was at the path
// stays, and nothing half-written is left beside it.
void TestReceiveBox::saveFailureIsReported()
{
    QFETCH(QString, where);
    QFETCH(qsizetype, received);
    QFETCH(qsizetype, limit);
    QFETCH(QStringList, left);
    ReceiveBox box;
    SHOW(box, 400, 300);
    appendArrivals(box, linesWithHighBytes(received, 9), {1 << 20});
    QTemporaryDir folder;
    const QString path = folder.filePath(where);
    const QByteArray previous("what was there before\r\n");
    if (where == QStringLiteral("carpeta"))
        QVERIFY(QDir(folder.path()).mkdir(where));
    if (limit > 0) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(previous);
    }
#if defined(Q_OS_UNIX)
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    if (limit > 0) {
        const rlimit small{static_cast<rlim_t>(limit), saved.rlim_max};
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    }
#endif
    boxControl(box).saveTo(boxState(box).text.store().share(), path);
    QSignalSpy finished(box.findChild<TranscriptSaver *>(), &TranscriptSaver::finished);
    const bool ended = finished.wait(60000);
#if defined(Q_OS_UNIX)
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
#endif
    QVERIFY(ended);
    QCOMPARE(finished.at(0).at(0).value<Result>(), Result::Failed);
    QMessageBox *message = nullptr;
    QTRY_VERIFY((message = box.findChild<QMessageBox *>()) && message->isVisible());
    const QStringList said = message->text().split(u'\n');
    QCOMPARE(said.size(), 2);
    QCOMPARE(said[0], QStringLiteral("No se pudo guardar %1.").arg(QDir::toNativeSeparators(path)));
    QVERIFY(!said[1].isEmpty());
    message->close();
    QCOMPARE(folderEntries(folder), left);
    if (limit > 0)
        QCOMPARE(fileBytes(path), previous);
}

void TestReceiveBox::findBarFindsInTurn_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("needle");
    QTest::addColumn<bool>("matchCase");
    QTest::addColumn<qsizetype>("caret");
    // n: Enter, p: Shift+Enter, N: F3, P: Shift+F3, s: "Siguiente", a: "Anterior".
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QList<qsizetype>>("selected"); // the match's start after each; -1: none
    QTest::addColumn<QStringList>("said");

    const QString fromStart = QStringLiteral("Desde el principio");
    const QString fromEnd = QStringLiteral("Desde el final");
    const QString none = QStringLiteral("Sin coincidencias");
    constexpr qsizetype kSlab = 2 << 20;
    const QByteArray hola("Hola hola\r\nHOLA");
    QTest::newRow("case matters") << hola << QStringLiteral("hola") << true << qsizetype{0}
                                  << QStringLiteral("nn") << QList<qsizetype>{5, 5}
                                  << QStringList{QString(), fromStart};
    QTest::newRow("case folded: on, round past the end, back round past the start")
        << hola << QStringLiteral("HOLA") << false << qsizetype{0} << QStringLiteral("nnnnpp")
        << QList<qsizetype>{0, 5, 11, 0, 11, 5}
        << QStringList{QString(), QString(), QString(), fromStart, fromEnd, QString()};
    QTest::newRow("F3 from the caret, then Shift+F3")
        << QByteArray("ab ab ab") << QStringLiteral("ab") << false << qsizetype{4}
        << QStringLiteral("NPP") << QList<qsizetype>{6, 3, 0}
        << QStringList{QString(), QString(), QString()};
    QTest::newRow("the buttons") << QByteArray("x1 x2") << QStringLiteral("x") << true
                                 << qsizetype{0} << QStringLiteral("ssa")
                                 << QList<qsizetype>{0, 3, 0}
                                 << QStringList{QString(), QString(), QString()};
    QTest::newRow("a NUL as \\x00, and the text \\x00")
        << QByteArray("a\0b\r\na\\x00b", 11) << QStringLiteral("a\\x00b") << true << qsizetype{0}
        << QStringLiteral("nnn") << QList<qsizetype>{0, 8, 0}
        << QStringList{QString(), QString(), fromStart};
    QTest::newRow("across a 2 MiB slab boundary, from the end")
        << linesWithHighBytes(kSlab - 3, 0) + "needle\r\n"
        << QStringLiteral("needle") << true << (qsizetype{1} << 40) << QStringLiteral("pn")
        << QList<qsizetype>{kSlab - 3, kSlab - 3} << QStringList{QString(), fromStart};
    QTest::newRow("no match across a line end")
        << QByteArray("ab\r\ncd\ref") << QStringLiteral("bc") << false << qsizetype{0}
        << QStringLiteral("nP") << QList<qsizetype>{-1, -1} << QStringList{none, none};
}

// Typed into the bar key by key: each match in turn is the box's selection,
// in view, and the bar says when the search went round or found nothing.
void TestReceiveBox::findBarFindsInTurn()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, needle);
    QFETCH(bool, matchCase);
    QFETCH(qsizetype, caret);
    QFETCH(QString, keys);
    QFETCH(QList<qsizetype>, selected);
    QFETCH(QStringList, said);
    ReceiveBox box;
    SHOW(box, 400, 300);
    appendArrivals(box, bytes, {1 << 20});
    box.setSelStart(caret);
    FindBar *bar = findBarTyped(box, needle);
    QVERIFY(bar);
    auto *field = bar->findChild<QLineEdit *>(QStringLiteral("findText"));
    if (matchCase)
        QTest::keyClick(bar->findChild<QCheckBox *>(QStringLiteral("findMatchCase")),
                        Qt::Key_Space);
    QVERIFY(bar->findChild<QCheckBox *>(QStringLiteral("findMatchCase"))->isChecked() == matchCase);
    auto *search = bar->findChild<BackgroundFind *>();
    auto *status = bar->findChild<QLabel *>(QStringLiteral("findStatus"));
    QVERIFY(search && status);
    for (qsizetype i = 0; i < keys.size(); ++i) {
        const QChar key = keys[i];
        if (key == u'n' || key == u'p')
            QTest::keyClick(field, Qt::Key_Return,
                            key == u'p' ? Qt::ShiftModifier : Qt::NoModifier);
        else if (key == u'N' || key == u'P')
            QTest::keyClick(field, Qt::Key_F3, key == u'P' ? Qt::ShiftModifier : Qt::NoModifier);
        else
            QTest::mouseClick(bar->findChild<QPushButton *>(key == u's'
                                                                ? QStringLiteral("findNext")
                                                                : QStringLiteral("findPrevious")),
                              Qt::LeftButton);
        QTRY_VERIFY(!search->isRunning());
        const QString step = QStringLiteral("step %1").arg(i);
        if (selected[i] < 0) {
            QVERIFY2(box.selectionStart() == box.selectionEnd(), qPrintable(step));
        } else {
            QVERIFY2(box.selectionStart() == selected[i], qPrintable(step));
            QVERIFY2(box.selectionEnd() == selected[i] + needle.size(), qPrintable(step));
            QVERIFY2(box.viewport()->rect().contains(box.characterRect(selected[i])),
                     qPrintable(step));
        }
        QVERIFY2(status->text() == said[i],
                 qPrintable(step + QStringLiteral(": ") + status->text()));
    }
}

// The bar lies in the box, over its bottom edge; its controls are named for
// a screen reader; Escape gives the focus back to the box with the match
// selected, which Ctrl+C then copies; F3 goes on from the box.
void TestReceiveBox::findBarInTheBox()
{
    QWidget window;
    auto *box = new ReceiveBox(&window);
    box->setGeometry(10, 20, 500, 160);
    window.resize(520, 200);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    setBoxText(*box, QStringLiteral("uno dos\r\ntres dos cuatro"));
    const int rowsBefore = visibleRowCount(*box);
    box->setSelection(4, 7);
    box->setFocus();
    QTest::keyClick(box, Qt::Key_F, Qt::ControlModifier);
    auto *bar = box->findChild<FindBar *>();
    QVERIFY(bar && bar->isVisible());
    QCOMPARE(box->geometry(), QRect(10, 20, 500, 160));
    QVERIFY(box->rect().contains(bar->geometry()));
    QVERIFY(bar->geometry().bottom() >= box->rect().bottom() - 2 * box->frameWidth());
    QCOMPARE(box->viewport()->geometry().bottom() + 1, bar->geometry().top());
    QVERIFY(visibleRowCount(*box) < rowsBefore);
    auto *field = bar->findChild<QLineEdit *>(QStringLiteral("findText"));
    // The selection, a word of one line, is what the field holds.
    QCOMPARE(field->text(), QStringLiteral("dos"));
    QCOMPARE(field->accessibleName(), QStringLiteral("Buscar"));
    QCOMPARE(bar->findChild<QPushButton *>(QStringLiteral("findPrevious"))->text(),
             QStringLiteral("Anterior"));
    QCOMPARE(bar->findChild<QPushButton *>(QStringLiteral("findNext"))->text(),
             QStringLiteral("Siguiente"));
    QCOMPARE(bar->findChild<QCheckBox *>(QStringLiteral("findMatchCase"))->text(),
             QStringLiteral("Coincidir may\u00FAsculas y min\u00FAsculas"));
    auto *search = bar->findChild<BackgroundFind *>();
    QTest::keyClick(field, Qt::Key_Return);
    QTRY_VERIFY(!search->isRunning());
    QCOMPARE(box->selectionStart(), 14);
    QTest::keyClick(field, Qt::Key_Escape);
    QVERIFY(bar->isHidden());
    QVERIFY(box->hasFocus());
    QCOMPARE(visibleRowCount(*box), rowsBefore);
    QTest::keyClick(box, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("dos"));
    QTest::keyClick(box, Qt::Key_F3);
    QTRY_VERIFY(!search->isRunning());
    QCOMPARE(box->selectionStart(), 4);
    // A selection over a line end is not taken into the field.
    box->setSelection(2, 12);
    QTest::keyClick(box, Qt::Key_F, Qt::ControlModifier);
    QCOMPARE(field->text(), QStringLiteral("dos"));
    QVERIFY(field->hasFocus());
}

// Text that arrives while a search runs is searched too: the match it
// brings is found ahead, not past the end.
void TestReceiveBox::findSearchesWhatArrivesMeanwhile()
{
    ReceiveBox box;
    SHOW(box, 400, 300);
    appendArrivals(box, linesWithHighBytes(32 << 20, 0), {1 << 20});
    box.setSelStart(0);
    FindBar *bar = findBarTyped(box, QStringLiteral("tarde"));
    QVERIFY(bar);
    auto *field = bar->findChild<QLineEdit *>(QStringLiteral("findText"));
    QTest::keyClick(field, Qt::Key_Return);
    // The search has its share of the store; these bytes come after it.
    const qsizetype at = box.length() + 2;
    appendBytes(box, QByteArrayLiteral("\r\nllega tarde"), platform::system::codepage::ansiTable());
    auto *search = bar->findChild<BackgroundFind *>();
    QTRY_VERIFY_WITH_TIMEOUT(!search->isRunning(), 30000);
    QCOMPARE(box.selectionStart(), at + 6);
    QCOMPARE(bar->findChild<QLabel *>(QStringLiteral("findStatus"))->text(), QString());
}

void TestReceiveBox::findInTheHexViewSaysItsKind_data()
{
    QTest::addColumn<bool>("hexView");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<qsizetype>("caret");
    QTest::addColumn<QString>("keys");              // n: Enter, p: Shift+Enter
    QTest::addColumn<QList<qsizetype>>("selected"); // the match's start after each; -1: none
    QTest::addColumn<qsizetype>("length");          // its characters
    QTest::addColumn<QStringList>("said");
    QTest::addColumn<QByteArray>("meanwhile"); // arrives as the first search starts

    constexpr qsizetype kSlab = 2 << 20;
    const QByteArray typedAsText("0d 0a 61\r\n");
    QTest::newRow("bytes across line ends and NULs, round past the end")
        << true << QByteArray("Hola\r\n\0\xFF\r\n\0", 11) << QStringLiteral("0d 0a 00")
        << qsizetype{0} << QStringLiteral("nnn") << QList<qsizetype>{4, 11, 4} << qsizetype{6}
        << QStringList{QStringLiteral("Bytes"), QStringLiteral("Bytes"),
                       QStringLiteral("Bytes: Desde el principio")}
        << QByteArray();
    QTest::newRow("a text in the hex view")
        << true << QByteArray("Hola hola") << QStringLiteral("hola") << qsizetype{0}
        << QStringLiteral("nnn") << QList<qsizetype>{0, 5, 0} << qsizetype{4}
        << QStringList{QStringLiteral("Texto"), QStringLiteral("Texto"),
                       QStringLiteral("Texto: Desde el principio")}
        << QByteArray();
    QTest::newRow("hex pairs the bytes do not hold, though the text does")
        << true << typedAsText << QStringLiteral("0d 0a 61") << qsizetype{0} << QStringLiteral("n")
        << QList<qsizetype>{-1} << qsizetype{0}
        << QStringList{QStringLiteral("Bytes: Sin coincidencias")} << QByteArray();
    QTest::newRow("hex pairs in the text view are a text")
        << false << typedAsText << QStringLiteral("0d 0a 61") << qsizetype{0}
        << QStringLiteral("nn") << QList<qsizetype>{0, 0} << qsizetype{8}
        << QStringList{QString(), QStringLiteral("Desde el principio")} << QByteArray();
    QTest::newRow("across a 2 MiB slab boundary, backwards from the end")
        << true << QByteArray(kSlab - 1, 'a') + QByteArray("\r\n\0b", 4)
        << QStringLiteral("0d 0a 00") << (qsizetype{1} << 40) << QStringLiteral("pp")
        << QList<qsizetype>{kSlab - 1, kSlab - 1} << qsizetype{6}
        << QStringList{QStringLiteral("Bytes"), QStringLiteral("Bytes: Desde el final")}
        << QByteArray();
    // The NUL at the end of what the search was given takes four
    // characters: the match starts five before its end.
    QTest::newRow("bytes that run into what arrives meanwhile, after a NUL")
        << true << QByteArray("x\n\0", 3) << QStringLiteral("0a 00 00 7a") << qsizetype{0}
        << QStringLiteral("n") << QList<qsizetype>{1} << qsizetype{10}
        << QStringList{QStringLiteral("Bytes")} << QByteArray("\0z", 2);
}

// Typed into the bar key by key in the hexadecimal view: hex pairs find the
// bytes, whatever they are, and the bar says which kind of search it made;
// the text view finds the same typing as a text, and says as it always did.
void TestReceiveBox::findInTheHexViewSaysItsKind()
{
    QFETCH(bool, hexView);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, typed);
    QFETCH(qsizetype, caret);
    QFETCH(QString, keys);
    QFETCH(QList<qsizetype>, selected);
    QFETCH(qsizetype, length);
    QFETCH(QStringList, said);
    QFETCH(QByteArray, meanwhile);
    ReceiveBox box;
    SHOW(box, 400, 300);
    box.setHexView(hexView);
    appendArrivals(box, bytes, {1 << 20});
    box.setSelStart(caret);
    FindBar *bar = findBarTyped(box, typed);
    QVERIFY(bar);
    auto *field = bar->findChild<QLineEdit *>(QStringLiteral("findText"));
    auto *search = bar->findChild<BackgroundFind *>();
    auto *status = bar->findChild<QLabel *>(QStringLiteral("findStatus"));
    QVERIFY(search && status);
    for (qsizetype i = 0; i < keys.size(); ++i) {
        QTest::keyClick(field, Qt::Key_Return,
                        keys[i] == u'p' ? Qt::ShiftModifier : Qt::NoModifier);
        // The search has its share of the store; these bytes come after it.
        if (i == 0 && !meanwhile.isEmpty())
            appendBytes(box, meanwhile, platform::system::codepage::ansiTable());
        QTRY_VERIFY(!search->isRunning());
        const qsizetype start = selected[i];
        const qsizetype end = start < 0 ? box.selectionStart() : start + length;
        QTRY_COMPARE(box.selectionEnd(), end);
        if (start >= 0)
            QCOMPARE(box.selectionStart(), start);
        else
            QCOMPARE(box.selectionStart(), box.selectionEnd());
        QCOMPARE(status->text(), said[i]);
    }
}

QTEST_MAIN(TestReceiveBox)
#include "tst_receivebox.moc"

void TestReceiveBox::hexRowsAsCopied_data()
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

void TestReceiveBox::hexRowsAsCopied()
{
    // Selected through the keys in the hexadecimal view, copied with Ctrl+C
    // as the rows show, and with "Copiar como hexadecimal" as pairs.
    QFETCH(QByteArray, bytes);
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(QString, literal);
    ReceiveBox box;
    SHOW(box, 700, 300);
    appendBytes(box, bytes, platform::system::codepage::ansiTable());
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

void TestReceiveBox::hexOffsetsPast4GiB()
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
    store.appendBytes(reinterpret_cast<const quint8 *>(tail.constData()), tail.size());
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

void TestReceiveBox::hexSelectionMapsBothWays_data()
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

void TestReceiveBox::hexSelectionMapsBothWays()
{
    QFETCH(int, anchor);
    QFETCH(int, caret);
    QFETCH(int, hexAnchor);
    QFETCH(int, hexCaret);
    ReceiveBox box;
    SHOW(box, 700, 300);
    appendBytes(box, QByteArray("ab\0cd\r\nef", 9), platform::system::codepage::ansiTable());
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

void TestReceiveBox::hexSwitchKeepsFirstByteInView_data()
{
    QTest::addColumn<int>("textRow"); // the text view's first row before the switch
    QTest::addColumn<int>("hexRow");  // the hexadecimal view's, before switching back
    QTest::newRow("the start") << 0 << 0;
    QTest::newRow("a wrapped line's second row") << 1 << 3;
    QTest::newRow("inside a run of NULs") << 301 << 2000;
    QTest::newRow("deep in") << 1200 << 7777;
    QTest::newRow("the end") << 1000000 << 1000000;
}

void TestReceiveBox::hexSwitchKeepsFirstByteInView()
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
    appendBytes(box, bytes, platform::system::codepage::ansiTable());
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
    appendBytes(box, QByteArray(5000, 'z'), platform::system::codepage::ansiTable());
    box.setSelStart(box.length());
    QVERIFY(shown(box.length()));
    // The next connection empties the box; the view stays as chosen.
    box.clear();
    QVERIFY(box.isHexView());
}

void TestReceiveBox::hexKeysMoveCaret_data()
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

void TestReceiveBox::hexKeysMoveCaret()
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
    appendBytes(box, QByteArray(100, 'x'), platform::system::codepage::ansiTable());
    box.setHexView(true);
    box.setSelStart(start);
    box.setFocus();
    QTest::keyClick(&box, key.key(), key.keyboardModifiers());
    QCOMPARE(box.caretPosition(), expected);
    QCOMPARE(box.selectionStart(), box.selectionEnd());
    QVERIFY(box.characterRect(expected).top() >= 0);
    QVERIFY(box.characterRect(expected).bottom() < box.viewport()->height());
}

void TestReceiveBox::hexMouseSelectsBytes()
{
    // A press on a pair's left half and a drag to a character's right half
    // select the bytes between; a double click takes one byte.
    ReceiveBox box;
    SHOW(box, 700, 300);
    appendBytes(box, allBytes(), platform::system::codepage::ansiTable());
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
