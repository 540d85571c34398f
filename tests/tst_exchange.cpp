// The exchange as the operator sees it: what each button puts on the wire, the
// TXD / RXD / status lines, the reply window (Timer2) and the display hold
// (Timer4), replies in pieces, status decoding and the mended faults.

#include "PanelHarness.h"

#include "exchange/StatusDecoding.h"
#include "keys/CommandTable.h"

#include <QLineEdit>
#include <QSet>
#include <QTest>

class TstExchange : public QObject
{
    Q_OBJECT

private slots:
    void framingOfPowerOn();
    void everyTableButtonIsChecked();
    void oneShot_data();
    void oneShot();
    void holdIntervalsCarryOver_data();
    void holdIntervalsCarryOver();
    void exchangeStates();
    void noReplyMark();
    void receivedTrace_data();
    void receivedTrace();
    void replyInPieces_data();
    void replyInPieces();
    void twoCommandsInOneReplyWindow();
    void lateReplyAfterNoReplyMark();
    void statusQueries_data();
    void statusQueries();
    void replyToNonQuery_data();
    void replyToNonQuery();
    void otherCommEventChangesNothing();
    void portClosed();
    void rxTextCap();
    void rxTextManySingleCharacters();
    void pressure_data();
    void pressure();
    void manualEntry_data();
    void manualEntry();
    void clsEmptiesTheBox();
    void enterInTheBoxSendsNothing();
};

namespace {

// The trace rule, written out independently of the window: a leading blank, then
// every character rendered.
QString trace(QStringView text)
{
    QString t = QStringLiteral(" ");
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == 13)
            t += QLatin1String("CR ");
        else if (u == 10)
            t += QLatin1String("LF ");
        else if (u == 6)
            t += QLatin1String("ACK ");
        else if (u == 20)
            t += QLatin1Char('&');
        else if (u >= 32 && u <= 122)
            t += c, t += QLatin1Char(' ');
        else
            t += QLatin1String("? ");
    }
    return t;
}

// Drives one tick of a timer without waiting for it.
void tick(QTimer &timer)
{
    QVERIFY(QMetaObject::invokeMethod(&timer, "timeout", Qt::DirectConnection));
}

// Every one-shot button, written out by hand: the code it must send and the hold
// intervals it must leave (500/1000 when it sets none), and whether it switches the
// arrows to menu context.
struct OneShotRow {
    const char *control;
    const char *code;
    int replyWindowMs;
    int displayHoldMs;
    bool menuContext;
};

