#include "PjlinkServer.h"

#include "ProjectorQueue.h"
#include "Version.h"

#include <QPointer>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <memory>

namespace bridge {

namespace {

constexpr qsizetype kDigestLength = 32;

// 8 hex digits, any of 2^32 values.
QByteArray randomChallenge()
{
    return QByteArray::number(QRandomGenerator::system()->generate(), 16).rightJustified(8, '0');
}

} // namespace

// One control system's connection. It takes one line at a time: the line's CR
// stays in the socket's buffer, which Qt then holds full, until the answer has
// gone out, so that Qt reads nothing meanwhile, not even the end of a client that
// has shut its side after its request: that client still gets its answer.
class PjlinkServer::Session final : public QObject {
public:
    Session(QTcpSocket *socket, const QByteArray &random, int idleMs, QObject *parent)
        : QObject(parent), socket(socket), peer(socket->peerAddress()), random(random), authenticated(random.isEmpty())
    {
        socket->setParent(this);
        idle.setSingleShot(true);
        idle.setTimerType(Qt::PreciseTimer);
        idle.setInterval(idleMs);
        connect(&idle, &QTimer::timeout, this, [this] { close(); });
        idle.start();
    }

    ClientId id() const { return ClientId(this); }
    // The next line, its CR left in the buffer; nothing while none is complete, and
    // `tooLong` set when no PJLink line can be that long.
    std::optional<QByteArray> nextLine(bool &tooLong)
    {
        const qsizetype limit = pjlink::kMaxLine + (authenticated ? 0 : kDigestLength);
        const QByteArray head = socket->peek(limit);
        const qsizetype cr = head.indexOf('\r');
        tooLong = cr < 0 && head.size() >= limit;
        if (cr < 0)
            return std::nullopt;
        QByteArray line = socket->read(cr);
        holding = true;
        socket->setReadBufferSize(socket->bytesAvailable());
        idle.stop();
        return line;
    }
    // The answer has gone out: the CR taken, reading goes on.
    void release()
    {
        holding = false;
        socket->skip(1);
        socket->setReadBufferSize(kMaxBuffered);
        idle.start();
    }
    void close()
    {
        closing = true;
        idle.stop();
        socket->disconnectFromHost();
    }

