#include "HttpServer.h"

#include "ProjectorQueue.h"
#include "ProjectorState.h"
#include "exchange/ReadingJson.h"
#include "exchange/TraceRule.h"
#include "keys/CommandLookup.h"

#include <QCryptographicHash>
#include <QHttpServerRequest>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

namespace bridge {

// Qt HTTP Server takes its connections from a listening QTcpServer, through its
// pending connections; the listener hands them over once it has admitted them.
// This server's own socket is none that clients reach (a local socket with no
// name): its accepting, which taking a pending connection turns on again, must
// not take the listener's connections beside it.
class HttpServer::Handoff final : public QTcpServer {
public:
    explicit Handoff(QObject *parent) : QTcpServer(parent)
    {
        const int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        const sockaddr unnamed{AF_UNIX, {}};  // the kernel names it (an abstract address)
        if (descriptor < 0 || ::bind(descriptor, &unnamed, sizeof(sa_family_t)) != 0 || ::listen(descriptor, 1) != 0
            || !setSocketDescriptor(descriptor))
            qFatal("HTTP: no local socket for the hand-over: %s", strerror(errno));
    }
    void hand(QTcpSocket *socket) { addPendingConnection(socket); }

protected:
    void incomingConnection(qintptr descriptor) override { ::close(int(descriptor)); }
};

namespace {

constexpr QByteArrayView kHeadEnd = "\r\n\r\n";

// A text compared without telling by its time where it first differs.
bool sameSecret(const QByteArray &a, const QByteArray &b)
{
    const QByteArray ha = QCryptographicHash::hash(a, QCryptographicHash::Sha256);
    const QByteArray hb = QCryptographicHash::hash(b, QCryptographicHash::Sha256);
    unsigned char differ = 0;
    for (qsizetype i = 0; i < ha.size(); ++i)
        differ |= static_cast<unsigned char>(ha[i] ^ hb[i]);
    return differ == 0;
}

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

} // namespace

HttpServer::HttpServer(const QByteArray &password, QObject *parent)
    : QAbstractHttpServer(parent), m_password(password), m_handoff(new Handoff(this)), m_listener("HTTP")
{
    connect(&m_listener, &Listener::admitted, this, &HttpServer::admit);
    connect(&m_listener, &Listener::logLine, this, &HttpServer::logLine);
    // Qt HTTP Server warns of each upgrade refused; they are answered 404.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.httpserver.warning=false"));
}

HttpServer::~HttpServer() = default;

void HttpServer::addProjector(const QString &id, const QString &name, ProjectorQueue &queue, ProjectorState &state)
{
    m_served.push_back({id, name, &queue, &state});
}

bool HttpServer::listen(const QHostAddress &address, quint16 port)
{
    if (!m_listener.listen(address, port))
        return false;
    m_address = address;
    bind(m_handoff);
    return true;
}

void HttpServer::admit(QTcpSocket *socket)
{
    Connection &c = m_connections[socket];
    c.timeout = new QTimer(socket);
    c.timeout->setSingleShot(true);
    c.timeout->setTimerType(Qt::PreciseTimer);
    connect(c.timeout, &QTimer::timeout, this, [this, socket] { onTimeout(socket); });
    c.timeout->start(m_requestTimeoutMs);
    connect(socket, &QObject::destroyed, this, [this, socket] { m_connections.remove(socket); });
    // Counted before Qt HTTP Server's parser reads, and what it left after.
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onBytes(socket); });
    m_handoff->hand(socket);
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
        if (const auto c = m_connections.find(socket); c != m_connections.end())
            c->buffered = socket->bytesAvailable();
    });
}

// The parser keeps whatever a request brings: a request longer than kMaxRequest is
// answered here, before it reads on.
void HttpServer::onBytes(QTcpSocket *socket)
{
    const auto found = m_connections.find(socket);
    if (found == m_connections.end() || found->refused)
        return;
    Connection &c = *found;
    const QByteArray fresh = socket->peek(socket->bytesAvailable()).mid(c.buffered);
    const qint64 before = c.brought;
    c.brought += fresh.size();
    if (c.headLength < 0) {
        const QByteArray seen = c.tail + fresh;
        if (const qsizetype end = seen.indexOf(kHeadEnd); end >= 0)
            c.headLength = before - c.tail.size() + end + kHeadEnd.size();
        else
            c.tail = seen.right(kHeadEnd.size() - 1);
    }
    if (c.brought > kMaxRequest)
        refuse(socket, c, c.headLength >= 0 && c.headLength <= kMaxRequest ? Status::PayloadTooLarge : Status::RequestHeaderFieldsTooLarge);
}

