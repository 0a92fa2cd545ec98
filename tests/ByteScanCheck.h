#pragma once

// The receive path's one pass (bytescan::copyScanning and scanning) against
// a plain byte-at-a-time reading of the same bytes, wherever they lie: the
// source and the copy `sourceShift` and `outShift` bytes past a 16-byte
// boundary, the marks from bit `first`. Shared by the transcript's tests and
// the fuzz target.

#include "transcript/ByteScan.h"

#include <QByteArrayView>
#include <QString>

#include <algorithm>
#include <cstring>
#include <vector>

inline QString byteScanMismatch(QByteArrayView bytes, int sourceShift, int outShift,
                                qsizetype first)
{
    namespace bytescan = platform::transcript::bytescan;
    const qsizetype count = bytes.size();
    // Room on either side, so that a write out of bounds shows as a change.
    constexpr qsizetype kGuard = 64;
    constexpr quint8 kGuardByte = 0xA5;
    std::vector<quint8> source(static_cast<std::size_t>(count + 2 * kGuard));
    std::vector<quint8> out(source.size(), kGuardByte);
    auto *in = reinterpret_cast<quint8 *>(
        (reinterpret_cast<quintptr>(source.data()) + kGuard + 15) / 16 * 16 +
        static_cast<quintptr>(sourceShift));
    auto *copy = reinterpret_cast<quint8 *>((reinterpret_cast<quintptr>(out.data()) + kGuard + 15) /
                                                16 * 16 +
                                            static_cast<quintptr>(outShift));
    if (count > 0)
        std::memcpy(in, bytes.data(), static_cast<std::size_t>(count));

    const qsizetype words = bytescan::shapingWords(first + count) + 1;
    std::vector<quint64> expectedMarks(static_cast<std::size_t>(words));
    qsizetype expectedNuls = 0;
    for (qsizetype i = 0; i < count; ++i) {
        expectedNuls += in[i] == 0 ? 1 : 0;
        if (bytescan::shapesLine(in[i]))
            expectedMarks[static_cast<std::size_t>((first + i) / 64)] |= quint64{1}
                                                                         << ((first + i) % 64);
    }

    for (const bool copying : {true, false}) {
        std::vector<quint64> marks(static_cast<std::size_t>(words));
        const qsizetype nuls = copying
                                   ? bytescan::copyScanning(in, count, copy, marks.data(), first)
                                   : bytescan::scanning(in, count, marks.data(), first);
        const QString pass = copying ? QStringLiteral("copying: ") : QStringLiteral("scanning: ");
        if (nuls != expectedNuls)
            return pass + QStringLiteral("%1 NULs, not %2").arg(nuls).arg(expectedNuls);
        if (marks != expectedMarks)
            return pass + QStringLiteral("the marks differ");
        for (qsizetype from = 0; from <= count; from += std::max<qsizetype>(1, count / 7)) {
            const qsizetype expected = bytescan::findLineShaping(in, from, count);
            // The marks read from bit 0: only where the piece starts there.
            if (first == 0 && bytescan::findMarked(marks.data(), from, count) != expected)
                return pass + QStringLiteral("the first mark from %1 is not at %2")
                                  .arg(from)
                                  .arg(expected);
        }
    }
    if (count > 0 && std::memcmp(copy, in, static_cast<std::size_t>(count)) != 0)
        return QStringLiteral("the copy differs");
    const auto untouched = [&](const quint8 *from, const quint8 *to) {
        return std::all_of(from, to, [](quint8 b) { return b == kGuardByte; });
    };
    if (!untouched(out.data(), copy) || !untouched(copy + count, out.data() + out.size()))
        return QStringLiteral("the copy wrote outside its bytes");
    return {};
}
