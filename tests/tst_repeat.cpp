// The auto-repeat keys as the operator uses them: volume, brightness, digital
// zoom, keystone, SELECT and the cursor pad. A press sends the key's code at once,
// every repeat tick sends it again, a release tidies the exchange up; the arrows
// take their hold intervals from the key context (KeyMode). Also the mended
// stuck-key fault: a held key whose release never arrives stops as on a release.
//
// The repeat timer is driven tick by tick; only realTimeHold lets the window's
// timers run for real.

#include "PanelHarness.h"

#include <QApplication>
#include <QRadioButton>
#include <QTest>

class TstRepeat : public QObject
{
    Q_OBJECT

private slots:
    void everyKeyIsPressRelease_data();
    void everyKeyIsPressRelease();
    void pressHoldRelease_data();
    void pressHoldRelease();
    void arrowsByKeyMode_data();
    void arrowsByKeyMode();
    void everyMouseButtonActsAlike_data();
    void everyMouseButtonActsAlike();
    void secondButtonWhileHeld_data();
    void secondButtonWhileHeld();
    void spaceBarSendsNothing_data();
    void spaceBarSendsNothing();
    void plainClickSendsOnceThenReleases_data();
    void plainClickSendsOnceThenReleases();
    void statusAfterRelease_data();
    void statusAfterRelease();
    void releaseAfterDisplayHoldEnded_data();
    void releaseAfterDisplayHoldEnded();
    void statusLineLeftAsIs_data();
    void statusLineLeftAsIs();
    void stuckKeyWindowHidden_data();
    void stuckKeyWindowHidden();
    void stuckKeyWindowDeactivated_data();
    void stuckKeyWindowDeactivated();
    void stuckKeyWarningBox_data();
    void stuckKeyWarningBox();
    void realTimeHold();
};

