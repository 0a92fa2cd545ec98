#include "SessionName.h"

QString sessionFileName(const QString &host, std::int32_t port, const QDateTime &when)
{
    QString safeHost = host.trimmed();
    for (QChar &c : safeHost) {
        if (!c.isLetterOrNumber() && c != u'.' && c != u'-' && c != u'_')
            c = u'_';
    }
    return QStringLiteral("%1-%2-%3.txt")
        .arg(safeHost)
        .arg(port)
        .arg(when.toString(QStringLiteral("yyyyMMdd-HHmmss")));
}
