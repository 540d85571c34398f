#include "PjlinkServer.h"

#include "Listener.h"
#include "ProjectorQueue.h"

#include <QPointer>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTimer>
#include <deque>
#include <memory>

namespace bridge {

namespace {

constexpr qsizetype kDigestLength = 32;

QByteArray randomChallenge()
{
    return QByteArray::number(QRandomGenerator::system()->generate() | 0x10000000u, 16);
}

} // namespace

// One control system's connection.
class PjlinkServer::Session final : public QObject {
public:
    Session(QTcpSocket *socket, const QByteArray &password, int idleMs, QObject *parent)
        : QObject(parent), socket(socket), m_password(password)
    {
        socket->setParent(this);
        m_idle.setSingleShot(true);
        m_idle.setInterval(idleMs);
        connect(&m_idle, &QTimer::timeout, this, [this] { close(); });
        if (!password.isEmpty())
            m_random = randomChallenge();
        socket->write(pjlink::greeting(m_random));
        m_idle.start();
    }

    ClientId id() const { return ClientId(this); }
    // The next complete request line, its CR and any authentication taken off;
    // nothing while none is complete. Sets `refused` on a wrong password and
    // `malformed` on a line too long to be PJLink.
    std::optional<QByteArray> nextLine()
    {
        m_buffer += socket->readAll();
        const qsizetype cr = m_buffer.indexOf('\r');
        const qsizetype limit = pjlink::kMaxLine + (m_authenticated ? 0 : kDigestLength);
        if (cr < 0) {
            if (m_buffer.size() >= limit)
                malformed = true;
            return std::nullopt;
        }
        QByteArray line = m_buffer.left(cr);
        m_buffer.remove(0, cr + 1);
        m_idle.start();
        if (!m_authenticated && !m_random.isEmpty()) {
            const QByteArray expected = pjlink::digest(m_random, m_password);
            if (line.left(kDigestLength).toLower() != expected) {
                refused = true;
                return std::nullopt;
            }
            line.remove(0, kDigestLength);
        }
        m_authenticated = true;
        return line;
    }

    void send(const QByteArray &bytes)
    {
        socket->write(bytes);
    }
    void close()
    {
        m_idle.stop();
        socket->disconnectFromHost();
    }

