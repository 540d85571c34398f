#include "Guessers.h"

#include <algorithm>

namespace bridge {

QHostAddress Guessers::key(const QHostAddress &from)
{
    bool v4 = false;
    from.toIPv4Address(&v4);
    if (v4 || from.protocol() != QAbstractSocket::IPv6Protocol)
        return from;
    Q_IPV6ADDR bytes = from.toIPv6Address();
    std::fill(std::begin(bytes.c) + 8, std::end(bytes.c), 0);
    return QHostAddress(bytes);
}

Guessers::Guesser *Guessers::find(const QHostAddress &from)
{
    const auto found = m_guessers.find(key(from));
    if (found == m_guessers.end())
        return nullptr;
    if (found->quiet.hasExpired(kForgetMs)) {
        m_guessers.erase(found);
        return nullptr;
    }
    return &*found;
}

int Guessers::claim(const QHostAddress &from)
{
    Guesser *g = find(from);
    if (!g || g->wrong < m_free)
        return 0;
    const qint64 spacing = std::min(kLongestWaitMs, kFirstWaitMs << std::min(g->wrong - m_free, 5));
    const qint64 turn = std::max(m_clock.elapsed(), g->nextTurn) + spacing;
    g->nextTurn = turn;
    return int(turn - m_clock.elapsed());
}

bool Guessers::wrong(const QHostAddress &from)
{
    if (!find(from) && m_guessers.size() >= kMaxGuessers)
        m_guessers.erase(std::max_element(m_guessers.begin(), m_guessers.end(), [](const Guesser &a, const Guesser &b) {
            return a.quiet.elapsed() < b.quiet.elapsed();
        }));
    Guesser &g = m_guessers[key(from)];
    g.quiet.start();
    return ++g.wrong == m_free;
}

} // namespace bridge
