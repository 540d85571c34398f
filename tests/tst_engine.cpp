// The exchange engine without a window: what each key puts on the wire, the TXD /
// RXD / status lines, the timers and the state after each action, the port choice.

#include "EngineHarness.h"
#include "ExpectedOneShots.h"
#include "ExpectedRepeatKeys.h"

#include <QSignalSpy>

namespace {

// The trace of printable text, CR and ACK (the whole rule is tested in tst_tracerule).
QString trace(QStringView text)
{
    QString t(u' ');
    for (const QChar c : text)
        t += c == u'\r' ? QStringLiteral("CR ") : c == QChar(6) ? QStringLiteral("ACK ") : QString(c) + u' ';
    return t;
}

// Presses the key and checks its first command and two repeats.
void pressAndRepeat(Engine &p, const KeyRow &k, int repeatMs, int replyWindowMs, int displayHoldMs)
{
    p.press(k.control);
    for (int i = 0; i < 3; ++i) {
        if (i > 0)
            tick(p.engine.repeatTimer);
        QCOMPARE(p.takeWritten(), wire(k));
        checkHeldExchange(p, k, repeatMs, replyWindowMs, displayHoldMs);
    }
}

// One action and the state after it: "TXD|RXD|status|awaitingReply, reply window
// and display hold running|bytes written".
struct Step {
    const char *action, *after;
};
const Step kScript[] = {
    {"click Command44", " C R 0 CR |||111|CR0\r"},
    {"event", " C R 0 CR |||111|"},
    {"rx 0", " C R 0 CR | 0 ||011|"},
    {"event", " C R 0 CR | 0 ||011|"},
    {"rx 0\r", " C R 0 CR | 0 0 CR | Power ON|011|"},
    {"reply", " C R 0 CR | 0 0 CR | Power ON|001|"},
    // The first piece decodes to nothing: the earlier status stays.
    {"click Command44", " C R 0 CR | 0 0 CR | Power ON|111|CR0\r"},
    {"rx 8", " C R 0 CR | 8 | Power ON|011|"},
    {"rx 0\r", " C R 0 CR | 8 0 CR | Stand by|011|"},
    // MODE within the reply window of STATUS: the replies run together.
    {"click Command45", " C R 1 CR | 8 0 CR | Stand by|111|CR1\r"},
    {"rx 1\r", " C R 1 CR | 8 0 CR 1 CR | Stand by|011|"},
    {"hold", "|||010|"},
    {"reply", "|||000|"},
    // No reply: the no-reply mark; a late reply still shows, traced but not decoded.
    {"click Command17", " C 0 0 CR |||111|C00\r"},
    {"reply", " C 0 0 CR | X X X X||001|"},
    {"rx \x06\x14H1\r\n{\x7F", " C 0 0 CR | ACK &H 1 CR LF ? ? ||001|"},
    {"hold", "|||000|"},
    // The port closed: the exchange runs, nothing goes out, the status line says so.
    {"close", "|||000|"},
    {"click Command44", " C R 0 CR || Not sent: Port is not open|111|"},
    {"reply", " C R 0 CR | X X X X| Not sent: Port is not open|001|"},
    {"hold", "|||000|"},
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
            if (step.startsWith(u"click "))
                p.click(action + 6);
            else if (step.startsWith(u"rx "))
                p.serial.receive(step.mid(3));
            else if (step == u"event")
                p.serial.raiseEvent(1001);
            else if (step == u"close")
                p.serial.setPortOpen(false);
            else
                tick(step == u"reply" ? p.engine.replyTimer : p.engine.displayHoldTimer);
            const QString state = QStringLiteral("%1 -> %2|%3|%4|%5%6%7|%8").arg(step, p.txd(), p.rxd(), p.status())
                .arg(int(p.state().awaitingReply)).arg(p.engine.replyTimer.isActive()).arg(p.engine.displayHoldTimer.isActive())
                .arg(QString::fromLatin1(p.takeWritten()));
            QCOMPARE(state, step + QStringLiteral(" -> ") + QString::fromLatin1(after));
        }
        QVERIFY(p.warnings.isEmpty());
    }

    // Each button: its code and CR on the wire, the trace, the hold intervals it sets
    // (or leaves), and the repeat interval and keyMode set by the menu buttons only.
    void oneShot_data()
    {
        QTest::addColumn<int>("row");
        for (int i = 0; i < int(std::size(kExpectedOneShots)); ++i)
            QTest::addRow("%s %s", kExpectedOneShots[i].control, kExpectedOneShots[i].code) << i;
    }
    void oneShot()
    {
        QFETCH(int, row);
        const OneShotRow &b = kExpectedOneShots[row];
        Engine p;
        p.engine.repeatTimer.setInterval(777);
        p.engine.replyTimer.setInterval(333);
        p.engine.displayHoldTimer.setInterval(444);
        p.click(b.control);
        QCOMPARE(p.takeWritten(), QByteArray(b.code) + '\r');
        QCOMPARE(p.txd(), trace(QString::fromLatin1(b.code) + u'\r'));
        QCOMPARE(p.state().awaitingReply, quint8(1));
        QVERIFY(p.engine.replyTimer.isActive() && p.engine.displayHoldTimer.isActive() && !p.engine.repeatTimer.isActive());
        QCOMPARE(p.engine.replyTimer.interval(), b.replyWindowMs == 500 ? 333 : b.replyWindowMs);
        QCOMPARE(p.engine.displayHoldTimer.interval(), b.displayHoldMs == 1000 ? 444 : b.displayHoldMs);
        QCOMPARE(p.engine.repeatTimer.interval(), b.menuContext ? 200 : 777);
        QCOMPARE(p.state().keyMode, quint8(b.menuContext ? 1 : 0));
    }

    // Every auto-repeat key: press, repeats, a reply while held, release, ticks after
    // it. An earlier status stays until the display hold ends; for every other key
    // that happens while the key is held, and the release starts the hold again.
    void repeatKey_data() { addKeyRows(); }
    void repeatKey()
    {
        QFETCH(int, key);
        const KeyRow &k = kKeys[key];
        const bool holdEnded = key % 2;
        Engine p;
        p.click("Command44");
        p.serial.receive(QStringLiteral("00\r"));
        tick(p.engine.replyTimer);
        p.takeWritten();
        tick(p.engine.repeatTimer);  // nothing held: nothing to send
        QCOMPARE(p.takeWritten(), QByteArray());

        pressAndRepeat(p, k, k.repeat(), k.reply(), k.hold());
        QCOMPARE(p.state().keyMode, quint8(0));
        p.serial.receive(QStringLiteral("\x06"));
        QCOMPARE(p.rxd(), QStringLiteral(" ACK "));
        if (holdEnded) {
            tick(p.engine.replyTimer);
            tick(p.engine.displayHoldTimer);
        }
        p.release(k.control);
        QCOMPARE(p.takeWritten(), QByteArray());
        checkReleasedExchange(p, k, k.repeat(), 0);
        QCOMPARE(p.status(), holdEnded ? QString() : QStringLiteral(" Power ON"));
        checkTicksSendNothing(p);
    }

    // The arrows keep the repeat interval the last setter left and take the hold
    // intervals from keyMode: 1 (menu) -> 150/190, 3 (zoom) -> 5/5, else as they are.
    void arrows_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<int>("arrow");  // index in kKeys
        QTest::addColumn<int>("repeatMs");
        QTest::addColumn<int>("replyWindowMs");
        QTest::addColumn<int>("displayHoldMs");
        QTest::addColumn<int>("keyMode");
        QTest::newRow("start") << "" << 12 << 200 << 500 << 1000 << 0;
        QTest::newRow("MENU ON") << "click Command23" << 9 << 200 << 150 << 190 << 1;
        QTest::newRow("A-IMAGE") << "click Command13" << 10 << 200 << 150 << 190 << 1;
        QTest::newRow("D.Zoom") << "hold Command48" << 11 << 5 << 5 << 5 << 3;
        QTest::newRow("D.Zoom, MENU ON") << "hold Command48,click Command23" << 12 << 200 << 150 << 190 << 1;
        QTest::newRow("MENU ON, D.Zoom") << "click Command23,hold Command49" << 9 << 5 << 5 << 5 << 3;
        QTest::newRow("VOL +") << "hold Command1" << 10 << 250 << 500 << 1000 << 0;
        QTest::newRow("SELECT") << "hold Command6" << 11 << 500 << 500 << 1000 << 0;
        QTest::newRow("MENU ON, VOL +") << "click Command23,hold Command1" << 12 << 250 << 150 << 190 << 1;
        QTest::newRow("D.Zoom, SELECT") << "hold Command48,hold Command6" << 9 << 500 << 5 << 5 << 3;
        QTest::newRow("picture mode") << "click Command4" << 10 << 200 << 2000 << 2500 << 0;
        QTest::newRow("MENU ON, picture mode") << "click Command23,click Command4" << 11 << 200 << 150 << 190 << 1;
    }
    void arrows()
    {
        QFETCH(QString, steps);
        QFETCH(int, arrow);
        QFETCH(int, repeatMs);
        QFETCH(int, replyWindowMs);
        QFETCH(int, displayHoldMs);
        QFETCH(int, keyMode);
        const KeyRow &k = kKeys[arrow];
        Engine p;
        for (const QString &step : steps.split(u',', Qt::SkipEmptyParts)) {
            const QByteArray name = step.section(u' ', 1).toLatin1();
            if (step.startsWith(u"click")) {
                p.click(name.constData());
            } else {
                p.press(name.constData());
                p.release(name.constData());
            }
        }
        p.takeWritten();
        QCOMPARE(int(p.state().keyMode), keyMode);
        pressAndRepeat(p, k, repeatMs, replyWindowMs, displayHoldMs);
        QCOMPARE(int(p.state().keyMode), keyMode);
        p.release(k.control);
        QCOMPARE(p.takeWritten(), QByteArray());
        checkReleasedExchange(p, k, repeatMs, keyMode);
        checkTicksSendNothing(p);
    }

    // SEND: the text as typed and CR, the manual hold intervals; only an exact query decodes.
    void manualEntry_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QString>("status");
        QTest::addColumn<int>("pressureValue");
        QTest::newRow("empty box") << "" << "00\r" << "" << 0;
        QTest::newRow("CR0") << "CR0" << "00\r" << " Power ON" << 0;
        QTest::newRow("CR PRESSURE") << "CR PRESSURE" << "512\r" << "650 hPa" << 650;
    }
    void manualEntry()
    {
        QFETCH(QString, typed);
        QFETCH(QString, reply);
        QFETCH(QString, status);
        QFETCH(int, pressureValue);
        Engine p;
        p.engine.send(typed);
        QCOMPARE(p.takeWritten(), typed.toLatin1() + '\r');
        QCOMPARE(p.txd(), trace(typed + u'\r'));
        QCOMPARE(p.state().manualText, typed);
        QVERIFY(p.engine.replyTimer.isActive() && p.engine.displayHoldTimer.isActive());
        QCOMPARE(p.engine.replyTimer.interval(), 2000);
        QCOMPARE(p.engine.displayHoldTimer.interval(), 2500);
        p.serial.receive(reply);
        QCOMPARE(p.status(), status);
        QCOMPARE(int(p.state().pressureValue), pressureValue);
    }

    // The reply text keeps at most 32767 characters; nothing more is taken (or
    // reported) until the reply window closes.
    void rxTextCap()
    {
        Engine p;
        QSignalSpy received(&p.engine, &ExchangeEngine::received);
        p.click("Command17");
        const QString all = QStringLiteral("0\r\x06").repeated(13334);
        for (qsizetype at = 0; at < all.size(); at += 1000)
            p.serial.receive(all.mid(at, 1000));
        const QString kept = all.left(32767);
        QCOMPARE(p.state().rxText, kept);
        QCOMPARE(p.rxd(), trace(kept));
        QCOMPARE(received.size(), 33);
        p.serial.receive(QStringLiteral("ZZZ"));
        QCOMPARE(p.state().rxText, kept);
        QCOMPARE(received.size(), 33);
        tick(p.engine.replyTimer);
        p.serial.receive(QStringLiteral("AB\r"));
        QCOMPARE(p.rxd(), QStringLiteral(" A B CR "));
    }

    void unknownControl()
    {
        Engine p;
        QVERIFY(!p.engine.click(u"Command1"));  // an auto-repeat key, not a one-shot button
        QVERIFY(!p.engine.press(u"Command17"));
        QVERIFY(!p.engine.release(u"Command99"));
        QVERIFY(p.serial.written.isEmpty() && p.txd().isEmpty() && !p.engine.replyTimer.isActive());
    }

    void startAndEnd()
    {
        Engine p;
        QCOMPARE(p.serial.log, (QStringList{"CommPort=1", "Settings=19200,N,8,1", "PortOpen=1", "PortOpen=0", "CommPort=1", "PortOpen=1"}));
        QCOMPARE(p.portsInUse, QList<int>{1});
        QVERIFY(p.warnings.isEmpty());
        p.engine.end();
        QVERIFY(!p.serial.portOpen());
    }

    // A failed port choice warns and reports the option of the port really in use (0: none).
    void portChoice_data()
    {
        QTest::addColumn<QList<int>>("unopenable");
        QTest::addColumn<int>("port");
        QTest::addColumn<bool>("chosen");
        QTest::addColumn<int>("openOn");  // 0: closed
        QTest::addColumn<QList<int>>("reported");
        QTest::addColumn<int>("warnings");
        QTest::newRow("COM2") << QList<int>{} << 2 << true << 2 << QList<int>{} << 0;
        QTest::newRow("COM1 again") << QList<int>{} << 1 << true << 1 << QList<int>{} << 0;
        QTest::newRow("COM2 unopenable: back on COM1") << QList<int>{2} << 2 << false << 1 << QList<int>{1} << 1;
        QTest::newRow("neither opens") << QList<int>{1, 2} << 2 << false << 0 << QList<int>{0} << 2;
    }
    void portChoice()
    {
        QFETCH(QList<int>, unopenable);
        QFETCH(int, port);
        QFETCH(bool, chosen);
        QFETCH(int, openOn);
        QFETCH(QList<int>, reported);
        QFETCH(int, warnings);
        Engine p;
        p.portsInUse.clear();
        for (int n : unopenable)
            p.serial.unopenable.insert(n, QStringLiteral("busy"));
        QCOMPARE(p.engine.choosePort(port), chosen);
        QCOMPARE(p.serial.portOpen() ? p.serial.commPort() : 0, openOn);
        QCOMPARE(p.portsInUse, reported);
        QCOMPARE(p.warnings, QStringList(warnings, QStringLiteral("busy")));
    }

    // A speed the port refuses is reported; the line keeps the speed it had.
    void speedChoice()
    {
        Engine p;
        p.engine.chooseSpeed(QStringLiteral("9600,N,8,1"));
        QCOMPARE(p.serial.settings(), QStringLiteral("9600,N,8,1"));
        QVERIFY(p.warnings.isEmpty());
        p.engine.chooseSpeed(QStringLiteral("12,N,8,1"));
        QCOMPARE(p.warnings, QStringList{QStringLiteral("Invalid settings: \"12,N,8,1\"")});
        QCOMPARE(p.serial.settings(), QStringLiteral("9600,N,8,1"));
    }

    void portLost()
    {
        Engine p;
        p.portsInUse.clear();
        p.serial.loseDevice(QStringLiteral("gone"));
        QCOMPARE(p.portsInUse, QList<int>{0});
        QCOMPARE(p.warnings, QStringList{QStringLiteral(
            "The serial port stopped working and was closed.\ngone\n\nChoose COM1 or COM2 (COM button) to open it again.")});
    }
};

QTEST_GUILESS_MAIN(TstEngine)
#include "tst_engine.moc"
