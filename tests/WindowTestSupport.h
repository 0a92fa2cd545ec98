#pragma once

// What the window tests share: a watcher that answers the modal message box as a user would, and
// small steps of driving the main window.

#include "NetworkFixtures.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <algorithm>

// Answers every modal message box with OK, keeping what it showed.
class MessageBoxWatcher final : public QObject
{
    Q_OBJECT

public:
    MessageBoxWatcher()
    {
        m_timer.setInterval(0);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            texts.append(box->text());
            titles.append(box->windowTitle());
            icons.append(box->icon());
            buttonCount.append(box->buttons().size());
            box->button(QMessageBox::Ok)->click();
        });
        m_timer.start();
    }

    QStringList texts;
    QStringList titles;
    QList<QMessageBox::Icon> icons;
    QList<qsizetype> buttonCount;

private:
    QTimer m_timer;
};

// Puts a text into an editable combo box as a user does: the field takes the
// focus, what it holds is selected with Ctrl+A and typed over key by key. A
// text that holds a character no key types into a one-line field (a line
// end) is pasted.
inline void typeInCombo(QComboBox *combo, const QString &text)
{
    QLineEdit *edit = combo->lineEdit();
    edit->setFocus(Qt::MouseFocusReason);
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_Delete);
    const bool typeable = std::all_of(text.cbegin(), text.cend(),
                                      [](QChar character) { return character.isPrint(); });
    if (typeable) {
        QTest::keyClicks(edit, text);
    } else {
        QGuiApplication::clipboard()->setText(text);
        QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
    }
}

// The widget holds its window's focus: it has the keyboard whenever the
// window is active, whether or not the platform has activated it again after
// a modal box or a second window.
inline bool hasWindowFocus(QWidget *widget)
{
    QWidget *focused = widget->window()->focusWidget();
    return focused && (focused == widget || widget->isAncestorOf(focused));
}
