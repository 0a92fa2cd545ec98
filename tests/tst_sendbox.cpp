// The send box reports each character a key produces, as its ANSI code,
// before the box itself handles the key.

#include "SendBox.h"

#include <QInputMethodEvent>
#include <QSignalSpy>
#include <QTest>

class TestSendBox : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void keyCodes_data();
    void keyCodes();
    void reportedBeforeTheBoxHandlesTheKey();
    void composedCharacters_data();
    void composedCharacters();
    void textRoundTrips_data();
    void textRoundTrips();
    void readOnlyStillAcceptsTheProgramsText();
};

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
    QTest::newRow("Ctrl+C control code")
        << int(Qt::Key_C) << int(Qt::ControlModifier) << QStringLiteral("\u0003") << QList<int>{3};
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
    connect(&box, &SendBox::keyPress, &box, [&](int) { seen.append(box.Text()); });
    QTest::keyClick(&box, Qt::Key_C, Qt::NoModifier);
    QCOMPARE(seen, QStringList{QStringLiteral("ab")});
    QCOMPARE(box.Text(), QStringLiteral("abc"));
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
        QCOMPARE(box.Text(), commit);
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
    QCOMPARE(box.Text(), text);
}

void TestSendBox::readOnlyStillAcceptsTheProgramsText()
{
    SendBox box;
    box.setReadOnly(true);
    QTest::keyClicks(&box, QStringLiteral("typed"));
    QCOMPARE(box.Text(), QString());
    box.setText(QStringLiteral("put"));
    QCOMPARE(box.Text(), QStringLiteral("put"));
}

QTEST_MAIN(TestSendBox)
#include "tst_sendbox.moc"