namespace {

// Every auto-repeat key, written out by hand.
struct KeyRow {
    const char *control;
    const char *label;
    quint8 repeatCode;
    const char *code;
    const char *trace;   // the TXD line after the key's code went out
    bool arrow;          // leaves the repeat interval as it is; hold intervals by KeyMode
    int repeatMs;        // set at press (not by the arrows)
    int replyWindowMs;   // Timer2 / Timer4 set with the first send (not by the arrows)
    int displayHoldMs;
    bool zoom;           // a release also sets repeat interval 5 and KeyMode 3
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

// The window's intervals after start-up.
constexpr int kStartRepeatMs = 200, kStartReplyWindowMs = 500, kStartDisplayHoldMs = 1000;

QByteArray wire(const KeyRow &k)
{
    return QByteArray(k.code) + '\r';
}

// One column "key" (an index into kKeys), one row per key.
void addKeyRows()
{
    QTest::addColumn<int>("key");
    for (int i = 0; i < kKeyCount; ++i)
        QTest::addRow("%s %s", kKeys[i].control, kKeys[i].label) << i;
}

// Drives one tick of a timer without waiting for it (timeout() cannot be emitted
// from outside QTimer in Qt 6).
void tick(QTimer &timer)
{
    QVERIFY(QMetaObject::invokeMethod(&timer, "timeout", Qt::DirectConnection));
}

// The key is held: its code went out, the repeat timer runs.
void checkHeld(const Panel &p, const KeyRow &k, int repeatMs, int replyWindowMs, int displayHoldMs)
{
    QVERIFY(p.button(k.control)->isHeld());
    QCOMPARE(p.state().RepeatCode, k.repeatCode);
    QVERIFY(p.form->Timer1.isActive());
    QCOMPARE(p.form->Timer1.interval(), repeatMs);
    QVERIFY(p.form->Timer2.isActive());
    QCOMPARE(p.form->Timer2.interval(), replyWindowMs);
    QVERIFY(p.form->Timer4.isActive());
    QCOMPARE(p.form->Timer4.interval(), displayHoldMs);
    QCOMPARE(p.txd(), QString::fromLatin1(k.trace));
    QCOMPARE(p.state().TxText, QString::fromLatin1(wire(k)));
    QCOMPARE(p.state().AwaitingReply, quint8(1));
}

// The key was let go (or its hold ended as if it had been): the tidied state.
void checkReleased(const Panel &p, const KeyRow &k, int repeatMsBefore, int keyModeBefore)
{
    QVERIFY(!p.button(k.control)->isHeld());
    QCOMPARE(p.state().RepeatCode, quint8(0));
    QVERIFY(!p.form->Timer1.isActive());
    QCOMPARE(p.form->Timer1.interval(), k.zoom ? 5 : repeatMsBefore);
    QCOMPARE(int(p.state().KeyMode), k.zoom ? 3 : keyModeBefore);
    // No reply window left open, so no no-reply mark can appear.
    QVERIFY(!p.form->Timer2.isActive());
    QCOMPARE(p.form->Timer2.interval(), 500);
    QVERIFY(p.form->Timer4.isActive());
    QCOMPARE(p.form->Timer4.interval(), 1000);
    QCOMPARE(p.txd(), QString());
    QCOMPARE(p.rxd(), QString());
    QCOMPARE(p.state().RxText, QString());
}

// A few repeat ticks after the hold ended put nothing on the (open) line.
void checkTicksSendNothing(Panel &p)
{
    QVERIFY(p.serial.portOpen());
    for (int i = 0; i < 3; ++i) {
        tick(p.form->Timer1);
        QCOMPARE(p.takeWritten(), QByteArray());
    }
    QCOMPARE(p.state().RepeatCode, quint8(0));
}

// Runs the steps that set the key context: "click CommandN" or "hold CommandN"
// (press and release).
void runSteps(Panel &p, const QStringList &steps)
{
    for (const QString &step : steps) {
        const QStringList parts = step.split(QLatin1Char(' '));
        QCOMPARE(parts.size(), 2);
        const QByteArray control = parts[1].toLatin1();
        QVERIFY2(p.button(control.constData()), control.constData());
        if (parts[0] == QLatin1String("click")) {
            p.click(control.constData());
        } else {
            QCOMPARE(parts[0], QStringLiteral("hold"));
            p.press(control.constData());
            p.release(control.constData());
        }
    }
    p.takeWritten();
}

} // namespace

// Each of the thirteen keys is a press-release key; a one-shot button is not.
void TstRepeat::everyKeyIsPressRelease_data()
{
    addKeyRows();
}

void TstRepeat::everyKeyIsPressRelease()
{
    QFETCH(int, key);
    const KeyRow &k = kKeys[key];
    Panel p;
    PanelButton *b = p.button(k.control);
    QVERIFY2(b, "no such button");
    QVERIFY(b->isPressRelease());
    QVERIFY(b->isVisible());
    QVERIFY(!b->isHeld());
    QVERIFY(!p.button("Command44")->isPressRelease());
    QVERIFY(!p.button("Command23")->isPressRelease());
}

// Press: one command with the key's intervals; three ticks: three more, the
// interval never shortens; a reply while held; release: the tidied state; a tick
// after the release sends nothing.
void TstRepeat::pressHoldRelease_data()
{
    addKeyRows();
}

void TstRepeat::pressHoldRelease()
{
    QFETCH(int, key);
    const KeyRow &k = kKeys[key];
    Panel p;
    QVERIFY(p.serial.portOpen());
    QCOMPARE(p.takeWritten(), QByteArray());
    QCOMPARE(p.state().KeyMode, quint8(0));
    QCOMPARE(p.form->Timer1.interval(), kStartRepeatMs);
    QVERIFY(!p.form->Timer1.isActive());

    // Nothing held: a tick has nothing to send.
    tick(p.form->Timer1);
    QCOMPARE(p.takeWritten(), QByteArray());

    const int repeatMs = k.arrow ? kStartRepeatMs : k.repeatMs;
    const int replyMs = k.arrow ? kStartReplyWindowMs : k.replyWindowMs;
    const int holdMs = k.arrow ? kStartDisplayHoldMs : k.displayHoldMs;

    p.press(k.control);
    QCOMPARE(p.takeWritten(), wire(k));
    checkHeld(p, k, repeatMs, replyMs, holdMs);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(p.rxd(), QString());
    QCOMPARE(p.state().KeyMode, quint8(0));

    for (int i = 1; i <= 3; ++i) {
        tick(p.form->Timer1);
        QCOMPARE(p.takeWritten(), wire(k));  // one command per tick, the same one
        checkHeld(p, k, repeatMs, replyMs, holdMs);
        if (QTest::currentTestFailed())
            return;
    }

    // A reply arrives while the key is held.
    p.serial.receive(QStringLiteral("\x06"));
    QCOMPARE(p.state().RxText, QStringLiteral("\x06"));
    QCOMPARE(p.rxd(), QStringLiteral(" ACK "));
    const QString statusBefore = p.status();

    p.release(k.control);
    QCOMPARE(p.takeWritten(), QByteArray());
    checkReleased(p, k, repeatMs, 0);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(p.status(), statusBefore);  // the display hold clears it later

    checkTicksSendNothing(p);
}

// The arrows keep the repeat interval the last setter left and take the hold
// intervals from KeyMode: 1 (menu) -> 150/190, 3 (zoom) -> 5/5, else as they are.
void TstRepeat::arrowsByKeyMode_data()
{
    QTest::addColumn<QStringList>("steps");
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
        {"D.Zoom +", {"hold Command48"}, 5, 5, 5, 3},
        {"D.Zoom -", {"hold Command49"}, 5, 5, 5, 3},
        {"D.Zoom, then MENU ON", {"hold Command48", "click Command23"}, 200, 150, 190, 1},
        {"D.Zoom, then A-IMAGE", {"hold Command49", "click Command13"}, 200, 150, 190, 1},
        {"MENU ON, then D.Zoom", {"click Command23", "hold Command48"}, 5, 5, 5, 3},
        {"VOL +", {"hold Command1"}, 250, 500, 1000, 0},
        {"VOL -", {"hold Command2"}, 250, 500, 1000, 0},
        {"Keystone +", {"hold Command50"}, 250, 500, 1000, 0},
        {"Keystone -", {"hold Command51"}, 250, 500, 1000, 0},
        {"Brightness +", {"hold Command15"}, 50, 500, 1000, 0},
        {"Brightness -", {"hold Command35"}, 50, 500, 1000, 0},
        {"SELECT", {"hold Command6"}, 500, 500, 1000, 0},
        {"MENU ON, then VOL +", {"click Command23", "hold Command1"}, 250, 150, 190, 1},
        {"MENU ON, then SELECT", {"click Command23", "hold Command6"}, 500, 150, 190, 1},
        {"D.Zoom, then VOL +", {"hold Command48", "hold Command1"}, 250, 5, 5, 3},
        {"D.Zoom, then Brightness +", {"hold Command48", "hold Command15"}, 50, 5, 5, 3},
        {"MENU ON, then STATUS", {"click Command23", "click Command44"}, 200, 150, 190, 1},
        // KeyMode 0 leaves whatever a one-shot button set.
        {"picture mode STAND", {"click Command4"}, 200, 2000, 2500, 0},
        {"source RGB", {"click Command64"}, 200, 5000, 5500, 0},
        {"MENU ON, then picture mode", {"click Command23", "click Command4"}, 200, 150, 190, 1},
        {"an arrow held at start", {"hold Command7"}, 200, 500, 1000, 0},
        {"MENU ON, then an arrow held", {"click Command23", "hold Command5"}, 200, 150, 190, 1},
        {"D.Zoom, then an arrow held", {"hold Command48", "hold Command9"}, 5, 5, 5, 3},
    };
    for (const Context &c : contexts)
        for (int i = 0; i < kKeyCount; ++i)
            if (kKeys[i].arrow)
                QTest::addRow("%s: %s", c.name, kKeys[i].label)
                    << c.steps << i << c.repeatMs << c.replyWindowMs << c.displayHoldMs << c.keyMode;
}

