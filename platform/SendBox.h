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

#include <QColor>
#include <QPlainTextEdit>

class SendBox final : public QPlainTextEdit
{
    Q_OBJECT

public:
    explicit SendBox(QWidget *parent = nullptr);
    Q_DISABLE_COPY_MOVE(SendBox)

    // Line breaks read back as CR LF, as they were put.
    QString Text() const;
    void setText(const QString &text);
    void setTextColour(const QColor &colour);
    void setBackColour(const QColor &colour);

Q_SIGNALS:
    void keyPress(int keyAscii);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;
};

// The codes a key event produces, in order; none for keys that produce no
// character (arrows, function keys, modifiers alone, Delete), for Tab and
// Shift+Tab, and for the editing keys.
QList<int> keyAsciiCodes(const QKeyEvent &event);
