// Port texts in several locales: a text the parser accepts always names a
// port from 1 to 65535, the one the locale's number parser reads, rounded.

#include "FuzzInput.h"

#include "connection/PortText.h"

#include <QLocale>

#include <cmath>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzInput input(data, size);
    static const QLocale locales[] = {QLocale::c(), QLocale(QLocale::Spanish, QLocale::Spain),
                                      QLocale(QLocale::English, QLocale::UnitedStates),
                                      QLocale(QLocale::German, QLocale::Germany),
                                      QLocale(QLocale::Arabic, QLocale::Egypt)};
    const QLocale &locale = locales[input.takeByte() % std::size(locales)];
    const QByteArrayView bytes = input.rest();
    const QString text = QString::fromUtf8(bytes);

    const std::optional<std::int32_t> port = portFromText(text, locale);
    FUZZ_CHECK(isValidPair(QStringLiteral("h"), text, locale) == port.has_value());
    if (!port)
        return 0;
    FUZZ_CHECK(*port >= 1 && *port <= 65535);
    bool ok = false;
    const double value = locale.toDouble(text, &ok);
    FUZZ_CHECK(ok);
    FUZZ_CHECK(value > 0.0 && value <= 65535.0);
    FUZZ_CHECK(std::nearbyint(value) == double(*port));
    return 0;
}
