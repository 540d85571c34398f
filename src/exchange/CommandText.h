#pragma once
// What a command text may hold: the projector's commands are printable ASCII, a
// blank to "~". Anything else (a CR or LF that would end the command early and
// start another, other control characters, non-ASCII) must never reach the line.

#include <QString>
#include <QStringView>
#include <optional>

// The longest command text a client may have put on the line (the bridge's raw
// port, MQTT's send/set): the projector's commands are a few characters, and a
// longer text is no command of its.
inline constexpr qsizetype kLongestCommandText = 128;

struct Unsendable {
    qsizetype position = 0;  // counted in characters, from 1
    char32_t code = 0;
};

// The first character of `text` the projector cannot take, if any.
std::optional<Unsendable> firstUnsendable(QStringView text);

// How a message names it: "CR (U+000D) at position 4", "'é' (U+00E9) at position 2".
QString describe(const Unsendable &character);
