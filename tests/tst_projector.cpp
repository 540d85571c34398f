// Unit tests for the simulated projector's protocol logic (no I/O involved).

#include "Projector.h"

#include <QtTest>

#include <set>
#include <string>
#include <vector>

using namespace orvasim;

namespace {

QByteArray bytes(const std::string &s)
{
    return QByteArray(s.data(), static_cast<qsizetype>(s.size()));
}

std::string str(const QByteArray &b)
{
    return std::string(b.constData(), static_cast<std::size_t>(b.size()));
}

// One step of a power/mute/input scenario: at atMs send code, expect reply.
struct Step
{
    qint64 atMs;
    QByteArray code;
    QByteArray reply;
};
using Script = QList<Step>;

const QByteArray ack("\x06", 1);

struct Piece
{
    qint64 dueMs;
    QByteArray bytes;
    bool operator==(const Piece &o) const { return dueMs == o.dueMs && bytes == o.bytes; }
};
using Pieces = QList<Piece>;

struct Add
{
    qint64 atMs;
    QByteArray reply;
};
using Adds = QList<Add>;

} // namespace

Q_DECLARE_METATYPE(Script)
Q_DECLARE_METATYPE(Pieces)
Q_DECLARE_METATYPE(Adds)

namespace QTest {
template<>
char *toString(const Piece &p)
{
    return QTest::toString(QByteArray::number(p.dueMs) + ":" + p.bytes.toHex(' '));
}
} // namespace QTest

class TstProjector : public QObject
{
    Q_OBJECT

private slots:
    void ackCommands_data();
    void ackCommands();
    void ackCommandsInEveryPowerState_data();
    void ackCommandsInEveryPowerState();
    void unknownCommands_data();
    void unknownCommands();
    void statusQueries_data();
    void statusQueries();
    void temperatureColumns();
    void lampHours_data();
    void lampHours();
    void pressure_data();
    void pressure();
    void scripts_data();
    void scripts();
    void transitionTimer();
    void negativeDurationsAreImmediate();

    void lineReader_data();
    void lineReader();
    void lineReaderByteByByte();

    void scheduler_data();
    void scheduler();
    void schedulerNothingEarly();
    void schedulerLateKeepsGap();
    void schedulerClear();

    void garbage_data();
    void garbage();
    void garbageReproducible();
    void floodStream_data();
    void floodStream();
};

// ---------------------------------------------------------------------------
// Command codes

void TstProjector::ackCommands_data()
{
    QTest::addColumn<QByteArray>("code");
    const char *codes[] = {
        "C00", "C01", "C05", "C06", "C07", "C0B", "C0C", "C0D", "C0E", "C0F", "C10", "C1C", "C1D",
        "C43", "C44", "C89", "C27", "C8A", "C1E", "C11", "C12", "C13", "C14", "C15", "C16", "C17",
        "C18", "C19", "CF KEYDIS NONE", "CF KEYDIS RC", "CF KEYDIS KEY", "C50", "C52", "C53", "C25",
        "C24", "C26", "CF TERMINAL COMPUTER", "CF TERMINAL MONITOR", "C32", "C33", "C34", "C81",
        "C82", "C83", "CF FANSPEED MAX", "CF FANSPEED NOR", "CF LOGOCAPTURE START", "CF LOGO OFF",
        "CF LOGO DEFAULT", "CF LOGO USER", "C09", "C0A", "C3C", "C3D", "C3B", "C3A", "C20", "C21",
        "C3F", "C30", "C31", "C8E", "C8F",
    };
    for (const char *c : codes)
        QTest::newRow(c) << QByteArray(c);
    QCOMPARE(std::size(codes), Projector::ackCommands().size());
}

void TstProjector::ackCommands()
{
    QFETCH(QByteArray, code);
    Projector p;
    const auto replies = p.onLine(str(code), 0);
    QCOMPARE(replies.size(), std::size_t(1));
    QCOMPARE(bytes(replies[0]), ack);
    QVERIFY(Projector::isAckCommand(str(code)));
}