void HttpServer::onTimeout(QTcpSocket *socket)
{
    const auto c = m_connections.find(socket);
    if (c == m_connections.end())
        return;
    if (c->brought == 0)
        return socket->disconnectFromHost();
    refuse(socket, *c, Status::RequestTimeout);
}

// Answered without the parser, which may hold half a request: a fixed text, and the
// connection closed.
void HttpServer::refuse(QTcpSocket *socket, Connection &c, Status status)
{
    c.refused = true;
    c.timeout->stop();
    const char *reason = status == Status::RequestTimeout ? "Request Timeout"
                         : status == Status::PayloadTooLarge ? "Content Too Large"
                                                              : "Request Header Fields Too Large";
    socket->write(QByteArray("HTTP/1.1 ") + QByteArray::number(int(status)) + ' ' + reason
                  + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    socket->disconnectFromHost();
}

bool HttpServer::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket)
{
    const auto found = m_connections.find(socket);
    if (found == m_connections.end() || found->refused)
        return true;
    // No WebSocket here: an upgrade is handed to the missing handler, which refuses it.
    if (!request.value("upgrade").isEmpty())
        return false;
    Connection &c = *found;
    c.timeout->stop();
    c.brought = 0;
    c.headLength = -1;
    c.tail.clear();
    const QByteArray path = request.url().path(QUrl::FullyEncoded).toLatin1();
    c.closeAfter = request.value("connection").compare("close", Qt::CaseInsensitive) == 0;
    const Asked asked{request.method(), QString::fromLatin1(path.mid(1)).split(u'/'), request.value("origin"), request.value("host")};
    auto responder = std::make_shared<QHttpServerResponder>(makeResponder(request, socket));
    const QHostAddress from = socket->peerAddress();
    const bool right = m_password.isEmpty() || passwordGiven(request.value("authorization"));
    const int wait = m_password.isEmpty() ? 0 : m_guessers.waitMs(from);
    if (right && wait == 0) {
        serve(asked, socket, *responder);
        return true;
    }
    if (request.value("authorization").isEmpty()) {
        answerError(socket, *responder, Status::Unauthorized, QStringLiteral("the bridge asks for its password"));
        return true;
    }
    // An address that has sent wrong passwords waits before its next is checked,
    // right or wrong; a right one ends its waits.
    const auto check = [this, asked, right, from, socket = QPointer<QTcpSocket>(socket), responder] {
        if (right)
            m_guessers.right(from);
        else if (m_guessers.wrong(from))
            emit logLine(QStringLiteral("HTTP: wrong passwords from %1: its further attempts are delayed").arg(from.toString()));
        if (!socket || socket->state() != QAbstractSocket::ConnectedState)
            return;
        if (right)
            serve(asked, socket, *responder);
        else
            answerError(socket, *responder, Status::Unauthorized, QStringLiteral("the password is wrong"));
    };
    if (wait == 0)
        check();
    else
        QTimer::singleShot(wait, Qt::PreciseTimer, this, check);
    return true;
}

