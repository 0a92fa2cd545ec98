// The connection's pure pieces, from tables: port texts, host and port pairs,
// the CONNECT request and the judging of a proxy's reply, and the two
// conversions of received and typed text.

#include "connection/PortText.h"
#include "connection/ProxyTunnel.h"
#include "connection/SessionName.h"
#include "connection/Transcoding.h"
#include "transcript/Transcript.h"

#include "system/CodePage.h"

#include <QTest>

Q_DECLARE_METATYPE(ProxyVerdict)

class TestConnectionLogic : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void portTexts_data();
    void portTexts();
    void portTextsFollowTheLocale_data();
    void portTextsFollowTheLocale();
    void pairs_data();
    void pairs();
    void request_data();
    void request();
    void proxyReply_data();
    void proxyReply();
    void proxyReplyIsJudgedAtTheArrivalThatCompletesIt();
    void rendering_data();
    void rendering();
    void oemText_data();
    void oemText();
    void sessionFileNames_data();
    void sessionFileNames();
};

void TestConnectionLogic::portTexts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("port"); // -1: invalid

    QTest::newRow("empty") << QString() << -1;
    QTest::newRow("zero") << QStringLiteral("0") << -1;
    QTest::newRow("negative") << QStringLiteral("-5") << -1;
    QTest::newRow("65536") << QStringLiteral("65536") << -1;
    QTest::newRow("65535.5") << QStringLiteral("65535.5") << -1;
    QTest::newRow("letters") << QStringLiteral("http") << -1;
    QTest::newRow("0.4 would be port 0") << QStringLiteral("0.4") << -1;
    QTest::newRow("0.5 rounds to even 0") << QStringLiteral("0.5") << -1;
    QTest::newRow("not a number") << QStringLiteral("nan") << -1;
    QTest::newRow("infinity") << QStringLiteral("inf") << -1;
    QTest::newRow("one") << QStringLiteral("1") << 1;
    QTest::newRow("65535") << QStringLiteral("65535") << 65535;
    QTest::newRow("80.5 halves to even") << QStringLiteral("80.5") << 80;
    QTest::newRow("81.5 halves to even") << QStringLiteral("81.5") << 82;
    QTest::newRow("0.6 rounds to 1") << QStringLiteral("0.6") << 1;
    QTest::newRow("leading zero") << QStringLiteral("0443") << 443;
    QTest::newRow("exponent") << QStringLiteral("8e1") << 80;
    QTest::newRow("blanks around") << QStringLiteral(" 80 ") << 80;
    QTest::newRow("pasted with CR LF") << QStringLiteral("443\r\n") << -1;
    QTest::newRow("LF before") << QStringLiteral("\n443") << -1;
    QTest::newRow("CR alone") << QStringLiteral("44\r3") << -1;
}

void TestConnectionLogic::portTexts()
{
    QFETCH(QString, text);
    QFETCH(int, port);
    const std::optional<std::int32_t> parsed = portFromText(text, QLocale::c());
    QCOMPARE(parsed.has_value(), port >= 0);
    if (parsed)
        QCOMPARE(*parsed, port);
}

void TestConnectionLogic::portTextsFollowTheLocale_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("port");
    const QLocale spanish(QLocale::Spanish, QLocale::Spain);
    QTest::newRow("Spanish decimal comma") << spanish << QStringLiteral("80,5") << 80;
    QTest::newRow("Spanish 81,5") << spanish << QStringLiteral("81,5") << 82;
    QTest::newRow("Spanish group point") << spanish << QStringLiteral("10.000") << 10000;
    QTest::newRow("English decimal point")
        << QLocale(QLocale::English) << QStringLiteral("81.5") << 82;
}

void TestConnectionLogic::portTextsFollowTheLocale()
{
    QFETCH(QLocale, locale);
    QFETCH(QString, text);
    QFETCH(int, port);
    QCOMPARE(portFromText(text, locale).value_or(-1), port);
}

void TestConnectionLogic::pairs_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("port");
    QTest::addColumn<bool>("valid");
    QTest::newRow("plain") << QStringLiteral("example.org") << QStringLiteral("80") << true;
    QTest::newRow("blanks are a host") << QStringLiteral("   ") << QStringLiteral("80") << true;
    QTest::newRow("empty host") << QString() << QStringLiteral("80") << false;
    QTest::newRow("empty port") << QStringLiteral("h") << QString() << false;
    QTest::newRow("host with LF") << QStringLiteral("h\nX-Injected: 1") << QStringLiteral("80")
                                  << false;
    QTest::newRow("host with CR") << QStringLiteral("h\r") << QStringLiteral("80") << false;
    QTest::newRow("bad port") << QStringLiteral("h") << QStringLiteral("0") << false;
    QTest::newRow("port with line end")
        << QStringLiteral("h") << QStringLiteral("443\r\n") << false;
}