constexpr OneShotRow kExpectedOneShots[] = {
    {"Command17", "C00", 500, 1000, false},
    {"Command18", "C01", 500, 1000, false},
    {"Command27", "C05", 500, 1000, false},
    {"Command28", "C06", 500, 1000, false},
    {"Command29", "C07", 500, 1000, false},
    {"Command19", "C0B", 500, 1000, false},
    {"Command20", "C0C", 500, 1000, false},
    {"Command21", "C0D", 500, 1000, false},
    {"Command22", "C0E", 500, 1000, false},
    {"Command31", "C0F", 500, 1000, false},
    {"Command32", "C10", 500, 1000, false},
    {"Command23", "C1C", 500, 1000, true},
    {"Command24", "C1D", 500, 1000, false},
    {"Command25", "C43", 500, 1000, false},
    {"Command26", "C44", 500, 1000, false},
    {"Command13", "C89", 500, 1000, true},
    {"Command30", "C27", 500, 1000, false},
    {"Command14", "C8A", 500, 1000, false},
    {"Command3", "C1E", 500, 1000, false},
    {"Command4", "C11", 2000, 2500, false},
    {"Command10", "C12", 2000, 2500, false},
    {"Command11", "C13", 2000, 2500, false},
    {"Command39", "C14", 2000, 2500, false},
    {"Command40", "C15", 2000, 2500, false},
    {"Command41", "C16", 2000, 2500, false},
    {"Command42", "C17", 2000, 2500, false},
    {"Command12", "C18", 2000, 2500, false},
    {"Command36", "C19", 2000, 2500, false},
    {"Command56", "CF KEYDIS NONE", 500, 1000, false},
    {"Command57", "CF KEYDIS RC", 500, 1000, false},
    {"Command58", "CF KEYDIS KEY", 500, 1000, false},
    {"Command44", "CR0", 500, 1000, false},
    {"Command45", "CR1", 500, 1000, false},
    {"Command46", "CR3", 500, 1000, false},
    {"Command47", "CR4", 500, 1000, false},
    {"Command54", "CR6", 500, 1000, false},
    {"Command64", "C50", 5000, 5500, false},
    {"Command65", "C52", 5000, 5500, false},
    {"Command66", "C53", 5000, 5500, false},
    {"Command72", "C25", 5000, 5500, false},
    {"Command74", "C24", 5000, 5500, false},
    {"Command73", "C26", 5000, 5500, false},
    {"Command53", "CF TERMINAL COMPUTER", 5000, 5500, false},
    {"Command76", "CF TERMINAL MONITOR", 5000, 5500, false},
    {"Command81", "C32", 5000, 5500, false},
    {"Command82", "C33", 5000, 5500, false},
    {"Command69", "C34", 5000, 5500, false},
    {"Command37", "C81", 500, 1000, false},
    {"Command38", "C82", 500, 1000, false},
    {"Command43", "C83", 500, 1000, false},
    {"Command97", "CF FANSPEED MAX", 500, 1000, false},
    {"Command98", "CF FANSPEED NOR", 500, 1000, false},
    {"Command60", "CF LOGOCAPTURE START", 500, 1000, false},
    {"Command61", "CF LOGO OFF", 500, 1000, false},
    {"Command63", "CF LOGO DEFAULT", 500, 1000, false},
    {"Command67", "CF LOGO USER", 500, 1000, false},
};

// A reply text that goes through printable characters, CR and ACK.
QString sampleReply(qsizetype length)
{
    QString text;
    text.reserve(length);
    for (qsizetype i = 0; i < length; ++i) {
        if (i % 97 == 96)
            text += QLatin1Char('\r');
        else if (i % 89 == 88)
            text += QChar(char16_t(6));
        else
            text += QChar(char16_t(33 + (i * 31) % 90));
    }
    return text;
}

void sendManual(Panel &p, const QString &text)
{
    p.w<QLineEdit>("Text1")->setText(text);
    p.click("Command95");
}

} // namespace

// POWER ON: the bytes on the wire and the TXD line, literally.
void TstExchange::framingOfPowerOn()
{
    Panel p;
    p.click("Command17");
    QCOMPARE(p.takeWritten(), QByteArray("\x43\x30\x30\x0D"));
    QCOMPARE(p.txd(), QStringLiteral(" C 0 0 CR "));
}

// The rows below cover exactly the buttons the window has.
void TstExchange::everyTableButtonIsChecked()
{
    QSet<QString> expected;
    for (const OneShotRow &row : kExpectedOneShots)
        expected.insert(QString::fromLatin1(row.control));
    QCOMPARE(expected.size(), 56);

    QSet<QString> inTable;
    for (const keys::OneShot &b : keys::kOneShots)
        inTable.insert(QString::fromLatin1(b.control.data(), qsizetype(b.control.size())));
    QCOMPARE(inTable, expected);
}

void TstExchange::oneShot_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("code");
    QTest::addColumn<int>("replyWindowMs");
    QTest::addColumn<int>("displayHoldMs");
    QTest::addColumn<bool>("menuContext");

    for (const OneShotRow &row : kExpectedOneShots)
        QTest::addRow("%s %s", row.control, row.code)
            << QString::fromLatin1(row.control) << QString::fromLatin1(row.code) << row.replyWindowMs
            << row.displayHoldMs << row.menuContext;
}

