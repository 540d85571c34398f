// orva-bridge on MQTT, end to end: the real program against a mosquitto broker
// started here, orva-sim as the projector, and an MQTT client of the test's own
// on the other side. What is retained after the start, the codes each command
// topic puts on the line and the state published after them, payloads that are
// no command, Home Assistant's discovery messages key by key, and the bridge, the
// broker and the projector going away and coming back.
//
// Every topic, payload and key below is written out here, from the bridge's
// documented interface (docs/mqtt.md) and Home Assistant's MQTT discovery keys.

#include "MqttSupport.h"
#include "SimulatorProcess.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>
#include <optional>

using namespace mqtt_test;

namespace {

// The bridge finding a restarted broker, or a projector back on its port.
constexpr int kComeBack = 60000;

// The state topics of a projector that answers, below orva/<id>/.
const QList<QByteArray> kStateTopics = {
    "availability", "power", "power/text", "input", "mute/video", "mute/audio", "lamp/hours", "lamp/mode",
    "temperature/1", "temperature/2", "temperature/3", "fault", "problem",
};
// And what else may be retained there: the last status query's line.
const QList<QByteArray> kRetainedTopics = kStateTopics + QList<QByteArray>{"status"};

// A projector's Home Assistant entities: component/object.
const QList<QByteArray> kEntities = {
    "switch/power",
    "select/input",
    "switch/video_mute",
    "switch/audio_mute",
    "sensor/power_state",
    "sensor/power_status",
    "sensor/status",
    "sensor/fault",
    "sensor/lamp_mode",
    "sensor/lamp_hours",
    "sensor/temperature_1",
    "sensor/temperature_2",
    "sensor/temperature_3",
    "binary_sensor/problem",
    "button/picture_mode_stand",
    "button/picture_mode_real",
    "button/picture_mode_cinema",
    "button/picture_mode_image1",
    "button/picture_mode_image2",
    "button/picture_mode_image3",
    "button/picture_mode_image4",
    "button/picture_mode_bboard",
    "button/picture_mode_dynamic",
    "button/query_status",
    "button/query_mode",
    "button/query_lamp_time",
    "button/query_setting",
    "button/query_temperature",
};

QByteArray configTopic(const QByteArray &entity, const QByteArray &node)
{
    const qsizetype slash = entity.indexOf('/');
    return "homeassistant/" + entity.left(slash) + "/" + node + "/" + entity.mid(slash + 1) + "/config";
}

// The status queries the bridge asks after a command: power, input, mute.
const QStringList kAskedAgain = {"CR0", "CR1", "CRA"};

bool onlyStatusQueries(const QStringList &codes)
{
    return std::all_of(codes.begin(), codes.end(), [](const QString &c) { return kAskedAgain.contains(c); });
}

using Simulator = SimulatorProcess;

// The orva-bridge program.
struct Bridge {
    QProcess process;
    QByteArray log;

    explicit Bridge(const QStringList &arguments) { process.start(QStringLiteral(ORVA_BRIDGE_PATH), arguments); }
    ~Bridge() { end(); }
    void end()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(kWait))
            process.kill();
        process.waitForFinished(kWait);
    }
    // Its log, a line each.
    QList<QByteArray> lines()
    {
        // What the bridge has written so far, whether or not the event loop has read it yet.
        process.setReadChannel(QProcess::StandardError);
        process.waitForReadyRead(0);
        log += process.readAllStandardError();
        QList<QByteArray> out = log.split('\n');
        if (!out.isEmpty() && out.last().isEmpty())
            out.removeLast();
        return out;
    }
    QByteArray text()
    {
        log += process.readAllStandardError();
        return log;
    }
};

// What the line holds from `from` on once the codes of a command have gone out,
// and, for a command that is no status query, the bridge has asked power, input
// and mute again (the codes first, the queries after them). Returns what it saw
// when that does not come.
QStringList lineAfter(Simulator &sim, qsizetype from, const QStringList &codes)
{
    const bool queriesOnly = std::all_of(codes.begin(), codes.end(), [](const QString &c) { return c.startsWith(u"CR"); });
    const QStringList asked = queriesOnly ? QStringList() : kAskedAgain;
    QStringList seen;
    static_cast<void>(QTest::qWaitFor([&] {
        seen = sim.heard().mid(from);
        if (seen.size() < codes.size())
            return false;
        const QStringList after = seen.mid(codes.size());
        return std::all_of(asked.begin(), asked.end(), [&](const QString &q) { return after.contains(q); });
    }, kWait));
    return seen;
}

// The state topics of projector `id` the client has not seen yet (availability
// counts once it is online).
QStringList missingState(const Client &watch, const QByteArray &id)
{
    QStringList missing;
    for (const QByteArray &t : kStateTopics)
        if (!watch.latest("orva/" + id + "/" + t))
            missing << QString::fromLatin1(t);
    if (watch.latest("orva/" + id + "/availability") != QByteArray("online"))
        missing << QStringLiteral("availability online");
    return missing;
}

// A temperature as published: a plain decimal number (no leading zeros, no unit).
bool sameTemperature(const QByteArray &got, const QByteArray &expected)
{
    static const QRegularExpression plain(QStringLiteral("^-?(0|[1-9][0-9]*)(\\.[0-9]+)?$"));
    return plain.match(QString::fromLatin1(got)).hasMatch() && got.toDouble() == expected.toDouble();
}

// Compares a published value with the expected one: temperatures as numbers
// (41.0 may be "41" or "41.0"), everything else exactly.
QString valueMismatch(const QByteArray &topic, const std::optional<QByteArray> &got, const QByteArray &expected)
{
    if (!got)
        return QStringLiteral("%1: nothing retained, expected \"%2\"").arg(QString::fromUtf8(topic), QString::fromUtf8(expected));
    const bool ok = topic.contains("/temperature/") ? sameTemperature(*got, expected) : *got == expected;
    return ok ? QString()
              : QStringLiteral("%1: \"%2\", expected \"%3\"").arg(QString::fromUtf8(topic), QString::fromUtf8(*got), QString::fromUtf8(expected));
}

std::optional<QByteArray> retainedPayload(const QMap<QByteArray, Message> &all, const QByteArray &topic)
{
    if (!all.contains(topic))
        return std::nullopt;
    return all[topic].payload;
}

QStringList retainedTopics(const QMap<QByteArray, Message> &all, const QByteArray &prefix)
{
    QStringList out;
    for (auto it = all.begin(); it != all.end(); ++it)
        if (it.key().startsWith(prefix))
            out << QString::fromUtf8(it.key());
    return out;
}

// What one list of topics has that the other has not.
QString difference(const QStringList &got, const QStringList &expected)
{
    QStringList extra, missing;
    for (const QString &t : got)
        if (!expected.contains(t))
            extra << t;
    for (const QString &t : expected)
        if (!got.contains(t))
            missing << t;
    return QStringLiteral("not expected: %1; missing: %2").arg(extra.join(u", "), missing.join(u", "));
}

// A JSON value as compact text, its keys in order.
QByteArray compact(const QJsonValue &value)
{
    return value.isArray() ? QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact)
                           : QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
}

// One projector on the broker: mosquitto, orva-sim, a client watching orva/# and
// homeassistant/#, and the bridge with the projector's id p1.
struct Single {
    Broker broker;
    std::unique_ptr<Simulator> sim;
    std::unique_ptr<Client> watch;
    std::unique_ptr<Bridge> bridge;
    QString why;

