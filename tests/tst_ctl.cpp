// orva-ctl against orva-sim on a pseudo-terminal: the names and their codes, what a
// command sends, prints and exits with, the port from the environment, the log file.

#include "ExpectedOneShots.h"
#include "ExpectedRepeatKeys.h"
#include "SimulatorProcess.h"
#include "TestSupport.h"

#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>


namespace {

// The command-line names, written out by hand: name -> the control whose button sends it.
constexpr std::pair<const char *, const char *> kNames[] = {
    {"power-on", "Command17"}, {"power-off", "Command18"}, {"input-pc1", "Command27"}, {"input-pc2", "Command28"},
    {"input-video", "Command29"}, {"sound-mute-on", "Command19"}, {"sound-mute-off", "Command20"}, {"no-show-on", "Command21"},
    {"no-show-off", "Command22"}, {"freeze-on", "Command25"}, {"freeze-off", "Command26"}, {"menu-on", "Command23"},
    {"menu-off", "Command24"}, {"av-size-regular", "Command31"}, {"av-size-wide", "Command32"}, {"cursor-up", "Command5"},
    {"cursor-down", "Command7"}, {"cursor-left", "Command9"}, {"cursor-right", "Command8"}, {"select", "Command6"},
    {"volume-up", "Command1"}, {"volume-down", "Command2"}, {"brightness-up", "Command15"}, {"brightness-down", "Command35"},
    {"digital-zoom-up", "Command48"}, {"digital-zoom-down", "Command49"}, {"keystone-up", "Command50"}, {"keystone-down", "Command51"},
    {"key-lock-none", "Command56"}, {"key-lock-rc", "Command57"}, {"key-lock-key", "Command58"}, {"picture-mode-stand", "Command4"},
    {"picture-mode-real", "Command10"}, {"picture-mode-cinema", "Command11"}, {"picture-mode-image1", "Command39"},
    {"picture-mode-image2", "Command40"}, {"picture-mode-image3", "Command41"}, {"picture-mode-image4", "Command42"},
    {"picture-mode-bboard", "Command12"}, {"picture-mode-dynamic", "Command36"}, {"input-signal-wired", "Command37"},
    {"input-signal-wireless", "Command38"}, {"input-signal-viewer", "Command43"}, {"status", "Command44"}, {"mode", "Command45"},
    {"lamp-time", "Command46"}, {"setting", "Command47"}, {"temperature", "Command54"}, {"pc1-rgb", "Command64"},
    {"pc1-dvi-digital", "Command65"}, {"pc1-dvi-hdcp", "Command66"}, {"pc2-rgb", "Command72"}, {"pc2-component", "Command74"},
    {"pc2-scart", "Command73"}, {"terminal-in", "Command53"}, {"terminal-out", "Command76"}, {"video-auto", "Command81"},
    {"video-video", "Command82"}, {"video-s-video", "Command69"}, {"fan-speed-max", "Command97"}, {"fan-speed-normal", "Command98"},
    {"logo-capture", "Command60"}, {"logo-off", "Command61"}, {"logo-default", "Command63"}, {"logo-user", "Command67"},
    {"a-image", "Command13"}, {"image", "Command30"}, {"p-timer", "Command14"}, {"display-clear", "Command3"},
};

struct Run {
    int status = -1;
    QString out, err;
};

Run ctl(const QStringList &args, const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(ORVA_CTL_PATH), args);
    if (!p.waitForFinished(20000))
        p.kill();
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

} // namespace

class TstCtl : public QObject {
    Q_OBJECT
private slots:
    void listShowsEveryNameWithItsCode()
    {
        const Run list = ctl({QStringLiteral("list")});
        QCOMPARE(list.status, 0);
        QStringList listed = list.out.split(u'\n', Qt::SkipEmptyParts), expected;
        QHash<QByteArray, QByteArray> codes;
        for (const OneShotRow &r : kExpectedOneShots)
            codes[r.control] = r.code;
        for (const KeyRow &r : kKeys)
            codes[r.control] = r.code;
        for (const auto &[name, control] : kNames)
            expected << QStringLiteral("%1 %2").arg(QLatin1String(name), -24).arg(QLatin1String(codes.value(control)));
        listed.sort();
        expected.sort();
        QCOMPARE(listed, expected);
    }

