// The exchange engine without a window: what each button puts on the wire, the
// TXD / RXD / status lines, the reply window and the display hold, replies in
// pieces, status decoding, the manual entry and the mended faults.

#include "EngineHarness.h"
#include "ExpectedOneShots.h"
#include "ExpectedRepeatKeys.h"
#include "TestSupport.h"

#include "exchange/StatusDecoding.h"
#include "keys/CommandTable.h"

#include <QSet>

namespace {

// The trace of printable text, CR and ACK, written out independently of the window
// (the whole rule is tested in tst_tracerule).
QString trace(QStringView text)
{
    QString t(u' ');
    for (const QChar c : text)
        t += c == u'\r' ? QStringLiteral("CR ") : c == QChar(6) ? QStringLiteral("ACK ") : QString(c) + u' ';
    return t;
}

// A reply text that goes through printable characters, CR and ACK.
QString sampleReply(qsizetype length)
{
    QString text;
    for (qsizetype i = 0; i < length; ++i)
        text += i % 97 == 96 ? QChar(u'\r') : i % 89 == 88 ? QChar(6) : QChar(char16_t(33 + (i * 31) % 90));
    return text;
}

void sendManual(Engine &p, const QString &text)
{
    p.engine.send(text);
}

// A STATUS exchange whose " Power ON" stays on the status line; the reply window is closed.
void earlierStatus(Engine &p)
{
    p.click("Command44");
    p.serial.receive(QStringLiteral("00\r"));
    QCOMPARE(p.status(), QStringLiteral(" Power ON"));
    tick(p.engine.replyTimer);
}

// Presses the key, checks the first command and `ticks` repeats.
void pressAndRepeat(Engine &p, const KeyRow &k, int ticks, int repeatMs, int replyWindowMs, int displayHoldMs)
{
    p.press(k.control);
    for (int i = 0; i <= ticks; ++i) {
        if (i > 0)
            tick(p.engine.repeatTimer);
        QCOMPARE(p.takeWritten(), wire(k));  // one command per tick, the same one
        checkHeldExchange(p, k, repeatMs, replyWindowMs, displayHoldMs);
    }
}

} // namespace

