#pragma once
// The far side of orva-bridge on MQTT, for the tests: a mosquitto broker of the
// test's own on the loopback, an MQTT client (libmosquitto, its own thread) that
// records everything it is sent, and the three with orva-sim and the bridge as one
// rig. Every topic, payload and key is written out here and in the tests, from the
// bridge's documented interface (docs/mqtt.md) and Home Assistant's MQTT discovery.
// Needs ORVA_SIM_PATH and ORVA_BRIDGE_PATH.

#include "BridgeSupport.h"
#include "FreePort.h"
#include "SimulatorProcess.h"

#include <QByteArray>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryDir>
#include <QTest>

#include <mosquitto.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace mqtt_test {

inline constexpr int kCap = 15000;  // BridgeSupport.h has a kWait of its own
// The bridge finding a restarted broker, or a projector back on its port.
inline constexpr int kComeBack = 60000;

// The broker program, from mosquitto's package; empty when it is not installed.
inline QString brokerProgram()
{
    return QStandardPaths::findExecutable(QStringLiteral("mosquitto"), qEnvironmentVariable("PATH").split(u':') + QStringList{"/usr/sbin", "/usr/local/sbin"});
}

// A test program's initTestCase: skipped without mosquitto; libmosquitto set up
// once, and cleaned up at the program's end.
inline void needBroker()
{
    if (brokerProgram().isEmpty())
        QSKIP("mosquitto is not installed: install the mosquitto and mosquitto-clients packages to run the MQTT tests");
    static const struct Library {
        Library() { mosquitto_lib_init(); }
        ~Library() { mosquitto_lib_cleanup(); }
    } library;
}

// mosquitto on 127.0.0.1 at a free port, anonymous, nothing kept across a restart.
struct Broker {
    QTemporaryDir dir;
    quint16 port = freePort();
    QProcess process;
    QByteArray log;

    Broker() { process.setProcessChannelMode(QProcess::MergedChannels); }
    ~Broker() { kill(); }

    // Up and listening (it says "... running" once its listener is open).
    bool start()
    {
        QFile config(dir.filePath(QStringLiteral("mosquitto.conf")));
        if (!config.open(QIODevice::WriteOnly) || config.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\npersistence false\n").arg(port).toUtf8()) < 0)
            return false;
        config.close();
        log.clear();
        process.start(brokerProgram(), {QStringLiteral("-c"), config.fileName()});
        return QTest::qWaitFor([&] {
            log += process.readAll();
            return log.contains(" running") || process.state() == QProcess::NotRunning;
        }, kCap) && process.state() == QProcess::Running;
    }
    // Gone at once, as a crashed or rebooted broker.
    void kill()
    {
        process.kill();
        process.waitForFinished(kCap);
    }
};

struct Message {
    QByteArray topic;
    QByteArray payload;
    int qos = 0;
    bool retained = false;  // delivered from the broker's store (at subscription)
};
using Retained = QMap<QByteArray, Message>;

// An MQTT 3.1.1 client with a clean session: subscribes its filters (QoS 2, so a
// message arrives with the QoS it was published with) at every connection and
// keeps what it is sent. It reconnects on its own when the broker comes back.
class Watch {
public:
    Watch(quint16 port, QList<QByteArray> filters) : m_filters(std::move(filters))
    {
        m_mosq = mosquitto_new(nullptr, true, this);
        mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
        mosquitto_reconnect_delay_set(m_mosq, 1, 1, false);
        mosquitto_connect_callback_set(m_mosq, &Watch::onConnect);
        mosquitto_subscribe_callback_set(m_mosq, [](mosquitto *, void *self, int, int, const int *) { ++static_cast<Watch *>(self)->m_subscribed; });
        mosquitto_message_callback_set(m_mosq, &Watch::onMessage);
        mosquitto_connect_async(m_mosq, "127.0.0.1", port, 10);
        mosquitto_loop_start(m_mosq);
    }
    ~Watch()
    {
        mosquitto_disconnect(m_mosq);
        mosquitto_loop_stop(m_mosq, false);
        mosquitto_destroy(m_mosq);
    }

