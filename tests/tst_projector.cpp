// Unit tests for the simulated projector's protocol logic (no I/O involved).

#include "LineSpeed.h"
#include "Projector.h"

#include <QtTest>

#include <set>

using namespace orvasim;

namespace {

QByteArray bytes(const std::string &s) { return QByteArray(s.data(), qsizetype(s.size())); }
std::string str(const QByteArray &b) { return b.toStdString(); }

const QByteArray ack("\x06", 1);

// At atMs send code, expect reply.
struct Step { qint64 atMs; QByteArray code, reply; };
using Script = QList<Step>;

} // namespace

Q_DECLARE_METATYPE(Script)

class TstProjector : public QObject
{
    Q_OBJECT

private slots:
    // Every known command gets an ACK, a query its status text, any other line "?\r", in
    // each power state; only a known command may change the state. (The replies that
    // depend on the state are in stateMachine.)
    void classification_data()
    {
        QTest::addColumn<QByteArray>("code");
        QTest::addColumn<QByteArray>("reply");
        const char *acks[] = {
            "C00", "C01", "C05", "C06", "C07", "C0B", "C0C", "C0D", "C0E", "C0F", "C10", "C1C", "C1D",
            "C43", "C44", "C89", "C27", "C8A", "C1E", "C11", "C12", "C13", "C14", "C15", "C16", "C17",
            "C18", "C19", "CF KEYDIS NONE", "CF KEYDIS RC", "CF KEYDIS KEY", "C50", "C52", "C53", "C25",
            "C24", "C26", "CF TERMINAL COMPUTER", "CF TERMINAL MONITOR", "C32", "C33", "C34", "C81",
            "C82", "C83", "CF FANSPEED MAX", "CF FANSPEED NOR", "CF LOGOCAPTURE START", "CF LOGO OFF",
            "CF LOGO DEFAULT", "CF LOGO USER", "C09", "C0A", "C3C", "C3D", "C3B", "C3A", "C20", "C21",
            "C3F", "C30", "C31", "C8E", "C8F",
        };
        QCOMPARE(std::size(acks), Projector::ackCommands().size());
        for (const char *c : acks)
            QTest::newRow(c) << QByteArray(c) << ack;
        const std::pair<const char *, const char *> queries[] = {{"CR3", "01234\r"}, {"CR4", "11\r"},
            {"CR6", "032.5  41.0 038.5\r"}, {"CR7", "03\r"}, {"CR9", "TK58R SIM 1.40\r"}, {"CR PRESSURE", "512\r"}};
        for (const auto &[code, reply] : queries)
            QTest::newRow(code) << QByteArray(code) << QByteArray(reply);
        const QByteArray unknown[] = {
            "", "XYZ", "c00", "C0b", "cr0", "CRa", "C00 ", " C00", "C0", "C000", "CR", "CR2", "CR5", "CR8",
            "CRB", "CR pressure", "CR  PRESSURE", "CR PRESSURE ", "CRPRESSURE", "CF KEYDIS",
            "CF KEYDIS none", "CF LOGO", "CF FANSPEED MIN", "C00\r", "C00\n", QByteArray("C0\0" "0", 4),
            "C0\xB0", QByteArray(64, 'C'),
        };
        for (const QByteArray &c : unknown)
            QTest::addRow("'%s'", c.toPercentEncoding(" ").constData()) << c << QByteArray("?\r");
    }

    void classification()
    {
        QFETCH(QByteArray, code);
        QFETCH(QByteArray, reply);
        QCOMPARE(Projector::isAckCommand(str(code)), reply == ack);
        for (const Power state : {Power::Standby, Power::CountDown, Power::On, Power::CoolDown}) {
            Projector p({.startOn = state == Power::On || state == Power::CoolDown});
            if (state == Power::CountDown || state == Power::CoolDown)
                p.onLine(state == Power::CountDown ? "C00" : "C01", 0);
            QCOMPARE(p.power(), state);
            const auto replies = p.onLine(str(code), 10);
            QCOMPARE(replies.size(), std::size_t(1));
            QCOMPARE(bytes(replies[0]), reply);
            if (reply != ack)
                QCOMPARE(p.power(), state);
        }
    }

