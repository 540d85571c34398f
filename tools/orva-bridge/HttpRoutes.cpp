// The bridge's HTTP routes: the pages, their assets and WebSockets, and the JSON API.

#include "HttpServer.h"

#include "Metrics.h"
#include "ProjectorQueue.h"
#include "ProjectorState.h"
#include "WebPage.h"
#include "WebRequests.h"
#include "WebSession.h"
#include "exchange/ReadingJson.h"
#include "exchange/TraceRule.h"
#include "keys/CommandLookup.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QWebSocket>
#include <algorithm>
#include <memory>

namespace bridge {
namespace {

// What a client can do about a command that was not answered: wait and try again
// (the port is closed, the bridge is busy or ending), or not (no reply came, or one
// that does not fit).
QHttpServerResponder::StatusCode failureStatus(const Reply &reply)
{
    using Status = QHttpServerResponder::StatusCode;
    if (reply.error.startsWith(u"no reply"))
        return Status::GatewayTimeout;
    if (reply.error.contains(u"reply"))
        return Status::BadGateway;
    return Status::ServiceUnavailable;
}

QByteArray resource(const char *name)
{
    QFile file(QStringLiteral(":/web/") + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The pages' files: from the program's resources, or made from the window's tables.
struct Asset {
    const char *path;
    const char *type;
    QByteArray (*body)();  // null: the resource of that name
    bool open;             // served without a login (the login form's)
};
const Asset kAssets[] = {
    {"app.css", "text/css; charset=utf-8", nullptr, true},
    {"panel.css", "text/css; charset=utf-8", web::panelStyle, false},
    {"panel.js", "text/javascript; charset=utf-8", nullptr, false},
    {"index.js", "text/javascript; charset=utf-8", nullptr, false},
    {"wordmark.png", "image/png", nullptr, false},
};

} // namespace

void HttpServer::takeWebSockets()
{
    while (hasPendingWebSocketConnections()) {
        std::unique_ptr<QWebSocket> socket = nextPendingWebSocketConnection();
        const QStringList path = socket->requestUrl().path(QUrl::FullyEncoded).mid(1).split(u'/');
        const Served *p = path.size() == 3 ? find(path[1]) : nullptr;
        std::vector<Shown> shown;
        for (const Served &one : m_served)
            if (!p || &one == p)
                shown.push_back({one.id, one.name, one.state});
        auto *session = new WebSession(std::move(socket), p ? p->queue : nullptr, std::move(shown), m_sendAllowed, this);
        connect(session, &WebSession::trouble, this, [this](const QString &what) {
            if (!m_told.contains(what)) {
                m_told << what;
                emit logLine(QStringLiteral("HTTP: %1 from a page: ignored").arg(what));
            }
        });
    }
}

int HttpServer::webSockets() const
{
    return int(findChildren<WebSession *>(Qt::FindDirectChildrenOnly).size());
}

void HttpServer::serve(const Asked &asked, QPointer<QTcpSocket> socket, QHttpServerResponder &responder, bool loggedIn)
{
    const QStringList &path = asked.path;
    const bool get = asked.method == QHttpServerRequest::Method::Get;
    if (!get && !originAllowed(asked))
        return answerError(socket, responder, Status::Forbidden, QStringLiteral("a request from another site's page is refused"));
    // What the login form needs comes without a login.
    if (get && path == QStringList{QStringLiteral("login")})
        return answer(socket, responder, Status::Ok, "text/html; charset=utf-8", web::loginPage(false));
    if (const auto asset = std::find_if(std::begin(kAssets), std::end(kAssets), [&](const Asset &a) { return path == QStringList{QLatin1String(a.path)}; });
        get && asset != std::end(kAssets) && (loggedIn || asset->open))
        return answer(socket, responder, Status::Ok, asset->type, asset->body ? asset->body() : resource(asset->path));
    if (path == QStringList{QStringLiteral("metrics")} && m_metrics && (loggedIn || m_metricsOpen)) {
        if (!get)
            return answer(socket, responder, Status::MethodNotAllowed, "application/json", R"({"error":"this is read with GET"})",
                          {{"Allow", "GET"}});
        return answer(socket, responder, Status::Ok, metrics::kContentType, m_metrics());
    }
    if (!loggedIn) {
        if (get && path.value(0) != u"api" && path.value(0) != u"metrics")
            return answer(socket, responder, Status::SeeOther, "text/plain", QByteArray(), {{"Location", "/login"}});
        return answerError(socket, responder, Status::Unauthorized, QStringLiteral("the bridge asks for its password"));
    }
    if (path.value(0) == u"api")
        return api(asked, socket, responder);
    const Served *p = path.size() == 3 && path[0] == u"p" && path[2].isEmpty() ? find(path[1]) : nullptr;
    if (get && (path == QStringList{QString()} || p)) {
        std::vector<web::Listed> listed;
        for (const Served &one : m_served)
            listed.push_back({one.id, one.name});
        return answer(socket, responder, Status::Ok, "text/html; charset=utf-8",
                      p ? web::projectorPage({p->id, p->name}, m_sendAllowed) : web::indexPage(listed));
    }
    if (path == QStringList{QString()} || p || path == QStringList{QStringLiteral("login")})
        return answer(socket, responder, Status::MethodNotAllowed, "application/json", R"({"error":"a page is read with GET"})",
                      {{"Allow", path.value(0) == u"login" ? "GET, POST" : "GET"}});
    answerError(socket, responder, Status::NotFound, QStringLiteral("no such page"));
}

// GET /api/projectors, GET /api/projectors/<id>, POST /api/projectors/<id>/commands/<name>.
void HttpServer::api(const Asked &asked, QPointer<QTcpSocket> socket, QHttpServerResponder &responder)
{
    const auto method = asked.method;
    const web::ApiTarget target = web::apiTarget(asked.path);
    const Served *p = find(target.id);
    if (target.kind == web::ApiTarget::Kind::None)
        return answerError(socket, responder, Status::NotFound, QStringLiteral("no such resource"));
    if (target.kind != web::ApiTarget::Kind::List && !p)
        return answerError(socket, responder, Status::NotFound, QStringLiteral("no projector %1").arg(target.id));
    if (target.kind == web::ApiTarget::Kind::Command) {
        if (method != QHttpServerRequest::Method::Post)
            return answer(socket, responder, Status::MethodNotAllowed, "application/json",
                          R"({"error":"a command is sent with POST"})", {{"Allow", "POST"}});
        return command(*p, target.command, socket, std::move(responder));
    }
    if (method != QHttpServerRequest::Method::Get)
        return answer(socket, responder, Status::MethodNotAllowed, "application/json", R"({"error":"this is read with GET"})",
                      {{"Allow", "GET"}});
    if (m_served.empty())
        return answer(socket, responder, Status::Ok, "application/json", "[]");
    auto shared = std::make_shared<QHttpServerResponder>(std::move(responder));
    const auto describe = [](const Served &one) {
        QJsonObject o = one.state->json();
        o.insert(QStringLiteral("id"), one.id);
        o.insert(QStringLiteral("name"), one.name);
        return o;
    };
    // The state asked of each projector that is not fresh, and answered when all are.
    std::vector<const Served *> asked1 = p ? std::vector<const Served *>{p} : std::vector<const Served *>{};
    if (!p)
        for (const Served &one : m_served)
            asked1.push_back(&one);
    auto left = std::make_shared<int>(int(asked1.size()));
    const bool one = p != nullptr;
    for (const Served *s : asked1)
        s->state->whenFresh(kFreshMs, [this, left, shared, socket, one, s, describe] {
            if (--*left > 0 || !socket || socket->state() != QAbstractSocket::ConnectedState)
                return;
            if (one)
                return answerJson(socket, *shared, Status::Ok, describe(*s));
            QJsonArray all;
            for (const Served &x : m_served)
                all.append(describe(x));
            answer(socket, *shared, Status::Ok, "application/json", QJsonDocument(all).toJson(QJsonDocument::Compact));
        });
}

void HttpServer::command(const Served &p, const QString &name, QPointer<QTcpSocket> socket, QHttpServerResponder responder)
{
    const keys::Command *row = keys::findCommand(name);
    if (!row)
        return answerError(socket, responder, Status::NotFound, QStringLiteral("no command %1 (orva-ctl list names them)").arg(name));
    // A repeat key is tapped: its code once.
    const QString code = keys::qText(row->code);
    const QString text = row->repeats() ? code : QString();
    // One address has at most kClientShare commands waiting, however many
    // connections it opens: each holds a count that goes when its command is done
    // or dropped.
    const QHostAddress from = socket->peerAddress();
    if (m_commandsFrom.value(from) >= ProjectorQueue::kClientShare)
        return answer(socket, responder, Status::ServiceUnavailable, "application/json",
                      R"({"error":"too many commands from this address wait for the projector"})", {{"Retry-After", "1"}});
    ++m_commandsFrom[from];
    const std::shared_ptr<void> counted(nullptr, [this, from](void *) {
        if (const auto n = m_commandsFrom.find(from); n != m_commandsFrom.end() && --*n <= 0)
            m_commandsFrom.erase(n);
    });
    auto shared = std::make_shared<QHttpServerResponder>(std::move(responder));
    const bool queued = p.queue->enqueue(ClientId(socket.data()), row->repeats() ? QString() : name, text,
                                         [this, socket, shared, name, code, counted](const Reply &reply) {
        if (!socket || socket->state() != QAbstractSocket::ConnectedState)
            return;
        if (!reply.answered)
            return answerError(socket, *shared, failureStatus(reply), reply.error);
        const decoding::Result decoded = decoding::decode(code + u'\r', QString(), reply.text, traceText(reply.text));
        const std::optional<QString> status = decoded.status ? std::optional<QString>(decoded.status->trimmed()) : std::nullopt;
        QJsonObject o{{"command", name},
                      {"sent", code + u'\r'},
                      {"reply", reply.text},
                      {"status", status ? QJsonValue(*status) : QJsonValue(QJsonValue::Null)},
                      {"ok", bool(status) || reply.text.contains(QChar(0x06))}};
        decoding::addReading(o, decoded.reading);
        answerJson(socket, *shared, Status::Ok, o);
    });
    if (!queued)
        answer(socket, *shared, Status::ServiceUnavailable, "application/json",
               R"({"error":"too many commands wait for the projector"})", {{"Retry-After", "1"}});
}

void HttpServer::answerJson(QTcpSocket *socket, QHttpServerResponder &responder, Status status, const QJsonObject &o)
{
    answer(socket, responder, status, "application/json", QJsonDocument(o).toJson(QJsonDocument::Compact));
}

void HttpServer::answerError(QTcpSocket *socket, QHttpServerResponder &responder, Status status, const QString &why)
{
    std::vector<std::pair<QByteArray, QByteArray>> extra;
    if (status == Status::Unauthorized)
        extra.emplace_back("WWW-Authenticate", R"(Basic realm="orva-bridge", charset="UTF-8")");
    answer(socket, responder, status, "application/json", QJsonDocument(QJsonObject{{"error", why}}).toJson(QJsonDocument::Compact), extra);
}

void HttpServer::answer(QTcpSocket *socket, QHttpServerResponder &responder, Status status, const QByteArray &type,
                        const QByteArray &body, const std::vector<std::pair<QByteArray, QByteArray>> &extra)
{
    if (!socket || socket->state() != QAbstractSocket::ConnectedState)
        return;
    responder.writeStatusLine(status);
    responder.writeHeader("Content-Type", type);
    responder.writeHeader("Content-Length", QByteArray::number(body.size()));
    for (const QByteArray &line : kSecurityHeaders.split('\n')) {
        if (const qsizetype colon = line.indexOf(':'); colon > 0)
            responder.writeHeader(line.left(colon), line.mid(colon + 2).trimmed());
    }
    for (const auto &[name, value] : extra)
        responder.writeHeader(name, value);
    responder.writeBody(body);
    const auto c = m_connections.find(socket);
    if (c == m_connections.end())
        return;
    c->busy = false;
    if (c->closeAfter)
        socket->disconnectFromHost();
    else
        c->timeout->start(m_requestTimeoutMs);
}

} // namespace bridge
