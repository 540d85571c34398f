#pragma once
// One projector's line, shared by every client: each command waits its turn in
// one queue and goes out when the one before it is answered (an ACK, or text
// ending in CR) or its reply window has ended. A reply goes to the client whose
// command it answers; identical status queries waiting at once go out once.

#include <QObject>
#include <QString>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class ExchangeEngine;
class QtSerialControl;

namespace bridge {

struct Reply {
    bool answered = false;  // a reply came: `text` holds it
    QString text;           // the reply's characters
    QString error;          // else why not: no reply, port closed, queue full ...
    bool unreachable = false;  // not answered because the projector is not there: no reply, port closed
};

using ClientId = quintptr;
using ReplyHandler = std::function<void(const Reply &)>;

class ProjectorQueue final : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxWaiting = 64;
    static constexpr int kReopenMs = 3000;

    // `device`: a device path or tcp://HOST:PORT; `settings`: "19200,N,8,1" ...
    ProjectorQueue(const QString &device, const QString &settings, QObject *parent = nullptr);
    ~ProjectorQueue() override;

    // Opens the port; while it is closed, it is tried again every kReopenMs.
    void start();
    // A command: a button's control (its code and reply window), or, with an empty
    // control, a command text (the manual entry's reply window). False, and nothing
    // queued, when kMaxWaiting commands wait already.
    bool enqueue(ClientId client, const QString &control, const QString &text, ReplyHandler done);
    // The client went away: its waiting commands are dropped, a reply to its command
    // on the line goes nowhere.
    void dropClient(ClientId client);
    // Every waiting command (and the one on the line) answered with `why`; the port closed.
    void stop(const QString &why);

    // The code a command puts on the line: its button's (empty for a name that is
    // none), or its text; and whether that is a status query (it starts with "CR").
    static QString codeOf(const QString &control, const QString &text);
    static bool isStatusQuery(const QString &code) { return code.startsWith(QLatin1String("CR")); }

    bool portOpen() const;
    int waiting() const { return int(m_waiting.size()); }
    ExchangeEngine &engine() { return *m_engine; }

signals:
    // A line for the service's log: warnings of the port, its recovery.
    void logLine(const QString &text);
    // Characters that came while no command waited for a reply.
    void unsolicited(const QString &chunk);

private:
    struct Job {
        QString control;
        QString text;
        std::vector<std::pair<ClientId, ReplyHandler>> askers;
    };
    void sendNext();
    void finishCurrent(const Reply &reply);
    void onReceived(const QString &chunk);
    void tryOpen();
    static bool joinable(const Job &job, const QString &control, const QString &text);

    std::unique_ptr<QtSerialControl> m_serial;
    std::unique_ptr<ExchangeEngine> m_engine;
    QString m_settings;
    std::deque<Job> m_waiting;
    std::optional<Job> m_current;
    QString m_reply;
    QTimer m_reopen;
    bool m_stopped = false;
    bool m_finishing = false;  // the askers of a finished command are hearing its reply
    QString m_lastWarning;
};

} // namespace bridge
