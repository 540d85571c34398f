#pragma once
// PJLink class 1 as the bridge speaks it: the request lines a control system
// sends, and what each one becomes on the projector's line and in the answer.
// Pure functions: no socket, no timer.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <optional>
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

// The projector's power state as PJLink tells it, from the reply to the power
// status query: "0" standby, "1" on, "2" cooling down, "3" warming up, or nothing
// (a failure, ERR4); and the error status (fan, lamp, temperature, cover, filter,
// other: 0 none, 1 warning, 2 error).
struct PowerRow {
    const char *reply;  // the two status characters
    const char *powr;   // nullptr: ERR4
    const char *erst;
    bool on;            // sources and mutes can be set
};
const std::vector<PowerRow> &powerRows();
const PowerRow *powerRow(QStringView reply);

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
// The two mutes from the mute status reply ("03" CR: both on; "80" CR, no signal:
// neither); nothing where it tells none (in standby, "FF", nothing can be muted).
struct Mutes {
    bool video = false;
    bool audio = false;
};
std::optional<Mutes> mutes(QStringView reply);
// AVMT ? from the mute status reply ("03" CR: "31"); nothing where it tells none.
std::optional<QByteArray> muteAnswer(QStringView reply);

// LAMP ? from the lamp time and the lamp mode replies: "1234 1 1234 0".
std::optional<QByteArray> lampAnswer(QStringView hoursReply, QStringView modeReply);

// The greeting with a challenge, and the digest a client answers it with.
QByteArray greeting(const QByteArray &random);  // empty random: no authentication
QByteArray digest(const QByteArray &random, const QByteArray &password);

} // namespace pjlink
