#pragma once

// What a copy from the receive box puts on the clipboard: the selected
// characters, exactly as the box holds them (CR LF as they are, a NUL as
// "\x00"), produced only when a program asks for them, from the received
// bytes themselves. Copying costs nothing however large the selection; the
// bytes stay readable after the box is emptied, until the clipboard lets go.

#include "system/SizedMimeData.h"
#include "transcript/ByteStore.h"

#include <memory>

class ClipboardText final : public SizedMimeData
{
    Q_OBJECT

public:
    ClipboardText(std::shared_ptr<const ByteStore> store, qsizetype from, qsizetype count);

    qsizetype textLength() const override { return m_count; }

    QStringList formats() const override;
    bool hasFormat(const QString &mimeType) const override;

protected:
    // As a string when asked for one, otherwise as UTF-8, built a stretch at
    // a time so that no 16-bit copy of the whole text is ever made. Nothing
    // when there is no memory for it.
    QVariant retrieveData(const QString &mimeType, QMetaType type) const override;

private:
    QString asText() const;
    QByteArray asUtf8() const;

    std::shared_ptr<const ByteStore> m_store;
    qsizetype m_from;
    qsizetype m_count;
};
