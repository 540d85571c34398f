#include "Mqtt.h"

#include "Pjlink.h"
#include "exchange/CommandText.h"
#include "exchange/StatusDecoding.h"
#include "exchange/TraceRule.h"
#include "keys/CommandLookup.h"
#include "keys/ControlNames.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QUrl>

namespace mqtt {

namespace {

QString fromView(std::string_view s)
{
    return QString::fromLatin1(s.data(), qsizetype(s.size()));
}

QByteArray onOff(bool on)
{
    return on ? "ON" : "OFF";
}

// Home Assistant's ids are letters, digits, '_' and '-'.
QString nodeId(const QString &id)
{
    return QStringLiteral("orva_") + QString(id).replace(u'.', u'_');
}

} // namespace

std::optional<BrokerUrl> parseUrl(const QString &url, QString *why)
{
    const auto fail = [why, &url](const QString &text) -> std::optional<BrokerUrl> {
        if (why)
            *why = QStringLiteral("the broker is mqtt://HOST[:PORT] or mqtts://HOST[:PORT], not \"%1\": %2").arg(url, text);
        return std::nullopt;
    };
    const QUrl parsed(url, QUrl::StrictMode);
    if (!parsed.isValid())
        return fail(QStringLiteral("not a URL"));
    BrokerUrl out;
    if (parsed.scheme() == QLatin1String("mqtts"))
        out.tls = true;
    else if (parsed.scheme() != QLatin1String("mqtt"))
        return fail(QStringLiteral("the scheme is mqtt or mqtts"));
    out.host = parsed.host();
    if (out.host.isEmpty())
        return fail(QStringLiteral("no host"));
    if (!parsed.userInfo().isEmpty() || (!parsed.path().isEmpty() && parsed.path() != QLatin1String("/"))
        || parsed.hasQuery() || parsed.hasFragment())
        return fail(QStringLiteral("a user, path or query belongs in the settings, not the URL"));
    out.port = parsed.port(out.tls ? kTlsPort : kPort);
    if (out.port < 1 || out.port > 65535)
        return fail(QStringLiteral("the port is 1 to 65535"));
    return out;
}

bool isId(const QString &id)
{
    static const QRegularExpression kId(QStringLiteral("^[A-Za-z0-9._-]+$"));
    return kId.match(id).hasMatch();
}

QString idFromDevice(const QString &device)
{
    QString id = device;
    if (id.startsWith(QLatin1String("tcp://"))) {
        id = id.mid(6).replace(u':', u'-');
    } else {
        // A name of digits alone ("/dev/pts/0") names the device with its folder: "pts-0".
        static const QRegularExpression kDigits(QStringLiteral("^[0-9]+$"));
        const QStringList path = id.split(u'/', Qt::SkipEmptyParts);
        id = path.value(path.size() - 1);
        if (path.size() > 1 && kDigits.match(id).hasMatch())
            id.prepend(path.value(path.size() - 2) + u'-');
    }
    static const QRegularExpression kOther(QStringLiteral("[^A-Za-z0-9._-]"));
    id.replace(kOther, QStringLiteral("-"));
    return id.isEmpty() ? QStringLiteral("projector") : id;
}

QString topic(const QString &id, QStringView leaf)
{
    return QStringLiteral("orva/%1/%2").arg(id, leaf);
}

QString bridgeTopic(const QString &bridgeId, QStringView leaf)
{
    return QStringLiteral("orva/bridge/%1/%2").arg(bridgeId, leaf);
}

// --- state ---

State powerState(const decoding::Reading &reading)
{
    const decoding::PowerRow *row = reading.power;
    if (!row)
        return {};
    // The machine form: a projector in standby is off.
    const QByteArray power = row->power == decoding::Power::Standby ? QByteArray("off") : QByteArray(decoding::powerWord(row->power));
    // A fault or a warning.
    const bool problem = row->faults.any();
    const QByteArray text = reading.words().toUtf8();
    return {{QStringLiteral("power"), power},
            {QStringLiteral("power/text"), text},
            {QStringLiteral("fault"), problem ? text : QByteArray("none")},
            {QStringLiteral("problem"), onOff(problem)}};
}

State inputState(const decoding::Reading &reading)
{
    if (!reading.input)
        return {};
    // Named as the panel's input buttons are; an input the panel has no button
    // for by the status line's words.
    for (const pjlink::InputRow &row : pjlink::inputRows())
        if (QLatin1String(row.reply) == QLatin1String(reading.input->key))
            return {{QStringLiteral("input"), QByteArray(row.name)}};
    return {{QStringLiteral("input"), reading.words().toUtf8()}};
}

State muteState(const decoding::Reading &reading)
{
    // In standby nothing is muted; with no signal neither.
    if (!reading.mute)
        return {};
    return {{QStringLiteral("mute/video"), onOff(reading.mute->picture)}, {QStringLiteral("mute/audio"), onOff(reading.mute->sound)}};
}

State lampHoursState(const decoding::Reading &reading)
{
    if (reading.lampHours)
        return {{QStringLiteral("lamp/hours"), QByteArray::number(*reading.lampHours)}};
    return {};
}

State lampModeState(const decoding::Reading &reading)
{
    if (reading.lampMode)
        return {{QStringLiteral("lamp/mode"), reading.words().toUtf8()}};
    return {};
}

State temperatureState(const decoding::Reading &reading)
{
    const decoding::Temperatures &t = reading.temperatures;
    State out;
    int n = 0;
    for (const std::optional<double> &value : {t.s1, t.s2, t.s3}) {
        ++n;
        if (value)
            out.emplace_back(QStringLiteral("temperature/%1").arg(n), QByteArray::number(*value));
    }
    return out;
}

const std::vector<Query> &queries()
{
    static const std::vector<Query> rows = {
        {"CR0", "status", powerState, true},
        {"CR1", "mode", inputState, true},
        {"CRA", "", muteState, true},
        {"CR3", "lamp-time", lampHoursState, false},
        {"CR7", "", lampModeState, false},
        {"CR6", "temperature", temperatureState, false},
    };
    return rows;
}

const Query *findQuery(QStringView code)
{
    for (const Query &q : queries())
        if (code == QLatin1String(q.code))
            return &q;
    return nullptr;
}

QStringList stateLeaves()
{
    return {QStringLiteral("availability"), QStringLiteral("power"),       QStringLiteral("power/text"),
            QStringLiteral("input"),        QStringLiteral("mute/video"),  QStringLiteral("mute/audio"),
            QStringLiteral("lamp/hours"),   QStringLiteral("lamp/mode"),   QStringLiteral("temperature/1"),
            QStringLiteral("temperature/2"), QStringLiteral("temperature/3"), QStringLiteral("fault"),
            QStringLiteral("problem"),      QStringLiteral("status")};
}

// --- commands ---

const std::vector<CommandTopicRow> &commandTopics()
{
    static const std::vector<CommandTopicRow> rows = {
        {CommandTopic::Power, "power/set", "ON or OFF"},
        {CommandTopic::Input, "input/set", "PC1, PC2 or Video"},
        {CommandTopic::Mute, "mute/set", "VIDEO ON, VIDEO OFF, AUDIO ON, AUDIO OFF, ON or OFF"},
        {CommandTopic::Command, "command/set", "a command name of orva-ctl list"},
        {CommandTopic::Send, "send/set", "a command text of printable ASCII, 128 characters at most"},
    };
    return rows;
}

std::optional<std::vector<Step>> steps(CommandTopic topic, const QByteArray &payload)
{
    const QString text = QString::fromUtf8(payload).trimmed();
    const QString upper = text.toUpper().simplified();
    const auto named = [](const char *command) { return Step{QLatin1String(command), QString()}; };
    switch (topic) {
    case CommandTopic::Power:
        if (upper == QLatin1String("ON"))
            return std::vector<Step>{named("power-on")};
        if (upper == QLatin1String("OFF"))
            return std::vector<Step>{named("power-off")};
        return std::nullopt;
    case CommandTopic::Input:
        for (const pjlink::InputRow &row : pjlink::inputRows())
            if (upper == QString::fromLatin1(row.name).toUpper())
                return std::vector<Step>{named(row.command)};
        return std::nullopt;
    case CommandTopic::Mute:
        for (const pjlink::MuteRow &row : pjlink::muteRows())
            if (upper == QLatin1String(row.name)) {
                std::vector<Step> out;
                for (const char *command : row.commands)
                    out.push_back(named(command));
                return out;
            }
        return std::nullopt;
    case CommandTopic::Command: {
        const keys::Command *command = keys::findCommand(text.toLower());
        if (!command)
            return std::nullopt;
        // An auto-repeat key goes out once, as its code: there is no holding it here.
        if (command->repeats())
            return std::vector<Step>{{QString(), keys::qText(command->code)}};
        return std::vector<Step>{{keys::qText(command->name), QString()}};
    }
    case CommandTopic::Send:
        if (text.isEmpty() || text.size() > kLongestCommandText || firstUnsendable(text))
            return std::nullopt;
        return std::vector<Step>{{QString(), text}};
    }
    return std::nullopt;
}

// --- Home Assistant ---

namespace {

// The input names the select offers, in order.
QStringList inputNames()
{
    QStringList names;
    for (const pjlink::InputRow &row : pjlink::inputRows())
        names << QLatin1String(row.name);
    return names;
}

struct Entity {
    QString component;
    QString object;
    QJsonObject fields;
};

std::vector<Entity> entities(const QString &id)
{
    const auto t = [&id](const char *leaf) { return topic(id, QString::fromLatin1(leaf)); };
    std::vector<Entity> out;
    out.push_back({QStringLiteral("switch"), QStringLiteral("power"),
                   {{"name", "Power"},
                    {"state_topic", t("power")},
                    {"value_template", "{{ 'ON' if value in ('on', 'warming') else 'OFF' }}"},
                    {"command_topic", t("power/set")},
                    {"payload_on", "ON"},
                    {"payload_off", "OFF"},
                    {"state_on", "ON"},
                    {"state_off", "OFF"},
                    {"icon", "mdi:projector"}}});
    out.push_back({QStringLiteral("select"), QStringLiteral("input"),
                   {{"name", "Input"},
                    {"state_topic", t("input")},
                    {"command_topic", t("input/set")},
                    {"options", QJsonArray::fromStringList(inputNames())}}});
    for (const auto &[object, name, kind] : {std::tuple{"video_mute", "Video mute", "VIDEO"}, std::tuple{"audio_mute", "Audio mute", "AUDIO"}})
        out.push_back({QStringLiteral("switch"), QLatin1String(object),
                       {{"name", name},
                        {"state_topic", t(kind == QLatin1String("VIDEO") ? "mute/video" : "mute/audio")},
                        {"command_topic", t("mute/set")},
                        {"payload_on", QStringLiteral("%1 ON").arg(QLatin1String(kind))},
                        {"payload_off", QStringLiteral("%1 OFF").arg(QLatin1String(kind))},
                        {"state_on", "ON"},
                        {"state_off", "OFF"}}});
    out.push_back({QStringLiteral("sensor"), QStringLiteral("power_state"),
                   {{"name", "Power state"},
                    {"state_topic", t("power")},
                    {"device_class", "enum"},
                    {"options", QJsonArray{"on", "off", "warming", "cooling", "fault"}}}});
    out.push_back({QStringLiteral("sensor"), QStringLiteral("power_status"), {{"name", "Power status"}, {"state_topic", t("power/text")}}});
    out.push_back({QStringLiteral("sensor"), QStringLiteral("status"), {{"name", "Status"}, {"state_topic", t("status")}}});
    out.push_back({QStringLiteral("sensor"), QStringLiteral("fault"),
                   {{"name", "Fault"}, {"state_topic", t("fault")}, {"entity_category", "diagnostic"}}});
    out.push_back({QStringLiteral("sensor"), QStringLiteral("lamp_mode"),
                   {{"name", "Lamp mode"}, {"state_topic", t("lamp/mode")}, {"entity_category", "diagnostic"}}});
    out.push_back({QStringLiteral("sensor"), QStringLiteral("lamp_hours"),
                   {{"name", "Lamp hours"},
                    {"state_topic", t("lamp/hours")},
                    {"unit_of_measurement", "h"},
                    {"device_class", "duration"},
                    {"state_class", "total_increasing"},
                    {"entity_category", "diagnostic"}}});
    for (int n = 1; n <= 3; ++n)
        out.push_back({QStringLiteral("sensor"), QStringLiteral("temperature_%1").arg(n),
                       {{"name", QStringLiteral("Temperature %1").arg(n)},
                        {"state_topic", topic(id, QStringLiteral("temperature/%1").arg(n))},
                        {"unit_of_measurement", QStringLiteral("°C")},
                        {"device_class", "temperature"},
                        {"state_class", "measurement"},
                        {"entity_category", "diagnostic"}}});
    out.push_back({QStringLiteral("binary_sensor"), QStringLiteral("problem"),
                   {{"name", "Problem"},
                    {"state_topic", t("problem")},
                    {"payload_on", "ON"},
                    {"payload_off", "OFF"},
                    {"device_class", "problem"}}});
    // Buttons: the picture modes and the status queries, by their command names.
    for (const keys::Command &row : keys::kCommands) {
        const QString command = fromView(row.name);
        const bool pictureMode = command.startsWith(QLatin1String("picture-mode-"));
        const bool query = !row.repeats() && row.code.starts_with("CR");
        if (!pictureMode && !query)
            continue;
        const keys::ControlName *named = keys::spokenName(row.control);
        const std::string_view spoken = named ? named->spoken : std::string_view();
        const QString object = (query ? QStringLiteral("query_") : QString()) + QString(command).replace(u'-', u'_');
        out.push_back({QStringLiteral("button"), object,
                       {{"name", QString::fromUtf8(spoken.data(), qsizetype(spoken.size()))},
                        {"command_topic", t("command/set")},
                        {"payload_press", command}}});
    }
    return out;
}

QString configTopic(const QString &id, const Entity &entity)
{
    return QStringLiteral("%1/%2/%3/%4/config").arg(QLatin1String(kDiscoveryPrefix), entity.component, nodeId(id), entity.object);
}

} // namespace

std::vector<Message> discovery(const QString &id, const QString &name, const QString &version)
{
    const QJsonObject device{{"identifiers", QJsonArray{nodeId(id)}},
                             {"name", name},
                             {"manufacturer", "ORVA"},
                             {"model", "TK58R"},
                             {"sw_version", version}};
    const QJsonArray availability{QJsonObject{{"topic", topic(id, u"availability")}}};
    const QJsonObject origin{{"name", "orva-bridge"}, {"sw_version", version}};
    std::vector<Message> out;
    for (const Entity &entity : entities(id)) {
        QJsonObject fields = entity.fields;
        fields.insert(QStringLiteral("unique_id"), nodeId(id) + u'_' + entity.object);
        fields.insert(QStringLiteral("availability"), availability);
        fields.insert(QStringLiteral("device"), device);
        fields.insert(QStringLiteral("origin"), origin);
        out.push_back({configTopic(id, entity), QJsonDocument(fields).toJson(QJsonDocument::Compact)});
    }
    return out;
}

std::vector<Message> discoveryRemoval(const QString &id)
{
    std::vector<Message> out;
    for (const Entity &entity : entities(id))
        out.push_back({configTopic(id, entity), QByteArray()});
    return out;
}

QByteArray projectorList(const QStringList &ids)
{
    return QJsonDocument(QJsonArray::fromStringList(ids)).toJson(QJsonDocument::Compact);
}

QStringList readProjectorList(const QByteArray &payload)
{
    QStringList ids;
    for (const QJsonValue &value : QJsonDocument::fromJson(payload).array())
        if (const QString id = value.toString(); isId(id))
            ids << id;
    return ids;
}

QByteArray replyPayload(const QString &topic, const QByteArray &payload, const QString &reply, const QString &status)
{
    QString told = reply.endsWith(u'\r') ? reply.chopped(1) : reply;
    told.replace(QChar(0x06), QLatin1String("ACK"));
    QJsonObject o{{"topic", topic}, {"payload", QString::fromUtf8(payload)}, {"reply", told}};
    if (!status.isEmpty())
        o.insert(QStringLiteral("status"), status);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QByteArray errorPayload(const QString &topic, const QByteArray &payload, const QString &error)
{
    return QJsonDocument(QJsonObject{{"topic", topic}, {"payload", QString::fromUtf8(payload)}, {"error", error}})
        .toJson(QJsonDocument::Compact);
}

} // namespace mqtt
