#pragma once

// Finding a sequence of bytes in the transcript as they were received, any
// values, CR, LF and NUL among them, with no regard to lines or to the
// characters they show as: what the hexadecimal view finds when the text
// typed is hex pairs ("0d 0a 00").
//
// A chunk of the store is searched where it lies; the starts whose match
// runs on into the next chunk (or chunks) are searched in a copy of the few
// bytes about the boundary, needle - 1 each side, so that a long needle
// costs its length per boundary, not its square. Backwards, the last match
// of a chunk is narrowed down by halves, each asking for the first match of
// a shorter range: at most twice the bytes a forward search reads.
//
// Like TextSearch it reads nothing but the store's bytes below its end, and
// may search a shared store on another thread.

#include "ByteStore.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QStringView>

#include <atomic>
#include <vector>

class ByteSearch final
{
public:
    // The bytes a text gives when it is one or more pairs of hex digits, of
    // either case, separated by blanks, with blanks before and after
    // allowed ("0d 0a 00", " 41  42 "); empty when it is anything else
    // ("0d0a", "0g", "").
    static QByteArray hexPairs(QStringView text);

    explicit ByteSearch(QByteArrayView bytes);

    qsizetype byteLength() const { return m_bytes.size(); }

    // A match in character positions: where it starts and how many
    // characters it takes (a NUL in it takes four). start is -1 for none.
    struct Match
    {
        qsizetype start = -1;
        qsizetype length = 0;
    };
    // The first (last) match whose first character is in [from, to), as
    // TextSearch counts them, and whose bytes end by the end of the store;
    // none when `stop` is found set (it is looked at after every MiB read).
    Match first(const ByteStore &store, qsizetype from, qsizetype to,
                const std::atomic<bool> *stop = nullptr) const;
    Match last(const ByteStore &store, qsizetype from, qsizetype to,
               const std::atomic<bool> *stop = nullptr) const;

    // The same in byte positions: the byte where the first (last) match
    // starting in [from, to) starts, or -1.
    qsizetype firstByte(const ByteStore &store, qsizetype from, qsizetype to,
                        const std::atomic<bool> *stop = nullptr) const;
    qsizetype lastByte(const ByteStore &store, qsizetype from, qsizetype to,
                       const std::atomic<bool> *stop = nullptr) const;

private:
    template <bool kForward>
    qsizetype find(const ByteStore &store, qsizetype from, qsizetype to,
                   const std::atomic<bool> *stop) const;
    template <bool kForward>
    Match findCharacters(const ByteStore &store, qsizetype from, qsizetype to,
                         const std::atomic<bool> *stop) const;
    // The first (last) of starts [0, starts) of bytes laid out in memory,
    // which hold every byte a match starting there takes.
    qsizetype firstIn(const quint8 *bytes, qsizetype starts) const;
    qsizetype lastIn(const quint8 *bytes, qsizetype starts) const;

    QByteArray m_bytes;
};
