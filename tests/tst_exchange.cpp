// Every button in the window, clicked or held with the mouse: what goes on the wire,
// the TXD / RXD / status labels, the timers and the state after each action; the
// manual entry box; the port frame. From the keyboard: keys reach only controls in
// sight; Enter clicks as Space does. Space, Enter or any mouse button held on a
// repeat key holds it, the keyboard's own repeats and a second button add nothing,
// and a hold whose release cannot come ends as on a release.

#include "ExpectedOneShots.h"
#include "ExpectedRepeatKeys.h"
#include "PanelHarness.h"

#include <QApplication>
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

const KeyRow &kVolUp = kKeys[0];

void focusOn(Panel &p, const char *name)
{
    QApplication::setActiveWindow(p.form.get());
    QVERIFY(QTest::qWaitForWindowActive(p.form.get()));
    p.w(name)->setFocus(Qt::TabFocusReason);
    QCOMPARE(QApplication::focusWidget(), p.w(name));
}

void sendKey(QWidget *w, QEvent::Type type, int key, bool autoRepeat = false)
{
    QKeyEvent e(type, key, Qt::NoModifier, key == Qt::Key_Space ? QStringLiteral(" ") : QStringLiteral("\r"), autoRepeat);
    QApplication::sendEvent(w, &e);
}

// The box's text and cursor, what is pasted ("type:" and the text: typed instead), and
// the text after.
struct BoxRow {
    const char *tag, *before;
    int cursor;
    const char16_t *pasted;
    const char *after;
};
const BoxRow kBoxRows[] = {
    {"two lines", "", 0, u"CR0\nC00", "CR0"},
    {"into the middle", "ABCD", 2, u"X\rY\nZ", "ABXCD"},
    {"a paragraph separator", "C", 1, u"R0\u2029C00", "CR0"},
    {"a line separator", "", 0, u"CR0\u2028C00", "CR0"},
    {"a next line", "", 0, u"CR0\u0085C00", "CR0"},
    {"printable ASCII, lower case", " c", 2, u"f keydis none ~", " cf keydis none ~"},
    {"Latin-1", "C", 1, u"\u00e9", "C"},
    {"full-width, typed", "C", 1, u"type:\uff32", "C"},
    {"ASCII, typed", "C", 1, u"type:r0", "Cr0"},
};

struct PortRow {
    const char *tag;
    bool lost;
    int unopenable;
    const char *clicks, *log, *shown;
    bool frame;
    int warnings;
};
const PortRow kPortRows[] = {
    {"COM2 absent: COM1 still in use", false, 2, "COM2", "PortOpen=0 CommPort=2 PortOpen=1 CommPort=1 PortOpen=1", "COM1 19200", true, 1},
    {"COM1 absent: COM2 still in use", false, 1, "COM2 COM1",
     "PortOpen=0 CommPort=2 PortOpen=1 PortOpen=0 CommPort=1 PortOpen=1 CommPort=2 PortOpen=1", "COM2 19200", true, 1},
    {"lost, then COM1", true, 0, "COM1", "Lost CommPort=1 PortOpen=1", "COM1 19200", false, 1},
    {"lost, then COM2 absent: none in use", true, 2, "COM2", "Lost CommPort=2 PortOpen=1 CommPort=1", "19200", true, 2},
    {"COM1 selected already", false, 0, "COM1", "", "COM1 19200", true, 0},
    {"9600, then 19200", false, 0, "9600 19200", "Settings=9600,N,8,1 Settings=19200,N,8,1", "COM1 19200", false, 0},
    {"lost, 9600 kept for COM1", true, 0, "9600 COM1", "Lost Settings=9600,N,8,1 CommPort=1 PortOpen=1", "COM1 9600", false, 1},
};

} // namespace

