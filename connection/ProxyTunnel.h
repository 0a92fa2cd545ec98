#pragma once

// The HTTP CONNECT tunnel: the one request sent to the proxy, and the test
// of its reply. Neither touches a socket: the reply is fed as it arrives.

#include <QString>
#include <QStringView>

// "CONNECT host:port HTTP/1.1", a Host header and the blank line, with host
// and port exactly as typed.
QString connectRequest(const QString &host, const QString &port);

enum class ProxyVerdict {
    Incomplete, // no blank line (CR LF CR LF) yet
    Accepted,   // the status code is 200
    Refused,    // anything else, a reply without a space included
};

// Judges a proxy's reply from the text received so far. The reply is
// complete once CR LF CR LF has arrived; its status code is what stands
// between the first and the second space of the whole text (or the end of
// the text), compared exactly with "200".
class ProxyReply final
{
public:
    // Adds the text of one arrival and judges all the text fed since reset().
    ProxyVerdict feed(QStringView arrived);
    void reset();

private:
    QString m_text;
};
