// End-to-end tests for the orva-sim binary: start it, open the pseudo-terminal
// it prints with QSerialPort, and talk to it the way the panel does.
//
// Timeouts here are upper limits for slow machines only; no test depends on
// how fast anything happens. Where timing matters (--delay-ms, --split), the
// simulator's own --log timestamps are checked instead of the wall clock.

#include <QtTest>

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSerialPort>

#include <signal.h>
#include <memory>

#ifndef ORVA_SIM_PATH
#error "ORVA_SIM_PATH must name the orva-sim binary"
#endif

namespace {

constexpr int kStartTimeoutMs = 15000;
constexpr int kReplyTimeoutMs = 10000;
const QByteArray kAck("\x06", 1);

QString simPath()
{
    return QString::fromUtf8(ORVA_SIM_PATH);
}

struct LogLine
{
    qint64 ms;
    QByteArray kind; // "RX" or "TX"
    QByteArray text;
};

// One simulator process plus a serial port on its pseudo-terminal.
class Session
{
public:
    Session() = default;
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    ~Session()
    {
        if (port.isOpen())
            port.close();
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            if (!process.waitForFinished(5000)) {
                process.kill();
                process.waitForFinished(5000);
            }
        }
    }

    // Returns an empty string on success, otherwise what went wrong.
    QString start(const QStringList &args)
    {
        QObject::connect(&process, &QProcess::readyReadStandardError, &process,
                         [this] { log += process.readAllStandardError(); });
        process.start(simPath(), args);
        if (!process.waitForStarted(kStartTimeoutMs))
            return QStringLiteral("cannot start %1: %2").arg(simPath(), process.errorString());
        QDeadlineTimer deadline(kStartTimeoutMs);
        while (!process.canReadLine()) {
            if (process.state() == QProcess::NotRunning)
                return QStringLiteral("simulator exited early: %1")
                    .arg(QString::fromLocal8Bit(log + process.readAllStandardError()));
            if (deadline.hasExpired())
                return QStringLiteral("no path on stdout");
            process.waitForReadyRead(100);
        }
        path = QString::fromLocal8Bit(process.readLine()).trimmed();
        if (path.isEmpty())
            return QStringLiteral("empty first line on stdout");
        return {};
    }

    QString openPort()
    {
        port.setPortName(path);
        if (!port.open(QIODevice::ReadWrite))
            return QStringLiteral("cannot open %1: %2").arg(path, port.errorString());
        if (!port.setBaudRate(QSerialPort::Baud19200) || !port.setDataBits(QSerialPort::Data8)
            || !port.setParity(QSerialPort::NoParity) || !port.setStopBits(QSerialPort::OneStop)
            || !port.setFlowControl(QSerialPort::NoFlowControl))
            return QStringLiteral("cannot set 19200 8N1 on %1: %2").arg(path, port.errorString());
        if (!readConnected) {
            QObject::connect(&port, &QSerialPort::readyRead, &port, [this] {
                const QByteArray chunk = port.readAll();
                if (!chunk.isEmpty()) {
                    received += chunk;
                    chunks << chunk;
                }
            });
            readConnected = true;
        }
        return {};
    }

    QString startAndOpen(const QStringList &args)
    {
        QString err = start(args);
        if (err.isEmpty())
            err = openPort();
        return err;
    }

    bool send(const QByteArray &bytes)
    {
        return port.write(bytes) == bytes.size();
    }

    // Sends a command and returns the complete reply (an ACK byte, or text
    // up to CR), or whatever arrived before the timeout.
    QByteArray ask(const QByteArray &command)
    {
        received.clear();
        chunks.clear();
        if (!send(command))
            return {};
        // On timeout the caller's comparison shows what did arrive.
        [[maybe_unused]] const bool complete = QTest::qWaitFor(
            [this] { return received == kAck || received.endsWith('\r'); }, kReplyTimeoutMs);
        const QByteArray reply = received;
        received.clear();
        return reply;
    }

