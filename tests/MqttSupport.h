#pragma once
// The far side of orva-bridge on MQTT, for the tests: a mosquitto broker of the
// test's own on the loopback, an MQTT client (mosquitto_sub, mosquitto_pub) that
// records everything it is sent, and the three with orva-sim and the bridge as one
// rig. Every topic, payload and key is written out here and in the tests, from the
// bridge's documented interface (docs/mqtt.md) and Home Assistant's MQTT discovery.
// Needs ORVA_SIM_PATH and ORVA_BRIDGE_PATH.

#include "BridgeSupport.h"
#include "SimulatorProcess.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QStandardPaths>

#include <algorithm>
#include <memory>

namespace mqtt_test {

inline constexpr int kCap = 15000;  // BridgeSupport.h has a kWait of its own
// The bridge finding a restarted broker, or a projector back on its port.
inline constexpr int kComeBack = 60000;

// A program of mosquitto's packages; empty when it is not installed.
inline QString program(const char *name)
{
    return QStandardPaths::findExecutable(QString::fromLatin1(name), qEnvironmentVariable("PATH").split(u':') + QStringList{"/usr/sbin"});
}

// A test program's initTestCase: skipped without mosquitto and its clients.
inline void needBroker()
{
    for (const char *name : {"mosquitto", "mosquitto_sub", "mosquitto_pub"})
        if (program(name).isEmpty())
            QSKIP("mosquitto is not installed: install the mosquitto and mosquitto-clients packages to run the MQTT tests");
}

// mosquitto on 127.0.0.1 at a free port, anonymous, nothing kept across a restart.
struct Broker {
    quint16 port = freePort();
    QProcess process;
    QByteArray log;

    ~Broker() { kill(); }

