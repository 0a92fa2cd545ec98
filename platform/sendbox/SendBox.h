#pragma once

// The send box: a multi-line plain-text box that reports each character a
// key press produces, as its ANSI code, before the box handles the key.
//
// Codes: Enter 13, Backspace 8, Ctrl+Tab 9, printable characters their ANSI
// code (63 '?' when the character has none), control combinations their
// control code where the key produces one. Tab and Shift+Tab move the focus
// along the window's tab order and raise nothing; so do the editing keys
// (Ctrl+A, C, V, X, Z, Y, Ctrl+Insert, Shift+Insert, Shift+Delete), which
// edit the box. Characters composed by dead keys or an input method raise one
// keyPress each when committed; text still being composed raises none. Text
// pasted or dropped raises none.
//
// A paste or drop is refused, with a beep, when it would leave a line longer
// than kLongestLine characters or brings more than kLargestPaste: a line is
// laid out whole at every change, in a time that grows with the square of its
// length, so one of a megabyte would hold the window for a minute; a typed
// line only grows a character at a time. A copy from the receive box is
// measured without being read.

#include <QColor>
#include <QPlainTextEdit>

class SendBox final : public QPlainTextEdit
{
    Q_OBJECT

public:
    static constexpr qsizetype kLongestLine = 16 * 1024;
    static constexpr qsizetype kLargestPaste = 1024 * 1024;

    explicit SendBox(QWidget *parent = nullptr);
    Q_DISABLE_COPY_MOVE(SendBox)

    void setText(const QString &text);
    void setTextColour(const QColor &colour);
    void setBackColour(const QColor &colour);

Q_SIGNALS:
    void keyPress(int keyAscii);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;
    void insertFromMimeData(const QMimeData *source) override;

private:
    bool takes(const QMimeData &source) const;
};
