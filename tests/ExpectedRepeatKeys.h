#pragma once
// The auto-repeat keys as they must behave, written out by hand (independently of
// the key tables), and the checks of a held and a released key that the engine
// tests and the window tests share. `P` is a harness (Engine or Panel) with
// exchange(), state(), the three lines, serial and takeWritten().

#include "TestSupport.h"

#include <QTest>

// The arrows set no intervals of their own (their hold intervals come from the key
// context, keyMode); a D.Zoom release also sets the repeat interval to 5 and keyMode to 3.
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

inline QByteArray wire(const KeyRow &k) { return QByteArray(k.code) + '\r'; }

// One column "key" (an index into kKeys), one row per key.
inline void addKeyRows()
{
    QTest::addColumn<int>("key");
    for (int i = 0; i < kKeyCount; ++i)
        QTest::addRow("%s %s", kKeys[i].control, kKeys[i].label) << i;
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
