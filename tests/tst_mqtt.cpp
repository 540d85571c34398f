// orva-bridge on MQTT, end to end: the real program against a mosquitto broker
// started here, orva-sim as the projector, and an MQTT client of the test's own
// on the other side. What is retained after the start, the codes each command
// topic puts on the line and the state published after them, payloads that are
// no command, and a configuration's projectors with Home Assistant's entities.
// How each reply reads as state, and each entity's keys, are decided without a
// broker in tst_mqtt_topics; the bridge, the broker and the projector going away
// and coming back in tst_mqtt_outages.

#include "MqttSupport.h"

#include <tuple>

using namespace mqtt_test;

class TstMqtt : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { needBroker(); }

    // Every kind of command topic, one after the other on a projector that is on:
    // the codes on the line (then the bridge asks power, input and mute again) up to
    // the test's status query after it, CR4; the state published after it; and the
    // outcome on orva/p1/reply (not retained: ignoredPayloads). power/set ON and OFF:
    // tst_mqtt_outages' brokerAway (with the state after it) and projectorUnplugged.
    void commands()
    {
        const char *const rows[][3] = {  // topic below orva/p1/, payload; codes | "topic=payload" after it | the outcome's reply and status
            {"input/set", " video", "C07 CR0 CR1 CRA CR4 | input=Video | ACK"},
            {"mute/set", "ON", "C0D C0B CR0 CR1 CRA CR4 | mute/video=ON, mute/audio=ON | ACK"},
            {"mute/set", "OFF", "C0E C0C CR0 CR1 CRA CR4 | mute/video=OFF, mute/audio=OFF | ACK"},
            {"command/set", " Picture-Mode-Cinema ", "C13 CR0 CR1 CRA CR4 |  | ACK"},
            // An auto-repeat key by name: its code once, as a short tap sends it.
            {"command/set", "volume-up", "C09 CR0 CR1 CRA CR4 |  | ACK"},
            {"command/set", "status", "CR0 CR4 |  | 00 Power ON"},
            // A text with blanks (here orva-sim's, which sets its lamps); a status query sent as text tells its part of the state too.
            {"send/set", "!STATE lamps-2-all-off", "!STATE lamps-2-all-off CR0 CR1 CRA CR4 |  | ACK"},
            {"send/set", "CR7", "CR7 CR0 CR1 CRA CR4 | lamp/mode=All OFF : 2 Lamp mode | 00 All OFF : 2 Lamp mode"},
        };
        Rig r;
        QCOMPARE(r.prepare({"--state", "on"}), QString());
        QCOMPARE(r.startBridge({"--mqtt-send"}), QString());
        for (const auto &[topic, payload, expected] : rows) {
            const QString heard = r.command(topic, payload).join(u' ');
            QStringList state;
            for (const QString &st : QString::fromUtf8(expected).section(QStringLiteral(" | "), 1, 1).split(QStringLiteral(", "), Qt::SkipEmptyParts))
                state << st.section(u'=', 0, 0) + u'=' + QString::fromUtf8(r.latest(st.section(u'=', 0, 0).toUtf8()));
            const QString reply = r.last.value(QStringLiteral("reply")).toString() + u' ' + r.last.value(QStringLiteral("status")).toString();
            QCOMPARE(QStringList({heard, state.join(QStringLiteral(", ")), reply.trimmed()}).join(QStringLiteral(" | ")), QString::fromUtf8(expected));
            QCOMPARE(r.last.value(QStringLiteral("payload")).toString(), QString::fromUtf8(payload));
        }
        QCOMPARE(r.latest("status"), QByteArray("Normally"));  // the status line of CR4's reply
    }

    // The start, with a command the broker held retained: the projector's state, each
    // topic retained (QoS 0), in the words of the status lines; the bridge's own
    // topics; and nothing else. Then payloads that are no command, three times by
    // turns: none carried out, nor the retained command (the status query after them
    // is the first thing the projector hears after the start's poll), nothing
    // retained changed (nor the replies to the status queries retained), and each told once in the bridge's log (an empty payload, the
    // clearing of a retained command, never).
    void ignoredPayloads_data()
    {
        QTest::addColumn<QStringList>("bridge");
        QTest::addColumn<QList<QByteArray>>("payloads");  // a topic below orva/p1/, its payload, and so on
        QTest::addColumn<QList<QByteArray>>("told");      // the log's lines about them
        const QByteArray p = "orva-bridge: p1: MQTT: orva/p1/", text = "\" ignored: it takes a command text of printable ASCII, 128 characters at most";
        QTest::newRow("without mqtt-send")
            << QStringList() << QList<QByteArray>{"power/set", "O\x7f""N", "power/set", "", "power/set", QByteArray("ON\0", 3), "input/set", "Computer 1",
                                                  "mute/set", "VIDEO", "command/set", "C00", "send/set", "C00"}
            << QList<QByteArray>{p + "power/set: \"O?N\" ignored: it takes ON or OFF", p + "power/set: \"ON?\" ignored: it takes ON or OFF",
                                 p + "input/set: \"Computer 1\" ignored: it takes PC1, PC2 or Video",
                                 p + "mute/set: \"VIDEO\" ignored: it takes VIDEO ON, VIDEO OFF, AUDIO ON, AUDIO OFF, ON or OFF",
                                 p + "command/set: \"C00\" ignored: it takes a command name of orva-ctl list",
                                 p + "send/set: \"C00\" ignored: raw commands are not taken (the bridge's mqtt-send setting is off)"};
        QTest::newRow("with mqtt-send") << QStringList{"--mqtt-send"}
                                        << QList<QByteArray>{"send/set", "C0D\nC00", "send/set", QByteArray(129, 'X'), "send/set", "C0\xc3\xa9"}
                                        << QList<QByteArray>{p + "send/set: \"C0D?C00" + text, p + "send/set: \"" + QByteArray(64, 'X') + text,
                                                             p + "send/set: \"C0\xc3\xa9" + text};
    }
    void ignoredPayloads()
    {
        QFETCH(QStringList, bridge);
        QFETCH(QList<QByteArray>, payloads);
        QFETCH(QList<QByteArray>, told);
        Rig r;
        QCOMPARE(r.prepare({}), QString());
        QVERIFY(r.watch->publish("orva/p1/power/set", "ON", true));  // the bridge takes every command topic alike
        QCOMPARE(r.startBridge(bridge), QString());
        const Retained before = retained(r.broker.port);
        QCOMPARE(below(before, "orva/"),
                 (QStringList{"bridge/testbridge/availability=online", R"(bridge/testbridge/projectors=["p1"])", "p1/availability=online",
                              "p1/fault=none", "p1/input=PC1", "p1/lamp/hours=1234", "p1/lamp/mode=No1,2 ON  : 2 Lamp mode",
                              "p1/mute/audio=OFF", "p1/mute/video=OFF", "p1/power=off", "p1/power/set=ON", "p1/power/text=Stand by",
                              "p1/problem=OFF", "p1/temperature/1=32.5", "p1/temperature/2=41", "p1/temperature/3=38.5"}));
        for (const Message &m : before)
            QVERIFY2(m.qos == 0 || m.topic == "orva/p1/power/set", m.topic.constData());  // the test's own at QoS 1
        for (int i = 0; i < 3; ++i)
            for (qsizetype at = 0; at < payloads.size(); at += 2)
                QVERIFY(r.watch->publish("orva/p1/" + payloads[at], payloads[at + 1]));
        r.command("command/set", "status");
        QCOMPARE(r.sim->heard(), (QStringList{"CR0", "CR1", "CRA", "CR3", "CR7", "CR6", "CR0", "CR4"}));
        told.prepend("orva-bridge: p1: MQTT: orva/p1/power/set: a retained command is not carried out (remove it with: mosquitto_pub -r -n -t "
                     "orva/p1/power/set)");
        QTRY_COMPARE_WITH_TIMEOUT(QString::fromUtf8(r.bridge->said()).split(u'\n').filter(QStringLiteral(": MQTT: orva/p1/")).join(u'\n'),
                                  QString::fromUtf8(told.join('\n')), kCap);
        // Ever new wrong payloads, each told once: the bridge remembers 256 it told of
        // (those above among them), so the first of these is told again after 256 others.
        QByteArrayList many;
        for (qsizetype i = told.size(); i <= 256; ++i)
            many << "X" + QByteArray::number(i);
        QVERIFY(r.watch->publish("orva/p1/power/set", (many << many.value(0)).join('\n'), false, true));
        QTRY_COMPARE_WITH_TIMEOUT(r.bridge->said().count("power/set: \"X"), many.size(), kCap);
        Retained after = retained(r.broker.port);
        after.remove("orva/p1/status");  // the status queries'
        QCOMPARE(below(after, "orva/"), below(before, "orva/"));
    }

    // Two projectors of a configuration file on one broker: each its own state, its
    // own entities (a '.' in the id becomes '_' in discovery topics), its commands
    // on its own line only (what an entity's payload puts on the line: the commands
    // rows, with the payloads tst_mqtt_topics' discovery rows write out). The bridge
    // ended (SIGTERM): each link (of a clean session) says goodbye, all offline. Started again with one of
    // them: the other's entities and retained state are removed.
    void projectorsOfAConfiguration()
    {
        Rig r;
        QCOMPARE(r.prepare({"--tcp", "0", "--state", "on"}), QString());
        SimulatorProcess &hall = *r.sim;
        SimulatorProcess lab({"--tcp", "0"});
        QTemporaryDir dir;
        // The bridge on a configuration file with these projectors (id, device), served on MQTT alone.
        const auto serve = [&](const QList<std::pair<QString, QString>> &projectors) {
            QString text = QStringLiteral("[bridge]\nmqtt = mqtt://127.0.0.1:%1\nmqtt-id = testbridge\npoll = 3600\n").arg(r.broker.port);
            for (const auto &[id, device] : projectors)
                text += QStringLiteral("[%1]\ndevice = %2\npjlink = 0\n").arg(id, device);
            return std::make_unique<Service>(QStringList{"--config", writeFile(dir, QStringLiteral("bridge.conf"), text.toUtf8())}, 0);
        };
        auto bridge = serve({{"hall", hall.path}, {"lab.2", lab.path}});
        Retained all;
        QTRY_VERIFY2_WITH_TIMEOUT(entityCounts(all = retained(r.broker.port)) == (QMap<QByteArray, int>{{"orva_hall", 28}, {"orva_lab_2", 28}})
                                      && below(all, "orva/hall/").size() == kStateTopics.size() && below(all, "orva/lab.2/").size() == kStateTopics.size(),
                                  qPrintable(below(all, "orva/").join(u", ")), kCap);
        QCOMPARE(below(all, "orva/hall/power"), (QStringList{"=on", "/text=Power ON"}));
        QCOMPARE(below(all, "orva/lab.2/power"), (QStringList{"=off", "/text=Stand by"}));
        QCOMPARE(all.value("orva/bridge/testbridge/projectors").payload, QByteArray(R"(["hall","lab.2"])"));  // the file's order
        // A command to each projector, on its own line alone.
        for (auto [id, to, other, payload, code, power] :
             {std::tuple{"hall", &hall, &lab, "OFF", "C01", "cooling"}, {"lab.2", &lab, &hall, "ON", "C00", "warming"}}) {
            const qsizetype from = to->heard().size(), otherFrom = other->heard().size();
            QVERIFY(r.watch->publish("orva/" + QByteArray(id) + "/power/set", payload));
            QTRY_COMPARE_WITH_TIMEOUT(r.watch->latest("orva/" + QByteArray(id) + "/power"), QByteArray(power), kCap);
            QCOMPARE(to->heard().value(from), QString::fromLatin1(code));
            QCOMPARE(other->heard().mid(otherFrom), QStringList());
        }

        const qsizetype mark = r.watch->messages().size();
        bridge->end();  // SIGTERM
        QVERIFY(bridge->process.exitStatus() == QProcess::NormalExit && bridge->process.exitCode() == 0);
        QTRY_VERIFY_WITH_TIMEOUT((r.broker.log += r.broker.process.readAllStandardError()).contains("Client orva-testbridge-lab.2 disconnected."), kCap);
        QVERIFY(r.broker.log.contains(" as orva-testbridge-lab.2 (p2, c1, "));  // a clean session: nothing kept from a run before
        for (const char *topic : {"orva/bridge/testbridge/availability", "orva/hall/availability", "orva/lab.2/availability"})
            QTRY_VERIFY2_WITH_TIMEOUT(r.watch->payloads(topic, mark).contains("offline"), topic, kCap);
        all = retained(r.broker.port);
        QCOMPARE(below(all, "orva/lab.2/").size(), kStateTopics.size());

        bridge = serve({{"hall", hall.path}});
        QTRY_VERIFY2_WITH_TIMEOUT(entityCounts(all = retained(r.broker.port)) == (QMap<QByteArray, int>{{"orva_hall", 28}})
                                      && below(all, "orva/lab.2/").isEmpty() && all.value("orva/hall/availability").payload == "online"
                                      && all.value("orva/bridge/testbridge/projectors").payload == R"(["hall"])",
                                  qPrintable(below(all, "orva/").join(u", ")), kCap);
    }
};

QTEST_GUILESS_MAIN(TstMqtt)
#include "tst_mqtt.moc"
