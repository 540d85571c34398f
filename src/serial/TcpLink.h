#pragma once
// A raw TCP link to a serial device server, named tcp://HOST:PORT where a device
// path would stand. The open only starts connecting and returns at once, so the
// window never waits for the network: the connection comes up in the background
// (writes made meanwhile go out when it does) or fails within kConnectTimeoutMs,
// reported by openFailed. Bytes map to characters one to one, as on a serial port.

#include "SerialControl.h"

#include <QTcpSocket>
#include <QTimer>

class TcpLink final : public QObject {
    Q_OBJECT
public:
    // The longest a connection may take before the server counts as unreachable.
    static constexpr int kConnectTimeoutMs = 3000;

    explicit TcpLink(QObject *parent = nullptr);
    ~TcpLink() override;

    // Whether `path` names a network link rather than a device.
    static bool isNetworkPath(const QString &path);

    // Starts connecting to `path`; an address that is no tcp://HOST:PORT fails at
    // once, everything else later through openFailed. `port` is the port number
    // (COM1, COM2) whose device option names the address.
    SerialResult open(const QString &path, int port);
    // Closes the link (connected or still connecting); nothing is reported.
    void close();
    // Connecting or connected.
    bool isOpen() const { return m_state != State::Closed; }
    SerialResult write(const QByteArray &bytes);
    QByteArray readAll();

signals:
    void readyRead();
    // The connection could not be made; the link is closed.
    void openFailed(const SerialError &error);
    // The connection went down after it was made; the link is closed. Once per loss.
    void lost(const SerialError &error);

private:
    enum class State { Closed, Connecting, Connected };
    void onSocketError(QAbstractSocket::SocketError error);
    void failOpen(const SerialError &error);

    QTcpSocket m_socket;
    QTimer m_connectTimer;
    State m_state = State::Closed;
    QString m_path;
    QString m_host;
    int m_port = 0;
    int m_comPort = 1;
    // Counts opens and closes, so that an error queued for an earlier connection
    // is not reported for a later one, nor after the link was closed.
    quint64 m_generation = 0;
};
