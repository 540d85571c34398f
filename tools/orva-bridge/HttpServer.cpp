#include "HttpServer.h"

#include "ProjectorQueue.h"
#include "WebPage.h"
#include "WebRequests.h"
#include "WebSession.h"
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
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QWebSocket>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

// The pages' files, in the static library's resources (web/web.qrc).
static void initWebResources()
{
    Q_INIT_RESOURCE(web);
}

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

} // namespace

HttpServer::HttpServer(const QByteArray &password, QObject *parent)
    : QAbstractHttpServer(parent), m_password(password), m_handoff(new Handoff(this)), m_listener("HTTP")
{
    m_listener.setMaxPerAddress(kMaxPerAddress);
    m_listener.setRefusal(bareAnswer(Status::ServiceUnavailable));
    connect(&m_listener, &Listener::admitted, this, &HttpServer::admit);
    connect(&m_listener, &Listener::logLine, this, &HttpServer::logLine);
    initWebResources();
    connect(this, &QAbstractHttpServer::newWebSocketConnection, this, &HttpServer::takeWebSockets);
    // Qt HTTP Server warns of each upgrade refused; the missing handler answers them.
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
    Connection &c = m_connections[socket] = Connection();  // nothing of a socket that was at this address
    c.timeout = new QTimer(socket);
    c.timeout->setSingleShot(true);
    c.timeout->setTimerType(Qt::PreciseTimer);
    connect(c.timeout, &QTimer::timeout, this, [this, socket] { onTimeout(socket); });
    c.timeout->start(m_requestTimeoutMs);
    // A connection that goes: its commands waiting in the queues go too.
    connect(socket, &QObject::destroyed, this, [this, socket] {
        m_connections.remove(socket);
        for (const Served &p : m_served)
            p.queue->dropClient(ClientId(socket));
    });
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
    c.brought += fresh.size();
    // The head as it comes, kept as far as the limit takes it: its request line and
    // where it ends are read from it.
    const qsizetype keep = kMaxRequest + kHeadEnd.size();
    c.head += fresh.left(std::max<qsizetype>(0, keep - c.head.size()));
    // Qt HTTP Server closes a request it cannot parse without a word: one whose
    // request line is none ("GET /path HTTP/1.1") is answered 400 here first.
    if (const qsizetype end = c.lineChecked ? -1 : c.head.indexOf('\n'); end >= 0) {
        static const QRegularExpression kRequestLine(QStringLiteral("^[A-Z]{3,7} [!-~]+ HTTP/1\\.[01]\r?$"));
        c.lineChecked = true;
        if (!kRequestLine.match(QString::fromLatin1(c.head.left(end))).hasMatch())
            return refuse(socket, c, Status::BadRequest);
    }
    if (c.brought > kMaxRequest) {
        const qsizetype headEnd = c.head.indexOf(kHeadEnd);
        refuse(socket, c, headEnd >= 0 && headEnd + kHeadEnd.size() <= kMaxRequest ? Status::PayloadTooLarge
                                                                                  : Status::RequestHeaderFieldsTooLarge);
    }
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

// An answer written without the parser, which may hold half a request: its status
// alone, with the headers every answer carries, and the connection closed.
QByteArray HttpServer::bareAnswer(Status status)
{
    static const std::map<Status, const char *> kReasons = {
        {Status::BadRequest, "Bad Request"},       {Status::Unauthorized, "Unauthorized"},
        {Status::Forbidden, "Forbidden"},          {Status::NotFound, "Not Found"},
        {Status::RequestTimeout, "Request Timeout"}, {Status::PayloadTooLarge, "Content Too Large"},
        {Status::TooManyRequests, "Too Many Requests"}, {Status::RequestHeaderFieldsTooLarge, "Request Header Fields Too Large"},
        {Status::ServiceUnavailable, "Service Unavailable"}};
    const auto reason = kReasons.find(status);
    return "HTTP/1.1 " + QByteArray::number(int(status)) + ' ' + (reason == kReasons.end() ? "Error" : reason->second) + "\r\n"
           + kSecurityHeaders + "Content-Length: 0\r\nConnection: close\r\n\r\n";
}

void HttpServer::refuse(QTcpSocket *socket, Connection &c, Status status)
{
    c.refused = true;
    c.timeout->stop();
    socket->write(bareAnswer(status));
    socket->disconnectFromHost();
}

bool HttpServer::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket)
{
    const auto found = m_connections.find(socket);
    if (found == m_connections.end() || found->refused)
        return true;
    Connection &c = *found;
    // One request at a time, whose answer the client takes: one that asks again
    // before, or leaves answers untaken, is closed.
    if (c.busy || socket->bytesToWrite() > kMaxBuffered) {
        refuse(socket, c, Status::TooManyRequests);
        return true;
    }
    c.timeout->stop();
    c.brought = 0;
    c.head.clear();
    c.lineChecked = false;
    const QByteArray path = request.url().path(QUrl::FullyEncoded).toLatin1();
    c.closeAfter = request.value("connection").compare("close", Qt::CaseInsensitive) == 0;
    const Asked asked{request.method(), QString::fromLatin1(path.mid(1)).split(u'/'), request.value("origin"), request.value("host"),
                      hostOf(socket->localAddress())};
    const QByteArray authorization = request.value("authorization");
    const QHostAddress from = socket->peerAddress();
    const bool open = m_password.isEmpty() || sessionValid(request.value("cookie"));
    // A WebSocket, as Qt HTTP Server tells one (Upgrade: websocket, Connection:
    // upgrade): handed over by returning true with nothing written, or refused by
    // the missing handler with the status chosen here. A password given with it
    // counts as any, and is not checked while the address must wait.
    const bool upgrade = request.value("upgrade").compare("websocket", Qt::CaseInsensitive) == 0
                         && request.value("connection").toLower().contains("upgrade");
    if (upgrade) {
        bool loggedIn = open;
        if (!open && !authorization.isEmpty() && m_guessers.claim(from) == 0) {
            loggedIn = passwordGiven(authorization);
            guessed(from, loggedIn);
        }
        c.refusal = upgradeRefusal(asked, loggedIn);
        if (c.refusal != Status::Ok)
            return false;
        delete c.timeout;
        m_connections.erase(found);  // its bytes are the WebSocket's now
        return true;
    }
    c.busy = true;
    auto responder = std::make_shared<QHttpServerResponder>(makeResponder(request, socket));
    if (!hostAllowed(asked)) {
        answerError(socket, *responder, Status::MisdirectedRequest, QStringLiteral("this is no name of the bridge's"));
        return true;
    }
    const bool login = asked.method == QHttpServerRequest::Method::Post && asked.path == QStringList{QStringLiteral("login")};
    if (!login && (open || authorization.isEmpty())) {
        serve(asked, socket, *responder, open);
        return true;
    }
    if (login && !originAllowed(asked)) {
        answerError(socket, *responder, Status::Forbidden, QStringLiteral("a request from another site's page is refused"));
        return true;
    }
    // A password given (the login form's or HTTP Basic): an address that has sent
    // wrong ones waits its turn before it is checked, right or wrong; a right one
    // ends the waits.
    const QByteArray given = login ? web::formValue(request.body(), QStringLiteral("password")) : web::basicPassword(authorization);
    const auto check = [this, asked, given, login, from, socket = QPointer<QTcpSocket>(socket), responder] {
        const bool right = sameSecret(given, m_password);
        guessed(from, right);
        if (!socket || socket->state() != QAbstractSocket::ConnectedState)
            return;
        if (login && right)
            answer(socket, *responder, Status::SeeOther, "text/plain", QByteArray(),
                   {{"Location", "/"}, {"Set-Cookie", kSessionCookie + ('=' + newSession()) + "; Path=/; HttpOnly; SameSite=Strict"
                                     + (m_scheme == "https://" ? "; Secure" : "")}});
        else if (login)
            answer(socket, *responder, Status::Unauthorized, "text/html; charset=utf-8", web::loginPage(true));
        else if (right)
            serve(asked, socket, *responder, true);
        else
            answerError(socket, *responder, Status::Unauthorized, QStringLiteral("the password is wrong"));
    };
    if (const int wait = m_guessers.claim(from))
        QTimer::singleShot(wait, Qt::PreciseTimer, this, check);
    else
        check();
    return true;
}