    QList<LogLine> logLines() const
    {
        static const QRegularExpression re(QStringLiteral("^(\\d+) (RX|TX) (.*)$"));
        QList<LogLine> out;
        for (const QByteArray &l : log.split('\n')) {
            const auto m = re.match(QString::fromLatin1(l));
            if (m.hasMatch())
                out << LogLine{m.captured(1).toLongLong(), m.captured(2).toLatin1(),
                               m.captured(3).toLatin1()};
        }
        return out;
    }

    QByteArrayList logged(const QByteArray &kind) const
    {
        QByteArrayList out;
        for (const LogLine &l : logLines())
            if (l.kind == kind)
                out << l.text;
        return out;
    }

    QProcess process;
    QSerialPort port;
    QString path;
    QByteArray received;
    QByteArrayList chunks;
    QByteArray log;

private:
    bool readConnected = false;
};

} // namespace

class TstOrvaSim : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void exchanges_data();
    void exchanges();
    void countDownStatus();
    void countDownEnds();
    void stateSurvivesReopen();
    void silent();
    void delayed();
    void split();
    void garbage();
    void garbageSeeded();
    void flood();
    void exits_data();
    void exits();
    void badOption();
};

void TstOrvaSim::initTestCase()
{
    QVERIFY2(QFileInfo(simPath()).isExecutable(), qPrintable(simPath()));
}

void TstOrvaSim::exchanges_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("reply");

    QTest::newRow("power on") << QStringList{} << QByteArray("C00\r") << kAck;
    QTest::newRow("unknown") << QStringList{} << QByteArray("XYZ\r") << QByteArray("?\r");
    QTest::newRow("lower case") << QStringList{} << QByteArray("c00\r") << QByteArray("?\r");
    QTest::newRow("empty line") << QStringList{} << QByteArray("\r") << QByteArray("?\r");
    QTest::newRow("standby") << QStringList{} << QByteArray("CR0\r") << QByteArray("80\r");
    QTest::newRow("started on") << QStringList{"--on"} << QByteArray("CR0\r") << QByteArray("00\r");
    QTest::newRow("mute in standby") << QStringList{} << QByteArray("CRA\r") << QByteArray("FF\r");
    QTest::newRow("identification") << QStringList{} << QByteArray("CR9\r")
                                    << QByteArray("TK58R SIM 1.40\r");
    QTest::newRow("temperatures") << QStringList{} << QByteArray("CR6\r")
                                  << QByteArray("032.5  41.0 038.5\r");
    QTest::newRow("lamp hours option") << QStringList{"--lamp-hours", "42"} << QByteArray("CR3\r")
                                       << QByteArray("00042\r");
    QTest::newRow("lamp hours option, = form") << QStringList{"--lamp-hours=98765"}
                                               << QByteArray("CR3\r") << QByteArray("98765\r");
    QTest::newRow("pressure option") << QStringList{"--pressure", "1013"}
                                     << QByteArray("CR PRESSURE\r") << QByteArray("1013\r");
    QTest::newRow("CR LF line end") << QStringList{} << QByteArray("CR4\r\n") << QByteArray("11\r");
    QTest::newRow("after an overlong line")
        << QStringList{} << QByteArray(100, 'A') + "\rCR7\r" << QByteArray("03\r");
    QTest::newRow("two commands in one write")
        << QStringList{"--on"} << QByteArray("C0D\rCRA\r") << kAck + QByteArray("01\r");
}

void TstOrvaSim::exchanges()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, reply);
    Session s;
    const QString err = s.startAndOpen(args);
    QVERIFY2(err.isEmpty(), qPrintable(err));
    QVERIFY(s.send(command));
    QTRY_COMPARE_WITH_TIMEOUT(s.received, reply, kReplyTimeoutMs);
}

void TstOrvaSim::countDownStatus()
{
    // A count down far longer than any test run: the status must be 40.
    Session s;
    const QString err = s.startAndOpen({"--countdown-ms", "600000"});
    QVERIFY2(err.isEmpty(), qPrintable(err));
    QCOMPARE(s.ask("C00\r"), kAck);
    QCOMPARE(s.ask("CR0\r"), QByteArray("40\r"));
    QCOMPARE(s.ask("CR0\r"), QByteArray("40\r"));
}

