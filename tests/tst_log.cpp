// The exchange log on an engine with the fake serial control: the lines of a short
// session, appending, paths it cannot open and a disk that is full.

#include "EngineHarness.h"
#include "exchange/ExchangeLog.h"

#include <QDateTime>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <unistd.h>

namespace {

// A line: local time with milliseconds, the kind, the text.
const QRegularExpression kLine(QStringLiteral(R"(^(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}) ([A-Z]+ .*)$)"));

QStringList readLines(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {QStringLiteral("<unreadable>")};
    QStringList lines = QString::fromUtf8(f.readAll()).split(u'\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// The lines without their time stamps; each stamp is checked for its form and
// for lying close to the time the test ran at.
QStringList withoutTimes(const QStringList &lines, const QDateTime &from)
{
    QStringList texts;
    for (const QString &line : lines) {
        const QRegularExpressionMatch m = kLine.match(line);
        if (!m.hasMatch()) {
            texts << QStringLiteral("<bad line> ") + line;
            continue;
        }
        const QDateTime t = QDateTime::fromString(m.captured(1), QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"));
        if (!t.isValid() || t < from.addSecs(-1) || t > QDateTime::currentDateTime().addSecs(1))
            texts << QStringLiteral("<bad time> ") + line;
        else
            texts << m.captured(2);
    }
    return texts;
}

} // namespace

class TstLog : public QObject {
    Q_OBJECT
private slots:
    void session()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("exchange.log"));
        const QDateTime from = QDateTime::currentDateTime();
        Engine p;
        ExchangeLog log;
        QString error;
        QVERIFY2(log.open(path, &error), qPrintable(error));
        log.watch(p.exchange());

        p.click("Command44");           // STATUS
        p.serial.receive(QStringLiteral("0"));
        p.serial.receive(QStringLiteral("0\r"));
        p.exchange().onReplyWindowEnd();
        p.click("Command17");           // POWER ON
        p.serial.receive(QString::fromLatin1("\x06\x14\x7f\xe9{\x01~\n"));
        p.serial.loseDevice(QStringLiteral("Input/output error"));
        p.click("Command17");           // the port is closed now
        log.write(u"ERROR", u"from a front end");

        const QStringList expected{
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
        };
        QCOMPARE(withoutTimes(readLines(path), from), expected);
    }

    void appendsToAnExistingFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("exchange.log"));
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("earlier line\n");
        }
        for (int run = 0; run < 2; ++run) {
            ExchangeLog log;
            QString error;
            QVERIFY2(log.open(path, &error), qPrintable(error));
            log.write(u"TX", u"C00\r");
        }
        const QStringList lines = readLines(path);
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines.first(), QStringLiteral("earlier line"));
        QCOMPARE(withoutTimes(lines.mid(1), QDateTime::currentDateTime().addSecs(-60)),
                 (QStringList{"TX C00<CR>", "TX C00<CR>"}));
    }

    void unopenablePaths_data()
    {
        QTest::addColumn<QString>("name");   // under a temporary directory
        QTest::addColumn<QString>("reason");
        QTest::newRow("a directory") << QString() << "Is a directory";
        QTest::newRow("under a missing directory") << "missing/exchange.log" << "No such file or directory";
        QTest::newRow("no write permission") << "read-only.log" << "Permission denied";
    }
    void unopenablePaths()
    {
        QFETCH(QString, name);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString path = name.isEmpty() ? dir.path() : dir.filePath(name);
        if (name == QLatin1String("read-only.log")) {
            if (geteuid() == 0)
                QSKIP("root may write any file");
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.setPermissions(QFile::ReadOwner);
        }
        ExchangeLog log;
        QString error;
        QVERIFY(!log.open(path, &error));
        QCOMPARE(error, QStringLiteral("cannot open the log file %1: %2").arg(path, reason));
        QVERIFY(!log.isLogging());
        log.write(u"TX", u"C00\r");  // nothing, and no harm
    }

    // A full disk: the first line that fails stops the log with one notice; the
    // engine sends and shows as before.
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
        p.exchange().onReplyWindowEnd();
        p.click("Command17");
        p.serial.loseDevice();

        QCOMPARE(stopped.size(), 1);
        QVERIFY2(stopped.first().first().toString().startsWith(QLatin1String("Writing the log file /dev/full failed")),
                 qPrintable(stopped.first().first().toString()));
        QVERIFY(!log.isLogging());
        QCOMPARE(p.takeWritten(), QByteArray("CR0\rC00\r"));
        QCOMPARE(p.status(), QStringLiteral(" Power ON"));
    }
};

QTEST_GUILESS_MAIN(TstLog)
#include "tst_log.moc"
