#include "ByteStreams.h"
#include "ReceiveBoxProbe.h"
#include "receivebox/ReceiveBox.h"
#include "receivebox/find/BackgroundFind.h"
#include "receivebox/find/FindBar.h"
#include "system/CodePage.h"

#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace {

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

class TestFindBar final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void findBarFindsInTurn_data();
    void findBarFindsInTurn();
    void findBarInTheBox();
    void findSearchesWhatArrivesMeanwhile();
    void findInTheHexViewSaysItsKind_data();
    void findInTheHexViewSaysItsKind();
};

void TestFindBar::findBarFindsInTurn_data()
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
void TestFindBar::findBarFindsInTurn()
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
void TestFindBar::findBarInTheBox()
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
void TestFindBar::findSearchesWhatArrivesMeanwhile()
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
    appendBytes(box, QByteArrayLiteral("\r\nllega tarde"));
    auto *search = bar->findChild<BackgroundFind *>();
    QTRY_VERIFY_WITH_TIMEOUT(!search->isRunning(), 30000);
    QCOMPARE(box.selectionStart(), at + 6);
    QCOMPARE(bar->findChild<QLabel *>(QStringLiteral("findStatus"))->text(), QString());
}

void TestFindBar::findInTheHexViewSaysItsKind_data()
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
void TestFindBar::findInTheHexViewSaysItsKind()
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
            appendBytes(box, meanwhile);
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

QTEST_MAIN(TestFindBar)
#include "tst_findbar.moc"
