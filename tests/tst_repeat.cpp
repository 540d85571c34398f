// The auto-repeat keys as the operator uses them: a press sends the key's code at
// once, every repeat tick sends it again, a release tidies the exchange up; the
// arrows take their hold intervals from the key context (KeyMode). Also the mended
// stuck-key fault: a held key whose release never arrives stops as on a release.
// The repeat timer is driven tick by tick; only realTimeHold lets it run for real.

#include "PanelHarness.h"
#include "TestSupport.h"

#include <QApplication>
#include <QRadioButton>

namespace {

// Every auto-repeat key, written out by hand. The arrows set no intervals of their
// own (their hold intervals come from KeyMode); a D.Zoom release also sets the
// repeat interval to 5 and KeyMode to 3.
struct KeyRow {
    const char *control;
    const char *label;
    quint8 repeatCode;
    const char *code;
    const char *trace;  // the TXD line after the key's code went out
    bool arrow;
    int repeatMs, replyWindowMs, displayHoldMs;
    bool zoom;
    // The intervals a press right after start-up runs with.
    int repeat() const { return arrow ? 200 : repeatMs; }
    int reply() const { return arrow ? 500 : replyWindowMs; }
    int hold() const { return arrow ? 1000 : displayHoldMs; }
};

constexpr KeyRow kKeys[] = {
    {"Command1", "VOL +", 1, "C09", " C 0 9 CR ", false, 250, 200, 245, false},
    {"Command2", "VOL -", 2, "C0A", " C 0 A CR ", false, 250, 200, 245, false},
    {"Command15", "Brightness +", 7, "C20", " C 2 0 CR ", false, 50, 25, 25, false},
    {"Command35", "Brightness -", 8, "C21", " C 2 1 CR ", false, 50, 25, 25, false},
    {"Command48", "D.Zoom +", 17, "C30", " C 3 0 CR ", false, 250, 200, 245, true},
    {"Command49", "D.Zoom -", 18, "C31", " C 3 1 CR ", false, 250, 200, 245, true},
    {"Command50", "Keystone +", 19, "C8E", " C 8 E CR ", false, 250, 200, 245, false},
    {"Command51", "Keystone -", 20, "C8F", " C 8 F CR ", false, 250, 200, 245, false},
    {"Command6", "SELECT", 13, "C3F", " C 3 F CR ", false, 500, 200, 245, false},
    {"Command5", "up", 3, "C3C", " C 3 C CR ", true, 0, 0, 0, false},
    {"Command7", "down", 4, "C3D", " C 3 D CR ", true, 0, 0, 0, false},
    {"Command9", "left", 5, "C3B", " C 3 B CR ", true, 0, 0, 0, false},
    {"Command8", "right", 6, "C3A", " C 3 A CR ", true, 0, 0, 0, false},
};
constexpr int kKeyCount = int(std::size(kKeys));

QByteArray wire(const KeyRow &k) { return QByteArray(k.code) + '\r'; }

// One column "key" (an index into kKeys), one row per key.
void addKeyRows()
{
    QTest::addColumn<int>("key");
    for (int i = 0; i < kKeyCount; ++i)
        QTest::addRow("%s %s", kKeys[i].control, kKeys[i].label) << i;
}

// The key is held: its code went out, the repeat timer runs.
void checkHeld(const Panel &p, const KeyRow &k, int repeatMs, int replyWindowMs, int displayHoldMs)
{
    QVERIFY(p.button(k.control)->isHeld());
    QCOMPARE(p.state().repeatCode, k.repeatCode);
    QVERIFY(p.form->engine().repeatTimer.isActive() && p.form->engine().replyTimer.isActive() && p.form->engine().displayHoldTimer.isActive());
    QCOMPARE(p.form->engine().repeatTimer.interval(), repeatMs);
    QCOMPARE(p.form->engine().replyTimer.interval(), replyWindowMs);
    QCOMPARE(p.form->engine().displayHoldTimer.interval(), displayHoldMs);
    QCOMPARE(p.txd(), QString::fromLatin1(k.trace));
    QCOMPARE(p.state().txText, QString::fromLatin1(wire(k)));
    QCOMPARE(p.state().awaitingReply, quint8(1));
}

// The key was let go (or its hold ended as if it had been): the tidied state, with no
// reply window left open (so no no-reply mark can appear).
void checkReleased(const Panel &p, const KeyRow &k, int repeatMsBefore, int keyModeBefore)
{
    QVERIFY(!p.button(k.control)->isHeld());
    QCOMPARE(p.state().repeatCode, quint8(0));
    QVERIFY(!p.form->engine().repeatTimer.isActive());
    QCOMPARE(p.form->engine().repeatTimer.interval(), k.zoom ? 5 : repeatMsBefore);
    QCOMPARE(int(p.state().keyMode), k.zoom ? 3 : keyModeBefore);
    QVERIFY(!p.form->engine().replyTimer.isActive());
    QCOMPARE(p.form->engine().replyTimer.interval(), 500);
    QVERIFY(p.form->engine().displayHoldTimer.isActive());
    QCOMPARE(p.form->engine().displayHoldTimer.interval(), 1000);
    QCOMPARE(p.txd(), QString());
    QCOMPARE(p.rxd(), QString());
    QCOMPARE(p.state().rxText, QString());
}

// Repeat ticks after the hold ended put nothing on the (open) line.
void checkTicksSendNothing(Panel &p)
{
    QVERIFY(p.serial.portOpen());
    for (int i = 0; i < 3; ++i) {
        tick(p.form->engine().repeatTimer);
        QCOMPARE(p.takeWritten(), QByteArray());
    }
}

// Presses the key, checks the first command and `ticks` repeats.
void pressAndRepeat(Panel &p, const KeyRow &k, int ticks, int repeatMs, int replyWindowMs, int displayHoldMs,
                    Qt::MouseButton button = Qt::LeftButton)
{
    p.press(k.control, button);
    for (int i = 0; i <= ticks; ++i) {
        if (i > 0)
            tick(p.form->engine().repeatTimer);
        QCOMPARE(p.takeWritten(), wire(k));  // one command per tick, the same one
        checkHeld(p, k, repeatMs, replyWindowMs, displayHoldMs);
    }
}

} // namespace