void TstRepeat::arrowsByKeyMode()
{
    QFETCH(QStringList, steps);
    QFETCH(int, key);
    QFETCH(int, repeatMs);
    QFETCH(int, replyWindowMs);
    QFETCH(int, displayHoldMs);
    QFETCH(int, keyMode);
    const KeyRow &k = kKeys[key];

    Panel p;
    runSteps(p, steps);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(int(p.state().KeyMode), keyMode);
    QCOMPARE(p.form->Timer1.interval(), repeatMs);

    p.press(k.control);
    QCOMPARE(p.takeWritten(), wire(k));
    checkHeld(p, k, repeatMs, replyWindowMs, displayHoldMs);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(int(p.state().KeyMode), keyMode);

    for (int i = 0; i < 2; ++i) {
        tick(p.form->Timer1);
        QCOMPARE(p.takeWritten(), wire(k));
        checkHeld(p, k, repeatMs, replyWindowMs, displayHoldMs);
        if (QTest::currentTestFailed())
            return;
    }

    p.release(k.control);
    QCOMPARE(p.takeWritten(), QByteArray());
    checkReleased(p, k, repeatMs, keyMode);
    if (QTest::currentTestFailed())
        return;
    checkTicksSendNothing(p);
}

// The right and the middle button hold a key just like the left one.
void TstRepeat::everyMouseButtonActsAlike_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<Qt::MouseButton>("button");
    const std::pair<const char *, Qt::MouseButton> buttons[] = {
        {"left", Qt::LeftButton}, {"right", Qt::RightButton}, {"middle", Qt::MiddleButton}};
    for (const auto &[name, button] : buttons)
        for (int i = 0; i < kKeyCount; ++i)
            QTest::addRow("%s button, %s %s", name, kKeys[i].control, kKeys[i].label) << i << button;
}

