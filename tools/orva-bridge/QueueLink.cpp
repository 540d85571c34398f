#include "QueueLink.h"

#include "ProjectorQueue.h"
#include "keys/CommandLookup.h"

namespace bridge {

QueueLink::QueueLink(ProjectorQueue &queue, QObject *parent) : SerialControl(parent), m_queue(queue) {}

QueueLink::~QueueLink()
{
    m_queue.dropClient(ClientId(this));
}

SerialResult QueueLink::setCommPort(int port)
{
    m_port = port;
    return std::nullopt;
}

SerialResult QueueLink::setSettings(const QString &settings)
{
    m_settings = settings;
    return std::nullopt;
}

SerialResult QueueLink::setPortOpen(bool open)
{
    m_open = open;
    if (open)
        emit opened();
    return std::nullopt;
}

SerialResult QueueLink::output(const QString &text)
{
    if (!m_open)
        return SerialError{ErrPortNotOpen, QStringLiteral("the port is not open")};
    // One command of the page's in the queue at a time: a held key's repeats never
    // pile up behind a busy line, to go out after its release.
    if (m_waiting)
        return SerialError{ErrWriteFailed, QStringLiteral("the projector has not answered this page's last command yet")};
    const QString code = text.endsWith(u'\r') ? text.chopped(1) : text;
    QString name;
    for (const keys::Command &c : keys::kCommands)
        if (!c.repeats() && keys::qText(c.code) == code)
            name = keys::qText(c.name);
    // A full queue: the command is not sent, and the page's reply window ends with
    // no reply, as for a projector that did not answer.
    m_waiting = true;  // before: the queue may answer at once (a closed port)
    if (!m_queue.enqueue(ClientId(this), name, name.isEmpty() ? code : QString(), [this](const Reply &reply) {
            m_waiting = false;
            if (!reply.answered)
                return;
            m_input += reply.text;
            emit onComm();
        }))
        m_waiting = false;
    return std::nullopt;
}

void QueueLink::dropWaiting()
{
    m_queue.dropClient(ClientId(this));
    m_waiting = false;
}

QString QueueLink::input()
{
    return std::exchange(m_input, QString());
}

} // namespace bridge
