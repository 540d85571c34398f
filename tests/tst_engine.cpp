// The exchange engine without a window: the TXD / RXD / status lines, the timers and
// the state after each action, the port choice, and the exchange log of a session
// (appended to a file; a disk that is full).

#include "EngineHarness.h"
#include "ExpectedRepeatKeys.h"
#include "exchange/ExchangeLog.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>

namespace {

// One action and the state after it: "TXD|RXD|status|awaitingReply, reply window
// and display hold running|their intervals|bytes written".
struct Step {
    const char *action, *after;
};
const Step kScript[] = {
    {"click status", " C R 0 CR |||111|500/1000|CR0\r"},
    {"event", " C R 0 CR |||111|500/1000|"},
    {"rx 0", " C R 0 CR | 0 ||011|500/1000|"},
    {"rx 0\r", " C R 0 CR | 0 0 CR | Power ON|011|500/1000|"},
    {"reply", " C R 0 CR | 0 0 CR | Power ON|001|500/1000|"},
    // The first piece decodes to nothing: the earlier status stays.
    {"click status", " C R 0 CR | 0 0 CR | Power ON|111|500/1000|CR0\r"},
    {"rx 8", " C R 0 CR | 8 | Power ON|011|500/1000|"},
    {"rx 0\r", " C R 0 CR | 8 0 CR | Stand by|011|500/1000|"},
    // MODE within the reply window of STATUS: the replies run together.
    {"click mode", " C R 1 CR | 8 0 CR | Stand by|111|500/1000|CR1\r"},
    {"rx 1\r", " C R 1 CR | 8 0 CR 1 CR | Stand by|011|500/1000|"},
    {"hold", "|||010|500/1000|"},
    {"reply", "|||000|500/1000|"},
    // No reply: the no-reply mark; a late reply still shows, traced but not decoded.
    {"click power-on", " C 0 0 CR |||111|500/1000|C00\r"},
    {"reply", " C 0 0 CR | X X X X||001|500/1000|"},
    {"rx \x06\x14H1\r\n{\x7F", " C 0 0 CR | ACK &H 1 CR LF ? ? ||001|500/1000|"},
    {"hold", "|||000|500/1000|"},
    // SEND: the text as typed and CR, with the manual intervals, which later buttons
    // keep. The late characters stay in the reply until a reply window ends.
    {"send CR PRESSURE", " C R   P R E S S U R E CR |||111|2000/2500|CR PRESSURE\r"},
    {"rx 512\r", " C R   P R E S S U R E CR | ACK &H 1 CR LF ? ? 5 1 2 CR |106 hPa|011|2000/2500|"},
    {"reply", " C R   P R E S S U R E CR | ACK &H 1 CR LF ? ? 5 1 2 CR |106 hPa|001|2000/2500|"},
    {"hold", "|||000|2000/2500|"},
    // A text that would put another command on the line is not sent at all.
    {"send CR0\rC00", "|| Not sent: CR (U+000D) at position 4 is no printable ASCII|001|2000/2500|"},
    {"hold", "|||000|2000/2500|"},
    // The port closed: the exchange runs, nothing goes out, the status line says so.
    {"close", "|||000|2000/2500|"},
    {"click status", " C R 0 CR || Not sent: Port is not open|111|2000/2500|"},
    {"reply", " C R 0 CR | X X X X| Not sent: Port is not open|001|2000/2500|"},
    {"hold", "|||000|2000/2500|"},
};

// The port and speed choices: "choice answered|port open (0: none)|ports reported
// in use|warnings|serial operations", all since the step before.
const Step kPortScript[] = {
    {"start", "|1|1||CommPort=1,Settings=19200,N,8,1,PortOpen=1,PortOpen=0,CommPort=1,PortOpen=1"},
    {"speed 12,N,8,1", "|1||Invalid settings: \"12,N,8,1\"|"},
    {"lose", "|0|0|The serial port stopped working and was closed.\ngone\n\n"
             "Choose COM1 or COM2 (COM button) to open it again.|Lost"},
    {"port 1", "true|1|||CommPort=1,PortOpen=1"},
    {"block 2", "|1|||"},
    {"block 1", "|1|||"},
    {"port 2", "false|0|0|busy,busy|PortOpen=0,CommPort=2,PortOpen=1,CommPort=1,PortOpen=1"},
    {"end", "|0|||PortOpen=0"},
};

} // namespace

class TstEngine : public QObject
{
    Q_OBJECT

private slots:
    void exchange()
    {
        Engine p;
        for (const auto &[action, after] : kScript) {
            const QString step = QString::fromLatin1(action);
            act(p, step);
            const ExchangeEngine::Timing t = p.engine.timing();
            const QString state = QStringLiteral("%1 -> %2|%3|%4|%5%6%7|%8/%9|").arg(step, p.txd(), p.rxd(), p.status())
                .arg(int(p.state().awaitingReply)).arg(t.replyWindowOpen).arg(t.displayHeld)
                .arg(t.replyWindowMs).arg(t.displayHoldMs) + QString::fromLatin1(p.takeWritten());
            QCOMPARE(state, step + QStringLiteral(" -> ") + QString::fromLatin1(after));
        }
        QCOMPARE(p.state().pressureValue, 106);
        QVERIFY(p.warnings.isEmpty());
    }

    void ports()
    {
        Engine p;
        for (const auto &[action, after] : kPortScript) {
            const QString step = QString::fromLatin1(action), arg = step.section(u' ', 1);
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
            QCOMPARE(state, step + QStringLiteral(" -> ") + QString::fromLatin1(after));
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

    // The log of a short session, appended to a file that holds a line already.
    void logSession()
    {
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("exchange.log")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("earlier line\n") > 0);
        file.close();
        Engine p;
        ExchangeLog log;
        QString error;
        QVERIFY2(log.open(file.fileName(), &error), qPrintable(error));
        log.watch(p.exchange());
        p.click("status");
        p.serial.receive(QStringLiteral("0"));
        p.serial.receive(QStringLiteral("0\r"));
        p.click("power-on");
        p.serial.receive(QString::fromLatin1("\x06\x14\x7f\xe9{\x01~\n"));
        p.serial.loseDevice(QStringLiteral("Input/output error"));
        p.click("power-on");
        log.write(u"ERROR", u"from a front end");

        // Each line: the time with milliseconds, a blank, the kind, the text.
        QVERIFY(file.open(QIODevice::ReadOnly));
        static const QRegularExpression stamp(QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3} )"),
                                              QRegularExpression::MultilineOption);
        QCOMPARE(QString::fromUtf8(file.readAll()).remove(stamp).split(u'\n'), (QStringList{
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
        p.click("status");
        p.serial.receive(QStringLiteral("00\r"));
        p.click("power-on");
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
        p.click("power-off");
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY2(file.readAll().endsWith(" TX C01<CR>\n"), qPrintable(path));
        QCOMPARE(stopped.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TstEngine)
#include "tst_engine.moc"