void TstExchange::oneShot()
{
    QFETCH(QString, control);
    QFETCH(QString, code);
    QFETCH(int, replyWindowMs);
    QFETCH(int, displayHoldMs);
    QFETCH(bool, menuContext);

    Panel p;
    QVERIFY2(p.button(control.toLatin1().constData()), "no such button");
    // An interval no button uses, to see whether the click sets the repeat interval.
    p.form->Timer1.setInterval(777);
    QCOMPARE(p.state().KeyMode, quint8(0));

    p.click(control.toLatin1().constData());

    QCOMPARE(p.takeWritten(), code.toLatin1() + '\r');
    QCOMPARE(p.txd(), trace(code + QLatin1Char('\r')));
    QCOMPARE(p.rxd(), QString());
    QCOMPARE(p.status(), QString());
    QCOMPARE(p.state().TxText, code + QLatin1Char('\r'));
    QVERIFY(p.form->Timer2.isActive());
    QVERIFY(p.form->Timer4.isActive());
    QCOMPARE(p.form->Timer2.interval(), replyWindowMs);
    QCOMPARE(p.form->Timer4.interval(), displayHoldMs);
    QCOMPARE(p.state().AwaitingReply, quint8(1));
    QCOMPARE(p.form->Timer1.interval(), menuContext ? 200 : 777);
    QCOMPARE(p.state().KeyMode, quint8(menuContext ? 1 : 0));
    QVERIFY(!p.form->Timer1.isActive());
}

// A button that sets no hold intervals runs with whatever the last one left.
void TstExchange::holdIntervalsCarryOver_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<QByteArray>("secondBytes");
    QTest::addColumn<int>("replyWindowMs");
    QTest::addColumn<int>("displayHoldMs");

    QTest::newRow("picture mode STAND, then STATUS") << "Command4" << "Command44" << QByteArray("CR0\r") << 2000 << 2500;
    QTest::newRow("picture mode Dynamic, then STATUS") << "Command36" << "Command44" << QByteArray("CR0\r") << 2000 << 2500;
    QTest::newRow("source RGB, then SOUND MUTE ON") << "Command64" << "Command19" << QByteArray("C0B\r") << 5000 << 5500;
    QTest::newRow("source S-Video, then SOUND MUTE ON") << "Command69" << "Command19" << QByteArray("C0B\r") << 5000 << 5500;
    QTest::newRow("source RGB, then picture mode") << "Command64" << "Command4" << QByteArray("C11\r") << 2000 << 2500;
}

void TstExchange::holdIntervalsCarryOver()
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
    QVERIFY(p.form->Timer2.isActive());
    QVERIFY(p.form->Timer4.isActive());
    QCOMPARE(p.form->Timer2.interval(), replyWindowMs);
    QCOMPARE(p.form->Timer4.interval(), displayHoldMs);
}