void HttpServer::guessed(const QHostAddress &from, bool right)
{
    if (right)
        m_guessers.right(from);
    else if (m_guessers.wrong(from))
        emit logLine(QStringLiteral("HTTP: wrong passwords from %1: its further attempts are delayed").arg(from.toString()));
}

HttpServer::Status HttpServer::upgradeRefusal(const Asked &asked, bool loggedIn) const
{
    const QStringList &path = asked.path;
    const bool page = path == QStringList{QStringLiteral("ws")} || (path.size() == 3 && path[0] == u"p" && find(path[1]) && path[2] == u"ws");
    if (!page)
        return Status::NotFound;
    // A browser always names the page a WebSocket comes from: it must be the bridge's.
    if (asked.origin.isEmpty() || !originAllowed(asked))
        return Status::Forbidden;
    return loggedIn ? Status::Ok : Status::Unauthorized;
}

void HttpServer::missingHandler(const QHttpServerRequest &, QTcpSocket *socket)
{
    // Only a refused upgrade comes here (every other request is handled).
    const auto c = m_connections.constFind(socket);
    socket->write(bareAnswer(c == m_connections.cend() ? Status::NotFound : c->refusal));
    socket->disconnectFromHost();
}

// The sessions of the login form: a random token in a cookie, forgotten when idle.
QByteArray HttpServer::newSession()
{
    if (m_sessions.size() >= kMostSessions)
        m_sessions.removeIf([this](const auto &s) { return s.value().hasExpired(m_sessionIdleMs); });
    if (m_sessions.size() >= kMostSessions)
        m_sessions.erase(std::min_element(m_sessions.begin(), m_sessions.end(), [](const QElapsedTimer &a, const QElapsedTimer &b) {
            return a.elapsed() > b.elapsed();
        }));
    QByteArray token(32, Qt::Uninitialized);
    QRandomGenerator::system()->generate(token.begin(), token.end());
    token = token.toHex();
    m_sessions[token].start();
    return token;
}

