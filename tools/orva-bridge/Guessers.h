#pragma once
// Wrong passwords from each address, which slow its further attempts: after the
// free ones, each attempt waits its turn, right or wrong, the turns spaced by a
// wait that doubles with each wrong one (up to the longest), so that trying many
// at once gains nothing. IPv6 addresses count by their /64, which one host holds.
// An address's wrong ones are forgotten after a quiet time; so many are kept.

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>

namespace bridge {

class Guessers {
public:
    static constexpr int kFirstWaitMs = 1000;
    static constexpr int kLongestWaitMs = 30000;
    static constexpr qint64 kForgetMs = 10 * 60 * 1000;
    static constexpr int kMaxGuessers = 1024;

    explicit Guessers(int freeAttempts) : m_free(freeAttempts) { m_clock.start(); }
    // An attempt from `from`: how long it waits for its turn (0 while it has wrong
    // ones to spare); the next attempt's turn comes a wait after this one's.
    int claim(const QHostAddress &from);
    // A wrong one from `from`; true when it is the one after which its attempts
    // wait (to be logged, once).
    bool wrong(const QHostAddress &from);
    // A right one from `from`: its wrong ones are forgotten.
    void right(const QHostAddress &from) { m_guessers.remove(key(from)); }

private:
    struct Guesser {
        int wrong = 0;
        QElapsedTimer quiet;  // since its last wrong password
        qint64 nextTurn = 0;  // on m_clock, ms
    };
    static QHostAddress key(const QHostAddress &from);
    Guesser *find(const QHostAddress &from);

    int m_free;
    QElapsedTimer m_clock;
    QHash<QHostAddress, Guesser> m_guessers;
};

} // namespace bridge
