#pragma once
// The shared raw port: behaves as a serial device server would, so the panel
// (--com1 tcp://HOST:PORT) and orva-ctl (--port tcp://HOST:PORT) work through the
// bridge unchanged. Each command (text up to its CR) from a client waits its turn
// in the projector's queue, and its reply goes back to that client; characters
// that come while no command waits go to every raw client.

#include "Listener.h"

#include <QHostAddress>
#include <QObject>

namespace bridge {

class ProjectorQueue;

class RawServer final : public QObject {
    Q_OBJECT
public:
    // A client silent this long is closed (the panel sits connected while an
    // operator works; it connects again when its port is chosen again).
    static constexpr int kIdleTimeoutMs = 5 * 60 * 1000;

    explicit RawServer(ProjectorQueue &queue, QObject *parent = nullptr);

    bool listen(const QHostAddress &address, quint16 port) { return m_listener.listen(address, port); }
    quint16 port() const { return m_listener.port(); }
    QString errorString() const { return m_listener.errorString(); }
    int connections() const { return m_listener.connections(); }
    // How many connections may be open at once; the next is closed.
    void setMaxConnections(int n) { m_listener.setMaxConnections(n); }
    // The idle time after which a silent client is closed.
    void setIdleTimeout(int ms) { m_idleMs = ms; }

signals:
    void logLine(const QString &text);

private:
    void onAdmitted(QTcpSocket *socket);

    ProjectorQueue &m_queue;
    Listener m_listener{"raw port"};
    int m_idleMs = kIdleTimeoutMs;
};

} // namespace bridge
