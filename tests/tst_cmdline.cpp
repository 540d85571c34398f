// The command line of the built programs: refused arguments, what runs without a
// display, the devices and the platform the panel starts with, and man pages that
// list every option --help does.

#include "FreePort.h"
#include "SimulatorProcess.h"
#include "ReferenceRows.h"
#include "TestSupport.h"

#include <QRegularExpression>
#include <csignal>
#include <memory>

#include <sys/ioctl.h>

class TstCmdline : public QObject {
    Q_OBJECT
private slots:
    // The rows (tests/reference/panel_cmdline.rows): the arguments, the environment,
    // the exit status (-1: crashed) and how stderr begins; nothing on stdout. With both
    // displays the panel goes through XWayland, even in a Wayland session; without a
    // runtime folder Qt has nothing to say either.
    void panel_data() { addReferenceRows("panel_cmdline.rows"); }
    void panel()
    {
        QFETCH(QJsonArray, row);
        const Run r = runProgram(QStringLiteral(ORVA_PANEL_PATH), strings(row[1]), strings(row[2]));
        QCOMPARE(r.err.left(row[4].toString().size()), row[4].toString());
        QCOMPARE(r.status, row[3].toInt());
        QCOMPARE(r.out, QString());
    }

    // A lost port is logged when it is lost, while its warning box is still open
    // (nobody closes it here; the line's text and time: tst_engine's logSession).
    void lossLoggedBeforeTheBoxCloses()
    {
        const QTemporaryDir dir;
        QFile log(dir.filePath(QStringLiteral("panel.log")));
        auto pty = std::make_unique<Pty>();
        const OpenWatch watch(pty->path);
        QProcess panel;
        panel.setProcessEnvironment(environment({"QT_QPA_PLATFORM=offscreen"}));
        panel.start(QStringLiteral(ORVA_PANEL_PATH), {"--com1", pty->path, "--log", log.fileName()});
        QVERIFY(panel.waitForStarted());
        // The panel holds the line once start-up has opened, closed and opened it.
        QString seen;
        QTRY_VERIFY_WITH_TIMEOUT((seen += u' ' + watch.seen()).simplified() == QLatin1String("open close open"), 30000);
        QTest::qWait(300);
        QVERIFY2(panel.state() == QProcess::Running && log.open(QIODevice::ReadOnly), panel.readAllStandardError().constData());
        pty.reset();
        QByteArray text;
        QTRY_VERIFY_WITH_TIMEOUT((text += log.readAll()).contains(" ERROR The serial port stopped working and was closed. Read error"), 10000);
        QVERIFY(panel.state() == QProcess::Running);
        panel.kill();
        panel.waitForFinished();
    }

