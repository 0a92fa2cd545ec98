#pragma once

// The text model of a view, as assistive technology reads it: a text of its
// own with its own offsets (the transcript itself, or the rows a view shows,
// one a line), and the way between those offsets and the view's character
// positions. The view's selection and caret are read and set through it too,
// in character positions. The receive box implements it, for the view it
// shows; the accessible interface and the announcer know nothing else of the
// box.

#include <QPoint>
#include <QRect>
#include <QString>

#include <utility>

class QWidget;

class AccessibleText
{
public:
    using Range = std::pair<qsizetype, qsizetype>;

    virtual ~AccessibleText() = default;

    // --- the text read, in its own offsets ---

    virtual qsizetype length() const = 0;
    virtual QString mid(qsizetype from, qsizetype count) const = 0;
    // The line holding an offset, with its line end.
    virtual Range line(qsizetype offset) const = 0;
    // The word holding an offset, as a double click takes it.
    virtual Range word(qsizetype offset) const = 0;
    // The offset where a character position stands; an end takes in the
    // whole of the unit before it.
    virtual qsizetype offsetOf(qsizetype position, bool end) const = 0;
    // The character position an offset falls before.
    virtual qsizetype positionAt(qsizetype offset) const = 0;
    // Where arrivals from a character position on are told from.
    virtual qsizetype arrivalOffset(qsizetype position) const = 0;
    // The cell of an offset, in viewport coordinates.
    virtual QRect rect(qsizetype offset) const = 0;
    // The offset of a viewport point's cell; -1 past the text.
    virtual qsizetype offsetAt(const QPoint &point) const = 0;

    // --- the view's selection, in character positions ---

    virtual qsizetype selectionFrom() const = 0;
    virtual qsizetype selectionTo() const = 0;
    virtual qsizetype caret() const = 0;
    virtual void select(qsizetype anchor, qsizetype caret) = 0;
    // The caret there, nothing selected, and scrolled into view.
    virtual void placeCaret(qsizetype position) = 0;
    virtual void scrollToShow(qsizetype position) = 0;
    // What rect() and offsetAt() are relative to.
    virtual QWidget *viewport() const = 0;

protected:
    AccessibleText() = default;
    Q_DISABLE_COPY_MOVE(AccessibleText)
};
