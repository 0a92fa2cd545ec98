#pragma once

// The receive box's find bar: a row of controls that sits inside the box,
// over its bottom edge (the box's view gives up that much height while it
// shows, laid out on shownChanged()), so that the window's layout never
// changes. What it searches, and where a match shows, it reads through a
// FindTarget. A text field, "Anterior", "Siguiente" and "Coincidir
// mayúsculas y minúsculas"; Enter or F3 finds the next match, Shift+Enter
// or Shift+F3 the previous one, Escape closes the bar and gives the focus
// back to the box.
//
// The search runs on a thread of its own (BackgroundFind). The match found
// becomes the box's selection, scrolled into view, so that Ctrl+C copies it
// and a screen reader hears it; "Sin coincidencias" and a search that went
// round past the end ("Desde el principio") or the start ("Desde el final")
// are said in the bar itself.
//
// In the hexadecimal view, a text of hex pairs ("0d 0a 00") is looked for
// as those bytes, and what the bar says starts with the kind of search it
// made: "Bytes" or "Texto".

#include "BackgroundFind.h"
#include "FindTarget.h"

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

class FindBar final : public QWidget
{
    Q_OBJECT

public:
    // A child of the view it sits in, which gets the focus back when the
    // bar closes; the target is what it searches.
    FindBar(QWidget *view, FindTarget *target);
    Q_DISABLE_COPY_MOVE(FindBar)

    // Shows the bar with the focus in its field, its text selected; the
    // text, when given, replaces the field's.
    void open(const QString &text);
    // Hides the bar; the focus goes back to the box.
    void dismiss();
    void findNext();
    void findPrevious();
    // The box was emptied: a search going is dropped.
    void stopSearch();
    bool hasText() const;

Q_SIGNALS:
    // The bar showed or hid: the view gives up its height, or takes it back.
    void shownChanged();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    // What the search going looks for; the hex view tells the kinds apart.
    enum class Kind { Text, TextInHex, Bytes };

    void find(bool forward);
    void showFound(qsizetype start, qsizetype length, bool wrapped);
    void showNotFound();
    // Says a state of the search going, in words of its kind.
    void tell(const QString &state);
    void say(const QString &text);

    QWidget *m_view;
    FindTarget *m_target;
    QLineEdit *m_field;
    QPushButton *m_previous;
    QPushButton *m_next;
    QCheckBox *m_matchCase;
    QLabel *m_status;
    QToolButton *m_close;
    BackgroundFind m_search;
    bool m_forward = true;
    Kind m_kind = Kind::Text;
};
