// The boxes' font where "Fixedsys" is missing, as it is here: a monospace
// font, every glyph as wide as the cell the boxes measure from it; and so
// where the system's fixed font is missing too and a proportional font
// stands in for it, as under wine.

#include "system/Fonts.h"

#include <QFontDatabase>
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
    QTest::addColumn<bool>("systemFixedMissing");
    QTest::addColumn<QString>("characters");
    QString ascii;
    for (char16_t c = 0x21; c < 0x7F; ++c)
        ascii.append(QChar(c));
    QString latin1;
    for (char16_t c = 0xA1; c <= 0xFF; ++c)
        latin1.append(QChar(c));
    for (const bool missing : {false, true}) {
        const char *const where = missing ? "no fixed font: " : "";
        QTest::addRow("%sprintable ASCII", where) << missing << ascii;
        QTest::addRow("%sLatin-1 letters and signs", where) << missing << latin1;
        QTest::addRow("%sthe NUL's picture and blanks", where)
            << missing << QStringLiteral("\\x00 ");
    }
}

void TestFonts::boxFontDrawsEveryGlyphInItsCell()
{
    QFETCH(bool, systemFixedMissing);
    QFETCH(QString, characters);
    const QFont standIn = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    if (systemFixedMissing)
        QVERIFY2(!QFontInfo(standIn).fixedPitch(), "the stand-in must be proportional");
    const QFont font =
        systemFixedMissing
            ? platform::system::monospaceFont({QStringLiteral("No Such Mono")}, standIn, 9.0)
            : platform::system::fixedsysFont();
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
