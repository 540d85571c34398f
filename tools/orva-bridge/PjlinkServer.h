#pragma once
// The PJLink class 1 listener of one projector: a greeting (with a challenge when
// a password is set), then one request at a time per connection, each answered
// from the projector's queue.

#include "Guessers.h"
#include "Listener.h"
#include "Pjlink.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QString>

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
    // Wrong digests from one address before its further attempts wait.
    static constexpr int kFreeAttempts = 3;

    PjlinkServer(ProjectorQueue &queue, PjlinkIdentity identity, QObject *parent = nullptr);
    ~PjlinkServer() override;

    bool listen(const QHostAddress &address, quint16 port) { return m_listener.listen(address, port); }
    quint16 port() const { return m_listener.port(); }
    QString errorString() const { return m_listener.errorString(); }
    int connections() const { return m_listener.connections(); }
    // Sends what every connection has waiting and closes it (the service ends).
    void closeAll();
    // The idle time after which a silent connection is closed (PJLink's 30 s).
    void setIdleTimeout(int ms) { m_idleMs = ms; }
    // How many connections may be open at once; the next is closed.
    void setMaxConnections(int n) { m_listener.setMaxConnections(n); }

signals:
    void logLine(const QString &text);

private:
    class Session;
    void onAdmitted(QTcpSocket *socket);
    void work(Session *session);
    void take(Session *session, QByteArray line, bool waited);
    void handle(Session *session, const pjlink::Request &request);

    ProjectorQueue &m_queue;
    PjlinkIdentity m_identity;
    Listener m_listener{"PJLink"};
    int m_idleMs = pjlink::kIdleTimeoutMs;
    Guessers m_guessers{kFreeAttempts};
};

} // namespace bridge
