// End-to-end tests for the orva-sim binary: start it, open the pseudo-terminal it
// prints with QSerialPort and talk to it as the panel does. Timeouts are upper limits
// for slow machines only; where timing matters the simulator's own --log timestamps
// are checked, not the wall clock.

#include <QtTest>

#include <QProcess>
#include <QSerialPort>
#include <QTcpSocket>

#include <signal.h>

#ifndef ORVA_SIM_PATH
#error "ORVA_SIM_PATH must name the orva-sim binary"
#endif

namespace {

constexpr int kTimeoutMs = 10000;
const QByteArray kAck("\x06", 1);

// One simulator process plus a serial port on its pseudo-terminal.
struct Session
{
    QProcess process;
    QSerialPort port;
    QByteArray received, log;

    Session()
    {
        QObject::connect(&port, &QSerialPort::readyRead, &port, [this] { received += port.readAll(); });
        QObject::connect(&process, &QProcess::readyReadStandardError, &process,
                         [this] { log += process.readAllStandardError(); });
    }
    ~Session()
    {
        if (port.isOpen())
            port.close();
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            if (!process.waitForFinished(5000))
                process.kill();
            process.waitForFinished(5000);
        }
    }

    // Starts the simulator and opens the line it names; returns what went wrong, if anything.
    QString start(const QStringList &args)
    {
        process.start(QStringLiteral(ORVA_SIM_PATH), args);
        [[maybe_unused]] const bool ready = QTest::qWaitFor(
            [this] { return process.canReadLine() || process.state() == QProcess::NotRunning; }, kTimeoutMs);
        if (!process.canReadLine())
            return QStringLiteral("no path on stdout: ") + QString::fromLocal8Bit(log);
        port.setPortName(QString::fromLocal8Bit(process.readLine()).trimmed());
        return open();
    }
    QString open()
    {
        if (!port.open(QIODevice::ReadWrite) || !port.setBaudRate(QSerialPort::Baud19200))
            return port.portName() + QStringLiteral(": ") + port.errorString();
        return {};
    }

    // Sends a command and returns the whole reply (an ACK, or text up to CR), or what
    // arrived before the timeout.
    QByteArray ask(const QByteArray &command)
    {
        received.clear();
        port.write(command);
        [[maybe_unused]] const bool complete = QTest::qWaitFor(
            [this] { return received == kAck || received.endsWith('\r'); }, kTimeoutMs);
        return std::exchange(received, {});
    }

    // The --log lines of one kind ("<ms> RX <code>", "<ms> TX <hex bytes>"): times, texts.
    std::pair<QList<qint64>, QByteArrayList> logged(const QByteArray &kind) const
    {
        std::pair<QList<qint64>, QByteArrayList> out;
        for (const QByteArray &line : log.split('\n')) {
            if (const QByteArrayList f = line.split(' '); f.size() >= 3 && f[1] == kind)
                out.first << f[0].toLongLong(), out.second << line.mid(f[0].size() + f[1].size() + 2);
        }
        return out;
    }
};

} // namespace

