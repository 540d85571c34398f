#pragma once
// What the bridge's listeners share: a limit on the connections open at once.

#include <QString>
#include <QTcpServer>
#include <QTcpSocket>

namespace bridge {

inline constexpr int kDefaultMaxConnections = 32;

// The next connection waiting at `server` that may stay, with `open` connections
// open already and `limit` allowed; one beyond the limit is closed, and `log`
// hears of it.
template <typename Log>
QTcpSocket *nextAdmitted(QTcpServer &server, int open, int limit, const char *listener, Log &&log)
{
    while (QTcpSocket *socket = server.nextPendingConnection()) {
        if (open < limit)
            return socket;
        log(QStringLiteral("%1: a connection from %2 closed: %3 are open already")
                .arg(QLatin1String(listener), socket->peerAddress().toString())
                .arg(open));
        socket->abort();
        socket->deleteLater();
    }
    return nullptr;
}

} // namespace bridge
