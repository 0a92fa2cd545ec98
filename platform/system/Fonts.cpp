#include "Fonts.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>

#include <cmath>

namespace platform::system {

namespace {

// A family that is not installed silently becomes some other font; only an
// exact match of the family name counts as having it.
bool installed(const QFont &font)
{
    return QFontInfo(font).family().compare(font.family(), Qt::CaseInsensitive) == 0;
}

} // namespace

QFont fixedsysFont()
{
    // Where Fixedsys is missing, the monospace fonts a Windows system has, in
    // the order they read best at this size; then whatever the system calls
    // its fixed font. A font that is not monospace would draw its glyphs
    // narrower than the cells the boxes measure from it.
    for (const char16_t *family : {u"Fixedsys", u"Consolas", u"Lucida Console", u"Courier New"}) {
        QFont font(QString::fromUtf16(family));
        font.setPointSizeF(9.0);
        font.setWeight(QFont::Normal);
        font.setStyleHint(QFont::TypeWriter);
        if (installed(font) && QFontInfo(font).fixedPitch())
            return font;
    }
    QFont fallback = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fallback.setPointSizeF(9.0);
    fallback.setWeight(QFont::Normal);
    fallback.setStyleHint(QFont::TypeWriter);
    return fallback;
}

QFont msSansSerifFont(qreal pointSize)
{
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSizeF(pointSize);
    font.setWeight(QFont::Normal);
    if (installed(font))
        return font;
    QFont fallback = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    fallback.setPointSizeF(pointSize);
    fallback.setWeight(QFont::Normal);
    fallback.setStyleHint(QFont::SansSerif);
    return fallback;
}

QFont fontFittingWidth(const QFont &font, const QString &text, int width)
{
    const auto fits = [&](const QFont &candidate) {
        return std::ceil(QFontMetricsF(candidate).horizontalAdvance(text)) <= width;
    };
    if (fits(font))
        return font;
    QFont fitted = font;
    for (int stretch = QFont::Unstretched - 1; stretch >= QFont::SemiCondensed; --stretch) {
        fitted.setStretch(stretch);
        if (fits(fitted))
            return fitted;
    }
    constexpr qreal kSmallestPointSize = 6.0;
    for (qreal size = font.pointSizeF() - 0.25; size >= kSmallestPointSize; size -= 0.25) {
        fitted.setPointSizeF(size);
        if (fits(fitted))
            return fitted;
    }
    return fitted;
}

} // namespace platform::system
