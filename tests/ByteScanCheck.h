#pragma once

// The receive path's one pass against a byte-by-byte reading of the same
// bytes, wherever the source and the copy lie (sourceShift and outShift past
// a 16-byte boundary) and from whichever bit the marks start: empty when they
// agree, else what differs. For the transcript's tests and a fuzz target.

#include "transcript/ByteScan.h"

#include <QByteArrayView>
#include <QString>

#include <vector>

inline QString byteScanMismatch(QByteArrayView bytes, std::size_t sourceShift, std::size_t outShift,
                                qsizetype first)
{
    namespace bytescan = platform::transcript::bytescan;
    const auto count = static_cast<std::size_t>(bytes.size());
    // 64 bytes of guard on either side show a write out of bounds.
    std::vector<quint8> source(count + 128), out(count + 128, 0xA5), expected(out);
    quint8 *in = source.data() + 64 - reinterpret_cast<quintptr>(source.data()) % 16 + sourceShift;
    const std::size_t at = 64 - reinterpret_cast<quintptr>(out.data()) % 16 + outShift;
    std::copy(bytes.begin(), bytes.end(), in);
    std::copy(bytes.begin(), bytes.end(), expected.begin() + static_cast<std::ptrdiff_t>(at));
    std::vector<quint64> wantedMarks(
        static_cast<std::size_t>(bytescan::shapingWords(first + bytes.size())));
    qsizetype nuls = 0;
    for (std::size_t i = 0; i < count; ++i) {
        nuls += in[i] == 0 ? 1 : 0;
        const auto bit = static_cast<std::size_t>(first) + i;
        wantedMarks[bit / 64] |= quint64{bytescan::shapesLine(in[i]) ? 1u : 0u} << (bit % 64);
    }
    for (const bool copying : {true, false}) {
        std::vector<quint64> marks(wantedMarks.size());
        const qsizetype got =
            copying ? bytescan::copyScanning(in, bytes.size(), out.data() + at, marks.data(), first)
                    : bytescan::scanning(in, bytes.size(), marks.data(), first);
        if (got != nuls || marks != wantedMarks)
            return QStringLiteral("%1: %2 NULs (not %3), marks %4")
                .arg(copying ? u"copying" : u"scanning")
                .arg(got)
                .arg(nuls)
                .arg(marks == wantedMarks ? u"alike" : u"different");
        for (qsizetype from = 0; first == 0 && from <= bytes.size(); from += 7)
            if (bytescan::findMarked(marks.data(), from, bytes.size()) !=
                bytescan::findLineShaping(in, from, bytes.size()))
                return QStringLiteral("the first mark from %1 misplaced").arg(from);
    }
    return out == expected ? QString() : QStringLiteral("the copy differs, or wrote outside");
}
