#pragma once
// The auto-repeat keys as they must behave, written out by hand (independently of
// the command table) in reference/repeat-keys.rows, and the check of a released key
// on a harness `P` (Engine or Panel).

#include "ReferenceRows.h"

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

// The key was let go (or its hold ended as if it had been): the tidied state, with no
// reply window left open (so no no-reply mark can appear).
template <typename P> void checkReleasedExchange(const P &p, const KeyRow &k, int repeatMsBefore, int keyModeBefore)
{
    const auto t = p.exchange().timing();
    QCOMPARE(p.state().repeatCode, quint8(0));
    QVERIFY(!t.repeating && !t.replyWindowOpen && t.displayHeld);
    QCOMPARE(QList<int>({t.repeatMs, t.replyWindowMs, t.displayHoldMs}), QList<int>({k.zoom ? 5 : repeatMsBefore, 500, 1000}));
    QCOMPARE(int(p.state().keyMode), k.zoom ? 3 : keyModeBefore);
    QCOMPARE(p.txd() + p.rxd(), QString());
}
