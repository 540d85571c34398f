// The exchange log on an engine with the fake serial control: the lines of a short
// session appended to a file, paths it cannot open and a disk that is full.

#include "EngineHarness.h"
#include "exchange/ExchangeLog.h"

#include <QDateTime>
#include <QSignalSpy>
#include <QTemporaryDir>

class TstLog : public QObject {
    Q_OBJECT
private slots:
    void session()
    {
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("exchange.log")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("earlier line\n") > 0);
        file.close();
        const QDateTime from = QDateTime::currentDateTime().addSecs(-1);
        Engine p;
        ExchangeLog log;
        QString error;
        QVERIFY2(log.open(file.fileName(), &error), qPrintable(error));
        log.watch(p.exchange());
        p.click("Command44");
        p.serial.receive(QStringLiteral("0"));
        p.serial.receive(QStringLiteral("0\r"));
        p.click("Command17");
        p.serial.receive(QString::fromLatin1("\x06\x14\x7f\xe9{\x01~\n"));
        p.serial.loseDevice(QStringLiteral("Input/output error"));
        p.click("Command17");
        log.write(u"ERROR", u"from a front end");

        // Each line: local time with milliseconds, a blank, the kind, the text.
        QVERIFY(file.open(QIODevice::ReadOnly));
        QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
        for (qsizetype i = 1; i + 1 < lines.size(); ++i) {
            QString &line = lines[i];
            const QDateTime t = QDateTime::fromString(line.left(23), QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"));
            line = t >= from && t <= QDateTime::currentDateTime() ? line.mid(24) : QStringLiteral("<bad time> ") + line;
        }
        QCOMPARE(lines, (QStringList{
            "earlier line",
            "TX CR0<CR>",
            "RX 0",
            "RX 0<CR>",
            "STATUS Power ON",
            "TX C00<CR>",
            "RX <ACK><&><?><?>{<?>~<LF>",
            "ERROR The serial port stopped working and was closed. Input/output error "
            "Choose COM1 or COM2 (COM button) to open it again.",
            "ERROR Not sent (port closed): C00<CR>",
            "ERROR from a front end",
            "",
        }));
    }

    void unopenablePath()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("missing/exchange.log"));
        ExchangeLog log;
        QString error;
        QVERIFY(!log.open(path, &error));
        QCOMPARE(error, QStringLiteral("cannot open the log file %1: No such file or directory").arg(path));
        QVERIFY(!log.isLogging());
    }

    // A full disk: the first line that fails stops the log with one notice; the
    // engine sends as before.
    void fullDiskStopsWithOneNotice()
    {
        Engine p;
        ExchangeLog log;
        QString error;
        QVERIFY2(log.open(QStringLiteral("/dev/full"), &error), qPrintable(error));
        log.watch(p.exchange());
        QSignalSpy stopped(&log, &ExchangeLog::stopped);
        p.click("Command44");
        p.serial.receive(QStringLiteral("00\r"));
        p.click("Command17");
        QCOMPARE(stopped.size(), 1);
        QCOMPARE(stopped.first().first().toString(),
                 QStringLiteral("Writing the log file /dev/full failed (No space left on device); nothing more is logged."));
        QVERIFY(!log.isLogging());
        QCOMPARE(p.takeWritten(), QByteArray("CR0\rC00\r"));

        // Opened again on a file that takes it, the log goes on there.
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("exchange.log"));
        QVERIFY2(log.open(path, &error), qPrintable(error));
        QVERIFY(log.isLogging());
        p.click("Command18");
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY2(file.readAll().endsWith(" TX C01<CR>\n"), qPrintable(path));
        QCOMPARE(stopped.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TstLog)
#include "tst_log.moc"
