// Both windows as assistive technology meets them, through QAccessible's
// interfaces: every control has a name (its label, its frame or its own
// caption), the status line is the window's status bar, and each change of
// the status line is announced once, with the new caption as the name, and
// shown once as a notice. The receive box reads as a terminal's text, in
// pieces, and announces what arrives.

#include "ReceiveBoxProbe.h"
#include "WindowTestSupport.h"
#include "windows/tcp_client_p.h"

#include "connection/Connection.h"
#include "receivebox/ReceiveBox.h"
#include "sendbox/SendBox.h"
#include "system/CodePage.h"
#include "system/ProcessExit_p.h"
#include "windows/proxy_settings.h"
#include "windows/tcp_client.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>

// Qt delivers accessibility events only while its platform accessibility is
// active, that is while an assistive technology listens; its own tests switch
// it on the same way.
#include <private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>

namespace {

void ignoreExit(int) {}

struct Announcement
{
    QAccessible::Event type;
    QAccessible::Role role;
    QString name;
    QString text;            // what a text event says, in words
    qsizetype position = -1; // of an insertion
    QString inserted;
};

QString describeTextEvent(QAccessibleEvent *event)
{
    switch (event->type()) {
    case QAccessible::TextInserted: {
        auto *inserted = static_cast<QAccessibleTextInsertEvent *>(event);
        return QStringLiteral("inserted %1 %2")
            .arg(inserted->changePosition())
            .arg(inserted->textInserted());
    }
    case QAccessible::TextRemoved: {
        auto *removed = static_cast<QAccessibleTextRemoveEvent *>(event);
        return QStringLiteral("removed %1 %2")
            .arg(removed->changePosition())
            .arg(removed->textRemoved());
    }
    case QAccessible::TextSelectionChanged: {
        auto *selection = static_cast<QAccessibleTextSelectionEvent *>(event);
        return QStringLiteral("selected %1-%2 caret %3")
            .arg(selection->selectionStart())
            .arg(selection->selectionEnd())
            .arg(selection->cursorPosition());
    }
    case QAccessible::TextCaretMoved:
        return QStringLiteral("caret %1")
            .arg(static_cast<QAccessibleTextCursorEvent *>(event)->cursorPosition());
    default:
        return QString();
    }
}

QObject *g_watched = nullptr;
// A scroll bar whose moves are counted, as each is told as a value change.
QObject *g_bar = nullptr;
int g_barMoves = 0;
QList<Announcement> g_announcements;

void recordAnnouncement(QAccessibleEvent *event)
{
    if (g_bar && event->object() == g_bar && event->type() == QAccessible::ValueChanged)
        ++g_barMoves;
    // The watched object, and the objects it owns (the status line's notices).
    if (!g_watched || !event->object() ||
        (event->object() != g_watched && event->object()->parent() != g_watched))
        return;
    QAccessibleInterface *iface = event->accessibleInterface();
    Announcement announcement{event->type(),
                              iface ? iface->role() : QAccessible::NoRole,
                              iface ? iface->text(QAccessible::Name) : QString(),
                              describeTextEvent(event),
                              -1,
                              QString()};
    if (event->type() == QAccessible::TextInserted) {
        auto *inserted = static_cast<QAccessibleTextInsertEvent *>(event);
        announcement.position = inserted->changePosition();
        announcement.inserted = inserted->textInserted();
    }
    g_announcements.append(announcement);
}

// The caption a widget shows: a label's text, a button's, a frame's title.
QString captionOf(const QWidget *widget)
{
    if (auto *label = qobject_cast<const QLabel *>(widget))
        return label->text();
    if (auto *button = qobject_cast<const QAbstractButton *>(widget))
        return button->text();
    if (auto *frame = qobject_cast<const QGroupBox *>(widget))
        return frame->title();
    return QString();
}

// Every object below `iface` that a screen reader would announce by name but
// has none; structural parts (the client area, scroll bars, the menu bar) are
// announced by role alone.
void collectUnnamed(QAccessibleInterface *iface, const QString &path, QStringList &unnamed)
{
    for (int i = 0; i < iface->childCount(); ++i) {
        QAccessibleInterface *child = iface->child(i);
        if (!child)
            continue;
        const QObject *object = child->object();
        const QString here =
            path + QLatin1Char('/') +
            (object && !object->objectName().isEmpty()
                 ? object->objectName()
                 : QString::fromLatin1(object ? object->metaObject()->className() : "?"));
        static const QList<QAccessible::Role> structural = {
            QAccessible::Client, QAccessible::ScrollBar, QAccessible::MenuBar};
        if (!structural.contains(child->role()) && child->text(QAccessible::Name).isEmpty())
            unnamed << here;
        collectUnnamed(child, here, unnamed);
    }
}

} // namespace

