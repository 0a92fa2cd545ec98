// The receive box fed received bytes in arbitrary pieces, in its text or its
// hexadecimal view: its text is the rendering of all the bytes in order,
// pieces of it read back exactly, a selection holds what was asked (in the
// hexadecimal view, widened to whole bytes), and painting any state of it
// does not crash.

#include "FuzzInput.h"

#include "ByteStreams.h"
#include "ReceivedBytes.h"
#include "receivebox/ReceiveBox.h"
#include "system/CodePage.h"

#include <QApplication>

namespace {

ReceiveBox *g_box = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Never destroyed: the process ends with the fuzzer, and a static would
    // be torn down after the widgets' own statics.
    new QApplication(*argc, *argv);
    g_box = new ReceiveBox;
    g_box->resize(240, 120);
    g_box->show();
    // Fonts and glyph caches are made on the first paint and kept for the
    // process; make them here, not inside the first input.
    appendAsReceived(*g_box, QByteArrayView("warm-up \x01\t\x80\r\n"));
    g_box->selectAll();
    g_box->grab();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzInput input(data, size);
    const std::uint8_t flags = input.takeByte();
    const std::uint8_t width = input.takeByte();
    const QList<qsizetype> sizes = input.takePieceSizes();
    const QByteArrayView bytes = input.rest();

    ReceiveBox &box = *g_box;
    box.clear();
    const bool hex = (flags & 8) != 0;
    box.setHexView(hex);
    box.resize(40 + width * 3, 60 + (flags >> 4) * 10);
    QString expected;
    int painted = 0;
    for (const QByteArrayView piece : splitInto(bytes, sizes)) {
        expected += translated(piece, platform::system::codepage::ansiTable());
        appendAsReceived(box, piece);
        box.setSelStart(box.length());
        FUZZ_CHECK(box.length() == expected.size());
        FUZZ_CHECK(box.selectionStart() == expected.size());
        if ((flags & 1) && painted++ < 3)
            box.grab();
        // One arrival per turn of the event loop, as in the program: what the
        // box defers to the loop runs between arrivals.
        QCoreApplication::processEvents();
    }
    FUZZ_CHECK(box.mid(0, box.length()) == expected);

    // Pieces and selections read back exactly, wherever they start and end.
    const qsizetype length = expected.size();
    if (length > 0) {
        const qsizetype from = qsizetype(flags) * 7919 % length;
        const qsizetype count = qsizetype(width) * 131 % (length - from + 1);
        FUZZ_CHECK(box.mid(from, count) == expected.mid(from, count));
        box.setSelection(from + count, from);
        if (hex) {
            // Whole bytes: never a part of a NUL's four characters.
            FUZZ_CHECK(box.selectionStart() <= from && from - box.selectionStart() <= 3);
            if (count > 0)
                FUZZ_CHECK(box.selectionEnd() >= from + count &&
                           box.selectionEnd() - from - count <= 3);
            else
                FUZZ_CHECK(box.selectionEnd() == box.selectionStart());
            FUZZ_CHECK(
                box.selectedText() ==
                expected.mid(box.selectionStart(), box.selectionEnd() - box.selectionStart()));
        } else {
            FUZZ_CHECK(box.selectedText() == expected.mid(from, count));
        }
        if (flags & 2) {
            box.setSelStart(from);
            box.grab();
        }
    }
    if (flags & 4) {
        box.selectAll();
        FUZZ_CHECK(box.selectedText() == expected);
        box.resize(30, 30);
        box.grab();
    }
    return 0;
}
