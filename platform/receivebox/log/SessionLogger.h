#pragma once

// The receive box's session log, as the user reaches it: "Registrar en
// archivo…" asks for a file in the save dialog (the name proposed as
// "Guardar como…" proposes it, with .log), and, where the file exists,
// whether to add to its end or replace it ("Añadir al final", "Reemplazar",
// "Cancelar"); nothing touches the file before the user has answered. The
// log then holds every byte the box holds, then every byte as it lands,
// exactly as it came, until the user stops it or the window closes. It is the
// window's, not a connection's: when the box is emptied at "Conectar" the
// next connection's bytes follow in the same file.
//
// While a log is open a line over the box's bottom edge, where the find bar
// also sits, says "Registrando en NOMBRE: N bytes", N the bytes in the file,
// a few times a second; it is a label, so assistive technology reads it. A
// write that fails ends the log and the line says why ("No se pudo escribir
// el registro: …"); nothing interrupts the stream, which goes on into the
// box.
//
// The writing is a SessionLog's, on its thread, from the store's own memory:
// what the box pays per append is handing it the new bytes' place.

#include "transcript/ByteStore.h"

#include <QObject>
#include <QString>
#include <QTimer>

class QLabel;
class QWidget;
class SessionLog;

class SessionLogger final : public QObject
{
    Q_OBJECT

public:
    // What is done with a file that exists.
    enum class Existing { Append, Replace };

    // The log of what the store holds, for the box (the dialogs' window and
    // the line's parent). The store is the box's, emptied and filled again,
    // never replaced.
    SessionLogger(QWidget *box, const ByteStore &store);
    // Writes what was handed before the store can go.
    ~SessionLogger() override;
    Q_DISABLE_COPY_MOVE(SessionLogger)

    bool isLogging() const { return m_log != nullptr; }

    // The dialogs, window-modal; the log starts once a file is chosen.
    // proposedName is what "Guardar como…" proposes; its extension becomes
    // .log.
    void ask(const QString &proposedName);
    // Starts logging to the path, every byte held first. False, with the
    // reason on the line, if the file cannot be opened.
    bool start(const QString &path, Existing existing);
    // Ends the log: what was handed is still written, off this thread.
    void stop();

    // After an append: the new bytes go to the log.
    void follow()
    {
        if (m_log)
            hand();
    }
    // Before the store is emptied.
    void clearing();

    // The line, or nullptr before there was anything to say; hidden when
    // there is nothing.
    QLabel *line() const { return m_line; }

    // The name the dialog proposes for a save's name.
    static QString logName(const QString &proposedName);

Q_SIGNALS:
    // The line showed or hid: the box lays out its bottom edge again.
    void lineChanged();
    // Logging started or stopped.
    void loggingChanged(bool logging);

private:
    void hand();
    void retire();
    void failed(SessionLog *log, const QString &reason);
    void say(const QString &text);
    void showCount();

    QWidget *m_box;
    const ByteStore &m_store;
    SessionLog *m_log = nullptr;
    // Bytes of the store handed to the log.
    qsizetype m_handed = 0;
    QString m_fileName;
    QString m_folder;
    QLabel *m_line = nullptr;
    QTimer m_tick;
};
