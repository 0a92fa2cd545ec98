#include "ReceiveBox.h"

#include "ReceiveBox_p.h"
#include "receivebox/accessibility/ReceiveBoxAccessible.h"
#include "receivebox/find/FindBar.h"
#include "receivebox/save/TranscriptSaver.h"
#include "receivebox/views/CaretNavigation.h"
#include "receivebox/views/ClipboardText.h"
#include "receivebox/views/TextView.h"
#include "system/CodePage.h"
#include "system/Fonts.h"

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPainter>

#include <algorithm>
#include <cmath>

ReceiveBox::Private::Private(ReceiveBox *box)
    : q(box), text(platform::system::codepage::ansiTable()), view(std::make_unique<TextView>(text)),
      scroller(box, [this] { return rowCount(); }), blockPainter(cache), glyphPainter(cache),
      accessibleText(box), announcer(box, &accessibleText), logger(box, text.store())
{}

void ReceiveBox::Private::showMatch(qsizetype from, qsizetype to)
{
    q->setSelection(from, to);
    q->scrollToShow(to);
    q->scrollToShow(from);
}

void ReceiveBox::Private::clear()
{
    // A match found in the text going would be no match in the next.
    if (findBar)
        findBar->stopSearch();
    announcer.replacing(text.length());
    // The log goes on across the clear: the next bytes follow in its file.
    logger.clearing();
    text.clear(textColour.rgb());
    anchor = caret = 0;
    scroller.placeFirstRow(0);
}

void ReceiveBox::Private::appended(qsizetype from)
{
    scroller.rowsAdded();
    requestRepaint();
    announcer.appended(from);
}

void ReceiveBox::Private::selectionMoved()
{
    requestRepaint();
    announcer.selectionMoved(anchor, caret);
}

void ReceiveBox::Private::requestRepaint()
{
    if (!sincePaint.isValid() || sincePaint.elapsed() >= kFrameMs)
        q->viewport()->update();
    else if (!repaint.isActive())
        repaint.start(static_cast<int>(kFrameMs - sincePaint.elapsed()));
}

void ReceiveBox::Private::updateMetrics()
{
    const QFont font = q->font();
    const QFontMetrics metrics(font);
    cell.width = std::max(1, metrics.horizontalAdvance(QLatin1Char('M')));
    cell.height = std::max(1, metrics.height());
    cell.ascent = metrics.ascent();
    cache.setFont(font, cell);
}

void ReceiveBox::Private::updateGeometry()
{
    const QSize size = q->viewport()->size();
    const int newColumns = std::max(1, size.width() / cell.width);
    const int newRows = std::max(1, size.height() / cell.height);
    if (newColumns == lines().columns() && newRows == scroller.visibleRows())
        return;
    const qsizetype firstRow = scroller.firstRow();
    const bool atBottom = firstRow > 0 && firstRow >= scroller.maxFirstRow();
    if (newColumns != lines().columns()) {
        const qsizetype top = view->rewrapAnchor(firstRow);
        text.setColumns(newColumns);
        if (top >= 0)
            scroller.placeFirstRow(view->rowOfPosition(top));
    }
    scroller.setVisibleRows(newRows);
    if (atBottom)
        scroller.setFirstRow(scroller.maxFirstRow());
}

void ReceiveBox::Private::ensureVisible(qsizetype position)
{
    scroller.ensureVisible(rowColumnOf(position).row);
}

void ReceiveBox::Private::moveCaret(qsizetype position, bool extend)
{
    caret = position;
    if (!extend)
        anchor = position;
    ensureVisible(position);
    selectionMoved();
}

void ReceiveBox::Private::openFindBar()
{
    if (!findBar) {
        findBar = new FindBar(q, this);
        QObject::connect(findBar, &FindBar::shownChanged, q, [this] { layoutFindBar(); });
    }
    // A word or a few, not lines: a selection longer than a field would take
    // is not read at all.
    constexpr qsizetype kLongestSelectionTaken = 256;
    const QString selected = view->findText(selectionFrom(), selectionTo(), kLongestSelectionTaken);
    findBar->open(selected);
}

void ReceiveBox::Private::layoutFindBar()
{
    int height = 0;
    for (const QWidget *below : {static_cast<QWidget *>(findBar), logLine()})
        if (below && !below->isHidden())
            height += below->sizeHint().height();
    q->setViewportMargins(0, 0, 0, height);
    placeFindBar();
}

void ReceiveBox::Private::placeFindBar()
{
    const QRect area = q->viewport()->geometry();
    int top = area.bottom() + 1;
    for (QWidget *below : {static_cast<QWidget *>(findBar), logLine()}) {
        if (!below || below->isHidden())
            continue;
        const int height = below->sizeHint().height();
        below->setGeometry(area.left(), top, area.width(), height);
        top += height;
    }
}

QWidget *ReceiveBox::Private::logLine() const
{
    return logger.line();
}

void ReceiveBox::Private::setLogging(bool on)
{
    if (on && !logger.isLogging())
        logger.ask(saveName);
    else if (!on)
        logger.stop();
}

