// The proxy's reply fed in arbitrary pieces: the verdict and the arrival that
// makes it are those of a plain reading of the whole text, and no verdict
// comes before the blank line is complete.

#include "FuzzInput.h"

#include "ByteStreams.h"
#include "connection/ProxyTunnel.h"
#include "system/CodePage.h"

namespace {

// The plain reading: the reply is the text up to its first blank line, split
// at every space; the second piece must be "200".
ProxyVerdict referenceVerdict(const QString &text)
{
    const qsizetype blank = text.indexOf(QLatin1String("\r\n\r\n"));
    if (blank < 0)
        return ProxyVerdict::Incomplete;
    const QStringList pieces = text.left(blank + 4).split(QLatin1Char(' '));
    if (pieces.size() < 2)
        return ProxyVerdict::Refused;
    return pieces[1] == QLatin1String("200") ? ProxyVerdict::Accepted : ProxyVerdict::Refused;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzInput input(data, size);
    const QList<qsizetype> sizes = input.takePieceSizes();
    const QByteArrayView bytes = input.rest();
    const QString whole = translated(bytes, platform::system::codepage::ansiTable());
    const ProxyVerdict expected = referenceVerdict(whole);

    ProxyReply reply;
    QString shown;
    ProxyVerdict verdict = ProxyVerdict::Incomplete;
    for (const QByteArrayView piece : splitInto(bytes, sizes)) {
        const QString before = shown;
        shown += translated(piece, platform::system::codepage::ansiTable());
        verdict = reply.feed(shown.mid(before.size()));
        if (verdict != ProxyVerdict::Incomplete) {
            // Made at the arrival that completes the blank line, not before.
            FUZZ_CHECK(shown.contains(QLatin1String("\r\n\r\n")));
            FUZZ_CHECK(!before.contains(QLatin1String("\r\n\r\n")));
            break;
        }
    }
    FUZZ_CHECK(verdict == expected);

    ProxyReply oneArrival;
    FUZZ_CHECK(oneArrival.feed(whole) == expected);
    return 0;
}
