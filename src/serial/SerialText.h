#pragma once
// Text <-> bytes on the line: one byte per character both ways, so that positions
// in the trace never shift. A character with no single-byte form goes out as "?".

#include <QByteArray>
#include <QString>
#include <optional>

QByteArray textToLineBytes(const QString &text);
QString lineBytesToText(const QByteArray &bytes);

struct LineSettings {
    int baud = 9600;
    char parity = 'N';   // N, E, O, M or S
    int dataBits = 8;    // 5..8
    int stopBits = 1;    // 1 or 2
};

// Parses "19200,N,8,1" (blanks around the fields allowed, parity letter in either
// case). Answers nothing for a malformed or unsupported string.
std::optional<LineSettings> parseLineSettings(const QString &settings);
