#include "SendBox.h"

#include "CodePage.h"

#include <QInputMethodEvent>
#include <QKeyEvent>

SendBox::SendBox(QWidget *parent) : QPlainTextEdit(parent)
{
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setTabChangesFocus(false);
}

QString SendBox::Text() const
{
    QString text = toPlainText();
    text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return text;
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

QList<int> keyAsciiCodes(const QKeyEvent &event)
{
    switch (event.key()) {
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
        codes.append(platform::codepage::charToAnsi(character));
    return codes;
}

void SendBox::keyPressEvent(QKeyEvent *event)
{
    for (const int code : keyAsciiCodes(*event))
        Q_EMIT keyPress(code);
    QPlainTextEdit::keyPressEvent(event);
}

void SendBox::inputMethodEvent(QInputMethodEvent *event)
{
    for (const QChar character : event->commitString())
        Q_EMIT keyPress(platform::codepage::charToAnsi(character));
    QPlainTextEdit::inputMethodEvent(event);
}