// Idle -> Waiting -> Receiving -> reply window closed -> Idle.
void TstExchange::exchangeStates()
{
    Panel p;
    // Idle after start-up.
    QCOMPARE(p.state().AwaitingReply, quint8(0));
    QVERIFY(!p.form->Timer2.isActive());
    QVERIFY(!p.form->Timer4.isActive());
    QCOMPARE(p.txd(), QString());
    QCOMPARE(p.rxd(), QString());
    QCOMPARE(p.status(), QString());

    // Waiting.
    p.click("Command44");
    QCOMPARE(p.state().AwaitingReply, quint8(1));
    QVERIFY(p.form->Timer2.isActive());
    QVERIFY(p.form->Timer4.isActive());
    QCOMPARE(p.txd(), QStringLiteral(" C R 0 CR "));
    QCOMPARE(p.rxd(), QString());
    QCOMPARE(p.status(), QString());

    // Receiving.
    p.serial.receive(QStringLiteral("00\r"));
    QCOMPARE(p.state().AwaitingReply, quint8(0));
    QCOMPARE(p.state().RxText, QStringLiteral("00\r"));
    QCOMPARE(p.rxd(), QStringLiteral(" 0 0 CR "));
    QCOMPARE(p.status(), QStringLiteral(" Power ON"));
    QCOMPARE(p.txd(), QStringLiteral(" C R 0 CR "));

    // The reply window closes; the lines stay for the display hold.
    tick(p.form->Timer2);
    QVERIFY(!p.form->Timer2.isActive());
    QVERIFY(p.form->Timer4.isActive());
    QCOMPARE(p.state().RxText, QString());
    QCOMPARE(p.state().AwaitingReply, quint8(0));
    QCOMPARE(p.rxd(), QStringLiteral(" 0 0 CR "));
    QCOMPARE(p.txd(), QStringLiteral(" C R 0 CR "));
    QCOMPARE(p.status(), QStringLiteral(" Power ON"));

    // The display hold ends: Idle again.
    tick(p.form->Timer4);
    QVERIFY(!p.form->Timer4.isActive());
    QVERIFY(!p.form->Timer2.isActive());
    QCOMPARE(p.txd(), QString());
    QCOMPARE(p.rxd(), QString());
    QCOMPARE(p.status(), QString());
    QCOMPARE(p.state().AwaitingReply, quint8(0));
}

void TstExchange::noReplyMark()
{
    Panel p;
    p.click("Command17");
    tick(p.form->Timer2);
    QCOMPARE(p.rxd(), QStringLiteral(" X X X X"));
    QCOMPARE(p.state().AwaitingReply, quint8(0));
    QVERIFY(!p.form->Timer2.isActive());
    QCOMPARE(p.txd(), QStringLiteral(" C 0 0 CR "));
    QCOMPARE(p.status(), QString());

    tick(p.form->Timer4);
    QCOMPARE(p.txd(), QString());
    QCOMPARE(p.rxd(), QString());
    QCOMPARE(p.status(), QString());
}

// Received characters of every kind, as the RXD line shows them.
void TstExchange::receivedTrace_data()
{
    QTest::addColumn<QString>("received");
    QTest::addColumn<QString>("rxd");

    QTest::newRow("ACK") << QString(QChar(char16_t(6))) << QStringLiteral(" ACK ");
    QTest::newRow("CR LF") << QStringLiteral("\r\n") << QStringLiteral(" CR LF ");
    QTest::newRow("char 20 then H1") << (QChar(char16_t(20)) + QStringLiteral("H1")) << QStringLiteral(" &H 1 ");
    QTest::newRow("blank") << QStringLiteral(" ") << QStringLiteral("   ");
    QTest::newRow("lowest and highest printable") << QStringLiteral(" z") << QStringLiteral("   z ");
    QTest::newRow("123 and 127") << QStringLiteral("{\x7F") << QStringLiteral(" ? ? ");
    const char16_t controls[] = {0, 1, 19, 21, 31};
    QTest::newRow("other control chars") << QString(reinterpret_cast<const QChar *>(controls), 5)
                                         << QStringLiteral(" ? ? ? ? ? ");
    QTest::newRow("above 255") << QString(QChar(char16_t(0x20AC))) << QStringLiteral(" ? ");
}

void TstExchange::receivedTrace()
{
    QFETCH(QString, received);
    QFETCH(QString, rxd);

    Panel p;
    p.click("Command17");
    p.serial.receive(received);
    QCOMPARE(p.rxd(), rxd);
    QCOMPARE(p.rxd(), trace(received));
}

