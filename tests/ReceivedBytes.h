#pragma once

// Received bytes handed to the receive box as a socket's reading hands them:
// copied into the room appendReceived() offers until none are left.

#include <QByteArrayView>
#include <QtGlobal>

#include <algorithm>
#include <array>
#include <cstring>

template <typename Box> qsizetype appendAsReceived(Box &box, QByteArrayView bytes)
{
    qsizetype given = 0;
    return box.appendReceived(bytes.size(), [&](quint8 *into, qsizetype room) {
        const qsizetype count = std::min(room, bytes.size() - given);
        std::memcpy(into, bytes.data() + given, static_cast<std::size_t>(count));
        given += count;
        return count;
    });
}
