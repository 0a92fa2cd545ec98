// The boxes' font where "Fixedsys" is missing, as it is here: a monospace
// font, every glyph as wide as the cell the boxes measure from it.

#include "system/Fonts.h"

#include <QFontInfo>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QTest>

class TestFonts final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void boxFontDrawsEveryGlyphInItsCell_data();
    void boxFontDrawsEveryGlyphInItsCell();
};

void TestFonts::boxFontDrawsEveryGlyphInItsCell_data()
{
    QTest::addColumn<QString>("characters");
    QString ascii;
    for (char16_t c = 0x21; c < 0x7F; ++c)
        ascii.append(QChar(c));
    QString latin1;
    for (char16_t c = 0xA1; c <= 0xFF; ++c)
        latin1.append(QChar(c));
    QTest::newRow("printable ASCII") << ascii;
    QTest::newRow("Latin-1 letters and signs") << latin1;
    QTest::newRow("the NUL's picture and blanks") << QStringLiteral("\\x00 ");
}

void TestFonts::boxFontDrawsEveryGlyphInItsCell()
{
    QFETCH(QString, characters);
    const QFont font = platform::system::fixedsysFont();
    QVERIFY2(QFontInfo(font).family() != QStringLiteral("Fixedsys"),
             "this test is about a system without Fixedsys");
    QVERIFY2(QFontInfo(font).fixedPitch(), qPrintable(QFontInfo(font).family()));
    const QFontMetricsF metrics(font);
    const qreal cell = metrics.horizontalAdvance(QLatin1Char('M'));
    for (const QChar c : characters)
        QCOMPARE(metrics.horizontalAdvance(c), cell);
}

QTEST_MAIN(TestFonts)
#include "tst_fonts.moc"