    // A signal ends each program with the line let go (its exclusive flag off, its
    // lock file gone) while another program keeps it open: the panel as END does,
    // orva-ctl (during --wait) with 128 + the signal's number, the bridge with 0.
    // The three signals are one EndSignals in each, so orva-ctl's rows try them all.
    void endsOnSignals_data()
    {
        QTest::addColumn<QStringList>("command");  // the device's path follows
        QTest::addColumn<int>("signal");
        QTest::addColumn<int>("status");
        for (const auto &[name, number, status] : {std::tuple{"SIGTERM", SIGTERM, 143}, {"SIGINT", SIGINT, 130}, {"SIGHUP", SIGHUP, 129}})
            QTest::addRow("orva-ctl --wait, %s", name)
                << QStringList{ORVA_CTL_PATH, "power-on", "--wait", "Power ON", "--timeout", "60000", "--port"} << number << status;
        QTest::newRow("orva-panel, SIGTERM") << QStringList{ORVA_PANEL_PATH, "--com1"} << SIGTERM << 0;
        QTest::newRow("orva-bridge, SIGHUP") << QStringList{ORVA_BRIDGE_PATH, "--pjlink", QString::number(freePort()), "--device"} << SIGHUP << 0;
    }
    void endsOnSignals()
    {
        QFETCH(QStringList, command);
        QFETCH(int, signal);
        QFETCH(int, status);
        SimulatorProcess sim({});
        const int line = ::open(QFile::encodeName(sim.path).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);  // as a device server holds it
        const auto exclusive = [line] {
            int flag = -1;
            return ::ioctl(line, TIOCGEXCL, &flag) == 0 ? flag : -1;
        };
        const QString lock = QStringLiteral("/var/lock/LCK..") + sim.path.mid(5).replace(u'/', u'_');
        QProcess p;
        // A given platform wins over the displays.
        p.setProcessEnvironment(environment({"QT_QPA_PLATFORM=offscreen", "WAYLAND_DISPLAY=orva-none", "DISPLAY=:orva-none"}));
        const QString program = command.takeFirst();
        p.start(program, command << sim.path);
        // The port open (the panel's start-up opens COM1), and orva-ctl waiting.
        QTRY_VERIFY_WITH_TIMEOUT(exclusive() == 1 && QFile::exists(lock) && (!command.contains("--wait") || sim.heard().contains("CR0")), 30000);
        ::kill(pid_t(p.processId()), signal);
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(exclusive(), 0);
        QVERIFY(::close(line) == 0 && !QFile::exists(lock));
        QCOMPARE(p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, status);
        QVERIFY(!command.contains("--pjlink") || p.readAllStandardError().endsWith("orva-bridge: ended\n"));
    }

    // The serial ports, a line each of five tab-separated fields ("-" for none), without a display.
    void listPorts()
    {
        const Run r = runProgram(QStringLiteral(ORVA_PANEL_PATH), {QStringLiteral("--list-ports")});
        QCOMPARE(r.status, 0);
        static const QRegularExpression line(QStringLiteral(R"(^/\S+(\t[^\t]+){4}$)"));
        for (const QString &l : r.out.split(u'\n', Qt::SkipEmptyParts))
            QVERIFY2(line.match(l).hasMatch(), qPrintable(l));
    }

    // Each program without a display: its --version (the simulator has none), its --help,
    // whose every option is on the page made from it, and a wrong option refused.
    void versionsManPagesAndWrongOptions()
    {
        for (const QString program : {ORVA_PANEL_PATH, ORVA_SIM_PATH, ORVA_CTL_PATH, ORVA_BRIDGE_PATH}) {
            const QString name = QFileInfo(program).fileName();
            QCOMPARE(runProgram(program, {QStringLiteral("--version")}).out, name == u"orva-sim" ? QString() : name + QStringLiteral(" 1.40\n"));
            const Run help = runProgram(program, {QStringLiteral("--help")});
            QCOMPARE(help.status, 0);
            QFile page(QStringLiteral(ORVA_MAN_DIR "/") + name + QStringLiteral(".1"));
            QVERIFY2(page.open(QIODevice::ReadOnly), qPrintable(page.fileName()));
            const QString roff = QString::fromUtf8(page.readAll());
            static const QRegularExpression option(QStringLiteral(R"(^\s+(?:-\S, )?(--[a-z0-9-]+))"), QRegularExpression::MultilineOption);
            int listed = 0;
            for (auto it = option.globalMatch(help.out); it.hasNext(); ++listed)
                // roff writes "-" as "\-".
                QVERIFY2(roff.contains(it.next().captured(1).replace(u'-', QLatin1String("\\-"))), qPrintable(help.out));
            QVERIFY2(listed >= 5, qPrintable(help.out));
            const Run wrong = runProgram(program, {QStringLiteral("--no-such-option")});
            QVERIFY2(wrong.status > 0 && wrong.out.isEmpty(), qPrintable(program + wrong.err));
        }
    }
};

QTEST_GUILESS_MAIN(TstCmdline)
#include "tst_cmdline.moc"
