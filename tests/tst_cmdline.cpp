// The command line of the built programs: refused arguments, what runs without a
// display, the devices and the platform the panel starts with, and man pages that
// list every option --help does.

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Run {
    int status = -1;  // -1: crashed
    QString out, err;
};

// Only these variables, and a runtime directory of its own so that Qt has nothing to say.
QProcessEnvironment environment(const QStringList &vars)
{
    static const QTemporaryDir runtimeDir;
    QProcessEnvironment env;
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir.path());
    for (const QString &var : vars)
        env.insert(var.section(u'=', 0, 0), var.section(u'=', 1));
    return env;
}

Run run(const QString &program, const QStringList &args, const QStringList &env = {})
{
    QProcess p;
    p.setProcessEnvironment(environment(env));
    p.start(program, args);
    if (!p.waitForFinished(60000))
        p.kill();
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromLocal8Bit(p.readAllStandardOutput()),
            QString::fromLocal8Bit(p.readAllStandardError())};
}

} // namespace

class TstCmdline : public QObject {
    Q_OBJECT
private slots:
    void panel_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QStringList>("env");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("err");  // how stderr begins
        using L = QStringList;
        const QString usage = QStringLiteral("\n\nUsage: ");
        QTest::newRow("option as COM1's device") << L{"--com1", "--com2", "/dev/ttyUSB0"} << L{} << 1
                                                 << "orva-panel: --com1 needs a device path" + usage;
        QTest::newRow("option as COM2's device") << L{"--com2", "-x"} << L{} << 1 << "orva-panel: --com2 needs a device path" + usage;
        QTest::newRow("empty device") << L{"--com1="} << L{} << 1 << "orva-panel: --com1 needs a device path" + usage;
        QTest::newRow("extra argument") << L{"--com1", "/dev/ttyUSB0", "/dev/ttyUSB1"} << L{} << 1
                                        << "orva-panel: unexpected argument '/dev/ttyUSB1'" + usage;
        QTest::newRow("unknown option") << L{"--baud", "9600"} << L{} << 1 << "orva-panel: Unknown option 'baud'." + usage;
        QTest::newRow("option as the log file") << L{"--log", "--com1", "/dev/ttyUSB0"} << L{} << 1
                                                << "orva-panel: --log needs a file name" + usage;
        QTest::newRow("no display") << L{} << L{} << 1
            << "orva-panel: needs a graphical session (neither DISPLAY nor WAYLAND_DISPLAY is set); "
               "without one, run it under Xvfb: xvfb-run orva-panel\n";
        QTest::newRow("log that cannot be opened") << L{"--log", "/nonexistent-orva/panel.log"} << L{"QT_QPA_PLATFORM=offscreen"}
            << 1 << "orva-panel: cannot open the log file /nonexistent-orva/panel.log: No such file or directory\n";
        // With both displays the panel goes through XWayland, even in a Wayland session.
        QTest::newRow("Wayland and X") << L{} << L{"WAYLAND_DISPLAY=orva-none", "DISPLAY=:orva-none", "XDG_SESSION_TYPE=wayland"}
                                       << -1 << "qt.qpa.xcb: could not connect to display :orva-none\n";
    }
    void panel()
    {
        QFETCH(QStringList, args);
        QFETCH(QStringList, env);
        QFETCH(int, status);
        QFETCH(QString, err);
        const Run r = run(QStringLiteral(ORVA_PANEL_PATH), args, env);
        QCOMPARE(r.err.left(err.size()), err);
        QCOMPARE(r.status, status);
        QCOMPARE(r.out, QString());
    }

    // Start-up opens COM1's device and logs why it cannot; a given platform wins over the displays.
    void startsOnCom1()
    {
        const QTemporaryDir dir;
        const QString log = dir.filePath(QStringLiteral("panel.log")), com1 = dir.filePath(QStringLiteral("com1"));
        QProcess panel;
        panel.setProcessEnvironment(environment({"QT_QPA_PLATFORM=offscreen", "WAYLAND_DISPLAY=orva-none", "DISPLAY=:orva-none"}));
        panel.start(QStringLiteral(ORVA_PANEL_PATH), {"--com1", com1, "--com2", dir.filePath(QStringLiteral("com2")), "--log", log});
        QFile file(log);
        QTRY_VERIFY_WITH_TIMEOUT(file.size() > 0 || panel.state() == QProcess::NotRunning, 30000);
        QVERIFY2(panel.state() == QProcess::Running, panel.readAllStandardError().constData());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        const QRegularExpression line(QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3} ERROR [^\r\n]*)") +
                                      QRegularExpression::escape(com1) + QStringLiteral("[:\\s]"));
        QVERIFY2(line.match(text).hasMatch() && text.endsWith(u'\n'), qPrintable(text));
        panel.kill();
        panel.waitForFinished();
    }

    // The serial ports, a line each of five tab-separated fields ("-" for none), without a display.
    void listPorts()
    {
        const Run r = run(QStringLiteral(ORVA_PANEL_PATH), {QStringLiteral("--list-ports")});
        QCOMPARE(r.status, 0);
        static const QRegularExpression line(QStringLiteral(R"(^/\S+(\t[^\t]+){4}$)"));
        for (const QString &l : r.out.split(u'\n', Qt::SkipEmptyParts))
            QVERIFY2(line.match(l).hasMatch(), qPrintable(l));
    }

    // The pages are made from --help, so every option there is on the page; a wrong option is refused.
    void manPagesAndWrongOptions_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<int>("options");  // how many --help lists, at least
        QTest::newRow("orva-panel") << QStringLiteral(ORVA_PANEL_PATH) << 5;
        QTest::newRow("orva-sim") << QStringLiteral(ORVA_SIM_PATH) << 17;
        QTest::newRow("orva-ctl") << QStringLiteral(ORVA_CTL_PATH) << 8;
    }
    void manPagesAndWrongOptions()
    {
        QFETCH(QString, program);
        QFETCH(int, options);
        const Run help = run(program, {QStringLiteral("--help")});
        QCOMPARE(help.status, 0);
        QFile page(QStringLiteral(ORVA_MAN_DIR "/") + QFileInfo(program).fileName() + QStringLiteral(".1"));
        QVERIFY2(page.open(QIODevice::ReadOnly), qPrintable(page.fileName()));
        // roff writes "-" as "\-" and switches fonts with "\fB" ... "\fR".
        const QString roff = QString::fromUtf8(page.readAll()).replace(QLatin1String("\\-"), QLatin1String("-"))
                                 .remove(QRegularExpression(QStringLiteral(R"(\\f[BIRP])")));
        static const QRegularExpression option(QStringLiteral(R"(^\s+(?:-\S, )?(--[a-z0-9-]+))"), QRegularExpression::MultilineOption);
        int listed = 0;
        for (auto it = option.globalMatch(help.out); it.hasNext(); ++listed)
            QVERIFY2(roff.contains(it.next().captured(1)), qPrintable(help.out));
        QVERIFY2(listed >= options, qPrintable(help.out));

        const Run wrong = run(program, {QStringLiteral("--no-such-option")});
        QVERIFY2(wrong.status > 0, qPrintable(wrong.err));
        QCOMPARE(wrong.out, QString());
    }
};

QTEST_GUILESS_MAIN(TstCmdline)
#include "tst_cmdline.moc"