    bool fail(const QString &reason)
    {
        why = reason;
        return false;
    }
    QString url() const { return QStringLiteral("mqtt://127.0.0.1:%1").arg(broker.port); }

    bool prepare(const QStringList &simulator)
    {
        if (!broker.start())
            return fail(QStringLiteral("mosquitto did not start: ") + QString::fromLocal8Bit(broker.log));
        sim = std::make_unique<Simulator>(simulator);
        if (sim->path.isEmpty())
            return fail(QStringLiteral("orva-sim did not start"));
        watch = std::make_unique<Client>(broker.port, QList<QByteArray>{"orva/#", "homeassistant/#"});
        if (!watch->waitSubscribed())
            return fail(QStringLiteral("the test's MQTT client did not subscribe"));
        return true;
    }
    // Started, and (unless told not to wait) its projector's whole state published.
    bool startBridge(const QStringList &more = {}, bool waitForState = true)
    {
        bridge = std::make_unique<Bridge>(QStringList{"--device", sim->path, "--pjlink", "0", "--mqtt", url(), "--id", "p1",
                                                      "--mqtt-id", "testbridge", "--poll", "3600"}
                                          + more);
        if (!waitForState)
            return true;
        if (!QTest::qWaitFor([&] { return missingState(*watch, "p1").isEmpty() || bridge->process.state() == QProcess::NotRunning; },
                             kWait)
            || bridge->process.state() == QProcess::NotRunning)
            return fail(QStringLiteral("the projector's state is incomplete, missing %1; the bridge (%2, exit code %3) said:\n%4")
                            .arg(missingState(*watch, "p1").join(u", "), bridge->process.errorString())
                            .arg(bridge->process.exitCode())
                            .arg(QString::fromLocal8Bit(bridge->text())));
        return true;
    }
    bool up(const QStringList &simulator, const QStringList &more = {}) { return prepare(simulator) && startBridge(more); }

    bool publish(const QByteArray &below, const QByteArray &payload, bool retain = false)
    {
        return watch->publish("orva/p1/" + below, payload, retain);
    }
    QByteArray latest(const QByteArray &below) const { return watch->latest("orva/p1/" + below).value_or("<nothing>"); }

    // The first message on orva/p1/<kind> (reply or error) from message `from` on
    // about a command on `topic`, as JSON.
    std::optional<QJsonObject> outcome(const QByteArray &kind, const QByteArray &topic, qsizetype from) const
    {
        for (const Message &m : watch->messages(from)) {
            if (m.topic != "orva/p1/" + kind)
                continue;
            const QJsonObject o = QJsonDocument::fromJson(m.payload).object();
            if (o.value(QStringLiteral("topic")).toString() == QString::fromUtf8(topic))
                return o;
        }
        return std::nullopt;
    }
};

// A configuration file of the bridge on `broker` with these projectors (id and
// device each), served on MQTT alone.
QString writeConfig(const QTemporaryDir &dir, const QString &name, quint16 broker, const QList<std::pair<QString, QString>> &projectors)
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

} // namespace