class TstOrvaSim : public QObject
{
    Q_OBJECT

private slots:
    // Options and the CR framing of the line (LF ignored and not counted, lines over 64
    // bytes dropped with their tail).
    void exchanges_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("reply");
        const QByteArray a32(32, 'A');
        QTest::newRow("power on") << QStringList{} << QByteArray("C00\r") << kAck;
        QTest::newRow("empty line") << QStringList{} << QByteArray("\r") << QByteArray("?\r");
        QTest::newRow("standby") << QStringList{} << QByteArray("CR0\r") << QByteArray("80\r");
        QTest::newRow("--on") << QStringList{"--on"} << QByteArray("CR0\r") << QByteArray("00\r");
        QTest::newRow("--lamp-hours") << QStringList{"--lamp-hours", "42"} << QByteArray("CR3\r") << QByteArray("00042\r");
        QTest::newRow("--lamp-hours=") << QStringList{"--lamp-hours=98765"} << QByteArray("CR3\r") << QByteArray("98765\r");
        QTest::newRow("--pressure") << QStringList{"--pressure", "1013"} << QByteArray("CR PRESSURE\r") << QByteArray("1013\r");
        QTest::newRow("LF ignored") << QStringList{} << QByteArray("\nCR\n4\r\n") << QByteArray("11\r");
        QTest::newRow("NUL kept") << QStringList{} << QByteArray("C0\0" "0\r", 5) << QByteArray("?\r");
        QTest::newRow("64 bytes and an LF answered") << QStringList{} << a32 + "\n" + a32 + "\r" << QByteArray("?\r");
        QTest::newRow("65-byte line dropped") << QStringList{} << a32 + a32 + "AC00\rCR7\r" << QByteArray("03\r");
        QTest::newRow("two commands in one write") << QStringList{"--on"} << QByteArray("C0D\rCRA\r") << kAck + "01\r";
    }

    void exchanges()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, reply);
        Session s;
        QCOMPARE(s.start(args), QString());
        s.port.write(command);
        QTRY_COMPARE_WITH_TIMEOUT(s.received, reply, kTimeoutMs);
    }

    // --countdown-ms: counting down survives the panel closing and reopening the port, and
    // a short count down ends on its own.
    void countDown()
    {
        Session s;
        QCOMPARE(s.start({"--countdown-ms", "600000"}), QString());
        QCOMPARE(s.ask("C06\r"), kAck);
        QCOMPARE(s.ask("C00\r"), kAck);
        for (int i = 0; i < 2; ++i) {
            s.port.close();
            QCOMPARE(s.open(), QString());
            QCOMPARE(s.ask("CR0\r"), QByteArray("40\r"));
            QCOMPARE(s.ask("CR1\r"), QByteArray("2\r"));
        }
        Session t;
        QCOMPARE(t.start({"--countdown-ms", "200"}), QString());
        QCOMPARE(t.ask("C00\r"), kAck);
        QTRY_COMPARE_WITH_TIMEOUT(t.ask("CR0\r"), QByteArray("00\r"), 30000);
    }

    void silent()
    {
        Session s;
        QCOMPARE(s.start({"--silent", "--log"}), QString());
        s.port.write("CR0\rC00\rXYZ\r");
        QTRY_COMPARE_WITH_TIMEOUT(s.logged("RX").second, (QByteArrayList{"CR0", "C00", "XYZ"}), kTimeoutMs);
        QTest::qWait(500);
        QCOMPARE(s.received, QByteArray());
        QCOMPARE(s.logged("TX").second, QByteArrayList());
    }

    // The reply starts at least the delay after its command and goes a byte at a time,
    // at least the gap apart.
    void delayAndSplit()
    {
        Session s;
        QCOMPARE(s.start({"--delay-ms", "300", "--split", "1", "--split-gap-ms", "20", "--log"}), QString());
        s.port.write("CR0\r");
        QTRY_COMPARE_WITH_TIMEOUT(s.received, QByteArray("80\r"), kTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(s.logged("TX").second, (QByteArrayList{"38", "30", "0D"}), kTimeoutMs);
        const QList<qint64> rx = s.logged("RX").first, tx = s.logged("TX").first;
        QCOMPARE(rx.size(), 1);
        QVERIFY2(tx[0] - rx[0] >= 300, qPrintable(QStringLiteral("sent after %1 ms").arg(tx[0] - rx[0])));
        QVERIFY(tx[1] - tx[0] >= 20 && tx[2] - tx[1] >= 20);
    }

    // One line of junk per command (its bytes are checked in tst_projector); the same
    // --seed gives the same bytes.
    void garbage()
    {
        QByteArrayList runs;
        for (int i = 0; i < 2; ++i) {
            Session s;
            QCOMPARE(s.start({"--garbage", "--seed", "3"}), QString());
            s.port.write("CR0\rC00\r");
            QTRY_COMPARE_WITH_TIMEOUT(s.received.count('\r'), 2, kTimeoutMs);
            runs << s.received;
        }
        QVERIFY(runs[0].endsWith('\r') && !runs[0].startsWith("80\r"));
        QCOMPARE(runs[1].toHex(' '), runs[0].toHex(' '));
    }

    // Digit lines come unasked.
    void flood()
    {
        Session s;
        QCOMPARE(s.start({"--flood", "--baud", "19200"}), QString());
        QTRY_VERIFY_WITH_TIMEOUT(s.received.count('\r') >= 3, kTimeoutMs);
        for (const char c : s.received)
            QVERIFY2((c >= '0' && c <= '9') || c == '\r', s.received.toHex(' ').constData());
    }

    // The simulator ends cleanly on each of these, even while a panel has the port open.
    void exits_data()
    {
        QTest::addColumn<int>("sig");  // 0: stdin closed
        QTest::newRow("stdin closed") << 0;
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
    }

    void exits()
    {
        QFETCH(int, sig);
        Session s;
        QCOMPARE(s.start({"--exit-on-stdin-eof"}), QString());
        QCOMPARE(s.ask("CR0\r"), QByteArray("80\r"));
        if (sig == 0)
            s.process.closeWriteChannel();
        else
            QCOMPARE(::kill(pid_t(s.process.processId()), sig), 0);
        QVERIFY(s.process.waitForFinished(kTimeoutMs));
        QCOMPARE(s.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(s.process.exitCode(), 0);
    }

    // --tcp 0: a free port on 127.0.0.1, named on stdout; a client that leaves leaves it
    // listening for the next.
    void tcp()
    {
        Session s;
        s.process.start(QStringLiteral(ORVA_SIM_PATH), {"--tcp", "0"});
        QVERIFY(QTest::qWaitFor([&s] { return s.process.canReadLine(); }, kTimeoutMs));
        const QString url = QString::fromLocal8Bit(s.process.readLine()).trimmed();
        const QString prefix = QStringLiteral("tcp://127.0.0.1:");
        QVERIFY2(url.startsWith(prefix), qPrintable(url));
        const quint16 port = url.mid(prefix.size()).toUShort();
        QVERIFY(port != 0);
        for (int client = 0; client < 2; ++client) {
            QTcpSocket socket;
            socket.connectToHost(QStringLiteral("127.0.0.1"), port);
            QVERIFY(socket.waitForConnected(kTimeoutMs));
            socket.write("CR0\r");
            QByteArray reply;
            QVERIFY(QTest::qWaitFor([&] { return (reply += socket.readAll()).endsWith('\r'); }, kTimeoutMs));
            QCOMPARE(reply, QByteArray("80\r"));
        }
    }

    void badOption()
    {
        QProcess p;
        p.start(QStringLiteral(ORVA_SIM_PATH), {"--no-such-option"});
        QVERIFY(p.waitForFinished(kTimeoutMs));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QVERIFY(p.exitCode() != 0);
        QCOMPARE(p.readAllStandardOutput(), QByteArray());
    }
};

QTEST_GUILESS_MAIN(TstOrvaSim)
#include "tst_orvasim.moc"