void TstExchange::replyInPieces_data()
{
    QTest::addColumn<bool>("earlierStatus");   // a " Power ON" from an earlier reply stands on the status line
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

void TstExchange::replyInPieces()
{
    QFETCH(bool, earlierStatus);
    QFETCH(QString, piece1);
    QFETCH(QString, rxd1);
    QFETCH(QString, status1);
    QFETCH(QString, piece2);
    QFETCH(QString, rxd2);
    QFETCH(QString, status2);

    Panel p;
    if (earlierStatus) {
        p.click("Command44");
        p.serial.receive(QStringLiteral("00\r"));
        QCOMPARE(p.status(), QStringLiteral(" Power ON"));
        tick(p.form->Timer2);
    }
    p.click("Command44");
    p.serial.receive(piece1);
    QCOMPARE(p.rxd(), rxd1);
    QCOMPARE(p.status(), status1);
    p.serial.receive(piece2);
    QCOMPARE(p.rxd(), rxd2);
    QCOMPARE(p.status(), status2);
    QCOMPARE(p.state().RxText, piece1 + piece2);
}

// MODE sent before the reply window of STATUS closed: the replies run together on
// RXD and the MODE decoder sees the start of the STATUS reply.
void TstExchange::twoCommandsInOneReplyWindow()
{
    Panel p;
    p.click("Command44");
    p.serial.receive(QStringLiteral("00\r"));
    QCOMPARE(p.status(), QStringLiteral(" Power ON"));
    p.click("Command45");
    QCOMPARE(p.takeWritten(), QByteArray("CR0\rCR1\r"));
    QCOMPARE(p.txd(), QStringLiteral(" C R 1 CR "));
    p.serial.receive(QStringLiteral("1\r"));
    QCOMPARE(p.rxd(), QStringLiteral(" 0 0 CR 1 CR "));
    QCOMPARE(p.status(), QStringLiteral(" Power ON"));
}

void TstExchange::lateReplyAfterNoReplyMark()
{
    Panel p;
    p.click("Command44");
    tick(p.form->Timer2);
    QCOMPARE(p.rxd(), QStringLiteral(" X X X X"));
    p.serial.receive(QStringLiteral("00\r"));
    QCOMPARE(p.rxd(), QStringLiteral(" 0 0 CR "));
}

void TstExchange::statusQueries_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QString>("status");

    QTest::newRow("STATUS") << "Command44" << "00\r" << " Power ON";
    QTest::newRow("STATUS stand by") << "Command44" << "80\r" << " Stand by";
    QTest::newRow("MODE") << "Command45" << "3\r" << " Video";
    QTest::newRow("MODE computer 1") << "Command45" << "1\r" << " Computer 1";
    QTest::newRow("SETTING") << "Command47" << "10\r" << " Top/Bottom reversal";
    QTest::newRow("L-TIME") << "Command46" << "12345\r" << " 1 2 3 4 5 CR  Hour Use";
    // Trace " 0 3 2 . 5     4 1 . 0   0 3 8 . 5 CR ": characters 1..10, 15..22
    // and 25..34 go between the labels.
    QTest::newRow("TEMP") << "Command54" << "032.5  41.0 038.5\r"
                          << "  S1= 0 3 2 . 5 C  ,   S2=  4 1 . 0 C , S3= 0 3 8 . 5 C";
}

void TstExchange::statusQueries()
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

// A reply to a command that is no query shows on RXD only.
void TstExchange::replyToNonQuery_data()
{
    QTest::addColumn<bool>("earlierStatus");
    QTest::addColumn<QString>("status");

    QTest::newRow("empty status line") << false << "";
    QTest::newRow("earlier status kept") << true << " Power ON";
}

void TstExchange::replyToNonQuery()
{
    QFETCH(bool, earlierStatus);
    QFETCH(QString, status);

    Panel p;
    if (earlierStatus) {
        p.click("Command44");
        p.serial.receive(QStringLiteral("00\r"));
        tick(p.form->Timer2);
    }
    p.click("Command17");
    p.serial.receive(QString(QChar(char16_t(6))));
    QCOMPARE(p.rxd(), QStringLiteral(" ACK "));
    QCOMPARE(p.status(), status);
    QCOMPARE(p.state().AwaitingReply, quint8(0));
}

