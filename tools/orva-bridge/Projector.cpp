#include "Projector.h"

#include "exchange/ExchangeLog.h"

namespace bridge {

Projector::Projector(const ProjectorSettings &settings, const QByteArray &password, ExchangeLog *log, QObject *parent)
    : QObject(parent),
      m_settings(settings),
      m_queue(settings.device, settings.speed + QStringLiteral(",N,8,1")),
      m_state(m_queue),
      m_pjlink(m_queue, PjlinkIdentity{settings.name, password}),
      m_raw(m_queue)
{
    if (log)
        log->watch(m_queue.engine(), settings.id);
    connect(&m_queue, &ProjectorQueue::logLine, this, &Projector::log);
    connect(&m_pjlink, &PjlinkServer::logLine, this, &Projector::log);
    connect(&m_raw, &RawServer::logLine, this, &Projector::log);
}

void Projector::serveMqtt(const MqttEndpoint &endpoint, const MqttProjectorSettings &settings)
{
    m_mqtt = std::make_unique<MqttProjector>(m_queue, endpoint, settings);
    m_state.setPolledElsewhere();
    connect(m_mqtt.get(), &MqttProjector::logLine, this, &Projector::log);
}

metrics::ProjectorFacts Projector::facts() const
{
    metrics::ProjectorFacts f;
    f.id = m_settings.id;
    f.name = m_settings.name;
    f.device = m_settings.device;
    f.portOpen = m_queue.portOpen();
    f.answering = m_state.answering();
    f.power = m_state.reading(u"CR0");
    f.input = m_state.reading(u"CR1");
    f.mute = m_state.reading(u"CRA");
    f.lampHours = m_state.reading(u"CR3");
    f.lampMode = m_state.reading(u"CR7");
    f.temperatures = m_state.reading(u"CR6");
    f.counts = m_queue.counts();
    f.waiting = m_queue.waiting();
    f.pjlinkClients = m_pjlink.connections();
    f.rawClients = m_raw.connections();
    if (m_mqtt)
        f.mqttConnected = m_mqtt->connected();
    return f;
}

bool Projector::start()
{
    m_queue.start();
    QString error;
    if (m_mqtt && !m_mqtt->start(&error)) {
        log(QStringLiteral("MQTT: %1").arg(error));
        return false;
    }
    return true;
}

void Projector::log(const QString &text)
{
    emit logLine(m_settings.id.isEmpty() ? text : m_settings.id + QStringLiteral(": ") + text);
}

template <typename Server>
bool Projector::listenOn(Server &server, const QHostAddress &address, int port, const QString &what)
{
    if (port == 0)
        return true;
    if (!server.listen(address, quint16(port))) {
        log(QStringLiteral("%1: cannot listen on %2 port %3: %4").arg(what, address.toString()).arg(port).arg(server.errorString()));
        return false;
    }
    log(QStringLiteral("%1 on %2 port %3").arg(what, address.toString()).arg(server.port()));
    return true;
}

bool Projector::listen(const QHostAddress &address)
{
    return listenOn(m_pjlink, address, m_settings.pjlink, QStringLiteral("PJLink"))
        && listenOn(m_raw, address, m_settings.raw, QStringLiteral("raw port"));
}

void Projector::stop(const QString &why)
{
    if (m_mqtt)
        m_mqtt->stop();
    m_queue.stop(why);
    m_pjlink.closeAll();
}

} // namespace bridge
