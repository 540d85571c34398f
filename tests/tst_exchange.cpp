// Every button reaches the engine under its own control name; the engine's lines
// show on the TXD / RXD / status labels; the manual entry box.

#include "ExpectedOneShots.h"
#include "ExpectedRepeatKeys.h"
#include "PanelHarness.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>

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

    // What the box takes: one line of printable ASCII. Of a paste only its first line
    // goes in (where the cursor is); a paste or a key with any other character the
    // projector cannot take is refused whole. SEND then sends what the box shows.
    void boxTakesOneLineOfAscii_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<int>("cursor");
        QTest::addColumn<QString>("pasted");  // "type:" and the text: typed instead
        QTest::addColumn<QString>("after");
        QTest::newRow("two lines") << "" << 0 << "CR0\nC00" << "CR0";
        QTest::newRow("into the middle") << "ABCD" << 2 << "X\rY\nZ" << "ABXCD";
        QTest::newRow("a paragraph separator") << "C" << 1 << QStringView(u"R0\u2029C00").toString() << "CR0";
        QTest::newRow("a line separator") << "" << 0 << QStringView(u"CR0\u2028C00").toString() << "CR0";
        QTest::newRow("a next line") << "" << 0 << QStringView(u"CR0\u0085C00").toString() << "CR0";
        QTest::newRow("printable ASCII") << "C" << 1 << "F KEYDIS NONE ~" << "CF KEYDIS NONE ~";
        QTest::newRow("a tab") << "CR0" << 3 << "\tC00" << "CR0";
        QTest::newRow("Latin-1") << "C" << 1 << QStringView(u"\u00e9").toString() << "C";
        QTest::newRow("Japanese") << "" << 0 << QStringView(u"\u65e5\u672c").toString() << "";
        QTest::newRow("full-width, typed") << "C" << 1 << QStringView(u"type:\uff32").toString() << "C";
        QTest::newRow("ASCII, typed") << "C" << 1 << "type:r0" << "Cr0";
    }
    void boxTakesOneLineOfAscii()
    {
        QFETCH(QString, before);
        QFETCH(int, cursor);
        QFETCH(QString, pasted);
        QFETCH(QString, after);
        Panel p;
        p.form->keyPreview(Qt::Key_H, 2);
        p.form->wordMarkDoubleClicked();
        QLineEdit *box = p.w<QLineEdit>("Text1");
        box->setText(before);
        box->setCursorPosition(cursor);
        box->setFocus();
        if (pasted.startsWith(QLatin1String("type:"))) {
            for (const QChar c : pasted.mid(5)) {
                QKeyEvent key(QEvent::KeyPress, c.unicode() < 128 ? int(c.toUpper().unicode()) : int(Qt::Key_unknown), Qt::NoModifier, c);
                QApplication::sendEvent(box, &key);
            }
        } else {
            QGuiApplication::clipboard()->setText(pasted);
            QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
        }
        QCOMPARE(box->text(), after);
        p.click("Command95");
        QCOMPARE(p.takeWritten(), after.toLatin1() + '\r');
    }
};

QTEST_MAIN(TstExchange)
#include "tst_exchange.moc"
