#pragma once
// orva-sim as a process of the test, with its log: the command codes it heard, in
// order. Its power cycle is slowed to a minute each way, so that a test sees the
// count down and the cooling down as long as it needs them. Needs ORVA_SIM_PATH.

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTest>

struct SimulatorProcess {
    static constexpr int kWaitMs = 15000;

    QProcess process;
    QString path;  // what it serves on: a pseudo-terminal's path, or tcp://127.0.0.1:PORT
    QByteArray log;

    explicit SimulatorProcess(const QStringList &arguments)
    {
        process.start(QStringLiteral(ORVA_SIM_PATH),
                      QStringList{"--log", "--exit-on-stdin-eof", "--countdown-ms", "60000", "--cooldown-ms", "60000"} + arguments);
        if (QTest::qWaitFor([&] { return process.canReadLine() || process.state() == QProcess::NotRunning; }, kWaitMs)
            && process.canReadLine())
            path = QString::fromLatin1(process.readLine()).trimmed();
    }
    ~SimulatorProcess()
    {
        process.closeWriteChannel();
        if (!process.waitForFinished(kWaitMs))
            process.kill();
        process.waitForFinished(kWaitMs);
    }
    // The codes heard so far.
    QStringList heard()
    {
        log += process.readAllStandardError();
        QStringList codes;
        for (const QByteArray &line : log.split('\n'))
            if (const qsizetype at = line.indexOf(" RX "); at >= 0)
                codes << QString::fromLatin1(line.mid(at + 4));
        return codes;
    }
};