class TestAccessibility : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void controlsAreNamed_data();
    void controlsAreNamed();
    void noControlIsUnnamed_data();
    void noControlIsUnnamed();
    void statusLineIsTheStatusBar();
    void statusChangesAreAnnounced_data();
    void statusChangesAreAnnounced();
    void receiveBoxReadsAsText();
    void receiveBoxPieces_data();
    void receiveBoxPieces();
    void receiveBoxReadsLongLinesInStretches();
    void receiveBoxAnnouncesChanges();
    void receiveBoxFloodIsCoalesced();
    void receiveBoxTellsWhatWaitsBeforeFocusLeaves();
    void receiveBoxGeometry();
    void receiveBoxReadsHexRowsAsLines();

private:
    QWidget *windowNamed(const QString &window);
    std::unique_ptr<tcp_client> m_window;
};

void TestAccessibility::initTestCase()
{
    platform::system::setExitHandler(&ignoreExit);
    QPlatformAccessibility *accessibility =
        QGuiApplicationPrivate::platformIntegration()->accessibility();
    QVERIFY2(accessibility, "the platform has no accessibility");
    accessibility->setActive(true);
    QVERIFY(QAccessible::isActive());
    QAccessible::installUpdateHandler(&recordAnnouncement);
}

void TestAccessibility::init()
{
    m_window = std::make_unique<tcp_client>();
    m_window->show();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
}

void TestAccessibility::cleanup()
{
    g_watched = nullptr;
    g_bar = nullptr;
    g_barMoves = 0;
    g_announcements.clear();
    m_window.reset();
}

QWidget *TestAccessibility::windowNamed(const QString &window)
{
    if (window == QLatin1String("proxy_settings")) {
        controls(*m_window).proxy_settings_menu->trigger();
        return m_window->proxySettingsWindow();
    }
    return m_window.get();
}

void TestAccessibility::controlsAreNamed_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("control");
    // "edit" or "list" for those parts of a combo box, else empty.
    QTest::addColumn<QString>("part");
    // The widget whose caption names the control; empty for its own caption.
    QTest::addColumn<QString>("namedAfter");

    const auto row = [](const char *window, const char *control, const char *part,
                        const char *namedAfter) {
        QTest::addRow("%s %s%s%s", window, control, *part ? " " : "", part)
            << QString::fromLatin1(window) << QString::fromLatin1(control)
            << QString::fromLatin1(part) << QString::fromLatin1(namedAfter);
    };
    for (const char *part : {"", "edit", "list"}) {
        row("tcp_client", "host_remoto", part, "Label1");
        row("tcp_client", "puerto_remoto", part, "Label2");
        row("proxy_settings", "proxy", part, "Label1");
        row("proxy_settings", "puerto", part, "Label2");
    }
    row("tcp_client", "txtSend", "", "Frame2");
    row("tcp_client", "txtRcv", "", "Frame1");
    for (const char *own : {"usar_proxy", "cmdConnect", "cmdDisconnect", "send_button", "Estado",
                            "Frame1", "Frame2", "Label1", "Label2"})
        row("tcp_client", own, "", "");
    for (const char *own : {"OKButton", "Label1", "Label2"})
        row("proxy_settings", own, "", "");
}

