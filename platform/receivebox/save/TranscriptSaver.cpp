#include "TranscriptSaver.h"

#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QProgressDialog>
#include <QWidget>

#include <system_error>
#include <utility>

using Outcome = platform::transcript::SaveOutcome;
using Result = platform::transcript::SaveResult;

namespace {

// The progress is told to the user-interface thread no more often than this.
constexpr qsizetype kProgressStep = qsizetype{16} << 20;
constexpr int kProgressSteps = 1000;
constexpr int kStepsPerPercent = kProgressSteps / 100;

} // namespace

TranscriptSaver::TranscriptSaver(std::shared_ptr<const ByteStore> store, const QString &path,
                                 QWidget *widget)
    : QObject(widget), m_widget(widget), m_path(path), m_total(store->byteCount())
{
    m_progressDelay.setSingleShot(true);
    m_progressDelay.setInterval(kProgressAfterMs);
    connect(&m_progressDelay, &QTimer::timeout, this, &TranscriptSaver::showProgress);
    m_progressDelay.start();
    // The share goes to the thread alone, which lets it go there: the last
    // holder of a store already emptied gives its memory back.
    auto work = [this, store = std::move(store), path]() mutable {
        qsizetype told = 0;
        const Outcome outcome =
            platform::transcript::saveBytes(*store, path, m_stop, [this, &told](qsizetype bytes) {
                if (bytes - told < kProgressStep)
                    return;
                told = bytes;
                // One call waits in the queue at most, with the newest count:
                // a busy interface thread takes them one turn at a time,
                // never as a pile.
                m_written.store(bytes, std::memory_order_relaxed);
                if (!m_progressQueued.exchange(true))
                    QMetaObject::invokeMethod(
                        this,
                        [this] {
                            m_progressQueued = false;
                            showWritten();
                        },
                        Qt::QueuedConnection);
            });
        store.reset();
        QMetaObject::invokeMethod(
            this, [this, outcome] { done(outcome); }, Qt::QueuedConnection);
    };
    try {
        m_worker = std::thread(std::move(work));
    } catch (const std::system_error &error) {
        QMetaObject::invokeMethod(
            this,
            [this, message = QString::fromLocal8Bit(error.what())] {
                done({Result::Failed, message});
            },
            Qt::QueuedConnection);
    }
}

TranscriptSaver::~TranscriptSaver()
{
    m_stop = true;
    if (m_worker.joinable())
        m_worker.join();
    delete m_progress;
}

void TranscriptSaver::cancel()
{
    m_stop = true;
}

void TranscriptSaver::showProgress()
{
    QWidget *window = m_widget->window();
    auto *dialog =
        new QProgressDialog(QStringLiteral("Guardando %1\u2026").arg(QFileInfo(m_path).fileName()),
                            QStringLiteral("Cancelar"), 0, kProgressSteps, window);
    dialog->setWindowTitle(window->windowTitle());
    // The window stays usable: typing goes on reaching the box it was meant
    // for, not the dialog.
    dialog->setWindowModality(Qt::NonModal);
    dialog->setAttribute(Qt::WA_ShowWithoutActivating);
    dialog->setAutoClose(false);
    dialog->setAutoReset(false);
    dialog->setMinimumDuration(0);
    connect(dialog, &QProgressDialog::canceled, this, &TranscriptSaver::cancel);
    m_progress = dialog;
    showWritten();
    dialog->show();
}

void TranscriptSaver::showWritten()
{
    if (!m_progress || m_total <= 0)
        return;
    // The bar is painted at once when its value changes: once a percent.
    const auto steps =
        static_cast<int>(m_written.load(std::memory_order_relaxed) * kProgressSteps / m_total);
    if (m_progress->value() < 0 ||
        steps / kStepsPerPercent != m_progress->value() / kStepsPerPercent)
        m_progress->setValue(steps);
}

void TranscriptSaver::done(const Outcome &outcome)
{
    if (m_worker.joinable())
        m_worker.join();
    m_progressDelay.stop();
    delete m_progress;
    if (outcome.result == Result::Failed) {
        QWidget *window = m_widget->window();
        auto *message = new QMessageBox(QMessageBox::Critical, window->windowTitle(),
                                        QStringLiteral("No se pudo guardar %1.\n%2")
                                            .arg(QDir::toNativeSeparators(m_path), outcome.error),
                                        QMessageBox::Ok, window);
        message->setAttribute(Qt::WA_DeleteOnClose);
        message->open();
    }
    Q_EMIT finished(outcome.result);
    deleteLater();
}
