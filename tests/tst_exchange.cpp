// The exchange through the window: every button reaches the engine under its
// control name, the engine's lines show on the TXD / RXD / status labels, and the
// manual entry box. The exchange itself is tested without a window in tst_engine.

#include "ExpectedOneShots.h"
#include "PanelHarness.h"
#include "TestSupport.h"

#include <QLineEdit>

class TstExchange : public QObject
{
    Q_OBJECT

private slots:
    // Each one-shot button, clicked: exactly its code and one CR on the wire, traced on TXD.
    void everyButtonReachesTheEngine()
    {
        Panel p;
        for (const OneShotRow &row : kExpectedOneShots) {
            QVERIFY2(p.button(row.control), row.control);
            p.click(row.control);
            QCOMPARE(p.takeWritten(), QByteArray(row.code) + '\r');
            QString trace(u' ');
            for (const char c : std::string_view(row.code))
                trace += QChar::fromLatin1(c) + u' ';
            QCOMPARE(p.txd(), trace + QStringLiteral("CR "));
        }
    }

    // A reply on the RXD and status labels; the display hold clears all three.
    void linesShowTheExchange()
    {
        Panel p;
        p.click("Command44");
        p.serial.receive(QStringLiteral("00\r"));
        QCOMPARE(p.txd(), QStringLiteral(" C R 0 CR "));
        QCOMPARE(p.rxd(), QStringLiteral(" 0 0 CR "));
        QCOMPARE(p.status(), QStringLiteral(" Power ON"));
        tick(p.form->engine().replyTimer);
        QCOMPARE(p.rxd(), QStringLiteral(" 0 0 CR "));
        tick(p.form->engine().displayHoldTimer);
        QCOMPARE(p.txd() + p.rxd() + p.status(), QString());
        p.click("Command17");
        tick(p.form->engine().replyTimer);
        QCOMPARE(p.rxd(), QStringLiteral(" X X X X"));
    }

    // SEND puts the box text out as typed, plus CR, with the manual hold intervals.
    void sendFromTheBox()
    {
        Panel p;
        p.w<QLineEdit>("Text1")->setText(QStringLiteral(" cr0"));
        p.click("Command95");
        QCOMPARE(p.takeWritten(), QByteArray(" cr0\r"));
        QCOMPARE(p.txd(), QStringLiteral("   c r 0 CR "));
        QCOMPARE(p.state().manualText, QStringLiteral(" cr0"));
        QCOMPARE(p.form->engine().replyTimer.interval(), 2000);
        QCOMPARE(p.form->engine().displayHoldTimer.interval(), 2500);
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