bool HttpServer::sessionValid(const QByteArray &cookies)
{
    const auto s = m_sessions.find(web::cookieValue(cookies, kSessionCookie));
    if (s == m_sessions.end())
        return false;
    if (s->hasExpired(m_sessionIdleMs)) {
        m_sessions.erase(s);
        return false;
    }
    s->start();
    return true;
}

bool HttpServer::passwordGiven(const QByteArray &authorization) const
{
    const QByteArray given = web::basicPassword(authorization);
    return !given.isEmpty() && sameSecret(given, m_password);
}

QByteArray HttpServer::hostOf(const QHostAddress &address)
{
    const QString text = address.toString();
    return (address.protocol() == QAbstractSocket::IPv6Protocol ? '[' + text + ']' : text).toLatin1();
}

// The names the bridge's pages are reached by: its listen address (the one the
// connection came to, on 0.0.0.0 or ::), on the loopback localhost too; with the
// port, and without where it is the scheme's own.
QList<QByteArray> HttpServer::ownHosts(const Asked &asked) const
{
    QList<QByteArray> names{asked.local};
    if (m_address.isLoopback())
        names = {"127.0.0.1", "localhost", "[::1]"};
    const quint16 port = this->port();
    const bool usual = port == (m_scheme == "https://" ? 443 : 80);
    QList<QByteArray> hosts;
    for (const QByteArray &name : names) {
        hosts << name + ':' + QByteArray::number(port);
        if (usual)
            hosts << name;
    }
    return hosts;
}

// A request for a name that is none of the bridge's comes through a name that
// points at it without being its own (DNS rebinding): refused, where no password
// guards the pages (the loopback, or no-password).
bool HttpServer::hostAllowed(const Asked &asked) const
{
    return (!m_password.isEmpty() && !m_address.isLoopback()) || ownHosts(asked).contains(asked.host.toLower());
}

// A browser names the page a request comes from: the bridge's own, where a
// state-changing request must come from (a page elsewhere may not drive it).
bool HttpServer::originAllowed(const Asked &asked) const
{
    if (asked.origin.isEmpty())
        return true;  // not from a browser: a script, which the password guards
    for (const QByteArray &host : ownHosts(asked))
        if (asked.origin == m_scheme + host)
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

} // namespace bridge