void TstExchange::otherCommEventChangesNothing()
{
    Panel p;
    p.click("Command44");
    p.serial.raiseEvent(1001);
    QCOMPARE(p.state().AwaitingReply, quint8(1));
    QCOMPARE(p.state().RxText, QString());
    QCOMPARE(p.rxd(), QString());
    QCOMPARE(p.status(), QString());
    QCOMPARE(p.txd(), QStringLiteral(" C R 0 CR "));
    QVERIFY(p.form->Timer2.isActive());
    QVERIFY(p.form->Timer4.isActive());

    // Also in the middle of a reply.
    p.serial.receive(QStringLiteral("0"));
    p.serial.raiseEvent(1001);
    QCOMPARE(p.state().RxText, QStringLiteral("0"));
    QCOMPARE(p.rxd(), QStringLiteral(" 0 "));
    QCOMPARE(p.status(), QString());
    QCOMPARE(p.state().AwaitingReply, quint8(0));
    // The next real chunk continues the same reply.
    p.serial.receive(QStringLiteral("0\r"));
    QCOMPARE(p.rxd(), QStringLiteral(" 0 0 CR "));
    QCOMPARE(p.status(), QStringLiteral(" Power ON"));
}

// The port was closed after start-up: the button still runs its exchange, without
// a warning box, and the status line says nothing went out.
void TstExchange::portClosed()
{
    Panel p;
    QVERIFY(p.runtime.warnings.isEmpty());
    p.serial.setPortOpen(false);
    p.takeWritten();

    p.click("Command17");
    QVERIFY(p.serial.written.isEmpty());
    QCOMPARE(p.txd(), QStringLiteral(" C 0 0 CR "));
    QVERIFY(p.form->Timer2.isActive());
    QVERIFY(p.form->Timer4.isActive());
    QCOMPARE(p.state().AwaitingReply, quint8(1));
    QVERIFY(p.runtime.warnings.isEmpty());
    QVERIFY2(p.status().startsWith(QLatin1String(" Not sent")), qPrintable(p.status()));
    QVERIFY2(p.status().size() <= 60 && !p.status().contains(QLatin1Char('\n')), qPrintable(p.status()));

    tick(p.form->Timer2);
    QCOMPARE(p.rxd(), QStringLiteral(" X X X X"));
    tick(p.form->Timer4);
    QCOMPARE(p.txd(), QString());
    QCOMPARE(p.rxd(), QString());
    QCOMPARE(p.status(), QString());
    QVERIFY(p.runtime.warnings.isEmpty());
    QVERIFY(p.serial.written.isEmpty());
}

void TstExchange::rxTextCap()
{
    Panel p;
    p.click("Command17");
    const QString all = sampleReply(40000);
    for (qsizetype at = 0; at < all.size(); at += 1000)
        p.serial.receive(all.mid(at, 1000));

    const QString kept = all.left(32767);
    QCOMPARE(p.state().RxText.size(), qsizetype(32767));
    QCOMPARE(p.state().RxText, kept);
    const QString keptTrace = trace(kept);
    QCOMPARE(p.rxd(), keptTrace);

    // Nothing more is taken until the reply window closes.
    p.serial.receive(QStringLiteral("ZZZ"));
    p.serial.receive(all.left(1000));
    QCOMPARE(p.state().RxText, kept);
    QCOMPARE(p.rxd(), keptTrace);

    tick(p.form->Timer2);
    QCOMPARE(p.state().RxText, QString());
    p.serial.receive(QStringLiteral("AB\r"));
    QCOMPARE(p.state().RxText, QStringLiteral("AB\r"));
    QCOMPARE(p.rxd(), QStringLiteral(" A B CR "));
}

void TstExchange::rxTextManySingleCharacters()
{
    Panel p;
    p.click("Command17");
    const QString all = sampleReply(20000);
    for (const QChar c : all)
        p.serial.receive(QString(c));
    QCOMPARE(p.state().RxText, all);
    QCOMPARE(p.rxd(), trace(all));
}

