#include "ByteStore_p.h"

#include "ByteScan.h"
#include "ChunkSlabs.h"

#include <vector>

void ByteStore::Private::appendAlike(ByteStore &store, quint8 *chunk, qsizetype chunks)
{
    Q_ASSERT(!store.m_hasNul && (store.m_bytes & (ChunkSlabs::kChunkBytes - 1)) == 0);
    Q_ASSERT(store.m_chunks.size() ==
             static_cast<std::size_t>(store.m_bytes >> ChunkSlabs::kChunkBits));
    for (qsizetype i = 0; i < chunks; ++i)
        store.m_chunks.push_back(chunk);
    store.m_bytes += chunks * ChunkSlabs::kChunkBytes;
    store.m_chars = store.m_bytes;
}

qsizetype ByteStore::Private::append(ByteStore &store, const quint8 *bytes, qsizetype count)
{
    std::vector<quint64> marks(
        static_cast<std::size_t>(platform::transcript::bytescan::shapingWords(count)));
    return store.appendBytes(bytes, count, marks.data());
}
