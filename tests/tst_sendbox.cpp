// The send box reports each character a key produces, as its ANSI code,
// before the box itself handles the key, and takes no paste that would make
// a line too long to lay out.

#include "ReceiveBoxProbe.h"
#include "SendBoxText.h"
#include "receivebox/ReceiveBox.h"
#include "receivebox/views/ClipboardText.h"
#include "sendbox/SendBox.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QSignalSpy>
#include <QTest>

class TestSendBox : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void keyCodes_data();
    void keyCodes();
    void reportedBeforeTheBoxHandlesTheKey();
    void editingKeysEditTheBox();
    void composedCharacters_data();
    void composedCharacters();
    void textRoundTrips_data();
    void textRoundTrips();
    void readOnlyStillAcceptsTheProgramsText();
    void pastesThatFit_data();
    void pastesThatFit();
    void hugeCopyIsRefusedUnread();
};

void TestSendBox::initTestCase()
{
    // Qt's offscreen platform built for Windows (the tests under wine)
    // crashes when a paste reads a clipboard that nothing was ever put on.
    // An empty text is nothing to paste, as an empty clipboard.
    QGuiApplication::clipboard()->setText(QString());
}

void TestSendBox::keyCodes_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<int>>("codes");
    QTest::newRow("Enter") << int(Qt::Key_Return) << 0 << QStringLiteral("\r") << QList<int>{13};
    QTest::newRow("keypad Enter") << int(Qt::Key_Enter) << int(Qt::KeypadModifier)
                                  << QStringLiteral("\r") << QList<int>{13};
    QTest::newRow("Backspace") << int(Qt::Key_Backspace) << 0 << QStringLiteral("\b")
                               << QList<int>{8};
    QTest::newRow("letter") << int(Qt::Key_H) << 0 << QStringLiteral("h") << QList<int>{0x68};
    QTest::newRow("n tilde") << int(Qt::Key_Ntilde) << 0 << QStringLiteral("\u00F1")
                             << QList<int>{0xF1};
    QTest::newRow("euro") << int(Qt::Key_unknown) << 0 << QStringLiteral("\u20AC")
                          << QList<int>{0x80};
    QTest::newRow("no ANSI character")
        << int(Qt::Key_unknown) << 0 << QStringLiteral("\u4E2D") << QList<int>{63};
    QTest::newRow("Ctrl+D control code")
        << int(Qt::Key_D) << int(Qt::ControlModifier) << QStringLiteral("\u0004") << QList<int>{4};
    // The receive box saves, finds and shows hex with these; here they are
    // codes.
    QTest::newRow("Ctrl+F control code")
        << int(Qt::Key_F) << int(Qt::ControlModifier) << QStringLiteral("\u0006") << QList<int>{6};
    QTest::newRow("Ctrl+S control code") << int(Qt::Key_S) << int(Qt::ControlModifier)
                                         << QStringLiteral("\u0013") << QList<int>{0x13};
    QTest::newRow("Ctrl+H control code")
        << int(Qt::Key_H) << int(Qt::ControlModifier) << QStringLiteral("\u0008") << QList<int>{8};
    QTest::newRow("Ctrl+Tab types a TAB")
        << int(Qt::Key_Tab) << int(Qt::ControlModifier) << QStringLiteral("\t") << QList<int>{9};
    QTest::newRow("Tab moves the focus")
        << int(Qt::Key_Tab) << 0 << QStringLiteral("\t") << QList<int>{};
    QTest::newRow("Shift+Tab moves the focus")
        << int(Qt::Key_Backtab) << int(Qt::ShiftModifier) << QString() << QList<int>{};
    const struct
    {
        const char *name;
        int key;
        int modifiers;
        const char16_t *text;
    } editing[] = {
        {"Ctrl+A selects all", Qt::Key_A, Qt::ControlModifier, u"\u0001"},
        {"Ctrl+C copies", Qt::Key_C, Qt::ControlModifier, u"\u0003"},
        {"Ctrl+V pastes", Qt::Key_V, Qt::ControlModifier, u"\u0016"},
        {"Ctrl+X cuts", Qt::Key_X, Qt::ControlModifier, u"\u0018"},
        {"Ctrl+Z undoes", Qt::Key_Z, Qt::ControlModifier, u"\u001A"},
        {"Ctrl+Y redoes", Qt::Key_Y, Qt::ControlModifier, u"\u0019"},
        {"Ctrl+Shift+Z redoes", Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier, u"\u001A"},
        {"Ctrl+Insert copies", Qt::Key_Insert, Qt::ControlModifier, u""},
        {"Shift+Insert pastes", Qt::Key_Insert, Qt::ShiftModifier, u""},
        {"Shift+Delete cuts", Qt::Key_Delete, Qt::ShiftModifier, u"\u007F"},
    };
    for (const auto &row : editing)
        QTest::newRow(row.name) << row.key << row.modifiers << QString::fromUtf16(row.text)
                                << QList<int>{};
    QTest::newRow("Escape") << int(Qt::Key_Escape) << 0 << QStringLiteral("\u001B")
                            << QList<int>{27};
    QTest::newRow("arrow produces nothing") << int(Qt::Key_Left) << 0 << QString() << QList<int>{};
    QTest::newRow("Delete produces nothing")
        << int(Qt::Key_Delete) << 0 << QStringLiteral("\u007F") << QList<int>{};
}

