#pragma once
// The PJLink class 1 listener of one projector: a greeting (with a challenge when
// a password is set), then one request at a time per connection, each answered
// from the projector's queue.

#include "Listener.h"
#include "Pjlink.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <functional>

class QTcpSocket;

namespace bridge {

class ProjectorQueue;

struct PjlinkIdentity {
    QString name = QStringLiteral("TK58R");  // NAME ?
    QByteArray password;                     // empty: no authentication
};

class PjlinkServer final : public QObject {
    Q_OBJECT
public:
    PjlinkServer(ProjectorQueue &queue, PjlinkIdentity identity, QObject *parent = nullptr);
    ~PjlinkServer() override;

    bool listen(const QHostAddress &address, quint16 port);
    quint16 port() const { return m_server.serverPort(); }
    QString errorString() const { return m_server.errorString(); }
    int connections() const { return m_sessions; }
    // Sends what every connection has waiting and closes it (the service ends).
    void closeAll();
    // The idle time after which a silent connection is closed (PJLink's 30 s).
    void setIdleTimeout(int ms) { m_idleMs = ms; }
    // How many connections may be open at once; the next is closed.
    void setMaxConnections(int n) { m_maxConnections = n; }

signals:
    void logLine(const QString &text);

private:
    class Session;
    void onNewConnection();
    void work(Session *session);
    void handle(Session *session, const pjlink::Request &request);

    ProjectorQueue &m_queue;
    PjlinkIdentity m_identity;
    QTcpServer m_server;
    int m_sessions = 0;
    int m_idleMs = pjlink::kIdleTimeoutMs;
    int m_maxConnections = kDefaultMaxConnections;
};

} // namespace bridge
