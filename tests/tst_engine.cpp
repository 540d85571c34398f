// The exchange engine without a window: the TXD / RXD / status lines, the timers and
// the state after each action, the port choice, and the exchange log of a session
// (appended to a file).

#include "EngineHarness.h"
#include "ReferenceRows.h"
#include "exchange/ExchangeLog.h"

#include <QRegularExpression>
#include <QSignalSpy>

namespace {

// The lines, awaitingReply and which timers run (reply window, display hold, repeat),
// the hold intervals, and the bytes written and the engine's events since the step before.
QString lines(Engine &p)
{
    const ExchangeEngine::Timing t = p.engine.timing();
    return QStringLiteral("%1|%2|%3|%4%5%6%7|%8/%9|").arg(p.txd(), p.rxd(), p.status()).arg(int(p.state().awaitingReply))
               .arg(t.replyWindowOpen).arg(t.displayHeld).arg(t.repeating).arg(t.replyWindowMs).arg(t.displayHoldMs)
        + QString::fromLatin1(p.takeWritten()) + u'|' + std::exchange(p.events, {}).join(u',');
}

// The port open (0: none), the port reported in use, the warnings and the serial
// control's operations since the step before.
QString ports(Engine &p)
{
    const QString reported = p.portsInUse.isEmpty() ? QString() : QString::number(p.portsInUse.takeFirst());
    return QStringList{QString::number(p.serial.portOpen() ? p.serial.commPort() : 0), reported,
                       std::exchange(p.warnings, {}).join(u','), std::exchange(p.serial.log, {}).join(u',')}.join(u'|');
}

} // namespace

class TstEngine : public QObject
{
    Q_OBJECT

private slots:
    // Each step of reference/engine-exchange.rows (the lines) and engine-ports.rows (port
    // and speed choices, the start-up of a program without port options) on an engine
    // not started yet, and the state after it.
    void steps()
    {
        for (const auto &[file, state] : {std::pair{"engine-exchange.rows", &lines}, std::pair{"engine-ports.rows", &ports}}) {
            Engine p(false);
            for (const QJsonArray &row : referenceRows(file)) {
                const QString step = row[0].toString();
                act(p, step);
                QCOMPARE(step + QStringLiteral(" -> ") + state(p), step + QStringLiteral(" -> ") + row[1].toString());
            }
            QCOMPARE(p.state().pressureValue, state == &lines ? 106 : 0);
            QVERIFY(p.warnings.isEmpty());
        }
    }

    // The reply text keeps at most 32767 characters; nothing more is taken (or
    // reported) until the reply window closes.
    void rxTextCap()
    {
        Engine p;
        QSignalSpy received(&p.engine, &ExchangeEngine::received);
        p.click("power-on");
        const QString all = QStringLiteral("0\r\x06").repeated(13334) + QStringLiteral("ZZZ");
        for (qsizetype at = 0; at < all.size(); at += 1000)
            p.serial.receive(all.mid(at, 1000));
        QCOMPARE(p.state().rxText, all.left(32767));
        QCOMPARE(p.rxd(), u' ' + QStringLiteral("0 CR ACK ").repeated(10922) + QStringLiteral("0 "));
        QCOMPARE(received.size(), 33);
    }

    // Opened on a file that holds a line already (while another file is open), the log
    // of a short session (reference/session.log) is appended there. (tst_ctl's rows
    // decide a log on a disk that is full.)
    void logSession()
    {
        Engine q;
        ExchangeLog log;
        QString error;
        QTemporaryDir dir;
        QFile file(writeFile(dir, QStringLiteral("exchange.log"), "earlier line\n"));
        QVERIFY(log.open(dir.filePath(QStringLiteral("first.log")), &error));
        QVERIFY2(log.open(file.fileName(), &error), qPrintable(error));
        log.watch(q.exchange());
        for (const char *step : {"click status", "rx 0", "rx 0\r", "click power-on", "rx \x06\x14\x7f\xe9{\x01~\n", "lose Input/output error",
                                 "click power-on"})
            act(q, QString::fromLatin1(step));
        log.write(u"ERROR", u"from a front end");

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
