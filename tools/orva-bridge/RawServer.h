#pragma once
// The shared raw port: behaves as a serial device server would, so the panel
// (--com1 tcp://HOST:PORT) and orva-ctl (--port tcp://HOST:PORT) work through the
// bridge unchanged. Each command (text up to its CR) from a client waits its turn
// in the projector's queue, and its reply goes back to that client; characters
// that come while no command waits go to every raw client.

#include "Listener.h"

#include <QHostAddress>
#include <QObject>
#include <QTcpServer>

namespace bridge {

class ProjectorQueue;

class RawServer final : public QObject {
    Q_OBJECT
public:
    // A client's text with no CR in this many bytes is dropped (no command is that long).
    static constexpr qsizetype kMaxCommand = 256;

    explicit RawServer(ProjectorQueue &queue, QObject *parent = nullptr);

    bool listen(const QHostAddress &address, quint16 port);
    quint16 port() const { return m_server.serverPort(); }
    QString errorString() const { return m_server.errorString(); }
    // How many connections may be open at once; the next is closed.
    void setMaxConnections(int n) { m_maxConnections = n; }

signals:
    void logLine(const QString &text);

private:
    void onNewConnection();

    ProjectorQueue &m_queue;
    QTcpServer m_server;
    int m_connections = 0;
    int m_maxConnections = kDefaultMaxConnections;
};

} // namespace bridge
