#include "TcpLink.h"

#include "SerialText.h"

#include <QMetaObject>
#include <QUrl>

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

// A lookup worker holds this, not the link: the destructor clears `link` (under
// the mutex, so no answer is being posted meanwhile) and does not wait for the
// worker, which finds the link gone when its answer comes and drops it.
struct TcpLink::LookupGuard {
    explicit LookupGuard(TcpLink *owner) : link(owner) {}
    std::mutex mutex;
    TcpLink *link;
};

// Linux gives a non-blocking socket with no room (or nothing to read) one error number.
static_assert(EAGAIN == EWOULDBLOCK);

namespace {

// The addresses `host` stands for, each a sockaddr for connect(); none if it
// stands for none (or, with AI_NUMERICHOST, if it is no address literal).
QList<QByteArray> resolve(const QByteArray &host, int port, int flags)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = flags | AI_NUMERICSERV;
    addrinfo *found = nullptr;
    QList<QByteArray> addresses;
    if (::getaddrinfo(host.constData(), QByteArray::number(port).constData(), &hints, &found) != 0)
        return addresses;
    for (const addrinfo *a = found; a; a = a->ai_next) {
        if ((a->ai_family == AF_INET || a->ai_family == AF_INET6) && a->ai_addrlen <= sizeof(sockaddr_storage))
            addresses << QByteArray(reinterpret_cast<const char *>(a->ai_addr), qsizetype(a->ai_addrlen));
    }
    ::freeaddrinfo(found);
    return addresses;
}

QString systemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

TcpLink::TcpLink(QString path, QObject *parent)
    : SerialControl(parent), m_guard(std::make_shared<LookupGuard>(this)), m_path(std::move(path))
{
    m_connectTimer.setSingleShot(true);
    m_connectTimer.setTimerType(Qt::PreciseTimer);
    m_connectTimer.setInterval(kConnectTimeoutMs);
    connect(&m_connectTimer, &QTimer::timeout, this, [this] {
        if (m_state == State::LookingUp || m_state == State::Connecting)
            fail(unreachable(QStringLiteral("No answer within %1 s").arg(kConnectTimeoutMs / 1000)));
    });
    connect(&m_readNotifier, &QSocketNotifier::activated, this, &TcpLink::onReadable);
    connect(&m_writeNotifier, &QSocketNotifier::activated, this, &TcpLink::onWritable);
}

TcpLink::~TcpLink()
{
    {
        const std::lock_guard lock(m_guard->mutex);
        m_guard->link = nullptr;
    }
    dropSocket();
}

bool TcpLink::isNetworkPath(const QString &path)
{
    return path.startsWith(QLatin1String("tcp://"), Qt::CaseInsensitive);
}

SerialResult TcpLink::setCommPort(int port)
{
    if (portOpen())
        return SerialError{ErrPortAlreadyOpen, QStringLiteral("Port already open")};
    m_comPort = port;
    return std::nullopt;
}

SerialResult TcpLink::setSettings(const QString &settings)
{
    if (!parseLineSettings(settings))
        return SerialError{ErrBadSettings, QStringLiteral("Invalid settings: \"%1\"").arg(settings)};
    m_settings = settings;
    return SerialError{ErrSpeedSetByServer, QStringLiteral("Speed is set by the device server (%1)").arg(m_path)};
}

SerialResult TcpLink::setPortOpen(bool open)
{
    if (!open) {
        close();
        return std::nullopt;
    }
    if (portOpen())
        return SerialError{ErrPortAlreadyOpen, QStringLiteral("Port already open")};
    return this->open();
}

SerialResult TcpLink::output(const QString &text)
{
    if (m_state == State::Closed)
        return SerialError{ErrPortNotOpen, QStringLiteral("Port is not open")};
    // While connecting the bytes wait here and go out, in order, once connected.
    m_writeBuffer += textToLineBytes(text);
    if (m_state == State::Connected)
        flush();
    return std::nullopt;
}

QString TcpLink::input()
{
    m_commEvent = 0;
    return lineBytesToText(std::exchange(m_readBuffer, QByteArray()));
}

SerialResult TcpLink::open()
{
    const QUrl url(m_path, QUrl::StrictMode);
    const bool valid = url.isValid() && url.scheme().compare(QLatin1String("tcp"), Qt::CaseInsensitive) == 0
        && !url.host().isEmpty() && url.port() > 0 && (url.path().isEmpty() || url.path() == QLatin1String("/"))
        && !url.hasQuery() && !url.hasFragment() && url.userInfo().isEmpty();
    if (!valid)
        return portError(ErrNoSuchPort, {.kind = PortFailure::Kind::BadAddress, .device = m_path, .port = m_comPort});
    close();
    m_host = url.host();
    m_port = url.port();
    m_state = State::LookingUp;
    m_connectTimer.start();
    lookUp();
    return std::nullopt;
}

void TcpLink::close()
{
    ++m_generation;
    m_state = State::Closed;
    m_connectTimer.stop();
    dropSocket();
    m_addresses.clear();
    m_readBuffer.clear();
    m_writeBuffer.clear();
}

// Both ways answer on a later turn of the event loop (see the header): an address
// literal needs no lookup, a host name is looked up on a thread of its own.
void TcpLink::lookUp()
{
    const quint64 generation = m_generation;
    if (const QList<QByteArray> addresses = resolve(m_host.toUtf8(), m_port, AI_NUMERICHOST); !addresses.isEmpty()) {
        QMetaObject::invokeMethod(
            this, [this, generation, addresses] { onLookedUp(generation, addresses); }, Qt::QueuedConnection);
        return;
    }
    QByteArray name = QUrl::toAce(m_host);
    if (name.isEmpty())
        name = m_host.toUtf8();
    try {
        std::thread([guard = m_guard, name, port = m_port, generation] {
            const QList<QByteArray> addresses = resolve(name, port, 0);
            const std::lock_guard lock(guard->mutex);
            if (TcpLink *link = guard->link) {
                QMetaObject::invokeMethod(
                    link, [link, generation, addresses] { link->onLookedUp(generation, addresses); }, Qt::QueuedConnection);
            }
        }).detach();
    } catch (const std::system_error &e) {
        fail(unreachable(QString::fromLocal8Bit(e.what())));
    }
}

