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

QFont monospaceFont(const QStringList &families, const QFont &systemFixed, qreal pointSize)
{
    const auto styled = [pointSize](QFont font) {
        font.setPointSizeF(pointSize);
        font.setWeight(QFont::Normal);
        font.setStyleHint(QFont::TypeWriter);
        return font;
    };
    for (const QString &family : families) {
        const QFont font = styled(QFont(family));
        if (installed(font) && QFontInfo(font).fixedPitch())
            return font;
    }
    // The system's fixed font may itself be missing and stood in for by a
    // proportional one (wine's "Courier New" is whatever serif the host has).
    const QFont fallback = styled(systemFixed);
    if (QFontInfo(fallback).fixedPitch())
        return fallback;
    // Vertical variants ("@" names) and bitmap fonts of a few sizes aside.
    for (const QString &family : QFontDatabase::families(QFontDatabase::Latin)) {
        const QFont font = styled(QFont(family));
        if (!family.startsWith(u'@') && QFontDatabase::isFixedPitch(family) &&
            QFontDatabase::isSmoothlyScalable(family) && installed(font) &&
            QFontInfo(font).fixedPitch())
            return font;
    }
    return fallback;
}

QFont fixedsysFont()
{
    // In the order they read best at this size. A font that is not
    // monospace would draw its glyphs narrower than the cells the boxes
    // measure from it.
    return monospaceFont({QStringLiteral("Fixedsys"), QStringLiteral("Consolas"),
                          QStringLiteral("Lucida Console"), QStringLiteral("Courier New")},
                         QFontDatabase::systemFont(QFontDatabase::FixedFont), 9.0);
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
