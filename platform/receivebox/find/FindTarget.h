#pragma once

// What the find bar searches and where it shows what it found: the one thing
// it knows of the view it sits in. The receive box implements it; the bar
// never reaches into the box's state, and tells the box of its showing and
// hiding by a signal rather than calling back.

#include "transcript/ByteStore.h"

#include <QtGlobal>

#include <memory>

class FindTarget
{
public:
    virtual ~FindTarget() = default;

    // The text searched, shared so that the search thread reads it while
    // more arrives or the view is emptied.
    virtual std::shared_ptr<const ByteStore> searchedText() const = 0;
    // Whether a text of hex pairs is looked for as those bytes (the
    // hexadecimal view).
    virtual bool searchesBytes() const = 0;
    // The selection, in character positions, half-open: a search starts
    // from it.
    virtual qsizetype selectionFrom() const = 0;
    virtual qsizetype selectionTo() const = 0;
    // A match: selected, and scrolled into view.
    virtual void showMatch(qsizetype from, qsizetype to) = 0;

protected:
    FindTarget() = default;
    Q_DISABLE_COPY_MOVE(FindTarget)
};