void TestAccessibility::controlsAreNamed()
{
    QFETCH(QString, window);
    QFETCH(QString, control);
    QFETCH(QString, part);
    QFETCH(QString, namedAfter);

    QWidget *top = windowNamed(window);
    QVERIFY(top);
    auto *widget = top->findChild<QWidget *>(control);
    QVERIFY(widget);
    QObject *target = widget;
    if (!part.isEmpty()) {
        auto *combo = qobject_cast<QComboBox *>(widget);
        QVERIFY(combo);
        target = part == QLatin1String("edit") ? static_cast<QObject *>(combo->lineEdit())
                                               : static_cast<QObject *>(combo->view());
    }
    const QString expected =
        captionOf(namedAfter.isEmpty() ? widget : top->findChild<QWidget *>(namedAfter));
    QVERIFY2(!expected.isEmpty(), "the naming widget shows no caption");

    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(target);
    QVERIFY(iface);
    QCOMPARE(iface->text(QAccessible::Name), expected);
}

void TestAccessibility::noControlIsUnnamed_data()
{
    QTest::addColumn<QString>("window");
    QTest::newRow("main window") << QStringLiteral("tcp_client");
    QTest::newRow("proxy settings window") << QStringLiteral("proxy_settings");
}

void TestAccessibility::noControlIsUnnamed()
{
    QFETCH(QString, window);
    QWidget *top = windowNamed(window);
    QVERIFY(top);
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(top);
    QVERIFY(iface);
    QVERIFY(iface->childCount() > 0);
    QStringList unnamed;
    collectUnnamed(iface, window, unnamed);
    QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(QStringLiteral(", "))));
}

void TestAccessibility::statusLineIsTheStatusBar()
{
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(controls(*m_window).Estado);
    QVERIFY(iface);
    QCOMPARE(iface->role(), QAccessible::StatusBar);
    QCOMPARE(iface->text(QAccessible::Name), QStringLiteral("Listo"));
}

void TestAccessibility::statusChangesAreAnnounced_data()
{
    QTest::addColumn<bool>("peerCloses");
    QTest::addColumn<QStringList>("announced");
    QTest::newRow("the user disconnects")
        << false << QStringList{status::connecting(), status::connected(), status::disconnected()};
    QTest::newRow("the remote end closes")
        << true << QStringList{status::connecting(), status::connected(), status::closedByPeer()};
}

