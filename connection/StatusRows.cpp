#include "StatusRows.h"

#include "brisol_version.h"

namespace status {
QString ready()
{
    return QStringLiteral("Listo");
}
QString connecting()
{
    return QStringLiteral("Conectando...");
}
QString connectingViaProxy()
{
    return QStringLiteral("Conectando con el Proxy...");
}
QString awaitingProxyReply()
{
    return QStringLiteral(
        "Conectado al proxy, petición de conexión enviada, esperando respuesta...");
}
QString connected()
{
    return QStringLiteral("Conectado");
}
QString disconnected()
{
    return QStringLiteral("Desconectado");
}
QString closedByPeer()
{
    return QStringLiteral("El equipo remoto finalizó la conexión");
}
QString proxyRefused()
{
    return QStringLiteral("El proxy no pudo realizar la conexión");
}
QString outOfMemory()
{
    return QStringLiteral("Sin memoria para lo recibido: conexión cerrada");
}
} // namespace status

namespace messages {
QString title()
{
    return QStringLiteral(BRISOL_TITLE);
}
QString invalidProxy()
{
    return QStringLiteral("Datos del Proxy no válidos");
}
QString invalidRemote()
{
    return QStringLiteral("Datos del equipo remoto no válidos");
}
} // namespace messages
