#pragma once
// The auto-repeat keys as they must behave, written out by hand (independently of
// the key tables), the actions and the checks of a held and a released key that the
// engine tests and the window tests share. `P` is a harness (Engine or Panel) with
// click/press/release, exchange(), state(), the three lines, serial and takeWritten().

#include "TestSupport.h"

#include <QTest>

// The intervals a press right after start-up runs with. The arrows set none of their
// own (they run with what the key context, keyMode, leaves: at start-up 200/500/1000);
// a D.Zoom release also sets the repeat interval to 5 and keyMode to 3.
struct KeyRow {
    const char *control;
    const char *label;
    quint8 repeatCode;
    const char *code;
    const char *trace;  // the TXD line after the key's code went out
    int repeatMs, replyWindowMs, displayHoldMs;
    bool zoom;
};

constexpr KeyRow kKeys[] = {
    {"Command1", "VOL +", 1, "C09", " C 0 9 CR ", 250, 200, 245, false},
    {"Command2", "VOL -", 2, "C0A", " C 0 A CR ", 250, 200, 245, false},
    {"Command15", "Brightness +", 7, "C20", " C 2 0 CR ", 50, 25, 25, false},
    {"Command35", "Brightness -", 8, "C21", " C 2 1 CR ", 50, 25, 25, false},
    {"Command48", "D.Zoom +", 17, "C30", " C 3 0 CR ", 250, 200, 245, true},
    {"Command49", "D.Zoom -", 18, "C31", " C 3 1 CR ", 250, 200, 245, true},
    {"Command50", "Keystone +", 19, "C8E", " C 8 E CR ", 250, 200, 245, false},
    {"Command51", "Keystone -", 20, "C8F", " C 8 F CR ", 250, 200, 245, false},
    {"Command6", "SELECT", 13, "C3F", " C 3 F CR ", 500, 200, 245, false},
    {"Command5", "up", 3, "C3C", " C 3 C CR ", 200, 500, 1000, false},
    {"Command7", "down", 4, "C3D", " C 3 D CR ", 200, 500, 1000, false},
    {"Command9", "left", 5, "C3B", " C 3 B CR ", 200, 500, 1000, false},
    {"Command8", "right", 6, "C3A", " C 3 A CR ", 200, 500, 1000, false},
};
constexpr int kKeyCount = int(std::size(kKeys));

inline QByteArray wire(const KeyRow &k) { return QByteArray(k.code) + '\r'; }

// One action on a harness: "click CommandN", "key CommandN" (pressed and released),
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
        tick(step == u"reply" ? p.exchange().replyTimer : p.exchange().displayHoldTimer);
    }
}

// The key is held: its code went out, the repeat timer runs.
template <typename P> void checkHeldExchange(const P &p, const KeyRow &k, int repeatMs, int replyWindowMs, int displayHoldMs)
{
    const auto &e = p.exchange();
    QCOMPARE(p.state().repeatCode, k.repeatCode);
    QVERIFY(e.repeatTimer.isActive() && e.replyTimer.isActive() && e.displayHoldTimer.isActive());
    QCOMPARE(e.repeatTimer.interval(), repeatMs);
    QCOMPARE(e.replyTimer.interval(), replyWindowMs);
    QCOMPARE(e.displayHoldTimer.interval(), displayHoldMs);
    QCOMPARE(p.txd(), QString::fromLatin1(k.trace));
    QCOMPARE(p.state().txText, QString::fromLatin1(wire(k)));
    QCOMPARE(p.state().awaitingReply, quint8(1));
}

// The key was let go (or its hold ended as if it had been): the tidied state, with no
// reply window left open (so no no-reply mark can appear).
template <typename P> void checkReleasedExchange(const P &p, const KeyRow &k, int repeatMsBefore, int keyModeBefore)
{
    const auto &e = p.exchange();
    QCOMPARE(p.state().repeatCode, quint8(0));
    QVERIFY(!e.repeatTimer.isActive());
    QCOMPARE(e.repeatTimer.interval(), k.zoom ? 5 : repeatMsBefore);
    QCOMPARE(int(p.state().keyMode), k.zoom ? 3 : keyModeBefore);
    QVERIFY(!e.replyTimer.isActive());
    QCOMPARE(e.replyTimer.interval(), 500);
    QVERIFY(e.displayHoldTimer.isActive());
    QCOMPARE(e.displayHoldTimer.interval(), 1000);
    QCOMPARE(p.txd(), QString());
    QCOMPARE(p.rxd(), QString());
    QCOMPARE(p.state().rxText, QString());
}

// Repeat ticks after the hold ended put nothing on the (open) line.
template <typename P> void checkTicksSendNothing(P &p)
{
    QVERIFY(p.serial.portOpen());
    for (int i = 0; i < 3; ++i) {
        tick(p.exchange().repeatTimer);
        QCOMPARE(p.takeWritten(), QByteArray());
    }
}