class TstEngine : public QObject
{
    Q_OBJECT

private slots:
    // Each button: exactly its code and one CR on the wire, the trace, the hold
    // intervals, and the repeat interval and KeyMode touched by the menu buttons only.
    void oneShot_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("code");
        QTest::addColumn<int>("replyWindowMs");
        QTest::addColumn<int>("displayHoldMs");
        QTest::addColumn<bool>("menuContext");
        QSet<QString> expected, inTable;  // the rows cover exactly the window's buttons
        for (const OneShotRow &row : kExpectedOneShots) {
            expected.insert(QString::fromLatin1(row.control));
            QTest::addRow("%s %s", row.control, row.code) << QString::fromLatin1(row.control)
                << QString::fromLatin1(row.code) << row.replyWindowMs << row.displayHoldMs << row.menuContext;
        }
        for (const keys::OneShot &b : keys::kOneShots)
            inTable.insert(QString::fromLatin1(b.control.data(), qsizetype(b.control.size())));
        QCOMPARE(expected.size(), 56);
        QCOMPARE(inTable, expected);
    }
    void oneShot()
    {
        QFETCH(QString, control);
        QFETCH(QString, code);
        QFETCH(int, replyWindowMs);
        QFETCH(int, displayHoldMs);
        QFETCH(bool, menuContext);
        Engine p;
        p.engine.repeatTimer.setInterval(777);  // no button uses it
        p.click(control.toLatin1().constData());
        QCOMPARE(p.takeWritten(), code.toLatin1() + '\r');
        QCOMPARE(p.txd(), trace(code + u'\r'));
        QCOMPARE(p.rxd(), QString());
        QCOMPARE(p.status(), QString());
        QCOMPARE(p.state().txText, code + u'\r');
        QVERIFY(p.engine.replyTimer.isActive() && p.engine.displayHoldTimer.isActive());
        QCOMPARE(p.engine.replyTimer.interval(), replyWindowMs);
        QCOMPARE(p.engine.displayHoldTimer.interval(), displayHoldMs);
        QCOMPARE(p.state().awaitingReply, quint8(1));
        QCOMPARE(p.engine.repeatTimer.interval(), menuContext ? 200 : 777);
        QCOMPARE(p.state().keyMode, quint8(menuContext ? 1 : 0));
        QVERIFY(!p.engine.repeatTimer.isActive());
    }

    // A button that sets no hold intervals runs with whatever the last one left.
    void holdIntervalsCarryOver_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<QByteArray>("secondBytes");
        QTest::addColumn<int>("replyWindowMs");
        QTest::addColumn<int>("displayHoldMs");
        QTest::newRow("picture mode, then STATUS") << "Command4" << "Command44" << QByteArray("CR0\r") << 2000 << 2500;
        QTest::newRow("source, then SOUND MUTE ON") << "Command69" << "Command19" << QByteArray("C0B\r") << 5000 << 5500;
    }
    void holdIntervalsCarryOver()
    {
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(QByteArray, secondBytes);
        QFETCH(int, replyWindowMs);
        QFETCH(int, displayHoldMs);
        Engine p;
        p.click(first.toLatin1().constData());
        p.takeWritten();
        p.click(second.toLatin1().constData());
        QCOMPARE(p.takeWritten(), secondBytes);
        QVERIFY(p.engine.replyTimer.isActive() && p.engine.displayHoldTimer.isActive());
        QCOMPARE(p.engine.replyTimer.interval(), replyWindowMs);
        QCOMPARE(p.engine.displayHoldTimer.interval(), displayHoldMs);
    }

    // Idle -> Waiting -> Receiving -> reply window closed -> Idle.
    void exchangeStates()
    {
        Engine p;
        QCOMPARE(p.state().awaitingReply, quint8(0));
        QVERIFY(!p.engine.replyTimer.isActive() && !p.engine.displayHoldTimer.isActive());

        p.click("Command44");
        QCOMPARE(p.state().awaitingReply, quint8(1));
        QVERIFY(p.engine.replyTimer.isActive() && p.engine.displayHoldTimer.isActive());
        QCOMPARE(p.txd(), QStringLiteral(" C R 0 CR "));
        QCOMPARE(p.rxd(), QString());

        p.serial.receive(QStringLiteral("00\r"));
        QCOMPARE(p.state().awaitingReply, quint8(0));
        QCOMPARE(p.state().rxText, QStringLiteral("00\r"));
        QCOMPARE(p.rxd(), QStringLiteral(" 0 0 CR "));
        QCOMPARE(p.status(), QStringLiteral(" Power ON"));

        // The reply window closes; the lines stay for the display hold.
        tick(p.engine.replyTimer);
        QVERIFY(!p.engine.replyTimer.isActive() && p.engine.displayHoldTimer.isActive());
        QCOMPARE(p.state().rxText, QString());
        QCOMPARE(p.rxd(), QStringLiteral(" 0 0 CR "));
        QCOMPARE(p.txd(), QStringLiteral(" C R 0 CR "));
        QCOMPARE(p.status(), QStringLiteral(" Power ON"));

        tick(p.engine.displayHoldTimer);
        QVERIFY(!p.engine.displayHoldTimer.isActive() && !p.engine.replyTimer.isActive());
        QCOMPARE(p.txd(), QString());
        QCOMPARE(p.rxd(), QString());
        QCOMPARE(p.status(), QString());
    }

    // No reply within the window: the no-reply mark; a reply coming later still shows.
    void lateReplyAfterNoReplyMark()
    {
        Engine p;
        p.click("Command44");
        tick(p.engine.replyTimer);
        QCOMPARE(p.rxd(), QStringLiteral(" X X X X"));
        QCOMPARE(p.state().awaitingReply, quint8(0));
        QVERIFY(!p.engine.replyTimer.isActive());
        QCOMPARE(p.txd(), QStringLiteral(" C R 0 CR "));
        QCOMPARE(p.status(), QString());
        p.serial.receive(QStringLiteral("00\r"));
        QCOMPARE(p.rxd(), QStringLiteral(" 0 0 CR "));
        tick(p.engine.displayHoldTimer);
        QCOMPARE(p.txd() + p.rxd() + p.status(), QString());
    }

    void replyInPieces_data()
    {
        QTest::addColumn<bool>("withEarlierStatus");
        QTest::addColumn<QString>("piece1");
        QTest::addColumn<QString>("rxd1");
        QTest::addColumn<QString>("status1");
        QTest::addColumn<QString>("piece2");
        QTest::addColumn<QString>("rxd2");
        QTest::addColumn<QString>("status2");
        QTest::newRow("0 | 0 CR") << false << "0" << " 0 " << "" << "0\r" << " 0 0 CR " << " Power ON";
        QTest::newRow("8 | 0 CR") << false << "8" << " 8 " << "" << "0\r" << " 8 0 CR " << " Stand by";
        // The first piece decodes to nothing: the status line is not written at all.
        QTest::newRow("8 | 0 CR over an earlier status")
            << true << "8" << " 8 " << " Power ON" << "0\r" << " 8 0 CR " << " Stand by";
    }
    void replyInPieces()
    {
        QFETCH(bool, withEarlierStatus);
        QFETCH(QString, piece1);
        QFETCH(QString, rxd1);
        QFETCH(QString, status1);
        QFETCH(QString, piece2);
        QFETCH(QString, rxd2);
        QFETCH(QString, status2);
        Engine p;
        if (withEarlierStatus)
            earlierStatus(p);
        p.click("Command44");
        p.serial.receive(piece1);
        QCOMPARE(p.rxd(), rxd1);
        QCOMPARE(p.status(), status1);
        p.serial.receive(piece2);
        QCOMPARE(p.rxd(), rxd2);
        QCOMPARE(p.status(), status2);
        QCOMPARE(p.state().rxText, piece1 + piece2);
    }

    // MODE sent before the reply window of STATUS closed: the replies run together on
    // RXD and the MODE decoder sees the start of the STATUS reply.
    void twoCommandsInOneReplyWindow()
    {
        Engine p;
        p.click("Command44");
        p.serial.receive(QStringLiteral("00\r"));
        p.click("Command45");
        QCOMPARE(p.takeWritten(), QByteArray("CR0\rCR1\r"));
        QCOMPARE(p.txd(), QStringLiteral(" C R 1 CR "));
        p.serial.receive(QStringLiteral("1\r"));
        QCOMPARE(p.rxd(), QStringLiteral(" 0 0 CR 1 CR "));
        QCOMPARE(p.status(), QStringLiteral(" Power ON"));
    }

    void statusQueries_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QString>("status");
        QTest::newRow("STATUS") << "Command44" << "00\r" << " Power ON";
        QTest::newRow("MODE") << "Command45" << "3\r" << " Video";
        QTest::newRow("SETTING") << "Command47" << "10\r" << " Top/Bottom reversal";
        QTest::newRow("L-TIME") << "Command46" << "12345\r" << " 1 2 3 4 5 CR  Hour Use";
        // Trace " 0 3 2 . 5     4 1 . 0   0 3 8 . 5 CR ": characters 1..10, 15..22 and
        // 25..34 go between the labels.
        QTest::newRow("TEMP") << "Command54" << "032.5  41.0 038.5\r"
                              << "  S1= 0 3 2 . 5 C  ,   S2=  4 1 . 0 C , S3= 0 3 8 . 5 C";
    }
    void statusQueries()
    {
        QFETCH(QString, control);
        QFETCH(QString, reply);
        QFETCH(QString, status);
        Engine p;
        p.click(control.toLatin1().constData());
        p.serial.receive(reply);
        QCOMPARE(p.rxd(), trace(reply));
        QCOMPARE(p.status(), status);
    }

    // A reply to a command that is no query shows on RXD only, every kind of character
    // traced; the earlier status stays.
    void replyToNonQuery()
    {
        Engine p;
        earlierStatus(p);
        p.click("Command17");
        p.serial.receive(QString(QChar(6)) + QChar(20) + QStringLiteral("H1\r\n{\x7F") + QChar(0x20AC));
        QCOMPARE(p.rxd(), QStringLiteral(" ACK &H 1 CR LF ? ? ? "));
        QCOMPARE(p.status(), QStringLiteral(" Power ON"));
        QCOMPARE(p.state().awaitingReply, quint8(0));
    }

    // A comm event other than "received" changes nothing, also in the middle of a reply.
    void otherCommEventChangesNothing()
    {
        Engine p;
        p.click("Command44");
        p.serial.raiseEvent(1001);
        QCOMPARE(p.state().awaitingReply, quint8(1));
        QCOMPARE(p.state().rxText, QString());
        QCOMPARE(p.rxd() + p.status(), QString());
        QCOMPARE(p.txd(), QStringLiteral(" C R 0 CR "));
        QVERIFY(p.engine.replyTimer.isActive() && p.engine.displayHoldTimer.isActive());
        p.serial.receive(QStringLiteral("0"));
        p.serial.raiseEvent(1001);
        QCOMPARE(p.state().rxText, QStringLiteral("0"));
        QCOMPARE(p.rxd(), QStringLiteral(" 0 "));
        QCOMPARE(p.status(), QString());
        p.serial.receive(QStringLiteral("0\r"));
        QCOMPARE(p.rxd(), QStringLiteral(" 0 0 CR "));
        QCOMPARE(p.status(), QStringLiteral(" Power ON"));
    }

    // Mended: the port was closed after start-up. The button still runs its exchange,
    // without a warning box, and the status line says nothing went out.
    void portClosed()
    {
        Engine p;
        p.serial.setPortOpen(false);
        p.takeWritten();
        p.click("Command17");
        QVERIFY(p.serial.written.isEmpty());
        QCOMPARE(p.txd(), QStringLiteral(" C 0 0 CR "));
        QVERIFY(p.engine.replyTimer.isActive() && p.engine.displayHoldTimer.isActive());
        QCOMPARE(p.state().awaitingReply, quint8(1));
        QVERIFY2(p.status().startsWith(QLatin1String(" Not sent")), qPrintable(p.status()));
        QVERIFY2(p.status().size() <= 60 && !p.status().contains(u'\n'), qPrintable(p.status()));
        tick(p.engine.replyTimer);
        QCOMPARE(p.rxd(), QStringLiteral(" X X X X"));
        tick(p.engine.displayHoldTimer);
        QCOMPARE(p.txd() + p.rxd() + p.status(), QString());
        QVERIFY(p.warnings.isEmpty());
        QVERIFY(p.serial.written.isEmpty());
    }

    // Mended: RxText keeps at most 32767 characters; nothing more is taken until the
    // reply window closes.
    void rxTextCap()
    {
        Engine p;
        p.click("Command17");
        const QString all = sampleReply(40000);
        for (qsizetype at = 0; at < all.size(); at += 1000)
            p.serial.receive(all.mid(at, 1000));
        const QString kept = all.left(32767);
        QCOMPARE(p.state().rxText, kept);
        QCOMPARE(p.rxd(), trace(kept));
        p.serial.receive(QStringLiteral("ZZZ"));
        QCOMPARE(p.state().rxText, kept);
        QCOMPARE(p.rxd(), trace(kept));

        tick(p.engine.replyTimer);
        p.serial.receive(QStringLiteral("AB\r"));
        QCOMPARE(p.state().rxText, QStringLiteral("AB\r"));
        QCOMPARE(p.rxd(), QStringLiteral(" A B CR "));
    }

    // Mended: a pressure beyond what the status line can show is reported as out of
    // range, without a number.
    void pressure_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QString>("status");
        QTest::addColumn<int>("pressureValue");  // -100000: not checked
        const QString outOfRange = QString::fromLatin1(decoding::kPressureOutOfRange);
        QTest::newRow("512") << "512\r" << "650 hPa" << 650;
        QTest::newRow("6553, highest in range") << "6553\r" << "7077 hPa" << 7077;
        QTest::newRow("-6553, lowest in range") << "-6553\r" << "-6865 hPa" << -6865;
        QTest::newRow("6554") << "6554\r" << outOfRange << -100000;
        QTest::newRow("-6554") << "-6554\r" << outOfRange << -100000;
        QTest::newRow("99999999999") << "99999999999\r" << outOfRange << -100000;
    }
    void pressure()
    {
        QFETCH(QString, reply);
        QFETCH(QString, status);
        QFETCH(int, pressureValue);
        Engine p;
        sendManual(p, QStringLiteral("CR PRESSURE"));
        QCOMPARE(p.takeWritten(), QByteArray("CR PRESSURE\r"));
        p.serial.receive(reply);
        QCOMPARE(p.status(), status);
        QVERIFY2(pressureValue != -100000 || std::none_of(status.begin(), status.end(), [](QChar c) { return c.isDigit(); }),
                 "the out-of-range text shows no number");
        if (pressureValue != -100000)
            QCOMPARE(int(p.state().pressureValue), pressureValue);
    }

    // SEND puts the box text out as typed, plus CR; only an exact query is decoded.
    void manualEntry_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("txd");
        QTest::addColumn<QString>("statusAfterReply");
        QTest::newRow("empty box") << "" << QByteArray("\r") << " CR " << "";
        QTest::newRow("lower case cr0") << "cr0" << QByteArray("cr0\r") << " c r 0 CR " << "";
        QTest::newRow("blank before CR0") << " CR0" << QByteArray(" CR0\r") << "   C R 0 CR " << "";
        QTest::newRow("CR0 exactly") << "CR0" << QByteArray("CR0\r") << " C R 0 CR " << " Power ON";
    }
    void manualEntry()
    {
        QFETCH(QString, typed);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, txd);
        QFETCH(QString, statusAfterReply);
        Engine p;
        sendManual(p, typed);
        QCOMPARE(p.takeWritten(), bytes);
        QCOMPARE(p.txd(), txd);
        QCOMPARE(p.state().manualText, typed);
        QCOMPARE(p.state().awaitingReply, quint8(1));
        QVERIFY(p.engine.replyTimer.isActive() && p.engine.displayHoldTimer.isActive());
        QCOMPARE(p.engine.replyTimer.interval(), 2000);
        QCOMPARE(p.engine.displayHoldTimer.interval(), 2500);
        p.serial.receive(QStringLiteral("00\r"));
        QCOMPARE(p.rxd(), QStringLiteral(" 0 0 CR "));
        QCOMPARE(p.status(), statusAfterReply);
    }

    // Names that are no control of that kind do nothing.
    void unknownControl()
    {
        Engine p;
        p.takeWritten();
        QVERIFY(!p.engine.click(u"Command1"));  // an auto-repeat key, not a one-shot button
        QVERIFY(!p.engine.press(u"Command17"));
        QVERIFY(!p.engine.release(u"Command99"));
        QVERIFY(p.serial.written.isEmpty());
        QCOMPARE(p.txd(), QString());
        QVERIFY(!p.engine.repeatTimer.isActive() && !p.engine.replyTimer.isActive());
    }

    // Every auto-repeat key: press, three ticks, a reply while held, release, ticks
    // after the release. An earlier status stays on the status line until the display
    // hold ends; in the variant "display hold ended" that happens while the key is
    // held, and the release starts the display hold again.
    void repeatKeyHeld_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("holdEnded");
        for (const bool holdEnded : {false, true})
            for (int i = 0; i < kKeyCount; ++i)
                QTest::addRow("%s%s %s", holdEnded ? "display hold ended: " : "", kKeys[i].control, kKeys[i].label)
                    << i << holdEnded;
    }
    void repeatKeyHeld()
    {
        QFETCH(int, key);
        QFETCH(bool, holdEnded);
        const KeyRow &k = kKeys[key];
        Engine p;
        earlierStatus(p);
        p.takeWritten();
        tick(p.engine.repeatTimer);  // nothing held: nothing to send
        QCOMPARE(p.takeWritten(), QByteArray());

        pressAndRepeat(p, k, 3, k.repeat(), k.reply(), k.hold());
        QCOMPARE(p.state().keyMode, quint8(0));
        p.serial.receive(QStringLiteral("\x06"));
        QCOMPARE(p.state().rxText, QStringLiteral("\x06"));
        QCOMPARE(p.rxd(), QStringLiteral(" ACK "));
        if (holdEnded) {
            tick(p.engine.replyTimer);
            tick(p.engine.displayHoldTimer);
            QVERIFY(!p.engine.replyTimer.isActive() && !p.engine.displayHoldTimer.isActive() && p.engine.repeatTimer.isActive());
        }

        p.release(k.control);
        QCOMPARE(p.takeWritten(), QByteArray());
        checkReleasedExchange(p, k, k.repeat(), 0);
        QCOMPARE(p.status(), holdEnded ? QString() : QStringLiteral(" Power ON"));
        checkTicksSendNothing(p);
        tick(p.engine.displayHoldTimer);
        QCOMPARE(p.status(), QString());
    }

    // The arrows keep the repeat interval the last setter left and take the hold
    // intervals from keyMode: 1 (menu) -> 150/190, 3 (zoom) -> 5/5, else as they are.
    void arrowsByKeyMode_data()
    {
        QTest::addColumn<QStringList>("steps");  // "click CommandN" or "hold CommandN"
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("repeatMs");
        QTest::addColumn<int>("replyWindowMs");
        QTest::addColumn<int>("displayHoldMs");
        QTest::addColumn<int>("keyMode");
        struct Context {
            const char *name;
            QStringList steps;
            int repeatMs, replyWindowMs, displayHoldMs, keyMode;
        };
        const Context contexts[] = {
            {"start", {}, 200, 500, 1000, 0},
            {"MENU ON", {"click Command23"}, 200, 150, 190, 1},
            {"A-IMAGE", {"click Command13"}, 200, 150, 190, 1},
            {"D.Zoom", {"hold Command48"}, 5, 5, 5, 3},
            {"D.Zoom, then MENU ON", {"hold Command48", "click Command23"}, 200, 150, 190, 1},
            {"MENU ON, then D.Zoom", {"click Command23", "hold Command49"}, 5, 5, 5, 3},
            {"VOL +", {"hold Command1"}, 250, 500, 1000, 0},
            {"SELECT", {"hold Command6"}, 500, 500, 1000, 0},
            {"MENU ON, then VOL +", {"click Command23", "hold Command1"}, 250, 150, 190, 1},
            {"D.Zoom, then SELECT", {"hold Command48", "hold Command6"}, 500, 5, 5, 3},
            // keyMode 0 leaves whatever a one-shot button set; one that is no menu
            // button leaves keyMode as it is.
            {"picture mode STAND", {"click Command4"}, 200, 2000, 2500, 0},
            {"MENU ON, then picture mode", {"click Command23", "click Command4"}, 200, 150, 190, 1},
        };
        for (const Context &c : contexts)
            for (int i = 0; i < kKeyCount; ++i)
                if (kKeys[i].arrow)
                    QTest::addRow("%s: %s", c.name, kKeys[i].label)
                        << c.steps << i << c.repeatMs << c.replyWindowMs << c.displayHoldMs << c.keyMode;
    }
    void arrowsByKeyMode()
    {
        QFETCH(QStringList, steps);
        QFETCH(int, key);
        QFETCH(int, repeatMs);
        QFETCH(int, replyWindowMs);
        QFETCH(int, displayHoldMs);
        QFETCH(int, keyMode);
        const KeyRow &k = kKeys[key];
        Engine p;
        for (const QString &step : steps) {
            const QByteArray control = step.section(QLatin1Char(' '), 1).toLatin1();
            if (step.startsWith(QLatin1String("click"))) {
                p.click(control.constData());
            } else {
                p.press(control.constData());
                p.release(control.constData());
            }
        }
        p.takeWritten();
        QCOMPARE(int(p.state().keyMode), keyMode);

        pressAndRepeat(p, k, 2, repeatMs, replyWindowMs, displayHoldMs);
        QCOMPARE(int(p.state().keyMode), keyMode);
        p.release(k.control);
        QCOMPARE(p.takeWritten(), QByteArray());
        checkReleasedExchange(p, k, repeatMs, keyMode);
        checkTicksSendNothing(p);
    }

    // Start-up opens COM1 at 19200 and reports it in use; END closes the port.
    void startAndEnd()
    {
        Engine p;
        QCOMPARE(p.serial.log, (QStringList{"CommPort=1", "Settings=19200,N,8,1", "PortOpen=1", "PortOpen=0", "CommPort=1", "PortOpen=1"}));
        QCOMPARE(p.portsInUse, QList<int>{1});
        QVERIFY(p.warnings.isEmpty());
        p.engine.end();
        QVERIFY(!p.serial.portOpen());
    }

    // A port choice answers whether the chosen port is open; a failed one warns and
    // reports the option that shows the port really in use (0: none).
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
        QCOMPARE(p.serial.portOpen(), openOn != 0);
        if (openOn)
            QCOMPARE(p.serial.commPort(), openOn);
        QCOMPARE(p.portsInUse, reported);
        QCOMPARE(p.warnings, QStringList(warnings, QStringLiteral("busy")));
    }

    // The port lost while open: no option in use and one notice.
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
