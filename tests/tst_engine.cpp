// The exchange engine without a window: the TXD / RXD / status lines, the timers and
// the state after each action, the port choice, and the exchange log of a session
// (appended to a file; a disk that is full).

#include "EngineHarness.h"
#include "ExpectedRepeatKeys.h"
#include "ReferenceRows.h"
#include "exchange/ExchangeLog.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>

class TstEngine : public QObject
{
    Q_OBJECT

private slots:
    // Each action of reference/engine-exchange.rows and the state after it.
    void exchange()
    {
        Engine p;
        for (const QJsonArray &row : referenceRows("engine-exchange.rows")) {
            const QString step = row[0].toString();
            act(p, step);
            const ExchangeEngine::Timing t = p.engine.timing();
            const QString state = QStringLiteral("%1 -> %2|%3|%4|%5%6%7|%8/%9|").arg(step, p.txd(), p.rxd(), p.status())
                .arg(int(p.state().awaitingReply)).arg(t.replyWindowOpen).arg(t.displayHeld)
                .arg(t.replyWindowMs).arg(t.displayHoldMs) + QString::fromLatin1(p.takeWritten());
            QCOMPARE(state, step + QStringLiteral(" -> ") + row[1].toString());
        }
        QCOMPARE(p.state().pressureValue, 106);
        QVERIFY(p.warnings.isEmpty());
    }

    // The port and speed choices of reference/engine-ports.rows, and what follows each.
    void ports()
    {
        Engine p;
        for (const QJsonArray &row : referenceRows("engine-ports.rows")) {
            const QString step = row[0].toString(), arg = step.section(u' ', 1);
            QString chosen;
            if (step.startsWith(u"port "))
                chosen = p.engine.choosePort(arg.toInt()) ? QStringLiteral("true") : QStringLiteral("false");
            else if (step.startsWith(u"block "))
                p.serial.unopenable.insert(arg.toInt(), QStringLiteral("busy"));
            else if (step.startsWith(u"speed "))
                p.engine.chooseSpeed(arg);
            else if (step == u"lose")
                p.serial.loseDevice(QStringLiteral("gone"));
            else if (step == u"end")
                p.engine.end();
            const QString reported = p.portsInUse.isEmpty() ? QString() : QString::number(p.portsInUse.takeFirst());
            const QString state = QStringLiteral("%1 -> %2|%3|").arg(step, chosen).arg(p.serial.portOpen() ? p.serial.commPort() : 0)
                + QStringList{reported, std::exchange(p.warnings, {}).join(u','), std::exchange(p.serial.log, {}).join(u',')}.join(u'|');
            QCOMPARE(state, step + QStringLiteral(" -> ") + row[1].toString());
        }
    }

    // A tap: the key's code once, with the hold intervals of a press, and no repeat.
    void tap()
    {
        Engine p;
        QVERIFY(p.use(&ExchangeEngine::tap, "brightness-up") && !p.use(&ExchangeEngine::tap, "status"));
        QCOMPARE(p.takeWritten(), QByteArray("C20\r"));
        const ExchangeEngine::Timing t = p.engine.timing();
        QVERIFY(!t.repeating && t.replyWindowOpen && t.displayHeld && t.replyWindowMs == 25 && t.displayHoldMs == 25);
        QVERIFY(p.use(&ExchangeEngine::tap, "cursor-up") && !p.engine.timing().repeating);  // an arrow too
        QCOMPARE(p.takeWritten(), QByteArray("C3C\r"));
    }

    // A program without port options opens COM1 once, at the speed it asks for.
    void startOnce()
    {
        for (const bool opens : {true, false}) {
            Engine p(false);
            if (!opens)
                p.serial.unopenable.insert(1, QStringLiteral("busy"));
            QCOMPARE(p.engine.startOnce(QStringLiteral("9600,N,8,1")), opens);
            QCOMPARE(p.serial.log.join(u','), QStringLiteral("CommPort=1,Settings=9600,N,8,1,PortOpen=1"));
            QCOMPARE(p.state().commSettings, QStringLiteral("9600,N,8,1"));
            QCOMPARE(p.portsInUse, opens ? QList<int>{1} : QList<int>{});
            QCOMPARE(p.warnings, opens ? QStringList() : QStringList{QStringLiteral("busy")});
        }
    }

