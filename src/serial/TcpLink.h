#pragma once
// A raw TCP link to a serial device server, named tcp://HOST:PORT where a device
// path would stand. The open only starts connecting and returns at once, so the
// window never waits for the network: the connection comes up in the background
// (writes made meanwhile go out when it does) or fails within kConnectTimeoutMs,
// reported by openFailed. Bytes map to characters one to one, as on a serial port.
//
// Nothing reaches the network in the event-loop turn of the open: the connect
// starts when the host name's lookup answers (on a worker thread, so the event
// thread never waits for DNS), or for an address literal on the next turn. An
// answer that comes for an open that was closed meanwhile is dropped, so a close
// and a new open in one handler (the panel's start-up does that) leave one
// connection on the device server, not an empty one before the real one.
//
// POSIX sockets under Qt Core's QSocketNotifier: no Qt Network.

#include "SerialControl.h"

#include <QByteArray>
#include <QString>
#include <QList>
#include <QSocketNotifier>
#include <QTimer>

#include <memory>

class TcpLink final : public SerialControl {
    Q_OBJECT
public:
    // The longest a connection may take before the server counts as unreachable.
    static constexpr int kConnectTimeoutMs = 3000;

    // A link to `path`, tcp://HOST:PORT.
    explicit TcpLink(QString path, QObject *parent = nullptr);
    ~TcpLink() override;

    // Whether `path` names a network link rather than a device.
    static bool isNetworkPath(const QString &path);

    // The port number only names the address's option in the texts.
    SerialResult setCommPort(int port) override;
    int commPort() const override { return m_comPort; }
    // Kept, but the device server sets the line's speed: answered with ErrSpeedSetByServer.
    SerialResult setSettings(const QString &settings) override;
    QString settings() const override { return m_settings; }
    // Connecting or connected.
    bool portOpen() const override { return m_state != State::Closed; }
    // Opening starts connecting; an address that is no tcp://HOST:PORT fails at once,
    // everything else later through openFailed. Closing closes the link (connected
    // or still connecting); nothing is reported.
    SerialResult setPortOpen(bool open) override;
    // While connecting the bytes wait and go out, in order, once connected.
    SerialResult output(const QString &text) override;
    QString input() override;
    int commEvent() const override { return m_commEvent; }

private:
    enum class State { Closed, LookingUp, Connecting, Connected };
    // What a lookup worker may still reach: the link, until it is destroyed.
    struct LookupGuard;

    SerialResult open();
    void close();
    void lookUp();
    void onLookedUp(quint64 generation, const QList<QByteArray> &addresses);
    void connectNext();
    void onWritable();
    void onReadable();
    void flush();
    void dropSocket();
    void fail(const SerialError &error);
    SerialError connectError(int error) const;
    SerialError unreachable(const QString &what) const;
    SerialError lostError(const QString &what) const;

    std::shared_ptr<LookupGuard> m_guard;
    QSocketNotifier m_readNotifier{QSocketNotifier::Read};
    QSocketNotifier m_writeNotifier{QSocketNotifier::Write};
    QTimer m_connectTimer;
    int m_socket = -1;
    State m_state = State::Closed;
    QString m_path;
    QString m_host;
    int m_port = 0;
    int m_comPort = 1;
    QString m_settings = QStringLiteral("9600,N,8,1");
    int m_commEvent = 0;
    // The server's addresses not tried yet (each a sockaddr), and why the last
    // one tried failed (an errno value).
    QList<QByteArray> m_addresses;
    int m_lastConnectError = 0;
    QByteArray m_readBuffer;
    // Bytes not sent yet: all of them while connecting, the rest of a partial send after.
    QByteArray m_writeBuffer;
    // Counts opens and closes, so that an answer or error queued for an earlier
    // connection is not acted on for a later one, nor after the link was closed.
    quint64 m_generation = 0;
};