void TestSendBox::keyCodes()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, text);
    QFETCH(QList<int>, codes);
    SendBox box;
    QSignalSpy spy(&box, &SendBox::keyPress);
    QKeyEvent press(QEvent::KeyPress, key, Qt::KeyboardModifiers(modifiers), text);
    QApplication::sendEvent(&box, &press);
    QList<int> got;
    for (const QList<QVariant> &arguments : spy)
        got.append(arguments.at(0).toInt());
    QCOMPARE(got, codes);
}

void TestSendBox::reportedBeforeTheBoxHandlesTheKey()
{
    SendBox box;
    box.setText(QStringLiteral("ab"));
    box.moveCursor(QTextCursor::End);
    QStringList seen;
    connect(&box, &SendBox::keyPress, &box, [&](int) { seen.append(sendText(box)); });
    QTest::keyClick(&box, Qt::Key_C, Qt::NoModifier);
    QCOMPARE(seen, QStringList{QStringLiteral("ab")});
    QCOMPARE(sendText(box), QStringLiteral("abc"));
}

void TestSendBox::editingKeysEditTheBox()
{
    SendBox box;
    QSignalSpy spy(&box, &SendBox::keyPress);
    QTest::keyClicks(&box, QStringLiteral("abc"));
    QTest::keyClick(&box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(&box, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("abc"));
    QTest::keyClick(&box, Qt::Key_X, Qt::ControlModifier);
    QCOMPARE(sendText(box), QString());
    QTest::keyClick(&box, Qt::Key_Insert, Qt::ShiftModifier);
    QTest::keyClick(&box, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(sendText(box), QStringLiteral("abcabc"));
    QTest::keyClick(&box, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(sendText(box), QStringLiteral("abc"));
    QTest::keyClick(&box, Qt::Key_Tab, Qt::ControlModifier);
    QCOMPARE(sendText(box), QStringLiteral("abc\t"));
    QList<int> got;
    for (const QList<QVariant> &arguments : spy)
        got.append(arguments.at(0).toInt());
    QCOMPARE(got, (QList<int>{'a', 'b', 'c', 9}));
}

void TestSendBox::composedCharacters_data()
{
    QTest::addColumn<QString>("preedit");
    QTest::addColumn<QString>("commit");
    QTest::addColumn<QList<int>>("codes");
    QTest::newRow("dead key a acute") << QString() << QStringLiteral("\u00E1") << QList<int>{0xE1};
    QTest::newRow("preedit raises nothing")
        << QStringLiteral("\u00B4") << QString() << QList<int>{};
    QTest::newRow("two committed characters")
        << QString() << QStringLiteral("\u00FC\u00E9") << QList<int>{0xFC, 0xE9};
}

void TestSendBox::composedCharacters()
{
    QFETCH(QString, preedit);
    QFETCH(QString, commit);
    QFETCH(QList<int>, codes);
    SendBox box;
    QSignalSpy spy(&box, &SendBox::keyPress);
    QInputMethodEvent event(preedit, {});
    event.setCommitString(commit);
    QApplication::sendEvent(&box, &event);
    QList<int> got;
    for (const QList<QVariant> &arguments : spy)
        got.append(arguments.at(0).toInt());
    QCOMPARE(got, codes);
    if (!commit.isEmpty())
        QCOMPARE(sendText(box), commit);
}

void TestSendBox::textRoundTrips_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QString();
    QTest::newRow("CR LF") << QStringLiteral("A\r\nB");
    QTest::newRow("two lines and an empty one") << QStringLiteral("x\r\n\r\ny");
}

void TestSendBox::textRoundTrips()
{
    QFETCH(QString, text);
    SendBox box;
    box.setText(QStringLiteral("old"));
    box.setText(text);
    QCOMPARE(sendText(box), text);
}

void TestSendBox::readOnlyStillAcceptsTheProgramsText()
{
    SendBox box;
    box.setReadOnly(true);
    QTest::keyClicks(&box, QStringLiteral("typed"));
    QCOMPARE(sendText(box), QString());
    box.setText(QStringLiteral("put"));
    QCOMPARE(sendText(box), QStringLiteral("put"));
}

void TestSendBox::pastesThatFit_data()
{
    QTest::addColumn<QString>("before"); // pasted first, then Home if it starts with "^"
    QTest::addColumn<QString>("pasted");
    QTest::addColumn<bool>("taken");

    const qsizetype longest = SendBox::kLongestLine;
    const QString lines = QString(78, QLatin1Char('a')).append(QLatin1Char('\n'));
    QTest::newRow("80-column lines, as much as a paste may bring")
        << QString() << lines.repeated(SendBox::kLargestPaste / lines.size()) << true;
    QTest::newRow("more than a paste may bring")
        << QString() << lines.repeated(SendBox::kLargestPaste / lines.size() + 1) << false;
    QTest::newRow("the longest line") << QString() << QString(longest, QLatin1Char('b')) << true;
    QTest::newRow("one character longer")
        << QString() << QString(longest + 1, QLatin1Char('b')) << false;
    QTest::newRow("a long line last, after short ones")
        << QString() << QStringLiteral("x\ny\n") + QString(longest + 1, QLatin1Char('c')) << false;
    QTest::newRow("joined to the end of a line in the box")
        << QString(longest - 2, QLatin1Char('d')) << QStringLiteral("efg") << false;
    QTest::newRow("just fits at the end of a line in the box")
        << QString(longest - 2, QLatin1Char('d')) << QStringLiteral("ef") << true;
    QTest::newRow("on a line of its own after a long one")
        << QString(longest - 2, QLatin1Char('d')) << QStringLiteral("\nefghij") << true;
    QTest::newRow("joined to the start of a line in the box")
        << QStringLiteral("^") + QString(longest - 2, QLatin1Char('d')) << QStringLiteral("efg")
        << false;
    QTest::newRow("a line break before what the line held")
        << QStringLiteral("^") + QString(longest - 2, QLatin1Char('d')) << QStringLiteral("efg\n")
        << true;
}

// Pasted with Ctrl+V, as a user does.
void TestSendBox::pastesThatFit()
{
    QFETCH(QString, before);
    QFETCH(QString, pasted);
    QFETCH(bool, taken);
    SendBox box;
    QClipboard *clipboard = QGuiApplication::clipboard();
    const bool home = before.startsWith(QLatin1Char('^'));
    if (home)
        before.remove(0, 1);
    if (!before.isEmpty()) {
        clipboard->setText(before);
        QTest::keyClick(&box, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(box.toPlainText().size(), before.size());
    }
    if (home)
        QTest::keyClick(&box, Qt::Key_Home);
    clipboard->setText(pasted);
    QTest::keyClick(&box, Qt::Key_V, Qt::ControlModifier);
    const QString expected = home ? pasted + before : before + pasted;
    if (taken)
        QVERIFY(box.toPlainText() == expected);
    else
        QVERIFY(box.toPlainText() == before);
}

// A copy of the receive box larger than a paste may bring is refused
// before a character of it is read.
void TestSendBox::hugeCopyIsRefusedUnread()
{
    ReceiveBox received;
    putText(received, QString(SendBox::kLargestPaste + 1, QLatin1Char('r')));
    QTest::keyClick(&received, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(&received, Qt::Key_C, Qt::ControlModifier);
    const auto *copy =
        qobject_cast<const ClipboardText *>(QGuiApplication::clipboard()->mimeData());
    QVERIFY(copy);
    const qsizetype read = charactersRead();
    SendBox box;
    QTest::keyClick(&box, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(box.toPlainText(), QString());
    QCOMPARE(charactersRead(), read);
}

QTEST_MAIN(TestSendBox)
#include "tst_sendbox.moc"
