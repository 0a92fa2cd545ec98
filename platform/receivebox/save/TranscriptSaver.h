#pragma once

// Saving what the receive box received, up to the moment the save was asked
// for: the bytes are written as they came (transcript/TranscriptFile.h) off
// the user-interface thread, from a shared store (ByteStore::share), which
// keeps them readable after the box is emptied. The window stays usable
// meanwhile: a save that lasts shows its progress in a dialog
// that does not take the focus, with "Cancelar"; a failure shows the
// system's description of it in a message box.

#include "transcript/ByteStore.h"
#include "transcript/TranscriptFile.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <atomic>
#include <memory>
#include <thread>

class QProgressDialog;
class QWidget;

class TranscriptSaver final : public QObject
{
    Q_OBJECT

public:
    // The progress shows once a save has lasted this long.
    static constexpr int kProgressAfterMs = 500;

    // Starts saving the store to the path at once. The saver is a child of
    // the widget, whose window the dialogs belong to, and deletes itself
    // once done.
    TranscriptSaver(std::shared_ptr<const ByteStore> store, const QString &path, QWidget *widget);
    // A save still going is cancelled; this waits for the writing to stop.
    ~TranscriptSaver() override;
    Q_DISABLE_COPY_MOVE(TranscriptSaver)

    void cancel();

Q_SIGNALS:
    void finished(platform::transcript::SaveResult result);

private:
    void showProgress();
    void showWritten();
    void done(const platform::transcript::SaveOutcome &outcome);

    QWidget *m_widget;
    QString m_path;
    qsizetype m_total;
    std::atomic<bool> m_stop{false};
    std::thread m_worker;
    QTimer m_progressDelay;
    QPointer<QProgressDialog> m_progress;
    // Bytes written so far, and whether a call to show them is queued.
    std::atomic<qsizetype> m_written{0};
    std::atomic<bool> m_progressQueued{false};
};
