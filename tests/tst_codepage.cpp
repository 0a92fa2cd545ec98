#include "system/CodePage.h"

#include <QTest>

using namespace platform::system::codepage;

class TestCodePage : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void everyByteRoundTrips();
    void ansiCharacters_data();
    void ansiCharacters();
    void charactersWithoutAnsiByte_data();
    void charactersWithoutAnsiByte();
    void oem_data();
    void oem();
    void oemKeepsLengthAndAscii();
};

void TestCodePage::everyByteRoundTrips()
{
    QByteArray all;
    for (int byte = 0; byte < 256; ++byte)
        all.append(static_cast<char>(byte));
    const QString text = ansiToString(all);
    QCOMPARE(text.size(), 256);
    QCOMPARE(stringToAnsi(text), all);
    // Distinct bytes are distinct characters.
    QSet<QChar> seen;
    for (const QChar character : text)
        seen.insert(character);
    QCOMPARE(seen.size(), 256);
}

void TestCodePage::ansiCharacters_data()
{
    QTest::addColumn<int>("byte");
    QTest::addColumn<int>("character");
    QTest::newRow("ASCII A") << 0x41 << 0x41;
    QTest::newRow("CR") << 0x0D << 0x0D;
    QTest::newRow("euro") << 0x80 << 0x20AC;
    QTest::newRow("undefined 0x81 as C1 control") << 0x81 << 0x81;
    QTest::newRow("undefined 0x8D") << 0x8D << 0x8D;
    QTest::newRow("undefined 0x8F") << 0x8F << 0x8F;
    QTest::newRow("undefined 0x90") << 0x90 << 0x90;
    QTest::newRow("undefined 0x9D") << 0x9D << 0x9D;
    QTest::newRow("left double quote") << 0x93 << 0x201C;
    QTest::newRow("Y diaeresis") << 0x9F << 0x0178;
    QTest::newRow("e acute") << 0xE9 << 0xE9;
    QTest::newRow("n tilde") << 0xF1 << 0xF1;
    QTest::newRow("y diaeresis") << 0xFF << 0xFF;
}

void TestCodePage::ansiCharacters()
{
    QFETCH(int, byte);
    QFETCH(int, character);
    QCOMPARE(ansiToChar(static_cast<unsigned char>(byte)).unicode(), character);
    QCOMPARE(int(charToAnsi(QChar(character))), byte);
}

void TestCodePage::charactersWithoutAnsiByte_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("CJK") << QStringLiteral("x\u4E2Dy") << QByteArray("x?y");
    QTest::newRow("C1 0x80 has no byte: 0x80 is the euro")
        << QStringLiteral("\u0080") << QByteArray("?");
    QTest::newRow("Cyrillic") << QStringLiteral("\u0416") << QByteArray("?");
}

void TestCodePage::charactersWithoutAnsiByte()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(stringToAnsi(text), bytes);
}

void TestCodePage::oem_data()
{
    QTest::addColumn<int>("ansi");
    QTest::addColumn<int>("oem");
    QTest::newRow("n tilde") << 0xF1 << 0xA4;
    QTest::newRow("e acute") << 0xE9 << 0x82;
    QTest::newRow("N tilde") << 0xD1 << 0xA5;
    QTest::newRow("u diaeresis") << 0xFC << 0x81;
    QTest::newRow("inverted question mark") << 0xBF << 0xA8;
    QTest::newRow("euro has no 850 byte") << 0x80 << int('?');
    QTest::newRow("undefined 0x81") << 0x81 << int('?');
}

void TestCodePage::oem()
{
    QFETCH(int, ansi);
    QFETCH(int, oem);
    QByteArray bytes(1, static_cast<char>(ansi));
    ansiToOem(bytes);
    QCOMPARE(bytes.size(), 1);
    QCOMPARE(int(static_cast<unsigned char>(bytes[0])), oem);
}

void TestCodePage::oemKeepsLengthAndAscii()
{
    QByteArray all;
    for (int byte = 0; byte < 256; ++byte)
        all.append(static_cast<char>(byte));
    QByteArray converted = all;
    ansiToOem(converted);
    QCOMPARE(converted.size(), all.size());
    QCOMPARE(converted.left(128), all.left(128));
}

QTEST_GUILESS_MAIN(TestCodePage)
#include "tst_codepage.moc"
