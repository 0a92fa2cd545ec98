// Captions fit the controls they were laid out for: the fixed layout was
// measured for MS Sans Serif 8 pt, and where a wider font stands in for it a
// caption that would be clipped is narrowed instead, the geometry unchanged.

#include "system/Fonts.h"
#include "system/ProcessExit_p.h"
#include "windows/proxy_settings.h"
#include "windows/tcp_client.h"
#include "windows/tcp_client_p.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetricsF>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionFrame>
#include <QTest>

#include <cmath>

namespace {

void ignoreExit(int) {}

int advance(const QFont &font, const QString &text)
{
    return static_cast<int>(std::ceil(QFontMetricsF(font).horizontalAdvance(text)));
}

// The width in which a control draws its caption without clipping it.
int captionRoom(QWidget *widget)
{
    if (auto *combo = qobject_cast<QComboBox *>(widget)) {
        // The edit field's text area: its contents less the text margins and
        // the line edit's own two pixels a side, and a pixel for the caret.
        QLineEdit *edit = combo->lineEdit();
        QStyleOptionFrame option;
        option.initFrom(edit);
        option.lineWidth =
            edit->hasFrame()
                ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit)
                : 0;
        const QMargins margins = edit->textMargins();
        return edit->style()->subElementRect(QStyle::SE_LineEditContents, &option, edit).width() -
               margins.left() - margins.right() - 2 * 2 - 1;
    }
    if (auto *label = qobject_cast<QLabel *>(widget))
        return label->contentsRect().width();
    auto *button = qobject_cast<QAbstractButton *>(widget);
    if (!button)
        return -1;
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    const bool checkBox = qobject_cast<QCheckBox *>(button) != nullptr;
    return button->style()
        ->subElementRect(checkBox ? QStyle::SE_CheckBoxContents : QStyle::SE_PushButtonContents,
                         &option, button)
        .width();
}

QString captionOf(QWidget *widget)
{
    if (auto *combo = qobject_cast<QComboBox *>(widget))
        return combo->currentText();
    if (auto *label = qobject_cast<QLabel *>(widget))
        return label->text();
    if (auto *button = qobject_cast<QAbstractButton *>(widget))
        return button->text();
    return QString();
}

} // namespace

class TestCaptions : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { platform::system::setExitHandler(&ignoreExit); }
    void fontFittingWidth_data();
    void fontFittingWidth();
    void everyCaptionFits_data();
    void everyCaptionFits();
};

void TestCaptions::fontFittingWidth_data()
{
    // The room given, as the caption's natural width plus this many pixels
    // (or, for "fraction", that share of its natural width).
    QTest::addColumn<int>("extraPixels");
    QTest::addColumn<double>("fraction");
    QTest::addColumn<bool>("unchanged");
    QTest::addColumn<bool>("narrower");
    QTest::addColumn<bool>("smaller");
    QTest::addColumn<bool>("fits");

    QTest::newRow("room to spare") << 10 << 1.0 << true << false << false << true;
    QTest::newRow("exactly its width") << 0 << 1.0 << true << false << false << true;
    QTest::newRow("one pixel short") << -1 << 1.0 << false << true << false << true;
    QTest::newRow("a fifth short: narrowest, then smaller")
        << 0 << 0.8 << false << true << true << true;
    QTest::newRow("far too short: stops at the smallest size")
        << 0 << 0.1 << false << true << true << false;
}

void TestCaptions::fontFittingWidth()
{
    QFETCH(int, extraPixels);
    QFETCH(double, fraction);
    QFETCH(bool, unchanged);
    QFETCH(bool, narrower);
    QFETCH(bool, smaller);
    QFETCH(bool, fits);

    const QFont font = platform::system::msSansSerifFont();
    const QString text = QStringLiteral("Equipo Remoto");
    const int natural = advance(font, text);
    const int room = static_cast<int>(natural * fraction) + extraPixels;
    // Where the font database draws no narrower stretch (the offscreen
    // platform's under wine, from plain font files), only the smaller sizes
    // are left to fit with.
    QFont condensed = font;
    condensed.setStretch(QFont::SemiCondensed);
    if (narrower && advance(condensed, text) >= natural)
        QSKIP("the fonts here have no narrower stretch");

    const QFont fitted = platform::system::fontFittingWidth(font, text, room);
    QCOMPARE(fitted == font, unchanged);
    QCOMPARE(fitted.stretch() < QFont::Unstretched && fitted.stretch() != QFont::AnyStretch,
             narrower);
    if (narrower)
        QVERIFY(fitted.stretch() >= QFont::SemiCondensed);
    QCOMPARE(fitted.pointSizeF() < font.pointSizeF(), smaller);
    QVERIFY(fitted.pointSizeF() >= 6.0);
    QCOMPARE(advance(fitted, text) <= room, fits);
    QCOMPARE(fitted.family(), font.family());
}

void TestCaptions::everyCaptionFits_data()
{
    QTest::addColumn<bool>("proxyWindow");
    QTest::addColumn<QString>("control");
    for (const char *name :
         {"Label1", "Label2", "usar_proxy", "cmdConnect", "cmdDisconnect", "send_button"})
        QTest::addRow("main window %s", name) << false << QString::fromLatin1(name);
    for (const char *name : {"Label1", "Label2", "OKButton"})
        QTest::addRow("proxy settings %s", name) << true << QString::fromLatin1(name);
    // A port field's caption is the largest port, typed.
    QTest::newRow("main window puerto_remoto 65535") << false << QStringLiteral("puerto_remoto");
    QTest::newRow("proxy settings puerto 65535") << true << QStringLiteral("puerto");
}

void TestCaptions::everyCaptionFits()
{
    QFETCH(bool, proxyWindow);
    QFETCH(QString, control);

    tcp_client window;
    window.show();
    QWidget *top = &window;
    if (proxyWindow) {
        controls(window).proxy_settings_menu->trigger();
        top = window.proxySettingsWindow();
    }
    auto *widget = top->findChild<QWidget *>(control);
    QVERIFY(widget);
    auto *combo = qobject_cast<QComboBox *>(widget);
    if (combo)
        QTest::keyClicks(combo->lineEdit(), QStringLiteral("65535"));
    const QString caption = captionOf(widget);
    QVERIFY(!caption.isEmpty());
    const int room = captionRoom(widget);
    const int needed = advance(combo ? combo->lineEdit()->font() : widget->font(), caption);
    QVERIFY2(needed <= room, qPrintable(QStringLiteral("\"%1\" needs %2 px, has %3 (font %4)")
                                            .arg(caption)
                                            .arg(needed)
                                            .arg(room)
                                            .arg(widget->font().toString())));
}

QTEST_MAIN(TestCaptions)
#include "tst_captions.moc"
