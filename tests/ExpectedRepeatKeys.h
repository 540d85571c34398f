#pragma once
// The auto-repeat keys as they must behave, written out by hand (independently of
// the command table) in reference/repeat-keys.rows; the actions the engine tests and the
// window tests share, and the check of a released key. `P` is a harness (Engine or Panel)
// with click/press/release (by command name or by control), exchange(), state(), the
// three lines, serial and takeWritten().

#include "ReferenceRows.h"
#include "TestSupport.h"

#include <QTest>

// The keys, from reference/repeat-keys.rows.
struct KeyRow {
    QByteArray name, control;
    quint8 repeatCode;
    QByteArray code, trace;  // trace: the TXD line after the key's code went out
    int repeatMs, replyWindowMs, displayHoldMs;
    bool zoom;
};

inline const QList<KeyRow> kKeys = [] {
    QList<KeyRow> rows;
    for (const QJsonArray &r : referenceRows("repeat-keys.rows"))
        rows.append({r[0].toString().toLatin1(), r[1].toString().toLatin1(), quint8(r[2].toInt()), r[3].toString().toLatin1(),
                     r[4].toString().toLatin1(), r[5].toInt(), r[6].toInt(), r[7].toInt(), r[8].toBool()});
    return rows;
}();

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

// The key was let go (or its hold ended as if it had been): the tidied state, with no
// reply window left open (so no no-reply mark can appear).
template <typename P> void checkReleasedExchange(const P &p, const KeyRow &k, int repeatMsBefore, int keyModeBefore)
{
    const auto t = p.exchange().timing();
    QCOMPARE(p.state().repeatCode, quint8(0));
    QVERIFY(!t.repeating && !t.replyWindowOpen && t.displayHeld);
    QCOMPARE(QList<int>({t.repeatMs, t.replyWindowMs, t.displayHoldMs}), QList<int>({k.zoom ? 5 : repeatMsBefore, 500, 1000}));
    QCOMPARE(int(p.state().keyMode), k.zoom ? 3 : keyModeBefore);
    QCOMPARE(p.txd(), QString());
    QCOMPARE(p.rxd(), QString());
}