    void commands_data()
    {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");  // a part of stderr; empty: nothing there
        QTest::addColumn<QStringList>("heard");
        using L = QStringList;
        QTest::newRow("one-shot") << L{} << L{"power-on"} << 0 << "" << "" << L{"C00"};
        QTest::newRow("repeat key, one tap") << L{} << L{"volume-up"} << 0 << "" << "" << L{"C09"};
        QTest::newRow("9600 baud") << L{"--on", "--baud", "9600"} << L{"--speed", "9600", "status"} << 0 << "Power ON\n" << "" << L{"CR0"};
        QTest::newRow("raw unknown") << L{} << L{"send", "XYZ"} << 1 << "? CR\n" << "" << L{"XYZ"};
        QTest::newRow("json refused") << L{} << L{"--json", "send", "A\"B"} << 1
            << "{\"command\":\"send\",\"ok\":false,\"reply\":\"?\\r\",\"sent\":\"A\\\"B\\r\",\"status\":null}\n"
            << "" << L{"A\"B"};
        QTest::newRow("missing device") << L{} << L{"--port", "/dev/orva-none", "status"} << 3 << ""
                                        << "orva-ctl: No such file or directory: /dev/orva-none\n" << L{};
        QTest::newRow("wait times out") << L{} << L{"--wait", "Power ON", "--timeout", "700", "status"} << 4 << "Stand by\n"
                                        << "orva-ctl: --wait: the status is \"Stand by\", not \"Power ON\", after 700 ms\n" << L{"CR0"};
        QTest::newRow("wait across the count down") << L{"--countdown-ms", "1900"}
            << L{"power-on", "--wait", "Power ON", "--timeout", "9000"} << 0 << "Power ON\n" << "" << L{"C00", "CR0", "CR0"};
        // A text for send: one line end at its end is dropped; any other character
        // outside printable ASCII is refused before anything is sent.
        const QString refused = QStringLiteral("orva-ctl: send: the text holds %1; the projector's commands are printable "
                                               "ASCII (a blank to ~), and nothing was sent\n\nUsage: ");
        QTest::newRow("send, CR inside") << L{} << L{"send", "CR0\rC00"} << 64 << "" << refused.arg("CR (U+000D) at position 4") << L{};
        QTest::newRow("send, two line ends") << L{} << L{"send", "C00\n\n"} << 64 << "" << refused.arg("LF (U+000A) at position 4") << L{};
        QTest::newRow("send, a line end alone") << L{} << L{"send", "\n"} << 64 << "" << "orva-ctl: send takes one command text" << L{};
        QTest::newRow("send, one CR at the end") << L{} << L{"send", "CR0\r"} << 0 << "Stand by\n" << "" << L{"CR0"};
        QTest::newRow("send, one LF at the end") << L{"--on"} << L{"send", "CR0\n"} << 0 << "Power ON\n" << "" << L{"CR0"};
        // A log that cannot be written: the command goes on, the exit status says so.
        QTest::newRow("log on a full disk") << L{"--on"} << L{"--log", "/dev/full", "status"} << 3 << "Power ON\n"
            << "orva-ctl: Writing the log file /dev/full failed (No space left on device); nothing more is logged.\n" << L{"CR0"};
        // --timeout is the longest wait for the reply; without it the reply window decides.
        QTest::newRow("late reply, reply window") << L{"--delay-ms", "1200"} << L{"status"} << 2 << ""
            << "orva-ctl: no reply from the projector within the reply window\n" << L{"CR0"};
        QTest::newRow("late reply, --timeout") << L{"--delay-ms", "1200"} << L{"--timeout", "8000", "status"} << 0 << "Stand by\n"
            << "" << L{"CR0"};
        QTest::newRow("silent, --timeout") << L{"--silent"} << L{"--timeout", "900", "status"} << 2 << ""
            << "orva-ctl: no reply from the projector within 900 ms\n" << L{"CR0"};
        // The status queries: the value as a person reads it, and with --json the typed fields.
        QTest::newRow("json power, lamp failed") << L{"--state", "lamp-fail-standby"} << L{"--json", "status"} << 0
            << "{\"command\":\"status\",\"faults\":{\"allLampsFailed\":true,\"powerFailure\":false,\"temperatureWarning\":false},"
               "\"ok\":true,\"power\":\"fault\",\"reply\":\"81\\r\",\"sent\":\"CR0\\r\",\"status\":\"Cooling down & sutandby (All Lamp FAIL)\"}\n"
            << "" << L{"CR0"};
        QTest::newRow("lamp time") << L{"--lamp-hours", "4321"} << L{"lamp-time"} << 0 << "4321 hours\n" << "" << L{"CR3"};
        QTest::newRow("json lamp time") << L{"--lamp-hours", "4321"} << L{"--json", "lamp-time"} << 0
            << "{\"command\":\"lamp-time\",\"hours\":4321,\"ok\":true,\"reply\":\"04321\\r\",\"sent\":\"CR3\\r\",\"status\":\"0 4 3 2 1 CR  Hour Use\"}\n"
            << "" << L{"CR3"};
        QTest::newRow("temperatures") << L{} << L{"temperature"} << 0 << "S1 32.5 \u00b0C, S2 41.0 \u00b0C, S3 38.5 \u00b0C\n" << "" << L{"CR6"};
        QTest::newRow("json temperatures") << L{} << L{"--json", "temperature"} << 0
            << "{\"command\":\"temperature\",\"ok\":true,\"reply\":\"032.5  41.0 038.5\\r\",\"sent\":\"CR6\\r\","
               "\"status\":\"S1= 0 3 2 . 5 C  ,   S2=  4 1 . 0 C , S3= 0 3 8 . 5 C\",\"temperatures\":{\"S1\":32.5,\"S2\":41,\"S3\":38.5}}\n"
            << "" << L{"CR6"};
        QTest::newRow("pressure") << L{} << L{"send", "CR PRESSURE"} << 0 << "650 hPa\n" << "" << L{"CR PRESSURE"};
        QTest::newRow("json mutes in standby") << L{} << L{"--json", "send", "CRA"} << 0
            << "{\"command\":\"send\",\"mute\":{\"picture\":false,\"settable\":false,\"sound\":false},\"ok\":true,\"reply\":\"FF\\r\","
               "\"sent\":\"CRA\\r\",\"status\":\"Stand by\"}\n" << "" << L{"CRA"};
        QTest::newRow("json lamps") << L{} << L{"--json", "send", "CR7"} << 0
            << "{\"command\":\"send\",\"lamps\":{\"on\":[1,2],\"used\":[1,2]},\"ok\":true,\"reply\":\"03\\r\",\"sent\":\"CR7\\r\","
               "\"status\":\"No1,2 ON  : 2 Lamp mode\"}\n" << "" << L{"CR7"};
        // orva-ctl's advice names its own options.
        QTest::newRow("not a serial port") << L{} << L{"--port", "/dev/null", "status"} << 3 << ""
            << "orva-ctl: Inappropriate ioctl for device: /dev/null\n/dev/null is not a serial port. Run orva-ctl with "
               "--port DEVICE (or set ORVA_PORT=DEVICE) naming the serial port the projector is connected to "
               "(e.g. --port /dev/ttyUSB0).\n" << L{};
        // Usage errors: the reason, then the usage.
        QTest::newRow("unknown name") << L{} << L{"power-onn"} << 64 << "" << "orva-ctl: unknown command 'power-onn'" << L{};
        QTest::newRow("no command") << L{} << L{} << 64 << "" << "orva-ctl: no command given\n\nUsage: " << L{};
    }
    void commands()
    {
        QFETCH(QStringList, simArgs);
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QFETCH(QStringList, heard);
        SimulatorProcess sim(simArgs);
        const Run r = ctl(QStringList{"--port", sim.path} + args);
        QCOMPARE(r.out, out);
        QCOMPARE(r.status, status);
        QVERIFY2(err.isEmpty() ? r.err.isEmpty() : r.err.startsWith(err), qPrintable(r.err));
        QTRY_COMPARE_WITH_TIMEOUT(sim.heard(), heard, 5000);
    }