class TstExchange : public QObject {
    Q_OBJECT
private slots:
    // Each button clicked after start-up (VOL + held before, for a repeat interval
    // of its own): its code and CR on the wire, the trace on TXD, the hold intervals,
    // and the repeat interval and keyMode set by the menu buttons only. Its command,
    // found by name, is its control's and no repeat key.
    void oneShot_data()
    {
        QTest::addColumn<int>("row");
        for (int i = 0; i < int(std::size(kExpectedOneShots)); ++i)
            QTest::addRow("%s %s", kExpectedOneShots[i].name, kExpectedOneShots[i].code) << i;
    }
    void oneShot()
    {
        QFETCH(int, row);
        const OneShotRow &b = kExpectedOneShots[row];
        Panel p;
        const keys::Command *c = keys::findCommand(b.name);
        QVERIFY(c && c->control == b.control && !p.exchange().press(*c));
        act(p, QStringLiteral("key Command1"));
        p.takeWritten();
        p.click(b.control);
        QCOMPARE(p.takeWritten(), QByteArray(b.code) + '\r');
        QCOMPARE(p.txd(), u' ' + QString::fromLatin1(b.code).split(QString(), Qt::SkipEmptyParts).join(u' ') + QStringLiteral(" CR "));
        const ExchangeEngine::Timing t = p.exchange().timing();
        QVERIFY(t.replyWindowOpen && t.displayHeld && !t.repeating);
        QCOMPARE(t.replyWindowMs, b.replyWindowMs);
        QCOMPARE(t.displayHoldMs, b.displayHoldMs);
        QCOMPARE(t.repeatMs, b.menuContext ? 200 : 250);
        QCOMPARE(p.state().keyMode, quint8(b.menuContext ? 1 : 0));
    }

    // Every auto-repeat key held with the mouse after start-up, then an arrow after
    // each context: press, repeats, a reply while held, release. An
    // earlier status stays until the display hold ends; in every other row that
    // happens while the key is held, and the release starts the hold again.
    void repeatKey_data()
    {
        QTest::addColumn<int>("row");
        for (int i = 0; i < kKeyCount; ++i)
            QTest::addRow("%s", kKeys[i].name) << i;
        for (int i = 0; i < int(std::size(kArrowContexts)); ++i)
            QTest::addRow("%s, %s", kArrowContexts[i].steps, kKeys[kArrowContexts[i].key].name) << kKeyCount + i;
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
        fire(e, "replyWindow");
        for (const QString &step : QString::fromLatin1(h.steps).split(u',', Qt::SkipEmptyParts))
            act(p, step);
        const keys::Command *c = keys::findCommand(k.name);
        QVERIFY(c && c->control == k.control && !e.click(*c));  // no one-shot button
        p.takeWritten();
        p.press(k.control);
        for (int i = 0; i < 3; ++i) {
            if (i > 0)
                fire(e, "repeat");
            QCOMPARE(p.takeWritten(), wire(k));
            checkHeldExchange(p, k, h.repeatMs, h.replyWindowMs, h.displayHoldMs);
        }
        QCOMPARE(int(p.state().keyMode), h.keyMode);
        p.serial.receive(QStringLiteral("\x06"));
        QCOMPARE(p.rxd(), QStringLiteral(" ACK "));
        if (holdEnded) {
            fire(e, "replyWindow");
            fire(e, "displayHold");
        }
        p.release(k.control);
        QCOMPARE(p.takeWritten(), QByteArray());
        checkReleasedExchange(p, k, h.repeatMs, h.keyMode);
        QCOMPARE(p.status(), holdEnded ? QString() : QStringLiteral(" Power ON"));
    }

