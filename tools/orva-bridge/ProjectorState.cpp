#include "ProjectorState.h"

#include "Mqtt.h"
#include "ProjectorQueue.h"
#include "exchange/ReadingJson.h"

#include <algorithm>

namespace bridge {

ProjectorState::ProjectorState(ProjectorQueue &queue, QObject *parent) : QObject(parent), m_queue(queue)
{
    connect(&m_queue, &ProjectorQueue::finished, this, &ProjectorState::heard);
    m_poll.setTimerType(Qt::PreciseTimer);
    m_poll.setInterval(10000);
    connect(&m_poll, &QTimer::timeout, this, [this] { whenFresh(m_poll.interval() * 3 / 4, [] {}); });
}

ProjectorState::~ProjectorState()
{
    m_queue.dropClient(ClientId(this));
}

void ProjectorState::heard(const QString &code, const Reply &reply)
{
    // A projector that is not there tells nothing, whoever found it so.
    if (ProjectorQueue::isStatusQuery(code) && !reply.answered && reply.unreachable) {
        m_known.clear();
        m_lastAnswered = false;
        return tellChange();
    }
    // A command, answered or not, may have changed what the state tells.
    if (!ProjectorQueue::isStatusQuery(code) || !reply.answered) {
        // What the command may have changed is asked again: at once where the
        // state is shown (once the queue has told the command's askers).
        for (auto &[query, known] : m_known)
            known.stale = true;
        if (m_watchers > 0 && !ProjectorQueue::isStatusQuery(code))
            QMetaObject::invokeMethod(this, [this] { whenFresh(m_poll.interval() * 3 / 4, [] {}); }, Qt::QueuedConnection);
        return;
    }
    m_lastAnswered = true;
    if (!mqtt::findQuery(code))
        return tellChange();
    Known &known = m_known[code];
    known.reading = decoding::read(code, reply.text);
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

bool ProjectorState::fresh(const QString &code, int maxAgeMs) const
{
    const auto known = m_known.find(code);
    return known != m_known.end() && !known->second.stale && !known->second.at.hasExpired(maxAgeMs);
}

void ProjectorState::whenFresh(int maxAgeMs, std::function<void()> done)
{
    const auto &queries = mqtt::queries();
    if (std::all_of(queries.begin(), queries.end(), [&](const mqtt::Query &q) { return fresh(QLatin1String(q.code), maxAgeMs); }))
        return done();
    // A round under way began before this asked: the next one serves it.
    m_waiting.push_back({maxAgeMs, std::move(done), m_round + 1});
    if (m_asking == 0)
        startRound();
}

// One round: each query older than the oldest the waiters take, asked once.
void ProjectorState::startRound()
{
    const int maxAgeMs = std::min_element(m_waiting.begin(), m_waiting.end(), [](const Waiter &a, const Waiter &b) {
                             return a.maxAgeMs < b.maxAgeMs;
                         })->maxAgeMs;
    ++m_round;
    std::vector<const mqtt::Query *> stale;
    for (const mqtt::Query &query : mqtt::queries())
        if (!fresh(QLatin1String(query.code), maxAgeMs))
            stale.push_back(&query);
    m_asking = int(stale.size()) + 1;  // and this call's own, so that the round ends after it
    const int round = m_round;
    for (const mqtt::Query *query : stale) {
        const QString code = QLatin1String(query->code);
        const QString command = QLatin1String(query->command);
        const auto answered = [this, code, round](const Reply &reply) {
            if (!reply.answered && reply.unreachable) {
                // A projector that is not there is asked no further (heard() has
                // cleared what it told: the queue tells `finished` first).
                m_queue.dropClient(ClientId(this));
                return endRound(round, true);
            }
            if (!reply.answered)
                m_known.erase(code);  // what it told before may be so no more
            endRound(round, false);
        };
        // A full queue: not asked, and what is known stays.
        if (!m_queue.enqueue(ClientId(this), command, command.isEmpty() ? code : QString(), answered))
            endRound(round, false);
        if (m_round != round || m_asking == 0)
            return;  // the round ended at once (a closed port)
    }
    endRound(round, false);
}

void ProjectorState::endRound(int round, bool whole)
{
    if (round != m_round || m_asking == 0 || (!whole && --m_asking > 0))
        return;
    m_asking = 0;
    tellChange();
    std::vector<Waiter> served;
    for (auto it = m_waiting.begin(); it != m_waiting.end();)
        if (it->round <= m_round) {
            served.push_back(std::move(*it));
            it = m_waiting.erase(it);
        } else {
            ++it;
        }
    if (!m_waiting.empty())
        startRound();
    for (const Waiter &one : served)
        one.done();
}

bool ProjectorState::answering() const
{
    return m_queue.portOpen() && m_lastAnswered;
}

const decoding::Reading *ProjectorState::reading(QStringView code) const
{
    const auto known = m_known.find(code.toString());
    return known == m_known.end() ? nullptr : &known->second.reading;
}

QJsonObject ProjectorState::json() const
{
    QJsonObject o{{"available", answering()}};
    for (const mqtt::Query &query : mqtt::queries()) {
        decoding::Reading none;
        none.code = QLatin1String(query.code);
        const auto known = m_known.find(none.code);
        decoding::addReading(o, known == m_known.end() ? none : known->second.reading);
    }
    return o;
}

} // namespace bridge
