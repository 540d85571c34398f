#include "Bridge.h"

#include "HttpServer.h"
#include "Mqtt.h"
#include "Projector.h"
#include "exchange/ExchangeLog.h"

#include "Version.h"

#include <QDateTime>
#include <QFile>
#include <QHostAddress>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <optional>

namespace bridge {
namespace {

// HTTPS's certificate (with the chain after it) and key, from PEM files.
std::optional<QSslConfiguration> tlsFrom(const QString &certFile, const QString &keyFile, QString &error)
{
    QFile cert(certFile), key(keyFile);
    if (!cert.open(QIODevice::ReadOnly) || !key.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("HTTP: cannot read %1: %2").arg(cert.isOpen() ? keyFile : certFile, cert.isOpen() ? key.errorString() : cert.errorString());
        return std::nullopt;
    }
    const QList<QSslCertificate> chain = QSslCertificate::fromData(cert.readAll(), QSsl::Pem);
    const QByteArray pem = key.readAll();
    QSslKey privateKey(pem, QSsl::Rsa);
    if (privateKey.isNull())
        privateKey = QSslKey(pem, QSsl::Ec);
    if (chain.isEmpty() || privateKey.isNull()) {
        error = QStringLiteral("HTTP: %1 holds no PEM %2").arg(chain.isEmpty() ? certFile : keyFile,
                                                               chain.isEmpty() ? QStringLiteral("certificate") : QStringLiteral("RSA or EC key without a pass phrase"));
        return std::nullopt;
    }
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificateChain(chain);
    tls.setPrivateKey(privateKey);
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    return tls;
}

} // namespace

Bridge::Bridge(BridgeSettings settings, QObject *parent)
    : QObject(parent), m_settings(std::move(settings)), m_startedMs(QDateTime::currentMSecsSinceEpoch())
{
    if (const auto url = mqtt::parseUrl(m_settings.mqtt.url))
        m_broker = {url->host, url->port, url->tls, m_settings.mqtt.caFile, m_settings.mqtt.user, {}};
}

Bridge::~Bridge() = default;

QByteArray Bridge::passwordFrom(const QString &path, QString &error)
{
    QByteArray password;
    if (path.isEmpty() || !(error = bridge::readPassword(path, password)).isEmpty())
        return password;
    if (const QString warning = passwordFileWarning(path); !warning.isEmpty() && !m_warned.contains(path)) {
        m_warned << path;
        emit logLine(warning);
    }
    return password;
}

QString Bridge::readPasswords()
{
    QString error;
    if (!m_broker.host.isEmpty())
        m_broker.password = passwordFrom(m_settings.mqtt.passwordFile, error);
    if (error.isEmpty())
        m_httpPassword = passwordFrom(m_settings.httpPasswordFile, error);
    for (auto one = m_settings.projectors.cbegin(); error.isEmpty() && one != m_settings.projectors.cend(); ++one)
        m_passwords.push_back(passwordFrom(one->passwordFile, error));
    return error;
}

int Bridge::start()
{
    if (!m_settings.log.isEmpty()) {
        m_exchangeLog = std::make_unique<ExchangeLog>();
        QString error;
        if (!m_exchangeLog->open(m_settings.log, &error)) {
            emit logLine(error);
            return kNoLog;
        }
        connect(m_exchangeLog.get(), &ExchangeLog::stopped, this, &Bridge::logLine);
    }

    const QHostAddress address(m_settings.listen);
    for (std::size_t i = 0; i < m_settings.projectors.size(); ++i) {
        const ProjectorSettings &one = m_settings.projectors[i];
        auto &projector = *m_projectors.emplace_back(std::make_unique<Projector>(one, m_passwords.at(i), m_exchangeLog.get()));
        connect(&projector, &Projector::logLine, this, &Bridge::logLine);
        projector.setMaxConnections(m_settings.maxConnections);
        if (!projector.listen(address))
            return kCannotServe;
        if (!m_broker.host.isEmpty()) {
            // Home Assistant's device: the projector's name where one was given, else its id.
            const QString shown = !one.name.isEmpty() && one.name != ProjectorSettings().name ? one.name : one.id;
            projector.serveMqtt(m_broker, {m_settings.mqtt.bridgeId, one.id, shown, m_settings.mqtt.pollSeconds * 1000,
                                           m_settings.mqtt.allowSend});
        }
    }
    if (m_settings.http != 0) {
        m_http = std::make_unique<HttpServer>(m_httpPassword);
        connect(m_http.get(), &HttpServer::logLine, this, &Bridge::logLine);
        m_http->setMaxConnections(m_settings.maxConnections);
        m_http->setSendAllowed(m_settings.webSend);
        m_http->setMetrics([this] { return metricsText(); }, m_settings.metricsPublic);
        if (!m_settings.httpCert.isEmpty()) {
            QString error;
            const std::optional<QSslConfiguration> tls = tlsFrom(m_settings.httpCert, m_settings.httpKey, error);
            if (!tls) {
                emit logLine(error);
                return kCannotServe;
            }
            m_http->setTls(*tls);
        }
        for (auto &projector : m_projectors) {
            projector->state().setPollInterval(m_settings.mqtt.pollSeconds * 1000);
            m_http->addProjector(projector->settings().id, projector->settings().name, projector->queue(), projector->state());
        }
        if (!m_http->listen(address, quint16(m_settings.http))) {
            emit logLine(QStringLiteral("HTTP: cannot listen on %1 port %2: %3").arg(m_settings.listen).arg(m_settings.http).arg(m_http->errorString()));
            return kCannotServe;
        }
        emit logLine(QStringLiteral("HTTP%1 on %2 port %3").arg(m_settings.httpCert.isEmpty() ? QString() : QStringLiteral("S"), m_settings.listen).arg(m_http->port()));
    }
    if (!m_broker.host.isEmpty()) {
        QStringList ids;
        for (const ProjectorSettings &one : m_settings.projectors)
            ids << one.id;
        m_onBroker = std::make_unique<MqttBridge>(m_broker, m_settings.mqtt.bridgeId, ids);
        connect(m_onBroker.get(), &MqttBridge::logLine, this, &Bridge::logLine);
        if (QString error; !m_onBroker->start(&error)) {
            emit logLine(QStringLiteral("MQTT: %1").arg(error));
            return kCannotServe;
        }
        emit logLine(QStringLiteral("MQTT: to %1 as %2").arg(m_settings.mqtt.url, m_settings.mqtt.bridgeId));
    }
    for (auto &projector : m_projectors) {
        if (!projector->start())
            return kCannotServe;
        // /metrics tells the state as the bridge's own polls last read it: a
        // scrape asks nothing.
        if (m_http)
            projector->state().watch();
    }
    return 0;
}

QByteArray Bridge::metricsText() const
{
    metrics::BridgeFacts facts;
    facts.version = QStringLiteral(ORVA_VERSION);
    facts.startedMs = m_startedMs;
    facts.httpClients = m_http->httpConnections();
    facts.webSockets = m_http->webSockets();
    for (const auto &projector : m_projectors)
        facts.projectors.push_back(projector->facts());
    return metrics::text(facts);
}

void Bridge::stop()
{
    for (auto &projector : m_projectors)
        projector->stop(QStringLiteral("the bridge is ending"));
    if (m_onBroker)
        m_onBroker->stop();
}

} // namespace bridge