void TstRepeat::everyMouseButtonActsAlike()
{
    QFETCH(int, key);
    QFETCH(Qt::MouseButton, button);
    const KeyRow &k = kKeys[key];
    const int repeatMs = k.arrow ? kStartRepeatMs : k.repeatMs;

    Panel p;
    p.press(k.control, button);
    QCOMPARE(p.takeWritten(), wire(k));
    checkHeld(p, k, repeatMs, k.arrow ? kStartReplyWindowMs : k.replyWindowMs,
              k.arrow ? kStartDisplayHoldMs : k.displayHoldMs);
    if (QTest::currentTestFailed())
        return;
    tick(p.form->Timer1);
    QCOMPARE(p.takeWritten(), wire(k));

    p.release(k.control, button);
    QCOMPARE(p.takeWritten(), QByteArray());
    checkReleased(p, k, repeatMs, 0);
    if (QTest::currentTestFailed())
        return;
    checkTicksSendNothing(p);
}

// A second button going down on a held key sends nothing; the key is let go only
// when the last of the two comes up.
void TstRepeat::secondButtonWhileHeld_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<Qt::MouseButton>("first");
    QTest::addColumn<Qt::MouseButton>("second");
    QTest::addColumn<bool>("firstUpFirst");

    struct Case {
        const char *name;
        Qt::MouseButton first, second;
        bool firstUpFirst;
    };
    const Case cases[] = {
        {"left, right; right up first", Qt::LeftButton, Qt::RightButton, false},
        {"left, right; left up first", Qt::LeftButton, Qt::RightButton, true},
        {"right, left; left up first", Qt::RightButton, Qt::LeftButton, false},
        {"left, middle; left up first", Qt::LeftButton, Qt::MiddleButton, true},
        {"middle, right; right up first", Qt::MiddleButton, Qt::RightButton, false},
    };
    const int keys[] = {0, 4, 8, 9};  // VOL +, D.Zoom +, SELECT, up
    for (const Case &c : cases)
        for (int i : keys)
            QTest::addRow("%s: %s", c.name, kKeys[i].label) << i << c.first << c.second << c.firstUpFirst;
}

void TstRepeat::secondButtonWhileHeld()
{
    QFETCH(int, key);
    QFETCH(Qt::MouseButton, first);
    QFETCH(Qt::MouseButton, second);
    QFETCH(bool, firstUpFirst);
    const KeyRow &k = kKeys[key];
    const int repeatMs = k.arrow ? kStartRepeatMs : k.repeatMs;
    const int replyMs = k.arrow ? kStartReplyWindowMs : k.replyWindowMs;
    const int holdMs = k.arrow ? kStartDisplayHoldMs : k.displayHoldMs;

    Panel p;
    p.press(k.control, first);
    QCOMPARE(p.takeWritten(), wire(k));

    p.press(k.control, second);
    QCOMPARE(p.takeWritten(), QByteArray());
    checkHeld(p, k, repeatMs, replyMs, holdMs);
    if (QTest::currentTestFailed())
        return;

    p.release(k.control, firstUpFirst ? first : second);
    QCOMPARE(p.takeWritten(), QByteArray());
    checkHeld(p, k, repeatMs, replyMs, holdMs);
    if (QTest::currentTestFailed())
        return;
    tick(p.form->Timer1);
    QCOMPARE(p.takeWritten(), wire(k));  // still repeating

    p.release(k.control, firstUpFirst ? second : first);
    QCOMPARE(p.takeWritten(), QByteArray());
    checkReleased(p, k, repeatMs, 0);
    if (QTest::currentTestFailed())
        return;
    checkTicksSendNothing(p);
}

