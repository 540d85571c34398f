// orva-ctl against orva-sim on a pseudo-terminal: the names and their codes, what a
// command sends, prints and exits with, the port from the environment, the log file.

#include "ExpectedOneShots.h"
#include "ExpectedRepeatKeys.h"
#include "SimulatorProcess.h"
#include "ReferenceRows.h"
#include "TestSupport.h"

#include <QRegularExpression>

class TstCtl : public QObject {
    Q_OBJECT
private slots:
    // Every name of the one-shot commands and the repeat keys, with its code.
    void listShowsEveryNameWithItsCode()
    {
        const Run list = runProgram(ORVA_CTL_PATH, {QStringLiteral("list")});
        QCOMPARE(list.status, 0);
        QStringList listed = list.out.split(u'\n', Qt::SkipEmptyParts), expected;
        for (const OneShotRow &r : kExpectedOneShots)
            expected << QStringLiteral("%1 %2").arg(QLatin1String(r.name), -24).arg(QLatin1String(r.code));
        for (const KeyRow &r : kKeys)
            expected << QStringLiteral("%1 %2").arg(QLatin1String(r.name), -24).arg(QLatin1String(r.code));
        listed.sort();
        expected.sort();
        QCOMPARE(listed, expected);
    }

    // The rows (tests/reference/ctl_commands.rows): the simulator's options, orva-ctl's
    // arguments, its exit status, stdout, how stderr begins (absent: nothing there), and
    // the codes the simulator heard.
    void commands_data() { addReferenceRows("ctl_commands.rows"); }
    void commands()
    {
        QFETCH(QJsonArray, row);
        SimulatorProcess sim(strings(row[1]));
        const Run r = runProgram(ORVA_CTL_PATH, QStringList{"--port", sim.path} + strings(row[2]));
        QCOMPARE(r.out, row[4].toString());
        QCOMPARE(r.status, row[3].toInt());
        const QString err = row[5].toString();
        QVERIFY2(err.isEmpty() ? r.err.isEmpty() : r.err.startsWith(err), qPrintable(r.err));
        QTRY_COMPARE_WITH_TIMEOUT(sim.heard(), strings(row[6]), 5000);
    }

    // orva-sim on TCP serves one client after another; it ends when its stdin does,
    // not on what comes there.
    void simulatorOverTcp()
    {
        SimulatorProcess sim({QStringLiteral("--on"), QStringLiteral("--tcp"), QStringLiteral("0")});
        QVERIFY(sim.process.write("x\n") == 2 && sim.process.waitForBytesWritten(5000));
        for (int run = 0; run < 2; ++run)
            QCOMPARE(runProgram(ORVA_CTL_PATH, {QStringLiteral("--port"), sim.path, QStringLiteral("status")}).out, QStringLiteral("Power ON\n"));
        sim.process.closeWriteChannel();
        QVERIFY(sim.process.waitForFinished(10000));
        QCOMPARE(sim.process.exitCode(), 0);
    }

    // $ORVA_PORT names the device when --port does not, which sees one open and one
    // close (the panel's start-up opens twice); --log appends the exchange (no ERROR line
    // when the command is answered; the lines' form: tst_engine's logSession), and a log
    // that cannot be opened stops before the port.
    void portFromEnvironmentAndLog()
    {
        SimulatorProcess sim({QStringLiteral("--on")});
        const QTemporaryDir dir;
        QFile log(dir.filePath(QStringLiteral("orva.log")));
        const QStringList env{"ORVA_PORT=" + sim.path};
        const OpenWatch watch(sim.path);
        QCOMPARE(runProgram(ORVA_CTL_PATH, {QStringLiteral("--log"), log.fileName(), QStringLiteral("status")}, env).out, QStringLiteral("Power ON\n"));
        QCOMPARE(watch.seen(), QStringLiteral("open close"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        static const QRegularExpression stamp(QStringLiteral(R"(^[-\d]{10}T[:.\d]{12} )"), QRegularExpression::MultilineOption);
        QCOMPARE(QString::fromUtf8(log.readAll()).remove(stamp), QStringLiteral("TX CR0<CR>\nRX 00<CR>\nSTATUS Power ON\n"));
        const Run r = runProgram(ORVA_CTL_PATH, {QStringLiteral("--log"), dir.filePath(QStringLiteral("no/x.log")), QStringLiteral("status")}, env);
        QCOMPARE(r.status, 3);
        QVERIFY2(r.err.startsWith(QLatin1String("orva-ctl: cannot open the log file")), qPrintable(r.err));
        QCOMPARE(watch.seen(), QString());
        QTRY_COMPARE_WITH_TIMEOUT(sim.heard(), QStringList{"CR0"}, 5000);
    }
};

QTEST_GUILESS_MAIN(TstCtl)
#include "tst_ctl.moc"
