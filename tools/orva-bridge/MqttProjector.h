#pragma once
// One projector on the MQTT broker: its state, asked at an interval through the
// projector's queue and published retained when it changes; its command topics,
// carried out through the same queue; its Home Assistant device. And the bridge's
// own presence on the broker, through which projectors taken out of the
// configuration are removed.

#include "Mqtt.h"
#include "MqttLink.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <map>
#include <vector>

namespace bridge {

class ProjectorQueue;
struct Reply;

struct MqttProjectorSettings {
    QString bridgeId;       // the bridge's name on the broker
    QString id;             // the projector's id in its topics
    QString name;           // its device's name for Home Assistant
    int pollMs = 10000;     // power, input and mute; lamp and temperatures less often
    bool allowSend = false; // send/set takes raw command texts
};

class MqttProjector final : public QObject {
    Q_OBJECT
public:
    MqttProjector(ProjectorQueue &queue, const MqttEndpoint &endpoint, const MqttProjectorSettings &settings,
                  QObject *parent = nullptr);
    ~MqttProjector() override;

    // Begins polling and connecting; false, with `error`, when the connection cannot be set up.
    bool start(QString *error);
    // The bridge ends: the projector is shown offline, the connection closed.
    void stop();

    bool connected() const { return m_link.isConnected(); }
    // What the broker is told now (a leaf under orva/<id>/ and its payload).
    const std::map<QString, QByteArray> &state() const { return m_state; }

signals:
    void logLine(const QString &text);

private:
    struct Command {
        QString topic;
        QByteArray payload;
        mqtt::CommandTopic kind;
        std::vector<mqtt::Step> steps;
        std::size_t next = 0;
    };
    void poll();
    void ask(const mqtt::Query &query);
    void apply(const mqtt::State &state);
    void set(const QString &leaf, const QByteArray &payload);
    void heard(const Reply &reply);
    void onConnected();
    void onMessage(const QString &topic, const QByteArray &payload, bool retained);
    void runStep(Command command);
    void fail(const Command &command, const QString &why);
    // Logs a line about what a client sent once, however often it comes again.
    void logOnce(const QString &text);

    ProjectorQueue &m_queue;
    MqttProjectorSettings m_settings;
    MqttLink m_link;
    QTimer m_poll;
    int m_polls = 0;
    std::map<QString, QByteArray> m_state;
    QSet<QString> m_logged;  // the lines logOnce has logged
    bool m_brokerAwayTold = false;  // the broker's absence was logged since it was last reached
    QElapsedTimer m_refused;        // since a command was last refused, the queue full
};

// The bridge on the broker: its availability, and the list of projectors it
// serves, through which one taken out of the configuration loses its entities and
// retained state.
class MqttBridge final : public QObject {
    Q_OBJECT
public:
    MqttBridge(const MqttEndpoint &endpoint, const QString &bridgeId, const QStringList &ids, QObject *parent = nullptr);
    bool start(QString *error) { return m_link.start(error); }
    void stop();

signals:
    void logLine(const QString &text);

private:
    void onMessage(const QString &topic, const QByteArray &payload);

    QString m_bridgeId;
    QStringList m_ids;
    MqttLink m_link;
};

} // namespace bridge