    // The device sees one open and one close (the panel's start-up opens twice).
    void opensThePortOnce()
    {
        SimulatorProcess sim({QStringLiteral("--on")});
        const OpenWatch watch(sim.path);
        QCOMPARE(ctl({QStringLiteral("--port"), sim.path, QStringLiteral("status")}).out, QStringLiteral("Power ON\n"));
        QCOMPARE(watch.seen(), QStringLiteral("open close"));
    }

    // Over tcp:// a run makes one connection; a refused one names orva-ctl's options.
    void oneConnectionPerRun()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        int connections = 0;
        QByteArray heard;
        QObject::connect(&server, &QTcpServer::newConnection, [&] {
            ++connections;
            QTcpSocket *client = server.nextPendingConnection();
            QObject::connect(client, &QTcpSocket::readyRead, client, [client, &heard] {
                heard += client->readAll();
                if (heard.endsWith('\r'))
                    client->write("00\r");
            });
        });
        const QString path = QStringLiteral("tcp://127.0.0.1:%1").arg(server.serverPort());
        QProcess p;
        p.start(QStringLiteral(ORVA_CTL_PATH), {QStringLiteral("--port"), path, QStringLiteral("status")});
        QTRY_COMPARE_WITH_TIMEOUT(p.state(), QProcess::NotRunning, 20000);
        QCOMPARE(QString::fromUtf8(p.readAllStandardOutput()), QStringLiteral("Power ON\n"));
        QCOMPARE(connections, 1);
        QCOMPARE(heard, QByteArray("CR0\r"));