void ReceiveBox::Private::saveAs()
{
    // What was received up to the command, whatever arrives while the
    // dialog asks.
    std::shared_ptr<const ByteStore> store = text.store().share();
    auto *dialog = new QFileDialog(q->window(), QStringLiteral("Guardar como"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setDirectory(saveFolder.isEmpty() ? QDir::homePath() : saveFolder);
    dialog->selectFile(saveName);
    QObject::connect(dialog, &QFileDialog::fileSelected, q,
                     [this, store = std::move(store)](const QString &path) {
                         saveFolder = QFileInfo(path).absolutePath();
                         saveTo(store, path);
                     });
    dialog->open();
}

void ReceiveBox::Private::saveTo(std::shared_ptr<const ByteStore> store, const QString &path)
{
    new TranscriptSaver(std::move(store), path, q);
}

RowColours ReceiveBox::Private::colours() const
{
    const QPalette &palette = q->palette();
    return {backColour.rgb(), palette.color(QPalette::Highlight).rgb(),
            palette.color(QPalette::HighlightedText).rgb(), selectionFrom(), selectionTo()};
}

void ReceiveBox::Private::paint(QPainter &painter, const QRect &area)
{
    sincePaint.start();
    const ViewState shown{text, *view, scroller.firstRow(), cell, colours(), q->viewport()->size()};
    const qreal ratio = q->viewport()->devicePixelRatioF();
    if (std::abs(ratio - std::round(ratio)) > 1e-6)
        glyphPainter.paint(painter, area, shown);
    else
        blockPainter.paint(painter, area, shown, static_cast<int>(std::round(ratio)));
    drawCaret(painter, area.bottom() / cell.height);
}

void ReceiveBox::Private::drawCaret(QPainter &painter, int bottomRow)
{
    if (!q->hasFocus() || anchor != caret)
        return;
    const LineIndex::RowColumn at = rowColumnOf(caret);
    const qsizetype firstRow = scroller.firstRow();
    if (at.row < firstRow || at.row > firstRow + bottomRow)
        return;
    const int y = static_cast<int>(at.row - firstRow) * cell.height;
    auto bar = [&](qsizetype column) {
        const int x = std::min(static_cast<int>(column) * cell.width, q->viewport()->width() - 1);
        painter.fillRect(QRect(x, y, 1, cell.height), textColour);
    };
    bar(at.column);
    if (const int column = caretCharacterColumn(); column >= 0)
        bar(column);
}

void ReceiveBox::Private::autoScrollStep()
{
    const int height = q->viewport()->height();
    const int y = dragPoint.y();
    qsizetype delta = 0;
    if (y < 0)
        delta = -1 - (-y) / cell.height;
    else if (y >= height)
        delta = 1 + (y - height) / cell.height;
    if (delta == 0) {
        autoScroll.stop();
        return;
    }
    scroller.setFirstRow(scroller.firstRow() + delta);
    caret = hitTest(dragPoint, true);
    selectionMoved();
}

ReceiveBox::ReceiveBox(QWidget *parent) : QAbstractScrollArea(parent), d(new Private(this))
{
    platform::receivebox::accessibility::install(staticMetaObject,
                                                 [](QObject *widget) -> AccessibleText * {
                                                     auto *box = qobject_cast<ReceiveBox *>(widget);
                                                     return box ? &box->d->accessibleText : nullptr;
                                                 });
    setFont(platform::system::fixedsysFont());
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setAutoFillBackground(false);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setCursor(Qt::IBeamCursor);
    d->textColour = palette().color(QPalette::Window);
    d->backColour = palette().color(QPalette::WindowText);
    d->text.clear(d->textColour.rgb());
    d->updateMetrics();
    d->repaint.setSingleShot(true);
    connect(&d->repaint, &QTimer::timeout, viewport(), qOverload<>(&QWidget::update));
    connect(&d->logger, &SessionLogger::lineChanged, this, [this] { d->layoutFindBar(); });
    d->autoScroll.setInterval(Private::kAutoScrollMs);
    connect(&d->autoScroll, &QTimer::timeout, this, [this] { d->autoScrollStep(); });
    d->updateGeometry();
}

ReceiveBox::~ReceiveBox() = default;

void ReceiveBox::clear()
{
    d->clear();
    d->appended(0);
    d->scroller.sync();
}

qsizetype ReceiveBox::appendReceived(qsizetype count, const Fill &fill)
{
    const qsizetype from = d->text.length();
    const qsizetype appended = d->text.appendFilled(count, fill);
    d->logger.follow();
    d->appended(from);
    return appended;
}

qsizetype ReceiveBox::length() const
{
    return d->text.length();
}

QString ReceiveBox::mid(qsizetype from, qsizetype count) const
{
    return d->text.mid(from, count);
}

void ReceiveBox::setSelStart(qsizetype position)
{
    position = std::clamp<qsizetype>(position, 0, d->text.length());
    d->anchor = d->caret = position;
    d->snapSelectionToBytes();
    d->ensureVisible(position);
    d->selectionMoved();
}

void ReceiveBox::setTextColour(const QColor &colour)
{
    d->textColour = colour;
    d->text.setColour(colour.rgb());
    viewport()->update();
}

QColor ReceiveBox::textColour() const
{
    return d->textColour;
}

void ReceiveBox::setBackColour(const QColor &colour)
{
    d->backColour = colour;
    viewport()->update();
}

QColor ReceiveBox::backColour() const
{
    return d->backColour;
}

qsizetype ReceiveBox::selectionStart() const
{
    return d->selectionFrom();
}

qsizetype ReceiveBox::selectionEnd() const
{
    return d->selectionTo();
}

qsizetype ReceiveBox::caretPosition() const
{
    return d->caret;
}

void ReceiveBox::setSelection(qsizetype anchor, qsizetype position)
{
    d->anchor = std::clamp<qsizetype>(anchor, 0, d->text.length());
    d->caret = std::clamp<qsizetype>(position, 0, d->text.length());
    d->snapSelectionToBytes();
    d->selectionMoved();
}

QString ReceiveBox::selectedText() const
{
    return d->text.mid(d->selectionFrom(), d->selectionTo() - d->selectionFrom());
}

void ReceiveBox::selectAll()
{
    setSelection(0, d->text.length());
}

void ReceiveBox::copy() const
{
    if (d->selectionFrom() == d->selectionTo())
        return;
    if (QMimeData *copied = d->view->copy(d->selectionFrom(), d->selectionTo()))
        QGuiApplication::clipboard()->setMimeData(copied);
}

std::pair<qsizetype, qsizetype> ReceiveBox::wordAt(qsizetype position) const
{
    return platform::receivebox::views::caretnavigation::wordAt(
        d->text, std::clamp<qsizetype>(position, 0, d->text.length()));
}

std::pair<qsizetype, qsizetype> ReceiveBox::lineAt(qsizetype position) const
{
    const LineIndex::Line line = d->lines().lineAtPosition(position).line;
    return {line.start, line.nextStart()};
}

QRect ReceiveBox::characterRect(qsizetype position) const
{
    const LineIndex::RowColumn at = d->rowColumnOf(position);
    return {static_cast<int>(at.column) * d->cell.width,
            static_cast<int>(at.row - d->scroller.firstRow()) * d->cell.height, d->cell.width,
            d->cell.height};
}

void ReceiveBox::scrollToShow(qsizetype position)
{
    d->ensureVisible(std::clamp<qsizetype>(position, 0, d->text.length()));
    viewport()->update();
}

qsizetype ReceiveBox::positionAt(const QPoint &viewportPoint) const
{
    return d->hitTest(viewportPoint, false);
}

qsizetype ReceiveBox::rowCount() const
{
    return d->rowCount();
}

void ReceiveBox::setSaveName(const QString &name)
{
    d->saveName = name;
}

QMenu *ReceiveBox::createContextMenu(QWidget *parent)
{
    auto *menu = new QMenu(parent);
    QAction *copyAction = menu->addAction(QStringLiteral("Copiar"));
    copyAction->setShortcut(QKeySequence::Copy);
    copyAction->setEnabled(d->selectionFrom() != d->selectionTo());
    connect(copyAction, &QAction::triggered, this, &ReceiveBox::copy);
    QAction *selectAllAction = menu->addAction(QStringLiteral("Seleccionar todo"));
    selectAllAction->setShortcut(QKeySequence::SelectAll);
    selectAllAction->setEnabled(d->text.length() > 0);
    connect(selectAllAction, &QAction::triggered, this, &ReceiveBox::selectAll);
    QAction *copyHexAction = menu->addAction(QStringLiteral("Copiar como hexadecimal"));
    copyHexAction->setEnabled(d->selectionFrom() != d->selectionTo());
    connect(copyHexAction, &QAction::triggered, this, [this] { d->copyHex(false); });
    menu->addSeparator();
    QAction *hexAction = menu->addAction(QStringLiteral("Ver en hexadecimal"));
    hexAction->setCheckable(true);
    hexAction->setChecked(d->hexView);
    hexAction->setShortcut(QKeyCombination(Qt::ControlModifier, Qt::Key_H));
    connect(hexAction, &QAction::toggled, this, &ReceiveBox::setHexView);
    menu->addSeparator();
    QAction *findAction = menu->addAction(QStringLiteral("Buscar\u2026"));
    findAction->setShortcut(QKeyCombination(Qt::ControlModifier, Qt::Key_F));
    connect(findAction, &QAction::triggered, this, [this] { d->openFindBar(); });
    QAction *saveAction = menu->addAction(QStringLiteral("Guardar como\u2026"));
    saveAction->setShortcut(QKeyCombination(Qt::ControlModifier, Qt::Key_S));
    connect(saveAction, &QAction::triggered, this, [this] { d->saveAs(); });
    QAction *logAction = menu->addAction(QStringLiteral("Registrar en archivo\u2026"));
    logAction->setCheckable(true);
    logAction->setChecked(d->logger.isLogging());
    logAction->setShortcut(QKeyCombination(Qt::ControlModifier, Qt::Key_L));
    connect(logAction, &QAction::toggled, this, [this](bool on) { d->setLogging(on); });
    return menu;
}
