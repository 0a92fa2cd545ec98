#pragma once

// Finding a text in the transcript as the receive box shows it: each byte is
// the character the store's table gives for it, a NUL the four characters
// "\x00" (which a text may match whole or in part), and a match never spans
// a line end, so a text holding CR or LF matches nothing. Without matching
// case, characters compare folded (QChar::toCaseFolded).
//
// The search runs over the bytes themselves, never over characters made of
// them: the text becomes, for each of its characters, the bytes that show
// as it, and a chunk of the store is scanned sixteen bytes at a time for
// places where both the first and the last character could stand; each such
// place is then checked whole. Matches that take in a NUL are looked for
// apart, at the NULs, only when the text holds a character of "\x00" and the
// store holds a NUL. A match may span chunks and slabs.
//
// It reads nothing but the store's bytes below its end, which never change:
// a shared store (ByteStore::share) may be searched on another thread while
// the box goes on appending to its own.

#include "ByteStore.h"

#include <QString>
#include <QStringView>

#include <array>
#include <atomic>
#include <cstddef>
#include <vector>

class TextSearch final
{
public:
    // The table is the one of the store to be searched.
    TextSearch(QStringView text, bool matchCase, const ByteStore::CharTable &table);

    // Characters of a match: those of the text; 0 when it can match nothing
    // (empty, or holding a line end).
    qsizetype length() const { return m_length; }

    // The character position of the first (last) match that starts in
    // [from, to) and ends by the end of the store; -1 if there is none, or
    // when `stop` is found set (it is looked at after every MiB read).
    qsizetype first(const ByteStore &store, qsizetype from, qsizetype to,
                    const std::atomic<bool> *stop = nullptr) const;
    qsizetype last(const ByteStore &store, qsizetype from, qsizetype to,
                   const std::atomic<bool> *stop = nullptr) const;

private:
    using Place = ByteStore::Place;
    struct Range;
    struct Found;

    template <bool kForward>
    qsizetype find(const ByteStore &store, qsizetype from, qsizetype to,
                   const std::atomic<bool> *stop) const;
    // Matches without a NUL that start at a byte in [from, to), all in one
    // chunk: the first or the last.
    template <bool kForward>
    qsizetype plain(const ByteStore &store, qsizetype from, qsizetype to,
                    std::vector<quint8> &scratch) const;
    // The same in bytes laid out in memory: starts [from, to) of `bytes`,
    // which holds every byte a match starting there takes.
    template <bool kForward>
    qsizetype scan(const quint8 *bytes, qsizetype from, qsizetype to) const;
    template <bool kForward, std::size_t kSet>
    qsizetype scanWide(const quint8 *bytes, qsizetype from, qsizetype to) const;
    template <bool kForward>
    qsizetype scanNarrow(const quint8 *bytes, qsizetype from, qsizetype to) const;
    // Whether the bytes at a place where the first and last characters fit
    // give the rest of the text.
    bool middleMatches(const quint8 *at) const;
    // Matches that take in a NUL and start at a byte in [from, to), within
    // the range.
    template <bool kForward>
    Found withNul(const ByteStore &store, qsizetype from, qsizetype to, const Range &range) const;
    bool matchesAt(const ByteStore &store, Place place) const;

    qsizetype m_length = 0;
    // Each character of the text, folded unless case matters.
    std::vector<char16_t> m_text;
    // The character each byte shows, folded likewise; -1 for a NUL.
    std::array<qint32, 256> m_shown{};
    std::array<char16_t, 4> m_nulShown{};
    // The bytes that show as the first and the last character.
    std::array<bool, 256> m_firstBytes{};
    std::array<bool, 256> m_lastBytes{};
    // The same as up to four bytes each, repeated to fill the four; 0 when
    // more bytes show as either (then a table lookup per byte does).
    int m_setSize = 0;
    std::array<quint8, 4> m_firstSet{};
    std::array<quint8, 4> m_lastSet{};
    // The text's bytes when each character has exactly one: then a match is
    // compared as bytes.
    std::vector<quint8> m_bytes;
    bool m_plainPossible = false;
    // Some character of the text is one of those a NUL shows as.
    bool m_nulPossible = false;
};
