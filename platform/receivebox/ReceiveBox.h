#pragma once

// The receive box: a read-only transcript view built for streams.
//
// How its units fit (each folder below receivebox/ is a target of its own
// that knows nothing of the widget):
//
//   ReceiveBox (this widget: API, caret and selection, clipboard, context
//   |           menu; its events in ReceiveBoxEvents.cpp, the view it asks in
//   |           ReceiveBoxViews.cpp, the state they share in ReceiveBox_p.h)
//   +- Transcript -------- ByteStore   the received bytes, one byte per byte;
//   |  (transcript/,       |           characters through the code page's
//   |   Qt Core only)      |           table, NUL as "\x00" (ChunkSlabs, ByteScan)
//   |                      +- LineIndex lines, rows at the view's width
//   +- ViewScroller        first row, scroll bar exact at any row count
//   +- views/View          the view shown, one at a time: its rows and their
//   |  +- TextView         layout, hit test, caret keys, a double click's
//   |  +- HexView          unit, the copy, what assistive technology reads;
//   |                      TextView over CaretNavigation and ClipboardText,
//   |                      HexView over HexRows and HexClipboardText
//   |                      (RowLayout: the cells of a row)
//   +- find/FindBar        the find bar, over the box's bottom edge; it reads
//   |                      the box as a FindTarget, says it showed or hid by
//   |                      a signal, and searches on a thread (BackgroundFind)
//   |                      over a shared store (transcript/TextSearch.h)
//   +- save/TranscriptSaver  what was received to a file, on a thread, from
//   |                      a shared store
//   +- log/SessionLogger   the session log: every byte to a file as it lands,
//   |                      written on a thread from the store's own memory
//   |                      (SessionLog); its line below the find bar
//   +- paint/CellCache     glyphs, control pictures, pre-rendered cells
//   +- paint/BlockPainter  paints at whole-number pixel ratios (pixel copies)
//   +- paint/GlyphRunPainter  paints at fractional ratios (glyph runs); both
//   |                      walk the rows the view lays out
//   +- ShownText           the box as an accessibility/AccessibleText: what
//      |                   its view reads, and its selection
//      +- accessibility/ReceiveBoxAccessible  the QAccessible interface over it
//      +- accessibility/ReceiveBoxAnnouncer   the announcements of changes
//
// Appending costs in proportion to what is appended, and painting costs the
// same whatever the length of the transcript or of the line in view. The view
// is monospace, so wrapping a line at the view's width is arithmetic, never
// text layout. mid() gives back exactly the characters of the bytes put, CR
// LF included; how control characters are drawn never changes them.

#include <QAbstractScrollArea>
#include <QByteArrayView>
#include <QColor>
#include <QString>
#include <QStringView>

#include <array>
#include <functional>
#include <memory>
#include <utility>

class QMenu;

class ReceiveBox final : public QAbstractScrollArea
{
    Q_OBJECT

public:
    explicit ReceiveBox(QWidget *parent = nullptr);
    ~ReceiveBox() override;
    Q_DISABLE_COPY_MOVE(ReceiveBox)

    // Empties the box; the selection is dropped.
    void clear();
    // Adds at most count received bytes at the end, which fill(into, room)
    // writes straight into the box's memory, as a socket's reading does,
    // stretch by stretch until it returns 0 or less; returns how many bytes
    // were appended. Each byte is the character the ANSI code page gives for
    // it, a NUL the four characters "\x00". The bytes are kept as they are,
    // one byte of memory each. When there is no memory for a
    // piece (std::bad_alloc), nothing of it is appended. Schedules one paint,
    // never paints at once. The rows are counted at once; the scroll bar
    // catches up in the event loop, or right away when the view moves
    // (setSelStart(), keys, the wheel).
    using Fill = std::function<qsizetype(quint8 *into, qsizetype room)>;
    qsizetype appendReceived(qsizetype count, const Fill &fill);
    // Number of characters of the text.
    qsizetype length() const;
    // Characters [from, from + count) of the text, clipped to it.
    QString mid(qsizetype from, qsizetype count) const;

    // Caret at that character position (clamped to 0..length()), nothing
    // selected, the view scrolled so that the position is shown.
    void setSelStart(qsizetype position);

    // Colour of the text, all of it.
    // By default the text is drawn in the palette's window colour on a back
    // colour of the palette's window-text colour.
    void setTextColour(const QColor &colour);
    QColor textColour() const;
    void setBackColour(const QColor &colour);
    QColor backColour() const;

    // The selection, as half-open character positions; empty when equal.
    qsizetype selectionStart() const;
    qsizetype selectionEnd() const;
    // Where the caret stands: the moving end of the selection.
    qsizetype caretPosition() const;
    // Selects from anchor to position (clamped); the view does not move.
    void setSelection(qsizetype anchor, qsizetype position);
    QString selectedText() const;
    void selectAll();
    // Puts the selected characters, exactly as the text holds them, on the
    // clipboard (in the hexadecimal view the rows that hold the selected
    // bytes, as shown); they are read only when a program asks for them, and
    // stay there after the box is emptied.
    void copy() const;

    // The word, run of blanks or single other character at a position, as a
    // double click selects it; empty past the end of its line.
    std::pair<qsizetype, qsizetype> wordAt(qsizetype position) const;
    // The line holding a position, with its line end.
    std::pair<qsizetype, qsizetype> lineAt(qsizetype position) const;
    // The cell of the character at a position, in viewport coordinates.
    QRect characterRect(qsizetype position) const;
    // Scrolls as little as needed for the position to be in view.
    void scrollToShow(qsizetype position);

    // Position of the character under a point of the viewport. Every
    // character takes one cell; a TAB runs to the next multiple of eight
    // columns of its line, counted before wrapping, so a wrapped row is
    // always as wide as the view. The caret keys (arrows, Home, End, PageUp
    // and PageDown by the rows that fit whole, Control for the ends of the
    // text) move a visible caret, Shift with them extends the selection; the
    // view follows the caret.
    qsizetype positionAt(const QPoint &viewportPoint) const;
    qsizetype rowCount() const;

    // The hexadecimal view: rows of sixteen bytes, each row its offset, the
    // bytes as hex pairs and the bytes as characters. The caret and the
    // selection then stand between bytes; positions stay character
    // positions. Ctrl+H in the box and "Ver en hexadecimal" switch it.
    void setHexView(bool on);
    bool isHexView() const;

    // The name the save dialog proposes for what was received (Ctrl+S,
    // "Guardar como…"), without a folder.
    void setSaveName(const QString &name);

    // The menu the box shows on a right click: "Copiar" (enabled only with a
    // selection; in the hexadecimal view the rows as shown), "Seleccionar
    // todo", "Copiar como hexadecimal" (the selected bytes as hex pairs),
    // "Ver en hexadecimal" (checked in that view; Ctrl+H), "Buscar…" (Ctrl+F,
    // the find bar), "Guardar como…" (Ctrl+S, the bytes received, to a
    // file) and "Registrar en archivo…" (Ctrl+L; checked while a session log
    // is open: every byte received, then every byte as it lands, to a file;
    // unticked, the log ends). The caller owns it.
    QMenu *createContextMenu(QWidget *parent);

    // The box's state, shared by its own files (ReceiveBox_p.h).
    struct Private;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void changeEvent(QEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    std::unique_ptr<Private> d;
};