    // For a front end that reads replies itself: the wire and the reply window as ever;
    // no lines, nothing decoded, no display hold.
    void linesHidden()
    {
        Engine p;
        p.engine.setLinesShown(false);
        QSignalSpy lines(&p.engine, &ExchangeEngine::lineChanged), decoded(&p.engine, &ExchangeEngine::readingDecoded),
            ended(&p.engine, &ExchangeEngine::replyWindowEnded);
        p.click("status");
        p.serial.receive(QStringLiteral("00\r"));
        QCOMPARE(p.takeWritten() + p.received.toLatin1(), QByteArray("CR0\r00\r"));
        QVERIFY(p.engine.timing().replyWindowOpen && !p.engine.timing().displayHeld);
        fire(p.engine, "replyWindow");
        QCOMPARE(ended.size(), 1);
        QVERIFY(ended.first().first().toBool());
        QCOMPARE(lines.size() + decoded.size(), 0);
        QVERIFY(p.txd().isEmpty() && p.rxd().isEmpty() && p.status().isEmpty());
    }

    // The reply text keeps at most 32767 characters; nothing more is taken (or
    // reported) until the reply window closes.
    void rxTextCap()
    {
        Engine p;
        QSignalSpy received(&p.engine, &ExchangeEngine::received);
        p.click("power-on");
        const QString all = QStringLiteral("0\r\x06").repeated(13334);
        for (qsizetype at = 0; at < all.size(); at += 1000)
            p.serial.receive(all.mid(at, 1000));
        const QString kept = all.left(32767);
        QCOMPARE(p.state().rxText, kept);
        QCOMPARE(p.rxd(), u' ' + QStringLiteral("0 CR ACK ").repeated(10922) + QStringLiteral("0 "));
        QCOMPARE(received.size(), 33);
        p.serial.receive(QStringLiteral("ZZZ"));
        QCOMPARE(p.state().rxText, kept);
        QCOMPARE(received.size(), 33);
    }

    // A log opened on a full disk while another file is open: the first line that fails
    // stops it with one notice; the engine sends as before. Opened again on a file that holds a line already, the log of a
    // short session (reference/session.log) is appended there.
    void logSession()
    {
        Engine p, q;
        ExchangeLog log;
        QString error;
        QTemporaryDir dir;
        QVERIFY(!log.isLogging());  // not opened yet
        QVERIFY(log.open(dir.filePath(QStringLiteral("first.log")), &error));  // then opened on another while open
        QVERIFY2(log.open(QStringLiteral("/dev/full"), &error), qPrintable(error));
        log.watch(p.exchange());
        QSignalSpy stopped(&log, &ExchangeLog::stopped);
        p.click("status");
        p.serial.receive(QStringLiteral("00\r"));
        p.click("power-on");
        QCOMPARE(stopped.size(), 1);
        QCOMPARE(stopped.first().first().toString(),
                 QStringLiteral("Writing the log file /dev/full failed (No space left on device); nothing more is logged."));
        QVERIFY(!log.isLogging());
        QCOMPARE(p.takeWritten(), QByteArray("CR0\rC00\r"));

        QFile file(dir.filePath(QStringLiteral("exchange.log")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("earlier line\n") > 0);
        file.close();
        QVERIFY2(log.open(file.fileName(), &error), qPrintable(error));
        QVERIFY(log.isLogging());
        log.watch(q.exchange());
        q.click("status");
        q.serial.receive(QStringLiteral("0"));
        q.serial.receive(QStringLiteral("0\r"));
        q.click("power-on");
        q.serial.receive(QString::fromLatin1("\x06\x14\x7f\xe9{\x01~\n"));
        q.serial.loseDevice(QStringLiteral("Input/output error"));
        q.click("power-on");
        log.write(u"ERROR", u"from a front end");
        QCOMPARE(stopped.size(), 1);

        // Each line: the time with milliseconds, a blank, the kind, the text.
        QVERIFY(file.open(QIODevice::ReadOnly));
        static const QRegularExpression stamp(QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3} )"),
                                              QRegularExpression::MultilineOption);
        QFile expected(QFileInfo(QStringLiteral(__FILE__)).absolutePath() + QStringLiteral("/reference/session.log"));
        QVERIFY(expected.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(file.readAll()).remove(stamp).split(u'\n'), QString::fromUtf8(expected.readAll()).split(u'\n'));
    }
};

QTEST_GUILESS_MAIN(TstEngine)
#include "tst_engine.moc"
