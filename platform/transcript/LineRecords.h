#pragma once

// The line index's records: unsigned LEB128 numbers written one after the
// other into pages of 64 KiB that never move. Writing and reading are on the
// hot path of every line, so they live here, inline.

#include <QtGlobal>

#include <memory>
#include <vector>

class LineRecords final
{
public:
    qsizetype size() const { return m_size; }

    void clear()
    {
        m_pages.clear();
        m_pages.shrink_to_fit();
        m_size = 0;
    }

    // Forgets the bytes from size on; their pages stay for what comes next.
    void truncate(qsizetype size) { m_size = size; }
    void push(quint64 value)
    {
        // A record (ten bytes at most) that fits the current page is written
        // there at once: one per line, so this is the common case.
        const qsizetype offset = m_size & (kPageBytes - 1);
        if (offset != 0 && offset <= kPageBytes - 10) {
            quint8 *out = m_pages.back().get() + offset;
            qsizetype written = 0;
            while (value >= 0x80) {
                out[written++] = static_cast<quint8>((value & 0x7F) | 0x80);
                value >>= 7;
            }
            out[written++] = static_cast<quint8>(value);
            m_size += written;
            return;
        }
        while (value >= 0x80) {
            pushByte(static_cast<quint8>((value & 0x7F) | 0x80));
            value >>= 7;
        }
        pushByte(static_cast<quint8>(value));
    }

    void pushByte(quint8 byte)
    {
        if ((m_size >> kPageBits) == static_cast<qsizetype>(m_pages.size()))
            m_pages.push_back(std::make_unique_for_overwrite<quint8[]>(kPageBytes));
        setByte(m_size++, byte);
    }

    quint64 read(qsizetype &position) const
    {
        quint64 value = 0;
        int shift = 0;
        for (;;) {
            const quint8 byte = byteAt(position++);
            value |= quint64{byte & 0x7Fu} << shift;
            if (byte < 0x80)
                return value;
            shift += 7;
        }
    }

    quint8 byteAt(qsizetype position) const
    {
        return m_pages[static_cast<std::size_t>(position >> kPageBits)]
                      [static_cast<std::size_t>(position & (kPageBytes - 1))];
    }

    void setByte(qsizetype position, quint8 byte)
    {
        m_pages[static_cast<std::size_t>(position >> kPageBits)]
               [static_cast<std::size_t>(position & (kPageBytes - 1))] = byte;
    }

    qsizetype memoryUsed() const
    {
        return static_cast<qsizetype>(m_pages.size()) * kPageBytes +
               static_cast<qsizetype>(m_pages.capacity() * sizeof(m_pages[0]));
    }

private:
    static constexpr int kPageBits = 16;
    static constexpr qsizetype kPageBytes = qsizetype{1} << kPageBits;

    std::vector<std::unique_ptr<quint8[]>> m_pages;
    qsizetype m_size = 0;
};