void TestAccessibility::statusChangesAreAnnounced()
{
    QFETCH(bool, peerCloses);
    QFETCH(QStringList, announced);

    tcp_client &w = *m_window;
    LoopbackPeer peer;
    g_watched = controls(w).Estado;
    typeInCombo(controls(w).host_remoto, QStringLiteral("127.0.0.1"));
    typeInCombo(controls(w).puerto_remoto, peer.portText());
    QTest::mouseClick(controls(w).cmdConnect, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(controls(w).Estado->text(), status::connected(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(peer.socket(), 10000);
    if (peerCloses)
        peer.socket()->disconnectFromHost();
    else
        QTest::mouseClick(controls(w).cmdDisconnect, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(controls(w).Estado->text(), announced.last(), 10000);

    // One name change per caption, the name already the new caption when it
    // is announced; and one notice shown per caption, named with it, which
    // screen readers speak wherever the focus is. Nothing else about the
    // status line.
    QStringList names;
    QStringList notices;
    for (const Announcement &announcement : g_announcements) {
        if (announcement.type == QAccessible::ObjectShow) {
            QCOMPARE(announcement.role, QAccessible::Notification);
            notices << announcement.name;
            continue;
        }
        QCOMPARE(announcement.type, QAccessible::NameChanged);
        names << announcement.name;
    }
    QCOMPARE(names, announced);
    QCOMPARE(notices, announced);
}

void TestAccessibility::receiveBoxReadsAsText()
{
    ReceiveBox &box = *controls(*m_window).txtRcv;
    putText(box, QStringLiteral("hola mundo\r\nsegunda\nfin"));
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(&box);
    QVERIFY(iface);
    // A terminal: screen readers speak what arrives in it while it has the
    // focus.
    QCOMPARE(iface->role(), QAccessible::Terminal);
    QVERIFY(iface->state().readOnly);
    QVERIFY(iface->state().multiLine);
    QCOMPARE(iface->text(QAccessible::Name), controls(*m_window).Frame1->title());
    QAccessibleTextInterface *text = iface->textInterface();
    QVERIFY(text);
    QCOMPARE(text->characterCount(), 23);
    QCOMPARE(text->text(0, 23), boxText(box));
    QCOMPARE(text->text(5, 10), QStringLiteral("mundo"));
    QCOMPARE(text->text(20, 99), QStringLiteral("fin"));
    QCOMPARE(text->text(-5, 4), QStringLiteral("hola"));

    // The caret and the selection, both ways.
    text->setSelection(0, 5, 10);
    QCOMPARE(box.selectedText(), QStringLiteral("mundo"));
    QCOMPARE(text->selectionCount(), 1);
    int start = -1;
    int end = -1;
    text->selection(0, &start, &end);
    QCOMPARE(start, 5);
    QCOMPARE(end, 10);
    text->removeSelection(0);
    QCOMPARE(text->selectionCount(), 0);
    QCOMPARE(box.selectedText(), QString());
    text->setCursorPosition(12);
    QCOMPARE(box.selectionStart(), 12);
    QCOMPARE(text->cursorPosition(), 12);

    // No attributes anywhere: one run, the whole text, wherever it is asked.
    for (const int offset : {0, 7, 22}) {
        text->attributes(offset, &start, &end);
        QCOMPARE(start, 0);
        QCOMPARE(end, 23);
    }
}

void TestAccessibility::receiveBoxPieces_data()
{
    // "hola mundo\r\nsegunda\nfin": lines at 0, 12 and 20; 23 characters.
    QTest::addColumn<QString>("direction");
    QTest::addColumn<int>("offset");
    QTest::addColumn<QAccessible::TextBoundaryType>("boundary");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("end");
    const auto row = [](const char *name, const char *direction, int offset,
                        QAccessible::TextBoundaryType boundary, const QString &expected, int start,
                        int end) {
        QTest::newRow(name) << QString::fromLatin1(direction) << offset << boundary << expected
                            << start << end;
    };
    row("a character", "at", 2, QAccessible::CharBoundary, QStringLiteral("l"), 2, 3);
    row("a word", "at", 6, QAccessible::WordBoundary, QStringLiteral("mundo"), 5, 10);
    row("a space between words", "at", 4, QAccessible::WordBoundary, QStringLiteral(" "), 4, 5);
    row("a line ending", "at", 10, QAccessible::WordBoundary, QStringLiteral("\r"), 10, 11);
    row("a line with its CR LF", "at", 2, QAccessible::LineBoundary,
        QStringLiteral("hola mundo\r\n"), 0, 12);
    row("inside the CR LF", "at", 11, QAccessible::LineBoundary, QStringLiteral("hola mundo\r\n"),
        0, 12);
    row("the last, open line", "at", 21, QAccessible::LineBoundary, QStringLiteral("fin"), 20, 23);
    row("the open line at its end, where the caret follows arrivals", "at", 23,
        QAccessible::LineBoundary, QStringLiteral("fin"), 20, 23);
    row("past the end", "at", 23, QAccessible::CharBoundary, QString(), 23, 23);
    row("everything", "at", 7, QAccessible::NoBoundary,
        QStringLiteral("hola mundo\r\nsegunda\nfin"), 0, 23);
    row("the line before", "before", 14, QAccessible::LineBoundary,
        QStringLiteral("hola mundo\r\n"), 0, 12);
    row("the line before, from the end", "before", 23, QAccessible::LineBoundary,
        QStringLiteral("segunda\n"), 12, 20);
    row("nothing before the first line", "before", 2, QAccessible::LineBoundary, QString(), -1, -1);
    row("the word before", "before", 6, QAccessible::WordBoundary, QStringLiteral(" "), 4, 5);
    row("the line after", "after", 2, QAccessible::LineBoundary, QStringLiteral("segunda\n"), 12,
        20);
    row("nothing after the last line", "after", 21, QAccessible::LineBoundary, QString(), -1, -1);
    row("the word after", "after", 1, QAccessible::WordBoundary, QStringLiteral(" "), 4, 5);
}

void TestAccessibility::receiveBoxPieces()
{
    QFETCH(QString, direction);
    QFETCH(int, offset);
    QFETCH(QAccessible::TextBoundaryType, boundary);
    QFETCH(QString, expected);
    QFETCH(int, start);
    QFETCH(int, end);
    ReceiveBox &box = *controls(*m_window).txtRcv;
    putText(box, QStringLiteral("hola mundo\r\nsegunda\nfin"));
    QAccessibleTextInterface *text = QAccessible::queryAccessibleInterface(&box)->textInterface();
    int gotStart = 0;
    int gotEnd = 0;
    const QString got = direction == QLatin1String("before")
                            ? text->textBeforeOffset(offset, boundary, &gotStart, &gotEnd)
                        : direction == QLatin1String("after")
                            ? text->textAfterOffset(offset, boundary, &gotStart, &gotEnd)
                            : text->textAtOffset(offset, boundary, &gotStart, &gotEnd);
    QCOMPARE(got, expected);
    QCOMPARE(gotStart, start);
    QCOMPARE(gotEnd, end);
}

void TestAccessibility::receiveBoxReadsLongLinesInStretches()
{
    // A line of megabytes, or the whole of a long text, is given a bounded
    // stretch at a time, whose offsets say where it lies.
    ReceiveBox &box = *controls(*m_window).txtRcv;
    const QByteArray piece(64 * 1024, 'x');
    for (int n = 0; n < 64; ++n)
        appendBytes(box, piece);
    putText(box, QStringLiteral("\r\nfin"));
    QAccessibleTextInterface *text = QAccessible::queryAccessibleInterface(&box)->textInterface();
    const qsizetype before = charactersRead();
    for (const QAccessible::TextBoundaryType boundary :
         {QAccessible::LineBoundary, QAccessible::WordBoundary, QAccessible::NoBoundary}) {
        int start = 0;
        int end = 0;
        const QString got = text->textAtOffset(2 * 1024 * 1024, boundary, &start, &end);
        // The whole text is given from its start.
        if (boundary != QAccessible::NoBoundary)
            QVERIFY(start <= 2 * 1024 * 1024 && 2 * 1024 * 1024 < end);
        QVERIFY2(end - start <= 1024 * 1024, qPrintable(QString::number(end - start)));
        QCOMPARE(got, box.mid(start, end - start));
    }
    QVERIFY(text->text(0, text->characterCount()).size() <= 1024 * 1024);
    QVERIFY(charactersRead() - before < 4 * 1024 * 1024);
}

void TestAccessibility::receiveBoxAnnouncesChanges()
{
    ReceiveBox &box = *controls(*m_window).txtRcv;
    g_watched = &box;

    putText(box, QStringLiteral("hola"));
    appendBytes(box, QByteArrayView(" \xF1", 2));
    box.setSelStart(box.length());
    box.setSelStart(box.length()); // no move, nothing to say
    box.setSelection(1, 3);
    setBoxText(box, QStringLiteral("otra"));

    // Told at once after a quiet spell; what follows within a tenth of a
    // second is told together, the selection as it ends up, and all of it
    // before the text is replaced.
    const QStringList expected{
        QStringLiteral("inserted 0 hola"),      QStringLiteral("inserted 4  \u00F1"),
        QStringLiteral("selected 1-3 caret 3"), QStringLiteral("removed 0 hola \u00F1"),
        QStringLiteral("inserted 0 otra"),
    };
    auto said = [] {
        QStringList texts;
        for (const Announcement &announcement : g_announcements)
            if (!announcement.text.isEmpty())
                texts << announcement.text;
        return texts;
    };
    QTRY_COMPARE(said(), expected);
}

void TestAccessibility::receiveBoxFloodIsCoalesced()
{
    // A stream of lines arriving as fast as it can is told in a few
    // insertions, each the newest few thousand characters at their place in
    // the text, from a line's start, and the caret where it ends up. The
    // scroll bar, whose every move is told too, follows as seldom. The
    // stream comes in bursts with no event delivered inside one, so no timer
    // can fire there: what the announcer and the bar decide is counted, not
    // how many intervals the machine's speed happened to allow.
    ReceiveBox &box = *controls(*m_window).txtRcv;
    g_watched = &box;
    g_bar = box.verticalScrollBar();
    const QByteArray arrival = QByteArray("0123456789abcdef").repeated(64) + "\r\n";
    const int bursts = 20;
    const int arrivalsEach = 200;
    auto lastInsertEnd = [] {
        for (auto it = g_announcements.crbegin(); it != g_announcements.crend(); ++it)
            if (it->type == QAccessible::TextInserted)
                return it->position + it->inserted.size();
        return qsizetype{-1};
    };
    for (int burst = 0; burst < bursts; ++burst) {
        const int movesBefore = g_barMoves;
        const int valueBefore = box.verticalScrollBar()->value();
        for (int n = 0; n < arrivalsEach; ++n) {
            appendBytes(box, arrival);
            box.setSelStart(box.length());
        }
        QTRY_COMPARE(lastInsertEnd(), box.length());
        // The bar catches up later than the text (at most ten moves a
        // second while a screen reader listens): wait for its move, not for
        // an end it may already stand at.
        QScrollBar *bar = box.verticalScrollBar();
        QTRY_VERIFY(bar->value() > valueBefore && bar->value() == bar->maximum());
        // Every burst moves the bar to its new end, told once or twice.
        QVERIFY(g_barMoves > movesBefore);
        QVERIFY(g_barMoves <= movesBefore + 2);
    }
    QCOMPARE(box.length(), bursts * arrivalsEach * arrival.size());
    QTRY_COMPARE(g_announcements.last().text, QStringLiteral("caret %1").arg(box.length()));
    qsizetype inserts = 0;
    for (const Announcement &announcement : g_announcements) {
        if (announcement.type != QAccessible::TextInserted)
            continue;
        ++inserts;
        QVERIFY(announcement.inserted.size() <= 4096);
        QCOMPARE(box.mid(announcement.position, announcement.inserted.size()),
                 announcement.inserted);
        QVERIFY(announcement.position == 0 ||
                box.mid(announcement.position - 1, 1) == QLatin1String("\n"));
    }
    // A burst is told at once if a quiet spell came before it, and the rest
    // of it when the interval ends: two insertions at most, of 200 arrivals.
    QVERIFY2(inserts <= 2 * bursts, qPrintable(QStringLiteral("%1 insertions").arg(inserts)));
}

void TestAccessibility::receiveBoxTellsWhatWaitsBeforeFocusLeaves()
{
    // A screen reader speaks what arrives in a terminal only while it has
    // the focus: an arrival still waiting to be told when the focus leaves
    // (a stream's end, right before its close moves the focus) is told then,
    // before the focus has gone.
    ReceiveBox &box = *controls(*m_window).txtRcv;
    box.setFocus();
    QTRY_VERIFY(box.hasFocus());
    g_watched = &box;
    putText(box, QStringLiteral("primera\r\n"));
    putText(box, QStringLiteral("segunda\r\n"));
    controls(*m_window).cmdConnect->setFocus();
    QStringList inserted;
    for (const Announcement &announcement : g_announcements)
        if (announcement.type == QAccessible::TextInserted)
            inserted << announcement.inserted;
    QCOMPARE(inserted.join(QString()), boxText(box));
}

void TestAccessibility::receiveBoxGeometry()
{
    // A character's rectangle and the character at a point agree, on
    // screen, across wrapped rows and lines.
    ReceiveBox &box = *controls(*m_window).txtRcv;
    const int columns = columnsPerRow(box);
    putText(box, QString(columns + 3, QLatin1Char('a')) + QStringLiteral("\r\nbc"));
    QAccessibleTextInterface *text = QAccessible::queryAccessibleInterface(&box)->textInterface();
    const QRect first = text->characterRect(0);
    QVERIFY(!first.isEmpty());
    QCOMPARE(text->characterRect(columns).topLeft(), first.topLeft() + QPoint(0, first.height()));
    QCOMPARE(text->characterRect(columns + 6).topLeft(),
             first.topLeft() + QPoint(first.width(), 2 * first.height()));
    for (const int offset : {0, 1, columns - 1, columns, columns + 2, columns + 5, columns + 6})
        QCOMPARE(text->offsetAtPoint(text->characterRect(offset).center()), offset);
    QCOMPARE(text->characterRect(static_cast<int>(box.length())), QRect());
    QCOMPARE(text->offsetAtPoint(first.topLeft() - QPoint(5, 5)), -1);
}

QTEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"

void TestAccessibility::receiveBoxReadsHexRowsAsLines()
{
    // In the hexadecimal view assistive technology reads the rows, one a
    // line, and the caret and selection where the view shows them.
    ReceiveBox &box = *controls(*m_window).txtRcv;
    appendBytes(box, QByteArray("Hola\r\n\0\xFF\x80\x81"
                                "ABCDEF"
                                "0123",
                                20));
    box.setHexView(true);
    QAccessibleTextInterface *text = QAccessible::queryAccessibleInterface(&box)->textInterface();
    const QString first = QStringLiteral(
        "00000000  48 6f 6c 61 0d 0a 00 ff  80 81 41 42 43 44 45 46  Hola...\u00FF\u20AC.ABCDEF\n");
    const QString second = QStringLiteral("00000010  30 31 32 33") + QString(39, u' ') +
                           QStringLiteral("0123") + QString(12, u' ');
    QCOMPARE(text->characterCount(), first.size() + second.size());
    QCOMPARE(text->text(0, text->characterCount()), first + second);
    int start = -1;
    int end = -1;
    QCOMPARE(text->textAtOffset(90, QAccessible::LineBoundary, &start, &end), second);
    QCOMPARE(start, 77);
    QCOMPARE(text->textBeforeOffset(90, QAccessible::LineBoundary, &start, &end), first);
    QCOMPARE(text->textAtOffset(14, QAccessible::WordBoundary, &start, &end), QStringLiteral("6f"));

    // Offsets of the rows stand for bytes: the pair of byte 18 is at 77 + 16.
    text->setCursorPosition(77 + 16);
    QCOMPARE(box.caretPosition(), 18 + 3); // the NUL before reads as four characters
    QCOMPARE(text->cursorPosition(), 77 + 16);
    text->setSelection(0, 10, 16);
    QCOMPARE(box.selectedText(), QStringLiteral("Ho"));
    text->selection(0, &start, &end);
    QCOMPARE(start, 10);
    QCOMPARE(end, 15);
    QCOMPARE(text->cursorPosition(), 15);
}
