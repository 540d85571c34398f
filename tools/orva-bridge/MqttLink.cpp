#include "MqttLink.h"

#include <QMetaObject>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <mosquitto.h>
#include <mutex>
#include <utility>

namespace bridge {

namespace {

void initLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

} // namespace

MqttLink::MqttLink(const MqttEndpoint &endpoint, const QString &clientId, const QString &willTopic,
                   const QByteArray &willPayload, const QStringList &filters, QObject *parent)
    : QObject(parent), m_endpoint(endpoint), m_willTopic(willTopic.toUtf8()), m_willPayload(willPayload)
{
    initLibrary();
    m_retry.setSingleShot(true);
    m_retry.setTimerType(Qt::PreciseTimer);
    connect(&m_retry, &QTimer::timeout, this, &MqttLink::attempt);
    for (const QString &filter : filters)
        m_filters << filter.toUtf8();
    // A clean session: nothing the broker kept of an earlier connection (a command
    // sent while the bridge was away) is delivered.
    m_mosq = mosquitto_new(clientId.toUtf8().constData(), true, this);
    if (!m_mosq)
        return;
    mosquitto_connect_callback_set(m_mosq, &MqttLink::onConnect);
    mosquitto_disconnect_callback_set(m_mosq, &MqttLink::onDisconnect);
    mosquitto_message_callback_set(m_mosq, &MqttLink::onMessage);
    mosquitto_log_callback_set(m_mosq, &MqttLink::onLog);
    mosquitto_reconnect_delay_set(m_mosq, kFirstRetrySeconds, kLastRetrySeconds, true);
    // Small messages go out at once: Nagle's algorithm would hold a command's reply or
    // state behind the one before until the broker acknowledges it (some 40 ms).
    mosquitto_int_option(m_mosq, MOSQ_OPT_TCP_NODELAY, 1);
}

MqttLink::~MqttLink()
{
    stop();
    if (m_mosq)
        mosquitto_destroy(m_mosq);
}

bool MqttLink::start(QString *error)
{
    const auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (!m_mosq)
        return fail(QStringLiteral("the MQTT library cannot make a client"));
    if (!m_willTopic.isEmpty()
        && mosquitto_will_set(m_mosq, m_willTopic.constData(), int(m_willPayload.size()), m_willPayload.constData(), 1, true)
               != MOSQ_ERR_SUCCESS)
        return fail(QStringLiteral("the broker's last will cannot be set"));
    if (!m_endpoint.user.isEmpty()
        && mosquitto_username_pw_set(m_mosq, m_endpoint.user.toUtf8().constData(),
                                     m_endpoint.password.isEmpty() ? nullptr : m_endpoint.password.constData())
               != MOSQ_ERR_SUCCESS)
        return fail(QStringLiteral("the MQTT user name cannot be set"));
    if (m_endpoint.tls) {
        int rc = MOSQ_ERR_SUCCESS;
        if (m_endpoint.caFile.isEmpty())
            rc = mosquitto_int_option(m_mosq, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        else
            rc = mosquitto_tls_set(m_mosq, m_endpoint.caFile.toLocal8Bit().constData(), nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS)
            return fail(QStringLiteral("TLS cannot be set up: %1").arg(QString::fromUtf8(mosquitto_strerror(rc))));
    }
    // A broker that is not there yet is no error: it is tried again.
    m_running = true;
    attempt();
    return true;
}

void MqttLink::attempt()
{
    m_attempt.reset(QThread::create([this, host = m_endpoint.host.toUtf8()] {
        const int rc = mosquitto_connect_async(m_mosq, host.constData(), m_endpoint.port, kKeepAliveSeconds);
        const QString why = rc == MOSQ_ERR_ERRNO ? qt_error_string(errno) : QString::fromUtf8(mosquitto_strerror(rc));
        QMetaObject::invokeMethod(this, [this, rc, why] { attempted(rc == MOSQ_ERR_SUCCESS, why); }, Qt::QueuedConnection);
    }));
    m_attempt->start();
}

void MqttLink::attempted(bool underWay, const QString &why)
{
    if (!m_running)
        return;
    m_attempt->wait();
    m_attempt.reset();
    if (underWay && mosquitto_loop_start(m_mosq) == MOSQ_ERR_SUCCESS) {
        m_looping = true;
        return;
    }
    emit disconnected(underWay ? QStringLiteral("the MQTT connection's thread cannot start") : why);
    m_retry.start(std::chrono::seconds(m_retrySeconds));
    m_retrySeconds = std::min(m_retrySeconds * 2, kLastRetrySeconds);
}

void MqttLink::stop()
{
    if (!m_running)
        return;
    m_running = false;
    m_connected = false;
    m_retry.stop();
    if (m_attempt)
        m_attempt->wait();
    m_attempt.reset();
    if (!std::exchange(m_looping, false))
        return;
    // The library writes what is queued (the last publications) before the
    // DISCONNECT, and its thread ends once that is out or the connection is gone.
    mosquitto_disconnect(m_mosq);
    mosquitto_loop_stop(m_mosq, false);
}

void MqttLink::publish(const QString &topic, const QByteArray &payload, bool retain)
{
    if (!m_connected)
        return;
    mosquitto_publish(m_mosq, nullptr, topic.toUtf8().constData(), int(payload.size()), payload.constData(), 0, retain);
}

// --- the library's thread ---

void MqttLink::onConnect(mosquitto *mosq, void *self, int rc)
{
    auto *link = static_cast<MqttLink *>(self);
    if (rc != 0) {
        const QString why = QString::fromUtf8(mosquitto_connack_string(rc));
        QMetaObject::invokeMethod(link, [link, why] { emit link->disconnected(why); }, Qt::QueuedConnection);
        return;
    }
    // Subscribed before anything is published on this connection, so a retained
    // message on a filter arrives before the bridge's own on the same topic.
    for (const QByteArray &filter : link->m_filters)
        mosquitto_subscribe(mosq, nullptr, filter.constData(), 0);
    QMetaObject::invokeMethod(link, [link] {
        if (!link->m_running)
            return;
        link->m_connected = true;
        emit link->connected();
    }, Qt::QueuedConnection);
}

void MqttLink::onDisconnect(mosquitto *, void *self, int rc)
{
    auto *link = static_cast<MqttLink *>(self);
    const QString why = rc == 0 ? QString() : QString::fromUtf8(mosquitto_strerror(rc));
    QMetaObject::invokeMethod(link, [link, why] {
        const bool was = link->m_connected;
        link->m_connected = false;
        if (was || !why.isEmpty())
            emit link->disconnected(why);
    }, Qt::QueuedConnection);
}

// The library reports a failed TLS handshake (a certificate from another CA, a
// host name that does not match) only in its log.
void MqttLink::onLog(mosquitto *, void *self, int level, const char *text)
{
    if (level != MOSQ_LOG_ERR)
        return;
    auto *link = static_cast<MqttLink *>(self);
    const QString why = QString::fromUtf8(text);
    QMetaObject::invokeMethod(link, [link, why] { emit link->disconnected(why); }, Qt::QueuedConnection);
}

void MqttLink::onMessage(mosquitto *, void *self, const mosquitto_message *message)
{
    auto *link = static_cast<MqttLink *>(self);
    const QString topic = QString::fromUtf8(message->topic);
    const QByteArray payload(static_cast<const char *>(message->payload), message->payloadlen);
    const bool retained = message->retain;
    QMetaObject::invokeMethod(link, [link, topic, payload, retained] { emit link->message(topic, payload, retained); },
                              Qt::QueuedConnection);
}

} // namespace bridge