class TstMqtt : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (brokerProgram().isEmpty())
            QSKIP("mosquitto is not installed: install the mosquitto and mosquitto-clients packages to run the MQTT tests");
        mosquitto_lib_init();
        m_libraryUp = true;
    }
    void cleanupTestCase()
    {
        if (m_libraryUp)
            mosquitto_lib_cleanup();
    }

    // After the start: the projector's state, each topic retained (QoS 0), in
    // the words of the status lines; and the bridge's own topics.
    void retainedState_data()
    {
        QTest::addColumn<QStringList>("simulator");
        QTest::addColumn<QStringList>("expected");  // "topic=payload", topics below orva/p1/
        const auto row = [](const char *name, QStringList simulator, QStringList expected) {
            QTest::newRow(name) << simulator << expected;
        };
        row("standby", {},
            {"availability=online", "power=off", "power/text=Stand by", "input=PC1", "mute/video=OFF", "mute/audio=OFF",
             "lamp/hours=1234", "lamp/mode=No1,2 ON  : 2 Lamp mode", "temperature/1=32.5", "temperature/2=41",
             "temperature/3=38.5", "fault=none", "problem=OFF"});
        row("on", {"--state", "on"},
            {"availability=online", "power=on", "power/text=Power ON", "input=PC1", "mute/video=OFF", "mute/audio=OFF",
             "fault=none", "problem=OFF"});
        row("power fail", {"--state", "power-fail"},
            {"availability=online", "power=fault", "power/text=Power Fail", "fault=Power Fail", "problem=ON"});
        row("input 4", {"--state", "on", "--state", "input-4"}, {"input=Input mode 4"});
        row("lamp hours 99999", {"--lamp-hours", "99999"}, {"lamp/hours=99999"});
    }
    void retainedState()
    {
        QFETCH(QStringList, simulator);
        QFETCH(QStringList, expected);
        Single s;
        QVERIFY2(s.up(simulator), qPrintable(s.why));
        QMap<QByteArray, Message> all;
        QVERIFY(retainedNow(s.broker.port, all));
        QStringList wrong;
        for (const QString &e : expected) {
            const QByteArray topic = "orva/p1/" + e.section(u'=', 0, 0).toUtf8();
            if (const QString w = valueMismatch(topic, retainedPayload(all, topic), e.section(u'=', 1).toUtf8()); !w.isEmpty())
                wrong << w;
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(u"; ")));
        // Every state topic retained, published at most once (QoS 0), and nothing
        // else (no command, reply or error).
        for (const QByteArray &t : kStateTopics)
            QVERIFY2(all.contains("orva/p1/" + t), t.constData());
        for (const QString &t : retainedTopics(all, "orva/p1/")) {
            QVERIFY2(kRetainedTopics.contains(t.mid(8).toUtf8()), qPrintable(t + QStringLiteral(" is retained")));
            QVERIFY2(all[t.toUtf8()].qos == 0, qPrintable(t + QStringLiteral(": QoS %1").arg(all[t.toUtf8()].qos)));
        }
        QCOMPARE(retainedPayload(all, "orva/bridge/testbridge/availability"), std::optional<QByteArray>("online"));
        const std::optional<QByteArray> projectors = retainedPayload(all, "orva/bridge/testbridge/projectors");
        QVERIFY2(projectors.has_value(), "orva/bridge/testbridge/projectors is not retained");
        QCOMPARE(QJsonDocument::fromJson(*projectors).array(), QJsonArray({"p1"}));
    }

    // Every command topic: the codes on the line (then the bridge asks power,
    // input and mute again), the state published after it, retained, and the
    // outcome on orva/p1/reply.
    void commands_data()
    {
        QTest::addColumn<QStringList>("simulator");
        QTest::addColumn<QStringList>("bridge");       // more arguments
        QTest::addColumn<bool>("mutedFirst");          // both mutes set on (mute/set ON) first
        QTest::addColumn<QByteArray>("topic");         // below orva/p1/
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QStringList>("line");         // the codes the projector hears, in order
        QTest::addColumn<QStringList>("state");        // "topic=payload" after it, topics below orva/p1/
        QTest::addColumn<QString>("reply");            // the outcome's "reply", where checked
        const QStringList standby, on{"--state", "on"}, send{"--mqtt-send"};
        const QString ack = QStringLiteral("ACK");
        const auto row = [](const char *name, QStringList simulator, QStringList bridge, bool mutedFirst, const char *topic,
                            const char *payload, QStringList line, QStringList state, QString reply = {}) {
            QTest::newRow(name) << simulator << bridge << mutedFirst << QByteArray(topic) << QByteArray(payload) << line << state
                                << reply;
        };
        row("power ON", standby, {}, false, "power/set", "ON", {"C00"}, {"power=warming", "power/text=Count down"}, ack);
        row("power on, lower case, blanks", standby, {}, false, "power/set", "  on  ", {"C00"}, {"power=warming"});
        row("power OFF", on, {}, false, "power/set", "OFF", {"C01"}, {"power=cooling", "power/text=Cooling down"}, ack);
        row("input PC1", {"--state", "on", "--state", "input-4"}, {}, false, "input/set", "PC1", {"C05"}, {"input=PC1"}, ack);
        row("input PC2", on, {}, false, "input/set", "PC2", {"C06"}, {"input=PC2"}, ack);
        row("input Video", on, {}, false, "input/set", "Video", {"C07"}, {"input=Video"}, ack);
        row("input video, lower case", on, {}, false, "input/set", " video", {"C07"}, {"input=Video"});
        row("mute VIDEO ON", on, {}, false, "mute/set", "VIDEO ON", {"C0D"}, {"mute/video=ON", "mute/audio=OFF"}, ack);
        row("mute VIDEO OFF", on, {}, true, "mute/set", "VIDEO OFF", {"C0E"}, {"mute/video=OFF", "mute/audio=ON"}, ack);
        row("mute AUDIO ON", on, {}, false, "mute/set", "AUDIO ON", {"C0B"}, {"mute/video=OFF", "mute/audio=ON"}, ack);
        row("mute AUDIO OFF", on, {}, true, "mute/set", "AUDIO OFF", {"C0C"}, {"mute/video=ON", "mute/audio=OFF"}, ack);
        row("mute ON", on, {}, false, "mute/set", "ON", {"C0D", "C0B"}, {"mute/video=ON", "mute/audio=ON"});
        row("mute OFF", on, {}, true, "mute/set", "OFF", {"C0E", "C0C"}, {"mute/video=OFF", "mute/audio=OFF"});
        row("command picture-mode-cinema", standby, {}, false, "command/set", "picture-mode-cinema", {"C13"}, {"power=off"}, ack);
        row("command Picture-Mode-Cinema, case, blanks", standby, {}, false, "command/set", " Picture-Mode-Cinema ", {"C13"}, {});
        row("command key-lock-rc", standby, {}, false, "command/set", "key-lock-rc", {"CF KEYDIS RC"}, {}, ack);
        row("command sound-mute-on", on, {}, false, "command/set", "sound-mute-on", {"C0B"}, {"mute/audio=ON"}, ack);
        // An auto-repeat key by name: its code once, as a short tap sends it.
        row("command volume-up", standby, {}, false, "command/set", "volume-up", {"C09"}, {}, ack);
        row("command status", standby, {}, false, "command/set", "status", {"CR0"}, {"status=Stand by"}, "80");
        row("command mode", standby, {}, false, "command/set", "mode", {"CR1"}, {"status=Computer 1"});
        row("command lamp-time", standby, {}, false, "command/set", "lamp-time", {"CR3"}, {"lamp/hours=1234"});
        row("command temperature", standby, {}, false, "command/set", "temperature", {"CR6"}, {"temperature/1=32.5"});
        row("send CF KEYDIS RC", standby, send, false, "send/set", "CF KEYDIS RC", {"CF KEYDIS RC"}, {}, ack);
        row("send C00", standby, send, false, "send/set", "C00", {"C00"}, {"power=warming"}, ack);
        row("send CR0", standby, send, false, "send/set", "CR0", {"CR0"}, {"status=Stand by"});
    }
    void commands()
    {
        QFETCH(QStringList, simulator);
        QFETCH(QStringList, bridge);
        QFETCH(bool, mutedFirst);
        QFETCH(QByteArray, topic);
        QFETCH(QByteArray, payload);
        QFETCH(QStringList, line);
        QFETCH(QStringList, state);
        QFETCH(QString, reply);
        Single s;
        QVERIFY2(s.up(simulator, bridge), qPrintable(s.why));
        if (mutedFirst) {
            const qsizetype from = s.sim->heard().size();
            QVERIFY(s.publish("mute/set", "ON"));
            QTRY_COMPARE_WITH_TIMEOUT(s.latest("mute/video") + ' ' + s.latest("mute/audio"), QByteArray("ON ON"), kWait);
            QCOMPARE(lineAfter(*s.sim, from, {"C0D", "C0B"}).mid(0, 2), (QStringList{"C0D", "C0B"}));
        }
        const qsizetype from = s.sim->heard().size();
        const qsizetype mark = s.watch->count();
        QVERIFY(s.publish(topic, payload));
        const QStringList heard = lineAfter(*s.sim, from, line);
        QCOMPARE(heard.mid(0, line.size()), line);
        const QStringList again = heard.mid(line.size());
        QVERIFY2(onlyStatusQueries(again), qPrintable(heard.join(u", ")));
        // A command that is no status query is followed by power, input and mute asked again.
        if (!std::all_of(line.begin(), line.end(), [](const QString &c) { return c.startsWith(u"CR"); }))
            for (const QString &q : kAskedAgain)
                QVERIFY2(again.contains(q), qPrintable(q + QStringLiteral(" not asked again: ") + heard.join(u", ")));
        for (const QString &st : state) {
            const QByteArray t = st.section(u'=', 0, 0).toUtf8();
            const QByteArray v = st.section(u'=', 1).toUtf8();
            QTRY_VERIFY2_WITH_TIMEOUT(valueMismatch(t, s.watch->latest("orva/p1/" + t), v).isEmpty(),
                                      qPrintable(valueMismatch(t, s.watch->latest("orva/p1/" + t), v)), kWait);
        }
        std::optional<QJsonObject> outcome;
        QTRY_VERIFY_WITH_TIMEOUT((outcome = s.outcome("reply", "orva/p1/" + topic, mark)).has_value(), kWait);
        QCOMPARE(outcome->value(QStringLiteral("payload")).toString().trimmed(), QString::fromUtf8(payload).trimmed());
        QVERIFY2(outcome->value(QStringLiteral("reply")).isString(), QJsonDocument(*outcome).toJson().constData());
        if (!reply.isEmpty())
            QCOMPARE(outcome->value(QStringLiteral("reply")).toString(), reply);
        // A status query's outcome carries its status line, the one orva/p1/status now holds.
        for (const QString &st : state)
            if (st.startsWith(QLatin1String("status=")))
                QCOMPARE(outcome->value(QStringLiteral("status")).toString(), st.mid(7));
        QVERIFY(s.outcome("error", "orva/p1/" + topic, mark) == std::nullopt);
        // The state is retained; the outcome and the command are not.
        QMap<QByteArray, Message> all;
        QVERIFY(retainedNow(s.broker.port, all));
        for (const QString &st : state) {
            const QByteArray t = "orva/p1/" + st.section(u'=', 0, 0).toUtf8();
            const QString w = valueMismatch(t, retainedPayload(all, t), st.section(u'=', 1).toUtf8());
            QVERIFY2(w.isEmpty(), qPrintable(w));
        }
        QVERIFY(!all.contains("orva/p1/reply"));
        QVERIFY(!all.contains("orva/p1/" + topic));
    }

    // Payloads that are no command: nothing on the line (the next command is the
    // first the projector hears), no state changed, and one line in the bridge's
    // log however often they come (an empty one, the clearing of a retained command,
    // in none).
    void ignoredPayloads_data()
    {
        QTest::addColumn<QStringList>("bridge");
        QTest::addColumn<QByteArray>("topic");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<bool>("logged");
        QTest::addColumn<QByteArray>("line");  // the log line, where the row names it
        const QStringList send{"--mqtt-send"};
        const auto row = [](const char *name, QStringList bridge, const char *topic, QByteArray payload, bool logged = true,
                            QByteArray line = {}) {
            QTest::newRow(name) << bridge << QByteArray(topic) << payload << logged << line;
        };
        // A wrong payload in the log: on one line, what the topic takes beside it.
        row("power with a DEL", {}, "power/set", "O\x7f""N", true,
            "orva-bridge: p1: MQTT: orva/p1/power/set: \"O?N\" ignored: it takes ON or OFF");
        row("power MAYBE", {}, "power/set", "MAYBE");
        // An empty message is what clearing a retained command sends to those
        // subscribed: carried out never, logged neither.
        row("power empty", {}, "power/set", "", false);
        row("power ON OFF", {}, "power/set", "ON OFF");
        row("power ON, no UTF-8", {}, "power/set", "ON\xff");
        row("power ON with a NUL", {}, "power/set", QByteArray("ON\0", 3));
        row("input PC3", {}, "input/set", "PC3");
        row("input Computer 1", {}, "input/set", "Computer 1", true,
            "orva-bridge: p1: MQTT: orva/p1/input/set: \"Computer 1\" ignored: it takes PC1, PC2 or Video");
        row("mute VIDEO", {}, "mute/set", "VIDEO");
        row("mute VIDEOON", {}, "mute/set", "VIDEOON");
        row("mute VIDEO ON AUDIO ON", {}, "mute/set", "VIDEO ON AUDIO ON");
        row("command no such name", {}, "command/set", "no-such-command");
        row("command a code for a name", {}, "command/set", "C00");
        row("command empty", {}, "command/set", "", false);
        row("send with a CR inside", send, "send/set", "C0D\rC00");
        row("send with a LF inside", send, "send/set", "C0D\nC00", true,
            "orva-bridge: p1: MQTT: orva/p1/send/set: \"C0D?C00\" ignored: it takes a command text of printable ASCII, 128 "
            "characters at most");
        row("send 129 characters", send, "send/set", QByteArray(129, 'X'));
        row("send not ASCII", send, "send/set", "C0\xc3\xa9");
        row("send empty", send, "send/set", "", false);
        row("send without mqtt-send", {}, "send/set", "C00", true,
            "orva-bridge: p1: MQTT: orva/p1/send/set: \"C00\" ignored: raw commands are not taken (the bridge's mqtt-send "
            "setting is off)");
    }
    void ignoredPayloads()
    {
        QFETCH(QStringList, bridge);
        QFETCH(QByteArray, topic);
        QFETCH(QByteArray, payload);
        QFETCH(bool, logged);
        QFETCH(QByteArray, line);
        Single s;
        QVERIFY2(s.up({}, bridge), qPrintable(s.why));
        QMap<QByteArray, Message> before, after;
        QVERIFY(retainedNow(s.broker.port, before));
        const qsizetype lines = s.bridge->lines().size();
        // Three times, a command between, three times again.
        for (int round = 0; round < 2; ++round) {
            const qsizetype from = s.sim->heard().size();
            const qsizetype mark = s.watch->count();
            for (int i = 0; i < 3; ++i)
                QVERIFY(s.publish(topic, payload));
            QVERIFY(s.publish("command/set", "picture-mode-cinema"));
            const QStringList heard = lineAfter(*s.sim, from, {"C13"});
            QCOMPARE(heard.mid(0, 1), QStringList{"C13"});
            QVERIFY2(onlyStatusQueries(heard.mid(1)), qPrintable(heard.join(u", ")));
            QTRY_VERIFY_WITH_TIMEOUT(s.outcome("reply", "orva/p1/command/set", mark).has_value(), kWait);
            if (!logged)
                continue;
            if (round == 0)
                QVERIFY2(QTest::qWaitFor([&] { return s.bridge->lines().size() > lines; }, kWait),
                         qPrintable(QStringLiteral("nothing logged; the bridge said:\n") + QString::fromUtf8(s.bridge->text())));
            const QList<QByteArray> added = s.bridge->lines().mid(lines);
            QVERIFY2(added.size() == 1, qPrintable(QStringLiteral("after round %1:\n").arg(round + 1) + QString::fromUtf8(added.join('\n'))));
            QVERIFY2(added.first().startsWith("orva-bridge: "), added.first().constData());
            if (!line.isEmpty())
                QCOMPARE(added.first(), line);
        }
        QVERIFY(retainedNow(s.broker.port, after));
        const auto below = [](const QMap<QByteArray, Message> &all) {
            QStringList out;
            for (auto it = all.begin(); it != all.end(); ++it)
                if (it.key().startsWith("orva/p1/"))
                    out << QString::fromUtf8(it.key() + '=' + it->payload);
            return out;
        };
        QCOMPARE(below(after), below(before));
    }

    // Two bad payloads by turns, as two misconfigured senders would send them: each
    // logged once, not every time.
    void ignoredPayloadsByTurns()
    {
        Single s;
        QVERIFY2(s.up({}), qPrintable(s.why));
        const qsizetype lines = s.bridge->lines().size();
        const qsizetype from = s.sim->heard().size();
        const qsizetype mark = s.watch->count();
        for (int i = 0; i < 3; ++i) {
            QVERIFY(s.publish("power/set", "MAYBE"));
            QVERIFY(s.publish("input/set", "PC3"));
        }
        QVERIFY(s.publish("command/set", "picture-mode-cinema"));
        QCOMPARE(lineAfter(*s.sim, from, {"C13"}).mid(0, 1), QStringList{"C13"});
        QTRY_VERIFY_WITH_TIMEOUT(s.outcome("reply", "orva/p1/command/set", mark).has_value(), kWait);
        const QList<QByteArray> added = s.bridge->lines().mid(lines);
        QVERIFY2(added.size() == 2, added.join('\n').constData());
    }

    // A retained command waiting on the broker when the bridge connects is not
    // carried out: the first command the projector hears is the next live one.
    void retainedCommandNotCarriedOut()
    {
        Single s;
        QVERIFY2(s.prepare({}), qPrintable(s.why));
        QVERIFY(s.publish("power/set", "ON", true));
        QVERIFY(s.publish("input/set", "Video", true));
        QVERIFY(s.publish("mute/set", "ON", true));
        QVERIFY(s.publish("command/set", "picture-mode-cinema", true));
        QVERIFY(s.publish("send/set", "C00", true));
        QVERIFY2(s.startBridge({"--mqtt-send"}), qPrintable(s.why));
        const qsizetype from = s.sim->heard().size();
        QVERIFY(s.publish("command/set", "picture-mode-real"));
        const QStringList heard = lineAfter(*s.sim, from, {"C12"});
        QCOMPARE(heard.mid(0, 1), QStringList{"C12"});
        const QStringList all = s.sim->heard();
        for (const char *code : {"C00", "C07", "C0D", "C0B", "C13"})
            QVERIFY2(!all.contains(QLatin1String(code)), qPrintable(all.join(u", ")));
        QCOMPARE(s.latest("power"), QByteArray("off"));
        QCOMPARE(s.latest("input"), QByteArray("PC1"));
    }

    // Home Assistant's discovery: exactly the projector's entities, retained, each
    // with its unique id, the one device and the availability topic; the keys of
    // each entity as Home Assistant documents them; and each entity's own command
    // payload, as Home Assistant sends it, puts its code on the line.
    void discovery()
    {
        Single s;
        QVERIFY2(s.up({"--state", "on"}), qPrintable(s.why));
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(kEntities.begin(), kEntities.end(),
                                             [&](const QByteArray &e) { return s.watch->latest(configTopic(e, "orva_p1")).has_value(); }),
                                 kWait);
        QMap<QByteArray, Message> all;
        QVERIFY(retainedNow(s.broker.port, all));
        QStringList expected;
        for (const QByteArray &e : kEntities)
            expected << QString::fromUtf8(configTopic(e, "orva_p1"));
        expected.sort();
        QVERIFY2(retainedTopics(all, "homeassistant/") == expected, qPrintable(difference(retainedTopics(all, "homeassistant/"), expected)));

        // What every entity has; the rest, by entity.
        QMap<QByteArray, QJsonObject> entities;
        for (const QByteArray &e : kEntities) {
            QJsonParseError error;
            QJsonObject c = QJsonDocument::fromJson(all[configTopic(e, "orva_p1")].payload, &error).object();
            QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString()));
            QCOMPARE(c.take(QStringLiteral("unique_id")).toString(), QStringLiteral("orva_p1_") + QString::fromUtf8(e.mid(e.indexOf('/') + 1)));
            QCOMPARE(compact(c.take(QStringLiteral("availability"))), QByteArray(R"([{"topic":"orva/p1/availability"}])"));
            QCOMPARE(compact(c.take(QStringLiteral("device"))),
                     QByteArray(R"({"identifiers":["orva_p1"],"manufacturer":"ORVA","model":"TK58R","name":"p1","sw_version":"1.40"})"));
            QCOMPARE(compact(c.take(QStringLiteral("origin"))), QByteArray(R"({"name":"orva-bridge","sw_version":"1.40"})"));
            entities[e] = c;
        }
        const std::pair<const char *, const char *> keys[] = {
            {"switch/power", R"({"command_topic":"orva/p1/power/set","icon":"mdi:projector","name":"Power","payload_off":"OFF",)"
                             R"("payload_on":"ON","state_off":"OFF","state_on":"ON","state_topic":"orva/p1/power",)"
                             R"("value_template":"{{ 'ON' if value in ('on', 'warming') else 'OFF' }}"})"},
            {"select/input", R"({"command_topic":"orva/p1/input/set","name":"Input","options":["PC1","PC2","Video"],)"
                             R"("state_topic":"orva/p1/input"})"},
            {"switch/video_mute", R"({"command_topic":"orva/p1/mute/set","name":"Video mute","payload_off":"VIDEO OFF",)"
                                  R"("payload_on":"VIDEO ON","state_off":"OFF","state_on":"ON","state_topic":"orva/p1/mute/video"})"},
            {"switch/audio_mute", R"({"command_topic":"orva/p1/mute/set","name":"Audio mute","payload_off":"AUDIO OFF",)"
                                  R"("payload_on":"AUDIO ON","state_off":"OFF","state_on":"ON","state_topic":"orva/p1/mute/audio"})"},
            {"sensor/power_state", R"({"device_class":"enum","name":"Power state","options":["on","off","warming","cooling","fault"],)"
                                   R"("state_topic":"orva/p1/power"})"},
            // Texts: no device class, no unit (either would make Home Assistant take them for numbers).
            {"sensor/power_status", R"({"name":"Power status","state_topic":"orva/p1/power/text"})"},
            {"sensor/status", R"({"name":"Status","state_topic":"orva/p1/status"})"},
            {"sensor/fault", R"({"entity_category":"diagnostic","name":"Fault","state_topic":"orva/p1/fault"})"},
            {"sensor/lamp_mode", R"({"entity_category":"diagnostic","name":"Lamp mode","state_topic":"orva/p1/lamp/mode"})"},
            {"sensor/lamp_hours", R"({"device_class":"duration","entity_category":"diagnostic","name":"Lamp hours",)"
                                  R"("state_class":"total_increasing","state_topic":"orva/p1/lamp/hours","unit_of_measurement":"h"})"},
            {"sensor/temperature_1", R"({"device_class":"temperature","entity_category":"diagnostic","name":"Temperature 1",)"
                                     R"("state_class":"measurement","state_topic":"orva/p1/temperature/1","unit_of_measurement":"°C"})"},
            {"sensor/temperature_3", R"({"device_class":"temperature","entity_category":"diagnostic","name":"Temperature 3",)"
                                     R"("state_class":"measurement","state_topic":"orva/p1/temperature/3","unit_of_measurement":"°C"})"},
            {"binary_sensor/problem", R"({"device_class":"problem","name":"Problem","payload_off":"OFF","payload_on":"ON",)"
                                      R"("state_topic":"orva/p1/problem"})"},
        };
        for (const auto &[entity, fields] : keys)
            QCOMPARE(compact(entities[entity]), QByteArray(fields));

        // The buttons, and each commanding entity's payload with the codes it puts on the line.
        const struct {
            const char *entity, *name, *payload, *code;
        } presses[] = {
            {"switch/power", nullptr, "payload_off", "C01"},
            {"select/input", nullptr, "Video", "C07"},
            {"switch/video_mute", nullptr, "payload_on", "C0D"},
            {"switch/audio_mute", nullptr, "payload_on", "C0B"},
            {"button/picture_mode_stand", "Picture mode STAND", "picture-mode-stand", "C11"},
            {"button/picture_mode_real", "Picture mode REAL", "picture-mode-real", "C12"},
            {"button/picture_mode_cinema", "Picture mode CINEMA", "picture-mode-cinema", "C13"},
            {"button/picture_mode_image1", "Picture mode IMAGE1", "picture-mode-image1", "C14"},
            {"button/picture_mode_image2", "Picture mode IMAGE2", "picture-mode-image2", "C15"},
            {"button/picture_mode_image3", "Picture mode IMAGE3", "picture-mode-image3", "C16"},
            {"button/picture_mode_image4", "Picture mode IMAGE4", "picture-mode-image4", "C17"},
            {"button/picture_mode_bboard", "Picture mode B.Board", "picture-mode-bboard", "C18"},
            {"button/picture_mode_dynamic", "Picture mode Dynamic", "picture-mode-dynamic", "C19"},
            {"button/query_status", "STATUS query", "status", "CR0"},
            {"button/query_mode", "MODE query", "mode", "CR1"},
            {"button/query_lamp_time", "L-TIME query", "lamp-time", "CR3"},
            {"button/query_setting", "SETTING query", "setting", "CR4"},
            {"button/query_temperature", "TEMP query", "temperature", "CR6"},
        };
        for (const auto &p : presses) {
            const QJsonObject &c = entities[p.entity];
            QByteArray payload = p.payload;
            if (p.name) {
                QCOMPARE(compact(c), QStringLiteral(R"({"command_topic":"orva/p1/command/set","name":"%1","payload_press":"%2"})")
                                         .arg(QLatin1String(p.name), QLatin1String(p.payload)).toUtf8());
            } else if (payload.startsWith("payload_")) {
                payload = c.value(QLatin1String(payload)).toString().toUtf8();
            }
            const qsizetype from = s.sim->heard().size();
            QVERIFY(s.watch->publish(c.value(QStringLiteral("command_topic")).toString().toUtf8(), payload));
            const QStringList heard = lineAfter(*s.sim, from, {QLatin1String(p.code)});
            QVERIFY2(heard.value(0) == QLatin1String(p.code) && onlyStatusQueries(heard.mid(1)),
                     qPrintable(QStringLiteral("%1: %2").arg(QLatin1String(p.entity), heard.join(u", "))));
        }
    }

    // The bridge ended by SIGTERM, or killed: the projector and the bridge offline,
    // retained (when killed, by the broker's last will).
    void bridgeEnds_data()
    {
        QTest::addColumn<bool>("killed");
        QTest::newRow("SIGTERM") << false;
        QTest::newRow("SIGKILL") << true;
    }
    void bridgeEnds()
    {
        QFETCH(bool, killed);
        Single s;
        QVERIFY2(s.up({}), qPrintable(s.why));
        QTRY_COMPARE_WITH_TIMEOUT(s.watch->latest("orva/bridge/testbridge/availability"), std::optional<QByteArray>("online"), kWait);
        const qsizetype mark = s.watch->count();
        if (killed)
            s.bridge->process.kill();
        else
            s.bridge->process.terminate();
        QVERIFY(s.bridge->process.waitForFinished(kWait));
        if (!killed) {
            QCOMPARE(s.bridge->process.exitStatus(), QProcess::NormalExit);
            QCOMPARE(s.bridge->process.exitCode(), 0);
            // Each link said goodbye: the broker did not have to find its connection closed.
            QTRY_VERIFY_WITH_TIMEOUT((s.broker.log += s.broker.process.readAll()).contains("Client orva-testbridge-p1 disconnected."), kWait);
        }
        QTRY_VERIFY_WITH_TIMEOUT(s.watch->payloads("orva/bridge/testbridge/availability", mark).contains("offline"), kWait);
        QTRY_VERIFY_WITH_TIMEOUT(s.watch->payloads("orva/p1/availability", mark).contains("offline"), kWait);
        QMap<QByteArray, Message> all;
        QVERIFY(retainedNow(s.broker.port, all));
        QCOMPARE(retainedPayload(all, "orva/bridge/testbridge/availability"), std::optional<QByteArray>("offline"));
        QCOMPARE(retainedPayload(all, "orva/p1/availability"), std::optional<QByteArray>("offline"));
    }

    // The broker killed and started again on its port, with nothing kept: the
    // bridge connects again, publishes its state and discovery again (retained),
    // and takes commands again.
    void brokerRestarts()
    {
        Single s;
        QVERIFY2(s.up({}), qPrintable(s.why));
        const int subscriptions = s.watch->subscriptions();
        const qsizetype lines = s.bridge->lines().size();
        s.broker.kill();
        const qsizetype mark = s.watch->count();
        QVERIFY2(s.broker.start(), s.broker.log.constData());
        QVERIFY(s.watch->waitSubscribed(subscriptions));
        const auto seenAgain = [&] {
            QStringList missing;
            for (const QByteArray &t : kStateTopics)
                if (s.watch->payloads("orva/p1/" + t, mark).isEmpty())
                    missing << QString::fromUtf8(t);
            for (const QByteArray &e : kEntities)
                if (s.watch->payloads(configTopic(e, "orva_p1"), mark).isEmpty())
                    missing << QString::fromUtf8(e);
            if (!s.watch->payloads("orva/bridge/testbridge/availability", mark).contains("online"))
                missing << QStringLiteral("bridge online");
            return missing;
        };
        QTRY_VERIFY2_WITH_TIMEOUT(seenAgain().isEmpty(), qPrintable(seenAgain().join(u", ")), kComeBack);
        QMap<QByteArray, Message> all;
        QVERIFY(retainedNow(s.broker.port, all));
        for (const QByteArray &t : kStateTopics)
            QVERIFY2(all.contains("orva/p1/" + t), t.constData());
        for (const QByteArray &e : kEntities)
            QVERIFY2(all.contains(configTopic(e, "orva_p1")), e.constData());
        QCOMPARE(retainedPayload(all, "orva/p1/availability"), std::optional<QByteArray>("online"));
        QCOMPARE(retainedPayload(all, "orva/p1/power"), std::optional<QByteArray>("off"));
        QCOMPARE(retainedPayload(all, "orva/bridge/testbridge/availability"), std::optional<QByteArray>("online"));
        // The outage told once, however often the bridge tried, and its end.
        QCOMPARE(s.bridge->lines().mid(lines),
                 (QList<QByteArray>{"orva-bridge: p1: MQTT: the broker is not reached (The connection was lost.); trying again",
                                    "orva-bridge: p1: MQTT: connected to the broker"}));
        const qsizetype from = s.sim->heard().size();
        QVERIFY(s.publish("power/set", "ON"));
        QCOMPARE(lineAfter(*s.sim, from, {"C00"}).mid(0, 1), QStringList{"C00"});
        QTRY_COMPARE_WITH_TIMEOUT(s.latest("power"), QByteArray("warming"), kWait);
    }

    // The projector's device server gone and back (orva-sim on a fixed port): the
    // projector offline meanwhile, a command then an error and no state changed
    // (nor carried out later); online again once it is back, and commanded again.
    void projectorUnplugged()
    {
        Single s;
        QVERIFY2(s.prepare({"--tcp", "0"}), qPrintable(s.why));
        QVERIFY2(s.sim->path.startsWith(QLatin1String("tcp://127.0.0.1:")), qPrintable(s.sim->path));
        QVERIFY2(s.startBridge({"--poll", "1"}), qPrintable(s.why));
        const QString port = s.sim->path.section(u':', -1);
        const qsizetype unplugged = s.watch->count();
        s.sim.reset();
        QTRY_VERIFY_WITH_TIMEOUT(s.watch->payloads("orva/p1/availability", unplugged).contains("offline"), kWait);
        QCOMPARE(s.latest("availability"), QByteArray("offline"));
        const qsizetype mark = s.watch->count();
        QVERIFY(s.publish("power/set", "ON"));
        std::optional<QJsonObject> error;
        QTRY_VERIFY_WITH_TIMEOUT((error = s.outcome("error", "orva/p1/power/set", mark)).has_value(), kWait);
        QCOMPARE(error->value(QStringLiteral("payload")).toString(), QStringLiteral("ON"));
        QVERIFY2(!error->value(QStringLiteral("error")).toString().isEmpty(), QJsonDocument(*error).toJson().constData());
        QCOMPARE(s.watch->payloads("orva/p1/power", mark), QList<QByteArray>());
        QMap<QByteArray, Message> all;
        QVERIFY(retainedNow(s.broker.port, all));
        QCOMPARE(retainedPayload(all, "orva/p1/availability"), std::optional<QByteArray>("offline"));
        QCOMPARE(retainedPayload(all, "orva/p1/power"), std::optional<QByteArray>("off"));
        QCOMPARE(retainedPayload(all, "orva/p1/power/text"), std::optional<QByteArray>("Stand by"));
        QVERIFY(!all.contains("orva/p1/error"));

        const qsizetype back = s.watch->count();
        s.sim = std::make_unique<Simulator>(QStringList{"--tcp", port, "--state", "on"});
        QVERIFY2(!s.sim->path.isEmpty(), "orva-sim did not start again on its port");
        QTRY_VERIFY_WITH_TIMEOUT(s.watch->payloads("orva/p1/availability", back).contains("online"), kComeBack);
        QTRY_COMPARE_WITH_TIMEOUT(s.latest("power"), QByteArray("on"), kWait);
        QVERIFY2(!s.sim->heard().contains(QStringLiteral("C00")), qPrintable(s.sim->heard().join(u", ")));
        const qsizetype from = s.sim->heard().size();
        QVERIFY(s.publish("power/set", "OFF"));
        // Polled every second: status queries may come before and after it.
        QTRY_VERIFY_WITH_TIMEOUT(s.sim->heard().mid(from).contains(QStringLiteral("C01")), kWait);
        QTRY_COMPARE_WITH_TIMEOUT(s.latest("power"), QByteArray("cooling"), kWait);
        QStringList others = s.sim->heard().mid(from);
        others.removeAll(QStringLiteral("C01"));
        for (const char *q : {"CR0", "CR1", "CRA", "CR3", "CR6", "CR7"})
            others.removeAll(QLatin1String(q));
        QCOMPARE(others, QStringList());
    }

    // A projector that never answers: offline, while the bridge is online; a
    // command ends in an error, and a flood of them is refused beyond the queue's room.
    void silentProjector()
    {
        Single s;
        QVERIFY2(s.prepare({"--silent"}), qPrintable(s.why));
        QVERIFY2(s.startBridge({"--mqtt-send"}, false), qPrintable(s.why));
        QTRY_COMPARE_WITH_TIMEOUT(s.latest("availability"), QByteArray("offline"), kWait);
        QTRY_COMPARE_WITH_TIMEOUT(s.watch->latest("orva/bridge/testbridge/availability"), std::optional<QByteArray>("online"), kWait);
        const qsizetype from = s.sim->heard().size();
        const qsizetype mark = s.watch->count();
        QVERIFY(s.publish("power/set", "ON"));
        std::optional<QJsonObject> error;
        QTRY_VERIFY_WITH_TIMEOUT((error = s.outcome("error", "orva/p1/power/set", mark)).has_value(), kWait);
        QCOMPARE(error->value(QStringLiteral("payload")).toString(), QStringLiteral("ON"));
        // Sent and not answered: the documented reason; refused unsent: a reason of its own.
        if (s.sim->heard().mid(from).contains(QStringLiteral("C00")))
            QCOMPARE(error->value(QStringLiteral("error")).toString(), QStringLiteral("no reply from the projector"));
        else
            QVERIFY2(!error->value(QStringLiteral("error")).toString().isEmpty(), QJsonDocument(*error).toJson().constData());
        QMap<QByteArray, Message> all;
        QVERIFY(retainedNow(s.broker.port, all));
        QCOMPARE(retainedPayload(all, "orva/p1/availability"), std::optional<QByteArray>("offline"));
        QVERIFY(!all.contains("orva/p1/error"));
        // A flood of the longest texts taken: what the queue has no room for refused, an
        // error each, logged once (all handled once the wrong payload after them is logged).
        const QByteArray longest(128, 'X');
        for (int i = 0; i < 100; ++i)
            QVERIFY(s.publish("send/set", longest));
        QVERIFY(s.publish("power/set", "MAYBE"));
        QTRY_VERIFY_WITH_TIMEOUT(s.bridge->text().contains("\"MAYBE\" ignored"), kWait);
        QVERIFY(s.watch->payloads("orva/p1/error", mark).contains(
            R"({"error":"too many commands wait for the projector","payload":")" + longest + R"(","topic":"orva/p1/send/set"})"));
        QCOMPARE(s.bridge->lines().count("orva-bridge: p1: MQTT: too many commands wait for the projector: those that come "
                                         "are refused (with an error on orva/p1/error)"), 1);
    }

    // A broker that comes up after the bridge: the bridge waits asleep (its threads'
    // context switches few), says so once, and is there with its state once it is.
    void brokerStartsLate()
    {
        Single s;
        s.sim = std::make_unique<Simulator>(QStringList());
        QVERIFY2(s.startBridge({}, false), qPrintable(s.why));
        const QByteArray waiting = "orva-bridge: p1: MQTT: the broker is not reached (Connection refused); trying again";
        QTRY_VERIFY_WITH_TIMEOUT(s.bridge->lines().contains(waiting), kWait);
        QTRY_VERIFY_WITH_TIMEOUT(s.sim->heard().size() >= 6, kWait);  // the first poll's queries
        const QString tasks = QStringLiteral("/proc/%1/task/").arg(s.bridge->process.processId());
        const auto wakeUps = [&] {
            qint64 sum = 0;
            for (const QString &task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
                if (QFile status(tasks + task + QStringLiteral("/status")); status.open(QIODevice::ReadOnly))
                    for (const QByteArray &line : status.readAll().split('\n'))
                        sum += line.contains("ctxt_switches:") ? line.mid(line.indexOf(':') + 1).trimmed().toLongLong() : 0;
            return sum;
        };
        const qint64 before = wakeUps();
        QTest::qWait(3000);
        QVERIFY2(wakeUps() - before < 100, qPrintable(QString::number(wakeUps() - before)));
        QVERIFY2(s.broker.start(), s.broker.log.constData());
        s.watch = std::make_unique<Client>(s.broker.port, QList<QByteArray>{"orva/#"});
        QTRY_VERIFY2_WITH_TIMEOUT(missingState(*s.watch, "p1").isEmpty(), qPrintable(missingState(*s.watch, "p1").join(u", ")), kWait);
        QCOMPARE(s.bridge->lines().count(waiting), 1);
    }

    // Two projectors of a configuration file on one broker: each its own state,
    // its own device and entities (a '.' in the id becomes '_' in discovery
    // topics), its commands on its own line only.
    void twoProjectors()
    {
        Broker broker;
        QVERIFY2(broker.start(), broker.log.constData());
        Simulator hall({"--tcp", "0", "--state", "on"});
        Simulator lab({"--tcp", "0"});
        QVERIFY(!hall.path.isEmpty() && !lab.path.isEmpty());
        QTemporaryDir dir;
        const QString config = writeConfig(dir, QStringLiteral("bridge.conf"), broker.port, {{"hall", hall.path}, {"lab.2", lab.path}});
        Client watch(broker.port, {"orva/#", "homeassistant/#"});
        QVERIFY(watch.waitSubscribed());
        Bridge bridge({"--config", config});
        QTRY_VERIFY2_WITH_TIMEOUT(missingState(watch, "hall").isEmpty() && missingState(watch, "lab.2").isEmpty(),
                                  qPrintable(missingState(watch, "hall").join(u' ') + QStringLiteral(" / ") + missingState(watch, "lab.2").join(u' ')
                                             + QStringLiteral("\n") + QString::fromLocal8Bit(bridge.text())),
                                  kWait);
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(kEntities.begin(), kEntities.end(),
                                             [&](const QByteArray &e) {
                                                 return watch.latest(configTopic(e, "orva_hall")) && watch.latest(configTopic(e, "orva_lab_2"));
                                             }),
                                 kWait);
        QMap<QByteArray, Message> all;
        QVERIFY(retainedNow(broker.port, all));
        QCOMPARE(retainedPayload(all, "orva/hall/power"), std::optional<QByteArray>("on"));
        QCOMPARE(retainedPayload(all, "orva/hall/power/text"), std::optional<QByteArray>("Power ON"));
        QCOMPARE(retainedPayload(all, "orva/lab.2/power"), std::optional<QByteArray>("off"));
        QCOMPARE(retainedPayload(all, "orva/lab.2/power/text"), std::optional<QByteArray>("Stand by"));
        QStringList ids;
        for (const QJsonValue &v : QJsonDocument::fromJson(all.value("orva/bridge/testbridge/projectors").payload).array())
            ids << v.toString();
        ids.sort();
        QCOMPARE(ids, (QStringList{"hall", "lab.2"}));
        QStringList expected;
        for (const QByteArray &e : kEntities)
            expected << QString::fromUtf8(configTopic(e, "orva_hall")) << QString::fromUtf8(configTopic(e, "orva_lab_2"));
        expected.sort();
        QVERIFY2(retainedTopics(all, "homeassistant/") == expected, qPrintable(difference(retainedTopics(all, "homeassistant/"), expected)));
        QSet<QString> uniqueIds;
        QSet<QByteArray> hallDevice, labDevice;
        for (const QString &t : expected) {
            const QJsonObject c = QJsonDocument::fromJson(all[t.toUtf8()].payload).object();
            uniqueIds << c.value(QStringLiteral("unique_id")).toString();
            (t.contains(QLatin1String("/orva_hall/")) ? hallDevice : labDevice) << compact(c.value(QStringLiteral("device")).toObject().value(QStringLiteral("identifiers")));
        }
        QCOMPARE(uniqueIds.size(), expected.size());
        QCOMPARE(hallDevice.size(), 1);
        QCOMPARE(labDevice.size(), 1);
        QVERIFY(*hallDevice.begin() != *labDevice.begin());
        const QJsonObject labPower = QJsonDocument::fromJson(all[configTopic("switch/power", "orva_lab_2")].payload).object();
        QCOMPARE(labPower.value(QStringLiteral("state_topic")).toString(), QStringLiteral("orva/lab.2/power"));
        QCOMPARE(labPower.value(QStringLiteral("command_topic")).toString(), QStringLiteral("orva/lab.2/power/set"));

        qsizetype hallFrom = hall.heard().size(), labFrom = lab.heard().size();
        QVERIFY(watch.publish("orva/lab.2/power/set", "ON"));
        QCOMPARE(lineAfter(lab, labFrom, {"C00"}).mid(0, 1), QStringList{"C00"});
        QTRY_COMPARE_WITH_TIMEOUT(watch.latest("orva/lab.2/power"), std::optional<QByteArray>("warming"), kWait);
        QCOMPARE(hall.heard().mid(hallFrom), QStringList());
        QCOMPARE(watch.latest("orva/hall/power"), std::optional<QByteArray>("on"));
        hallFrom = hall.heard().size();
        labFrom = lab.heard().size();
        QVERIFY(watch.publish("orva/hall/input/set", "Video"));
        QCOMPARE(lineAfter(hall, hallFrom, {"C07"}).mid(0, 1), QStringList{"C07"});
        QTRY_COMPARE_WITH_TIMEOUT(watch.latest("orva/hall/input"), std::optional<QByteArray>("Video"), kWait);
        QCOMPARE(lab.heard().mid(labFrom), QStringList());
    }

    // A projector taken out of the configuration: at the bridge's next connection
    // its entities and its retained state are removed (empty retained messages);
    // the other's stay.
    void removedProjector()
    {
        Broker broker;
        QVERIFY2(broker.start(), broker.log.constData());
        Simulator hall({"--tcp", "0"});
        Simulator lab({"--tcp", "0"});
        QVERIFY(!hall.path.isEmpty() && !lab.path.isEmpty());
        QTemporaryDir dir;
        const QString both = writeConfig(dir, QStringLiteral("both.conf"), broker.port, {{"hall", hall.path}, {"lab.2", lab.path}});
        const QString one = writeConfig(dir, QStringLiteral("one.conf"), broker.port, {{"hall", hall.path}});
        Client watch(broker.port, {"orva/#", "homeassistant/#"});
        QVERIFY(watch.waitSubscribed());
        {
            Bridge bridge({"--config", both});
            QTRY_VERIFY_WITH_TIMEOUT(missingState(watch, "lab.2").isEmpty() && missingState(watch, "hall").isEmpty(), kWait);
            QTRY_VERIFY_WITH_TIMEOUT(std::all_of(kEntities.begin(), kEntities.end(),
                                                 [&](const QByteArray &e) { return watch.latest(configTopic(e, "orva_lab_2")).has_value(); }),
                                     kWait);
            bridge.end();
            QCOMPARE(bridge.process.exitCode(), 0);
        }
        QMap<QByteArray, Message> all;
        QVERIFY(retainedNow(broker.port, all));
        const QStringList labRetained = retainedTopics(all, "orva/lab.2/");
        QVERIFY2(!labRetained.isEmpty(), "nothing of lab.2 was retained");

        const qsizetype mark = watch.count();
        Bridge bridge({"--config", one});
        const auto notRemoved = [&] {
            QStringList left;
            for (const QByteArray &e : kEntities)
                if (!watch.payloads(configTopic(e, "orva_lab_2"), mark).contains(QByteArray()))
                    left << QString::fromUtf8(configTopic(e, "orva_lab_2"));
            for (const QString &t : labRetained)
                if (!watch.payloads(t.toUtf8(), mark).contains(QByteArray()))
                    left << t;
            return left;
        };
        QTRY_VERIFY2_WITH_TIMEOUT(notRemoved().isEmpty(), qPrintable(notRemoved().join(u", ")), kWait);
        const auto onlyHall = [&] {
            const QList<QByteArray> lists = watch.payloads("orva/bridge/testbridge/projectors", mark);
            return std::any_of(lists.begin(), lists.end(),
                               [](const QByteArray &p) { return QJsonDocument::fromJson(p).array() == QJsonArray({"hall"}); });
        };
        QTRY_VERIFY_WITH_TIMEOUT(onlyHall(), kWait);
        QTRY_COMPARE_WITH_TIMEOUT(watch.latest("orva/hall/availability"), std::optional<QByteArray>("online"), kWait);
        QVERIFY(retainedNow(broker.port, all));
        QStringList leftOver;
        for (const QString &t : retainedTopics(all, ""))
            if (t.contains(QLatin1String("orva_lab_2")) || t.startsWith(QLatin1String("orva/lab.2/")))
                leftOver << t;
        QCOMPARE(leftOver, QStringList());
        for (const QByteArray &e : kEntities)
            QVERIFY2(all.contains(configTopic(e, "orva_hall")), e.constData());
        QCOMPARE(QJsonDocument::fromJson(all.value("orva/bridge/testbridge/projectors").payload).array(), QJsonArray({"hall"}));
    }

private:
    bool m_libraryUp = false;
};

QTEST_GUILESS_MAIN(TstMqtt)
#include "tst_mqtt.moc"
