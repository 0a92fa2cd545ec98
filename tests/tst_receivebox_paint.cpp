#include "ByteStreams.h"
#include "ReceiveBoxProbe.h"
#include "receivebox/ReceiveBox.h"

#include <QImage>
#include <QTest>
#include <QVBoxLayout>
#include <cmath>

class TestReceiveBoxPaint final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void paintStates_data();
    void paintStates();
    void controlCharacterIsDrawn();
    void textColourIsTheWholeText();
    void paintsAgreeOnEveryDevice();
};

void TestReceiveBoxPaint::paintStates_data()
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

void TestReceiveBoxPaint::paintStates()
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

void TestReceiveBoxPaint::controlCharacterIsDrawn()
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

void TestReceiveBoxPaint::textColourIsTheWholeText()
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

void TestReceiveBoxPaint::paintsAgreeOnEveryDevice()
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

QTEST_MAIN(TestReceiveBoxPaint)
#include "tst_receivebox_paint.moc"