void TestConnectionLogic::pairs()
{
    QFETCH(QString, host);
    QFETCH(QString, port);
    QFETCH(bool, valid);
    QCOMPARE(isValidPair(host, port, QLocale::c()), valid);
}

void TestConnectionLogic::request_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("request");
    QTest::newRow("address") << QStringLiteral("192.0.2.10") << QStringLiteral("443")
                             << QStringLiteral("CONNECT 192.0.2.10:443 HTTP/1.1\r\n"
                                               "Host: 192.0.2.10:443\r\n\r\n");
    QTest::newRow("port and case as typed")
        << QStringLiteral("Example.ORG") << QStringLiteral("0443")
        << QStringLiteral("CONNECT Example.ORG:0443 HTTP/1.1\r\nHost: Example.ORG:0443\r\n\r\n");
    QTest::newRow("IPv6 literal in brackets")
        << QStringLiteral("::1") << QStringLiteral("80")
        << QStringLiteral("CONNECT [::1]:80 HTTP/1.1\r\nHost: [::1]:80\r\n\r\n");
    QTest::newRow("IPv6 literal already in brackets")
        << QStringLiteral("[2001:db8::a]") << QStringLiteral("443")
        << QStringLiteral("CONNECT [2001:db8::a]:443 HTTP/1.1\r\nHost: [2001:db8::a]:443\r\n\r\n");
    QTest::newRow("IPv4-mapped IPv6 literal")
        << QStringLiteral("::ffff:192.0.2.1") << QStringLiteral("22")
        << QStringLiteral(
               "CONNECT [::ffff:192.0.2.1]:22 HTTP/1.1\r\nHost: [::ffff:192.0.2.1]:22\r\n\r\n");
    QTest::newRow("Latin name in its ACE form")
        << QStringLiteral("b\u00FCcher.test") << QStringLiteral("80")
        << QStringLiteral(
               "CONNECT xn--bcher-kva.test:80 HTTP/1.1\r\nHost: xn--bcher-kva.test:80\r\n\r\n");
    QTest::newRow("Japanese name in its ACE form")
        << QStringLiteral("\u4F8B\u3048.jp") << QStringLiteral("443")
        << QStringLiteral(
               "CONNECT xn--r8jz45g.jp:443 HTTP/1.1\r\nHost: xn--r8jz45g.jp:443\r\n\r\n");
    QTest::newRow("ASCII text with a colon stays as typed")
        << QStringLiteral("host:8080") << QStringLiteral("80")
        << QStringLiteral("CONNECT host:8080:80 HTTP/1.1\r\nHost: host:8080:80\r\n\r\n");
}

void TestConnectionLogic::request()
{
    QFETCH(QString, host);
    QFETCH(QString, port);
    QFETCH(QString, request);
    QCOMPARE(connectRequest(host, port), request);
    if (host == QLatin1String("192.0.2.10"))
        QCOMPARE(connectRequest(host, port).size(), 57);
}

void TestConnectionLogic::proxyReply_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<ProxyVerdict>("verdict");
    using V = ProxyVerdict;
    QTest::newRow("1.1 200 established")
        << QStringLiteral("HTTP/1.1 200 Connection established\r\n\r\n") << V::Accepted;
    QTest::newRow("1.0 200 OK") << QStringLiteral("HTTP/1.0 200 OK\r\n\r\n") << V::Accepted;
    QTest::newRow("200 with headers and data after")
        << QStringLiteral("HTTP/1.1 200 OK\r\nVia: p\r\n\r\nSSH-2.0-x\r\n") << V::Accepted;
    QTest::newRow("407")
        << QStringLiteral(
               "HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic\r\n\r\n")
        << V::Refused;
    QTest::newRow("403") << QStringLiteral("HTTP/1.1 403 Forbidden\r\n\r\n") << V::Refused;
    QTest::newRow("no reason phrase") << QStringLiteral("HTTP/1.1 200\r\n\r\n") << V::Refused;
    QTest::newRow("two spaces") << QStringLiteral("HTTP/1.1  200 OK\r\n\r\n") << V::Refused;
    QTest::newRow("no space at all") << QStringLiteral("HTTP/1.1\r\n\r\n") << V::Refused;
    QTest::newRow("NUL shown inside the reply")
        << QStringLiteral("HTTP/1.1 200 O\\x00K\r\n\r\n") << V::Accepted;
    QTest::newRow("lower-case words do not matter")
        << QStringLiteral("http/1.1 200 ok\r\n\r\n") << V::Accepted;
    QTest::newRow("spaces only after the blank line")
        << QStringLiteral("HTTP/1.1\r\n\r\n 200 data") << V::Refused;
    QTest::newRow("one space: the code runs into the blank line")
        << QStringLiteral("HTTP/1.1 200\r\n\r\nand more") << V::Refused;
    QTest::newRow("code longer than 200")
        << QStringLiteral("HTTP/1.1 2000 OK\r\n\r\n") << V::Refused;
    QTest::newRow("code shorter than 200")
        << QStringLiteral("HTTP/1.1 20 OK\r\n\r\n") << V::Refused;
    QTest::newRow("incomplete") << QStringLiteral("HTTP/1.1 200 OK\r\n") << V::Incomplete;
    QTest::newRow("LF-only lines never complete")
        << QStringLiteral("HTTP/1.1 200 OK\n\n") << V::Incomplete;
}