    QTcpSocket *socket;
    std::function<void()> work;  // reads and answers what has come, one request at a time
    std::deque<pjlink::Request> pending;
    bool busy = false;
    bool refused = false;
    bool malformed = false;

private:
    QByteArray m_password;
    QByteArray m_random;
    QByteArray m_buffer;
    bool m_authenticated = false;
    QTimer m_idle;
};

PjlinkServer::PjlinkServer(ProjectorQueue &queue, PjlinkIdentity identity, QObject *parent)
    : QObject(parent), m_queue(queue), m_identity(std::move(identity))
{
    connect(&m_server, &QTcpServer::newConnection, this, &PjlinkServer::onNewConnection);
}

PjlinkServer::~PjlinkServer() = default;

bool PjlinkServer::listen(const QHostAddress &address, quint16 port)
{
    return m_server.listen(address, port);
}

void PjlinkServer::closeAll()
{
    m_server.close();
    for (QObject *child : children())
        if (auto *session = dynamic_cast<Session *>(child)) {
            session->socket->flush();
            session->close();
        }
}

void PjlinkServer::onNewConnection()
{
    const auto log = [this](const QString &text) { emit logLine(text); };
    while (QTcpSocket *socket = nextAdmitted(m_server, m_sessions, m_maxConnections, "PJLink", log)) {
        ++m_sessions;
        auto *session = new Session(socket, m_identity.password, m_idleMs, this);
        session->work = [this, session] { work(session); };
        connect(socket, &QTcpSocket::readyRead, session, [session] { session->work(); });
        connect(session, &QObject::destroyed, this, [this] { --m_sessions; });
        connect(socket, &QTcpSocket::disconnected, session, [this, session] {
            m_queue.dropClient(session->id());
            session->deleteLater();
        });
    }
}

void PjlinkServer::work(Session *session)
{
    for (;;) {
        if (session->busy || session->refused || session->malformed)
            return;
        if (!session->pending.empty()) {
            const pjlink::Request request = session->pending.front();
            session->pending.pop_front();
            session->busy = true;
            handle(session, request);
            continue;
        }
        const std::optional<QByteArray> line = session->nextLine();
        if (session->refused) {
            session->send("PJLINK ERRA\r");
            session->close();
            return;
        }
        if (session->malformed) {
            session->close();
            return;
        }
        if (!line)
            return;
        const pjlink::Parsed parsed = pjlink::parseLine(*line);
        if (parsed.kind == pjlink::Parsed::Kind::Close) {
            session->malformed = true;
            session->close();
            return;
        }
        if (parsed.kind == pjlink::Parsed::Kind::Answer)
            session->send(parsed.answer);
        else
            session->pending.push_back(parsed.request);
    }
}

// --- the requests ---

namespace {

const QByteArray kErr2 = "ERR2", kErr3 = "ERR3", kErr4 = "ERR4", kOk = "OK";

using Answer = std::function<void(const QByteArray &)>;
using Ask = std::function<void(const char *control, std::function<void(const Reply &)> then, const char *text)>;

// A row of buttons, each acknowledged in turn before the next; OK after the last.
void pressInTurn(const Ask &ask, const Answer &done, std::vector<const char *> controls, std::size_t i)
{
    if (i == controls.size())
        return done(kOk);
    const char *control = controls[i];
    ask(control, [ask, done, controls = std::move(controls), i](const Reply &r) {
        if (r.answered && r.text.contains(QChar(0x06)))
            pressInTurn(ask, done, controls, i + 1);
        else
            done(kErr4);
    }, "");
}

} // namespace

void PjlinkServer::handle(Session *session, const pjlink::Request &request)
{
    const QPointer<Session> alive(session);
    const auto done = [alive, request](const QByteArray &value) {
        if (!alive)
            return;
        alive->send(pjlink::answer(request, value));
        alive->busy = false;
        QMetaObject::invokeMethod(alive, [alive] { alive->work(); }, Qt::QueuedConnection);
    };
    // A button's command, or a command text (with no control); `then` hears the
    // reply. A full queue: ERR3.
    const auto ask = [this, alive, done](const char *control, std::function<void(const Reply &)> then, const char *text = "") {
        if (!alive)
            return;
        if (!m_queue.enqueue(alive->id(), QString::fromLatin1(control), QString::fromLatin1(text), std::move(then)))
            done(kErr3);
    };
    // Commands that need the projector on: the power status first.
    const auto whenOn = [ask, done](std::function<void()> then) {
        ask("Command44", [done, then](const Reply &r) {
            const pjlink::PowerRow *row = r.answered ? pjlink::powerRow(r.text) : nullptr;
            if (!row)
                done(kErr4);
            else if (!row->on)
                done(kErr3);
            else
                then();
        });
    };
    // A row of buttons, each acknowledged in turn.
    const auto pressAll = [ask, done](std::vector<const char *> controls) {
        pressInTurn(ask, done, std::move(controls), 0);
    };

    const QByteArray &c = request.command;
    const QByteArray &p = request.parameter;
    const bool query = p == "?";
    if (c == "POWR") {
        if (p == "1" || p == "0")
            return pressAll({p == "1" ? "Command17" : "Command18"});
        if (!query)
            return done(kErr2);
        return ask("Command44", [done](const Reply &r) {
            const pjlink::PowerRow *row = r.answered ? pjlink::powerRow(r.text) : nullptr;
            done(row && row->powr ? QByteArray(row->powr) : kErr4);
        });
    }
    if (c == "ERST") {
        if (!query)
            return done(kErr2);
        return ask("Command44", [done](const Reply &r) {
            const pjlink::PowerRow *row = r.answered ? pjlink::powerRow(r.text) : nullptr;
            done(row ? QByteArray(row->erst) : kErr4);
        });
    }
    if (c == "INPT") {
        if (query)
            return ask("Command45", [done](const Reply &r) {
                if (!r.answered)
                    return done(kErr4);
                for (const pjlink::InputRow &row : pjlink::inputRows())
                    if (r.text.startsWith(QLatin1String(row.reply)) && r.text.size() > 1 && r.text[1] == u'\r')
                        return done(row.pjlink);
                done(kErr3);  // an input PJLink has no name for
            });
        for (const pjlink::InputRow &row : pjlink::inputRows())
            if (p == row.pjlink)
                return whenOn([pressAll, control = row.control] { pressAll({control}); });
        return done(kErr2);
    }
    if (c == "AVMT") {
        if (query)  // the mute status; "FF": standby, when nothing can be muted
            return ask("", [done](const Reply &r) {
                const std::optional<QByteArray> value = r.answered ? pjlink::muteAnswer(r.text) : std::nullopt;
                done(value ? *value : r.answered && r.text.startsWith(QLatin1String("FF")) ? kErr3 : kErr4);
            }, "CRA");
        for (const pjlink::MuteRow &row : pjlink::muteRows())
            if (p == row.pjlink)
                return whenOn([pressAll, controls = row.controls] { pressAll(controls); });
        return done(kErr2);
    }
    if (c == "LAMP") {
        if (!query)
            return done(kErr2);
        return ask("Command46", [ask, done](const Reply &hours) {
            if (!hours.answered)
                return done(kErr4);
            ask("", [done, hours](const Reply &mode) {
                const std::optional<QByteArray> value = mode.answered ? pjlink::lampAnswer(hours.text, mode.text) : std::nullopt;
                done(value.value_or(kErr4));
            }, "CR7");
        });
    }
    QByteArray inputs;
    for (const pjlink::InputRow &row : pjlink::inputRows())
        inputs += (inputs.isEmpty() ? "" : " ") + QByteArray(row.pjlink);
    const std::pair<const char *, QByteArray> fixed[] = {
        {"INST", inputs},
        {"NAME", m_identity.name.toUtf8().left(64)},
        {"INF1", "ORVA"},
        {"INF2", "TK58R"},
        {"INFO", "orva-bridge 1.40"},
        {"CLSS", "1"},
    };
    for (const auto &[command, value] : fixed)
        if (c == command)
            return done(query ? value : kErr2);
    done("ERR1");
}

} // namespace bridge
