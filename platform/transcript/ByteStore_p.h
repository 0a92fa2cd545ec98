#pragma once

// A way into the store for checks of what only a very long transcript shows,
// offsets past 4 GiB among them, without receiving gigabytes.

#include "ByteStore.h"

struct ByteStore::Private
{
    // Appends `chunks` whole chunks that all read as the kChunkBytes bytes at
    // `chunk`, which hold no NUL and outlive the store and its shares. Nothing
    // is copied: gigabytes cost a pointer per chunk. The store must end on a
    // chunk's boundary, with no NUL received.
    static void appendAlike(ByteStore &store, quint8 *chunk, qsizetype chunks);
    // appendBytes() for checks that want no marks back.
    static qsizetype append(ByteStore &store, const quint8 *bytes, qsizetype count);
};