void TstProjector::ackCommandsInEveryPowerState_data()
{
    QTest::addColumn<QByteArray>("setup"); // commands that reach the state
    QTest::addColumn<qint64>("atMs");
    QTest::addColumn<QByteArray>("power");
    QTest::newRow("standby") << QByteArray() << qint64(0) << QByteArray("80\r");
    QTest::newRow("count down") << QByteArray("C00") << qint64(10) << QByteArray("40\r");
    QTest::newRow("on") << QByteArray("C00") << qint64(3000) << QByteArray("00\r");
    QTest::newRow("cooling down") << QByteArray("C00,C01") << qint64(3000) << QByteArray("20\r");
}

void TstProjector::ackCommandsInEveryPowerState()
{
    QFETCH(QByteArray, setup);
    QFETCH(qint64, atMs);
    QFETCH(QByteArray, power);
    for (const std::string_view code : Projector::ackCommands()) {
        Projector p;
        int64_t t = 0;
        for (const QByteArray &c : setup.split(',')) {
            if (c.isEmpty())
                continue;
            p.onLine(str(c), t);
            t = atMs;
        }
        QCOMPARE(bytes(p.onLine("CR0", atMs).at(0)), power);
        const auto replies = p.onLine(code, atMs);
        QCOMPARE(replies.size(), std::size_t(1));
        QCOMPARE(bytes(replies[0]), ack);
    }
}

void TstProjector::unknownCommands_data()
{
    QTest::addColumn<QByteArray>("code");
    QTest::newRow("empty line") << QByteArray("");
    QTest::newRow("unknown") << QByteArray("XYZ");
    QTest::newRow("lower case command") << QByteArray("c00");
    QTest::newRow("lower case hex digit") << QByteArray("C0b");
    QTest::newRow("lower case query") << QByteArray("cr0");
    QTest::newRow("query letter lower case") << QByteArray("CRa");
    QTest::newRow("trailing blank") << QByteArray("C00 ");
    QTest::newRow("leading blank") << QByteArray(" C00");
    QTest::newRow("too short") << QByteArray("C0");
    QTest::newRow("too long") << QByteArray("C000");
    QTest::newRow("query prefix only") << QByteArray("CR");
    QTest::newRow("CR2 not a query") << QByteArray("CR2");
    QTest::newRow("CR5 not a query") << QByteArray("CR5");
    QTest::newRow("CR8 not a query") << QByteArray("CR8");
    QTest::newRow("CRB not a query") << QByteArray("CRB");
    QTest::newRow("pressure lower case") << QByteArray("CR pressure");
    QTest::newRow("pressure two blanks") << QByteArray("CR  PRESSURE");
    QTest::newRow("pressure trailing blank") << QByteArray("CR PRESSURE ");
    QTest::newRow("pressure without blank") << QByteArray("CRPRESSURE");
    QTest::newRow("keydis without argument") << QByteArray("CF KEYDIS");
    QTest::newRow("keydis lower case argument") << QByteArray("CF KEYDIS none");
    QTest::newRow("logo prefix") << QByteArray("CF LOGO");
    QTest::newRow("fanspeed unknown") << QByteArray("CF FANSPEED MIN");
    QTest::newRow("carriage return inside") << QByteArray("C00\r");
    QTest::newRow("line feed inside") << QByteArray("C00\n");
    QTest::newRow("NUL inside") << QByteArray("C0\0" "0", 4);
    QTest::newRow("8-bit byte") << QByteArray("C0\xB0");
    QTest::newRow("64 bytes") << QByteArray(64, 'C');
}

void TstProjector::unknownCommands()
{
    QFETCH(QByteArray, code);
    for (const bool on : {false, true}) {
        ProjectorConfig cfg;
        cfg.startOn = on;
        Projector p(cfg);
        const auto replies = p.onLine(str(code), 0);
        QCOMPARE(replies.size(), std::size_t(1));
        QCOMPARE(bytes(replies[0]), QByteArray("?\r"));
        QCOMPARE(p.power(), on ? Power::On : Power::Standby);
        QVERIFY(!Projector::isAckCommand(str(code)));
    }
}

