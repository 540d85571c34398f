// orva-ctl run as a script runs it: the built program against orva-sim on a
// pseudo-terminal. Every named command goes out as its panel button's bytes; the
// status queries print the status line's text and JSON; the exit codes; --wait
// across a warm-up; the port listings of orva-ctl and orva-panel.

#include "ExpectedOneShots.h"
#include "ExpectedRepeatKeys.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

namespace {

// The command-line names, written out by hand: name -> the control whose button sends it.
constexpr std::pair<const char *, const char *> kNames[] = {
    {"power-on", "Command17"}, {"power-off", "Command18"},
    {"input-pc1", "Command27"}, {"input-pc2", "Command28"}, {"input-video", "Command29"},
    {"sound-mute-on", "Command19"}, {"sound-mute-off", "Command20"},
    {"no-show-on", "Command21"}, {"no-show-off", "Command22"},
    {"freeze-on", "Command25"}, {"freeze-off", "Command26"},
    {"menu-on", "Command23"}, {"menu-off", "Command24"},
    {"av-size-regular", "Command31"}, {"av-size-wide", "Command32"},
    {"cursor-up", "Command5"}, {"cursor-down", "Command7"}, {"cursor-left", "Command9"},
    {"cursor-right", "Command8"}, {"select", "Command6"},
    {"volume-up", "Command1"}, {"volume-down", "Command2"},
    {"brightness-up", "Command15"}, {"brightness-down", "Command35"},
    {"digital-zoom-up", "Command48"}, {"digital-zoom-down", "Command49"},
    {"keystone-up", "Command50"}, {"keystone-down", "Command51"},
    {"key-lock-none", "Command56"}, {"key-lock-rc", "Command57"}, {"key-lock-key", "Command58"},
    {"picture-mode-stand", "Command4"}, {"picture-mode-real", "Command10"}, {"picture-mode-cinema", "Command11"},
    {"picture-mode-image1", "Command39"}, {"picture-mode-image2", "Command40"},
    {"picture-mode-image3", "Command41"}, {"picture-mode-image4", "Command42"},
    {"picture-mode-bboard", "Command12"}, {"picture-mode-dynamic", "Command36"},
    {"input-signal-wired", "Command37"}, {"input-signal-wireless", "Command38"}, {"input-signal-viewer", "Command43"},
    {"status", "Command44"}, {"mode", "Command45"}, {"lamp-time", "Command46"},
    {"setting", "Command47"}, {"temperature", "Command54"},
    {"pc1-rgb", "Command64"}, {"pc1-dvi-digital", "Command65"}, {"pc1-dvi-hdcp", "Command66"},
    {"pc2-rgb", "Command72"}, {"pc2-component", "Command74"}, {"pc2-scart", "Command73"},
    {"terminal-in", "Command53"}, {"terminal-out", "Command76"},
    {"video-auto", "Command81"}, {"video-video", "Command82"}, {"video-s-video", "Command69"},
    {"fan-speed-max", "Command97"}, {"fan-speed-normal", "Command98"},
    {"logo-capture", "Command60"}, {"logo-off", "Command61"}, {"logo-default", "Command63"}, {"logo-user", "Command67"},
    {"a-image", "Command13"}, {"image", "Command30"}, {"p-timer", "Command14"}, {"display-clear", "Command3"},
};

// The code a control sends, from the hand-written records of the panel's keys.
QByteArray codeOf(const char *control)
{
    for (const OneShotRow &r : kExpectedOneShots)
        if (qstrcmp(r.control, control) == 0)
            return r.code;
    for (const KeyRow &r : kKeys)
        if (qstrcmp(r.control, control) == 0)
            return r.code;
    return {};
}

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

// orva-sim on a pseudo-terminal, logging what it hears ("<ms> RX <code>").
struct Sim {
    QProcess process;
    QString path;
    explicit Sim(QStringList args)
    {
        process.start(QStringLiteral(ORVA_SIM_PATH), args << QStringLiteral("--log"));
        process.waitForStarted(10000);
        for (int i = 0; i < 100 && path.isEmpty(); ++i) {
            process.waitForReadyRead(100);
            path = QString::fromLocal8Bit(process.readLine()).trimmed();
        }
        process.setReadChannel(QProcess::StandardError);  // the log, from here on
    }
    ~Sim()
    {
        process.terminate();
        process.waitForFinished(5000);
    }
    // The commands heard since the last call.
    QStringList heard()
    {
        process.waitForReadyRead(200);
        QStringList codes;
        for (const QByteArray &l : process.readAllStandardError().split('\n'))
            if (const int rx = l.indexOf(" RX "); rx >= 0)
                codes << QString::fromLatin1(l.mid(rx + 4));
        return codes;
    }
    // The replies sent since the last call, as bytes.
    QByteArray replies()
    {
        process.waitForReadyRead(200);
        QByteArray all;
        for (const QByteArray &l : process.readAllStandardError().split('\n'))
            if (const int tx = l.indexOf(" TX "); tx >= 0)
                all += QByteArray::fromHex(l.mid(tx + 4).replace(' ', ""));
        return all;
    }
    QStringList port() const { return {QStringLiteral("--port"), path}; }
};

} // namespace