void TestConnectionLogic::proxyReply()
{
    QFETCH(QString, reply);
    QFETCH(ProxyVerdict, verdict);
    // However the reply is split into arrivals, the verdict is the same.
    for (qsizetype piece = 1; piece <= reply.size(); ++piece) {
        ProxyReply judge;
        ProxyVerdict last = ProxyVerdict::Incomplete;
        for (qsizetype at = 0; at < reply.size() && last == ProxyVerdict::Incomplete; at += piece)
            last = judge.feed(QStringView(reply).mid(at, piece));
        QCOMPARE(last, verdict);
    }
}

void TestConnectionLogic::proxyReplyIsJudgedAtTheArrivalThatCompletesIt()
{
    ProxyReply judge;
    QCOMPARE(judge.feed(u"HTTP/1.1 200 OK\r"), ProxyVerdict::Incomplete);
    QCOMPARE(judge.feed(u"\nVia: x\r\n\r"), ProxyVerdict::Incomplete);
    QCOMPARE(judge.feed(u"\n"), ProxyVerdict::Accepted);
    judge.reset();
    QCOMPARE(judge.feed(u"HTTP/1.1 403 No\r\n"), ProxyVerdict::Incomplete);
    QCOMPARE(judge.feed(u"\r\n"), ProxyVerdict::Refused);
}

void TestConnectionLogic::rendering_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("A NUL B") << QByteArray("A\0B", 3) << QStringLiteral("A\\x00B");
    QTest::newRow("NUL alone") << QByteArray(1, '\0') << QStringLiteral("\\x00");
    QTest::newRow("NULs at both ends") << QByteArray("\0x\0", 3) << QStringLiteral("\\x00x\\x00");
    QTest::newRow("CR LF pairs") << QByteArray("\r\n\r\n") << QStringLiteral("\r\n\r\n");
    QTest::newRow("e acute") << QByteArray("\xE9") << QStringLiteral("\u00E9");
    QTest::newRow("euro") << QByteArray("\x80") << QStringLiteral("\u20AC");
    QTest::newRow("controls as they are") << QByteArray("\a\t\x1B") << QStringLiteral("\a\t\u001B");
    QTest::newRow("empty") << QByteArray() << QString();
}

void TestConnectionLogic::rendering()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    // As the receive box's transcript reads them, through the ANSI table.
    const auto &ansi = platform::system::codepage::ansiTable();
    Transcript transcript(ansi);
    transcript.appendBytes(bytes);
    QCOMPARE(transcript.mid(0, transcript.length()), text);
}

void TestConnectionLogic::oemText_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("ASCII with CR LF") << QStringLiteral("hi\r\n") << QByteArray("hi\r\n");
    QTest::newRow("n tilde") << QStringLiteral("\u00F1\r\n") << QByteArray("\xA4\r\n");
    QTest::newRow("backspace kept") << QStringLiteral("a\bb") << QByteArray("a\bb");
    QTest::newRow("Spanish word") << QStringLiteral("a\u00F1o \u00BFqu\u00E9?")
                                  << QByteArray("a\xA4o \xA8qu\x82?");
}

void TestConnectionLogic::oemText()
{
    QFETCH(QString, typed);
    QFETCH(QByteArray, wire);
    // What SendData puts on the wire: the converted text's ANSI bytes.
    const QString converted = toOemText(typed);
    QCOMPARE(converted.size(), typed.size());
    QCOMPARE(platform::system::codepage::stringToAnsi(converted), wire);
}

void TestConnectionLogic::sessionFileNames_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("name");

    QTest::newRow("IPv4 address") << QStringLiteral("127.0.0.1") << 7
                                  << QStringLiteral("127.0.0.1-7-20240305-090807.txt");
    QTest::newRow("IPv6 address: no colons")
        << QStringLiteral("::1") << 443 << QStringLiteral("__1-443-20240305-090807.txt");
    QTest::newRow("name with letters beyond ASCII, blanks trimmed")
        << QStringLiteral(" espa\u00F1a.example ") << 80
        << QStringLiteral("espa\u00F1a.example-80-20240305-090807.txt");
    QTest::newRow("separators and wildcards")
        << QStringLiteral("a/b\\c*d?e") << 1 << QStringLiteral("a_b_c_d_e-1-20240305-090807.txt");
}

void TestConnectionLogic::sessionFileNames()
{
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(QString, name);
    const QDateTime when(QDate(2024, 3, 5), QTime(9, 8, 7));
    QCOMPARE(sessionFileName(host, port, when), name);
}

QTEST_GUILESS_MAIN(TestConnectionLogic)
#include "tst_connectionlogic.moc"
