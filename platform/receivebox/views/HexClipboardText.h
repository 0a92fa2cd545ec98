#pragma once

// What a copy from the hexadecimal view puts on the clipboard: the selected
// bytes as hex pairs separated by blanks ("48 6f 6c 61"), or the rows that
// hold them as the view shows them, one a line, bytes outside the selection
// left blank. Produced only when a program asks for it, from the received
// bytes themselves, which stay readable after the box is emptied.

#include "system/SizedMimeData.h"
#include "transcript/ByteStore.h"

#include <memory>

class HexClipboardText final : public SizedMimeData
{
    Q_OBJECT

public:
    enum Form { Pairs, Rows };

    // Bytes [from, to) of the store.
    HexClipboardText(std::shared_ptr<const ByteStore> store, qsizetype from, qsizetype to,
                     Form form);

    qsizetype textLength() const override;

    QStringList formats() const override;
    bool hasFormat(const QString &mimeType) const override;

    // The text, whatever asks for it.
    QString text() const;

protected:
    // As a string when asked for one, otherwise as UTF-8 built a stretch of
    // rows at a time. Nothing when there is no memory for it.
    QVariant retrieveData(const QString &mimeType, QMetaType type) const override;

private:
    void appendText(QString &out, qsizetype from, qsizetype to) const;
    QByteArray asUtf8() const;

    std::shared_ptr<const ByteStore> m_store;
    qsizetype m_from;
    qsizetype m_to;
    Form m_form;
};