void TstProjector::statusQueries_data()
{
    QTest::addColumn<bool>("on");
    QTest::addColumn<QByteArray>("code");
    QTest::addColumn<QByteArray>("reply");
    for (const bool on : {false, true}) {
        const char *state = on ? "on" : "standby";
        auto row = [&](const char *code, const QByteArray &reply) {
            QTest::addRow("%s %s", state, code) << on << QByteArray(code) << reply;
        };
        row("CR0", on ? "00\r" : "80\r");
        row("CR1", "1\r");
        row("CR3", "01234\r");
        row("CR4", "11\r");
        row("CR6", "032.5  41.0 038.5\r");
        row("CRA", on ? "00\r" : "FF\r");
        row("CR7", "03\r");
        row("CR9", "TK58R SIM 1.40\r");
        row("CR PRESSURE", "512\r");
    }
}

void TstProjector::statusQueries()
{
    QFETCH(bool, on);
    QFETCH(QByteArray, code);
    QFETCH(QByteArray, reply);
    ProjectorConfig cfg;
    cfg.startOn = on;
    Projector p(cfg);
    const auto replies = p.onLine(str(code), 0);
    QCOMPARE(replies.size(), std::size_t(1));
    QCOMPARE(bytes(replies[0]), reply);
    // Asking changes nothing.
    QCOMPARE(bytes(p.onLine(str(code), 0).at(0)), reply);
}

void TstProjector::temperatureColumns()
{
    // The panel reads the status line by column: 1-5, 8-11 and 13-17.
    Projector p;
    const QByteArray line = bytes(p.onLine("CR6", 0).at(0));
    QCOMPARE(line.size(), 18);
    QCOMPARE(line.back(), '\r');
    QCOMPARE(line.mid(0, 5), QByteArray("032.5"));
    QCOMPARE(line.mid(5, 2), QByteArray("  "));
    QCOMPARE(line.mid(7, 4), QByteArray("41.0"));
    QCOMPARE(line.mid(11, 1), QByteArray(" "));
    QCOMPARE(line.mid(12, 5), QByteArray("038.5"));
}

void TstProjector::lampHours_data()
{
    QTest::addColumn<uint>("hours");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("zero") << 0u << QByteArray("00000\r");
    QTest::newRow("one digit") << 7u << QByteArray("00007\r");
    QTest::newRow("four digits") << 1234u << QByteArray("01234\r");
    QTest::newRow("five digits") << 12345u << QByteArray("12345\r");
    QTest::newRow("largest") << 99999u << QByteArray("99999\r");
    QTest::newRow("above five digits is capped") << 100000u << QByteArray("99999\r");
    QTest::newRow("far above") << 4000000000u << QByteArray("99999\r");
}

void TstProjector::lampHours()
{
    QFETCH(uint, hours);
    QFETCH(QByteArray, reply);
    ProjectorConfig cfg;
    cfg.lampHours = hours;
    Projector p(cfg);
    QCOMPARE(bytes(p.onLine("CR3", 0).at(0)), reply);
}

void TstProjector::pressure_data()
{
    QTest::addColumn<uint>("value");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("zero") << 0u << QByteArray("0\r");
    QTest::newRow("default") << 512u << QByteArray("512\r");
    QTest::newRow("four digits, no padding") << 1013u << QByteArray("1013\r");
}

void TstProjector::pressure()
{
    QFETCH(uint, value);
    QFETCH(QByteArray, reply);
    ProjectorConfig cfg;
    cfg.pressure = value;
    Projector p(cfg);
    QCOMPARE(bytes(p.onLine("CR PRESSURE", 0).at(0)), reply);
}

// ---------------------------------------------------------------------------
// Power, mute and input over time