class TstRepeat : public QObject
{
    Q_OBJECT

private slots:
    // Every key with each mouse button: press, three ticks, a reply while held, release,
    // ticks after the release. An earlier status stays on the status line until the
    // display hold ends; in the variant "display hold ended" that happens while the key
    // is held, and the release starts the display hold again.
    void pressHoldRelease_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<Qt::MouseButton>("button");
        QTest::addColumn<bool>("holdEnded");
        const std::tuple<const char *, Qt::MouseButton, bool> variants[] = {{"left", Qt::LeftButton, false},
            {"right", Qt::RightButton, false}, {"middle", Qt::MiddleButton, false},
            {"display hold ended", Qt::LeftButton, true}};
        for (const auto &[name, button, holdEnded] : variants)
            for (int i = 0; i < kKeyCount; ++i)
                QTest::addRow("%s: %s %s", name, kKeys[i].control, kKeys[i].label) << i << button << holdEnded;
    }
    void pressHoldRelease()
    {
        QFETCH(int, key);
        QFETCH(Qt::MouseButton, button);
        QFETCH(bool, holdEnded);
        const KeyRow &k = kKeys[key];
        Panel p;
        QVERIFY(p.button(k.control)->isPressRelease());
        QVERIFY(!p.button("Command44")->isPressRelease());
        p.click("Command44");
        p.serial.receive(QStringLiteral("00\r"));
        tick(p.form->engine().replyTimer);
        p.takeWritten();
        tick(p.form->engine().repeatTimer);  // nothing held: nothing to send
        QCOMPARE(p.takeWritten(), QByteArray());

        pressAndRepeat(p, k, 3, k.repeat(), k.reply(), k.hold(), button);
        QCOMPARE(p.state().keyMode, quint8(0));
        p.serial.receive(QStringLiteral("\x06"));
        QCOMPARE(p.state().rxText, QStringLiteral("\x06"));
        QCOMPARE(p.rxd(), QStringLiteral(" ACK "));
        if (holdEnded) {
            tick(p.form->engine().replyTimer);
            tick(p.form->engine().displayHoldTimer);
            QVERIFY(!p.form->engine().replyTimer.isActive() && !p.form->engine().displayHoldTimer.isActive() && p.form->engine().repeatTimer.isActive());
        }

        p.release(k.control, button);
        QCOMPARE(p.takeWritten(), QByteArray());
        checkReleased(p, k, k.repeat(), 0);
        QCOMPARE(p.status(), holdEnded ? QString() : QStringLiteral(" Power ON"));
        checkTicksSendNothing(p);
        tick(p.form->engine().displayHoldTimer);
        QCOMPARE(p.status(), QString());
    }

    // The arrows keep the repeat interval the last setter left and take the hold
    // intervals from KeyMode: 1 (menu) -> 150/190, 3 (zoom) -> 5/5, else as they are.
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
            // KeyMode 0 leaves whatever a one-shot button set; one that is no menu
            // button leaves KeyMode as it is.
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
        Panel p;
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
        checkReleased(p, k, repeatMs, keyMode);
        checkTicksSendNothing(p);
    }

    // A second button going down on a held key sends nothing; the key is let go only
    // when the last of the two comes up.
    void secondButtonWhileHeld_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<Qt::MouseButton>("first");
        QTest::addColumn<Qt::MouseButton>("second");
        QTest::addColumn<bool>("firstUpFirst");
        const std::tuple<const char *, Qt::MouseButton, Qt::MouseButton, bool> cases[] = {
            {"left, right; right up first", Qt::LeftButton, Qt::RightButton, false},
            {"left, right; left up first", Qt::LeftButton, Qt::RightButton, true},
            {"middle, left; middle up first", Qt::MiddleButton, Qt::LeftButton, true},
        };
        for (const auto &[name, first, second, firstUpFirst] : cases)
            for (int i : {0, 4, 8, 9})  // VOL +, D.Zoom +, SELECT, up
                QTest::addRow("%s: %s", name, kKeys[i].label) << i << first << second << firstUpFirst;
    }
    void secondButtonWhileHeld()
    {
        QFETCH(int, key);
        QFETCH(Qt::MouseButton, first);
        QFETCH(Qt::MouseButton, second);
        QFETCH(bool, firstUpFirst);
        const KeyRow &k = kKeys[key];
        Panel p;
        pressAndRepeat(p, k, 0, k.repeat(), k.reply(), k.hold(), first);
        p.press(k.control, second);
        QCOMPARE(p.takeWritten(), QByteArray());
        p.release(k.control, firstUpFirst ? first : second);
        QCOMPARE(p.takeWritten(), QByteArray());
        checkHeld(p, k, k.repeat(), k.reply(), k.hold());
        tick(p.form->engine().repeatTimer);
        QCOMPARE(p.takeWritten(), wire(k));  // still repeating

        p.release(k.control, firstUpFirst ? second : first);
        QCOMPARE(p.takeWritten(), QByteArray());
        checkReleased(p, k, k.repeat(), 0);
        checkTicksSendNothing(p);
    }

    // The space bar held on a focused key acts as a mouse button held: the first
    // command at once, one per repeat tick, the release tidies up. The keyboard's own
    // repeats (press and release pairs) add nothing.
    void spaceBarHoldsTheKey_data() { addKeyRows(); }
    void spaceBarHoldsTheKey()
    {
        QFETCH(int, key);
        const KeyRow &k = kKeys[key];
        Panel p;
        p.form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(p.form.get()));
        PanelButton *b = p.button(k.control);
        b->setFocus();
        QVERIFY(b->hasFocus());
        QTest::keyPress(b, Qt::Key_Space);
        QCOMPARE(p.takeWritten(), wire(k));
        checkHeld(p, k, k.repeat(), k.reply(), k.hold());
        for (int i = 0; i < 2; ++i) {
            for (QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
                QKeyEvent autoRepeat(type, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "), true);
                QApplication::sendEvent(b, &autoRepeat);
            }
            QCOMPARE(p.takeWritten(), QByteArray());
            tick(p.form->engine().repeatTimer);
            QCOMPARE(p.takeWritten(), wire(k));
            checkHeld(p, k, k.repeat(), k.reply(), k.hold());
        }
        QTest::keyRelease(b, Qt::Key_Space);
        QCOMPARE(p.takeWritten(), QByteArray());
        checkReleased(p, k, k.repeat(), 0);
        checkTicksSendNothing(p);
    }

    // Stuck key: a held key stops as on a release when the window is hidden (as the
    // active window, or while another one is active, so that no deactivation comes
    // with it), when another window becomes active, or when a warning box opens (a
    // port that cannot be opened is chosen). The release that comes late changes
    // nothing.
    void stuckKey_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("how");
        for (const char *how : {"hidden", "hidden, not active", "deactivated", "warning box"})
            for (int i = 0; i < kKeyCount; ++i)
                QTest::addRow("%s: %s %s", how, kKeys[i].control, kKeys[i].label) << i << QString::fromLatin1(how);
    }
    void stuckKey()
    {
        QFETCH(int, key);
        QFETCH(QString, how);
        const KeyRow &k = kKeys[key];
        const QString warning = QStringLiteral("No such file or directory: /dev/ttyS1");
        Panel p;
        QWidget other;
        other.resize(200, 100);
        const bool active = how != QLatin1String("hidden, not active");
        if (active) {
            p.form->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(p.form.get()));
        } else {
            other.show();
            QApplication::setActiveWindow(&other);
            QVERIFY(QTest::qWaitForWindowActive(&other));
        }
        QCOMPARE(p.form->isActiveWindow(), active);
        if (how == QLatin1String("warning box")) {
            p.serial.unopenable[2] = warning;
            p.click("Command33");
        }
        pressAndRepeat(p, k, 1, k.repeat(), k.reply(), k.hold());

        int boxes = 0;
        bool heldInBox = true;
        p.runtime.onWarning = [&] {
            ++boxes;
            heldInBox = p.state().repeatCode || p.form->engine().repeatTimer.isActive() || p.button(k.control)->isHeld();
        };
        if (how.startsWith(QLatin1String("hidden"))) {
            p.form->hide();
        } else if (how == QLatin1String("deactivated")) {
            other.show();
            QApplication::setActiveWindow(&other);
            QVERIFY(!p.form->isActiveWindow());
        } else {
            p.w<QRadioButton>("Option2")->setChecked(true);
            QCOMPARE(p.runtime.warnings, QStringList{warning});
            QCOMPARE(boxes, 1);
            QVERIFY(!heldInBox);
            QCOMPARE(p.serial.commPort(), 1);  // COM1 is open again, so a tick could send
        }
        // The hold ended at once, before any repeat tick could run.
        QCOMPARE(p.takeWritten(), QByteArray());
        checkReleased(p, k, k.repeat(), 0);
        if (how == QLatin1String("deactivated"))
            QVERIFY(QTest::qWaitForWindowActive(&other));
        checkTicksSendNothing(p);

        p.release(k.control);
        QCOMPARE(p.takeWritten(), QByteArray());
        QCOMPARE(p.state().repeatCode, quint8(0));
        QVERIFY(!p.form->engine().repeatTimer.isActive());
        QCOMPARE(int(p.state().keyMode), k.zoom ? 3 : 0);
    }

    // VOL + held for about 1.1 s with the timers running for real sends at 0, 250, 500,
    // 750 and 1000 ms; a loaded machine may fire a tick or the release late, so 4 to 6
    // are accepted (the rate, roughly, not the timing). After the release no no-reply
    // mark appears.
    void realTimeHold()
    {
        Panel p;
        p.press("Command1");
        QTest::qWait(1100);
        p.release("Command1");
        const QByteArray written = p.takeWritten();
        const qsizetype sent = written.count("C09\r");
        QVERIFY2(sent >= 4 && sent <= 6, qPrintable(QStringLiteral("%1 commands sent").arg(sent)));
        QCOMPARE(written, QByteArray("C09\r").repeated(int(sent)));
        QTest::qWait(600);
        QCOMPARE(p.takeWritten(), QByteArray());
        QCOMPARE(p.rxd(), QString());
        QVERIFY(!p.form->engine().replyTimer.isActive());
    }
};

QTEST_MAIN(TstRepeat)
#include "tst_repeat.moc"
