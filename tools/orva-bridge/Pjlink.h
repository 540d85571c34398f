#pragma once
// PJLink class 1 as the bridge speaks it: the request lines a control system
// sends, and what each one becomes on the projector's line and in the answer.
// Pure functions: no socket, no timer.

#include "exchange/StatusDecoding.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <vector>

namespace pjlink {

inline constexpr int kPort = 4352;
// "%1" + a 4-character command + a blank + at most 128 bytes of parameter + CR.
inline constexpr qsizetype kMaxLine = 136;
// A connection that sends nothing for this long is closed.
inline constexpr int kIdleTimeoutMs = 30000;

struct Request {
    char pjClass = '1';
    QByteArray command;    // "POWR"
    QByteArray parameter;  // "1", "?"
};

// One received line (its CR taken off): a request, an answer to give at once (an
// error), or nothing at all: a line that is no PJLink, after which the connection
// is closed.
struct Parsed {
    enum class Kind { Request, Answer, Close } kind = Kind::Close;
    Request request;
    QByteArray answer;  // with its CR
};
Parsed parseLine(QByteArrayView line);

// "%1POWR=OK" CR and the like.
QByteArray answer(const Request &request, QByteArrayView value);

// The sources: PJLink input, the command that selects it, the input status reply.
struct InputRow {
    const char *pjlink;   // "11"
    const char *command;  // "input-pc1"
    const char *reply;    // "1"
    const char *name;     // the source's name on the panel: "PC1"
};
const std::vector<InputRow> &inputRows();

// The mutes: PJLink AVMT parameter, the commands it takes (one or two), and the
// mute status replies that read as it.
struct MuteRow {
    const char *pjlink;                 // "31"
    std::vector<const char *> commands; // "no-show-on" ...
    const char *name;                   // as the panel names it: "VIDEO ON", "ON" for both
};
const std::vector<MuteRow> &muteRows();
// The answers to the queries, rendered from the projector's replies as read
// (decoding::read); an empty reading is no reply. ERR4 where the reply tells
// nothing, ERR3 where it tells a state the answer has no word for.
// POWR ?: "0" standby, "1" on, "2" cooling down, "3" warming up; a failure: ERR4.
QByteArray powerAnswer(const decoding::Reading &power);
// ERST ?: fan, lamp, temperature, cover, filter, other: 0 none, 1 warning, 2 error.
QByteArray errorStatus(const decoding::Reading &power);
// INPT ?: "11" ...; an input PJLink has no name for: ERR3.
QByteArray inputAnswer(const decoding::Reading &input);
// AVMT ?: "31" both muted, "11" the picture, "21" the sound, "30" neither; in
// standby, when nothing can be muted: ERR3.
QByteArray muteAnswer(const decoding::Reading &mute);
// LAMP ? from the lamp time and the lamp mode: "1234 1 1234 0".
QByteArray lampAnswer(const decoding::Reading &hours, const decoding::Reading &mode);

// The greeting with a challenge, and the digest a client answers it with.
QByteArray greeting(const QByteArray &random);  // empty random: no authentication
QByteArray digest(const QByteArray &random, const QByteArray &password);

} // namespace pjlink