void TstProjector::scripts_data()
{
    QTest::addColumn<qint64>("countdownMs");
    QTest::addColumn<qint64>("cooldownMs");
    QTest::addColumn<bool>("startOn");
    QTest::addColumn<Script>("script");

    const QByteArray cr0("CR0"), cra("CRA"), cr1("CR1");

    QTest::newRow("count down ends exactly at its deadline")
        << qint64(3000) << qint64(5000) << false
        << Script{{1000, cr0, "80\r"}, {1000, "C00", ack}, {1000, cr0, "40\r"},
                  {3999, cr0, "40\r"}, {4000, cr0, "00\r"}, {90000, cr0, "00\r"}};
    QTest::newRow("cooling down ends exactly at its deadline")
        << qint64(3000) << qint64(5000) << true
        << Script{{0, cr0, "00\r"}, {500, "C01", ack}, {500, cr0, "20\r"},
                  {5499, cr0, "20\r"}, {5500, cr0, "80\r"}};
    QTest::newRow("full cycle with short timers")
        << qint64(200) << qint64(300) << false
        << Script{{0, "C00", ack}, {199, cr0, "40\r"}, {200, cr0, "00\r"}, {250, "C01", ack},
                  {549, cr0, "20\r"}, {550, cr0, "80\r"}, {600, "C00", ack}, {600, cr0, "40\r"}};
    QTest::newRow("C00 while counting down keeps the deadline")
        << qint64(3000) << qint64(5000) << false
        << Script{{0, "C00", ack}, {2000, "C00", ack}, {2999, cr0, "40\r"}, {3000, cr0, "00\r"}};
    QTest::newRow("C00 while on changes nothing")
        << qint64(3000) << qint64(5000) << true
        << Script{{0, "C00", ack}, {0, cr0, "00\r"}, {100000, cr0, "00\r"}};
    QTest::newRow("C01 in standby changes nothing")
        << qint64(3000) << qint64(5000) << false
        << Script{{0, "C01", ack}, {0, cr0, "80\r"}, {100000, cr0, "80\r"}};
    QTest::newRow("C01 while cooling keeps the deadline")
        << qint64(3000) << qint64(5000) << true
        << Script{{0, "C01", ack}, {4000, "C01", ack}, {4999, cr0, "20\r"}, {5000, cr0, "80\r"}};
    QTest::newRow("C00 while cooling is ignored")
        << qint64(3000) << qint64(5000) << true
        << Script{{0, "C01", ack}, {100, "C00", ack}, {100, cr0, "20\r"}, {5000, cr0, "80\r"}};
    QTest::newRow("C01 while counting down is ignored")
        << qint64(3000) << qint64(5000) << false
        << Script{{0, "C00", ack}, {100, "C01", ack}, {100, cr0, "40\r"}, {3000, cr0, "00\r"}};
    QTest::newRow("late first look completes cooling before the next power on")
        << qint64(3000) << qint64(5000) << true
        << Script{{0, "C01", ack}, {100000, "C00", ack}, {100000, cr0, "40\r"},
                  {103000, cr0, "00\r"}};
    QTest::newRow("zero count down is on at once")
        << qint64(0) << qint64(0) << false
        << Script{{7, "C00", ack}, {7, cr0, "00\r"}, {8, "C01", ack}, {8, cr0, "80\r"}};

    QTest::newRow("mute bits")
        << qint64(3000) << qint64(5000) << true
        << Script{{0, cra, "00\r"}, {0, "C0D", ack}, {0, cra, "01\r"}, {0, "C0B", ack},
                  {0, cra, "03\r"}, {0, "C0E", ack}, {0, cra, "02\r"}, {0, "C0C", ack},
                  {0, cra, "00\r"}, {0, "C0B", ack}, {0, "C0B", ack}, {0, cra, "02\r"}};
    QTest::newRow("mute is FF in standby and ignored there")
        << qint64(3000) << qint64(5000) << false
        << Script{{0, cra, "FF\r"}, {0, "C0D", ack}, {0, "C0B", ack}, {0, cra, "FF\r"},
                  {0, "C00", ack}, {0, cra, "00\r"}, {3000, cra, "00\r"}};
    QTest::newRow("mute works while counting down and cooling")
        << qint64(3000) << qint64(5000) << false
        << Script{{0, "C00", ack}, {10, "C0D", ack}, {10, cra, "01\r"}, {3000, cra, "01\r"},
                  {3000, "C01", ack}, {3000, "C0B", ack}, {3000, cra, "03\r"}};
    QTest::newRow("mute is cleared once in standby")
        << qint64(3000) << qint64(5000) << true
        << Script{{0, "C0D", ack}, {0, "C0B", ack}, {0, "C01", ack}, {4999, cra, "03\r"},
                  {5000, cra, "FF\r"}, {6000, "C00", ack}, {9000, cra, "00\r"}};

    QTest::newRow("input selection")
        << qint64(3000) << qint64(5000) << true
        << Script{{0, cr1, "1\r"}, {0, "C06", ack}, {0, cr1, "2\r"}, {0, "C07", ack},
                  {0, cr1, "3\r"}, {0, "C05", ack}, {0, cr1, "1\r"}};
    QTest::newRow("input selection in standby sticks")
        << qint64(3000) << qint64(5000) << false
        << Script{{0, "C07", ack}, {0, cr1, "3\r"}, {0, "C00", ack}, {3000, cr1, "3\r"}};
    QTest::newRow("other commands leave the state alone")
        << qint64(3000) << qint64(5000) << true
        << Script{{0, "C0D", ack}, {0, "C06", ack}, {0, "C0F", ack}, {0, "CF LOGO USER", ack},
                  {0, "C8F", ack}, {0, "XYZ", "?\r"}, {0, cra, "01\r"}, {0, cr1, "2\r"},
                  {0, cr0, "00\r"}};
}

