#include "Listener.h"

#include <QSocketNotifier>
#include <QSslSocket>
#include <QTcpSocket>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>

namespace bridge {

namespace {
// Connections taken at one turn of the event loop; the notifier comes back for the
// rest, after the others' turns.
constexpr int kTakenAtOnce = 16;
} // namespace

Listener::Listener(const char *name, QObject *parent) : QObject(parent), m_name(QLatin1String(name))
{
    m_retry.setTimerType(Qt::PreciseTimer);
    m_retry.setInterval(kRetryAcceptMs);
    connect(&m_retry, &QTimer::timeout, this, &Listener::resumeAccepting);
}

Listener::~Listener() = default;

bool Listener::listen(const QHostAddress &address, quint16 port)
{
    if (!m_server.listen(address, port))
        return false;
    m_server.pauseAccepting();
    m_waiting = std::make_unique<QSocketNotifier>(m_server.socketDescriptor(), QSocketNotifier::Read);
    connect(m_waiting.get(), &QSocketNotifier::activated, this, &Listener::takeConnections);
    return true;
}

void Listener::close()
{
    m_retry.stop();
    m_waiting.reset();
    m_server.close();
}

void Listener::takeConnections()
{
    for (int i = 0; i < kTakenAtOnce; ++i) {
        const int descriptor = ::accept4(int(m_server.socketDescriptor()), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (descriptor < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;  // that client has gone: the next
            if (errno == EMFILE || errno == ENFILE)
                pauseAccepting(QStringLiteral("out of descriptors: no connection is taken until one is free"));
            else if (errno != EAGAIN && errno != EWOULDBLOCK)
                pauseAccepting(QStringLiteral("cannot take a connection (%1): trying again").arg(QString::fromLocal8Bit(strerror(errno))));
            return;
        }
        QTcpSocket *socket = m_tls ? new QSslSocket(this) : new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;  // which closes the descriptor
            continue;
        }
        if (auto *tls = qobject_cast<QSslSocket *>(socket)) {
            tls->setSslConfiguration(*m_tls);
            connect(tls, &QAbstractSocket::errorOccurred, this, [this, tls](QAbstractSocket::SocketError error) {
                if (error != QAbstractSocket::SslHandshakeFailedError)
                    return;
                logBurst(m_lastHandshake, QStringLiteral("a TLS handshake failed: %1").arg(tls->errorString()));
                tls->abort();
            });
            tls->startServerEncryption();
        }
        admit(socket);
    }
}

// The connection waits in the kernel's queue meanwhile: trying it again at once
// would fail again at once.
void Listener::pauseAccepting(const QString &why)
{
    m_waiting->setEnabled(false);
    m_retry.start();
    logBurst(m_lastPause, why);
}

void Listener::logBurst(QElapsedTimer &last, const QString &text)
{
    if (startsBurst(last))
        log(text);
}

void Listener::resumeAccepting()
{
    if (m_waiting && !m_waiting->isEnabled()) {
        m_retry.stop();
        m_waiting->setEnabled(true);
    }
}

void Listener::admit(QTcpSocket *socket)
{
    const QHostAddress from = socket->peerAddress();
    const auto found = m_sources.constFind(from);
    const int mine = found == m_sources.cend() ? 0 : found->open;
    if (int(m_open.size()) >= m_maxConnections || mine >= m_maxPerAddress) {
        if (mine >= m_maxPerAddress) {
            if (!std::exchange(m_sources[from].refusalLogged, true))
                log(QStringLiteral("connections from %1 closed: %2 from it are open already").arg(from.toString()).arg(mine));
        } else {
            logBurst(m_lastFull, QStringLiteral("a connection from %1 closed: %2 are open already").arg(from.toString()).arg(m_open.size()));
        }
        // Told why where the protocol has words for it (HTTP), in what the kernel
        // takes at once: no TLS handshake, no wait.
        if (!m_refusal.isEmpty() && !qobject_cast<QSslSocket *>(socket))
            ::send(int(socket->socketDescriptor()), m_refusal.constData(), size_t(m_refusal.size()), MSG_DONTWAIT | MSG_NOSIGNAL);
        socket->abort();
        socket->deleteLater();
        return;
    }
    ++m_sources[from].open;
    auto *drain = new QTimer(socket);
    drain->setSingleShot(true);
    drain->setTimerType(Qt::PreciseTimer);
    drain->setInterval(kDrainTimeoutMs);
    m_open.insert(socket, Open{from, drain});
    connect(drain, &QTimer::timeout, this, [this, socket] {
        if (const auto open = m_open.find(socket); open != m_open.end() && socket->bytesToWrite() > 0)
            drop(socket, *open);
    });
    connect(socket, &QTcpSocket::bytesWritten, drain, [socket, drain] {
        if (socket->bytesToWrite() == 0)
            drain->stop();
        else
            drain->start();
    });
    // Counted until the socket is gone, through a child of its own: a socket handed
    // on (to a WebSocket) may have its connections cut by its new owner.
    auto *guard = new QObject(socket);
    connect(guard, &QObject::destroyed, this, [this, socket] { onDestroyed(socket); });
    socket->setReadBufferSize(kMaxBuffered);
    emit admitted(socket);
}

void Listener::onDestroyed(QObject *socket)
{
    const auto open = m_open.find(socket);
    if (open == m_open.end())
        return;
    if (const auto source = m_sources.find(open->from); source != m_sources.end() && --source->open <= 0)
        m_sources.erase(source);
    m_open.erase(open);
    resumeAccepting();
}

void Listener::send(QTcpSocket *socket, const QByteArray &bytes, bool now)
{
    const auto open = m_open.find(socket);
    if (open == m_open.end() || open->dropped || socket->state() != QAbstractSocket::ConnectedState)
        return;
    // Said now, with nothing waiting before it: straight to the kernel, which takes a
    // reply of a few bytes at once (QTcpSocket would arm and disarm its write notifier
    // for it). What the kernel does not take, or an error, goes the buffered way.
    qint64 written = 0;
    if (now && socket->bytesToWrite() == 0)
        written = std::max<qint64>(0, ::send(int(socket->socketDescriptor()), bytes.constData(), size_t(bytes.size()),
                                             MSG_DONTWAIT | MSG_NOSIGNAL));
    if (written < bytes.size()) {
        socket->write(bytes.constData() + written, bytes.size() - written);
        if (now)
            socket->flush();
    }
    if (socket->bytesToWrite() > kMaxBuffered)
        drop(socket, *open);
    else if (socket->bytesToWrite() > 0 && !open->drain->isActive())
        open->drain->start();
}

void Listener::drop(QTcpSocket *socket, Open &open)
{
    if (std::exchange(open.dropped, true))
        return;
    open.drain->stop();
    log(QStringLiteral("a connection from %1 closed: it does not read what it is sent").arg(open.from.toString()));
    // Not at once: this may be a reply handed out by the queue.
    QMetaObject::invokeMethod(socket, &QAbstractSocket::abort, Qt::QueuedConnection);
}

} // namespace bridge
