#pragma once

// The target the socket control holds for its next Connect(), as it was set:
// what a check of the connect command compares with what was typed.

#include "SocketControl.h"

class SocketControlPrivate final
{
public:
    static QString RemoteHost(const SocketControl &c) { return c.m_remoteHost; }
    static std::int32_t RemotePort(const SocketControl &c) { return c.m_remotePort; }
};
