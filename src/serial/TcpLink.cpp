#include "TcpLink.h"

#include "SerialText.h"

#include <QUrl>

TcpLink::TcpLink(QObject *parent) : QObject(parent)
{
    m_connectTimer.setSingleShot(true);
    m_connectTimer.setTimerType(Qt::PreciseTimer);
    m_connectTimer.setInterval(kConnectTimeoutMs);
    connect(&m_connectTimer, &QTimer::timeout, this, [this] {
        if (m_state == State::Connecting)
            failOpen({ErrPortOpenFailed, networkUnreachableText(QStringLiteral("No answer within %1 s").arg(kConnectTimeoutMs / 1000),
                                                                m_path, m_comPort)});
    });
    connect(&m_socket, &QTcpSocket::connected, this, [this] {
        if (m_state != State::Connecting)
            return;
        m_connectTimer.stop();
        m_state = State::Connected;
        // Commands are a few bytes each: send them as they come.
        m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        m_socket.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    });
    connect(&m_socket, &QTcpSocket::readyRead, this, &TcpLink::readyRead);
    connect(&m_socket, &QTcpSocket::errorOccurred, this, &TcpLink::onSocketError);
    // A server that closes the connection reports RemoteHostClosedError first;
    // a disconnect without an error is a loss all the same.
    connect(&m_socket, &QTcpSocket::disconnected, this, [this] {
        if (m_state == State::Connected)
            onSocketError(QAbstractSocket::RemoteHostClosedError);
    });
}

TcpLink::~TcpLink()
{
    m_state = State::Closed;
    m_socket.abort();
}

bool TcpLink::isNetworkPath(const QString &path)
{
    return path.startsWith(QLatin1String("tcp://"), Qt::CaseInsensitive);
}

SerialResult TcpLink::open(const QString &path, int port)
{
    const QUrl url(path, QUrl::StrictMode);
    const bool valid = url.isValid() && url.scheme().compare(QLatin1String("tcp"), Qt::CaseInsensitive) == 0
        && !url.host().isEmpty() && url.port() > 0 && (url.path().isEmpty() || url.path() == QLatin1String("/"))
        && !url.hasQuery() && !url.hasFragment() && url.userInfo().isEmpty();
    if (!valid)
        return SerialError{ErrNoSuchPort, badNetworkAddressText(path, port)};
    close();
    m_path = path;
    m_host = url.host();
    m_port = url.port();
    m_comPort = port;
    m_state = State::Connecting;
    m_connectTimer.start();
    m_socket.connectToHost(m_host, quint16(m_port));
    return std::nullopt;
}

void TcpLink::close()
{
    ++m_generation;
    m_state = State::Closed;
    m_connectTimer.stop();
    m_socket.abort();
}

SerialResult TcpLink::write(const QByteArray &bytes)
{
    if (m_state == State::Closed)
        return SerialError{ErrPortNotOpen, QStringLiteral("Port is not open")};
    // While connecting the socket keeps the bytes and sends them once connected.
    if (m_socket.write(bytes) != bytes.size())
        return SerialError{ErrWriteFailed, QStringLiteral("Write failed: %1").arg(m_socket.errorString())};
    return std::nullopt;
}

QByteArray TcpLink::readAll()
{
    return m_socket.readAll();
}

// Errors are handled from the event loop, not inside the socket's own signal: the
// operator's answer to the notice may open the link again at once, which the
// socket must not see while it is still reporting.
void TcpLink::onSocketError(QAbstractSocket::SocketError error)
{
    if (m_state == State::Closed)
        return;
    const bool connecting = m_state == State::Connecting;
    SerialError e;
    if (!connecting) {
        e = {ErrPortLost, networkLostText(error == QAbstractSocket::RemoteHostClosedError
                                              ? QStringLiteral("The device server closed the connection")
                                              : m_socket.errorString(),
                                          m_path)};
    } else if (error == QAbstractSocket::ConnectionRefusedError) {
        e = {ErrPortOpenFailed, connectionRefusedText(m_path, m_host, m_port, m_comPort)};
    } else if (error == QAbstractSocket::HostNotFoundError) {
        e = {ErrPortOpenFailed, hostNotFoundText(m_path, m_host, m_comPort)};
    } else {
        e = {ErrPortOpenFailed, networkUnreachableText(m_socket.errorString(), m_path, m_comPort)};
    }
    // The link is closed from here on: later errors and the disconnect of this
    // connection are not reported again.
    m_state = State::Closed;
    m_connectTimer.stop();
    QMetaObject::invokeMethod(
        this,
        [this, e, connecting, generation = m_generation] {
            if (generation != m_generation)
                return;
            m_socket.abort();
            connecting ? emit openFailed(e) : emit lost(e);
        },
        Qt::QueuedConnection);
}

void TcpLink::failOpen(const SerialError &error)
{
    close();
    emit openFailed(error);
}