    bool waitSubscribed() const { return QTest::qWaitFor([&] { return m_subscribed.load() > 0; }, kCap); }

    // Published with QoS 1, and come back from the broker (the client's filters take its own topics).
    bool publish(const QByteArray &topic, const QByteArray &payload, bool retain = false)
    {
        const qsizetype from = count();
        return mosquitto_publish(m_mosq, nullptr, topic.constData(), int(payload.size()), payload.constData(), 1, retain) == MOSQ_ERR_SUCCESS
            && QTest::qWaitFor([&] { return payloads(topic, from).contains(payload); }, kCap);
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
        const QList<QByteArray> all = payloads(topic);
        return all.isEmpty() ? std::nullopt : std::optional(all.last());
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
        std::vector<char *> subs;
        for (QByteArray &f : static_cast<Watch *>(self)->m_filters)
            subs.push_back(f.data());
        if (rc == 0)
            mosquitto_subscribe_multiple(mosq, nullptr, int(subs.size()), subs.data(), 2, 0, nullptr);
    }
    static void onMessage(mosquitto *, void *self, const mosquitto_message *m)
    {
        auto *c = static_cast<Watch *>(self);
        std::lock_guard lock(c->m_mutex);
        c->m_messages << Message{QByteArray(m->topic), QByteArray(static_cast<const char *>(m->payload), m->payloadlen), m->qos, m->retain};
    }

    mosquitto *m_mosq = nullptr;
    QList<QByteArray> m_filters;
    std::atomic<int> m_subscribed{0};
    mutable std::mutex m_mutex;
    QList<Message> m_messages;
};

// What the broker holds retained now, by topic. A new client subscribes to
// everything and then publishes a message of its own: the broker sends the
// retained messages of a subscription before it handles the client's next
// publication, so once that comes back, all of them are in.
inline bool retainedNow(quint16 port, Retained &out)
{
    Watch c(port, {"#"});
    if (!c.waitSubscribed() || !c.publish("orva-test/barrier", "x"))
        return false;
    out.clear();
    for (const Message &m : c.messages())
        if (m.retained)
            out.insert(m.topic, m);
    return true;
}

// The state topics of a projector that answers, below orva/<id>/.
inline const QList<QByteArray> kStateTopics = QByteArray("availability power power/text input mute/video mute/audio lamp/hours "
                                                  "lamp/mode temperature/1 temperature/2 temperature/3 fault problem").split(' ');

// The Home Assistant entities retained, counted by node: "orva_p1:28".
inline QStringList entityCounts(const Retained &all)
{
    QMap<QByteArray, int> nodes;
    for (auto it = all.keyBegin(); it != all.keyEnd(); ++it)
        if (it->startsWith("homeassistant/"))
            ++nodes[it->split('/').value(2)];
    QStringList out;
    for (auto it = nodes.begin(); it != nodes.end(); ++it)
        out << QString::fromUtf8(it.key()) + u':' + QString::number(it.value());
    return out;
}

// What is retained below `prefix`, in the topics' order: "topic=payload" with the
// topic after the prefix.
inline QStringList below(const Retained &all, const QByteArray &prefix)
{
    QStringList out;
    for (auto it = all.begin(); it != all.end(); ++it)
        if (it.key().startsWith(prefix))
            out << QString::fromUtf8(it.key().mid(prefix.size()) + '=' + it->payload);
    return out;
}

// One projector on the broker: mosquitto, orva-sim, a client watching orva/# and
// homeassistant/#, and the bridge with the projector's id p1.
struct Rig {
    Broker broker;
    std::unique_ptr<SimulatorProcess> sim;
    std::unique_ptr<Watch> watch;
    std::unique_ptr<Service> bridge;
    QJsonObject last;  // the outcome of the last command()

