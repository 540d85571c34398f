#pragma once
// The trace rule: how a command or reply is shown on the TXD and RXD lines. A
// trace text is one blank followed by each character rendered:
//   6 (ACK) -> "ACK ", 20 -> "&" (no blank), 13 -> "CR ", 10 -> "LF ",
//   other codes below 32 -> "? ", 32..122 -> the character and a blank,
//   above 122 -> "? ".
// So the trace of "C00" CR is " C 0 0 CR ".

#include <QString>
#include <QStringView>

// Appends the rendering of each character of `text` to `trace` (no leading blank).
void appendTraceOf(QString &trace, QStringView text);

// The whole trace text: " " followed by the rendering of every character.
QString traceText(QStringView text);