void HttpServer::missingHandler(const QHttpServerRequest &, QTcpSocket *socket)
{
    // Only an upgrade comes here (every other request is handled).
    socket->write("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    socket->disconnectFromHost();
}

bool HttpServer::passwordGiven(const QByteArray &authorization) const
{
    if (!authorization.startsWith("Basic "))
        return false;
    const QByteArray pair = QByteArray::fromBase64(authorization.mid(6).trimmed());
    const qsizetype colon = pair.indexOf(':');
    return colon >= 0 && sameSecret(pair.mid(colon + 1), m_password);
}

// A browser names the page a request comes from: the bridge's own, where a
// state-changing request must come from (a page elsewhere may not drive it).
bool HttpServer::originAllowed(const Asked &asked) const
{
    if (asked.origin.isEmpty())
        return true;  // not from a browser: a script, which the password guards
    const QByteArray port = ':' + QByteArray::number(this->port());
    QList<QByteArray> hosts;
    if (m_address.isLoopback())
        hosts << "127.0.0.1" + port << "localhost" + port << "[::1]" + port;
    else if (m_address == QHostAddress::Any || m_address == QHostAddress::AnyIPv4 || m_address == QHostAddress::AnyIPv6)
        hosts << asked.host;  // any of its addresses; beyond the loopback a password guards it
    else
        hosts << (m_address.protocol() == QAbstractSocket::IPv6Protocol ? '[' + m_address.toString().toLatin1() + ']'
                                                                          : m_address.toString().toLatin1())
                     + port;
    for (const QByteArray &host : hosts)
        if (asked.origin == "http://" + host)
            return true;
    return false;
}

const HttpServer::Served *HttpServer::find(const QString &id) const
{
    for (const Served &p : m_served)
        if (p.id == id)
            return &p;
    return nullptr;
}

void HttpServer::serve(const Asked &asked, QPointer<QTcpSocket> socket, QHttpServerResponder &responder)
{
    if (asked.method != QHttpServerRequest::Method::Get && !originAllowed(asked))
        return answerError(socket, responder, Status::Forbidden, QStringLiteral("a request from another site's page is refused"));
    if (asked.path.value(0) == u"api")
        return api(asked, socket, responder);
    answerError(socket, responder, Status::NotFound, QStringLiteral("no such page"));
}

// GET /api/projectors, GET /api/projectors/<id>, POST /api/projectors/<id>/commands/<name>.
void HttpServer::api(const Asked &asked, QPointer<QTcpSocket> socket, QHttpServerResponder &responder)
{
    const QStringList &path = asked.path;
    const auto method = asked.method;
    const bool get = method == QHttpServerRequest::Method::Get;
    const Served *p = path.size() >= 3 ? find(path[2]) : nullptr;
    if (path.size() < 2 || path[1] != u"projectors" || path.size() == 4 || path.size() > 5
        || (path.size() == 5 && path[3] != u"commands") || (path.size() >= 3 && !p))
        return answerError(socket, responder, Status::NotFound,
                           path.size() >= 3 && path[1] == u"projectors" && !p ? QStringLiteral("no projector %1").arg(path[2])
                                                                               : QStringLiteral("no such resource"));
    if (path.size() == 5) {
        if (method != QHttpServerRequest::Method::Post)
            return answer(socket, responder, Status::MethodNotAllowed, "application/json",
                          R"({"error":"a command is sent with POST"})", {{"Allow", "POST"}});
        return command(*p, path[4], socket, std::move(responder));
    }
    if (!get)
        return answer(socket, responder, Status::MethodNotAllowed, "application/json", R"({"error":"this is read with GET"})",
                      {{"Allow", "GET"}});
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
    auto shared = std::make_shared<QHttpServerResponder>(std::move(responder));
    const bool queued = p.queue->enqueue(ClientId(socket.data()), row->repeats() ? QString() : name, text, [this, socket, shared, name, code](const Reply &reply) {
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
    else if (socket)
        connect(socket.data(), &QObject::destroyed, p.queue, [queue = p.queue, id = ClientId(socket.data())] { queue->dropClient(id); });
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
    responder.writeHeader("Cache-Control", "no-store");
    responder.writeHeader("X-Content-Type-Options", "nosniff");
    responder.writeHeader("Content-Security-Policy", "default-src 'self'; frame-ancestors 'none'");
    responder.writeHeader("Referrer-Policy", "no-referrer");
    for (const auto &[name, value] : extra)
        responder.writeHeader(name, value);
    responder.writeBody(body);
    if (const auto c = m_connections.find(socket); c != m_connections.end() && c->closeAfter)
        socket->disconnectFromHost();
    else if (c != m_connections.end())
        c->timeout->start(m_requestTimeoutMs);
}

} // namespace bridge
