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
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QProcess>
#include <QSet>
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

inline constexpr int kWait = 15000;
inline constexpr int kCap = kWait;  // the tests' name: BridgeSupport.h has a kWait of its own
inline constexpr char kNoBroker[] = "mosquitto is not installed: install the mosquitto and mosquitto-clients packages to run the MQTT tests";

// The broker program, from mosquitto's package; empty when it is not installed.
inline QString brokerProgram()
{
    const QString found = QStandardPaths::findExecutable(QStringLiteral("mosquitto"));
    return found.isEmpty() ? QStandardPaths::findExecutable(QStringLiteral("mosquitto"), {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin")})
                           : found;
}

// libmosquitto set up once, the first time a test needs it, and cleaned up at the program's end.
inline void useLibrary()
{
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
    ~Broker() { stop(); }

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

    // Subscribed (once more than `before` times: after a reconnection).
    bool waitSubscribed(int before = 0) const
    {
        return QTest::qWaitFor([&] { return m_subscribed.load() > before; }, kWait);
    }

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

using Retained = QMap<QByteArray, Message>;
using Simulator = SimulatorProcess;
using Watch = Client;
// The bridge finding a restarted broker, or a projector back on its port.
inline constexpr int kComeBack = 60000;

// The state topics of a projector that answers, below orva/<id>/.
inline const QList<QByteArray> kStateTopics = QByteArray("availability power power/text input mute/video mute/audio lamp/hours "
                                                  "lamp/mode temperature/1 temperature/2 temperature/3 fault problem").split(' ');
// A projector's Home Assistant entities: component/object.
inline const QList<QByteArray> kEntities = QByteArray(
    "switch/power select/input switch/video_mute switch/audio_mute sensor/power_state sensor/power_status sensor/status "
    "sensor/fault sensor/lamp_mode sensor/lamp_hours sensor/temperature_1 sensor/temperature_2 sensor/temperature_3 "
    "binary_sensor/problem button/picture_mode_stand button/picture_mode_real button/picture_mode_cinema "
    "button/picture_mode_image1 button/picture_mode_image2 button/picture_mode_image3 button/picture_mode_image4 "
    "button/picture_mode_bboard button/picture_mode_dynamic button/query_status button/query_mode button/query_lamp_time "
    "button/query_setting button/query_temperature").split(' ');

inline QByteArray configTopic(const QByteArray &entity, const QByteArray &node)
{
    const qsizetype slash = entity.indexOf('/');
    return "homeassistant/" + entity.left(slash) + "/" + node + "/" + entity.mid(slash + 1) + "/config";
}

// The entities' configuration topics of these nodes, sorted.
inline QStringList configTopics(const QList<QByteArray> &nodes)
{
    QStringList out;
    for (const QByteArray &e : kEntities)
        for (const QByteArray &node : nodes)
            out << QString::fromUtf8(configTopic(e, node));
    out.sort();
    return out;
}

// The status queries the bridge asks after a command: power, input, mute.
inline const QStringList kAskedAgain = {"CR0", "CR1", "CRA"};

inline bool onlyStatusQueries(const QStringList &codes)
{
    return std::all_of(codes.begin(), codes.end(), [](const QString &c) { return kAskedAgain.contains(c); });
}

// What the line holds from `from` on once the codes of a command have gone out,
// and, for a command that is no status query, the bridge has asked power, input
// and mute again (the codes first, the queries after them). When that does not
// come, what it saw and "<not asked again>".
inline QStringList lineAfter(Simulator &sim, qsizetype from, const QStringList &codes)
{
    const bool queriesOnly = std::all_of(codes.begin(), codes.end(), [](const QString &c) { return c.startsWith(u"CR"); });
    QStringList seen;
    const bool done = QTest::qWaitFor([&] {
        seen = sim.heard().mid(from);
        const QStringList after = seen.mid(codes.size());
        return seen.size() >= codes.size()
            && (queriesOnly || std::all_of(kAskedAgain.begin(), kAskedAgain.end(), [&](const QString &q) { return after.contains(q); }));
    }, kWait);
    return done ? seen : seen << QStringLiteral("<not asked again>");
}

// The state topics of projector `id` the client has not seen yet (availability
// counts once it is online).
inline QStringList missingState(const Watch &watch, const QByteArray &id)
{
    QStringList missing;
    for (const QByteArray &t : kStateTopics)
        if (!watch.latest("orva/" + id + "/" + t))
            missing << QString::fromLatin1(t);
    if (watch.latest("orva/" + id + "/availability") != QByteArray("online"))
        missing << QStringLiteral("availability online");
    return missing;
}

// What is retained below `prefix`, in the topics' order: "topic=payload" with the
// topic after the prefix, or the whole topics alone.
inline QStringList below(const Retained &all, const QByteArray &prefix, bool topicsOnly = false)
{
    QStringList out;
    for (auto it = all.begin(); it != all.end(); ++it)
        if (it.key().startsWith(prefix))
            out << QString::fromUtf8(topicsOnly ? it.key() : it.key().mid(prefix.size()) + '=' + it->payload);
    return out;
}
inline QStringList topicsBelow(const Retained &all, const QByteArray &prefix) { return below(all, prefix, true); }

// One projector on the broker: mosquitto, orva-sim, a client watching orva/# and
// homeassistant/#, and the bridge with the projector's id p1.
struct Rig {
    Broker broker;
    std::unique_ptr<Simulator> sim;
    std::unique_ptr<Watch> watch;
    std::unique_ptr<Service> bridge;
    QString why;

    bool fail(const QString &reason)
    {
        why = reason;
        return false;
    }
    bool prepare(const QStringList &simulator)
    {
        if (!broker.start())
            return fail(QStringLiteral("mosquitto did not start: ") + QString::fromLocal8Bit(broker.log));
        sim = std::make_unique<Simulator>(simulator);
        if (sim->path.isEmpty())
            return fail(QStringLiteral("orva-sim did not start"));
        watch = std::make_unique<Watch>(broker.port, QList<QByteArray>{"orva/#", "homeassistant/#"});
        return watch->waitSubscribed() || fail(QStringLiteral("the test's MQTT client did not subscribe"));
    }
    // Started on `device` (else orva-sim's), and (unless told not to wait) its projector's whole state published.
    bool startBridge(const QStringList &more, bool waitForState = true, const QString &device = {})
    {
        bridge = std::make_unique<Service>(QStringList{"--device", device.isEmpty() ? sim->path : device, "--pjlink", "0", "--mqtt",
                                                       QStringLiteral("mqtt://127.0.0.1:%1").arg(broker.port), "--id", "p1",
                                                       "--mqtt-id", "testbridge", "--poll", "3600"} + more,
                                           0);
        if (!waitForState)
            return true;
        const auto stateOrEnd = [&] { return missingState(*watch, "p1").isEmpty() || bridge->process.state() == QProcess::NotRunning; };
        if (QTest::qWaitFor(stateOrEnd, kWait) && bridge->process.state() == QProcess::Running)
            return true;
        return fail(QStringLiteral("the projector's state is incomplete, missing %1; the bridge said:\n%2")
                        .arg(missingState(*watch, "p1").join(u", "), QString::fromLocal8Bit(bridge->said())));
    }
    bool up(const QStringList &simulator, const QStringList &more = {"--mqtt-send"}) { return prepare(simulator) && startBridge(more); }

    bool publish(const QByteArray &below, const QByteArray &payload, bool retain = false)
    {
        return watch->publish("orva/p1/" + below, payload, retain);
    }
    QByteArray latest(const QByteArray &below) const { return watch->latest("orva/p1/" + below).value_or("<nothing>"); }
    // A command published, and the line from then on once its codes have gone out (see lineAfter).
    QStringList command(const QByteArray &below, const QByteArray &payload, const QStringList &codes)
    {
        const qsizetype from = sim->heard().size();
        return publish(below, payload) ? lineAfter(*sim, from, codes) : QStringList{"<not published>"};
    }

    // The first message on orva/p1/<kind> (reply or error) from message `from` on
    // about a command on `topic`, as JSON.
    std::optional<QJsonObject> outcome(const QByteArray &kind, const QByteArray &topic, qsizetype from) const
    {
        for (const Message &m : watch->messages(from)) {
            const QJsonObject o = QJsonDocument::fromJson(m.payload).object();
            if (m.topic == "orva/p1/" + kind && o.value(QStringLiteral("topic")).toString() == QString::fromUtf8(topic))
                return o;
        }
        return std::nullopt;
    }
};

// A configuration file of the bridge on `broker` with these projectors (id and
// device each), served on MQTT alone.
inline QString writeConfig(const QTemporaryDir &dir, const QString &name, quint16 broker, const QList<std::pair<QString, QString>> &projectors)
{
    QString text = QStringLiteral("[bridge]\nmqtt = mqtt://127.0.0.1:%1\nmqtt-id = testbridge\npoll = 3600\n").arg(broker);
    for (const auto &[id, device] : projectors)
        text += QStringLiteral("[%1]\ndevice = %2\npjlink = 0\n").arg(id, device);
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write(text.toUtf8());
    return file.fileName();
}

} // namespace mqtt_test
