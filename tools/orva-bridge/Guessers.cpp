#include "Guessers.h"

#include <algorithm>

namespace bridge {

Guessers::Guesser *Guessers::find(const QHostAddress &from)
{
    const auto found = m_guessers.find(from);
    if (found == m_guessers.end())
        return nullptr;
    if (found->quiet.hasExpired(kForgetMs)) {
        m_guessers.erase(found);
        return nullptr;
    }
    return &*found;
}

int Guessers::waitMs(const QHostAddress &from)
{
    const Guesser *g = find(from);
    if (!g || g->wrong < m_free)
        return 0;
    return std::min(kLongestWaitMs, kFirstWaitMs << std::min(g->wrong - m_free, 5));
}

bool Guessers::wrong(const QHostAddress &from)
{
    if (!find(from) && m_guessers.size() >= kMaxGuessers)
        m_guessers.erase(std::max_element(m_guessers.begin(), m_guessers.end(), [](const Guesser &a, const Guesser &b) {
            return a.quiet.elapsed() < b.quiet.elapsed();
        }));
    Guesser &g = m_guessers[from];
    g.quiet.start();
    return ++g.wrong == m_free;
}

} // namespace bridge
