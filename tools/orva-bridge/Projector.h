#pragma once
// One projector as the bridge serves it: its queue on the line, its PJLink
// listener and its raw port. Projectors share nothing but the event loop, so one
// that is unplugged or silent never delays another.

#include "Config.h"
#include "Metrics.h"
#include "MqttProjector.h"
#include "PjlinkServer.h"
#include "ProjectorQueue.h"
#include "ProjectorState.h"
#include "RawServer.h"

#include <QHostAddress>
#include <QObject>
#include <memory>

class ExchangeLog;

namespace bridge {

class Projector final : public QObject {
    Q_OBJECT
public:
    // `settings.passwordFile` already read into `password`; `log` may be null.
    Projector(const ProjectorSettings &settings, const QByteArray &password, ExchangeLog *log, QObject *parent = nullptr);

    // Its listeners on `address`; false, with a log line, when one cannot listen.
    bool listen(const QHostAddress &address);
    // Its state and commands on an MQTT broker too.
    void serveMqtt(const MqttEndpoint &endpoint, const MqttProjectorSettings &settings);
    // The port opened (and the broker connected); false, with a log line, when the
    // MQTT connection cannot be set up.
    bool start();
    // How many connections each listener takes at once.
    void setMaxConnections(int n)
    {
        m_pjlink.setMaxConnections(n);
        m_raw.setMaxConnections(n);
    }
    // The service ends: what waits is answered with `why`, the port and the
    // connections closed.
    void stop(const QString &why);

    const ProjectorSettings &settings() const { return m_settings; }
    ProjectorQueue &queue() { return m_queue; }
    ProjectorState &state() { return m_state; }
    // The newest facts for /metrics (its readings point into the state).
    metrics::ProjectorFacts facts() const;
    quint16 pjlinkPort() const { return m_pjlink.port(); }
    quint16 rawPort() const { return m_raw.port(); }

signals:
    // A line for the service's log, with the projector's id in front when it has one.
    void logLine(const QString &text);

private:
    template <typename Server>
    bool listenOn(Server &server, const QHostAddress &address, int port, const QString &what);
    void log(const QString &text);

    ProjectorSettings m_settings;
    ProjectorQueue m_queue;
    ProjectorState m_state;
    PjlinkServer m_pjlink;
    RawServer m_raw;
    std::unique_ptr<MqttProjector> m_mqtt;  // after the queue it asks, so gone before it
};

} // namespace bridge
