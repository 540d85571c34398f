#pragma once
// The panel state: the variables that carry information from one event handler of
// the window to the next. They live exactly as long as the window.

#include <QString>
#include <QtGlobal>

struct PanelState {
    quint8 RepeatCode = 0;     // which command the repeat timer sends again; 0: none
    quint8 AwaitingReply = 0;  // 1 from a transmit until the first received character
    quint8 KeyMode = 0;        // context of the arrow keys: 0, 1 (menu) or 3 (zoom)
    QString TxText;            // the command text last handed over for transmission
    QString RxText;            // reply text collected since it was last emptied
    QString ManualText;        // the manual entry at the last SEND
    QString CommSettings;      // line settings, "19200,N,8,1"
    QString CommandPrefix;     // put in front of every command code; empty
    qint16 PressureValue = 0;  // working value of the air-pressure conversion
    qint16 DataAreaFlag = 0;   // 1 while a double-click on the word mark opens the full window
};

// RxText never grows beyond this; later characters are dropped until it is emptied.
inline constexpr qsizetype kRxTextLimit = 32767;
