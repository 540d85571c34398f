#pragma once
// MQTT as the bridge speaks it: the broker's address, the topics of a projector,
// its state read from the replies to the status queries, the payloads of the
// command topics, and Home Assistant's discovery messages. Pure functions: no
// connection, no timer.

#include "exchange/StatusDecoding.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <optional>
#include <utility>
#include <vector>

namespace mqtt {

inline constexpr int kPort = 1883;
inline constexpr int kTlsPort = 8883;
inline constexpr const char *kDiscoveryPrefix = "homeassistant";
// How often the lamp and the temperatures are asked: every this many polls.
inline constexpr int kSlowPollEvery = 6;

struct BrokerUrl {
    QString host;
    int port = kPort;
    bool tls = false;
};
// "mqtt://HOST[:PORT]" or "mqtts://HOST[:PORT]"; nothing, with `why`, for another text.
std::optional<BrokerUrl> parseUrl(const QString &url, QString *why = nullptr);

// An id usable in a topic and by Home Assistant: letters, digits, '.', '_', '-'.
bool isId(const QString &id);
// A projector's id from its device: "/dev/ttyUSB0": "ttyUSB0"; "/dev/pts/0": "pts-0";
// "tcp://10.0.0.7:4001": "10.0.0.7-4001"; other characters become '-'.
QString idFromDevice(const QString &device);

// "orva/<id>/<leaf>"; the bridge's own: "orva/bridge/<bridge id>/<leaf>".
QString topic(const QString &id, QStringView leaf);
QString bridgeTopic(const QString &bridgeId, QStringView leaf);

// State: topic leaves (under orva/<id>/) with their payloads.
using State = std::vector<std::pair<QString, QByteArray>>;

// The status queries the bridge asks by itself, and what their replies tell.
struct Query {
    const char *code;     // "CR0"
    const char *command;  // the command that asks it ("status"), or "" where none does (asked as text)
    State (*state)(const decoding::Reading &reading);
    bool everyPoll;       // else every kSlowPollEvery polls
};
const std::vector<Query> &queries();
const Query *findQuery(QStringView code);

// Each query's state from its reply as read (decoding::read); empty where the
// reply tells nothing.
State powerState(const decoding::Reading &reading);        // power, power/text, fault, problem
State inputState(const decoding::Reading &reading);        // input
State muteState(const decoding::Reading &reading);         // mute/video, mute/audio
State lampHoursState(const decoding::Reading &reading);    // lamp/hours
State lampModeState(const decoding::Reading &reading);     // lamp/mode
State temperatureState(const decoding::Reading &reading);  // temperature/1 ... 3

// Every leaf a projector's state may have (to remove a projector's retained state).
QStringList stateLeaves();

// A command topic's payload as steps on the line: each a one-shot command's name,
// or a command text where none sends it. Nothing for a payload the topic does not take.
struct Step {
    QString command;
    QString text;
};
enum class CommandTopic { Power, Input, Mute, Command, Send };
struct CommandTopicRow {
    CommandTopic kind;
    const char *leaf;     // "power/set"
    const char *accepts;  // for the log: what the topic takes
};
const std::vector<CommandTopicRow> &commandTopics();
std::optional<std::vector<Step>> steps(CommandTopic topic, const QByteArray &payload);

// Home Assistant's MQTT discovery: one device for the projector, its entities'
// configuration topics and payloads (JSON). `version` is the bridge's.
struct Message {
    QString topic;
    QByteArray payload;
};
std::vector<Message> discovery(const QString &id, const QString &name, const QString &version);
// The same topics with empty payloads: the entities removed.
std::vector<Message> discoveryRemoval(const QString &id);

// The bridge's list of its projectors (a JSON array of ids), and back.
QByteArray projectorList(const QStringList &ids);
QStringList readProjectorList(const QByteArray &payload);

// A command's outcome for orva/<id>/reply and orva/<id>/error: JSON objects. The
// reply is given as its characters came; it is told with an ACK named "ACK" and
// without its closing CR.
QByteArray replyPayload(const QString &topic, const QByteArray &payload, const QString &reply, const QString &status);
QByteArray errorPayload(const QString &topic, const QByteArray &payload, const QString &error);

} // namespace mqtt
