#include "ByteStreams.h"
#include "ReceiveBoxProbe.h"
#include "receivebox/ReceiveBox.h"
#include "receivebox/find/FindBar.h"
#include "system/CodePage.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMenu>
#include <QMimeData>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>
#include <cmath>

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

} // namespace

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
        appendBytes(box, arrival);
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
        appendBytes(box, piece);
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
    const ViewScroller &scroller = boxState(box).scroller;
    putText(box, lines80(2000 * 80));
    QTRY_COMPARE(bar->maximum(), box.rowCount() - visibleRowCount(box));
    QCOMPARE(bar->value(), 0);
    PaintCounter paints(bar);
    int asked = scroller.barRepaintsAsked();
    box.setSelStart(box.length());
    QCOMPARE(bar->value(), bar->maximum());
    QVERIFY(scroller.barRepaintsAsked() > asked);
    // The bar judges a change against what it last painted.
    QTRY_VERIFY(paints.count > 0);
    asked = scroller.barRepaintsAsked();
    for (int i = 0; i < 20; ++i) {
        putText(box, QStringLiteral("one more line\r\n"));
        box.setSelStart(box.length());
        QCoreApplication::processEvents();
    }
    QCOMPARE(bar->value(), bar->maximum());
    QCOMPARE(bar->maximum(), box.rowCount() - visibleRowCount(box));
    QCOMPARE(scroller.barRepaintsAsked(), asked);
    box.setSelStart(0);
    QCOMPARE(bar->value(), 0);
    QVERIFY(scroller.barRepaintsAsked() > asked);
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

QTEST_MAIN(TestReceiveBox)
#include "tst_receivebox.moc"
