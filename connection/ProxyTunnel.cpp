#include "ProxyTunnel.h"

QString connectRequest(const QString &host, const QString &port)
{
    const QString target = host + QLatin1Char(':') + port;
    return QLatin1String("CONNECT ") + target + QLatin1String(" HTTP/1.1\r\n") +
           QLatin1String("Host: ") + target + QLatin1String("\r\n\r\n");
}

ProxyVerdict ProxyReply::feed(QStringView arrived)
{
    static constexpr QLatin1String blankLine("\r\n\r\n");
    // Only the new text, and the three characters before it that a blank line
    // split across two arrivals would start in, need to be searched again.
    const qsizetype searchFrom = qMax<qsizetype>(0, m_text.size() - (blankLine.size() - 1));
    m_text.append(arrived);
    if (m_text.indexOf(blankLine, searchFrom) < 0)
        return ProxyVerdict::Incomplete;

    const qsizetype firstSpace = m_text.indexOf(QLatin1Char(' '));
    if (firstSpace < 0)
        return ProxyVerdict::Refused;
    const qsizetype secondSpace = m_text.indexOf(QLatin1Char(' '), firstSpace + 1);
    const qsizetype end = secondSpace < 0 ? m_text.size() : secondSpace;
    const QStringView code = QStringView(m_text).mid(firstSpace + 1, end - firstSpace - 1);
    return code == QLatin1String("200") ? ProxyVerdict::Accepted : ProxyVerdict::Refused;
}

void ProxyReply::reset()
{
    m_text.clear();
}
