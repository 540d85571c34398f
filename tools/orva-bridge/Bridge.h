#pragma once
// The service: its projectors with their listeners (PJLink, the raw port), the
// HTTP API, the MQTT broker and the exchange log they share, started and stopped together.

#include "Config.h"
#include "MqttLink.h"

#include <QObject>
#include <QStringList>
#include <memory>
#include <vector>

class ExchangeLog;

namespace bridge {

class HttpServer;
class MqttBridge;
class Projector;

class Bridge final : public QObject {
    Q_OBJECT
public:
    // What start() ends the program with when something cannot be opened.
    static constexpr int kNoLog = 3;
    static constexpr int kCannotServe = 1;

    // `settings` checked already (checkSettings).
    explicit Bridge(BridgeSettings settings, QObject *parent = nullptr);
    ~Bridge() override;

    // The password files read (the broker's, then each projector's), with a warning
    // once for each that others can read; empty, or why one cannot be read.
    QString readPasswords();
    // The exchange log opened, each projector listening, the broker connected and
    // the projectors' ports opened: 0, or the status to end with (kNoLog,
    // kCannotServe), what went wrong logged.
    int start();
    // The service ends: every waiting command answered with an error, the ports
    // closed, off the broker.
    void stop();

signals:
    // A line for the service's log.
    void logLine(const QString &text);

private:
    QByteArray passwordFrom(const QString &path, QString &error);
    QByteArray metricsText() const;

    BridgeSettings m_settings;
    qint64 m_startedMs;  // since the epoch
    MqttEndpoint m_broker;  // no host: no MQTT
    std::vector<QByteArray> m_passwords;  // each projector's
    QStringList m_warned;  // the password files warned of
    std::unique_ptr<ExchangeLog> m_exchangeLog;  // before the projectors that write it, so gone after them
    std::vector<std::unique_ptr<Projector>> m_projectors;
    std::unique_ptr<MqttBridge> m_onBroker;
    QByteArray m_httpPassword;
    std::unique_ptr<HttpServer> m_http;  // after the projectors it serves, so gone before them
};

} // namespace bridge
