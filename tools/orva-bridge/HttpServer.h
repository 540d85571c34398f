#pragma once
// The bridge's HTTP listener: one for all its projectors, with the JSON API
// (docs/http.md). Qt HTTP Server parses the requests; the listener bounds what a
// client can make it hold: connections (in all and per address), the size of a
// request, the time a request may take to come, and a password guesser's pace.

#include "Guessers.h"
#include "Listener.h"

#include <QAbstractHttpServer>
#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QPointer>
#include <QStringList>
#include <functional>
#include <vector>

class QTcpSocket;

namespace bridge {

class ProjectorQueue;
class ProjectorState;

class HttpServer final : public QAbstractHttpServer {
    Q_OBJECT
public:
    // Connections one address may hold open: a browser keeps some six for a host, and
    // each of its pages a WebSocket.
    static constexpr int kMaxPerAddress = 24;
    // A request's head and body together at most this long.
    static constexpr qint64 kMaxRequest = 8 * 1024;
    // A request must have come whole this long after the connection opened or its
    // last answer was sent; else it is answered 408 (or, when nothing came, closed).
    static constexpr int kRequestTimeoutMs = 10000;
    // Wrong passwords from one address before its answers are slowed.
    static constexpr int kFreeGuesses = 5;
    // A projector's state in GET is at most this old (else it is asked again).
    static constexpr int kFreshMs = 2000;
    // A login's session ends after this long unused; so many are kept.
    static constexpr int kSessionIdleMs = 30 * 60 * 1000;
    static constexpr int kMostSessions = 256;

    // `password` empty: none asked (the loopback, or no-password).
    explicit HttpServer(const QByteArray &password, QObject *parent = nullptr);
    ~HttpServer() override;

    void addProjector(const QString &id, const QString &name, ProjectorQueue &queue, ProjectorState &state);
    bool listen(const QHostAddress &address, quint16 port);
    quint16 port() const { return m_listener.port(); }
    QString errorString() const { return m_listener.errorString(); }
    void setMaxConnections(int n) { m_listener.setMaxConnections(n); }
    void setRequestTimeout(int ms) { m_requestTimeoutMs = ms; }
    void setSessionIdle(int ms) { m_sessionIdleMs = ms; }
    // HTTPS (and wss) only, with this certificate and key.
    void setTls(const QSslConfiguration &tls)
    {
        m_listener.setTls(tls);
        m_scheme = "https://";
    }
    // Typed command texts from the page (its manual entry).
    void setSendAllowed(bool allowed) { m_sendAllowed = allowed; }
    // GET /metrics answers `text()` (Prometheus's format): with the password where
    // one is asked, unless `open`.
    void setMetrics(std::function<QByteArray()> text, bool open)
    {
        m_metrics = std::move(text);
        m_metricsOpen = open;
    }
    // The connections open: the pages' WebSockets, and the rest.
    int webSockets() const;
    int httpConnections() const { return m_listener.connections() - webSockets(); }

signals:
    void logLine(const QString &text);

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
    using Status = QHttpServerResponder::StatusCode;
    struct Served {
        QString id;
        QString name;
        ProjectorQueue *queue;
        ProjectorState *state;
    };
    // What a request asked, kept while its answer waits.
    struct Asked {
        QHttpServerRequest::Method method;
        QStringList path;  // the segments after the first '/', as sent (percent-encoded)
        QByteArray origin;
        QByteArray host;
        QByteArray local;  // the address the connection came to, as a Host names it
    };
    // One connection: what its request has brought so far, and its time.
    struct Connection {
        qint64 buffered = 0;  // left unread by the parser at its last turn
        qint64 brought = 0;   // bytes of the request under way
        QByteArray head;      // its first bytes, as far as kMaxRequest takes them
        bool lineChecked = false;  // its request line came whole, and was checked
        bool refused = false; // answered already, and closing
        bool closeAfter = false;  // the request asked for the connection to close after its answer
        bool busy = false;        // a request is taken and not yet answered
        Status refusal = Status::NotFound;  // why an upgrade is refused
        QTimer *timeout = nullptr;
    };
    class Handoff;

    void admit(QTcpSocket *socket);
    void onBytes(QTcpSocket *socket);
    void onTimeout(QTcpSocket *socket);
    void refuse(QTcpSocket *socket, Connection &c, Status status);
    static QByteArray bareAnswer(Status status);
    // What every answer carries.
    static inline const QByteArray kSecurityHeaders =
        "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n"
        "Content-Security-Policy: default-src 'self'; frame-ancestors 'none'; form-action 'self'; base-uri 'none'\r\n"
        "Referrer-Policy: same-origin\r\n";  // no-referrer would make a form's Origin "null"
    void serve(const Asked &asked, QPointer<QTcpSocket> socket, QHttpServerResponder &responder, bool loggedIn);
    Status upgradeRefusal(const Asked &asked, bool loggedIn) const;
    void takeWebSockets();
    QByteArray newSession();
    bool sessionValid(const QByteArray &cookies);
    void api(const Asked &asked, QPointer<QTcpSocket> socket, QHttpServerResponder &responder);
    void command(const Served &p, const QString &name, QPointer<QTcpSocket> socket, QHttpServerResponder responder);
    // Writes the answer with the security headers every answer carries; then waits
    // for the connection's next request, or closes it.
    void answer(QTcpSocket *socket, QHttpServerResponder &responder, Status status, const QByteArray &type,
                const QByteArray &body, const std::vector<std::pair<QByteArray, QByteArray>> &extra = {});
    void answerJson(QTcpSocket *socket, QHttpServerResponder &responder, Status status, const QJsonObject &o);
    void answerError(QTcpSocket *socket, QHttpServerResponder &responder, Status status, const QString &why);
    bool passwordGiven(const QByteArray &authorization) const;
    bool originAllowed(const Asked &asked) const;
    bool hostAllowed(const Asked &asked) const;
    QList<QByteArray> ownHosts(const Asked &asked) const;
    static QByteArray hostOf(const QHostAddress &address);
    void guessed(const QHostAddress &from, bool right);
    const Served *find(const QString &id) const;

    QByteArray m_password;
    QHostAddress m_address;
    std::vector<Served> m_served;
    QHash<QTcpSocket *, Connection> m_connections;
    Guessers m_guessers{kFreeGuesses};
    int m_requestTimeoutMs = kRequestTimeoutMs;
    int m_sessionIdleMs = kSessionIdleMs;
    bool m_sendAllowed = false;
    std::function<QByteArray()> m_metrics;  // none: no /metrics
    bool m_metricsOpen = false;
    QByteArray m_scheme = "http://";
    QHash<QByteArray, QElapsedTimer> m_sessions;  // by token: since last used
    QStringList m_told;  // the kinds of trouble from pages logged
    QHash<QHostAddress, int> m_commandsFrom;  // the API's commands waiting, by address
    static inline const QByteArray kSessionCookie = "orva-session";
    Handoff *m_handoff;    // hands the admitted connections to Qt HTTP Server, which owns it
    Listener m_listener;   // accepts them, within the limits
};

} // namespace bridge
