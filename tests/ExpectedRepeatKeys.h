#pragma once
// The auto-repeat keys as they must behave, written out by hand (independently of
// the command table), the actions and the checks of a held and a released key that
// the engine tests and the window tests share. `P` is a harness (Engine or Panel) with
// click/press/release (by command name or by control), exchange(), state(), the three
// lines, serial and takeWritten().

#include "TestSupport.h"

#include <QTest>

// The intervals a press right after start-up runs with. The arrows set none of their
// own (they run with what the key context, keyMode, leaves: at start-up 200/500/1000);
// a D.Zoom release also sets the repeat interval to 5 and keyMode to 3.
struct KeyRow {
    const char *name;
    const char *control;
    quint8 repeatCode;
    const char *code;
    const char *trace;  // the TXD line after the key's code went out
    int repeatMs, replyWindowMs, displayHoldMs;
    bool zoom;
};

constexpr KeyRow kKeys[] = {
    {"volume-up", "Command1", 1, "C09", " C 0 9 CR ", 250, 200, 245, false},
    {"volume-down", "Command2", 2, "C0A", " C 0 A CR ", 250, 200, 245, false},
    {"brightness-up", "Command15", 7, "C20", " C 2 0 CR ", 50, 25, 25, false},
    {"brightness-down", "Command35", 8, "C21", " C 2 1 CR ", 50, 25, 25, false},
    {"digital-zoom-up", "Command48", 17, "C30", " C 3 0 CR ", 250, 200, 245, true},
    {"digital-zoom-down", "Command49", 18, "C31", " C 3 1 CR ", 250, 200, 245, true},
    {"keystone-up", "Command50", 19, "C8E", " C 8 E CR ", 250, 200, 245, false},
    {"keystone-down", "Command51", 20, "C8F", " C 8 F CR ", 250, 200, 245, false},
    {"select", "Command6", 13, "C3F", " C 3 F CR ", 500, 200, 245, false},
    {"cursor-up", "Command5", 3, "C3C", " C 3 C CR ", 200, 500, 1000, false},
    {"cursor-down", "Command7", 4, "C3D", " C 3 D CR ", 200, 500, 1000, false},
    {"cursor-left", "Command9", 5, "C3B", " C 3 B CR ", 200, 500, 1000, false},
    {"cursor-right", "Command8", 6, "C3A", " C 3 A CR ", 200, 500, 1000, false},
};
constexpr int kKeyCount = int(std::size(kKeys));

inline QByteArray wire(const KeyRow &k) { return QByteArray(k.code) + '\r'; }

// One action on a harness: "click X", "key X" (pressed and released; X: a command
// name for the engine harness, a control for the window's),
// "send TEXT", "rx TEXT", "event" (another comm event), "close" (the port), "reply" or
// "hold" (the end of the reply window or the display hold).
template <typename P> void act(P &p, const QString &step)
{
    const QString arg = step.section(u' ', 1);
    const QByteArray name = arg.toLatin1();
    if (step.startsWith(u"click ")) {
        p.click(name.constData());
    } else if (step.startsWith(u"key ")) {
        p.press(name.constData());
        p.release(name.constData());
    } else if (step.startsWith(u"send ")) {
        p.exchange().send(arg);
    } else if (step.startsWith(u"rx ")) {
        p.serial.receive(arg);
    } else if (step == u"event") {
        p.serial.raiseEvent(1001);
    } else if (step == u"close") {
        p.serial.setPortOpen(false);
    } else {
        fire(p.exchange(), step == u"reply" ? "replyWindow" : "displayHold");
    }
}

// The key is held: its code went out, the repeat timer runs.
template <typename P> void checkHeldExchange(const P &p, const KeyRow &k, int repeatMs, int replyWindowMs, int displayHoldMs)
{
    const auto t = p.exchange().timing();
    QCOMPARE(p.state().repeatCode, k.repeatCode);
    QVERIFY(t.repeating && t.replyWindowOpen && t.displayHeld);
    QCOMPARE(t.repeatMs, repeatMs);
    QCOMPARE(t.replyWindowMs, replyWindowMs);
    QCOMPARE(t.displayHoldMs, displayHoldMs);
    QCOMPARE(p.txd(), QString::fromLatin1(k.trace));
    QCOMPARE(p.state().awaitingReply, quint8(1));
}

// The key was let go (or its hold ended as if it had been): the tidied state, with no
// reply window left open (so no no-reply mark can appear).
template <typename P> void checkReleasedExchange(const P &p, const KeyRow &k, int repeatMsBefore, int keyModeBefore)
{
    const auto t = p.exchange().timing();
    QCOMPARE(p.state().repeatCode, quint8(0));
    QVERIFY(!t.repeating && !t.replyWindowOpen && t.displayHeld);
    QCOMPARE(t.repeatMs, k.zoom ? 5 : repeatMsBefore);
    QCOMPARE(int(p.state().keyMode), k.zoom ? 3 : keyModeBefore);
    QCOMPARE(t.replyWindowMs, 500);
    QCOMPARE(t.displayHoldMs, 1000);
    QCOMPARE(p.txd(), QString());
    QCOMPARE(p.rxd(), QString());
}