void TcpLink::onLookedUp(quint64 generation, const QList<QByteArray> &addresses)
{
    if (generation != m_generation || m_state != State::LookingUp)
        return;
    if (addresses.isEmpty()) {
        fail(portError(ErrPortOpenFailed, {.kind = PortFailure::Kind::HostNotFound, .device = m_path, .port = m_comPort,
                                           .host = m_host}));
        return;
    }
    m_state = State::Connecting;
    m_addresses = addresses;
    connectNext();
}

// Tries the server's addresses in turn (localhost may be ::1 and 127.0.0.1) until
// a connect is under way; when none is left, the last one's error is reported.
void TcpLink::connectNext()
{
    while (!m_addresses.isEmpty()) {
        const QByteArray raw = m_addresses.takeFirst();
        sockaddr_storage address{};
        std::memcpy(&address, raw.constData(), size_t(raw.size()));
        const int fd = ::socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
        if (fd == -1) {
            m_lastConnectError = errno;
            continue;
        }
        if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), socklen_t(raw.size())) != 0 && errno != EINPROGRESS) {
            m_lastConnectError = errno;
            ::close(fd);
            continue;
        }
        m_socket = fd;
        m_readNotifier.setSocket(fd);
        m_writeNotifier.setSocket(fd);
        // Writable once the connect is done, made or failed.
        m_writeNotifier.setEnabled(true);
        return;
    }
    fail(connectError(m_lastConnectError));
}

void TcpLink::onWritable()
{
    if (m_state == State::Connected) {
        flush();
        return;
    }
    if (m_state != State::Connecting)
        return;
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(m_socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        error = errno;
    if (error != 0) {
        m_lastConnectError = error;
        dropSocket();
        connectNext();
        return;
    }
    m_state = State::Connected;
    m_connectTimer.stop();
    m_addresses.clear();
    // Commands are a few bytes each: send them as they come. Keep-alive finds a
    // server that went away without a word.
    const int on = 1;
    ::setsockopt(m_socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ::setsockopt(m_socket, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    m_readNotifier.setEnabled(true);
    flush();
    emit opened();
}

void TcpLink::onReadable()
{
    if (m_state != State::Connected)
        return;
    char chunk[65536];
    const ssize_t n = ::recv(m_socket, chunk, sizeof chunk, 0);
    if (n > 0) {
        m_readBuffer.append(chunk, n);
        m_commEvent = kCommEvReceive;
        emit onComm();
    } else if (n == 0) {
        fail(lostError(QStringLiteral("The device server closed the connection")));
    } else if (errno != EAGAIN && errno != EINTR) {
        fail(lostError(systemText(errno)));
    }
}

// Sends what waits, as much as the socket takes; the rest goes when it is
// writable again. MSG_NOSIGNAL: a server that went away is a lost link, not a
// SIGPIPE that ends the program.
void TcpLink::flush()
{
    qsizetype sent = 0;
    while (sent < m_writeBuffer.size()) {
        const ssize_t n = ::send(m_socket, m_writeBuffer.constData() + sent, size_t(m_writeBuffer.size() - sent), MSG_NOSIGNAL);
        if (n == -1 && errno == EINTR)
            continue;
        if (n == -1 && errno == EAGAIN)
            break;  // the socket is full: the rest goes when it is writable again
        if (n == -1) {
            fail(lostError(systemText(errno)));
            return;
        }
        sent += n;
    }
    m_writeBuffer.remove(0, sent);
    m_writeNotifier.setEnabled(!m_writeBuffer.isEmpty());
}

void TcpLink::dropSocket()
{
    m_readNotifier.setEnabled(false);
    m_writeNotifier.setEnabled(false);
    if (m_socket >= 0)
        ::close(m_socket);
    m_socket = -1;
}

// The link is closed from here on; the failure is reported from the event loop,
// never inside the caller's own call (a write, say), and not at all if the link
// is closed or opened again before that.
void TcpLink::fail(const SerialError &error)
{
    if (m_state == State::Closed)
        return;
    const bool connecting = m_state != State::Connected;
    m_state = State::Closed;
    m_connectTimer.stop();
    dropSocket();
    m_writeBuffer.clear();
    QMetaObject::invokeMethod(
        this,
        [this, error, connecting, generation = m_generation] {
            if (generation == m_generation)
                connecting ? emit openFailed(error) : emit portLost(error);
        },
        Qt::QueuedConnection);
}

SerialError TcpLink::connectError(int error) const
{
    if (error == ECONNREFUSED)
        return portError(ErrPortOpenFailed, {.kind = PortFailure::Kind::Refused, .device = m_path, .port = m_comPort,
                                             .systemError = error, .systemText = systemText(error), .host = m_host,
                                             .tcpPort = m_port});
    SerialError e = unreachable(systemText(error));
    e.failure->systemError = error;
    return e;
}

SerialError TcpLink::unreachable(const QString &what) const
{
    return portError(ErrPortOpenFailed,
                     {.kind = PortFailure::Kind::Unreachable, .device = m_path, .port = m_comPort, .systemText = what});
}

SerialError TcpLink::lostError(const QString &what) const
{
    return portError(ErrPortLost, {.kind = PortFailure::Kind::Lost, .device = m_path, .port = m_comPort, .systemText = what});
}