void TstProjector::scripts()
{
    QFETCH(qint64, countdownMs);
    QFETCH(qint64, cooldownMs);
    QFETCH(bool, startOn);
    QFETCH(Script, script);
    ProjectorConfig cfg;
    cfg.countdownMs = countdownMs;
    cfg.cooldownMs = cooldownMs;
    cfg.startOn = startOn;
    Projector p(cfg);
    for (int i = 0; i < script.size(); ++i) {
        const Step &s = script.at(i);
        const auto replies = p.onLine(str(s.code), s.atMs);
        QVERIFY2(replies.size() == 1, qPrintable(QStringLiteral("step %1").arg(i)));
        QCOMPARE(bytes(replies[0]), s.reply);
    }
}

void TstProjector::transitionTimer()
{
    Projector p;
    QCOMPARE(p.nextTransitionMs(), std::optional<int64_t>());
    p.onLine("C00", 250);
    QCOMPARE(p.power(), Power::CountDown);
    QCOMPARE(p.nextTransitionMs(), std::optional<int64_t>(3250));
    p.tick(3249);
    QCOMPARE(p.power(), Power::CountDown);
    p.tick(3250);
    QCOMPARE(p.power(), Power::On);
    QCOMPARE(p.nextTransitionMs(), std::optional<int64_t>());
    p.onLine("C01", 4000);
    QCOMPARE(p.power(), Power::CoolDown);
    QCOMPARE(p.nextTransitionMs(), std::optional<int64_t>(9000));
    p.tick(9000);
    QCOMPARE(p.power(), Power::Standby);
    QCOMPARE(p.nextTransitionMs(), std::optional<int64_t>());
}

void TstProjector::negativeDurationsAreImmediate()
{
    ProjectorConfig cfg;
    cfg.countdownMs = -5;
    cfg.cooldownMs = -5;
    Projector p(cfg);
    p.onLine("C00", 100);
    QCOMPARE(p.power(), Power::On);
    p.onLine("C01", 100);
    QCOMPARE(p.power(), Power::Standby);
}

// ---------------------------------------------------------------------------
// Framing

