#pragma once

// Turns a fuzzer's bytes into a test case: a few leading bytes choose how the
// rest is split into pieces (as a socket would split a stream), and flags.

#include <QByteArrayView>
#include <QList>

#include <cstddef>
#include <cstdint>

class FuzzInput final
{
public:
    FuzzInput(const std::uint8_t *data, std::size_t size)
        : m_data(reinterpret_cast<const char *>(data)), m_size(static_cast<qsizetype>(size))
    {}

    std::uint8_t takeByte()
    {
        if (m_at >= m_size)
            return 0;
        return static_cast<std::uint8_t>(m_data[m_at++]);
    }

    // One byte says how many piece sizes follow (0 to 15), each 1 to 256.
    QList<qsizetype> takePieceSizes()
    {
        QList<qsizetype> sizes;
        const int count = takeByte() % 16;
        for (int i = 0; i < count; ++i)
            sizes.append(qsizetype(takeByte()) + 1);
        return sizes;
    }

    QByteArrayView rest() const { return QByteArrayView(m_data + m_at, m_size - m_at); }

private:
    const char *m_data;
    qsizetype m_size;
    qsizetype m_at = 0;
};

// The data cut into pieces of the given sizes, used in turn; no sizes: one piece.
inline QList<QByteArrayView> splitInto(QByteArrayView data, const QList<qsizetype> &sizes)
{
    QList<QByteArrayView> pieces;
    qsizetype at = 0;
    for (qsizetype i = 0; at < data.size(); ++i) {
        const qsizetype size = sizes.isEmpty() ? data.size() : sizes[i % sizes.size()];
        pieces.append(data.sliced(at, qMin(size, data.size() - at)));
        at += pieces.last().size();
    }
    return pieces;
}

// Stops the run with a message the fuzzer shows beside the input.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            fprintf(stderr, "check failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__);         \
            abort();                                                                               \
        }                                                                                          \
    } while (false)
