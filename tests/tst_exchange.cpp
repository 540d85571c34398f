// The exchange as the operator sees it: what each button puts on the wire, the
// TXD / RXD / status lines, the reply window (Timer2) and the display hold
// (Timer4), replies in pieces, status decoding and the mended faults.

#include "PanelHarness.h"
#include "TestSupport.h"

#include "exchange/StatusDecoding.h"
#include "keys/CommandTable.h"

#include <QLineEdit>
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

// Every one-shot button, written out by hand: the code it must send, the hold
// intervals it must leave (500/1000 when it sets none), and whether it switches the
// arrows to menu context.
struct OneShotRow {
    const char *control;
    const char *code;
    int replyWindowMs = 500;
    int displayHoldMs = 1000;
    bool menuContext = false;
};

constexpr OneShotRow kExpectedOneShots[] = {
    {"Command17", "C00"}, {"Command18", "C01"}, {"Command27", "C05"}, {"Command28", "C06"},
    {"Command29", "C07"}, {"Command19", "C0B"}, {"Command20", "C0C"}, {"Command21", "C0D"},
    {"Command22", "C0E"}, {"Command31", "C0F"}, {"Command32", "C10"}, {"Command23", "C1C", 500, 1000, true},
    {"Command24", "C1D"}, {"Command25", "C43"}, {"Command26", "C44"}, {"Command13", "C89", 500, 1000, true},
    {"Command30", "C27"}, {"Command14", "C8A"}, {"Command3", "C1E"},
    {"Command4", "C11", 2000, 2500}, {"Command10", "C12", 2000, 2500}, {"Command11", "C13", 2000, 2500},
    {"Command39", "C14", 2000, 2500}, {"Command40", "C15", 2000, 2500}, {"Command41", "C16", 2000, 2500},
    {"Command42", "C17", 2000, 2500}, {"Command12", "C18", 2000, 2500}, {"Command36", "C19", 2000, 2500},
    {"Command56", "CF KEYDIS NONE"}, {"Command57", "CF KEYDIS RC"}, {"Command58", "CF KEYDIS KEY"},
    {"Command44", "CR0"}, {"Command45", "CR1"}, {"Command46", "CR3"}, {"Command47", "CR4"}, {"Command54", "CR6"},
    {"Command64", "C50", 5000, 5500}, {"Command65", "C52", 5000, 5500}, {"Command66", "C53", 5000, 5500},
    {"Command72", "C25", 5000, 5500}, {"Command74", "C24", 5000, 5500}, {"Command73", "C26", 5000, 5500},
    {"Command53", "CF TERMINAL COMPUTER", 5000, 5500}, {"Command76", "CF TERMINAL MONITOR", 5000, 5500},
    {"Command81", "C32", 5000, 5500}, {"Command82", "C33", 5000, 5500}, {"Command69", "C34", 5000, 5500},
    {"Command37", "C81"}, {"Command38", "C82"}, {"Command43", "C83"},
    {"Command97", "CF FANSPEED MAX"}, {"Command98", "CF FANSPEED NOR"}, {"Command60", "CF LOGOCAPTURE START"},
    {"Command61", "CF LOGO OFF"}, {"Command63", "CF LOGO DEFAULT"}, {"Command67", "CF LOGO USER"},
};

// A reply text that goes through printable characters, CR and ACK.
QString sampleReply(qsizetype length)
{
    QString text;
    for (qsizetype i = 0; i < length; ++i)
        text += i % 97 == 96 ? QChar(u'\r') : i % 89 == 88 ? QChar(6) : QChar(char16_t(33 + (i * 31) % 90));
    return text;
}

void sendManual(Panel &p, const QString &text)
{
    p.w<QLineEdit>("Text1")->setText(text);
    p.click("Command95");
}

// A STATUS exchange whose " Power ON" stays on the status line; the reply window is closed.
void earlierStatus(Panel &p)
{
    p.click("Command44");
    p.serial.receive(QStringLiteral("00\r"));
    QCOMPARE(p.status(), QStringLiteral(" Power ON"));
    tick(p.form->engine().replyTimer);
}

} // namespace

