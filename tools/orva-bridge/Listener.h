#pragma once
// What the bridge's listeners share: a TCP listener whose connections are bounded
// in number (in all, and from one address), in what each may leave buffered, and
// which waits rather than spins while the process has no descriptor free.

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QSslConfiguration>
#include <QString>
#include <QTcpServer>
#include <QTimer>
#include <memory>
#include <optional>

class QSocketNotifier;
class QTcpSocket;

namespace bridge {

inline constexpr int kDefaultMaxConnections = 32;
// Connections one address may hold open at once on one listener.
inline constexpr int kMaxPerAddress = 8;
// What one connection may leave buffered: input not yet parsed (beyond it Qt reads
// no more from the kernel), and output the client has not taken (beyond it the
// connection is closed).
inline constexpr qint64 kMaxBuffered = 64 * 1024;
// Output the client has taken none of for this long: it does not read; closed.
inline constexpr int kDrainTimeoutMs = 5000;
// Accepting, paused for want of descriptors, is tried again after this long (and
// whenever a connection closes).
inline constexpr int kRetryAcceptMs = 1000;
// A listener's trouble (full, out of descriptors) is logged once per burst: a burst
// ends after this long without it.
inline constexpr int kQuietMs = 60000;

// Whether a trouble that happens now starts a burst (none for kQuietMs before it):
// then it is logged. `last` is when it last happened, now.
inline bool startsBurst(QElapsedTimer &last)
{
    const bool starts = !last.isValid() || last.hasExpired(kQuietMs);
    last.start();
    return starts;
}

class Listener final : public QObject {
    Q_OBJECT
public:
    // `name` starts its log lines: "PJLink", "raw port".
    explicit Listener(const char *name, QObject *parent = nullptr);
    ~Listener() override;

    bool listen(const QHostAddress &address, quint16 port);
    quint16 port() const { return m_server.serverPort(); }
    QString errorString() const { return m_server.errorString(); }
    // No more connections are taken (those open stay).
    void close();
    // How many connections may be open at once; the next is closed.
    void setMaxConnections(int n) { m_maxConnections = n; }
    void setMaxPerAddress(int n) { m_maxPerAddress = n; }
    // What a connection beyond the limits is sent before it is closed.
    void setRefusal(const QByteArray &text) { m_refusal = text; }
    // Every connection is TLS with this configuration (its certificate and key): the
    // handshake starts as it is admitted, and one that fails closes it.
    void setTls(const QSslConfiguration &tls) { m_tls = tls; }
    int connections() const { return int(m_open.size()); }
    // `bytes` to a connection admitted here; one that leaves more than kMaxBuffered
    // untaken, or takes nothing for kDrainTimeoutMs, is closed with a log line.
    // now: handed to the kernel before send returns, not at the event loop's next turn
    // (straight, with no bytesWritten, when nothing waits before it).
    void send(QTcpSocket *socket, const QByteArray &bytes, bool now = false);

signals:
    // A connection taken: it reads at most kMaxBuffered ahead, and counts until it
    // is destroyed.
    void admitted(QTcpSocket *socket);
    void logLine(const QString &text);

private:
    struct Open {
        QHostAddress from;
        QTimer *drain;
        bool dropped = false;
    };
    struct Source {
        int open = 0;
        bool refusalLogged = false;  // in this burst: until its connections are all gone
    };
    void takeConnections();
    void admit(QTcpSocket *socket);
    void pauseAccepting(const QString &why);
    void resumeAccepting();
    void onDestroyed(QObject *socket);
    void drop(QTcpSocket *socket, Open &open);
    void log(const QString &text) { emit logLine(m_name + QStringLiteral(": ") + text); }
    // `text` logged unless `last` was less than kQuietMs ago; `last` now.
    void logBurst(QElapsedTimer &last, const QString &text);

    QString m_name;
    int m_maxConnections = kDefaultMaxConnections;
    int m_maxPerAddress = kMaxPerAddress;
    QByteArray m_refusal;
    std::optional<QSslConfiguration> m_tls;
    QElapsedTimer m_lastHandshake;  // the last failed TLS handshake
    QHash<const QObject *, Open> m_open;
    QHash<QHostAddress, Source> m_sources;
    QElapsedTimer m_lastFull, m_lastPause;  // the last refusal for being full, the last failed accept
    QTimer m_retry;
    // Binds and listens; the connections are taken here (m_waiting), not by Qt 6.4's
    // QTcpServer, which tries an accept that failed for want of descriptors again at
    // once, without a signal: a spin.
    QTcpServer m_server;
    std::unique_ptr<QSocketNotifier> m_waiting;
};

} // namespace bridge
