#pragma once
// Wrong passwords from each address, which slow its further attempts: after the
// free ones, each waits (the first wait doubled with each wrong one after it, up
// to the longest), right or wrong, so that trying many at once gains nothing.
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

    explicit Guessers(int freeAttempts) : m_free(freeAttempts) {}
    // How long an attempt from `from` waits before it is checked.
    int waitMs(const QHostAddress &from);
    // A wrong one from `from`; true when it is the one after which its attempts
    // wait (to be logged, once).
    bool wrong(const QHostAddress &from);
    // A right one from `from`: its wrong ones are forgotten.
    void right(const QHostAddress &from) { m_guessers.remove(from); }

private:
    struct Guesser {
        int wrong = 0;
        QElapsedTimer quiet;  // since its last wrong password
    };
    Guesser *find(const QHostAddress &from);

    int m_free;
    QHash<QHostAddress, Guesser> m_guessers;
};

} // namespace bridge
