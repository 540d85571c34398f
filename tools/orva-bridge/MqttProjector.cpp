#include "MqttProjector.h"

#include "Listener.h"
#include "ProjectorQueue.h"
#include "exchange/StatusDecoding.h"
#include "exchange/TraceRule.h"

#include <QCoreApplication>

namespace bridge {

namespace {

const QByteArray kOnline = "online";
const QByteArray kOffline = "offline";

// A payload for the log: one line, at most 64 characters.
QString printable(const QByteArray &payload)
{
    QString text = QString::fromUtf8(payload.left(64));
    for (QChar &c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = u'?';
    return text;
}

QString clientId(const QString &bridgeId, const QString &id)
{
    return QStringLiteral("orva-%1-%2").arg(bridgeId, id);
}

} // namespace

MqttProjector::MqttProjector(ProjectorQueue &queue, const MqttEndpoint &endpoint, const MqttProjectorSettings &settings,
                             QObject *parent)
    : QObject(parent),
      m_queue(queue),
      m_settings(settings),
      m_link(endpoint, clientId(settings.bridgeId, settings.id), mqtt::topic(settings.id, u"availability"), kOffline,
             {mqtt::topic(settings.id, u"+/set")})
{
    m_poll.setInterval(settings.pollMs);
    connect(&m_poll, &QTimer::timeout, this, &MqttProjector::poll);
    connect(&m_link, &MqttLink::connected, this, &MqttProjector::onConnected);
    // A broker that stays away is told once, with the first reason, not at every attempt.
    connect(&m_link, &MqttLink::disconnected, this, [this](const QString &why) {
        if (std::exchange(m_brokerAwayTold, true))
            return;
        emit logLine(QStringLiteral("MQTT: the broker is not reached%1; trying again")
                         .arg(why.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(why)));
    });
    connect(&m_link, &MqttLink::message, this, &MqttProjector::onMessage);
}

// The queue may outlive this: its answers to what this asked go nowhere.
MqttProjector::~MqttProjector()
{
    m_queue.dropClient(ClientId(this));
}

bool MqttProjector::start(QString *error)
{
    if (!m_link.start(error))
        return false;
    poll();
    m_poll.start();
    return true;
}

void MqttProjector::stop()
{
    m_poll.stop();
    m_queue.dropClient(ClientId(this));
    set(QStringLiteral("availability"), kOffline);
    m_link.stop();
}

void MqttProjector::logOnce(const QString &text)
{
    // Bounded: clients that send ever new wrong payloads are told of again, after a while.
    constexpr qsizetype kMostRemembered = 256;
    if (m_logged.contains(text))
        return;
    if (m_logged.size() >= kMostRemembered)
        m_logged.clear();
    m_logged.insert(text);
    emit logLine(text);
}

// --- state ---

void MqttProjector::poll()
{
    const bool slow = m_polls % mqtt::kSlowPollEvery == 0;
    ++m_polls;
    for (const mqtt::Query &query : mqtt::queries())
        if (query.everyPoll || slow)
            ask(query);
}

void MqttProjector::ask(const mqtt::Query &query)
{
    const QString command = QLatin1String(query.command);
    const QString text = command.isEmpty() ? QLatin1String(query.code) : QString();
    m_queue.enqueue(ClientId(this), command, text, [this, &query](const Reply &reply) {
        heard(reply);
        if (reply.answered)
            apply(query.state(decoding::read(QString::fromLatin1(query.code), reply.text)));
    });
}

// Whether the projector is there, from any answer or its absence.
void MqttProjector::heard(const Reply &reply)
{
    if (reply.answered)
        set(QStringLiteral("availability"), kOnline);
    else if (reply.unreachable)
        set(QStringLiteral("availability"), kOffline);
}

void MqttProjector::apply(const mqtt::State &state)
{
    for (const auto &[leaf, payload] : state)
        set(leaf, payload);
}

void MqttProjector::set(const QString &leaf, const QByteArray &payload)
{
    const auto at = m_state.find(leaf);
    if (at != m_state.end() && at->second == payload)
        return;
    m_state[leaf] = payload;
    m_link.publish(mqtt::topic(m_settings.id, leaf), payload);
}

void MqttProjector::onConnected()
{
    m_brokerAwayTold = false;
    emit logLine(QStringLiteral("MQTT: connected to the broker"));
    for (const mqtt::Message &m : mqtt::discovery(m_settings.id, m_settings.name, QCoreApplication::applicationVersion()))
        m_link.publish(m.topic, m.payload);
    for (const auto &[leaf, payload] : m_state)
        m_link.publish(mqtt::topic(m_settings.id, leaf), payload);
}

// --- commands ---

void MqttProjector::onMessage(const QString &topic, const QByteArray &payload, bool retained)
{
    const QString prefix = mqtt::topic(m_settings.id, u"");
    const QString leaf = topic.startsWith(prefix) ? topic.mid(prefix.size()) : QString();
    const mqtt::CommandTopicRow *row = nullptr;
    for (const mqtt::CommandTopicRow &r : mqtt::commandTopics())
        if (leaf == QLatin1String(r.leaf))
            row = &r;
    // An empty message is how a retained one is cleared: nothing to carry out.
    if (!row || payload.isEmpty())
        return;
    // A retained command was left on the broker: carrying it out would repeat it at
    // every connection.
    if (retained) {
        logOnce(QStringLiteral("MQTT: %1: a retained command is not carried out (remove it with: "
                               "mosquitto_pub -r -n -t %1)").arg(topic));
        return;
    }
    const bool sendRefused = row->kind == mqtt::CommandTopic::Send && !m_settings.allowSend;
    const std::optional<std::vector<mqtt::Step>> steps = sendRefused ? std::nullopt : mqtt::steps(row->kind, payload);
    if (!steps) {
        const QString why = sendRefused ? QStringLiteral("raw commands are not taken (the bridge's mqtt-send setting is off)")
                                        : QStringLiteral("it takes %1").arg(QLatin1String(row->accepts));
        logOnce(QStringLiteral("MQTT: %1: \"%2\" ignored: %3").arg(topic, printable(payload), why));
        return;
    }
    runStep({topic, payload, row->kind, *steps});
}

void MqttProjector::fail(const Command &command, const QString &why)
{
    m_link.publish(mqtt::topic(m_settings.id, u"error"), mqtt::errorPayload(command.topic, command.payload, why), false);
}

// The command's steps, one after the other, each when the one before was taken.
void MqttProjector::runStep(Command command)
{
    const mqtt::Step step = command.steps[command.next];
    const QString code = ProjectorQueue::codeOf(step.command, step.text);
    const bool queued = m_queue.enqueue(ClientId(this), step.command, step.text, [this, command, code](const Reply &reply) mutable {
        heard(reply);
        if (!reply.answered)
            return fail(command, reply.error);
        const QString trace = traceText(reply.text);
        QString status;
        if (ProjectorQueue::isStatusQuery(code)) {
            const decoding::Result decoded = decoding::decode(code + u'\r', QString(), reply.text, trace);
            if (const mqtt::Query *query = mqtt::findQuery(code))
                apply(query->state(decoded.reading));
            status = decoded.status.value_or(QString()).trimmed();
            if (!status.isEmpty())
                set(QStringLiteral("status"), status.toUtf8());
        } else if (command.kind != mqtt::CommandTopic::Send && !reply.text.contains(QChar(0x06))) {
            return fail(command, QStringLiteral("the projector did not take %1: it answered%2").arg(code, trace.trimmed().prepend(u' ')));
        }
        if (++command.next < command.steps.size())
            return runStep(std::move(command));
        m_link.publish(mqtt::topic(m_settings.id, u"reply"), mqtt::replyPayload(command.topic, command.payload, reply.text, status), false);
        // What the command may have changed is asked again.
        if (!ProjectorQueue::isStatusQuery(code) || command.kind == mqtt::CommandTopic::Send)
            for (const mqtt::Query &query : mqtt::queries())
                if (query.everyPoll)
                    ask(query);
    });
    if (queued)
        return;
    fail(command, QStringLiteral("too many commands wait for the projector"));
    // A flood is told once, not each command of it: it ends when none was refused for a while.
    if (startsBurst(m_refused))
        emit logLine(QStringLiteral("MQTT: too many commands wait for the projector: those that come are refused "
                                    "(with an error on orva/%1/error)").arg(m_settings.id));
}

// --- the bridge ---

MqttBridge::MqttBridge(const MqttEndpoint &endpoint, const QString &bridgeId, const QStringList &ids, QObject *parent)
    : QObject(parent),
      m_bridgeId(bridgeId),
      m_ids(ids),
      m_link(endpoint, QStringLiteral("orva-bridge-%1").arg(bridgeId), mqtt::bridgeTopic(bridgeId, u"availability"), kOffline,
             {mqtt::bridgeTopic(bridgeId, u"projectors")})
{
    // The list is subscribed before it is published on each connection: the one
    // left by the bridge's last run comes first.
    connect(&m_link, &MqttLink::connected, this, [this] {
        m_link.publish(mqtt::bridgeTopic(m_bridgeId, u"availability"), kOnline);
        m_link.publish(mqtt::bridgeTopic(m_bridgeId, u"projectors"), mqtt::projectorList(m_ids));
    });
    connect(&m_link, &MqttLink::message, this, [this](const QString &topic, const QByteArray &payload) { onMessage(topic, payload); });
}

void MqttBridge::stop()
{
    m_link.publish(mqtt::bridgeTopic(m_bridgeId, u"availability"), kOffline);
    m_link.stop();
}

void MqttBridge::onMessage(const QString &topic, const QByteArray &payload)
{
    if (topic != mqtt::bridgeTopic(m_bridgeId, u"projectors"))
        return;
    for (const QString &id : mqtt::readProjectorList(payload)) {
        if (m_ids.contains(id))
            continue;
        emit logLine(QStringLiteral("MQTT: projector %1 is served no more: its entities and state are removed").arg(id));
        for (const mqtt::Message &m : mqtt::discoveryRemoval(id))
            m_link.publish(m.topic, m.payload);
        for (const QString &leaf : mqtt::stateLeaves())
            m_link.publish(mqtt::topic(id, leaf), QByteArray());
    }
}

} // namespace bridge