void TstProjector::lineReader_data()
{
    QTest::addColumn<QByteArrayList>("chunks");
    QTest::addColumn<QByteArrayList>("lines");

    const QByteArray a64(64, 'A'), a65(65, 'A');
    QTest::newRow("one command") << QByteArrayList{"C00\r"} << QByteArrayList{"C00"};
    QTest::newRow("no CR yet") << QByteArrayList{"C00"} << QByteArrayList{};
    QTest::newRow("split across reads") << QByteArrayList{"C", "0", "0\r"} << QByteArrayList{"C00"};
    QTest::newRow("CR in the next read") << QByteArrayList{"CR0", "\r"} << QByteArrayList{"CR0"};
    QTest::newRow("two in one read") << QByteArrayList{"C00\rCR0\r"} << QByteArrayList{"C00", "CR0"};
    QTest::newRow("empty line") << QByteArrayList{"\r"} << QByteArrayList{""};
    QTest::newRow("two empty lines") << QByteArrayList{"\r\r"} << QByteArrayList{"", ""};
    QTest::newRow("CR LF") << QByteArrayList{"C00\r\nCR0\r\n"} << QByteArrayList{"C00", "CR0"};
    QTest::newRow("LF first") << QByteArrayList{"\nC00\r"} << QByteArrayList{"C00"};
    QTest::newRow("LF inside") << QByteArrayList{"C0\n0\r"} << QByteArrayList{"C00"};
    QTest::newRow("LF alone ends nothing") << QByteArrayList{"C00\n"} << QByteArrayList{};
    QTest::newRow("blanks kept") << QByteArrayList{"CF LOGO OFF\r"} << QByteArrayList{"CF LOGO OFF"};
    QTest::newRow("NUL kept") << QByteArrayList{QByteArray("C\0" "0\r", 4)}
                              << QByteArrayList{QByteArray("C\0" "0", 3)};
    QTest::newRow("8-bit kept") << QByteArrayList{"\xFF\x80\r"} << QByteArrayList{"\xFF\x80"};
    QTest::newRow("64 bytes is still a line") << QByteArrayList{a64 + "\r"} << QByteArrayList{a64};
    QTest::newRow("65 bytes is discarded") << QByteArrayList{a65 + "\r"} << QByteArrayList{};
    QTest::newRow("65 bytes then a command")
        << QByteArrayList{a65 + "\rC00\r"} << QByteArrayList{"C00"};
    QTest::newRow("tail of an overlong line is not a command")
        << QByteArrayList{a65 + "C00\rCR0\r"} << QByteArrayList{"CR0"};
    QTest::newRow("overlong across reads")
        << QByteArrayList{QByteArray(40, 'B'), QByteArray(40, 'B'), "C01\r", "C00\r"}
        << QByteArrayList{"C00"};
    QTest::newRow("64 bytes across reads")
        << QByteArrayList{QByteArray(32, 'A'), QByteArray(32, 'A'), "\r"} << QByteArrayList{a64};
    QTest::newRow("LF does not count toward the limit")
        << QByteArrayList{QByteArray(32, 'A') + QByteArray(10, '\n') + QByteArray(32, 'A') + "\r"}
        << QByteArrayList{a64};
    QTest::newRow("very long junk then a command")
        << QByteArrayList{QByteArray(5000, 'x'), "\rCR9\r"} << QByteArrayList{"CR9"};
}

void TstProjector::lineReader()
{
    QFETCH(QByteArrayList, chunks);
    QFETCH(QByteArrayList, lines);
    LineReader reader;
    QByteArrayList got;
    for (const QByteArray &chunk : chunks)
        for (const std::string &l : reader.feed(str(chunk)))
            got << bytes(l);
    QCOMPARE(got, lines);
}

void TstProjector::lineReaderByteByByte()
{
    // The same bytes must frame the same whichever way the reads fall.
    const QByteArray stream = QByteArray("C00\r\nCR0\r") + QByteArray(70, 'z') + "\r\rCRA\r";
    const QByteArrayList expected{"C00", "CR0", "", "CRA"};
    for (int chunk = 1; chunk <= stream.size(); ++chunk) {
        LineReader reader;
        QByteArrayList got;
        for (int pos = 0; pos < stream.size(); pos += chunk)
            for (const std::string &l : reader.feed(str(stream.mid(pos, chunk))))
                got << bytes(l);
        QVERIFY2(got == expected, qPrintable(QStringLiteral("chunk size %1").arg(chunk)));
        QCOMPARE(reader.pendingBytes(), std::size_t(0));
        QVERIFY(!reader.discarding());
    }
}

// ---------------------------------------------------------------------------
// Reply timing