class TstCtl : public QObject {
    Q_OBJECT
private slots:
    // list shows every named command with its code, and each goes out as its button's bytes.
    void everyNamedCommandSendsItsButtonsBytes()
    {
        const Run list = ctl({QStringLiteral("list")});
        QCOMPARE(list.status, 0);
        QMap<QString, QString> listed;
        for (const QString &line : list.out.split(u'\n', Qt::SkipEmptyParts)) {
            static const QRegularExpression row(QStringLiteral("^(\\S+)\\s+(\\S.*)$"));
            const auto m = row.match(line);
            QVERIFY2(m.hasMatch(), qPrintable(line));
            listed[m.captured(1)] = m.captured(2);
        }
        QCOMPARE(listed.size(), qsizetype(std::size(kNames)));

        Sim sim({QStringLiteral("--on")});
        QVERIFY(!sim.path.isEmpty());
        for (const auto &[name, control] : kNames) {
            const QByteArray code = codeOf(control);
            QVERIFY2(!code.isEmpty(), control);
            QCOMPARE(listed.value(QString::fromLatin1(name)), QString::fromLatin1(code));
            const Run r = ctl(sim.port() << QStringLiteral("--json") << QString::fromLatin1(name));
            QVERIFY2(r.out.contains(QStringLiteral("\"sent\": \"%1\\u000d\"").arg(QString::fromLatin1(code))),
                     qPrintable(name + (u' ' + r.out + r.err)));
            QCOMPARE(sim.heard(), QStringList{QString::fromLatin1(code)});
        }
    }

