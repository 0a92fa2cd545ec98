#pragma once

// What the tests read of the receive box beyond its public interface,
// through its private state, and text put into it as the bytes that show it.

#include "ByteStreams.h"
#include "receivebox/ReceiveBox.h"
#include "receivebox/ReceiveBox_p.h"
#include "system/CodePage.h"
#include "transcript/ReadCount_p.h"

#include <QList>
#include <QSize>
#include <QString>
#include <QStringView>
#include <QTest>

inline const ReceiveBox::Private &boxState(const ReceiveBox &box)
{
    return ReceiveBox::Private::of(box);
}

// The same, to start what the box's commands start (a save to a path).
inline ReceiveBox::Private &boxControl(ReceiveBox &box)
{
    return ReceiveBox::Private::of(box);
}

// The whole text, character for character.
inline QString boxText(const ReceiveBox &box)
{
    return box.mid(0, box.length());
}

inline qsizetype firstVisibleRow(const ReceiveBox &box)
{
    return boxState(box).scroller.firstRow();
}

inline int columnsPerRow(const ReceiveBox &box)
{
    return boxState(box).lines().columns();
}

// Rows that fit whole in the viewport: what PageUp and PageDown move by.
inline int visibleRowCount(const ReceiveBox &box)
{
    return boxState(box).scroller.visibleRows();
}

// One character cell in viewport pixels.
inline QSize cellSize(const ReceiveBox &box)
{
    return {boxState(box).cell.width, boxState(box).cell.height};
}

// Bytes held for the text and its index.
inline qsizetype memoryUsed(const ReceiveBox &box)
{
    return boxState(box).text.memoryUsed();
}

// Characters read out of every transcript so far, by painting, selecting,
// copying and every other reader: what an action cost.
inline qsizetype charactersRead()
{
    return platform::transcript::charactersRead();
}

// Adds received bytes in one piece, as the box's receiving adds each piece.
inline void appendBytes(ReceiveBox &box, QByteArrayView bytes)
{
    ReceiveBox::Private &d = boxControl(box);
    const qsizetype from = d.text.length();
    d.text.appendBytes(bytes);
    d.appended(from);
}

// Adds the text as received bytes that read as it: through the ANSI table
// where it has every character, else through a table made for the text
// (textTable()) when the box is empty.
inline void putText(ReceiveBox &box, QStringView text)
{
    CharTable table = box.length() == 0 ? platform::system::codepage::ansiTable()
                                        : boxState(box).text.store().table();
    const bool empty = box.length() == 0;
    const QByteArray bytes = bytesReadingAs(text, table, empty);
    if (empty)
        boxControl(box).text.setTable(table);
    appendBytes(box, bytes);
}

// Empties the box and puts the text.
inline void setBoxText(ReceiveBox &box, QStringView text)
{
    box.clear();
    putText(box, text);
}

// The bytes added in pieces of those sizes, as they would arrive.
inline void appendArrivals(ReceiveBox &box, const QByteArray &bytes, const QList<qsizetype> &pieces)
{
    for (const QByteArray &piece : split(bytes, pieces))
        appendBytes(box, piece);
}

// The box at that size on screen, the test stopped where it is not exposed.
#define SHOW(box, width, height)                                                                   \
    do {                                                                                           \
        (box).resize((width), (height));                                                           \
        (box).show();                                                                              \
        QVERIFY(QTest::qWaitForWindowExposed(&(box)));                                             \
    } while (false)
