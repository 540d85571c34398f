#pragma once
// The one-shot commands as they must behave, written out by hand (independently of
// the command table) in reference/one-shots.rows.

#include "ReferenceRows.h"

struct OneShotRow {
    QByteArray name, control, code;
    int replyWindowMs, displayHoldMs;
    bool menuContext;
};

inline const QList<OneShotRow> kExpectedOneShots = [] {
    QList<OneShotRow> rows;
    for (const QJsonArray &r : referenceRows("one-shots.rows"))
        rows.append({r[0].toString().toLatin1(), r[1].toString().toLatin1(), r[2].toString().toLatin1(), r[3].toInt(), r[4].toInt(), r[5].toBool()});
    return rows;
}();