void TstProjector::scheduler_data()
{
    QTest::addColumn<qint64>("delayMs");
    QTest::addColumn<int>("split");
    QTest::addColumn<qint64>("gapMs");
    QTest::addColumn<Adds>("adds");
    QTest::addColumn<Pieces>("pieces");

    QTest::newRow("as is") << qint64(0) << 0 << qint64(20) << Adds{{5, "00\r"}}
                           << Pieces{{5, "00\r"}};
    QTest::newRow("delayed") << qint64(250) << 0 << qint64(20) << Adds{{10, "\x06"}}
                             << Pieces{{260, "\x06"}};
    QTest::newRow("delay keeps order") << qint64(50) << 0 << qint64(20)
                                       << Adds{{0, "A\r"}, {10, "B\r"}}
                                       << Pieces{{50, "A\r"}, {60, "B\r"}};
    QTest::newRow("single bytes") << qint64(0) << 1 << qint64(20) << Adds{{0, "00\r"}}
                                  << Pieces{{0, "0"}, {20, "0"}, {40, "\r"}};
    QTest::newRow("pairs with a short tail") << qint64(0) << 2 << qint64(5) << Adds{{0, "ABCDE"}}
                                             << Pieces{{0, "AB"}, {5, "CD"}, {10, "E"}};
    QTest::newRow("pieces exactly fit") << qint64(0) << 2 << qint64(5) << Adds{{0, "ABCD"}}
                                        << Pieces{{0, "AB"}, {5, "CD"}};
    QTest::newRow("piece larger than the reply") << qint64(0) << 10 << qint64(20)
                                                 << Adds{{0, "00\r"}} << Pieces{{0, "00\r"}};
    QTest::newRow("zero gap") << qint64(0) << 1 << qint64(0) << Adds{{3, "?\r"}}
                              << Pieces{{3, "?"}, {3, "\r"}};
    QTest::newRow("delay and split") << qint64(100) << 1 << qint64(20) << Adds{{5, "?\r"}}
                                     << Pieces{{105, "?"}, {125, "\r"}};
    QTest::newRow("next reply waits for the last piece")
        << qint64(0) << 1 << qint64(20) << Adds{{0, "AB"}, {5, "C"}}
        << Pieces{{0, "A"}, {20, "B"}, {40, "C"}};
    QTest::newRow("next reply after an idle line goes at once")
        << qint64(0) << 1 << qint64(20) << Adds{{0, "A"}, {100, "B"}}
        << Pieces{{0, "A"}, {100, "B"}};
    QTest::newRow("empty reply sends nothing") << qint64(0) << 1 << qint64(20)
                                               << Adds{{0, ""}} << Pieces{};
}

void TstProjector::scheduler()
{
    QFETCH(qint64, delayMs);
    QFETCH(int, split);
    QFETCH(qint64, gapMs);
    QFETCH(Adds, adds);
    QFETCH(Pieces, pieces);

    ReplyScheduler s(delayMs, static_cast<std::size_t>(split), gapMs);
    for (const Add &a : adds)
        s.add(str(a.reply), a.atMs);
    Pieces got;
    while (const auto due = s.nextDueMs()) {
        const auto taken = s.takeDue(*due);
        QVERIFY(!taken.empty());
        for (const auto &p : taken) {
            QCOMPARE(p.dueMs, *due);
            got << Piece{p.dueMs, bytes(p.bytes)};
        }
    }
    QCOMPARE(got, pieces);
    QVERIFY(s.empty());
}

void TstProjector::schedulerNothingEarly()
{
    ReplyScheduler s(100, 1, 20);
    s.add("00\r", 0);
    QVERIFY(s.takeDue(99).empty());
    const auto first = s.takeDue(100);
    QCOMPARE(first.size(), std::size_t(1));
    QCOMPARE(bytes(first[0].bytes), QByteArray("0"));
    QVERIFY(s.takeDue(119).empty());
    QCOMPARE(s.nextDueMs(), std::optional<int64_t>(120));
}

void TstProjector::schedulerLateKeepsGap()
{
    // A piece taken late pushes the rest back, so the line never sees two
    // pieces closer than the gap.
    ReplyScheduler s(0, 1, 20);
    s.add("00\r", 0);
    QCOMPARE(s.takeDue(0).size(), std::size_t(1));
    const auto late = s.takeDue(1000);
    QCOMPARE(late.size(), std::size_t(1));
    QCOMPARE(bytes(late[0].bytes), QByteArray("0"));
    QCOMPARE(s.nextDueMs(), std::optional<int64_t>(1020));
    QVERIFY(s.takeDue(1019).empty());
    QCOMPARE(bytes(s.takeDue(1020).at(0).bytes), QByteArray("\r"));
    // The next reply queues a gap after the moved last piece.
    s.add("?", 1025);
    QCOMPARE(s.nextDueMs(), std::optional<int64_t>(1040));

    // Unsplit replies taken late all go at once, in order.
    ReplyScheduler u(100, 0, 20);
    u.add("A\r", 0);
    u.add("B\r", 10);
    const auto both = u.takeDue(1000);
    QCOMPARE(both.size(), std::size_t(2));
    QCOMPARE(bytes(both[0].bytes), QByteArray("A\r"));
    QCOMPARE(bytes(both[1].bytes), QByteArray("B\r"));
}

