#pragma once
// What the bridge knows of one projector's state: the newest reading of each
// status query the bridge asks by itself (power, input, mute, lamp, temperatures),
// from any reply that answered it, whoever asked (PJLink, MQTT, the web API), until
// a command comes that may change it; and,
// for those that need the state no older than some time, one round of the queries
// that are older, asked once for all that wait at once.

#include "exchange/StatusDecoding.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <map>
#include <vector>

namespace bridge {

class ProjectorQueue;
struct Reply;

class ProjectorState final : public QObject {
    Q_OBJECT
public:
    explicit ProjectorState(ProjectorQueue &queue, QObject *parent = nullptr);
    ~ProjectorState() override;

    // `done` once each query has been answered within the last `maxAgeMs`, or was
    // asked again and not answered: at once when the state is that fresh.
    void whenFresh(int maxAgeMs, std::function<void()> done);
    // "available" (the projector's port is open and its last query was answered),
    // then each query's fields as orva-ctl --json gives them, null where no reply
    // told them (never a value older than the projector's last failure to answer).
    QJsonObject json() const;
    // Whether the projector answers: its port open, and its last status query answered.
    bool answering() const;
    // The newest reading of the status query `code` ("CR0"), or null where no reply
    // told it (likewise never one older than the projector's last failure to answer).
    const decoding::Reading *reading(QStringView code) const;

    // While something shows the state (a web page), a round of the queries older
    // than three quarters of `pollMs` is asked every `pollMs`, once however many show
    // it; none while nothing does.
    void watch();
    void unwatch();
    void setPollInterval(int ms) { m_poll.setInterval(ms); }
    // Another front end polls the projector anyway (MQTT, at the same interval): its
    // replies keep the state, and watching asks only what is older.
    void setPolledElsewhere() { m_polledElsewhere = true; }

signals:
    // The state (json()) changed.
    void changed(const QJsonObject &state);

private:
    struct Known {
        decoding::Reading reading;
        QElapsedTimer at;
        bool stale = false;  // a command came after it
    };
    struct Waiter {
        int maxAgeMs;
        std::function<void()> done;
        int round;  // the round that serves it: the first that began after it asked
    };
    void heard(const QString &code, const Reply &reply);
    bool fresh(const QString &code, int maxAgeMs) const;
    void startRound();
    // One query of round `round` is done (`whole`: the round is, the projector not there).
    void endRound(int round, bool whole);
    void tellChange();

    ProjectorQueue &m_queue;
    std::map<QString, Known> m_known;  // by the query's code
    std::vector<Waiter> m_waiting;
    int m_round = 0;   // the rounds begun
    int m_asking = 0;  // queries of the round under way not yet answered
    bool m_lastAnswered = false;
    int m_watchers = 0;
    bool m_polledElsewhere = false;
    QTimer m_poll;
    QJsonObject m_told;  // the state `changed` last told
};

} // namespace bridge
