// The command line of the built programs: refused arguments and their exit status,
// the one line without a display, and man pages that list every option --help does.

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Run {
    int status = -1;
    QString out, err;
};

Run run(const QString &program, const QStringList &args, const QProcessEnvironment &env)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    Run r;
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

// Headless, with a runtime directory of its own so that Qt has nothing to say.
QProcessEnvironment headless(const QTemporaryDir &runtimeDir)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir.path());
    return env;
}

// The usage line names the program as it was started (here by its full path).
const QRegularExpression usage(QStringLiteral(R"(\nUsage: \S*orva-panel \[options\]\n)"));

} // namespace

class TstCmdline : public QObject {
    Q_OBJECT
private slots:
    void refusedArguments_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("firstLine");
        QTest::newRow("option as COM1's device") << QStringList{"--com1", "--com2", "/dev/ttyUSB0"} << "orva-panel: --com1 needs a device path";
        QTest::newRow("option as COM2's device") << QStringList{"--com2", "-x"} << "orva-panel: --com2 needs a device path";
        QTest::newRow("empty device") << QStringList{"--com1="} << "orva-panel: --com1 needs a device path";
        QTest::newRow("no device") << QStringList{"--com2"} << "orva-panel: Missing value after '--com2'.";
        QTest::newRow("extra argument") << QStringList{"--com1", "/dev/ttyUSB0", "/dev/ttyUSB1"} << "orva-panel: unexpected argument '/dev/ttyUSB1'";
        QTest::newRow("unknown option") << QStringList{"--baud", "9600"} << "orva-panel: Unknown option 'baud'.";
        QTest::newRow("option as the log file") << QStringList{"--log", "--com1", "/dev/ttyUSB0"} << "orva-panel: --log needs a file name";
    }
    void refusedArguments()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, firstLine);
        const QTemporaryDir runtimeDir;
        const Run r = run(QStringLiteral(ORVA_PANEL_PATH), args, headless(runtimeDir));
        QCOMPARE(r.status, 1);
        QCOMPARE(r.err.section(u'\n', 0, 0), firstLine);
        QVERIFY2(r.err.contains(usage), qPrintable(r.err));
        QVERIFY(r.out.isEmpty());
    }

    // A log that cannot be opened ends the panel before its window, with the reason.
    void unopenableLog_data()
    {
        QTest::addColumn<QString>("name");  // under a temporary directory
        QTest::addColumn<QString>("reason");
        QTest::newRow("a directory") << QString() << "Is a directory";
        QTest::newRow("under a missing directory") << "missing/panel.log" << "No such file or directory";
    }
    void unopenableLog()
    {
        QFETCH(QString, name);
        QFETCH(QString, reason);
        const QTemporaryDir dir;
        const QString path = name.isEmpty() ? dir.path() : dir.filePath(name);
        const Run r = run(QStringLiteral(ORVA_PANEL_PATH), {QStringLiteral("--log"), path}, headless(dir));
        QCOMPARE(r.status, 1);
        QCOMPARE(r.err, QStringLiteral("orva-panel: cannot open the log file %1: %2\n").arg(path, reason));
        QVERIFY(r.out.isEmpty());
    }

    // The panel logs what its engine reports: here the warning of a COM1 that is missing.
    void panelLogsItsWarnings()
    {
        const QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("panel.log"));
        const QString device = dir.filePath(QStringLiteral("no-such-tty"));
        QProcess panel;
        panel.setProcessEnvironment(headless(dir));
        panel.start(QStringLiteral(ORVA_PANEL_PATH), {QStringLiteral("--com1"), device, QStringLiteral("--log"), path});
        QVERIFY(panel.waitForStarted());
        const QRegularExpression line(QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3} ERROR .*)")
                                      + QRegularExpression::escape(device));
        QString text;
        const auto logged = [&path] {
            QFile log(path);
            return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
        };
        QTRY_VERIFY_WITH_TIMEOUT(line.match(text = logged()).hasMatch(), 30000);
        QVERIFY2(!text.contains(u'\r') && text.endsWith(u'\n'), qPrintable(text));
        panel.kill();
        panel.waitForFinished();
    }

    void noDisplay_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::newRow("no arguments") << QStringList{} << 1;
        QTest::newRow("a device") << QStringList{"--com1", "/dev/ttyUSB0"} << 1;
    }
    void noDisplay()
    {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        const Run r = run(QStringLiteral(ORVA_PANEL_PATH), args, QProcessEnvironment());
        QCOMPARE(r.status, status);
        QCOMPARE(r.err, QStringLiteral("orva-panel: needs a graphical session (neither DISPLAY nor WAYLAND_DISPLAY is set); "
                                       "without one, run it under Xvfb: xvfb-run orva-panel\n"));
        QVERIFY(r.out.isEmpty());
        // A mistake on the command line is still reported as such.
        const Run bad = run(QStringLiteral(ORVA_PANEL_PATH), {QStringLiteral("extra")}, QProcessEnvironment());
        QCOMPARE(bad.status, 1);
        QCOMPARE(bad.err.section(u'\n', 0, 0), QStringLiteral("orva-panel: unexpected argument 'extra'"));
    }

    void helpNeedsNoDisplay()
    {
        const Run r = run(QStringLiteral(ORVA_PANEL_PATH), {QStringLiteral("--help")}, QProcessEnvironment());
        QCOMPARE(r.status, 0);
        QVERIFY2(QString(u'\n' + r.out).contains(usage), qPrintable(r.out));
    }

    // The pages are made from --help, so every option there is on the page.
    void manPageListsEveryOption_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<int>("options");  // how many --help lists, at least
        QTest::newRow("orva-panel") << QStringLiteral(ORVA_PANEL_PATH) << 5;
        QTest::newRow("orva-sim") << QStringLiteral(ORVA_SIM_PATH) << 17;
        QTest::newRow("orva-ctl") << QStringLiteral(ORVA_CTL_PATH) << 8;
    }
    void manPageListsEveryOption()
    {
        QFETCH(QString, program);
        QFETCH(int, options);
        const Run help = run(program, {QStringLiteral("--help")}, QProcessEnvironment());
        QCOMPARE(help.status, 0);
        QFile page(QStringLiteral(ORVA_MAN_DIR "/") + QFileInfo(program).fileName() + QStringLiteral(".1"));
        QVERIFY2(page.open(QIODevice::ReadOnly), qPrintable(page.fileName()));
        QVERIFY(QFile::exists(page.fileName() + QStringLiteral(".gz")));
        // roff writes "-" as "\-" and switches fonts with "\fB" ... "\fR".
        QString roff = QString::fromUtf8(page.readAll());
        roff.replace(QLatin1String("\\-"), QLatin1String("-")).remove(QRegularExpression(QStringLiteral(R"(\\f[BIRP])")));
        QVERIFY(roff.startsWith(QLatin1String(".\\\"")) || roff.startsWith(QLatin1String(".TH")));
        QVERIFY(roff.contains(QLatin1String(".TH ")));

        QStringList listed;
        static const QRegularExpression option(QStringLiteral(R"(^\s+(?:-\S, )?(--[a-z0-9-]+))"), QRegularExpression::MultilineOption);
        for (auto it = option.globalMatch(help.out); it.hasNext();)
            listed << it.next().captured(1);
        QVERIFY2(listed.size() >= options, qPrintable(listed.join(u' ')));
        for (const QString &o : listed)
            QVERIFY2(roff.contains(o), qPrintable(o));
    }
};

QTEST_GUILESS_MAIN(TstCmdline)
#include "tst_cmdline.moc"
