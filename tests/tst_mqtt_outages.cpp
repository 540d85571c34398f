// orva-bridge on MQTT when something goes away: the broker (not there yet, then
// killed and started again), the projector's device server (gone and back), a
// projector that never answers, the bridge itself killed. The real programs: a
// mosquitto broker started here, orva-sim as the projector, the bridge, and an
// MQTT client of the test's own.

#include "MqttSupport.h"

using namespace mqtt_test;

class TstMqttOutages : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { needBroker(); }

    // A broker that comes up after the bridge, then is killed and started again on
    // its port with nothing kept: the bridge waits asleep (its main thread's
    // context switches few), tells each outage once and its end, publishes its state and
    // discovery again (retained) each time the broker is back, and takes commands
    // again. Killed itself at last: the broker's last will says it is offline.
    void brokerAway()
    {
        Rig r;
        r.sim = std::make_unique<SimulatorProcess>(QStringList());
        QCOMPARE(r.startBridge({}, false), QString());
        const QByteArray waiting = "orva-bridge: p1: MQTT: the broker is not reached (Connection refused); trying again";
        QTRY_VERIFY_WITH_TIMEOUT(r.bridge->lines().contains(waiting), kCap);
        QTRY_VERIFY_WITH_TIMEOUT(r.sim->heard().size() >= 6, kCap);  // the first poll's queries
        const auto wakeUps = [&] {  // the main thread's, whose timer tries the broker again (no other runs meanwhile)
            QFile status(QStringLiteral("/proc/%1/status").arg(r.bridge->process.processId()));
            qint64 sum = 0;
            for (const QByteArray &line : status.open(QIODevice::ReadOnly) ? status.readAll().split('\n') : QList<QByteArray>())
                sum += line.contains("ctxt_switches:") ? line.mid(line.indexOf(':') + 1).trimmed().toLongLong() : 0;
            return sum;
        };
        const qint64 before = wakeUps();
        QTest::qWait(1500);
        QVERIFY2(wakeUps() - before < 100, qPrintable(QString::number(wakeUps() - before)));
        for (const char *outage : {"", "The connection was lost."}) {
            const qsizetype lines = r.bridge->lines().size();
            if (*outage)
                r.broker.kill();
            QVERIFY2(r.broker.start(), r.broker.log.constData());
            r.watch = std::make_unique<Watch>(r.broker.port, QStringList{"orva/#", "homeassistant/#"});
            Retained all;
            QTRY_VERIFY_WITH_TIMEOUT(entityCounts(all = retained(r.broker.port)) == (QMap<QByteArray, int>{{"orva_p1", 28}})
                                         && below(all, "orva/bridge/").contains("testbridge/availability=online")
                                         && below(all, "orva/p1/").size() == kStateTopics.size(),
                                     kComeBack);
            QCOMPARE(all.value("orva/p1/power").payload, QByteArray("off"));
            QList<QByteArray> told{"orva-bridge: p1: MQTT: connected to the broker"};
            if (*outage)
                told.prepend("orva-bridge: p1: MQTT: the broker is not reached (" + QByteArray(outage) + "); trying again");
            QCOMPARE(r.bridge->lines().mid(lines), told);
        }
        QCOMPARE(r.bridge->lines().count(waiting), 1);
        QCOMPARE(r.command("power/set", "ON").value(0), QStringLiteral("C00"));
        QTRY_COMPARE_WITH_TIMEOUT(r.latest("power"), QByteArray("warming"), kCap);
        const qsizetype mark = r.watch->messages().size();
        r.bridge->process.kill();
        QTRY_VERIFY_WITH_TIMEOUT(r.watch->payloads("orva/bridge/testbridge/availability", mark).contains("offline")
                                     && r.watch->payloads("orva/p1/availability", mark).contains("offline"), kCap);
    }

    // A projector on its port that never answers: its polls go unanswered, which tells it offline.
    void neverAnswers()
    {
        Rig r;
        QCOMPARE(r.prepare({"--silent"}), QString());
        QCOMPARE(r.startBridge({}, false), QString());
        QTRY_COMPARE_WITH_TIMEOUT(r.latest("availability"), QByteArray("offline"), kCap);
    }

    // The projector's device server gone and back (orva-sim on a fixed port), with
    // no poll meanwhile: a command then ends in an error, which tells the projector
    // offline, and changes no state (nor is carried out later); once the port is
    // open again, the next command is carried out and tells it online, though it
    // answers with anything but an ACK: not taken, the error says what it answered.
    void projectorUnplugged()
    {
        Rig r;
        QCOMPARE(r.prepare({"--tcp", "0"}), QString());
        QCOMPARE(r.startBridge({}), QString());
        const QString port = r.sim->path.section(u':', -1);
        r.sim.reset();
        const QJsonObject error = r.send("power/set", "ON");
        QVERIFY2(!error.value(QStringLiteral("error")).toString().isEmpty(), QJsonDocument(error).toJson().constData());
        QTRY_COMPARE_WITH_TIMEOUT(r.latest("availability"), QByteArray("offline"), kCap);
        const Retained all = retained(r.broker.port);
        const QStringList kept = below(all, "orva/p1/");
        QVERIFY2(kept.contains("availability=offline") && kept.contains("power=off") && kept.contains("power/text=Stand by")
                     && !all.contains("orva/p1/error"), qPrintable(kept.join(u", ")));

        r.sim = std::make_unique<SimulatorProcess>(QStringList{"--tcp", port, "--garbage", "--seed", "2"});
        QVERIFY2(!r.sim->path.isEmpty(), "orva-sim did not start again on its port");
        QTRY_VERIFY_WITH_TIMEOUT(r.bridge->lines().contains("orva-bridge: p1: The projector's port is open again."), kComeBack);
        const QString notTaken = r.send("power/set", "OFF").value(QStringLiteral("error")).toString();
        QVERIFY2(notTaken.startsWith(QStringLiteral("the projector did not take C01: it answered ")), qPrintable(notTaken));
        QCOMPARE(r.sim->heard().value(0), QStringLiteral("C01"));
        QCOMPARE(r.latest("availability"), QByteArray("online"));
    }

    // A projector that never answers, on a device server that comes after the
    // bridge: offline; a command ends in an error, and
    // a flood of them is refused beyond the queue's room, an error each, logged once.
    void silentProjector()
    {
        Rig r;
        QCOMPARE(r.prepare({}, false), QString());
        const quint16 port = freePort();
        QCOMPARE(r.startBridge({"--mqtt-send"}, false, QStringLiteral("tcp://127.0.0.1:%1").arg(port)), QString());
        QTRY_COMPARE_WITH_TIMEOUT(r.latest("availability"), QByteArray("offline"), kCap);
        r.sim = std::make_unique<SimulatorProcess>(QStringList{"--tcp", QString::number(port), "--silent"});
        QTRY_VERIFY_WITH_TIMEOUT(r.bridge->lines().contains("orva-bridge: p1: The projector's port is open again."), kCap);
        const qsizetype mark = r.watch->messages().size();
        QCOMPARE(QJsonDocument(r.send("power/set", "ON")).toJson(QJsonDocument::Compact),
                 QByteArray(R"({"error":"no reply from the projector","payload":"ON","topic":"orva/p1/power/set"})"));
        QCOMPARE(r.sim->heard(), QStringList{"C00"});
        // The longest texts taken (all handled once the wrong payload after them is logged).
        const QByteArray longest(128, 'X');
        QVERIFY(r.watch->publish("orva/p1/send/set", QByteArrayList(100, longest).join('\n'), false, true));
        QVERIFY(r.watch->publish("orva/p1/power/set", "MAYBE"));
        QTRY_VERIFY_WITH_TIMEOUT(r.bridge->said().contains("\"MAYBE\" ignored"), kCap);
        QVERIFY(r.watch->payloads("orva/p1/error", mark).contains(
            R"({"error":"too many commands wait for the projector","payload":")" + longest + R"(","topic":"orva/p1/send/set"})"));
        QCOMPARE(r.bridge->lines().count("orva-bridge: p1: MQTT: too many commands wait for the projector: those that come "
                                         "are refused (with an error on orva/p1/error)"), 1);
        const Retained all = retained(r.broker.port);
        QCOMPARE(below(all, "orva/p1/"), QStringList{"availability=offline"});
    }
};

QTEST_GUILESS_MAIN(TstMqttOutages)
#include "tst_mqtt_outages.moc"
