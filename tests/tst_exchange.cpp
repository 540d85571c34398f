// Every button in the window, clicked or held with the mouse: what goes on the wire,
// the TXD / RXD / status labels, the timers and the state after each action; the
// manual entry box.

#include "ExpectedOneShots.h"
#include "ExpectedRepeatKeys.h"
#include "PanelHarness.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>

namespace {

// An arrow after what went before: the intervals it runs with and keyMode. The
// arrows keep the repeat interval the last setter left; keyMode 1 (menu) gives hold
// intervals 150/190, 3 (zoom) 5/5.
struct Held {
    const char *steps;
    int key, repeatMs, replyWindowMs, displayHoldMs, keyMode;
};
const Held kArrowContexts[] = {
    {"click Command23", 9, 200, 150, 190, 1},
    {"key Command48", 11, 5, 5, 5, 3},
    {"key Command48,click Command23", 12, 200, 150, 190, 1},
    {"click Command23,key Command49", 9, 5, 5, 5, 3},
    {"key Command1", 10, 250, 500, 1000, 0},
    {"click Command23,key Command1", 12, 250, 150, 190, 1},
    {"key Command48,key Command6", 9, 500, 5, 5, 3},
    {"click Command4", 10, 200, 2000, 2500, 0},
    {"click Command23,click Command4", 11, 200, 150, 190, 1},
};

} // namespace

class TstExchange : public QObject {
    Q_OBJECT
private slots:
    // Each button clicked after start-up: its code and CR on the wire, the trace on
    // TXD, the hold intervals, and the repeat interval and keyMode set by the menu
    // buttons only.
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
        Panel p;
        const ExchangeEngine &e = p.exchange();
        p.exchange().repeatTimer.setInterval(777);
        QVERIFY(!p.exchange().press(QString::fromLatin1(b.control)));  // no auto-repeat key
        p.click(b.control);
        QCOMPARE(p.takeWritten(), QByteArray(b.code) + '\r');
        QCOMPARE(p.txd(), u' ' + QString::fromLatin1(b.code).split(QString(), Qt::SkipEmptyParts).join(u' ') + QStringLiteral(" CR "));
        QCOMPARE(p.state().awaitingReply, quint8(1));
        QVERIFY(e.replyTimer.isActive() && e.displayHoldTimer.isActive() && !e.repeatTimer.isActive());
        QCOMPARE(e.replyTimer.interval(), b.replyWindowMs);
        QCOMPARE(e.displayHoldTimer.interval(), b.displayHoldMs);
        QCOMPARE(e.repeatTimer.interval(), b.menuContext ? 200 : 777);
        QCOMPARE(p.state().keyMode, quint8(b.menuContext ? 1 : 0));
    }

    // Every auto-repeat key held with the mouse after start-up, then an arrow after
    // each context: press, repeats, a reply while held, release, ticks after it. An
    // earlier status stays until the display hold ends; in every other row that
    // happens while the key is held, and the release starts the hold again.
    void repeatKey_data()
    {
        QTest::addColumn<int>("row");
        for (int i = 0; i < kKeyCount; ++i)
            QTest::addRow("%s %s", kKeys[i].control, kKeys[i].label) << i;
        for (int i = 0; i < int(std::size(kArrowContexts)); ++i)
            QTest::addRow("%s, %s", kArrowContexts[i].steps, kKeys[kArrowContexts[i].key].label) << kKeyCount + i;
    }
    void repeatKey()
    {
        QFETCH(int, row);
        const KeyRow *key = row < kKeyCount ? &kKeys[row] : nullptr;
        const Held h = key ? Held{"", row, key->repeatMs, key->replyWindowMs, key->displayHoldMs, 0} : kArrowContexts[row - kKeyCount];
        const KeyRow &k = kKeys[h.key];
        const bool holdEnded = row % 2;
        Panel p;
        ExchangeEngine &e = p.exchange();
        p.click("Command44");
        p.serial.receive(QStringLiteral("00\r"));
        tick(e.replyTimer);
        for (const QString &step : QString::fromLatin1(h.steps).split(u',', Qt::SkipEmptyParts))
            act(p, step);
        QVERIFY(!e.click(QString::fromLatin1(k.control)));  // no one-shot button
        p.takeWritten();
        tick(e.repeatTimer);  // nothing held: nothing to send
        QCOMPARE(p.takeWritten(), QByteArray());
        p.press(k.control);
        for (int i = 0; i < 3; ++i) {
            if (i > 0)
                tick(e.repeatTimer);
            QCOMPARE(p.takeWritten(), wire(k));
            checkHeldExchange(p, k, h.repeatMs, h.replyWindowMs, h.displayHoldMs);
        }
        QCOMPARE(int(p.state().keyMode), h.keyMode);
        p.serial.receive(QStringLiteral("\x06"));
        QCOMPARE(p.rxd(), QStringLiteral(" ACK "));
        if (holdEnded) {
            tick(e.replyTimer);
            tick(e.displayHoldTimer);
        }
        p.release(k.control);
        QCOMPARE(p.takeWritten(), QByteArray());
        checkReleasedExchange(p, k, h.repeatMs, h.keyMode);
        QCOMPARE(p.status(), holdEnded ? QString() : QStringLiteral(" Power ON"));
        checkTicksSendNothing(p);
    }

    // What the box takes: one line of printable ASCII. Of a paste only its first line
    // goes in (where the cursor is); a paste or a key with any other character the
    // projector cannot take is refused whole. Enter sends nothing, SEND sends what the
    // box shows, CLS empties it.
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
        QTest::newRow("printable ASCII, lower case") << " c" << 2 << "f keydis none ~" << " cf keydis none ~";
        QTest::newRow("Latin-1") << "C" << 1 << QStringView(u"\u00e9").toString() << "C";
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
        QTest::keyClick(box, Qt::Key_Return);
        QCOMPARE(p.takeWritten(), QByteArray());
        p.click("Command95");
        QCOMPARE(p.takeWritten(), after.toLatin1() + '\r');
        p.click("Command96");
        QCOMPARE(box->text(), QString());
        QCOMPARE(p.takeWritten(), QByteArray());
    }
};

QTEST_MAIN(TstExchange)
#include "tst_exchange.moc"
