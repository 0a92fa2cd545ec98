#pragma once

// The HTTP CONNECT tunnel: the one request sent to the proxy, and the test
// of its reply. Neither touches a socket: the reply is fed as it arrives.

#include <QString>
#include <QStringView>

// "CONNECT host:port HTTP/1.1", a Host header and the blank line, with the
// port exactly as typed and the host as typed where a proxy can read it: an
// IPv6 address goes in brackets (unless typed in them), a name with
// characters beyond ASCII in its ASCII-compatible (IDNA) form.
QString connectRequest(const QString &host, const QString &port);

enum class ProxyVerdict {
    Incomplete, // no blank line (CR LF CR LF) yet
    Accepted,   // the status code is 200
    Refused,    // anything else, a reply without a space included
};

// Judges a proxy's reply as it arrives. The reply is complete with its first
// blank line (CR LF CR LF); its status code is what stands between the first
// and the second space of the reply, or runs to the end of the reply, and is
// compared exactly with "200". Whatever follows the blank line belongs to the
// remote end and plays no part, so the verdict never depends on how the bytes
// were split into arrivals. Holds a few characters, however long the reply.
class ProxyReply final
{
public:
    // Takes the text of one arrival; Incomplete until the blank line is in.
    ProxyVerdict feed(QStringView arrived);
    void reset();

private:
    // The last characters seen, to find a blank line split across arrivals.
    char16_t m_recent[3] = {};
    int m_spaces = 0;
    // The characters after the first space, as far as they can still be "200".
    QString m_code;
    bool m_codeTooLong = false;
};
