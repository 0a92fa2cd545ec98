#pragma once

// The connection's fields as the handlers keep them between events, for
// checks that drive the real window and then look at what was kept.

#include "Connection.h"

class ConnectionPrivate final
{
public:
    static QString &buffer_str(Connection &c) { return c.buffer_str; }
    static const QString &host_str(const Connection &c) { return c.host_str; }
    static const QString &puerto_str(const Connection &c) { return c.puerto_str; }
    static bool usando_proxy(const Connection &c) { return c.usando_proxy; }
    static bool tunel_listo(const Connection &c) { return c.tunel_listo; }
};