    QTcpSocket *socket;
    const QHostAddress peer;
    const QByteArray random;  // empty: no authentication asked
    bool authenticated;
    bool holding = false;  // a line taken, its answer not yet out
    bool busy = false;     // a line taken, its answer not yet written
    bool closing = false;
    QTimer idle;
};

PjlinkServer::PjlinkServer(ProjectorQueue &queue, PjlinkIdentity identity, QObject *parent)
    : QObject(parent), m_queue(queue), m_identity(std::move(identity))
{
    connect(&m_listener, &Listener::admitted, this, &PjlinkServer::onAdmitted);
    connect(&m_listener, &Listener::logLine, this, &PjlinkServer::logLine);
}

PjlinkServer::~PjlinkServer() = default;

void PjlinkServer::closeAll()
{
    m_listener.close();
    for (QObject *child : children())
        if (auto *session = dynamic_cast<Session *>(child)) {
            session->closing = true;
            session->socket->flush();
            session->close();
        }
}

void PjlinkServer::onAdmitted(QTcpSocket *socket)
{
    auto *session = new Session(socket, m_identity.password.isEmpty() ? QByteArray() : randomChallenge(), m_idleMs, this);
    m_listener.send(socket, pjlink::greeting(session->random));
    connect(socket, &QTcpSocket::readyRead, session, [this, session] { work(session); });
    connect(socket, &QTcpSocket::bytesWritten, session, [this, session] { work(session); });
    connect(socket, &QTcpSocket::disconnected, this, [this, session] {
        session->closing = true;
        m_queue.dropClient(session->id());
        session->deleteLater();
    });
}

void PjlinkServer::work(Session *session)
{
    while (!session->closing && !session->busy) {
        if (session->holding) {
            if (session->socket->bytesToWrite() > 0)
                return;  // bytesWritten comes back here
            session->release();
        }
        bool tooLong = false;
        const std::optional<QByteArray> line = session->nextLine(tooLong);
        if (tooLong)
            session->close();
        if (!line)
            return;
        take(session, *line, false);
    }
}

void PjlinkServer::take(Session *session, QByteArray line, bool waited)
{
    if (!session->authenticated) {
        // An address that has sent wrong digests waits before its next is checked,
        // right or wrong.
        if (const int ms = waited ? 0 : m_guessers.claim(session->peer)) {
            session->busy = true;
            QTimer::singleShot(ms, Qt::PreciseTimer, session, [this, session, line] {
                session->busy = false;
                take(session, line, true);
                work(session);
            });
            return;
        }
        if (line.left(kDigestLength).toLower() != pjlink::digest(session->random, m_identity.password)) {
            if (m_guessers.wrong(session->peer))
                emit logLine(QStringLiteral("PJLink: wrong passwords from %1: its further attempts are delayed").arg(session->peer.toString()));
            m_listener.send(session->socket, "PJLINK ERRA\r");
            session->close();
            return;
        }
        line.remove(0, kDigestLength);
        session->authenticated = true;
    }
    const pjlink::Parsed parsed = pjlink::parseLine(line);
    if (parsed.kind == pjlink::Parsed::Kind::Close) {
        session->close();
    } else if (parsed.kind == pjlink::Parsed::Kind::Answer) {
        m_listener.send(session->socket, parsed.answer);
    } else {
        session->busy = true;
        handle(session, parsed.request);
    }
}

// --- the requests ---

namespace {

const QByteArray kErr2 = "ERR2", kErr3 = "ERR3", kErr4 = "ERR4", kOk = "OK";

using Answer = std::function<void(const QByteArray &)>;
using Ask = std::function<void(const char *command, std::function<void(const Reply &)> then, const char *text)>;

// A reply to the status query `code` as read; an empty reading where none came.
decoding::Reading readingOf(const char *code, const Reply &r)
{
    return r.answered ? decoding::read(QString::fromLatin1(code), r.text) : decoding::Reading{};
}

// A row of buttons, each acknowledged in turn before the next; OK after the last.
void pressInTurn(const Ask &ask, const Answer &done, std::vector<const char *> commands, std::size_t i)
{
    if (i == commands.size())
        return done(kOk);
    const char *command = commands[i];
    ask(command, [ask, done, commands = std::move(commands), i](const Reply &r) {
        if (r.answered && r.text.contains(QChar(0x06)))
            pressInTurn(ask, done, commands, i + 1);
        else
            done(kErr4);
    }, "");
}

} // namespace

void PjlinkServer::handle(Session *session, const pjlink::Request &request)
{
    const QPointer<Session> alive(session);
    // The answer written; the next line is taken once it has gone out (bytesWritten).
    const auto done = [this, alive, request](const QByteArray &value) {
        if (!alive)
            return;
        m_listener.send(alive->socket, pjlink::answer(request, value));
        alive->busy = false;
    };
    // A command by name, or a command text (with no name); `then` hears the
    // reply. A full queue: ERR3.
    const auto ask = [this, alive, done](const char *command, std::function<void(const Reply &)> then, const char *text = "") {
        if (!alive)
            return;
        if (!m_queue.enqueue(alive->id(), QString::fromLatin1(command), QString::fromLatin1(text), std::move(then)))
            done(kErr3);
    };
    // Commands that need the projector on: the power status first.
    const auto whenOn = [ask, done](std::function<void()> then) {
        ask("status", [done, then](const Reply &r) {
            const decoding::Reading power = readingOf("CR0", r);
            if (!power.power)
                done(kErr4);
            else if (!power.power->on)
                done(kErr3);
            else
                then();
        });
    };
    // A row of buttons, each acknowledged in turn.
    const auto pressAll = [ask, done](std::vector<const char *> commands) {
        pressInTurn(ask, done, std::move(commands), 0);
    };

    const QByteArray &c = request.command;
    const QByteArray &p = request.parameter;
    const bool query = p == "?";
    if (c == "POWR") {
        if (p == "1" || p == "0")
            return pressAll({p == "1" ? "power-on" : "power-off"});
        if (!query)
            return done(kErr2);
        return ask("status", [done](const Reply &r) { done(pjlink::powerAnswer(readingOf("CR0", r))); });
    }
    if (c == "ERST") {
        if (!query)
            return done(kErr2);
        return ask("status", [done](const Reply &r) { done(pjlink::errorStatus(readingOf("CR0", r))); });
    }
    if (c == "INPT") {
        if (query)
            return ask("mode", [done](const Reply &r) { done(pjlink::inputAnswer(readingOf("CR1", r))); });
        for (const pjlink::InputRow &row : pjlink::inputRows())
            if (p == row.pjlink)
                return whenOn([pressAll, command = row.command] { pressAll({command}); });
        return done(kErr2);
    }
    if (c == "AVMT") {
        if (query)  // the mute status; "FF": standby, when nothing can be muted
            return ask("", [done](const Reply &r) { done(pjlink::muteAnswer(readingOf("CRA", r))); }, "CRA");
        for (const pjlink::MuteRow &row : pjlink::muteRows())
            if (p == row.pjlink)
                return whenOn([pressAll, commands = row.commands] { pressAll(commands); });
        return done(kErr2);
    }
    if (c == "LAMP") {
        if (!query)
            return done(kErr2);
        return ask("lamp-time", [ask, done](const Reply &hours) {
            if (!hours.answered)
                return done(kErr4);
            ask("", [done, hours](const Reply &mode) {
                done(pjlink::lampAnswer(readingOf("CR3", hours), readingOf("CR7", mode)));
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
        {"INFO", "orva-bridge " ORVA_VERSION},
        {"CLSS", "1"},
    };
    for (const auto &[command, value] : fixed)
        if (c == command)
            return done(query ? value : kErr2);
    done("ERR1");
}

} // namespace bridge