    // The parts started: each returns what went wrong, empty when nothing did.
    QString prepare(const QStringList &simulator, bool withSimulator = true)
    {
        if (!broker.start())
            return QStringLiteral("mosquitto did not start: ") + QString::fromLocal8Bit(broker.log);
        if (withSimulator && (sim = std::make_unique<SimulatorProcess>(simulator))->path.isEmpty())
            return QStringLiteral("orva-sim did not start");
        watch = std::make_unique<Watch>(broker.port, QList<QByteArray>{"orva/#", "homeassistant/#"});
        return watch->waitSubscribed() ? QString() : QStringLiteral("the test's MQTT client did not subscribe");
    }
    // Started on `device` (else orva-sim's), and (unless told not to wait) its projector's whole state published.
    QString startBridge(const QStringList &more, bool waitForState = true, const QString &device = {})
    {
        bridge = std::make_unique<Service>(QStringList{"--device", device.isEmpty() ? sim->path : device, "--pjlink", "0", "--mqtt",
                                                       QStringLiteral("mqtt://127.0.0.1:%1").arg(broker.port), "--id", "p1",
                                                       "--mqtt-id", "testbridge", "--poll", "3600"} + more,
                                           0);
        const auto complete = [&] {
            return latest("availability") == "online"
                && std::all_of(kStateTopics.begin(), kStateTopics.end(), [&](const QByteArray &t) { return watch->latest("orva/p1/" + t); });
        };
        const auto ended = [&] { return bridge->process.state() == QProcess::NotRunning; };
        if (!waitForState || (QTest::qWaitFor([&] { return complete() || ended(); }, kCap) && !ended()))
            return {};
        return QStringLiteral("the projector's state is incomplete; the bridge said:\n") + QString::fromLocal8Bit(bridge->said());
    }
    QString up(const QStringList &simulator, const QStringList &more = {"--mqtt-send"})
    {
        const QString why = prepare(simulator);
        return why.isEmpty() ? startBridge(more) : why;
    }

    bool publish(const QByteArray &below, const QByteArray &payload, bool retain = false)
    {
        return watch->publish("orva/p1/" + below, payload, retain);
    }
    QByteArray latest(const QByteArray &below) const { return watch->latest("orva/p1/" + below).value_or("<nothing>"); }

    // The first message on orva/p1/<kind> (reply or error) from message `from` on
    // about a command on orva/p1/<below>, as JSON.
    std::optional<QJsonObject> outcome(const QByteArray &kind, const QByteArray &below, qsizetype from) const
    {
        for (const Message &m : watch->messages(from)) {
            const QJsonObject o = QJsonDocument::fromJson(m.payload).object();
            if (m.topic == "orva/p1/" + kind && o.value(QStringLiteral("topic")).toString() == QString::fromUtf8("orva/p1/" + below))
                return o;
        }
        return std::nullopt;
    }
    // A command published: its outcome (on orva/p1/reply or orva/p1/error), empty when none came.
    QJsonObject send(const QByteArray &below, const QByteArray &payload)
    {
        const qsizetype mark = watch->count();
        std::optional<QJsonObject> o;
        return publish(below, payload) && QTest::qWaitFor([&] { return (o = outcome("reply", below, mark)) || (o = outcome("error", below, mark)); }, kCap)
            ? *o : QJsonObject();
    }
    // A command sent (its outcome in `last`), then a status query no command is
    // followed by, CR4 (command/set "setting"), answered: the codes the projector
    // heard from the command to that query.
    QStringList command(const QByteArray &below, const QByteArray &payload)
    {
        const qsizetype from = sim->heard().size();
        if ((last = send(below, payload)).isEmpty() || send("command/set", "setting").isEmpty())
            return {QStringLiteral("<no outcome>")};
        QStringList heard;  // orva-sim's log comes on its own time
        return QTest::qWaitFor([&] { return (heard = sim->heard().mid(from)).endsWith(QStringLiteral("CR4")); }, kCap) ? heard : heard << "<no CR4>";
    }
};

} // namespace mqtt_test