// The keys have no click action: the space bar on a focused key does nothing.
void TstRepeat::spaceBarSendsNothing_data()
{
    addKeyRows();
}

void TstRepeat::spaceBarSendsNothing()
{
    QFETCH(int, key);
    const KeyRow &k = kKeys[key];

    Panel p;
    p.form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(p.form.get()));
    PanelButton *b = p.button(k.control);
    b->setFocus();
    QVERIFY(b->hasFocus());

    QTest::keyClick(b, Qt::Key_Space);
    QCOMPARE(p.takeWritten(), QByteArray());
    QVERIFY(!b->isHeld());
    QCOMPARE(p.state().RepeatCode, quint8(0));
    QVERIFY(!p.form->Timer1.isActive());
    QVERIFY(!p.form->Timer2.isActive());
    QVERIFY(!p.form->Timer4.isActive());
    QCOMPARE(p.txd(), QString());

    // Held down, the space bar does not repeat either.
    QTest::keyPress(b, Qt::Key_Space);
    tick(p.form->Timer1);
    QTest::keyRelease(b, Qt::Key_Space);
    QCOMPARE(p.takeWritten(), QByteArray());
    QCOMPARE(p.state().RepeatCode, quint8(0));
}

// A click is a press and a release: exactly one command, then the tidied state.
void TstRepeat::plainClickSendsOnceThenReleases_data()
{
    addKeyRows();
}

void TstRepeat::plainClickSendsOnceThenReleases()
{
    QFETCH(int, key);
    const KeyRow &k = kKeys[key];

    Panel p;
    QTest::mouseClick(p.button(k.control), Qt::LeftButton);
    QCOMPARE(p.takeWritten(), wire(k));
    QCOMPARE(p.state().TxText, QString::fromLatin1(wire(k)));
    checkReleased(p, k, k.arrow ? kStartRepeatMs : k.repeatMs, 0);
    if (QTest::currentTestFailed())
        return;
    checkTicksSendNothing(p);
}

// A release puts the hold intervals back: STATUS then runs with 500/1000.
void TstRepeat::statusAfterRelease_data()
{
    addKeyRows();
}

void TstRepeat::statusAfterRelease()
{
    QFETCH(int, key);
    const KeyRow &k = kKeys[key];

    Panel p;
    p.press(k.control);
    tick(p.form->Timer1);
    p.release(k.control);
    QCOMPARE(p.takeWritten(), wire(k) + wire(k));

    p.click("Command44");
    QCOMPARE(p.takeWritten(), QByteArray("CR0\r"));
    QCOMPARE(p.txd(), QStringLiteral(" C R 0 CR "));
    QVERIFY(p.form->Timer2.isActive());
    QCOMPARE(p.form->Timer2.interval(), 500);
    QVERIFY(p.form->Timer4.isActive());
    QCOMPARE(p.form->Timer4.interval(), 1000);
    QVERIFY(!p.form->Timer1.isActive());
    QCOMPARE(p.state().RepeatCode, quint8(0));
    QCOMPARE(p.state().AwaitingReply, quint8(1));
}

// A short display hold (Brightness: 25 ms, repeats every 50 ms) ends between two
// ticks while the key is held; the release starts it again, for 1000 ms.
void TstRepeat::releaseAfterDisplayHoldEnded_data()
{
    addKeyRows();
}

