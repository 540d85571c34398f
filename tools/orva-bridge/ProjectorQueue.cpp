#include "ProjectorQueue.h"

#include "exchange/CommandText.h"
#include "exchange/ExchangeEngine.h"
#include "keys/CommandTable.h"
#include "serial/QtSerialControl.h"

#include <QMap>
#include <algorithm>

namespace bridge {

QString ProjectorQueue::codeOf(const QString &control, const QString &text)
{
    if (control.isEmpty())
        return text;
    const keys::OneShot *button = keys::findOneShot(control.toStdString());
    return button ? QString::fromLatin1(button->code.data(), qsizetype(button->code.size())) : QString();
}

ProjectorQueue::ProjectorQueue(const QString &device, const QString &settings, QObject *parent)
    : QObject(parent)
    , m_serial(std::make_unique<QtSerialControl>(QMap<int, QString>{{1, device}, {2, device}}))
    , m_engine(std::make_unique<ExchangeEngine>(*m_serial))
    , m_settings(settings)
{
    m_reopen.setInterval(kReopenMs);
    m_reopen.setTimerType(Qt::PreciseTimer);
    connect(&m_reopen, &QTimer::timeout, this, &ProjectorQueue::tryOpen);
    ExchangeEngine &engine = *m_engine;
    connect(&engine, &ExchangeEngine::received, this, &ProjectorQueue::onReceived);
    connect(&engine, &ExchangeEngine::transmitted, this, [this](const QString &, bool sent) {
        if (!sent && m_current)
            finishCurrent({false, QString(), QStringLiteral("the projector's port is closed"), true});
    });
    connect(&engine, &ExchangeEngine::replyWindowEnded, this, [this](bool) {
        if (!m_current)
            return;
        if (m_reply.isEmpty())
            finishCurrent({false, QString(), QStringLiteral("no reply from the projector"), true});
        else
            finishCurrent({true, m_reply, QString()});
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
}

ProjectorQueue::~ProjectorQueue()
{
    m_engine->disconnect(this);
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
    if (m_engine->startOnce(m_settings)) {
        m_reopen.stop();
        if (!m_lastWarning.isEmpty())
            emit logLine(QStringLiteral("The projector's port is open again."));
        m_lastWarning.clear();
    } else {
        m_reopen.start();
    }
}

bool ProjectorQueue::portOpen() const
{
    return m_serial->portOpen();
}

bool ProjectorQueue::joinable(const Job &job, const QString &control, const QString &text)
{
    return job.control == control && job.text == text && isStatusQuery(codeOf(control, text));
}

bool ProjectorQueue::enqueue(ClientId client, const QString &control, const QString &text, ReplyHandler done)
{
    if (control.isEmpty() && (text.isEmpty() || firstUnsendable(text))) {
        done({false, QString(), QStringLiteral("no command text of printable ASCII")});
        return true;
    }
    // The same status query, not yet answered: one more asker of it.
    if (m_current && m_reply.isEmpty() && joinable(*m_current, control, text)) {
        m_current->askers.emplace_back(client, std::move(done));
        return true;
    }
    for (Job &job : m_waiting)
        if (joinable(job, control, text)) {
            job.askers.emplace_back(client, std::move(done));
            return true;
        }
    if (int(m_waiting.size()) >= kMaxWaiting)
        return false;
    m_waiting.push_back({control, text, {{client, std::move(done)}}});
    // Asked from a reply handler, it goes out once the handlers are done (from the
    // event loop, not inside the engine's signal of the reply before).
    if (!m_current && !m_finishing)
        sendNext();
    return true;
}

void ProjectorQueue::dropClient(ClientId client)
{
    const auto theirs = [client](const std::pair<ClientId, ReplyHandler> &a) { return a.first == client; };
    for (Job &job : m_waiting)
        std::erase_if(job.askers, theirs);
    std::erase_if(m_waiting, [](const Job &job) { return job.askers.empty(); });
    if (m_current)
        std::erase_if(m_current->askers, theirs);  // still on the line: it is answered, to no one
}

void ProjectorQueue::stop(const QString &why)
{
    m_stopped = true;
    m_reopen.stop();
    std::deque<Job> waiting = std::exchange(m_waiting, {});
    if (m_current)
        finishCurrent({false, QString(), why});
    for (const Job &job : waiting)
        for (const auto &[client, done] : job.askers)
            done({false, QString(), why});
    m_engine->end();
}

void ProjectorQueue::sendNext()
{
    if (m_waiting.empty() || m_stopped)
        return;
    m_current = std::move(m_waiting.front());
    m_waiting.pop_front();
    m_reply.clear();
    if (!m_serial->portOpen()) {
        finishCurrent({false, QString(), QStringLiteral("the projector's port is closed"), true});
        return;
    }
    m_engine->startFreshReply();
    if (m_current->control.isEmpty())
        m_engine->send(m_current->text);
    else if (!m_engine->click(m_current->control))
        finishCurrent({false, QString(), QStringLiteral("no such command")});
}

void ProjectorQueue::onReceived(const QString &chunk)
{
    if (!m_current) {
        emit unsolicited(chunk);
        return;
    }
    m_reply += chunk;
    if (ExchangeEngine::replyComplete(m_reply))
        finishCurrent({true, m_reply, QString()});
}

// The command on the line is done: its askers hear, and the next one goes out
// (from the event loop, so that an asker's own next command queues behind it).
void ProjectorQueue::finishCurrent(const Reply &reply)
{
    const Job job = std::move(*m_current);
    m_current.reset();
    m_reply.clear();
    m_finishing = true;
    for (const auto &[client, done] : job.askers)
        done(reply);
    m_finishing = false;
    QMetaObject::invokeMethod(this, [this] {
        if (!m_current)
            sendNext();
    }, Qt::QueuedConnection);
}

} // namespace bridge
