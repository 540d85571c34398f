#include "Simulator.h"

#include "LineSpeed.h"
#include "Support.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include <poll.h>
#include <unistd.h>

namespace orvasim {

Simulator::Simulator(const Options &o, int quitFd)
    : m_opt(o)
    , m_quitFd(quitFd)
    , m_projector(o.projector)
    , m_scheduler(o.delayMs, static_cast<std::size_t>(o.splitBytes), o.splitGapMs)
    , m_noise(o.seed ? *o.seed
                     : static_cast<uint64_t>(time(nullptr)) * 0x9E3779B97F4A7C15ULL
                           ^ static_cast<uint64_t>(getpid()))
    , m_startMs(monotonicMs())
{
    for (const std::string &state : o.states)
        m_projector.setState(state, m_startMs);
}

void Simulator::log(int64_t nowMs, std::string_view what, std::string_view text)
{
    if (!m_opt.log)
        return;
    std::string l = std::to_string(elapsed(nowMs));
    l += ' ';
    l += what;
    l += ' ';
    l += text;
    l += '\n';
    writeLogLine(l);
}

void Simulator::queueOutput(std::string_view bytes)
{
    // Nobody is reading the line and its buffer is full: drop rather than
    // grow without bound.
    if (m_out.size() + bytes.size() > kMaxOutput)
        return;
    m_out.append(bytes);
}

std::string Simulator::asReceived(std::string_view bytes, int64_t nowMs)
{
    const std::optional<speed_t> speed = m_line.panelSpeed();
    if (!speed)
        return std::string(bytes);
    const uint32_t panelBaud = baudOf(*speed);
    if (panelBaud != m_panelBaud) {
        m_panelBaud = panelBaud;
        log(nowMs, "SPEED", "panel " + std::to_string(panelBaud) + ", simulator " + std::to_string(m_opt.baud));
    }
    // The commands are read as sent: a pseudo-terminal carries bytes, not
    // bits. A real projector would mostly not make them out either and stay
    // quiet (--silent plays that); here it answers, so that the panel sees
    // what a reply at the wrong speed turns into.
    return receivedAtSpeed(bytes, static_cast<uint32_t>(m_opt.baud), panelBaud);
}

void Simulator::flushOutput(int64_t nowMs)
{
    while (!m_out.empty() && m_line.ready()) {
        const ssize_t n = write(m_line.fd(), m_out.data(), m_out.size());
        if (n > 0) {
            m_out.erase(0, static_cast<std::size_t>(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return; // poll() tells us when there is room again
        } else {
            lineLost(nowMs);
            return;
        }
    }
}

void Simulator::handleCommand(const std::string &code, int64_t nowMs)
{
    log(nowMs, "RX", printableCode(code));
    const std::vector<Reply> replies = m_projector.onLine(code, nowMs);
    if (m_opt.silent || m_opt.flood)
        return;
    for (const Reply &r : replies)
        m_scheduler.add(m_opt.garbage ? m_noise.garbage() : r, nowMs);
}

void Simulator::readLine(int64_t nowMs)
{
    char buf[4096];
    // Bounded so a chatty panel cannot starve the timers.
    for (int round = 0; round < 16 && m_line.ready(); ++round) {
        const ssize_t n = read(m_line.fd(), buf, sizeof buf);
        if (n > 0) {
            for (const std::string &code : m_reader.feed(std::string_view(buf, static_cast<std::size_t>(n))))
                handleCommand(code, nowMs);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        // n == 0 (device gone) or EIO (pseudo-terminal hung up) or worse.
        lineLost(nowMs);
        return;
    }
}

void Simulator::lineLost(int64_t nowMs)
{
    m_line.lost(nowMs);
    m_reader.reset();
    m_scheduler.clear();
    m_out.clear();
}

void Simulator::lineBack(int64_t nowMs)
{
    m_floodStartMs = nowMs;
    m_floodSent = 0;
}

void Simulator::topUpFlood(int64_t nowMs)
{
    if (!m_opt.flood || !m_line.ready() || !m_out.empty())
        return;
    const auto bytesPerSecond = static_cast<uint64_t>(m_opt.baud / 10);
    const uint64_t expected = static_cast<uint64_t>(nowMs - m_floodStartMs) * bytesPerSecond / 1000;
    // After a stall (nobody reading) do not try to catch up more than a
    // fifth of a second: the line rate is a ceiling, not a debt.
    const uint64_t maxBurst = std::max<uint64_t>(1, bytesPerSecond / 5);
    if (expected > m_floodSent + maxBurst)
        m_floodSent = expected - maxBurst;
    if (expected > m_floodSent) {
        m_out += asReceived(m_noise.flood(static_cast<std::size_t>(expected - m_floodSent)), nowMs);
        m_floodSent = expected;
    }
}

std::optional<int64_t> Simulator::nextFloodMs(int64_t nowMs) const
{
    if (!m_opt.flood || !m_line.ready() || !m_out.empty())
        return std::nullopt; // a pending write wakes us through POLLOUT
    const auto bytesPerSecond = static_cast<uint64_t>(m_opt.baud / 10);
    // When the next byte falls due, but in batches of at least 10 ms.
    const uint64_t msForNext = ((m_floodSent + 1) * 1000 + bytesPerSecond - 1) / bytesPerSecond;
    return std::max<int64_t>(nowMs + 10, m_floodStartMs + static_cast<int64_t>(msForNext));
}

int Simulator::run()
{
    m_floodStartMs = monotonicMs();
    for (;;) {
        const int64_t now = monotonicMs();

        if (m_line.retryIfDue(now))
            lineBack(now);
        m_projector.tick(now);
        for (auto &piece : m_scheduler.takeDue(now)) {
            const std::string bytes = asReceived(piece.bytes, now);
            log(now, "TX", hexBytes(bytes));
            queueOutput(bytes);
        }
        topUpFlood(now);
        flushOutput(now);

        // Measure again: the work above took time, and a timeout counted
        // from the top of the loop would wake us late.
        const int64_t beforePoll = monotonicMs();
        std::optional<int64_t> wake;
        auto consider = [&wake](std::optional<int64_t> t) {
            if (t && (!wake || *t < *wake))
                wake = t;
        };
        consider(m_scheduler.nextDueMs());
        consider(m_projector.nextTransitionMs());
        consider(nextFloodMs(beforePoll));
        consider(m_line.retryAtMs());
        int timeout = -1;
        if (wake)
            timeout = static_cast<int>(std::clamp<int64_t>(*wake - beforePoll, 0, INT_MAX));

        pollfd fds[3];
        nfds_t nfds = 0;
        fds[nfds++] = {m_quitFd, POLLIN, 0};
        const nfds_t lineIdx = nfds;
        const int lineFd = m_line.fd();
        if (lineFd >= 0)
            fds[nfds++] = {lineFd, static_cast<short>(POLLIN | (m_out.empty() ? 0 : POLLOUT)), 0};
        else
            fds[nfds++] = {m_line.listenFd(), POLLIN, 0}; // -1 (ignored) unless listening
        nfds_t stdinIdx = 0;
        if (m_opt.exitOnStdinEof) {
            stdinIdx = nfds;
            fds[nfds++] = {STDIN_FILENO, POLLIN, 0};
        }

        const int rc = poll(fds, nfds, timeout);
        if (rc < 0) {
            if (errno == EINTR)
                continue;
            std::fprintf(stderr, "orva-sim: poll: %s\n", std::strerror(errno));
            return 1;
        }
        const int64_t after = monotonicMs();

        if (fds[0].revents & POLLIN)
            return 0; // SIGTERM or SIGINT

        if (stdinIdx && fds[stdinIdx].revents) {
            char buf[512];
            // poll() said readable, so this read does not block.
            const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
            if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN) || (fds[stdinIdx].revents & POLLNVAL))
                return 0;
        }

        const short ev = fds[lineIdx].revents;
        if (lineFd < 0 && fds[lineIdx].fd >= 0 && ev) {
            if (m_line.acceptClient())
                lineBack(after);
        } else if (fds[lineIdx].fd >= 0 && ev) {
            if (ev & POLLIN)
                readLine(after); // reads what is left, then sees the hang-up
            else if (ev & (POLLHUP | POLLERR | POLLNVAL))
                lineLost(after);
            if ((ev & POLLOUT) && m_line.ready())
                flushOutput(after);
        }
    }
}

} // namespace orvasim
