// orva-bridge on MQTT, end to end: the real program against a mosquitto broker
// started here, orva-sim as the projector, and an MQTT client of the test's own
// on the other side. What is retained after the start, the codes each command
// topic puts on the line and the state published after them, payloads that are
// no command, and a configuration's projectors with Home Assistant's entities.
// How each reply reads as state, and each entity's keys, are decided without a
// broker in tst_mqtt_topics; the bridge, the broker and the projector going away
// and coming back in tst_mqtt_outages.

#include "MqttSupport.h"

#include <QTemporaryDir>

#include <tuple>

using namespace mqtt_test;

class TstMqtt : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (brokerProgram().isEmpty())
            QSKIP(kNoBroker);
        useLibrary();
    }

    // After the start: the projector's state, each topic retained (QoS 0), in the
    // words of the status lines; the bridge's own topics; and nothing else.
    void retainedState()
    {
        Rig r;
        QVERIFY2(r.up({}), qPrintable(r.why));
        Retained all;
        QVERIFY(retainedNow(r.broker.port, all));
        QCOMPARE(below(all, "orva/"),
                 (QStringList{"bridge/testbridge/availability=online", R"(bridge/testbridge/projectors=["p1"])", "p1/availability=online",
                              "p1/fault=none", "p1/input=PC1", "p1/lamp/hours=1234", "p1/lamp/mode=No1,2 ON  : 2 Lamp mode",
                              "p1/mute/audio=OFF", "p1/mute/video=OFF", "p1/power=off", "p1/power/text=Stand by", "p1/problem=OFF",
                              "p1/temperature/1=32.5", "p1/temperature/2=41", "p1/temperature/3=38.5"}));
        for (const Message &m : all)
            QVERIFY2(m.qos == 0, m.topic.constData());
    }

    // Every kind of command topic: the codes on the line (then the bridge asks
    // power, input and mute again), the state published after it, retained, and the
    // outcome on orva/p1/reply (the command and the outcome not retained).
    void commands_data()
    {
        QTest::addColumn<QStringList>("simulator");
        QTest::addColumn<QStringList>("first");   // a command carried out first: topic, payload, its codes
        QTest::addColumn<QByteArray>("topic");    // below orva/p1/
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QStringList>("line");    // the codes the projector hears, in order
        QTest::addColumn<QStringList>("state");   // "topic=payload" after it, topics below orva/p1/
        QTest::addColumn<QString>("reply");       // the outcome's "reply", where checked
        const QStringList standby, on{"--state", "on"}, muted{"mute/set", "ON", "C0D", "C0B"};
        const QString ack = QStringLiteral("ACK");
        const auto row = [](const char *name, QStringList simulator, QStringList first, const char *topic, const char *payload,
                            QStringList line, QStringList state, QString reply = {}) {
            QTest::newRow(name) << simulator << first << QByteArray(topic) << QByteArray(payload) << line << state << reply;
        };
        row("power ON", standby, {}, "power/set", "ON", {"C00"}, {"power=warming", "power/text=Count down"}, ack);
        row("power off, lower case, blanks", on, {}, "power/set", "  off ", {"C01"}, {"power=cooling", "power/text=Cooling down"}, ack);
        row("input video, lower case", on, {}, "input/set", " video", {"C07"}, {"input=Video"}, ack);
        row("mute VIDEO OFF", on, muted, "mute/set", "VIDEO OFF", {"C0E"}, {"mute/video=OFF", "mute/audio=ON"}, ack);
        row("mute AUDIO ON", on, {}, "mute/set", "AUDIO ON", {"C0B"}, {"mute/video=OFF", "mute/audio=ON"}, ack);
        row("mute ON", on, {}, "mute/set", "ON", {"C0D", "C0B"}, {"mute/video=ON", "mute/audio=ON"});
        row("mute OFF", on, muted, "mute/set", "OFF", {"C0E", "C0C"}, {"mute/video=OFF", "mute/audio=OFF"});
        row("command Picture-Mode-Cinema, case, blanks", standby, {}, "command/set", " Picture-Mode-Cinema ", {"C13"}, {"power=off"}, ack);
        // An auto-repeat key by name: its code once, as a short tap sends it.
        row("command volume-up", standby, {}, "command/set", "volume-up", {"C09"}, {}, ack);
        row("command status", standby, {}, "command/set", "status", {"CR0"}, {"status=Stand by"}, "80");
        row("send CF KEYDIS RC", standby, {}, "send/set", "CF KEYDIS RC", {"CF KEYDIS RC"}, {}, ack);
        // A status query sent as text tells its part of the state too.
        row("send CR7", standby, {"send/set", "!STATE lamps-2-all-off", "!STATE lamps-2-all-off"}, "send/set", "CR7", {"CR7"},
            {"lamp/mode=All OFF : 2 Lamp mode"});
    }
    void commands()
    {
        QFETCH(QStringList, simulator);
        QFETCH(QStringList, first);
        QFETCH(QByteArray, topic);
        QFETCH(QByteArray, payload);
        QFETCH(QStringList, line);
        QFETCH(QStringList, state);
        QFETCH(QString, reply);
        Rig r;
        QVERIFY2(r.up(simulator), qPrintable(r.why));
        if (!first.isEmpty()) {
            const qsizetype before = r.watch->count();
            QCOMPARE(r.command(first[0].toUtf8(), first[1].toUtf8(), first.mid(2)).mid(0, first.size() - 2), first.mid(2));
            QTRY_VERIFY_WITH_TIMEOUT(r.outcome("reply", "orva/p1/" + first[0].toUtf8(), before).has_value(), kCap);
        }
        const qsizetype mark = r.watch->count();
        const QStringList heard = r.command(topic, payload, line);
        QCOMPARE(heard.mid(0, line.size()), line);
        QVERIFY2(onlyStatusQueries(heard.mid(line.size())), qPrintable(heard.join(u", ")));
        for (const QString &st : state)
            QTRY_COMPARE_WITH_TIMEOUT(r.latest(st.section(u'=', 0, 0).toUtf8()), st.section(u'=', 1).toUtf8(), kCap);
        std::optional<QJsonObject> outcome;
        QTRY_VERIFY_WITH_TIMEOUT((outcome = r.outcome("reply", "orva/p1/" + topic, mark)).has_value(), kCap);
        QCOMPARE(outcome->value(QStringLiteral("payload")).toString(), QString::fromUtf8(payload));
        QVERIFY2(outcome->value(QStringLiteral("reply")).isString(), QJsonDocument(*outcome).toJson().constData());
        if (!reply.isEmpty())
            QCOMPARE(outcome->value(QStringLiteral("reply")).toString(), reply);
        // A status query's outcome carries its status line, the one orva/p1/status now holds.
        for (const QString &st : state)
            if (st.startsWith(QLatin1String("status=")))
                QCOMPARE(outcome->value(QStringLiteral("status")).toString(), st.mid(7));
        QVERIFY(r.outcome("error", "orva/p1/" + topic, mark) == std::nullopt);
        Retained all;
        QVERIFY(retainedNow(r.broker.port, all));
        QVERIFY(!all.contains("orva/p1/reply") && !all.contains("orva/p1/" + topic));
    }

    // Payloads that are no command, three times: nothing on the line (the next
    // command is the first the projector hears), nothing retained changed, and one
    // line in the bridge's log (an empty payload, the clearing of a retained
    // command, none).
    void ignoredPayloads_data()
    {
        QTest::addColumn<QStringList>("bridge");
        QTest::addColumn<QByteArray>("topic");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QByteArray>("line");  // the log line; "" none, "?" any one line
        const QStringList send{"--mqtt-send"};
        const auto row = [](const char *name, QStringList bridge, const char *topic, QByteArray payload, QByteArray line = "?") {
            QTest::newRow(name) << bridge << QByteArray(topic) << payload << line;
        };
        // On one line, what the topic takes beside it.
        row("power with a DEL", {}, "power/set", "O\x7f""N", "orva-bridge: p1: MQTT: orva/p1/power/set: \"O?N\" ignored: it takes ON or OFF");
        row("power empty", {}, "power/set", "", "");
        row("power ON with a NUL", {}, "power/set", QByteArray("ON\0", 3));
        row("input Computer 1", {}, "input/set", "Computer 1",
            "orva-bridge: p1: MQTT: orva/p1/input/set: \"Computer 1\" ignored: it takes PC1, PC2 or Video");
        row("mute VIDEO", {}, "mute/set", "VIDEO");
        row("command a code for a name", {}, "command/set", "C00");
        row("send with a LF inside", send, "send/set", "C0D\nC00",
            "orva-bridge: p1: MQTT: orva/p1/send/set: \"C0D?C00\" ignored: it takes a command text of printable ASCII, 128 "
            "characters at most");
        row("send 129 characters", send, "send/set", QByteArray(129, 'X'));
        row("send not ASCII", send, "send/set", "C0\xc3\xa9");
        row("send without mqtt-send", {}, "send/set", "C00",
            "orva-bridge: p1: MQTT: orva/p1/send/set: \"C00\" ignored: raw commands are not taken (the bridge's mqtt-send "
            "setting is off)");
    }
    void ignoredPayloads()
    {
        QFETCH(QStringList, bridge);
        QFETCH(QByteArray, topic);
        QFETCH(QByteArray, payload);
        QFETCH(QByteArray, line);
        Rig r;
        QVERIFY2(r.up({}, bridge), qPrintable(r.why));
        // A status query first (its line retained once its outcome is in), which the one after the payloads repeats.
        const qsizetype start = r.watch->count();
        QCOMPARE(r.command("command/set", "status", {"CR0"}), QStringList{"CR0"});
        QTRY_VERIFY_WITH_TIMEOUT(r.outcome("reply", "orva/p1/command/set", start).has_value(), kCap);
        Retained before, after;
        QVERIFY(retainedNow(r.broker.port, before));
        const qsizetype lines = r.bridge->lines().size();
        const qsizetype mark = r.watch->count();
        for (int i = 0; i < 3; ++i)
            QVERIFY(r.publish(topic, payload));
        QCOMPARE(r.command("command/set", "status", {"CR0"}), QStringList{"CR0"});
        QTRY_VERIFY_WITH_TIMEOUT(r.outcome("reply", "orva/p1/command/set", mark).has_value(), kCap);
        QTRY_COMPARE_WITH_TIMEOUT(r.bridge->lines().mid(lines).size(), line.isEmpty() ? 0 : 1, kCap);
        if (line.size() > 1)
            QCOMPARE(r.bridge->lines().mid(lines).first(), line);
        QVERIFY(retainedNow(r.broker.port, after));
        QCOMPARE(below(after, "orva/p1/"), below(before, "orva/p1/"));
    }

    // Two bad payloads by turns, as two misconfigured senders would send them, a
    // command between: each logged once, not every time.
    void ignoredPayloadsByTurns()
    {
        Rig r;
        QVERIFY2(r.up({}), qPrintable(r.why));
        const qsizetype lines = r.bridge->lines().size();
        for (int round = 0; round < 2; ++round) {
            const qsizetype mark = r.watch->count();
            for (int i = 0; i < 3; ++i)
                QVERIFY(r.publish("power/set", "MAYBE") && r.publish("input/set", "PC3"));
            QCOMPARE(r.command("command/set", "status", {"CR0"}), QStringList{"CR0"});
            QTRY_VERIFY_WITH_TIMEOUT(r.outcome("reply", "orva/p1/command/set", mark).has_value(), kCap);
        }
        QTRY_COMPARE_WITH_TIMEOUT(r.bridge->lines().mid(lines).size(), 2, kCap);
    }

    // A retained command waiting on the broker when the bridge connects is not
    // carried out: the first command the projector hears is the next live one.
    void retainedCommandNotCarriedOut()
    {
        Rig r;
        QVERIFY2(r.prepare({}), qPrintable(r.why));
        QVERIFY(r.publish("power/set", "ON", true));  // the bridge takes every command topic alike
        QVERIFY2(r.startBridge({}), qPrintable(r.why));
        QCOMPARE(r.command("command/set", "picture-mode-real", {"C12"}).mid(0, 1), QStringList{"C12"});
        QVERIFY2(!r.sim->heard().contains(QStringLiteral("C00")), qPrintable(r.sim->heard().join(u", ")));
        QCOMPARE(r.latest("power"), QByteArray("off"));
    }

    // Two projectors of a configuration file on one broker: each its own state, its
    // own entities (a '.' in the id becomes '_' in discovery topics), its commands
    // on its own line only (what an entity's payload puts on the line: the commands
    // rows, with the payloads tst_mqtt_topics' discovery rows write out). The bridge
    // ended (SIGTERM): each link says goodbye, all offline. Started again with one of
    // them: the other's entities and retained state are removed.
    void projectorsOfAConfiguration()
    {
        Rig r;
        QVERIFY2(r.prepare({"--tcp", "0", "--state", "on"}), qPrintable(r.why));
        Simulator &hall = *r.sim;
        Simulator lab({"--tcp", "0"});
        QTemporaryDir dir;
        const QString both = writeConfig(dir, QStringLiteral("both.conf"), r.broker.port, {{"hall", hall.path}, {"lab.2", lab.path}});
        auto bridge = std::make_unique<Service>(QStringList{"--config", both}, 0);
        QTRY_VERIFY2_WITH_TIMEOUT(missingState(*r.watch, "hall").isEmpty() && missingState(*r.watch, "lab.2").isEmpty(),
                                  qPrintable(missingState(*r.watch, "hall").join(u' ') + " / " + missingState(*r.watch, "lab.2").join(u' ')),
                                  kCap);
        Retained all;
        QTRY_VERIFY_WITH_TIMEOUT(retainedNow(r.broker.port, all) && topicsBelow(all, "homeassistant/") == configTopics({"orva_hall", "orva_lab_2"}),
                                 kCap);
        QCOMPARE(below(all, "orva/hall/power"), (QStringList{"=on", "/text=Power ON"}));
        QCOMPARE(below(all, "orva/lab.2/power"), (QStringList{"=off", "/text=Stand by"}));
        const QJsonArray ids = QJsonDocument::fromJson(all.value("orva/bridge/testbridge/projectors").payload).array();
        QVERIFY2(ids == QJsonArray({"hall", "lab.2"}) || ids == QJsonArray({"lab.2", "hall"}),
                 all.value("orva/bridge/testbridge/projectors").payload.constData());
        // A command to each projector, on its own line alone.
        for (auto [id, to, other, payload, code, power] :
             {std::tuple{"hall", &hall, &lab, "OFF", "C01", "cooling"}, {"lab.2", &lab, &hall, "ON", "C00", "warming"}}) {
            const qsizetype from = to->heard().size(), otherFrom = other->heard().size();
            QVERIFY(r.watch->publish("orva/" + QByteArray(id) + "/power/set", payload));
            QCOMPARE(lineAfter(*to, from, {QLatin1String(code)}).mid(0, 1), QStringList{code});
            QTRY_COMPARE_WITH_TIMEOUT(r.watch->latest("orva/" + QByteArray(id) + "/power"), std::optional<QByteArray>(power), kCap);
            QCOMPARE(other->heard().mid(otherFrom), QStringList());
        }

        const qsizetype mark = r.watch->count();
        bridge->process.terminate();
        QVERIFY(bridge->process.waitForFinished(kCap) && bridge->process.exitStatus() == QProcess::NormalExit);
        QCOMPARE(bridge->process.exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT((r.broker.log += r.broker.process.readAll()).contains("Client orva-testbridge-lab.2 disconnected."), kCap);
        for (const char *topic : {"orva/bridge/testbridge/availability", "orva/hall/availability", "orva/lab.2/availability"})
            QTRY_VERIFY2_WITH_TIMEOUT(r.watch->payloads(topic, mark).contains("offline"), topic, kCap);
        QVERIFY(retainedNow(r.broker.port, all));
        const QStringList labRetained = topicsBelow(all, "orva/lab.2/") + configTopics({"orva_lab_2"});
        QCOMPARE(topicsBelow(all, "orva/lab.2/").size(), kStateTopics.size());

        const qsizetype again = r.watch->count();
        bridge = std::make_unique<Service>(QStringList{"--config", writeConfig(dir, QStringLiteral("one.conf"), r.broker.port, {{"hall", hall.path}})}, 0);
        const auto notRemoved = [&] {
            QStringList left;
            for (const QString &t : labRetained)
                if (!r.watch->payloads(t.toUtf8(), again).contains(QByteArray()))
                    left << t;
            return left;
        };
        QTRY_VERIFY2_WITH_TIMEOUT(notRemoved().isEmpty(), qPrintable(notRemoved().join(u", ")), kCap);
        QTRY_VERIFY_WITH_TIMEOUT(r.watch->payloads("orva/bridge/testbridge/projectors", again).contains(R"(["hall"])"), kCap);
        QTRY_COMPARE_WITH_TIMEOUT(r.watch->latest("orva/hall/availability"), std::optional<QByteArray>("online"), kCap);
        QVERIFY(retainedNow(r.broker.port, all));
        QCOMPARE(topicsBelow(all, "homeassistant/"), configTopics({"orva_hall"}));
        QCOMPARE(topicsBelow(all, "orva/lab.2/"), QStringList());
    }
};

QTEST_GUILESS_MAIN(TstMqtt)
#include "tst_mqtt.moc"