void TstExchange::pressure_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QString>("status");
    QTest::addColumn<int>("pressureValue");   // -100000: not checked

    const QString outOfRange = QString::fromLatin1(decoding::kPressureOutOfRange);
    QTest::newRow("512") << "512\r" << "650 hPa" << 650;
    QTest::newRow("6553, highest in range") << "6553\r" << "7077 hPa" << 7077;
    QTest::newRow("-6553, lowest in range") << "-6553\r" << "-6865 hPa" << -6865;
    QTest::newRow("6554") << "6554\r" << outOfRange << -100000;
    QTest::newRow("7000") << "7000\r" << outOfRange << -100000;
    QTest::newRow("-6554") << "-6554\r" << outOfRange << -100000;
    QTest::newRow("99999999999") << "99999999999\r" << outOfRange << -100000;
}

void TstExchange::pressure()
{
    QFETCH(QString, reply);
    QFETCH(QString, status);
    QFETCH(int, pressureValue);

    Panel p;
    sendManual(p, QStringLiteral("CR PRESSURE"));
    QCOMPARE(p.takeWritten(), QByteArray("CR PRESSURE\r"));
    QCOMPARE(p.form->Timer2.interval(), 2000);
    QCOMPARE(p.form->Timer4.interval(), 2500);

    p.serial.receive(reply);
    QCOMPARE(p.status(), status);
    if (status == QLatin1String(decoding::kPressureOutOfRange)) {
        for (const QChar c : p.status())
            QVERIFY2(!c.isDigit(), "the out-of-range text shows no number");
    }
    if (pressureValue != -100000)
        QCOMPARE(int(p.state().PressureValue), pressureValue);
}

// SEND puts the box text out as typed, plus CR; only an exact query is decoded.
void TstExchange::manualEntry_data()
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

void TstExchange::manualEntry()
{
    QFETCH(QString, typed);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, txd);
    QFETCH(QString, statusAfterReply);

    Panel p;
    sendManual(p, typed);
    QCOMPARE(p.takeWritten(), bytes);
    QCOMPARE(p.txd(), txd);
    QCOMPARE(p.state().ManualText, typed);
    QCOMPARE(p.state().AwaitingReply, quint8(1));
    QVERIFY(p.form->Timer2.isActive());
    QVERIFY(p.form->Timer4.isActive());
    QCOMPARE(p.form->Timer2.interval(), 2000);
    QCOMPARE(p.form->Timer4.interval(), 2500);

    p.serial.receive(QStringLiteral("00\r"));
    QCOMPARE(p.rxd(), QStringLiteral(" 0 0 CR "));
    QCOMPARE(p.status(), statusAfterReply);
}

void TstExchange::clsEmptiesTheBox()
{
    Panel p;
    sendManual(p, QStringLiteral("C00"));
    QCOMPARE(p.takeWritten(), QByteArray("C00\r"));
    p.w<QLineEdit>("Text1")->setText(QStringLiteral("CF LOGO USER"));
    p.click("Command96");
    QCOMPARE(p.w<QLineEdit>("Text1")->text(), QString());
    QCOMPARE(p.txd(), QStringLiteral(" C 0 0 CR "));
    QVERIFY(p.serial.written.isEmpty());
}

void TstExchange::enterInTheBoxSendsNothing()
{
    Panel p;
    QLineEdit *box = p.w<QLineEdit>("Text1");
    box->setText(QStringLiteral("C00"));
    box->setFocus();
    QTest::keyClick(box, Qt::Key_Return);
    QTest::keyClick(box, Qt::Key_Enter);
    QVERIFY(p.serial.written.isEmpty());
    QCOMPARE(p.txd(), QString());
    QCOMPARE(p.state().AwaitingReply, quint8(0));
    QCOMPARE(box->text(), QStringLiteral("C00"));
}

QTEST_MAIN(TstExchange)
#include "tst_exchange.moc"
