#include "WebSession.h"

#include "ProjectorState.h"
#include "QueueLink.h"
#include "WebRequests.h"
#include "exchange/ExchangeEngine.h"
#include "keys/CommandLookup.h"

#include <QJsonDocument>
#include <QWebSocket>

namespace bridge {

WebSession::WebSession(std::unique_ptr<QWebSocket> socket, ProjectorQueue *queue, std::vector<Shown> shown, bool sendAllowed,
                       QObject *parent)
    : QObject(parent), m_socket(std::move(socket)), m_shown(std::move(shown)), m_sendAllowed(sendAllowed)
{
    m_socket->setMaxAllowedIncomingMessageSize(kMaxMessage);
    m_socket->setMaxAllowedIncomingFrameSize(kMaxMessage);
    connect(m_socket.get(), &QWebSocket::textMessageReceived, this, &WebSession::onMessage);
    connect(m_socket.get(), &QWebSocket::binaryMessageReceived, this, [this] { emit trouble(QStringLiteral("a binary message")); });
    connect(m_socket.get(), &QWebSocket::disconnected, this, &QObject::deleteLater);
    m_holdLapse.setSingleShot(true);
    m_holdLapse.setTimerType(Qt::PreciseTimer);
    m_holdLapse.setInterval(kHoldLapseMs);
    connect(&m_holdLapse, &QTimer::timeout, this, &WebSession::release);
    // A page whose device left the network without a word: closed when it does not
    // answer a ping.
    m_ping.setTimerType(Qt::PreciseTimer);
    m_ping.setInterval(kPingMs);
    connect(&m_ping, &QTimer::timeout, this, [this] {
        if (std::exchange(m_pinged, true))
            return m_socket->abort();
        m_socket->ping();
    });
    connect(m_socket.get(), &QWebSocket::pong, this, [this] { m_pinged = false; });
    m_ping.start();
    if (queue) {
        m_link = std::make_unique<QueueLink>(*queue);
        m_engine = std::make_unique<ExchangeEngine>(*m_link);
        m_engine->startOnce(QString::fromLatin1(ExchangeEngine::kStartSettings));
        connect(m_engine.get(), &ExchangeEngine::lineChanged, this, [this](ExchangeEngine::Line line, const QString &text) {
            static const char *const kNames[] = {"txd", "rxd", "status"};
            say({{"line", QLatin1String(kNames[int(line)])}, {"text", text}});
        });
    }
    for (const Shown &one : m_shown) {
        const auto tell = [this, one](QJsonObject state) {
            state.insert(QStringLiteral("id"), one.id);
            state.insert(QStringLiteral("name"), one.name);
            say({{"state", state}});
        };
        connect(one.state, &ProjectorState::changed, this, tell);
        one.state->watch();
        tell(one.state->json());
    }
}

WebSession::~WebSession()
{
    release();
    for (const Shown &one : m_shown)
        one.state->unwatch();
}

void WebSession::say(const QJsonObject &message)
{
    // A page that takes nothing is not written to without end.
    if (m_socket->bytesToWrite() > kMaxUnsent) {
        emit trouble(QStringLiteral("a page that does not read what it is sent: closed"));
        m_socket->abort();
        return;
    }
    m_socket->sendTextMessage(QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
}

void WebSession::release()
{
    m_holdLapse.stop();
    if (!m_held)
        return;
    m_engine->release(*std::exchange(m_held, nullptr));
    m_link->dropWaiting();
}

void WebSession::onMessage(const QString &text)
{
    using Kind = web::Message::Kind;
    const web::Message m = web::readMessage(text.toUtf8());
    const keys::Command *row = keys::findByControl(m.value);
    const bool key = row && row->repeats();
    if (!m_engine) {
        emit trouble(QStringLiteral("a message to the index"));
    } else if (m.kind == Kind::Click) {
        if (!row || !m_engine->click(*row))
            emit trouble(QStringLiteral("a click on no command's control"));
    } else if (m.kind == Kind::Press && key) {
        release();
        m_held = row;
        m_engine->press(*row);
        m_holdLapse.start();
    } else if (m.kind == Kind::Held || m.kind == Kind::Release) {
        // A late "held", after its key's release, is no trouble.
        if (m.kind == Kind::Release)
            release();
        else if (m_held && row == m_held)
            m_holdLapse.start();
    } else if (m.kind == Kind::Send && m_sendAllowed) {
        m_engine->send(m.value);
    } else {
        emit trouble(m.kind == Kind::Send ? QStringLiteral("a typed command (web-send is off)")
                                          : QStringLiteral("a message that is none of the page's"));
    }
}

} // namespace bridge