void TstOrvaSim::countDownEnds()
{
    Session s;
    const QString err = s.startAndOpen({"--countdown-ms", "200"});
    QVERIFY2(err.isEmpty(), qPrintable(err));
    QCOMPARE(s.ask("CR0\r"), QByteArray("80\r"));
    QCOMPARE(s.ask("C00\r"), kAck);
    QByteArrayList seen;
    auto status = [&] {
        seen << s.ask("CR0\r");
        return seen.last();
    };
    QTRY_COMPARE_WITH_TIMEOUT(status(), QByteArray("00\r"), 30000);
    // Counting down until it is on, and never back.
    bool on = false;
    for (const QByteArray &st : seen) {
        if (on)
            QCOMPARE(st, QByteArray("00\r"));
        else if (st != "00\r")
            QCOMPARE(st, QByteArray("40\r"));
        on = on || st == "00\r";
    }
}

void TstOrvaSim::stateSurvivesReopen()
{
    // The panel closing and reopening the port must neither break the line
    // nor reset the projector.
    Session s;
    const QString err = s.startAndOpen({"--countdown-ms", "600000"});
    QVERIFY2(err.isEmpty(), qPrintable(err));
    QCOMPARE(s.ask("C06\r"), kAck);
    QCOMPARE(s.ask("C00\r"), kAck);
    for (int i = 0; i < 3; ++i) {
        s.port.close();
        const QString again = s.openPort();
        QVERIFY2(again.isEmpty(), qPrintable(again));
        QCOMPARE(s.ask("CR0\r"), QByteArray("40\r"));
        QCOMPARE(s.ask("CR1\r"), QByteArray("2\r"));
    }
}

void TstOrvaSim::silent()
{
    Session s;
    const QString err = s.startAndOpen({"--silent", "--log"});
    QVERIFY2(err.isEmpty(), qPrintable(err));
    QVERIFY(s.send("CR0\rC00\rXYZ\r"));
    // The commands did arrive ...
    QTRY_COMPARE_WITH_TIMEOUT(s.logged("RX"), (QByteArrayList{"CR0", "C00", "XYZ"}), kReplyTimeoutMs);
    // ... and nothing comes back.
    QTest::qWait(500);
    QCOMPARE(s.received, QByteArray());
    QCOMPARE(s.logged("TX"), QByteArrayList());
}

void TstOrvaSim::delayed()
{
    Session s;
    const QString err = s.startAndOpen({"--delay-ms", "300", "--log"});
    QVERIFY2(err.isEmpty(), qPrintable(err));
    QVERIFY(s.send("CR0\r"));
    QTRY_COMPARE_WITH_TIMEOUT(s.received, QByteArray("80\r"), kReplyTimeoutMs);
    QTRY_COMPARE_WITH_TIMEOUT(s.logLines().size(), 2, kReplyTimeoutMs);
    const auto lines = s.logLines();
    QCOMPARE(lines[0].kind, QByteArray("RX"));
    QCOMPARE(lines[0].text, QByteArray("CR0"));
    QCOMPARE(lines[1].kind, QByteArray("TX"));
    QCOMPARE(lines[1].text, QByteArray("38 30 0D"));
    QVERIFY2(lines[1].ms - lines[0].ms >= 300,
             qPrintable(QStringLiteral("sent %1 ms after the command").arg(lines[1].ms - lines[0].ms)));
}