    // Lamp hours are five digits, capped at 99999; the pressure is not padded.
    void configuredValues()
    {
        const std::pair<uint, QByteArray> lamps[] = {
            {0, "00000\r"}, {7, "00007\r"}, {99999, "99999\r"}, {100000, "99999\r"}, {4000000000u, "99999\r"}};
        for (const auto &[hours, reply] : lamps)
            QCOMPARE(bytes(Projector({.lampHours = hours}).onLine("CR3", 0).at(0)), reply);
        QCOMPARE(bytes(Projector({.pressure = 0}).onLine("CR PRESSURE", 0).at(0)), QByteArray("0\r"));
        QCOMPARE(bytes(Projector({.pressure = 1013}).onLine("CR PRESSURE", 0).at(0)), QByteArray("1013\r"));
    }

    // Power, mute and input over time.
    void stateMachine_data()
    {
        QTest::addColumn<qint64>("countdownMs");
        QTest::addColumn<qint64>("cooldownMs");
        QTest::addColumn<bool>("startOn");
        QTest::addColumn<Script>("script");
        auto row = [](const char *name, bool startOn, const Script &s, qint64 countdown = 3000, qint64 cooldown = 5000) {
            QTest::newRow(name) << countdown << cooldown << startOn << s;
        };
        const QByteArray cr0("CR0"), cra("CRA"), cr1("CR1");
        row("count down to its deadline; C00 keeps it, C01 is ignored", false,
            {{0, cr0, "80\r"}, {1000, "C00", ack}, {1000, cr0, "40\r"}, {2000, "C00", ack}, {2500, "C01", ack},
             {3999, cr0, "40\r"}, {4000, cr0, "00\r"}, {4000, "C00", ack}, {90000, cr0, "00\r"}});
        row("cooling down to its deadline; C01 keeps it, C00 is ignored", true,
            {{500, "C01", ack}, {500, cr0, "20\r"}, {600, "C00", ack}, {4000, "C01", ack}, {5499, cr0, "20\r"},
             {5500, cr0, "80\r"}, {5500, "C01", ack}, {100000, cr0, "80\r"}});
        row("late first look completes cooling before the next power on", true,
            {{0, "C01", ack}, {100000, "C00", ack}, {100000, cr0, "40\r"}, {103000, cr0, "00\r"}});
        row("zero or negative durations are at once", false,
            {{7, "C00", ack}, {7, cr0, "00\r"}, {8, "C01", ack}, {8, cr0, "80\r"}}, -5, 0);
        row("mute bits", true,
            {{0, cra, "00\r"}, {0, "C0D", ack}, {0, cra, "01\r"}, {0, "C0B", ack}, {0, cra, "03\r"}, {0, "C0E", ack},
             {0, cra, "02\r"}, {0, "C0C", ack}, {0, cra, "00\r"}, {0, "C0B", ack}, {0, "C0B", ack}, {0, cra, "02\r"}});
        row("mute: FF and ignored in standby, kept through the transitions, cleared in standby", false,
            {{0, cra, "FF\r"}, {0, "C0D", ack}, {0, cra, "FF\r"}, {0, "C00", ack}, {0, cra, "00\r"}, {10, "C0D", ack},
             {10, cra, "01\r"}, {3000, "C01", ack}, {3000, "C0B", ack}, {7999, cra, "03\r"}, {8000, cra, "FF\r"},
             {8000, "C00", ack}, {11000, cra, "00\r"}});
        row("input selection, also in standby", false,
            {{0, cr1, "1\r"}, {0, "C06", ack}, {0, cr1, "2\r"}, {0, "C07", ack}, {0, cr1, "3\r"}, {0, "C05", ack},
             {0, cr1, "1\r"}, {0, "C07", ack}, {0, "C00", ack}, {3000, cr1, "3\r"}});
        row("other commands leave the state alone", true,
            {{0, "C0D", ack}, {0, "C06", ack}, {0, "C0F", ack}, {0, "CF LOGO USER", ack}, {0, "C8F", ack},
             {0, "XYZ", "?\r"}, {0, cra, "01\r"}, {0, cr1, "2\r"}, {0, cr0, "00\r"}});
    }

    void stateMachine()
    {
        QFETCH(qint64, countdownMs);
        QFETCH(qint64, cooldownMs);
        QFETCH(bool, startOn);
        QFETCH(Script, script);
        Projector p({.countdownMs = countdownMs, .cooldownMs = cooldownMs, .startOn = startOn});
        for (int i = 0; i < script.size(); ++i) {
            const auto replies = p.onLine(str(script[i].code), script[i].atMs);
            QVERIFY2(replies.size() == 1, qPrintable(QStringLiteral("step %1").arg(i)));
            QCOMPARE(bytes(replies[0]), script[i].reply);
        }
    }

