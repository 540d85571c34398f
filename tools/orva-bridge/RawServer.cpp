#include "RawServer.h"

#include "Listener.h"
#include "ProjectorQueue.h"
#include "serial/SerialText.h"

#include <QPointer>
#include <QTcpSocket>

namespace bridge {

RawServer::RawServer(ProjectorQueue &queue, QObject *parent) : QObject(parent), m_queue(queue)
{
    connect(&m_server, &QTcpServer::newConnection, this, &RawServer::onNewConnection);
}

bool RawServer::listen(const QHostAddress &address, quint16 port)
{
    return m_server.listen(address, port);
}

void RawServer::onNewConnection()
{
    const auto log = [this](const QString &text) { emit logLine(text); };
    while (QTcpSocket *socket = nextAdmitted(m_server, m_connections, m_maxConnections, "raw port", log)) {
        ++m_connections;
        connect(socket, &QObject::destroyed, this, [this] { --m_connections; });
        const QPointer<QTcpSocket> client(socket);
        const ClientId id = ClientId(socket);
        connect(&m_queue, &ProjectorQueue::unsolicited, socket, [client](const QString &chunk) {
            client->write(textToLineBytes(chunk));
        });
        auto pending = std::make_shared<QByteArray>();
        connect(socket, &QTcpSocket::readyRead, socket, [this, client, id, pending] {
            *pending += client->readAll();
            for (qsizetype cr; (cr = pending->indexOf('\r')) >= 0;) {
                const QString text = lineBytesToText(pending->left(cr));
                pending->remove(0, cr + 1);
                const bool queued = m_queue.enqueue(id, QString(), text, [client](const Reply &reply) {
                    if (client && reply.answered)
                        client->write(textToLineBytes(reply.text));
                });
                if (!queued)
                    emit logLine(QStringLiteral("raw port: the queue is full, a command from %1 dropped")
                                     .arg(client->peerAddress().toString()));
            }
            if (pending->size() > kMaxCommand)
                pending->clear();
        });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket, id] {
            m_queue.dropClient(id);
            socket->deleteLater();
        });
    }
}

} // namespace bridge