    // What the box takes: one line of printable ASCII. Of a paste only its first line
    // goes in (where the cursor is); a paste or a key with any other character the
    // projector cannot take is refused whole. Enter sends nothing, SEND sends what the
    // box shows, CLS empties it.
    void boxTakesOneLineOfAscii_data() { addRows(kBoxRows); }
    void boxTakesOneLineOfAscii()
    {
        QFETCH(int, row);
        const BoxRow &r = kBoxRows[row];
        const QString before = QString::fromLatin1(r.before), pasted = QString::fromUtf16(r.pasted), after = QString::fromLatin1(r.after);
        Panel p;
        p.form->keyPreview(Qt::Key_H, 2);
        p.form->wordMarkDoubleClicked();
        QLineEdit *box = p.w<QLineEdit>("Text1");
        box->setText(before);
        box->setCursorPosition(r.cursor);
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

    // The port frame: the COM button shows it, and a click on an option, found by its
    // caption, chooses the port (COM1/COM2) or the speed. Each row: the port lost first,
    // the one that cannot be opened, the captions clicked, the serial control's
    // operations, the options shown selected, the frame still shown, the warnings.
    void portFrame_data() { addRows(kPortRows); }
    void portFrame()
    {
        QFETCH(int, row);
        const PortRow &r = kPortRows[row];
        Panel p;
        p.serial.log.clear();
        bool openAtWarning = false;
        p.runtime.onWarning = [&] { openAtWarning |= p.serial.portOpen(); };
        if (r.lost)
            p.serial.loseDevice();
        if (r.unopenable)
            p.serial.unopenable[r.unopenable] = QStringLiteral("No such file or directory: /dev/ttyS%1").arg(r.unopenable - 1);
        QStringList on;
        for (const QString &caption : QString::fromLatin1(r.clicks).split(u' ')) {
            p.click("Command33");
            QVERIFY(p.w("Frame8")->isVisible());
            const QList<QRadioButton *> all = p.w("Frame8")->findChildren<QRadioButton *>();
            const auto it = std::find_if(all.begin(), all.end(), [&](auto *o) { return o->text() == caption; });
            QVERIFY2(it != all.end(), qPrintable(caption));
            QTest::mouseClick(*it, Qt::LeftButton, {}, QPoint(6, (*it)->height() / 2));
        }
        for (QRadioButton *o : p.w("Frame8")->findChildren<QRadioButton *>())
            if (o->isChecked())
                on << o->text();
        QCOMPARE(p.serial.log.join(u' '), QString::fromLatin1(r.log));
        QCOMPARE(on.join(u' '), QString::fromLatin1(r.shown));
        QCOMPARE(p.w("Frame8")->isVisible(), r.frame);
        QCOMPARE(p.runtime.warnings.size(), r.warnings);
        QVERIFY(!openAtWarning);
    }

    // A button below the compact window's edge takes no focus; keys sent to it all
    // the same do nothing, Ctrl+H included (it is not the focused control's key).
    void keysOutOfSightDoNothing()
    {
        Panel p;
        focusOn(p, "Command17");
        QWidget *w = p.w("Command44");
        QCOMPARE(w->focusPolicy(), Qt::NoFocus);
        QTest::keyClick(w, Qt::Key_H, Qt::ControlModifier);
        QCOMPARE(p.takeWritten(), QByteArray());
        QCOMPARE(p.form->outerHeightTwips(), 5350);
        // Nor does the button keep them: they go on to the window. So do the keys a
        // held key (in focus) has no use for: a key it does not take, a release
        // of a key that holds nothing.
        const struct {
            const char *control;
            QEvent::Type type;
            int key;
        } passedOn[] = {
            {"Command44", QEvent::KeyPress, Qt::Key_Return}, {"Command44", QEvent::KeyRelease, Qt::Key_Return},
            {"Command1", QEvent::KeyPress, Qt::Key_Up},      {"Command1", QEvent::KeyRelease, Qt::Key_Space},
        };
        for (const auto &[control, type, key] : passedOn) {
            QKeyEvent event(type, key, Qt::NoModifier);
            static_cast<QObject *>(p.w(control))->event(&event);
            QVERIFY2(!event.isAccepted(), qPrintable(QStringLiteral("%1, key %2, event %3").arg(control).arg(key).arg(int(type))));
        }
        QCOMPARE(p.takeWritten(), QByteArray());
    }

    // A one-shot button goes off as Enter goes down or as Space comes up; a repeat
    // key is held from the press to the release. Auto-repeats in between add nothing.
    void enterAndSpace_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("key");
        QTest::newRow("ON, Space") << "Command17" << int(Qt::Key_Space);
        QTest::newRow("ON, Return") << "Command17" << int(Qt::Key_Return);
        QTest::newRow("ON, keypad Enter") << "Command17" << int(Qt::Key_Enter);
        QTest::newRow("VOL +, Space") << "Command1" << int(Qt::Key_Space);
        QTest::newRow("VOL +, keypad Enter") << "Command1" << int(Qt::Key_Enter);
    }
    void enterAndSpace()
    {
        QFETCH(QString, control);
        QFETCH(int, key);
        const bool repeats = control == QLatin1String("Command1");
        const QByteArray wire = repeats ? "C09\r" : "C00\r";
        const bool atPress = repeats || key != Qt::Key_Space;
        Panel p;
        focusOn(p, qPrintable(control));
        QWidget *b = p.w(qPrintable(control));
        sendKey(b, QEvent::KeyPress, key);
        QCOMPARE(p.takeWritten(), atPress ? wire : QByteArray());
        sendKey(b, QEvent::KeyRelease, key, true);
        sendKey(b, QEvent::KeyPress, key, true);
        QCOMPARE(p.takeWritten(), QByteArray());
        fire(p.exchange(), "repeat");
        QCOMPARE(p.takeWritten(), repeats ? wire : QByteArray());
        sendKey(b, QEvent::KeyRelease, key);
        QCOMPARE(p.takeWritten(), atPress ? QByteArray() : wire);
        QVERIFY(!p.exchange().timing().repeating);
    }