void TstRepeat::releaseAfterDisplayHoldEnded()
{
    QFETCH(int, key);
    const KeyRow &k = kKeys[key];

    Panel p;
    p.press(k.control);
    QCOMPARE(p.takeWritten(), wire(k));
    tick(p.form->Timer2);
    tick(p.form->Timer4);
    QVERIFY(!p.form->Timer2.isActive());
    QVERIFY(!p.form->Timer4.isActive());
    QCOMPARE(p.rxd(), QString());
    QCOMPARE(p.txd(), QString());
    QVERIFY(p.form->Timer1.isActive());

    p.release(k.control);
    QCOMPARE(p.takeWritten(), QByteArray());
    checkReleased(p, k, k.arrow ? kStartRepeatMs : k.repeatMs, 0);
}

// The release leaves the status line to the display hold.
void TstRepeat::statusLineLeftAsIs_data()
{
    addKeyRows();
}

void TstRepeat::statusLineLeftAsIs()
{
    QFETCH(int, key);
    const KeyRow &k = kKeys[key];

    Panel p;
    p.click("Command44");
    p.serial.receive(QStringLiteral("00\r"));
    QCOMPARE(p.status(), QStringLiteral(" Power ON"));
    p.takeWritten();

    p.press(k.control);
    QCOMPARE(p.takeWritten(), wire(k));
    tick(p.form->Timer1);
    QCOMPARE(p.takeWritten(), wire(k));
    QCOMPARE(p.status(), QStringLiteral(" Power ON"));

    p.release(k.control);
    QCOMPARE(p.status(), QStringLiteral(" Power ON"));
    QCOMPARE(p.txd(), QString());
    QCOMPARE(p.rxd(), QString());
    QVERIFY(p.form->Timer4.isActive());
    QCOMPARE(p.form->Timer4.interval(), 1000);

    // The display hold then clears it.
    tick(p.form->Timer4);
    QCOMPARE(p.status(), QString());
}

// Stuck key: the window is hidden while a key is held, as the active window and
// while another window is active (then no deactivation comes with the hiding).
void TstRepeat::stuckKeyWindowHidden_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("active");
    for (const bool active : {true, false})
        for (int i = 0; i < kKeyCount; ++i)
            QTest::addRow("%s, %s %s", active ? "active" : "not active", kKeys[i].control, kKeys[i].label)
                << i << active;
}

void TstRepeat::stuckKeyWindowHidden()
{
    QFETCH(int, key);
    QFETCH(bool, active);
    const KeyRow &k = kKeys[key];
    const int repeatMs = k.arrow ? kStartRepeatMs : k.repeatMs;

    Panel p;
    std::unique_ptr<QWidget> other;
    if (active) {
        p.form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(p.form.get()));
    } else {
        other = std::make_unique<QWidget>();
        other->resize(200, 100);
        other->show();
        QApplication::setActiveWindow(other.get());
        QVERIFY(QTest::qWaitForWindowActive(other.get()));
    }
    QCOMPARE(p.form->isActiveWindow(), active);

    p.press(k.control);
    QCOMPARE(p.takeWritten(), wire(k));
    tick(p.form->Timer1);
    QCOMPARE(p.takeWritten(), wire(k));
    QVERIFY(p.button(k.control)->isHeld());

    p.form->hide();
    QVERIFY(!p.form->isVisible());
    QCOMPARE(p.takeWritten(), QByteArray());
    checkReleased(p, k, repeatMs, 0);
    if (QTest::currentTestFailed())
        return;
    checkTicksSendNothing(p);

    // The release that comes late changes nothing.
    p.release(k.control);
    QCOMPARE(p.takeWritten(), QByteArray());
    QCOMPARE(p.state().RepeatCode, quint8(0));
    QVERIFY(!p.form->Timer1.isActive());
    QCOMPARE(int(p.state().KeyMode), k.zoom ? 3 : 0);
}

// Stuck key: another window becomes active while a key is held.
void TstRepeat::stuckKeyWindowDeactivated_data()
{
    addKeyRows();
}

