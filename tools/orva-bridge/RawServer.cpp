#include "RawServer.h"

#include "ProjectorQueue.h"
#include "exchange/CommandText.h"
#include "serial/SerialText.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <memory>

namespace bridge {

RawServer::RawServer(ProjectorQueue &queue, QObject *parent) : QObject(parent), m_queue(queue)
{
    connect(&m_listener, &Listener::admitted, this, &RawServer::onAdmitted);
    connect(&m_listener, &Listener::logLine, this, &RawServer::logLine);
}

void RawServer::onAdmitted(QTcpSocket *socket)
{
    const QPointer<QTcpSocket> client(socket);
    const ClientId id = ClientId(socket);
    const QString from = socket->peerAddress().toString();
    connect(&m_queue, &ProjectorQueue::unsolicited, socket, [this, socket](const QString &chunk) {
        m_listener.send(socket, textToLineBytes(chunk));
    });
    struct Input {
        QByteArray pending;       // text not yet ended by a CR
        bool discarding = false;  // a text too long for a command, until its CR
        bool longLogged = false;
        bool fullLogged = false;  // in this burst: until the queue takes one of its commands again
        QElapsedTimer heard;      // since the client's last bytes
    };
    auto input = std::make_shared<Input>();
    input->heard.start();
    // A read only notes the time; the timer, when it fires, is set again for what is left.
    auto *idle = new QTimer(socket);
    idle->setSingleShot(true);
    idle->setTimerType(Qt::PreciseTimer);
    connect(idle, &QTimer::timeout, socket, [socket, idle, input, ms = m_idleMs] {
        if (const qint64 left = ms - input->heard.elapsed(); left > 0)
            idle->start(int(left));
        else
            socket->disconnectFromHost();
    });
    idle->start(m_idleMs);
    // A text with no CR in kLongestCommandText characters is no command: dropped up to
    // its CR, however the bytes came.
    const auto tooLong = [this, from, input] {
        if (!std::exchange(input->longLogged, true))
            emit logLine(QStringLiteral("raw port: text from %1 with no CR in %2 characters dropped, up to its CR")
                             .arg(from)
                             .arg(kLongestCommandText));
    };
    connect(socket, &QTcpSocket::readyRead, socket, [this, client, id, input, from, tooLong] {
        input->heard.start();
        input->pending += client->read(client->bytesAvailable());  // not readAll: no 16 KiB block per read
        for (qsizetype cr; (cr = input->pending.indexOf('\r')) >= 0;) {
            const QString text = lineBytesToText(input->pending.left(cr));
            input->pending.remove(0, cr + 1);
            if (std::exchange(input->discarding, false))
                continue;
            if (text.size() > kLongestCommandText) {
                tooLong();
                continue;
            }
            const bool queued = m_queue.enqueue(id, QString(), text, [this, client](const Reply &reply) {
                if (client && reply.answered)
                    m_listener.send(client, textToLineBytes(reply.text), true);
            });
            if (queued)
                input->fullLogged = false;
            else if (!std::exchange(input->fullLogged, true))
                emit logLine(QStringLiteral("raw port: the queue is full: commands from %1 are dropped until it takes one again").arg(from));
        }
        if (input->pending.size() > kLongestCommandText) {
            input->pending.clear();
            input->discarding = true;
            tooLong();
        }
    });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket, id] {
        m_queue.dropClient(id);
        socket->deleteLater();
    });
}

} // namespace bridge