void TstProjector::schedulerClear()
{
    ReplyScheduler s(0, 1, 1000);
    s.add("ABC", 0);
    s.clear();
    QVERIFY(s.empty());
    // After a clear nothing is left to wait for.
    s.add("D", 5);
    QCOMPARE(s.nextDueMs(), std::optional<int64_t>(5));
}

// ---------------------------------------------------------------------------
// Noise

void TstProjector::garbage_data()
{
    QTest::addColumn<quint64>("seed");
    QTest::newRow("0") << quint64(0);
    QTest::newRow("1") << quint64(1);
    QTest::newRow("42") << quint64(42);
    QTest::newRow("max") << ~quint64(0);
}

void TstProjector::garbage()
{
    QFETCH(quint64, seed);
    Noise noise(seed);
    std::set<std::size_t> lengths;
    bool sawNul = false;
    for (int i = 0; i < 2000; ++i) {
        const QByteArray g = bytes(noise.garbage());
        QVERIFY(g.size() >= int(Noise::kMinGarbage) + 1);
        QVERIFY(g.size() <= int(Noise::kMaxGarbage) + 1);
        QCOMPARE(g.back(), '\r');
        QCOMPARE(g.count('\r'), 1);
        bool control = false, high = false;
        for (const char ch : g.chopped(1)) {
            const auto c = static_cast<unsigned char>(ch);
            QVERIFY2(c < 0x20 || c >= 0x7F, qPrintable(g.toHex(' ')));
            control = control || c < 0x20 || c == 0x7F;
            high = high || c >= 0x80;
            sawNul = sawNul || c == 0;
        }
        QVERIFY2(control && high, qPrintable(g.toHex(' ')));
        lengths.insert(static_cast<std::size_t>(g.size()));
    }
    QVERIFY(sawNul);
    // The length varies over the whole range.
    QCOMPARE(*lengths.begin(), Noise::kMinGarbage + 1);
    QCOMPARE(*lengths.rbegin(), Noise::kMaxGarbage + 1);
}

void TstProjector::garbageReproducible()
{
    Noise a(7), b(7), c(8);
    std::string sa, sb, sc;
    for (int i = 0; i < 20; ++i) {
        sa += a.garbage();
        sb += b.garbage();
        sc += c.garbage();
    }
    QCOMPARE(bytes(sa), bytes(sb));
    QVERIFY(sa != sc);
}

void TstProjector::floodStream_data()
{
    QTest::addColumn<quint64>("seed");
    QTest::newRow("0") << quint64(0);
    QTest::newRow("5") << quint64(5);
    QTest::newRow("max") << ~quint64(0);
}

void TstProjector::floodStream()
{
    QFETCH(quint64, seed);
    const QByteArray whole = bytes(Noise(seed).flood(20000));
    QCOMPARE(whole.size(), 20000);
    QVERIFY(whole.count('\r') > 0);
    int run = 0;
    for (const char c : whole) {
        if (c == '\r') {
            QVERIFY2(run >= 1, "empty line in the flood");
            run = 0;
        } else {
            QVERIFY(c >= '0' && c <= '9');
            ++run;
            QVERIFY(run <= int(Noise::kMaxFloodDigits));
        }
    }
    // Chunking does not change the stream.
    Noise chunked(seed);
    QByteArray pieces;
    for (std::size_t n = 0; pieces.size() < whole.size(); n = (n % 37) + 1)
        pieces += bytes(chunked.flood(std::min<std::size_t>(n, std::size_t(whole.size() - pieces.size()))));
    QCOMPARE(pieces, whole);
}

QTEST_APPLESS_MAIN(TstProjector)
#include "tst_projector.moc"
