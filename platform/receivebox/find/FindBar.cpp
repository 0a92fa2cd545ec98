#include "FindBar.h"

#include "system/Fonts.h"
#include "transcript/ByteSearch.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>

#include <algorithm>

namespace {

const QString &notFoundText()
{
    static const QString text = QStringLiteral("Sin coincidencias");
    return text;
}

const QString &fromTheStartText()
{
    static const QString text = QStringLiteral("Desde el principio");
    return text;
}

const QString &fromTheEndText()
{
    static const QString text = QStringLiteral("Desde el final");
    return text;
}

const QString &searchingText()
{
    static const QString text = QStringLiteral("Buscando\u2026");
    return text;
}

const QString &bytesText()
{
    static const QString text = QStringLiteral("Bytes");
    return text;
}

const QString &textText()
{
    static const QString text = QStringLiteral("Texto");
    return text;
}

// A state said with the kind of search before it, as the hex view says it;
// only the kind when the state has no words (found, not wrapped).
QString withKind(const QString &kind, const QString &state)
{
    return state.isEmpty() ? kind : kind + QStringLiteral(": ") + state;
}

} // namespace

FindBar::FindBar(QWidget *view, FindTarget *target)
    : QWidget(view), m_view(view), m_target(target), m_field(new QLineEdit(this)),
      m_previous(new QPushButton(QStringLiteral("Anterior"), this)),
      m_next(new QPushButton(QStringLiteral("Siguiente"), this)),
      m_matchCase(
          new QCheckBox(QStringLiteral("Coincidir may\u00FAsculas y min\u00FAsculas"), this)),
      m_status(new QLabel(this)), m_close(new QToolButton(this)),
      m_search([target] { return target->searchedText(); }, this)
{
    setObjectName(QStringLiteral("findBar"));
    setAccessibleName(QStringLiteral("Buscar"));
    // The box's font is the transcript's; the bar's controls read as the
    // window's other controls do.
    setFont(platform::system::msSansSerifFont());
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);

    m_field->setObjectName(QStringLiteral("findText"));
    m_field->setAccessibleName(QStringLiteral("Buscar"));
    m_previous->setObjectName(QStringLiteral("findPrevious"));
    m_next->setObjectName(QStringLiteral("findNext"));
    // Enter on a button presses it.
    m_previous->setAutoDefault(true);
    m_next->setAutoDefault(true);
    m_matchCase->setObjectName(QStringLiteral("findMatchCase"));
    m_status->setObjectName(QStringLiteral("findStatus"));
    // Wide enough for the longest it says, so that the bar never moves.
    int widest = 0;
    for (const QString *state :
         {&notFoundText(), &fromTheStartText(), &fromTheEndText(), &searchingText()}) {
        for (const QString *kind : {&bytesText(), &textText()})
            widest = std::max(widest, fontMetrics().horizontalAdvance(withKind(*kind, *state)));
    }
    m_status->setMinimumWidth(widest);
    m_close->setObjectName(QStringLiteral("findClose"));
    m_close->setAccessibleName(QStringLiteral("Cerrar"));
    m_close->setToolTip(QStringLiteral("Cerrar"));
    m_close->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton));
    m_close->setAutoRaise(true);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 2, 2, 2);
    layout->setSpacing(4);
    layout->addWidget(m_field, 1);
    layout->addWidget(m_previous);
    layout->addWidget(m_next);
    layout->addWidget(m_matchCase);
    layout->addWidget(m_status);
    layout->addWidget(m_close);

    // From the box into the bar, in the order the controls stand.
    setTabOrder(view, m_field);
    setTabOrder(m_field, m_previous);
    setTabOrder(m_previous, m_next);
    setTabOrder(m_next, m_matchCase);
    setTabOrder(m_matchCase, m_close);

    connect(m_previous, &QPushButton::clicked, this, &FindBar::findPrevious);
    connect(m_next, &QPushButton::clicked, this, &FindBar::findNext);
    connect(m_close, &QToolButton::clicked, this, &FindBar::dismiss);
    connect(m_field, &QLineEdit::textEdited, this, [this] { say({}); });
    connect(m_matchCase, &QCheckBox::toggled, this, [this] { say({}); });
    connect(&m_search, &BackgroundFind::found, this, &FindBar::showFound);
    connect(&m_search, &BackgroundFind::notFound, this, &FindBar::showNotFound);
    hide();
}

void FindBar::open(const QString &text)
{
    if (!text.isEmpty()) {
        m_field->setText(text);
        say({});
    }
    show();
    Q_EMIT shownChanged();
    m_field->setFocus(Qt::ShortcutFocusReason);
    m_field->selectAll();
}

void FindBar::dismiss()
{
    stopSearch();
    say({});
    hide();
    Q_EMIT shownChanged();
    m_view->setFocus(Qt::ShortcutFocusReason);
}

void FindBar::findNext()
{
    find(true);
}

void FindBar::findPrevious()
{
    find(false);
}

void FindBar::stopSearch()
{
    if (m_search.isRunning()) {
        m_search.stop();
        say({});
    }
}

bool FindBar::hasText() const
{
    return !m_field->text().isEmpty();
}

void FindBar::keyPressEvent(QKeyEvent *event)
{
    const bool shift = (event->modifiers() & Qt::ShiftModifier) != 0;
    switch (event->key()) {
    case Qt::Key_Escape:
        dismiss();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_F3:
        find(!shift);
        return;
    default:
        break;
    }
    if (event->keyCombination() == QKeyCombination(Qt::ControlModifier, Qt::Key_F)) {
        open({});
        return;
    }
    // What is typed in the bar is the bar's: it never moves the box's caret.
    event->accept();
}

void FindBar::find(bool forward)
{
    const QString text = m_field->text();
    if (text.isEmpty()) {
        stopSearch();
        say({});
        return;
    }
    m_forward = forward;
    // Forwards from just after the start of the selection, so that the
    // match selected is passed; backwards from before it.
    const qsizetype from = m_target->selectionFrom();
    const bool selected = m_target->selectionTo() > from;
    const qsizetype origin = forward && selected ? from + 1 : from;
    const bool hex = m_target->searchesBytes();
    const QByteArray bytes = hex ? ByteSearch::hexPairs(text) : QByteArray();
    m_kind = !hex ? Kind::Text : bytes.isEmpty() ? Kind::TextInHex : Kind::Bytes;
    tell(searchingText());
    if (m_kind == Kind::Bytes)
        m_search.startBytes(bytes, forward, origin);
    else
        m_search.start(text, m_matchCase->isChecked(), forward, origin);
}

void FindBar::showFound(qsizetype start, qsizetype length, bool wrapped)
{
    m_target->showMatch(start, start + length);
    tell(wrapped ? (m_forward ? fromTheStartText() : fromTheEndText()) : QString());
}

void FindBar::showNotFound()
{
    tell(notFoundText());
}

void FindBar::tell(const QString &state)
{
    switch (m_kind) {
    case Kind::Text:
        say(state);
        return;
    case Kind::TextInHex:
        say(withKind(textText(), state));
        return;
    case Kind::Bytes:
        say(withKind(bytesText(), state));
        return;
    }
}

void FindBar::say(const QString &text)
{
    m_status->setText(text);
}