        const quint16 port = server.serverPort();
        server.close();
        const QString refused = QStringLiteral("tcp://127.0.0.1:%1").arg(port);
        const Run r = ctl({QStringLiteral("--port"), refused, QStringLiteral("status")});
        QCOMPARE(r.status, 3);
        QCOMPARE(r.err, QStringLiteral("orva-ctl: Connection refused: %1\nNothing accepts connections on port %2 of 127.0.0.1. "
                                       "Check that the serial device server is switched on and that its raw TCP port is %2 "
                                       "(else name the right one with --port), then run the command again.\n")
                            .arg(refused).arg(port));
    }

    // $ORVA_PORT names the device when --port does not; --log appends the exchange, a timestamped line each,
    // and a log that cannot be opened stops before the port.
    void portFromEnvironmentAndLog()
    {
        SimulatorProcess sim({QStringLiteral("--on")});
        const QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("orva.log"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("ORVA_PORT"), sim.path);
        QCOMPARE(ctl({QStringLiteral("--log"), path, QStringLiteral("status")}, env).out, QStringLiteral("Power ON\n"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        static const QRegularExpression stamp(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3} "),
                                              QRegularExpression::MultilineOption);
        QCOMPARE(QString::fromUtf8(file.readAll()).remove(stamp), QStringLiteral("TX CR0<CR>\nRX 00<CR>\nSTATUS Power ON\n"));
        const Run r = ctl({QStringLiteral("--log"), dir.filePath(QStringLiteral("no/x.log")), QStringLiteral("status")}, env);
        QCOMPARE(r.status, 3);
        QVERIFY2(r.err.startsWith(QLatin1String("orva-ctl: cannot open the log file")), qPrintable(r.err));
        QTRY_COMPARE_WITH_TIMEOUT(sim.heard(), QStringList{"CR0"}, 5000);
    }
};

QTEST_GUILESS_MAIN(TstCtl)
#include "tst_ctl.moc"
