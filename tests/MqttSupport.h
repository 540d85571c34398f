#pragma once
// The far side of orva-bridge on MQTT, for the tests: a mosquitto broker of the
// test's own on the loopback, an MQTT client (libmosquitto, its own thread) that
// records everything it is sent.

#include "FreePort.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QMap>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QString>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <mosquitto.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <vector>

namespace mqtt_test {

inline constexpr int kWait = 15000;

// The broker program, from mosquitto's package; empty when it is not installed.
inline QString brokerProgram()
{
    QString found = QStandardPaths::findExecutable(QStringLiteral("mosquitto"));
    if (found.isEmpty())
        found = QStandardPaths::findExecutable(QStringLiteral("mosquitto"), {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin")});
    return found;
}

// mosquitto on 127.0.0.1 at a free port, anonymous, nothing kept across a restart.
struct Broker {
    QTemporaryDir dir;
    quint16 port = freePort();
    QProcess process;
    QByteArray log;

    Broker() { process.setProcessChannelMode(QProcess::MergedChannels); }
    ~Broker() { stop(); }
    Broker(const Broker &) = delete;
    Broker &operator=(const Broker &) = delete;

    // Up and listening (it says "... running" once its listener is open).
    bool start()
    {
        const QString config = dir.filePath(QStringLiteral("mosquitto.conf"));
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly))
            return false;
        file.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\npersistence false\n").arg(port).toUtf8());
        file.close();
        log.clear();
        process.start(brokerProgram(), {QStringLiteral("-c"), config});
        const bool up = QTest::qWaitFor([&] {
            log += process.readAll();
            return log.contains(" running") || process.state() == QProcess::NotRunning;
        }, kWait);
        return up && process.state() == QProcess::Running;
    }
    // Gone at once, as a crashed or rebooted broker.
    void kill()
    {
        process.kill();
        process.waitForFinished(kWait);
    }
    void stop()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(kWait))
            kill();
    }
};

struct Message {
    QByteArray topic;
    QByteArray payload;
    int qos = 0;
    bool retained = false;  // delivered from the broker's store (at subscription)
};

// An MQTT 3.1.1 client with a clean session: subscribes its filters (QoS 2, so a
// message arrives with the QoS it was published with) at every connection and
// keeps what it is sent. It reconnects on its own when the broker comes back.
class Client {
public:
    Client(quint16 port, QList<QByteArray> filters) : m_filters(std::move(filters))
    {
        m_mosq = mosquitto_new(nullptr, true, this);
        mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
        mosquitto_reconnect_delay_set(m_mosq, 1, 1, false);
        mosquitto_connect_callback_set(m_mosq, &Client::onConnect);
        mosquitto_subscribe_callback_set(m_mosq, &Client::onSubscribe);
        mosquitto_message_callback_set(m_mosq, &Client::onMessage);
        mosquitto_publish_callback_set(m_mosq, &Client::onPublish);
        mosquitto_connect_async(m_mosq, "127.0.0.1", port, 10);
        mosquitto_loop_start(m_mosq);
    }
    ~Client()
    {
        mosquitto_disconnect(m_mosq);
        mosquitto_loop_stop(m_mosq, false);
        mosquitto_destroy(m_mosq);
    }
    Client(const Client &) = delete;
    Client &operator=(const Client &) = delete;

    // Subscribed (once more than `before` times: after a reconnection).
    bool waitSubscribed(int before = 0) const
    {
        return QTest::qWaitFor([&] { return m_subscribed.load() > before; }, kWait);
    }
    int subscriptions() const { return m_subscribed.load(); }

    // Published with QoS 1 and acknowledged by the broker.
    bool publish(const QByteArray &topic, const QByteArray &payload, bool retain = false)
    {
        int mid = 0;
        if (mosquitto_publish(m_mosq, &mid, topic.constData(), int(payload.size()), payload.constData(), 1, retain) != MOSQ_ERR_SUCCESS)
            return false;
        return QTest::qWaitFor([&] {
            std::lock_guard lock(m_mutex);
            return m_acknowledged.contains(mid);
        }, kWait);
    }

    QList<Message> messages(qsizetype from = 0) const
    {
        std::lock_guard lock(m_mutex);
        return m_messages.mid(from);
    }
    qsizetype count() const
    {
        std::lock_guard lock(m_mutex);
        return m_messages.size();
    }
    // The last payload sent on `topic`, if any.
    std::optional<QByteArray> latest(const QByteArray &topic) const
    {
        std::lock_guard lock(m_mutex);
        for (qsizetype i = m_messages.size() - 1; i >= 0; --i)
            if (m_messages[i].topic == topic)
                return m_messages[i].payload;
        return std::nullopt;
    }
    // The payloads sent on `topic` from message `from` on.
    QList<QByteArray> payloads(const QByteArray &topic, qsizetype from = 0) const
    {
        QList<QByteArray> out;
        for (const Message &m : messages(from))
            if (m.topic == topic)
                out << m.payload;
        return out;
    }

private:
    static void onConnect(mosquitto *mosq, void *self, int rc)
    {
        auto *c = static_cast<Client *>(self);
        if (rc != 0)
            return;
        std::vector<char *> subs;
        for (QByteArray &f : c->m_filters)
            subs.push_back(f.data());
        int mid = 0;
        mosquitto_subscribe_multiple(mosq, &mid, int(subs.size()), subs.data(), 2, 0, nullptr);
        c->m_subscribeMid.store(mid);
    }
    static void onSubscribe(mosquitto *, void *self, int mid, int, const int *)
    {
        auto *c = static_cast<Client *>(self);
        if (mid == c->m_subscribeMid.load())
            ++c->m_subscribed;
    }
    static void onMessage(mosquitto *, void *self, const mosquitto_message *m)
    {
        auto *c = static_cast<Client *>(self);
        Message message{QByteArray(m->topic), QByteArray(static_cast<const char *>(m->payload), m->payloadlen), m->qos, m->retain};
        std::lock_guard lock(c->m_mutex);
        c->m_messages << message;
    }
    static void onPublish(mosquitto *, void *self, int mid)
    {
        auto *c = static_cast<Client *>(self);
        std::lock_guard lock(c->m_mutex);
        c->m_acknowledged.insert(mid);
    }

    mosquitto *m_mosq = nullptr;
    QList<QByteArray> m_filters;
    std::atomic<int> m_subscribeMid{-1};
    std::atomic<int> m_subscribed{0};
    mutable std::mutex m_mutex;
    QList<Message> m_messages;
    QSet<int> m_acknowledged;
};

// What the broker holds retained now, by topic. A new client subscribes to
// everything and then publishes a message of its own: the broker sends the
// retained messages of a subscription before it handles the client's next
// publication, so once that comes back, all of them are in.
inline bool retainedNow(quint16 port, QMap<QByteArray, Message> &out)
{
    static int barriers = 0;
    Client c(port, {"#"});
    if (!c.waitSubscribed())
        return false;
    const QByteArray barrier = "orva-test/barrier/" + QByteArray::number(++barriers);
    if (!c.publish(barrier, "x"))
        return false;
    if (!QTest::qWaitFor([&] { return c.latest(barrier).has_value(); }, kWait))
        return false;
    out.clear();
    for (const Message &m : c.messages())
        if (m.retained)
            out.insert(m.topic, m);
    return true;
}

} // namespace mqtt_test
