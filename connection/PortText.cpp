#include "PortText.h"

#include <cmath>

std::optional<std::int32_t> portFromText(const QString &text, const QLocale &locale)
{
    // The parser would take a line end as a blank around the number; the
    // text, which goes into the request line as it stands, would break it.
    if (text.isEmpty() || text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n')))
        return std::nullopt;
    bool ok = false;
    const double value = locale.toDouble(text, &ok);
    if (!ok || !(value > 0.0 && value <= 65535.0))
        return std::nullopt;
    // nearbyint rounds halves to even in the default rounding mode.
    const double rounded = std::nearbyint(value);
    // 0.4 and 0.5 pass the range test but would name port 0.
    if (rounded < 1.0)
        return std::nullopt;
    return static_cast<std::int32_t>(rounded);
}

bool isValidPair(const QString &host, const QString &port, const QLocale &locale)
{
    if (host.isEmpty() || port.isEmpty())
        return false;
    if (host.contains(QLatin1Char('\r')) || host.contains(QLatin1Char('\n')))
        return false;
    return portFromText(port, locale).has_value();
}