void TstRepeat::stuckKeyWindowDeactivated()
{
    QFETCH(int, key);
    const KeyRow &k = kKeys[key];
    const int repeatMs = k.arrow ? kStartRepeatMs : k.repeatMs;

    Panel p;
    p.form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(p.form.get()));
    QVERIFY(p.form->isActiveWindow());

    p.press(k.control);
    QCOMPARE(p.takeWritten(), wire(k));
    QVERIFY(p.form->Timer1.isActive());

    QWidget other;
    other.setWindowTitle(QStringLiteral("another window"));
    other.resize(200, 100);
    other.show();
    QApplication::setActiveWindow(&other);
    QVERIFY(!p.form->isActiveWindow());
    // The hold ended at once, before any repeat tick could run.
    QCOMPARE(p.takeWritten(), QByteArray());
    checkReleased(p, k, repeatMs, 0);
    if (QTest::currentTestFailed())
        return;

    QVERIFY(QTest::qWaitForWindowActive(&other));
    QVERIFY(!p.form->isActiveWindow());
    QCOMPARE(p.takeWritten(), QByteArray());
    QCOMPARE(p.state().RepeatCode, quint8(0));
    QVERIFY(!p.form->Timer1.isActive());
    checkTicksSendNothing(p);

    p.release(k.control);
    QCOMPARE(p.takeWritten(), QByteArray());
    QCOMPARE(p.state().RepeatCode, quint8(0));
}

// Stuck key: a warning box opens while a key is held (a port that cannot be
// opened is chosen).
void TstRepeat::stuckKeyWarningBox_data()
{
    addKeyRows();
}

void TstRepeat::stuckKeyWarningBox()
{
    QFETCH(int, key);
    const KeyRow &k = kKeys[key];
    const int repeatMs = k.arrow ? kStartRepeatMs : k.repeatMs;
    const QString warning = QStringLiteral("No such file or directory: /dev/ttyS1");

    Panel p;
    p.serial.unopenable[2] = warning;
    p.click("Command33");
    QVERIFY(p.w("Frame8")->isVisible());

    p.press(k.control);
    QCOMPARE(p.takeWritten(), wire(k));
    QVERIFY(p.form->Timer1.isActive());

    // What the window looks like while the box is open.
    int boxes = 0;
    quint8 repeatCodeInBox = 0xFF;
    bool repeatingInBox = true, heldInBox = true;
    p.runtime.onWarning = [&] {
        ++boxes;
        repeatCodeInBox = p.state().RepeatCode;
        repeatingInBox = p.form->Timer1.isActive();
        heldInBox = p.button(k.control)->isHeld();
    };

    p.w<QRadioButton>("Option2")->setChecked(true);
    QCOMPARE(p.runtime.warnings, QStringList{warning});
    QCOMPARE(boxes, 1);
    QCOMPARE(repeatCodeInBox, quint8(0));
    QVERIFY(!repeatingInBox);
    QVERIFY(!heldInBox);

    // COM1 is open again after the failed choice, so a tick could send.
    QVERIFY(p.serial.portOpen());
    QCOMPARE(p.serial.commPort(), 1);
    QCOMPARE(p.takeWritten(), QByteArray());
    checkReleased(p, k, repeatMs, 0);
    if (QTest::currentTestFailed())
        return;
    checkTicksSendNothing(p);

    p.release(k.control);
    QCOMPARE(p.takeWritten(), QByteArray());
    QCOMPARE(p.state().RepeatCode, quint8(0));
}

// VOL + held for about 1.1 s with the window's timers running for real: sends at
// 0, 250, 500, 750 and 1000 ms, so 5 commands. A loaded machine may fire a tick
// late or the release late, so 4 to 6 are accepted; this checks the repeat rate
// roughly, not the timing. After the release the reply window stays shut: no
// no-reply mark appears within the next 600 ms (the display hold ends at 1000).
void TstRepeat::realTimeHold()
{
    Panel p;
    p.takeWritten();
    p.press("Command1");
    QTest::qWait(1100);
    p.release("Command1");

    const QByteArray written = p.takeWritten();
    const qsizetype sent = written.count("C09\r");
    QVERIFY2(sent >= 4 && sent <= 6, qPrintable(QStringLiteral("%1 commands sent").arg(sent)));
    QCOMPARE(written, QByteArray("C09\r").repeated(int(sent)));  // nothing else went out
    QCOMPARE(p.form->Timer1.interval(), 250);

    QTest::qWait(600);
    QCOMPARE(p.takeWritten(), QByteArray());
    QCOMPARE(p.rxd(), QString());
    QCOMPARE(p.txd(), QString());
    QVERIFY(!p.form->Timer2.isActive());
}

QTEST_MAIN(TstRepeat)
#include "tst_repeat.moc"
