#include "SessionLogger.h"

#include "SessionLog.h"

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>
#include <memory>
#include <utility>

namespace {

// How often the line's count is brought up to date: readable, and nothing
// the stream would feel.
constexpr int kTickMs = 250;

} // namespace

SessionLogger::SessionLogger(QWidget *box, const ByteStore &store)
    : m_box(box), m_store(store), m_folder(QDir::homePath())
{
    m_tick.setInterval(kTickMs);
    connect(&m_tick, &QTimer::timeout, this, &SessionLogger::showCount);
}

SessionLogger::~SessionLogger()
{
    // The store goes after this: what it holds is written first.
    delete m_log;
}

QString SessionLogger::logName(const QString &proposedName)
{
    const qsizetype dot = proposedName.lastIndexOf(QLatin1Char('.'));
    return (dot > 0 ? proposedName.left(dot) : proposedName) + QStringLiteral(".log");
}

void SessionLogger::ask(const QString &proposedName)
{
    auto *dialog = new QFileDialog(m_box->window(), QStringLiteral("Registrar en archivo"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    // An existing file is asked about below, with the choice to add to it.
    dialog->setOption(QFileDialog::DontConfirmOverwrite);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setDirectory(m_folder);
    dialog->selectFile(logName(proposedName));
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString &path) {
        m_folder = QFileInfo(path).absolutePath();
        if (!QFileInfo::exists(path)) {
            start(path, Existing::Replace);
            return;
        }
        QWidget *window = m_box->window();
        auto *question = new QMessageBox(
            QMessageBox::Question, window->windowTitle(),
            QStringLiteral("%1 ya existe.\n¿Añadir el registro al final o reemplazar el archivo?")
                .arg(QDir::toNativeSeparators(path)),
            QMessageBox::NoButton, window);
        question->setAttribute(Qt::WA_DeleteOnClose);
        QPushButton *append =
            question->addButton(QStringLiteral("Añadir al final"), QMessageBox::AcceptRole);
        QPushButton *replace =
            question->addButton(QStringLiteral("Reemplazar"), QMessageBox::DestructiveRole);
        QPushButton *cancel =
            question->addButton(QStringLiteral("Cancelar"), QMessageBox::RejectRole);
        question->setDefaultButton(append);
        question->setEscapeButton(cancel);
        connect(question, &QMessageBox::buttonClicked, this,
                [this, path, append, replace](QAbstractButton *button) {
                    if (button == append)
                        start(path, Existing::Append);
                    else if (button == replace)
                        start(path, Existing::Replace);
                });
        question->open();
    });
    dialog->open();
}

bool SessionLogger::start(const QString &path, Existing existing)
{
    stop();
    // A log that is finishing may write to the same file: it is done first.
    for (SessionLog *finishing : findChildren<SessionLog *>())
        finishing->drain();
    auto file = std::make_unique<QFile>(path);
    const QIODevice::OpenMode mode =
        QIODevice::WriteOnly | QIODevice::Unbuffered |
        (existing == Existing::Append ? QIODevice::Append : QIODevice::Truncate);
    if (!file->open(mode)) {
        say(QStringLiteral("No se pudo escribir el registro: %1").arg(SessionLog::reasonOf(*file)));
        return false;
    }
    m_log = new SessionLog(std::move(file), this);
    connect(m_log, &SessionLog::failed, this,
            [this, log = m_log](const QString &reason) { failed(log, reason); });
    m_fileName = QFileInfo(path).fileName();
    m_handed = 0;
    hand();
    showCount();
    m_tick.start();
    Q_EMIT loggingChanged(true);
    return true;
}

void SessionLogger::stop()
{
    if (!m_log)
        return;
    retire();
    m_tick.stop();
    say({});
    Q_EMIT loggingChanged(false);
}

void SessionLogger::clearing()
{
    if (m_log) {
        hand();
        m_log->keep(m_store.share());
    }
    m_handed = 0;
}

void SessionLogger::hand()
{
    const qsizetype end = m_store.byteCount();
    while (m_handed < end) {
        const std::span<const quint8> run = m_store.bytesFrom(m_handed);
        const qsizetype size = std::min(static_cast<qsizetype>(run.size()), end - m_handed);
        m_log->write(run.data(), size);
        m_handed += size;
    }
}

void SessionLogger::retire()
{
    // The log lets go of the box: it finishes on its own, holding the bytes
    // it has yet to write.
    m_log->keep(m_store.share());
    disconnect(m_log, &SessionLog::failed, this, nullptr);
    std::exchange(m_log, nullptr)->finishAndDelete();
}

void SessionLogger::failed(SessionLog *log, const QString &reason)
{
    if (log != m_log)
        return;
    retire();
    m_tick.stop();
    say(QStringLiteral("No se pudo escribir el registro: %1").arg(reason));
    Q_EMIT loggingChanged(false);
}

void SessionLogger::showCount()
{
    if (!m_log)
        return;
    m_log->nudge();
    say(QStringLiteral("Registrando en %1: %2 bytes").arg(m_fileName).arg(m_log->written()));
}

void SessionLogger::say(const QString &text)
{
    if (!m_line) {
        if (text.isEmpty())
            return;
        m_line = new QLabel(m_box);
        m_line->setAutoFillBackground(true);
        m_line->setBackgroundRole(QPalette::Window);
        m_line->setForegroundRole(QPalette::WindowText);
        m_line->setContentsMargins(4, 2, 4, 2);
        m_line->setTextFormat(Qt::PlainText);
        m_line->hide();
    }
    if (m_line->text() == text)
        return;
    const bool wasShown = !m_line->isHidden();
    m_line->setText(text);
    m_line->setVisible(!text.isEmpty());
    if (wasShown != !m_line->isHidden())
        Q_EMIT lineChanged();
}