    void statusTexts_data()
    {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out");
        QTest::newRow("power on") << QStringList{"--on"} << QStringList{"status"} << 0 << "Power ON\n";
        QTest::newRow("stand by") << QStringList{} << QStringList{"status"} << 0 << "Stand by\n";
        QTest::newRow("lamp time") << QStringList{"--lamp-hours", "1234"} << QStringList{"lamp-time"} << 0
                                   << "0 1 2 3 4 CR  Hour Use\n";
        QTest::newRow("setting") << QStringList{} << QStringList{"setting"} << 0 << "Normally\n";
        QTest::newRow("9600 baud") << QStringList{"--on", "--baud", "9600"} << QStringList{"--speed", "9600", "status"} << 0
                                   << "Power ON\n";
        QTest::newRow("ACK prints nothing") << QStringList{} << QStringList{"input-pc2"} << 0 << "";
        QTest::newRow("raw query") << QStringList{"--on"} << QStringList{"send", "CR0"} << 0 << "Power ON\n";
        QTest::newRow("raw unknown") << QStringList{} << QStringList{"send", "XYZ"} << 1 << "? CR\n";
        QTest::newRow("json status") << QStringList{"--on"} << QStringList{"--json", "status"} << 0
            << "{\"command\": \"status\", \"sent\": \"CR0\\u000d\", \"reply\": \"00\\u000d\", \"status\": \"Power ON\", \"ok\": true}" "\n";
        QTest::newRow("json ACK") << QStringList{} << QStringList{"--json", "input-video"} << 0
            << "{\"command\": \"input-video\", \"sent\": \"C07\\u000d\", \"reply\": \"\\u0006\", \"status\": null, \"ok\": true}" "\n";
        QTest::newRow("json refused") << QStringList{} << QStringList{"--json", "send", "A\"B"} << 1
            << "{\"command\": \"send\", \"sent\": \"A\\\"B\\u000d\", \"reply\": \"?\\u000d\", \"status\": null, \"ok\": false}" "\n";
    }
    void statusTexts()
    {
        QFETCH(QStringList, simArgs);
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, out);
        Sim sim(simArgs);
        const Run r = ctl(sim.port() + args);
        QCOMPARE(r.out, out);
        QCOMPARE(r.status, status);
    }

    void exitCodes_data()
    {
        QTest::addColumn<QStringList>("simArgs");  // "none": no simulator
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("err");  // first line on stderr, or a part of it
        QTest::newRow("answered") << QStringList{} << QStringList{"power-on"} << 0 << "";
        QTest::newRow("silent") << QStringList{"--silent"} << QStringList{"status"} << 2 << "no reply";
        QTest::newRow("silent, short timeout") << QStringList{"--silent"} << QStringList{"--timeout", "100", "status"}
                                               << 2 << "no reply from the projector within 100 ms";
        QTest::newRow("missing device") << QStringList{"none"} << QStringList{"--port", "/dev/orva-none", "status"}
                                        << 3 << "There is no device /dev/orva-none";
        QTest::newRow("wait times out") << QStringList{} << QStringList{"--wait", "Power ON", "--timeout", "1500", "status"}
                                        << 4 << "--wait: the status is \"Stand by\", not \"Power ON\"";
        QTest::newRow("unknown name") << QStringList{"none"} << QStringList{"power-onn"} << 64 << "unknown command 'power-onn'";
        QTest::newRow("no command") << QStringList{"none"} << QStringList{} << 64 << "no command given";
        QTest::newRow("send without text") << QStringList{"none"} << QStringList{"send"} << 64 << "send takes one";
        QTest::newRow("extra argument") << QStringList{"none"} << QStringList{"status", "now"} << 64 << "unexpected argument 'now'";
        QTest::newRow("bad speed") << QStringList{"none"} << QStringList{"--speed", "4800", "status"} << 64 << "--speed is 19200 or 9600";
        QTest::newRow("bad timeout") << QStringList{"none"} << QStringList{"--timeout", "soon", "status"} << 64 << "--timeout";
        QTest::newRow("unknown option") << QStringList{"none"} << QStringList{"--prot", "x", "status"} << 64 << "Unknown option";
    }
    void exitCodes()
    {
        QFETCH(QStringList, simArgs);
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, err);
        std::unique_ptr<Sim> sim;
        if (simArgs != QStringList{"none"}) {
            sim = std::make_unique<Sim>(simArgs);
            args = sim->port() + args;
        }
        const Run r = ctl(args);
        QCOMPARE(r.status, status);
        if (err.isEmpty())
            QCOMPARE(r.err, QString());
        else
            QVERIFY2(r.err.contains(err), qPrintable(r.err));
        if (status == 64)
            QVERIFY2(r.err.contains(QLatin1String("Usage:")), qPrintable(r.err));  // the usage follows
        if (status != 0)
            QVERIFY2(r.err.startsWith(QLatin1String("orva-ctl: ")), qPrintable(r.err));
    }

    // $ORVA_PORT names the device when --port does not.
    void portFromEnvironment()
    {
        Sim sim({QStringLiteral("--on")});
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("ORVA_PORT"), sim.path);
        QCOMPARE(ctl({QStringLiteral("status")}, env).out, QStringLiteral("Power ON\n"));
        env.insert(QStringLiteral("ORVA_PORT"), QStringLiteral("/dev/orva-none"));
        QCOMPARE(ctl(sim.port() << QStringLiteral("status"), env).status, 0);
        QCOMPARE(ctl({QStringLiteral("status")}, env).status, 3);
    }

    // power-on --wait polls through the count down until the projector is on.
    void waitAcrossWarmUp()
    {
        Sim sim({QStringLiteral("--countdown-ms"), QStringLiteral("1500")});
        QElapsedTimer clock;
        clock.start();
        const Run r = ctl(sim.port() << QStringLiteral("power-on") << QStringLiteral("--wait") << QStringLiteral("Power ON")
                                     << QStringLiteral("--timeout") << QStringLiteral("9000"));
        QCOMPARE(r.status, 0);
        QCOMPARE(r.out, QStringLiteral("Power ON\n"));
        QVERIFY(clock.elapsed() >= 1400);  // it cannot be on before the count down ends
        const QByteArray replies = sim.replies();
        // ACK for C00, then "Count down" at least once, then "Power ON" last.
        QVERIFY2(replies.startsWith("\x06" "40\r"), replies.toHex(' ').constData());
        QVERIFY2(replies.endsWith("40\r00\r"), replies.toHex(' ').constData());
    }

    // --log: the exchange's lines appended to the file; a log that cannot be opened stops before the port.
    void logFile()
    {
        Sim sim({QStringLiteral("--on")});
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("orva.log"));
        QCOMPARE(ctl(sim.port() << QStringLiteral("--log") << path << QStringLiteral("status")).status, 0);
        QCOMPARE(ctl(sim.port() << QStringLiteral("--log") << path << QStringLiteral("input-pc1")).status, 0);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QStringList events;
        static const QRegularExpression line(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3} (.*)$"));
        for (const QString &l : QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts)) {
            const auto m = line.match(l);
            QVERIFY2(m.hasMatch(), qPrintable(l));
            events << m.captured(1);
        }
        QCOMPARE(events, (QStringList{"TX CR0<CR>", "RX 00<CR>", "STATUS Power ON", "TX C05<CR>", "RX <ACK>"}));
        sim.heard();

        const Run r = ctl(sim.port() << QStringLiteral("--log") << dir.filePath(QStringLiteral("no/such/dir/x.log"))
                                     << QStringLiteral("status"));
        QCOMPARE(r.status, 3);
        QVERIFY2(r.err.startsWith(QLatin1String("orva-ctl: cannot open the log file")), qPrintable(r.err));
        QCOMPARE(sim.heard(), QStringList());
    }

    // Both programs list the same ports, five tab-separated fields a line, without a display.
    void portListings()
    {
        const Run fromCtl = ctl({QStringLiteral("ports")});
        QCOMPARE(fromCtl.status, 0);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        QProcess panel;
        panel.setProcessEnvironment(env);
        panel.start(QStringLiteral(ORVA_PANEL_PATH), {QStringLiteral("--list-ports")});
        QVERIFY(panel.waitForFinished(10000));
        QCOMPARE(panel.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(panel.readAllStandardOutput()), fromCtl.out);
        for (const QString &line : fromCtl.out.split(u'\n', Qt::SkipEmptyParts)) {
            QCOMPARE(line.count(u'\t'), 4);
            QVERIFY2(line.startsWith(u'/'), qPrintable(line));
        }
    }
};

QTEST_GUILESS_MAIN(TstCtl)
#include "tst_ctl.moc"
