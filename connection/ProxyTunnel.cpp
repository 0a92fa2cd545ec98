#include "ProxyTunnel.h"

#include <QHostAddress>
#include <QUrl>

#include <algorithm>

namespace {

// The host as a proxy reads it in "host:port": an IPv6 address in brackets,
// a name with characters beyond ASCII in its ASCII-compatible form (the name
// the resolver looks up for a direct connection), any other text as typed.
QString requestHost(const QString &host)
{
    const bool ascii = std::all_of(host.cbegin(), host.cend(),
                                   [](QChar character) { return character.unicode() < 0x80; });
    if (!ascii) {
        // A text that is no valid name goes as typed: the proxy then refuses it.
        const QByteArray ace = QUrl::toAce(host);
        return ace.isEmpty() ? host : QString::fromLatin1(ace);
    }
    QHostAddress address;
    if (host.contains(QLatin1Char(':')) && address.setAddress(host) &&
        address.protocol() == QAbstractSocket::IPv6Protocol)
        return QLatin1Char('[') + host + QLatin1Char(']');
    return host;
}

} // namespace

QString connectRequest(const QString &host, const QString &port)
{
    const QString target = requestHost(host) + QLatin1Char(':') + port;
    return QLatin1String("CONNECT ") + target + QLatin1String(" HTTP/1.1\r\n") +
           QLatin1String("Host: ") + target + QLatin1String("\r\n\r\n");
}

ProxyVerdict ProxyReply::feed(QStringView arrived)
{
    for (const QChar character : arrived) {
        const char16_t unit = character.unicode();
        const bool blankLineDone =
            unit == u'\n' && m_recent[0] == u'\r' && m_recent[1] == u'\n' && m_recent[2] == u'\r';
        m_recent[0] = m_recent[1];
        m_recent[1] = m_recent[2];
        m_recent[2] = unit;

        if (unit == u' ') {
            ++m_spaces;
        } else if (m_spaces == 1 && !m_codeTooLong) {
            if (m_code.size() == 3)
                m_codeTooLong = true;
            else
                m_code.append(character);
        }
        if (blankLineDone) {
            // With one space the code runs to the end of the reply, blank line
            // included, and so is never "200".
            const bool accepted = m_spaces >= 2 && !m_codeTooLong && m_code == u"200";
            return accepted ? ProxyVerdict::Accepted : ProxyVerdict::Refused;
        }
    }
    return ProxyVerdict::Incomplete;
}

void ProxyReply::reset()
{
    *this = ProxyReply();
}