    // Timed transitions also complete without a line, when nextTransitionMs() says.
    void transitionTimer()
    {
        Projector p;
        const auto next = [&p] { return int(p.nextTransitionMs().value_or(-1)); };
        QCOMPARE(next(), -1);
        p.onLine("C00", 250);
        QCOMPARE(next(), 3250);
        p.tick(3249);
        QCOMPARE(p.power(), Power::CountDown);
        p.tick(3250);
        QCOMPARE(p.power(), Power::On);
        QCOMPARE(next(), -1);
        p.onLine("C01", 4000);
        QCOMPARE(next(), 9000);
        p.tick(9000);
        QCOMPARE(p.power(), Power::Standby);
    }

    // Garbage: control and high bytes only (both kinds, NUL among them), every length in
    // range, one CR at the end; the flood: digit lines of 1..16, however it is chunked.
    // The same seed gives the same bytes.
    void noise()
    {
        Noise noise(42), same(42), other(43);
        std::set<qsizetype> lengths;
        std::string seen, again, different;
        for (int i = 0; i < 2000; ++i) {
            const QByteArray g = bytes(noise.garbage());
            QCOMPARE(g.indexOf('\r'), g.size() - 1);
            bool control = false, high = false;
            for (const char ch : g.chopped(1)) {
                const auto c = static_cast<unsigned char>(ch);
                QVERIFY2(c < 0x20 || c >= 0x7F, qPrintable(g.toHex(' ')));
                control = control || c < 0x20 || c == 0x7F;
                high = high || c >= 0x80;
            }
            QVERIFY2(control && high, qPrintable(g.toHex(' ')));
            lengths.insert(g.size());
            seen += g.toStdString(), again += same.garbage(), different += other.garbage();
        }
        QVERIFY(seen.find('\0') != std::string::npos);
        QCOMPARE(*lengths.begin(), qsizetype(Noise::kMinGarbage + 1));
        QCOMPARE(*lengths.rbegin(), qsizetype(Noise::kMaxGarbage + 1));
        QVERIFY(seen == again && seen != different);

        const QByteArray flood = bytes(Noise(5).flood(20000));
        QCOMPARE(flood.size(), 20000);
        for (const QByteArray &line : flood.chopped(flood.size() - flood.lastIndexOf('\r')).split('\r')) {
            QVERIFY(line.size() >= 1 && line.size() <= int(Noise::kMaxFloodDigits));
            QVERIFY2(std::all_of(line.begin(), line.end(), [](char c) { return c >= '0' && c <= '9'; }), line.constData());
        }
        Noise chunked(5);
        QByteArray pieces;
        for (std::size_t n = 0; pieces.size() < flood.size(); n = (n % 37) + 1)
            pieces += bytes(chunked.flood(std::min(n, std::size_t(flood.size() - pieces.size()))));
        QCOMPARE(pieces, flood);
    }

    // A reply read at the wrong line speed, worked out by hand bit by bit (8N1, LSB first,
    // the receiver sampling mid-bit from each falling edge).
    void wrongSpeed_data()
    {
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<int>("senderBaud");
        QTest::addColumn<int>("receiverBaud");
        QTest::addColumn<QByteArray>("received");
        QTest::newRow("same speed") << QByteArray("80\r") << 9600 << 9600 << QByteArray("80\r");
        // Every other bit, two glitch starts, then a last byte half made of idle line.
        QTest::newRow("read at half speed") << QByteArray("80\r") << 19200 << 9600 << QByteArray("\x4A\xFE");
        // Each bit read twice: CR splits into two bytes.
        QTest::newRow("read at twice the speed") << QByteArray("\r") << 9600 << 19200 << QByteArray("\xE6\x80");
    }
    void wrongSpeed()
    {
        QFETCH(QByteArray, sent);
        QFETCH(int, senderBaud);
        QFETCH(int, receiverBaud);
        QFETCH(QByteArray, received);
        const std::string out = orvasim::receivedAtSpeed(sent.toStdString(), uint32_t(senderBaud), uint32_t(receiverBaud));
        QCOMPARE(QByteArray::fromStdString(out), received);
    }

    // The control command on the line: known states are acknowledged and change the reply.
    void stateCommand()
    {
        orvasim::Projector p;
        QCOMPARE(p.onLine("!STATE lamp-2-on", 0), std::vector<orvasim::Reply>{"\x06"});
        QCOMPARE(p.onLine("CR7", 0), std::vector<orvasim::Reply>{"22\r"});
        QCOMPARE(p.onLine("!STATE no-such-state", 0), std::vector<orvasim::Reply>{"?\r"});
    }
};

QTEST_APPLESS_MAIN(TstProjector)
#include "tst_projector.moc"
