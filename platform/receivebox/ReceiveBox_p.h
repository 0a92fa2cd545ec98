#pragma once

// The receive box's state, shared by its files: ReceiveBox.cpp (the public
// interface and what it drives), ReceiveBoxEvents.cpp (the widget's events)
// and ReceiveBoxViews.cpp (what differs between its two views), ShownText.cpp
// (what assistive technology reads). Only those files and the checks of the
// box's internals reach it through of(); the find bar, the accessible
// interface and the saver are given narrow interfaces instead.

#include "ReceiveBox.h"
#include "ShownText.h"
#include "ViewScroller.h"
#include "receivebox/accessibility/ReceiveBoxAnnouncer.h"
#include "receivebox/find/FindTarget.h"
#include "receivebox/log/SessionLogger.h"
#include "receivebox/paint/BlockPainter.h"
#include "receivebox/paint/CellCache.h"
#include "receivebox/paint/GlyphRunPainter.h"
#include "receivebox/views/HexRows.h"
#include "receivebox/views/View.h"
#include "transcript/Transcript.h"

#include <QColor>
#include <QElapsedTimer>
#include <QPoint>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <utility>

class FindBar;
class QPainter;
class TranscriptSaver;

// What the find bar searches (FindTarget) is the box's state itself.
struct ReceiveBox::Private final : public FindTarget
{
    explicit Private(ReceiveBox *box);

    static Private &of(const ReceiveBox &box) { return *box.d; }

    ReceiveBox *q;
    Transcript text;
    // The view shown: TextView, or HexView while hexView.
    std::unique_ptr<View> view;
    ViewScroller scroller;
    CellCache cache;
    BlockPainter blockPainter;
    GlyphRunPainter glyphPainter;
    // What assistive technology reads, and the announcer that tells it.
    ShownText accessibleText;
    ReceiveBoxAnnouncer announcer;
    // While a stream arrives the view is painted at most once a frame.
    QElapsedTimer sincePaint;
    QTimer repaint;
    CellMetrics cell;
    QColor textColour;
    QColor backColour;

    bool hexView = false;
    qsizetype anchor = 0;
    qsizetype caret = 0;

    bool dragging = false;
    QPoint dragPoint;
    // While the mouse selects past the top or bottom edge the view scrolls a
    // step every 50 ms, twenty rows a second: readable, as desktop text
    // boxes scroll.
    static constexpr int kAutoScrollMs = 50;
    QTimer autoScroll;
    int wheelRemainder = 0;

    // Made when first asked for; a child of the box.
    FindBar *findBar = nullptr;
    // What the save dialog proposes: the name, and the folder last saved in.
    QString saveName = QStringLiteral("recibido.txt");
    QString saveFolder;
    // The session log, which reads the store's memory: declared after the
    // text, so that it finishes writing before the store goes.
    SessionLogger logger;

    const LineIndex &lines() const { return text.lines(); }

    // --- asked of the view shown (ReceiveBoxViews.cpp) ---

    qsizetype rowCount() const;
    qsizetype byteOf(qsizetype position, bool roundUp) const
    {
        return platform::receivebox::views::hexrows::byteOf(text.store(), position, roundUp);
    }
    qsizetype positionOfByte(qsizetype byte) const { return text.store().positionOfByte(byte); }
    // The row and column where the caret before a position is drawn.
    LineIndex::RowColumn rowColumnOf(qsizetype position) const;
    // The caret's place after a caret key, or -1 for any other key.
    qsizetype positionAfterKey(int key, bool control, int pageRows) const;
    // What a double click selects at a position: a word, or a byte.
    std::pair<qsizetype, qsizetype> unitAt(qsizetype position) const;
    // A second column the caret is drawn at (the hexadecimal view's
    // characters), or -1.
    int caretCharacterColumn() const;
    // The byte of the first row shown.
    qsizetype firstShownByte() const;
    // Switches the view; the first byte shown stays in view, the selection
    // holds the same bytes.
    void setHexView(bool on);
    // The selection's ends where the view lets them stand (between bytes in
    // the hexadecimal view).
    void snapSelectionToBytes();
    // The selection in bytes, half-open.
    std::pair<qsizetype, qsizetype> selectedBytes() const
    {
        return {byteOf(selectionFrom(), false), byteOf(selectionTo(), true)};
    }
    // The selected bytes as hex pairs ("Copiar como hexadecimal"), or, with
    // rows, the rows that hold them as the view shows them.
    void copyHex(bool rows) const;

    void clear();

    // After an append of the characters from `from` on.
    void appended(qsizetype from);

    // After the caret or the selection may have moved: repaint, and tell
    // assistive technology where they are now.
    void selectionMoved();

    static constexpr int kFrameMs = 16;
    void requestRepaint();

    qsizetype selectionFrom() const override { return std::min(anchor, caret); }
    qsizetype selectionTo() const override { return std::max(anchor, caret); }
    std::shared_ptr<const ByteStore> searchedText() const override { return text.store().share(); }
    bool searchesBytes() const override { return view->searchesBytes(); }
    void showMatch(qsizetype from, qsizetype to) override;

    void updateMetrics();
    void updateGeometry();

    void ensureVisible(qsizetype position);
    qsizetype hitTest(const QPoint &point, bool betweenCharacters) const;

    // The caret moved by a key: the selection follows it with Shift, and the
    // view follows the caret.
    void moveCaret(qsizetype position, bool extend);
    // While the mouse selects past the top or bottom of the view.
    void autoScrollStep();

    // Ctrl+F: the find bar, with the selection as its text when it is a
    // short piece of one line.
    void openFindBar();
    // The view gives up the find bar's height while it shows (on the bar's
    // shownChanged()), and the log's line's (on lineChanged()); the line
    // sits below the bar.
    void layoutFindBar();
    void placeFindBar();
    QWidget *logLine() const;
    // Ctrl+S: what was received up to now, to a file the save dialog asks for.
    void saveAs();
    // Saves what the store holds to that path, by a saver that is a child of
    // the box until it is done.
    void saveTo(std::shared_ptr<const ByteStore> store, const QString &path);
    // "Registrar en archivo…" ticked (the dialog) or unticked (the log ends).
    void setLogging(bool on);

    RowColours colours() const;
    void paint(QPainter &painter, const QRect &area);
    void drawCaret(QPainter &painter, int bottomRow);
};