void TstOrvaSim::split()
{
    Session s;
    const QString err = s.startAndOpen({"--on", "--split", "1", "--split-gap-ms", "20", "--log"});
    QVERIFY2(err.isEmpty(), qPrintable(err));
    QVERIFY(s.send("CR0\r"));
    QTRY_COMPARE_WITH_TIMEOUT(s.received, QByteArray("00\r"), kReplyTimeoutMs);
    QCOMPARE(s.chunks.join(), QByteArray("00\r"));
    // The simulator wrote it one byte at a time, each at least the gap apart.
    QTRY_COMPARE_WITH_TIMEOUT(s.logged("TX"), (QByteArrayList{"30", "30", "0D"}), kReplyTimeoutMs);
    QList<qint64> times;
    for (const LogLine &l : s.logLines())
        if (l.kind == "TX")
            times << l.ms;
    QVERIFY(times[1] - times[0] >= 20);
    QVERIFY(times[2] - times[1] >= 20);
    qInfo("reply arrived in %lld read(s)", qlonglong(s.chunks.size()));
}

void TstOrvaSim::garbage()
{
    Session s;
    const QString err = s.startAndOpen({"--garbage", "--seed", "3"});
    QVERIFY2(err.isEmpty(), qPrintable(err));
    QVERIFY(s.send("CR0\rC00\r"));
    // One garbage line per command, each ended by CR.
    QTRY_COMPARE_WITH_TIMEOUT(s.received.count('\r'), 2, kReplyTimeoutMs);
    QVERIFY(s.received.endsWith('\r'));
    bool control = false, high = false;
    for (const char ch : s.received) {
        const auto c = static_cast<unsigned char>(ch);
        control = control || (c < 0x20 && c != '\r') || c == 0x7F;
        high = high || c > 0x7F;
    }
    QVERIFY2(control, s.received.toHex(' ').constData());
    QVERIFY2(high, s.received.toHex(' ').constData());
}

void TstOrvaSim::garbageSeeded()
{
    QByteArrayList runs;
    for (int i = 0; i < 2; ++i) {
        Session s;
        const QString err = s.startAndOpen({"--garbage", "--seed", "12345"});
        QVERIFY2(err.isEmpty(), qPrintable(err));
        QVERIFY(s.send("CR0\rCR1\rCR3\r"));
        QTRY_COMPARE_WITH_TIMEOUT(s.received.count('\r'), 3, kReplyTimeoutMs);
        runs << s.received;
    }
    QCOMPARE(runs[1].toHex(' '), runs[0].toHex(' '));
}

void TstOrvaSim::flood()
{
    Session s;
    const QString err = s.startAndOpen({"--flood", "--baud", "19200"});
    QVERIFY2(err.isEmpty(), qPrintable(err));
    // Nothing is sent to it; bytes come anyway.
    QTRY_VERIFY_WITH_TIMEOUT(s.received.count('\r') >= 3, kReplyTimeoutMs);
    for (const char c : s.received)
        QVERIFY2((c >= '0' && c <= '9') || c == '\r', s.received.toHex(' ').constData());
}

void TstOrvaSim::exits_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("stdin closed") << QStringLiteral("stdin");
    QTest::newRow("SIGTERM") << QStringLiteral("SIGTERM");
    QTest::newRow("SIGINT") << QStringLiteral("SIGINT");
}

void TstOrvaSim::exits()
{
    QFETCH(QString, how);
    Session s;
    // A panel has the port open and is talking: that must not keep it alive.
    const QString err = s.startAndOpen({"--exit-on-stdin-eof"});
    QVERIFY2(err.isEmpty(), qPrintable(err));
    QCOMPARE(s.ask("CR0\r"), QByteArray("80\r"));
    if (how == "stdin")
        s.process.closeWriteChannel();
    else
        QCOMPARE(::kill(pid_t(s.process.processId()), how == "SIGTERM" ? SIGTERM : SIGINT), 0);
    QVERIFY(s.process.waitForFinished(kReplyTimeoutMs));
    QCOMPARE(s.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(s.process.exitCode(), 0);
}

void TstOrvaSim::badOption()
{
    QProcess p;
    p.start(simPath(), {"--no-such-option"});
    QVERIFY(p.waitForFinished(kStartTimeoutMs));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QVERIFY(p.exitCode() != 0);
    QCOMPARE(p.readAllStandardOutput(), QByteArray());
}

QTEST_GUILESS_MAIN(TstOrvaSim)
#include "tst_orvasim.moc"
