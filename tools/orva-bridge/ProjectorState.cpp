#include "ProjectorState.h"

#include "Mqtt.h"
#include "ProjectorQueue.h"
#include "exchange/ReadingJson.h"

namespace bridge {

ProjectorState::ProjectorState(ProjectorQueue &queue, QObject *parent) : QObject(parent), m_queue(queue)
{
    connect(&m_queue, &ProjectorQueue::answered, this, &ProjectorState::heard);
    m_poll.setTimerType(Qt::PreciseTimer);
    m_poll.setInterval(10000);
    connect(&m_poll, &QTimer::timeout, this, [this] { whenFresh(m_poll.interval() * 3 / 4, [] {}); });
}

ProjectorState::~ProjectorState()
{
    m_queue.dropClient(ClientId(this));
}

void ProjectorState::heard(const QString &code, const QString &reply)
{
    m_lastAnswered = true;
    if (!ProjectorQueue::isStatusQuery(code)) {
        // What the command may have changed is asked again: at once where the
        // state is shown (once the queue has told the command's askers).
        for (auto &[query, known] : m_known)
            known.stale = true;
        if (m_watchers > 0)
            QMetaObject::invokeMethod(this, [this] { whenFresh(m_poll.interval() * 3 / 4, [] {}); }, Qt::QueuedConnection);
        return tellChange();
    }
    if (!mqtt::findQuery(code))
        return;
    Known &known = m_known[code];
    known.reading = decoding::read(code, reply);
    known.at.start();
    known.stale = false;
    tellChange();
}

void ProjectorState::tellChange()
{
    if (const QJsonObject now = json(); now != m_told)
        emit changed(m_told = now);
}

void ProjectorState::watch()
{
    if (m_watchers++ > 0)
        return;
    if (!m_polledElsewhere)
        m_poll.start();
    whenFresh(m_poll.interval() * 3 / 4, [] {});
}

void ProjectorState::unwatch()
{
    if (--m_watchers == 0)
        m_poll.stop();
}

void ProjectorState::whenFresh(int maxAgeMs, std::function<void()> done)
{
    std::vector<const mqtt::Query *> stale;
    for (const mqtt::Query &query : mqtt::queries())
        if (const auto known = m_known.find(QLatin1String(query.code)); known == m_known.end() || known->second.stale
                                                                                                       || known->second.at.hasExpired(maxAgeMs))
            stale.push_back(&query);
    if (stale.empty())
        return done();
    m_waiting.push_back(std::move(done));
    if (m_asking > 0)
        return;  // the round under way serves this one too
    m_asking = int(stale.size());
    for (const mqtt::Query *query : stale) {
        const QString code = QLatin1String(query->code);
        const QString command = QLatin1String(query->command);
        const auto answered = [this, code](const Reply &reply) {
            if (!reply.answered) {
                m_known.erase(code);  // what it told before may be so no more
                m_lastAnswered = false;
            }
            // A projector that is not there is asked no further.
            if (reply.unreachable) {
                m_known.clear();
                m_asking = 0;
                m_queue.dropClient(ClientId(this));
            } else if (--m_asking > 0) {
                return;
            }
            tellChange();
            for (const auto &one : std::exchange(m_waiting, {}))
                one();
        };
        if (!m_queue.enqueue(ClientId(this), command, command.isEmpty() ? code : QString(), answered))
            answered({false, QString(), QStringLiteral("too many commands wait for the projector")});
    }
}

QJsonObject ProjectorState::json() const
{
    QJsonObject o{{"available", m_queue.portOpen() && m_lastAnswered}};
    for (const mqtt::Query &query : mqtt::queries()) {
        decoding::Reading none;
        none.code = QLatin1String(query.code);
        const auto known = m_known.find(none.code);
        decoding::addReading(o, known == m_known.end() ? none : known->second.reading);
    }
    return o;
}

} // namespace bridge
