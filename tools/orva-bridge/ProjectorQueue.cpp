#include "ProjectorQueue.h"

#include "exchange/CommandText.h"
#include "exchange/ExchangeEngine.h"
#include "exchange/StatusDecoding.h"
#include "Wording.h"
#include "keys/CommandLookup.h"
#include "serial/QtSerialControl.h"

#include <QMap>
#include <algorithm>

namespace bridge {

QString ProjectorQueue::codeOf(const QString &command, const QString &text)
{
    if (command.isEmpty())
        return text;
    const keys::Command *row = keys::findCommand(command);
    return row && !row->repeats() ? keys::qText(row->code) : QString();
}

ProjectorQueue::ProjectorQueue(const QString &device, const QString &settings, QObject *parent)
    : QObject(parent)
    , m_serial(std::make_unique<QtSerialControl>(QMap<int, QString>{{1, device}, {2, device}}, portWording()))
    , m_engine(std::make_unique<ExchangeEngine>(*m_serial))
    , m_settings(settings)
{
    m_reopen.setInterval(kReopenMs);
    m_reopen.setTimerType(Qt::PreciseTimer);
    connect(&m_reopen, &QTimer::timeout, this, &ProjectorQueue::tryOpen);
    m_quiet.setSingleShot(true);
    m_quiet.setTimerType(Qt::PreciseTimer);
    connect(&m_quiet, &QTimer::timeout, this, &ProjectorQueue::sendNext);
    ExchangeEngine &engine = *m_engine;
    engine.setLinesShown(false);  // clients read the replies: PJLink, MQTT and the raw port
    connect(&engine, &ExchangeEngine::received, this, &ProjectorQueue::onReceived);
    connect(&engine, &ExchangeEngine::replyWindowEnded, this, [this](bool) {
        if (!m_current)
            return;
        // Nothing came: a reply may still be on its way, and has one more reply
        // window to come in (and be discarded) before the next command goes out;
        // unless nothing at all has come for some commands (a projector that is not
        // there makes no late replies, and its clients need not wait twice).
        if (m_reply.isEmpty()) {
            ++m_silentInARow;
            return finishCurrent(Outcome::NoReply, {false, QString(), QStringLiteral("no reply from the projector"), true},
                                 m_silentInARow > kSilentBeforeAbsent ? kQuietMs : m_settleMs);
        }
        // A reply cut short by the end of its window: what follows it is late. A
        // command's own text is its reply; a status query's needs its whole form.
        if (decoding::replyFits(codeOf(m_current->command, m_current->text), m_reply))
            finishCurrent(std::nullopt, {true, m_reply, QString()}, m_settleMs);
        else
            finishCurrent(Outcome::BadReply, {false, QString(), QStringLiteral("an incomplete reply from the projector")}, m_settleMs);
    });
    connect(&engine, &ExchangeEngine::warning, this, [this](const QString &text) {
        // A port that stays away is told once, not at every try.
        if (text != m_lastWarning)
            emit logLine(QString(text).replace(u'\n', u' '));
        m_lastWarning = text;
    });
    connect(&engine, &ExchangeEngine::portInUse, this, [this](int port) {
        if (port == 0 && !m_stopped)
            m_reopen.start();
    });
    connect(m_serial.get(), &SerialControl::portLost, this, [this] { ++m_counts.portLosses; });
    // Open again only once it carries bytes (a network link: once connected).
    connect(m_serial.get(), &SerialControl::opened, this, [this] {
        if (!m_lastWarning.isEmpty())
            emit logLine(QStringLiteral("The projector's port is open again."));
        m_lastWarning.clear();
    });
}

ProjectorQueue::~ProjectorQueue()
{
    m_engine->disconnect(this);
    m_serial->disconnect(this);
}

void ProjectorQueue::start()
{
    m_stopped = false;
    tryOpen();
}

void ProjectorQueue::tryOpen()
{
    if (m_stopped || m_serial->portOpen())
        return;
    if (m_engine->startOnce(m_settings))
        m_reopen.stop();
    else
        m_reopen.start();
}

bool ProjectorQueue::portOpen() const
{
    return m_serial->portOpen();
}

bool ProjectorQueue::joinable(const Job &job, const QString &command, const QString &text)
{
    return job.command == command && job.text == text && isStatusQuery(codeOf(command, text));
}

int ProjectorQueue::asksOf(ClientId client) const
{
    int asks = 0;
    const auto count = [&](const Job &job) {
        asks += int(std::count_if(job.askers.begin(), job.askers.end(), [client](const auto &a) { return a.first == client; }));
    };
    std::for_each(m_waiting.begin(), m_waiting.end(), count);
    if (m_current)
        count(*m_current);
    return asks;
}

bool ProjectorQueue::enqueue(ClientId client, const QString &command, const QString &text, ReplyHandler done)
{
    if (command.isEmpty() && (text.isEmpty() || text.size() > kLongestCommandText || firstUnsendable(text))) {
        done({false, QString(), QStringLiteral("no command text of printable ASCII up to %1 characters").arg(kLongestCommandText)});
        return true;
    }
    const auto full = [this] {
        ++m_counts.outcomes[int(Outcome::QueueFull)];
        return false;
    };
    if (asksOf(client) >= kClientShare)
        return full();
    // The same status query, not yet answered: one more asker of it.
    if (m_current && m_reply.isEmpty() && joinable(*m_current, command, text)) {
        m_current->askers.emplace_back(client, std::move(done));
        return true;
    }
    for (Job &job : m_waiting)
        if (joinable(job, command, text)) {
            job.askers.emplace_back(client, std::move(done));
            return true;
        }
    if (int(m_waiting.size()) >= kMaxWaiting)
        return full();
    m_waiting.push_back({command, text, {{client, std::move(done)}}});
    if (std::find(m_turns.begin(), m_turns.end(), client) == m_turns.end())
        m_turns.push_back(client);
    // Asked from a reply handler, it goes out once the handlers are done (from the
    // event loop, not inside the engine's signal of the reply before).
    if (!m_finishing)
        sendNext();
    return true;
}

void ProjectorQueue::dropClient(ClientId client)
{
    const auto theirs = [client](const std::pair<ClientId, ReplyHandler> &a) { return a.first == client; };
    for (Job &job : m_waiting)
        std::erase_if(job.askers, theirs);
    std::erase_if(m_waiting, [](const Job &job) { return job.askers.empty(); });
    // A query it asked first and others joined now takes the turn of the next asker.
    std::erase(m_turns, client);
    for (const Job &job : m_waiting)
        if (std::find(m_turns.begin(), m_turns.end(), job.askers.front().first) == m_turns.end())
            m_turns.push_back(job.askers.front().first);
    if (m_current)
        std::erase_if(m_current->askers, theirs);  // still on the line: it is answered, to no one
}

void ProjectorQueue::stop(const QString &why)
{
    m_stopped = true;
    m_reopen.stop();
    m_quiet.stop();
    m_turns.clear();
    std::deque<Job> waiting = std::exchange(m_waiting, {});
    if (m_current)
        finishCurrent(std::nullopt, {false, QString(), why});
    for (const Job &job : waiting)
        for (const auto &[client, done] : job.askers)
            done({false, QString(), why});
    m_engine->end();
}

// The next client in turn sends its oldest command, and goes to the back of the
// turns if it has more.
void ProjectorQueue::sendNext()
{
    if (m_current || m_stopped || m_quiet.isActive() || m_turns.empty())
        return;
    const ClientId client = m_turns.front();
    m_turns.pop_front();
    const auto owned = [client](const Job &job) { return job.askers.front().first == client; };
    const auto at = std::find_if(m_waiting.begin(), m_waiting.end(), owned);
    if (at == m_waiting.end())  // no turn is kept without a command; should one be, the next
        return sendNext();
    m_current = std::move(*at);
    m_waiting.erase(at);
    if (std::any_of(m_waiting.begin(), m_waiting.end(), owned))
        m_turns.push_back(client);
    m_reply.clear();
    // Both links take every byte for an open port (what the line does not take at
    // once waits in their buffers), so a command that goes out to an open port is
    // sent; a device lost on the way ends it at its reply window.
    if (!m_serial->portOpen()) {
        finishCurrent(Outcome::PortClosed, {false, QString(), QStringLiteral("the projector's port is closed"), true});
        return;
    }
    m_engine->startFreshReply();
    m_sentAt.start();
    if (m_current->command.isEmpty())
        m_engine->send(m_current->text);
    else if (const keys::Command *row = keys::findCommand(m_current->command); !row || !m_engine->click(*row))
        finishCurrent(std::nullopt, {false, QString(), QStringLiteral("no such command")});
    m_settleMs = m_engine->timing().replyWindowMs;  // the window the command went out with
}

void ProjectorQueue::onReceived(const QString &chunk)
{
    m_silentInARow = 0;
    // While the line settles, whatever comes is a late reply (or the rest of one):
    // never the next command's, never anyone's. Once it has ended (an ACK or a CR),
    // a short quiet settles the line; a reply still trickling in gets another reply
    // window to end in.
    // A projector that never stops talking is not waited for longer than two
    // reply windows.
    if (m_quiet.isActive()) {
        if (m_settling.elapsed() < 2 * m_settleMs)
            m_quiet.start(ExchangeEngine::replyComplete(chunk) ? kQuietMs : m_settleMs);
        tell(QStringLiteral("The projector answered after the reply window: the late reply was discarded."));
        return;
    }
    if (!m_current) {
        emit unsolicited(chunk);
        return;
    }
    m_reply += chunk;
    if (!ExchangeEngine::replyComplete(m_reply))
        return;
    if (decoding::replyFits(codeOf(m_current->command, m_current->text), m_reply)) {
        m_told.clear();
        finishCurrent(std::nullopt, {true, m_reply, QString()});
        return;
    }
    tell(QStringLiteral("The projector's reply did not fit its query: it was taken as no answer."));
    finishCurrent(Outcome::BadReply, {false, QString(), QStringLiteral("the projector's reply does not fit the query")}, kQuietMs);
}

void ProjectorQueue::tell(const QString &trouble)
{
    if (m_told.contains(trouble))
        return;
    m_told << trouble;
    emit logLine(trouble);
}

// The command on the line is done: its askers hear, and the next one goes out
// (from the event loop, so that an asker's own next command queues behind it),
// after the line has settled for `quietMs` when the reply was not clean.
void ProjectorQueue::finishCurrent(std::optional<Outcome> failure, const Reply &reply, int quietMs)
{
    const Job job = std::move(*m_current);
    const QString code = codeOf(job.command, job.text);
    if (reply.answered) {
        failure = isStatusQuery(code) || reply.text.contains(QChar(0x06)) ? Outcome::Answered : Outcome::NotAcknowledged;
        const double seconds = double(m_sentAt.nsecsElapsed()) / 1e9;
        m_counts.replySeconds += seconds;
        ++m_counts.replyTimes[std::lower_bound(kReplyBuckets.begin(), kReplyBuckets.end(), seconds) - kReplyBuckets.begin()];
    }
    if (failure)
        ++m_counts.outcomes[int(*failure)];
    m_current.reset();
    m_reply.clear();
    if (quietMs > 0) {
        m_settling.start();
        m_quiet.start(quietMs);
    }
    emit finished(code, reply);
    m_finishing = true;
    for (const auto &[client, done] : job.askers)
        done(reply);
    m_finishing = false;
    if (!m_waiting.empty())  // else the next enqueue sends at once
        QMetaObject::invokeMethod(this, &ProjectorQueue::sendNext, Qt::QueuedConnection);
}

} // namespace bridge