    // Up and listening (it says "... running" once its listener is open).
    bool start()
    {
        log.clear();
        process.start(program("mosquitto"), {QStringLiteral("-c"), QStringLiteral("/dev/stdin")});
        process.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\n").arg(port).toUtf8());
        process.closeWriteChannel();
        return QTest::qWaitFor([&] {
            log += process.readAllStandardError();
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

// An MQTT 3.1.1 client with a clean session (mosquitto_sub): subscribed to its
// filters with QoS 2, so a message arrives with the QoS it was published with (up
// once the broker acknowledged them), and keeps what it is sent. It publishes with
// mosquitto_pub.
class Watch {
public:
    Watch(quint16 port, const QStringList &filters) : m_port(QString::number(port))
    {
        // Line-buffered: its debug output tells the subscription acknowledged at once.
        QStringList arguments{"-oL", program("mosquitto_sub"), "-h", "127.0.0.1", "-p", m_port, "-q", "2", "-d", "-F", "%r %q %t %x"};
        for (const QString &filter : filters)
            arguments << QStringLiteral("-t") << filter;
        m_sub.start(QStringLiteral("stdbuf"), arguments);
        if (!QTest::qWaitFor([&] { return messages(), m_subscribed; }, kCap))
            m_sub.kill();  // nothing comes: what waits for it fails
    }
    ~Watch()
    {
        m_sub.kill();
        m_sub.waitForFinished(kCap);
    }

    // Published with QoS 1, and come back from the broker (the client's filters take
    // its own topics). With `lines`, each line of `payload` a message.
    bool publish(const QByteArray &topic, const QByteArray &payload, bool retain = false, bool lines = false)
    {
        const qsizetype from = messages().size();
        QProcess pub;
        pub.start(program("mosquitto_pub"), QStringList{"-h", "127.0.0.1", "-p", m_port, "-q", "1", "-t", QString::fromUtf8(topic),
                                                        lines ? "-l" : payload.isEmpty() ? "-n" : "-s"} + (retain ? QStringList{"-r"} : QStringList()));
        pub.write(payload);
        pub.closeWriteChannel();
        const QByteArray last = lines ? payload.split('\n').constLast() : payload;
        return pub.waitForFinished(kCap) && pub.exitCode() == 0 && QTest::qWaitFor([&] { return payloads(topic, from).contains(last); }, kCap);
    }

    QList<Message> messages(qsizetype from = 0)
    {
        while (m_sub.canReadLine()) {
            const QList<QByteArray> f = m_sub.readLine().trimmed().split(' ');
            if (f[0] == "Subscribed")
                m_subscribed = true;
            else if (f[0] == "0" || f[0] == "1")
                m_messages << Message{f.value(2), QByteArray::fromHex(f.value(3)), f.value(1).toInt(), f[0] == "1"};
        }
        return m_messages.mid(from);
    }
    // The last payload sent on `topic`; "<nothing>" before one.
    QByteArray latest(const QByteArray &topic)
    {
        const QList<QByteArray> all = payloads(topic);
        return all.value(all.size() - 1, "<nothing>");
    }
    // The payloads sent on `topic` from message `from` on.
    QList<QByteArray> payloads(const QByteArray &topic, qsizetype from = 0)
    {
        QList<QByteArray> out;
        for (const Message &m : messages(from))
            if (m.topic == topic)
                out << m.payload;
        return out;
    }

private:
    QString m_port;
    QProcess m_sub;
    bool m_subscribed = false;
    QList<Message> m_messages;
};

// What the broker holds retained now, by topic. A new client subscribes to
// everything and then publishes a message of its own: the broker sends the
// retained messages of a subscription before it handles the client's next
// publication, so once that comes back, all of them are in.
inline Retained retained(quint16 port)
{
    Watch c(port, {QStringLiteral("#")});
    if (!c.publish("orva-test/barrier", "x"))
        return {{"<the test's client did not get the barrier back>", {}}};
    Retained out;
    for (const Message &m : c.messages())
        if (m.retained)
            out.insert(m.topic, m);
    return out;
}

// The state topics of a projector that answers, below orva/<id>/.
inline const QList<QByteArray> kStateTopics = QByteArray("availability power power/text input mute/video mute/audio lamp/hours "
                                                  "lamp/mode temperature/1 temperature/2 temperature/3 fault problem").split(' ');

// The Home Assistant entities retained, counted by node: {"orva_p1", 28}.
inline QMap<QByteArray, int> entityCounts(const Retained &all)
{
    QMap<QByteArray, int> nodes;
    for (const QByteArray &topic : all.keys())
        if (topic.startsWith("homeassistant/"))
            ++nodes[topic.split('/').value(2)];
    return nodes;
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
        watch = std::make_unique<Watch>(broker.port, QStringList{"orva/#", "homeassistant/#"});
        return {};
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
                && std::all_of(kStateTopics.begin(), kStateTopics.end(), [&](const QByteArray &t) { return latest(t) != "<nothing>"; });
        };
        if (!waitForState || QTest::qWaitFor(complete, kCap))
            return {};
        return QStringLiteral("the projector's state is incomplete; the bridge said:\n") + QString::fromLocal8Bit(bridge->said());
    }
    QByteArray latest(const QByteArray &below) { return watch->latest("orva/p1/" + below); }

    // A command published: its outcome (on orva/p1/reply or orva/p1/error), empty when none came.
    QJsonObject send(const QByteArray &below, const QByteArray &payload)
    {
        const qsizetype mark = watch->messages().size();
        QJsonObject o;
        const auto came = [&] {
            for (const Message &m : watch->messages(mark))
                if ((m.topic == "orva/p1/reply" || m.topic == "orva/p1/error")
                    && (o = QJsonDocument::fromJson(m.payload).object()).value(QStringLiteral("topic")) == QString::fromUtf8("orva/p1/" + below))
                    return true;
            return false;
        };
        return watch->publish("orva/p1/" + below, payload) && QTest::qWaitFor(came, kCap) ? o : QJsonObject();
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
