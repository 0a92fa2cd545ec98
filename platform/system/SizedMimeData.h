#pragma once

// Clipboard data that knows the length of its text without producing it. A
// copy of a whole transcript can be gigabytes that exist only as received
// bytes until a program asks for them; a box that decides whether to take a
// paste by its size asks this instead of reading the text.

#include <QMimeData>

class SizedMimeData : public QMimeData
{
    Q_OBJECT

public:
    SizedMimeData() = default;
    Q_DISABLE_COPY_MOVE(SizedMimeData)

    // Characters of the text, known without reading them.
    virtual qsizetype textLength() const = 0;
};
