#pragma once
// One connection to an MQTT broker, through libmosquitto. The library runs the
// connection in a thread of its own (connecting, keeping alive, reconnecting with
// a growing delay); everything it reports is handed to this object's thread as a
// signal, so the rest of the bridge sees only the event loop.
//
// That thread is started only once a first attempt to connect is under way: when
// the attempt fails at once (nobody listens yet, the name is not found), the
// library's thread would wait for a connection nobody makes, waking every 10 ms,
// and never try again. Until then this object tries again itself, on a timer,
// from the first delay to the last, doubling.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <memory>

class QThread;

struct mosquitto;
struct mosquitto_message;

namespace bridge {

struct MqttEndpoint {
    QString host;
    int port = 1883;
    bool tls = false;
    QString caFile;      // TLS: the CA certificates; empty: the system's
    QString user;        // empty: none
    QByteArray password;
};

class MqttLink final : public QObject {
    Q_OBJECT
public:
    // Delays between attempts to reach the broker: from the first to the last, growing.
    static constexpr unsigned kFirstRetrySeconds = 1;
    static constexpr unsigned kLastRetrySeconds = 30;
    static constexpr int kKeepAliveSeconds = 20;

    // `will`: published retained by the broker should the connection die.
    // `filters`: subscribed (at most once delivery) at every connection.
    MqttLink(const MqttEndpoint &endpoint, const QString &clientId, const QString &willTopic,
             const QByteArray &willPayload, const QStringList &filters, QObject *parent = nullptr);
    ~MqttLink() override;

    // Begins connecting (a broker not there yet is tried again until it is); false,
    // with `error` set, when the settings cannot work.
    bool start(QString *error);
    // Disconnects and waits for the library's thread to end. What was published
    // before goes out first.
    void stop();

    bool isConnected() const { return m_connected; }
    // Retained or not, delivered at most once (never twice, after a reconnection).
    // Nothing while the broker is not reached: what must stay is published again on
    // the next connection.
    void publish(const QString &topic, const QByteArray &payload, bool retain = true);

signals:
    void connected();
    // The connection was lost, or an attempt failed (nobody listens, a TLS error, a refusal).
    void disconnected(const QString &why);
    void message(const QString &topic, const QByteArray &payload, bool retained);

private:
    static void onConnect(mosquitto *mosq, void *self, int rc);
    static void onDisconnect(mosquitto *mosq, void *self, int rc);
    static void onMessage(mosquitto *mosq, void *self, const mosquitto_message *message);
    static void onLog(mosquitto *mosq, void *self, int level, const char *text);
    // One attempt to reach the broker, beside the event loop (looking a name up may
    // take seconds); its outcome: under way (the library's thread goes on), or why not.
    void attempt();
    void attempted(bool underWay, const QString &why);

    MqttEndpoint m_endpoint;
    QByteArray m_willTopic;
    QByteArray m_willPayload;
    QList<QByteArray> m_filters;
    mosquitto *m_mosq = nullptr;
    bool m_running = false;
    bool m_looping = false;  // the library's thread runs
    bool m_connected = false;
    std::unique_ptr<QThread> m_attempt;
    QTimer m_retry;
    unsigned m_retrySeconds = kFirstRetrySeconds;
};

} // namespace bridge