    // A second activation key while the first holds a repeat key adds no press; the
    // first key's release ends the hold.
    void secondKeyWhileHeld()
    {
        Panel p;
        focusOn(p, "Command1");
        QWidget *b = p.w("Command1");
        const QImage up = b->grab().toImage();
        sendKey(b, QEvent::KeyPress, Qt::Key_Space);
        QCOMPARE(p.takeWritten(), QByteArray("C09\r"));
        QVERIFY(b->grab().toImage() != up);  // drawn pressed while the key holds it
        sendKey(b, QEvent::KeyPress, Qt::Key_Return);
        QCOMPARE(p.takeWritten(), QByteArray());
        QCOMPARE(p.exchange().timing().repeatMs, 250);
        sendKey(b, QEvent::KeyRelease, Qt::Key_Return);
        QVERIFY(p.exchange().timing().repeating);
        sendKey(b, QEvent::KeyRelease, Qt::Key_Space);
        QVERIFY(!p.exchange().timing().repeating);
        QCOMPARE(p.takeWritten(), QByteArray());
        QCOMPARE(b->grab().toImage(), up);
    }

    // Held by the right button, then the left goes down too and the right comes up
    // first: the key is let go only when the last button comes up. Held again, it
    // sends as at first.
    void secondButton()
    {
        Panel p;
        p.press("Command1", Qt::RightButton);
        QCOMPARE(p.takeWritten(), wire(kVolUp));
        p.press("Command1", Qt::LeftButton);
        p.release("Command1", Qt::RightButton);
        fire(p.exchange(), "repeat");
        QCOMPARE(p.takeWritten(), wire(kVolUp));
        p.release("Command1", Qt::LeftButton);
        QCOMPARE(p.takeWritten(), QByteArray());
        checkReleasedExchange(p, kVolUp, 250, 0);
        p.press("Command1");
        QCOMPARE(p.takeWritten(), wire(kVolUp));
    }

    // Hidden while another window is active (no deactivation comes with it), another
    // window activated, a warning box opening (a port that cannot be opened), or
    // held by the space bar, the focus moving on (the key's release goes there): the
    // hold ends. What reaches the window while it stays the active one (its
    // activation told again, a new palette from the desktop) leaves it held.
    void holdEndsWithoutItsRelease_data()
    {
        QTest::addColumn<QString>("how");
        for (const char *how : {"hidden", "deactivated", "warning box", "focus moved", "still active"})
            QTest::newRow(how) << QString::fromLatin1(how);
    }
    void holdEndsWithoutItsRelease()
    {
        QFETCH(QString, how);
        Panel p;
        QWidget other;
        other.show();
        QApplication::setActiveWindow(how == QLatin1String("hidden") ? &other : p.form.get());
        if (how == QLatin1String("warning box"))
            p.serial.unopenable[2] = QStringLiteral("No such file or directory: /dev/ttyS1");
        if (how == QLatin1String("focus moved")) {
            p.w("Command1")->setFocus();
            QTest::keyPress(p.w("Command1"), Qt::Key_Space);
        } else {
            p.press("Command1");
        }
        QCOMPARE(p.takeWritten(), wire(kVolUp));
        if (how == QLatin1String("hidden")) {
            p.form->hide();
        } else if (how == QLatin1String("deactivated")) {
            QApplication::setActiveWindow(&other);
        } else if (how == QLatin1String("warning box")) {
            p.w<QRadioButton>("Option2")->setChecked(true);
        } else if (how == QLatin1String("focus moved")) {
            p.w("Command18")->setFocus();
        } else {
            QVERIFY(p.form->isActiveWindow());
            QEvent activation(QEvent::ActivationChange);
            QCoreApplication::sendEvent(p.form.get(), &activation);
            p.form->setPalette(QPalette(Qt::darkGray));
            fire(p.exchange(), "repeat");
            QCOMPARE(p.takeWritten(), wire(kVolUp));
            p.release("Command1");
        }
        QCOMPARE(p.runtime.warnings.size(), how == QLatin1String("warning box") ? 1 : 0);
        checkReleasedExchange(p, kVolUp, 250, 0);
        p.release("Command1");
        QCOMPARE(p.takeWritten(), QByteArray());
    }
};

QTEST_MAIN(TstExchange)
#include "tst_exchange.moc"
