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
    const QString code = text.endsWith(u'\r') ? text.chopped(1) : text;
    QString name;
    for (const keys::Command &c : keys::kCommands)
        if (!c.repeats() && keys::qText(c.code) == code)
            name = keys::qText(c.name);
    // A full queue, or a client's share used up: the command is not sent, and the
    // page's reply window ends with no reply, as for a projector that did not answer.
    m_queue.enqueue(ClientId(this), name, name.isEmpty() ? code : QString(), [this](const Reply &reply) {
        if (!reply.answered)
            return;
        m_input += reply.text;
        emit onComm();
    });
    return std::nullopt;
}

QString QueueLink::input()
{
    return std::exchange(m_input, QString());
}

} // namespace bridge
