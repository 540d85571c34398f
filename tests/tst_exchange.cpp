// Every button reaches the engine under its own control name; the engine's lines
// show on the TXD / RXD / status labels; the manual entry box.

#include "ExpectedOneShots.h"
#include "ExpectedRepeatKeys.h"
#include "PanelHarness.h"

class TstExchange : public QObject {
    Q_OBJECT
    std::unique_ptr<Panel> shared;
private slots:
    void oneShotClicked_data()
    {
        QTest::addColumn<int>("row");
        for (int i = 0; i < int(std::size(kExpectedOneShots)); ++i)
            QTest::newRow(kExpectedOneShots[i].control) << i;
    }
    void oneShotClicked()
    {
        QFETCH(int, row);
        if (!shared)
            shared = std::make_unique<Panel>();
        shared->click(kExpectedOneShots[row].control);
        QCOMPARE(shared->takeWritten(), QByteArray(kExpectedOneShots[row].code) + '\r');
    }

    // Down sends the key's code once, up ends the hold; no click action of its own.
    void repeatKeyPressedAndReleased_data() { addKeyRows(); }
    void repeatKeyPressedAndReleased()
    {
        QFETCH(int, key);
        const KeyRow &k = kKeys[key];
        Panel p;
        p.press(k.control);
        QCOMPARE(p.takeWritten(), wire(k));
        checkHeldExchange(p, k, k.repeat(), k.reply(), k.hold());
        p.release(k.control);
        QCOMPARE(p.takeWritten(), QByteArray());
        checkReleasedExchange(p, k, k.repeat(), 0);
    }

    void linesShowTheExchange()
    {
        Panel p;
        p.click("Command44");
        p.serial.receive(QStringLiteral("00\r"));
        QCOMPARE(p.txd(), QStringLiteral(" C R 0 CR "));
        QCOMPARE(p.rxd(), QStringLiteral(" 0 0 CR "));
        QCOMPARE(p.status(), QStringLiteral(" Power ON"));
    }

    // Enter in the box sends nothing; SEND sends the text as typed; CLS empties the box.
    void manualEntryBox()
    {
        Panel p;
        QLineEdit *box = p.w<QLineEdit>("Text1");
        box->setText(QStringLiteral(" cr0"));
        QTest::keyClick(box, Qt::Key_Return);
        QCOMPARE(p.takeWritten(), QByteArray());
        p.click("Command95");
        QCOMPARE(p.takeWritten(), QByteArray(" cr0\r"));
        p.click("Command96");
        QCOMPARE(box->text(), QString());
        QCOMPARE(p.takeWritten(), QByteArray());
    }
};

QTEST_MAIN(TstExchange)
#include "tst_exchange.moc"
