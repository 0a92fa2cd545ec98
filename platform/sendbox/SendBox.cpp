#include "SendBox.h"

#include "system/CodePage.h"
#include "system/SizedMimeData.h"

#include <QApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QTextBlock>

#include <algorithm>

SendBox::SendBox(QWidget *parent) : QPlainTextEdit(parent)
{
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    // Tab and Shift+Tab move along the window's tab order, as in a multi-line
    // edit box on Windows; Ctrl+Tab types a TAB (keyPressEvent).
    setTabChangesFocus(true);
}

void SendBox::setText(const QString &text)
{
    QString plain = text;
    plain.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    setPlainText(plain);
}

void SendBox::setTextColour(const QColor &colour)
{
    QPalette palette = this->palette();
    palette.setColor(QPalette::Text, colour);
    setPalette(palette);
}

void SendBox::setBackColour(const QColor &colour)
{
    QPalette palette = this->palette();
    palette.setColor(QPalette::Base, colour);
    setPalette(palette);
}

namespace {

bool isCtrlTab(const QKeyEvent &event)
{
    return event.key() == Qt::Key_Tab &&
           (event.modifiers() & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier |
                                 Qt::MetaModifier)) == Qt::ControlModifier;
}

// The keys that select, copy, cut, paste, undo and redo. A user presses them
// to edit the box, not to send their control codes (0x03 interrupts many
// servers); Ctrl with any other letter still sends its code.
bool isEditingShortcut(const QKeyEvent &event)
{
    const Qt::KeyboardModifiers modifiers =
        event.modifiers() &
        (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier | Qt::MetaModifier);
    if (modifiers & (Qt::AltModifier | Qt::MetaModifier))
        return false;
    if (modifiers & Qt::ControlModifier) {
        switch (event.key()) {
        case Qt::Key_A:
        case Qt::Key_C:
        case Qt::Key_V:
        case Qt::Key_X:
        case Qt::Key_Z:
        case Qt::Key_Y:
        case Qt::Key_Insert:
            return true;
        default:
            return false;
        }
    }
    return modifiers == Qt::ShiftModifier &&
           (event.key() == Qt::Key_Insert || event.key() == Qt::Key_Delete);
}

// The codes a key event produces, in order; none for keys that produce no
// character (arrows, function keys, modifiers alone, Delete), for Tab and
// Shift+Tab, and for the editing keys.
QList<int> keyAsciiCodes(const QKeyEvent &event)
{
    if (isEditingShortcut(event))
        return {};
    switch (event.key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return isCtrlTab(event) ? QList<int>{9} : QList<int>{};
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return {13};
    case Qt::Key_Backspace:
        return {8};
    case Qt::Key_Delete:
        return {};
    default:
        break;
    }
    QList<int> codes;
    for (const QChar character : event.text())
        codes.append(platform::system::codepage::charToAnsi(character));
    return codes;
}

} // namespace

void SendBox::keyPressEvent(QKeyEvent *event)
{
    for (const int code : keyAsciiCodes(*event))
        Q_EMIT keyPress(code);
    if (isCtrlTab(*event)) {
        // The text edit leaves Ctrl+Tab to the window; here it types.
        if (!isReadOnly())
            insertPlainText(QStringLiteral("\t"));
        event->accept();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void SendBox::inputMethodEvent(QInputMethodEvent *event)
{
    for (const QChar character : event->commitString())
        Q_EMIT keyPress(platform::system::codepage::charToAnsi(character));
    QPlainTextEdit::inputMethodEvent(event);
}

void SendBox::insertFromMimeData(const QMimeData *source)
{
    if (!takes(*source)) {
        QApplication::beep();
        return;
    }
    QPlainTextEdit::insertFromMimeData(source);
}

bool SendBox::takes(const QMimeData &source) const
{
    if (const auto *sized = qobject_cast<const SizedMimeData *>(&source);
        sized && sized->textLength() > kLargestPaste)
        return false;
    if (!source.hasText())
        return true;
    const QString text = source.text();
    if (text.size() > kLargestPaste)
        return false;
    // The lines the text makes, the first and the last joined to what stands
    // before and after the selection it replaces.
    const QTextCursor cursor = textCursor();
    const QTextBlock first = document()->findBlock(cursor.selectionStart());
    const QTextBlock last = document()->findBlock(cursor.selectionEnd());
    qsizetype line = cursor.selectionStart() - first.position();
    for (const QChar c : text) {
        if (c == QLatin1Char('\n')) {
            line = 0;
        } else if (++line > kLongestLine) {
            return false;
        }
    }
    const qsizetype after = last.position() + last.length() - 1 - cursor.selectionEnd();
    return line + after <= kLongestLine;
}