class TstExchange : public QObject
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
        Panel p;
        QVERIFY2(p.button(control.toLatin1().constData()), "no such button");
        p.form->engine().repeatTimer.setInterval(777);  // no button uses it
        p.click(control.toLatin1().constData());
        QCOMPARE(p.takeWritten(), code.toLatin1() + '\r');
        QCOMPARE(p.txd(), trace(code + u'\r'));
        QCOMPARE(p.rxd(), QString());
        QCOMPARE(p.status(), QString());
        QCOMPARE(p.state().txText, code + u'\r');
        QVERIFY(p.form->engine().replyTimer.isActive() && p.form->engine().displayHoldTimer.isActive());
        QCOMPARE(p.form->engine().replyTimer.interval(), replyWindowMs);
        QCOMPARE(p.form->engine().displayHoldTimer.interval(), displayHoldMs);
        QCOMPARE(p.state().awaitingReply, quint8(1));
        QCOMPARE(p.form->engine().repeatTimer.interval(), menuContext ? 200 : 777);
        QCOMPARE(p.state().keyMode, quint8(menuContext ? 1 : 0));
        QVERIFY(!p.form->engine().repeatTimer.isActive());
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
        Panel p;
        p.click(first.toLatin1().constData());
        p.takeWritten();
        p.click(second.toLatin1().constData());
        QCOMPARE(p.takeWritten(), secondBytes);
        QVERIFY(p.form->engine().replyTimer.isActive() && p.form->engine().displayHoldTimer.isActive());
        QCOMPARE(p.form->engine().replyTimer.interval(), replyWindowMs);
        QCOMPARE(p.form->engine().displayHoldTimer.interval(), displayHoldMs);
    }

    // Idle -> Waiting -> Receiving -> reply window closed -> Idle.
    void exchangeStates()
    {
        Panel p;
        QCOMPARE(p.state().awaitingReply, quint8(0));
        QVERIFY(!p.form->engine().replyTimer.isActive() && !p.form->engine().displayHoldTimer.isActive());

        p.click("Command44");
        QCOMPARE(p.state().awaitingReply, quint8(1));
        QVERIFY(p.form->engine().replyTimer.isActive() && p.form->engine().displayHoldTimer.isActive());
        QCOMPARE(p.txd(), QStringLiteral(" C R 0 CR "));
        QCOMPARE(p.rxd(), QString());

        p.serial.receive(QStringLiteral("00\r"));
        QCOMPARE(p.state().awaitingReply, quint8(0));
        QCOMPARE(p.state().rxText, QStringLiteral("00\r"));
        QCOMPARE(p.rxd(), QStringLiteral(" 0 0 CR "));
        QCOMPARE(p.status(), QStringLiteral(" Power ON"));

        // The reply window closes; the lines stay for the display hold.
        tick(p.form->engine().replyTimer);
        QVERIFY(!p.form->engine().replyTimer.isActive() && p.form->engine().displayHoldTimer.isActive());
        QCOMPARE(p.state().rxText, QString());
        QCOMPARE(p.rxd(), QStringLiteral(" 0 0 CR "));
        QCOMPARE(p.txd(), QStringLiteral(" C R 0 CR "));
        QCOMPARE(p.status(), QStringLiteral(" Power ON"));

        tick(p.form->engine().displayHoldTimer);
        QVERIFY(!p.form->engine().displayHoldTimer.isActive() && !p.form->engine().replyTimer.isActive());
        QCOMPARE(p.txd(), QString());
        QCOMPARE(p.rxd(), QString());
        QCOMPARE(p.status(), QString());
    }

    // No reply within the window: the no-reply mark; a reply coming later still shows.
    void lateReplyAfterNoReplyMark()
    {
        Panel p;
        p.click("Command44");
        tick(p.form->engine().replyTimer);
        QCOMPARE(p.rxd(), QStringLiteral(" X X X X"));
        QCOMPARE(p.state().awaitingReply, quint8(0));
        QVERIFY(!p.form->engine().replyTimer.isActive());
        QCOMPARE(p.txd(), QStringLiteral(" C R 0 CR "));
        QCOMPARE(p.status(), QString());
        p.serial.receive(QStringLiteral("00\r"));
        QCOMPARE(p.rxd(), QStringLiteral(" 0 0 CR "));
        tick(p.form->engine().displayHoldTimer);
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
        Panel p;
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
        Panel p;
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
        Panel p;
        p.click(control.toLatin1().constData());
        p.serial.receive(reply);
        QCOMPARE(p.rxd(), trace(reply));
        QCOMPARE(p.status(), status);
    }

    // A reply to a command that is no query shows on RXD only, every kind of character
    // traced; the earlier status stays.
    void replyToNonQuery()
    {
        Panel p;
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
        Panel p;
        p.click("Command44");
        p.serial.raiseEvent(1001);
        QCOMPARE(p.state().awaitingReply, quint8(1));
        QCOMPARE(p.state().rxText, QString());
        QCOMPARE(p.rxd() + p.status(), QString());
        QCOMPARE(p.txd(), QStringLiteral(" C R 0 CR "));
        QVERIFY(p.form->engine().replyTimer.isActive() && p.form->engine().displayHoldTimer.isActive());
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
        Panel p;
        p.serial.setPortOpen(false);
        p.takeWritten();
        p.click("Command17");
        QVERIFY(p.serial.written.isEmpty());
        QCOMPARE(p.txd(), QStringLiteral(" C 0 0 CR "));
        QVERIFY(p.form->engine().replyTimer.isActive() && p.form->engine().displayHoldTimer.isActive());
        QCOMPARE(p.state().awaitingReply, quint8(1));
        QVERIFY2(p.status().startsWith(QLatin1String(" Not sent")), qPrintable(p.status()));
        QVERIFY2(p.status().size() <= 60 && !p.status().contains(u'\n'), qPrintable(p.status()));
        tick(p.form->engine().replyTimer);
        QCOMPARE(p.rxd(), QStringLiteral(" X X X X"));
        tick(p.form->engine().displayHoldTimer);
        QCOMPARE(p.txd() + p.rxd() + p.status(), QString());
        QVERIFY(p.runtime.warnings.isEmpty());
        QVERIFY(p.serial.written.isEmpty());
    }

    // Mended: RxText keeps at most 32767 characters; nothing more is taken until the
    // reply window closes.
    void rxTextCap()
    {
        Panel p;
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

        tick(p.form->engine().replyTimer);
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
        Panel p;
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
        Panel p;
        sendManual(p, typed);
        QCOMPARE(p.takeWritten(), bytes);
        QCOMPARE(p.txd(), txd);
        QCOMPARE(p.state().manualText, typed);
        QCOMPARE(p.state().awaitingReply, quint8(1));
        QVERIFY(p.form->engine().replyTimer.isActive() && p.form->engine().displayHoldTimer.isActive());
        QCOMPARE(p.form->engine().replyTimer.interval(), 2000);
        QCOMPARE(p.form->engine().displayHoldTimer.interval(), 2500);
        p.serial.receive(QStringLiteral("00\r"));
        QCOMPARE(p.rxd(), QStringLiteral(" 0 0 CR "));
        QCOMPARE(p.status(), statusAfterReply);
    }

    // Enter in the box sends nothing; CLS empties the box and leaves the trace.
    void textBox()
    {
        Panel p;
        QLineEdit *box = p.w<QLineEdit>("Text1");
        box->setText(QStringLiteral("C00"));
        box->setFocus();
        QTest::keyClick(box, Qt::Key_Return);
        QTest::keyClick(box, Qt::Key_Enter);
        QVERIFY(p.serial.written.isEmpty());
        QCOMPARE(p.txd(), QString());
        QCOMPARE(p.state().awaitingReply, quint8(0));
        QCOMPARE(box->text(), QStringLiteral("C00"));

        p.click("Command95");
        QCOMPARE(p.takeWritten(), QByteArray("C00\r"));
        box->setText(QStringLiteral("CF LOGO USER"));
        p.click("Command96");
        QCOMPARE(box->text(), QString());
        QCOMPARE(p.txd(), QStringLiteral(" C 0 0 CR "));
        QVERIFY(p.serial.written.isEmpty());
    }
};

QTEST_MAIN(TstExchange)
#include "tst_exchange.moc"
