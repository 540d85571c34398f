#pragma once
// One projector's line, shared by every client. Each client's commands wait in
// the queue and the clients take turns, one command each; a command goes out when
// the one before it is answered (an ACK, or text ending in CR) or its reply
// window has ended. A reply goes to the client whose command it answers;
// identical status queries waiting at once go out once.
//
// The line's truth: a reply is what arrives while its command's reply window is
// open. After a command that got no complete reply, what arrives late is
// discarded, and the next command waits until the line has been quiet; a reply to
// a status query whose form does not fit the query is no answer.

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <array>
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

// How a command ended, as the queue counts them: answered (an ACK, or a status
// query's reply of its form), answered otherwise (a command's reply with no ACK),
// a reply that does not fit or was cut short, no reply, the port closed, or not
// taken for a full queue.
enum class Outcome { Answered, NotAcknowledged, BadReply, NoReply, PortClosed, QueueFull };
inline constexpr int kOutcomes = 6;
// The upper bounds of the reply times counted, in seconds.
inline constexpr std::array<double, 9> kReplyBuckets = {0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5};

// What the queue has counted since it began.
struct QueueCounts {
    std::array<quint64, kOutcomes> outcomes{};  // by Outcome
    // Answered commands by reply time (from the command's going out to its reply's
    // end): within each bound of kReplyBuckets, or beyond the last; and their sum.
    std::array<quint64, kReplyBuckets.size() + 1> replyTimes{};
    double replySeconds = 0;
    quint64 portLosses = 0;  // an open port lost (a device unplugged, a link dropped)
};
using ReplyHandler = std::function<void(const Reply &)>;

class ProjectorQueue final : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxWaiting = 64;
    // Commands one client may have waiting (a status query it joins counts too).
    static constexpr int kClientShare = 8;
    static constexpr int kReopenMs = 3000;
    // How long the line must be quiet after a late reply has ended before the next
    // command (some ten characters at 9600 baud).
    static constexpr int kQuietMs = 100;
    // After this many commands in a row with no character at all, the projector is
    // taken as absent: the next goes out without waiting for a late reply.
    static constexpr int kSilentBeforeAbsent = 2;

    // `device`: a device path or tcp://HOST:PORT; `settings`: "19200,N,8,1" ...
    ProjectorQueue(const QString &device, const QString &settings, QObject *parent = nullptr);
    ~ProjectorQueue() override;

    // Opens the port; while it is closed, it is tried again every kReopenMs.
    void start();
    // A command: a one-shot command's name (its code and reply window), or, with an
    // empty name, a command text (the manual entry's reply window). False, and nothing
    // queued, when the client has kClientShare commands waiting or kMaxWaiting
    // commands wait already. A text that is no command (empty, beyond printable
    // ASCII, longer than kLongestCommandText) is answered at once with an error.
    bool enqueue(ClientId client, const QString &command, const QString &text, ReplyHandler done);
    // The client went away: its waiting commands are dropped, a reply to its command
    // on the line goes nowhere.
    void dropClient(ClientId client);
    // Every waiting command (and the one on the line) answered with `why`; the port closed.
    void stop(const QString &why);

    // The code a command puts on the line: its row's (empty for a name that is none),
    // or its text; and whether that is a status query (it starts with "CR").
    static QString codeOf(const QString &command, const QString &text);
    static bool isStatusQuery(const QString &code) { return code.startsWith(QLatin1String("CR")); }

    bool portOpen() const;
    int waiting() const { return int(m_waiting.size()); }
    // Whether the line is being let settle (a late reply being discarded).
    bool settling() const { return m_quiet.isActive(); }
    ExchangeEngine &engine() { return *m_engine; }
    const QueueCounts &counts() const { return m_counts; }

signals:
    // A line for the service's log: warnings of the port, its recovery.
    void logLine(const QString &text);
    // Characters that came while no command waited for a reply and the line was
    // settled (a late reply is discarded, never passed on).
    void unsolicited(const QString &chunk);
    // A command is done, whoever asked it: its code ("CR0") and its reply (a status
    // query's reply, when it came, has the form of its answer).
    void finished(const QString &code, const bridge::Reply &reply);

private:
    struct Job {
        QString command;
        QString text;
        std::vector<std::pair<ClientId, ReplyHandler>> askers;  // the first is the client whose turn it takes
    };
    void sendNext();
    // The command on the line is done; the line settles for `quietMs` before the next.
    // An answered one is counted by its reply; else as `failure`, where it is one.
    void finishCurrent(std::optional<Outcome> failure, const Reply &reply, int quietMs = 0);
    // A kind of trouble, logged once until a reply comes in time and fits.
    void tell(const QString &trouble);
    void onReceived(const QString &chunk);
    void tryOpen();
    int asksOf(ClientId client) const;
    static bool joinable(const Job &job, const QString &command, const QString &text);

    std::unique_ptr<QtSerialControl> m_serial;
    std::unique_ptr<ExchangeEngine> m_engine;
    QString m_settings;
    std::deque<Job> m_waiting;      // in the order they were asked
    std::deque<ClientId> m_turns;   // the clients with commands waiting, the next to be served first
    std::optional<Job> m_current;
    QString m_reply;
    QTimer m_reopen;
    QTimer m_quiet;                 // runs while the line settles
    int m_settleMs = 0;             // the reply window of the command that left it unsettled
    QElapsedTimer m_settling;       // since the line began to settle
    int m_silentInARow = 0;         // commands unanswered since the last character came
    QElapsedTimer m_sentAt;         // since the command on the line went out
    QueueCounts m_counts;
    bool m_stopped = false;
    bool m_finishing = false;  // the askers of a finished command are hearing its reply
    QStringList m_told;        // the troubles logged since the last clean reply
    QString m_lastWarning;
};

} // namespace bridge
