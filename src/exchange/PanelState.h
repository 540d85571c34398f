#pragma once
// The panel state: the variables that carry information from one action of the
// exchange engine to the next. They live exactly as long as the engine.

#include <QString>
#include <QtGlobal>

struct PanelState {
    quint8 repeatCode = 0;     // which command the repeat timer sends again; 0: none
    quint8 awaitingReply = 0;  // 1 from a transmit until the first received character
    quint8 keyMode = 0;        // context of the arrow keys: 0, 1 (menu) or 3 (zoom)
    QString txText;            // the command text last handed over for transmission
    QString rxText;            // reply text collected since it was last emptied
    QString manualText;        // the manual entry at the last SEND
    QString commSettings;      // line settings, "19200,N,8,1"
    QString commandPrefix;     // put in front of every command code; empty
    qint16 pressureValue = 0;  // working value of the air-pressure conversion
};

// rxText never grows beyond this; later characters are dropped until it is emptied.
inline constexpr qsizetype kRxTextLimit = 32767;
