#pragma once

// Byte streams and code-page tables shared by the tests of the receive path:
// how a stream is split into arrivals, and the text a table makes of it.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringView>
#include <QtGlobal>

#include <array>

using CharTable = std::array<char16_t, 256>;

// Windows-1252 as the receive path reads it: 0x80..0x9F are mostly
// typographic characters above U+00FF; the five unassigned bytes stay C1.
inline CharTable cp1252Table()
{
    static const char16_t high[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    CharTable table{};
    for (std::size_t b = 0; b < table.size(); ++b)
        table[b] = b >= 0x80 && b <= 0x9F ? high[b - 0x80] : static_cast<char16_t>(b);
    return table;
}

// The text the receive box shows for the bytes: each byte the table's
// character, a NUL the four characters "\x00".
inline QString translated(QByteArrayView bytes, const CharTable &table)
{
    QString text;
    for (const char byte : bytes) {
        if (byte == 0)
            text.append(QStringLiteral("\\x00"));
        else
            text.append(QChar(table[static_cast<unsigned char>(byte)]));
    }
    return text;
}

inline QByteArray allBytes()
{
    QByteArray bytes;
    for (int b = 0; b < 256; ++b)
        bytes.append(static_cast<char>(b));
    return bytes;
}

// 80-column CR LF lines, with a byte of the upper half now and then.
inline QByteArray linesWithHighBytes(qsizetype size, int every)
{
    QByteArray bytes;
    for (int n = 0; bytes.size() < size; ++n) {
        QByteArray line = QByteArray::number(n).rightJustified(78, '.');
        if (every > 0 && n % every == 0)
            line[40] = '\x80';
        bytes += line + "\r\n";
    }
    bytes.truncate(size);
    return bytes;
}

// The stream in arrivals of the sizes given, used in turn; whole if none.
inline QList<QByteArray> split(const QByteArray &bytes, const QList<qsizetype> &sizes)
{
    QList<QByteArray> pieces;
    qsizetype at = 0;
    for (int i = 0; at < bytes.size(); ++i) {
        const qsizetype size = sizes.isEmpty() ? bytes.size() : sizes[i % sizes.size()];
        pieces.append(bytes.mid(at, size));
        at += size;
    }
    return pieces;
}

// Bytes that read as the text through the table. A character the table lacks
// takes the place of a byte whose character the text does not use, where the
// table may change (a table in force for bytes already kept may not). The
// characters "\x00" stay four characters; U+0000 is a character too, as a
// byte 0 never reads as one.
inline QByteArray bytesReadingAs(QStringView text, CharTable &table, bool mayChange)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    std::array<bool, 256> used{};
    for (const QChar c : text) {
        for (std::size_t b = 1; b < table.size(); ++b) {
            if (table[b] == c.unicode())
                used[b] = true;
        }
    }
    std::size_t spare = 1;
    for (const QChar c : text) {
        std::size_t b = 1;
        while (b < table.size() && table[b] != c.unicode())
            ++b;
        if (b == table.size()) {
            while (mayChange && spare < table.size() &&
                   (used[spare] || spare == 9 || spare == 10 || spare == 13))
                ++spare;
            if (!mayChange || spare == table.size())
                qFatal("a character of the test's text has no byte");
            table[spare] = c.unicode();
            used[spare] = true;
            b = spare;
        }
        bytes.append(static_cast<char>(b));
    }
    return bytes;
}
