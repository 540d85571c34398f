// orva-sim: a projector on the end of a serial line, for trying out the panel
// without hardware. By default it serves on a fresh pseudo-terminal and
// prints the path to open as the first line on stdout.
//
// One thread, one poll() loop; every timer (power transitions, delayed and
// split replies, flood pacing, reopen back-off) feeds the poll timeout.

#include "Projector.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using namespace orvasim;

namespace {

// ---------------------------------------------------------------------------
// Options

struct Options
{
    std::string device; // empty: serve on a pseudo-terminal
    int64_t baud = 19200;
    speed_t speed = B19200;
    ProjectorConfig projector;
    bool silent = false;
    int64_t delayMs = 0;
    int64_t splitBytes = 0;
    int64_t splitGapMs = 20;
    bool garbage = false;
    bool flood = false;
    std::optional<uint64_t> seed;
    bool log = false;
    bool exitOnStdinEof = false;
};

void printUsage(FILE *to)
{
    std::fputs(
        "Usage: orva-sim [options]\n"
        "Simulates a data projector on an RS-232 line. Without --device it opens a\n"
        "pseudo-terminal and prints the path of its slave side as the first line on\n"
        "stdout; open that path with the panel.\n"
        "\n"
        "  --device PATH          serve on this serial device instead of a pseudo-terminal\n"
        "  --baud N               line speed (default 19200); paces --flood\n"
        "  --countdown-ms N       power-on count down (default 3000)\n"
        "  --cooldown-ms N        power-off cooling down (default 5000)\n"
        "  --on                   start powered on instead of in standby\n"
        "  --lamp-hours N         lamp time reported by CR3, 0..99999 (default 1234)\n"
        "  --pressure N           value reported by CR PRESSURE (default 512)\n"
        "  --silent               never answer\n"
        "  --delay-ms N           answer N ms late\n"
        "  --split N              send replies in pieces of N bytes\n"
        "  --split-gap-ms M       pause between pieces (default 20)\n"
        "  --garbage              answer every command with random control and 8-bit\n"
        "                         bytes followed by CR\n"
        "  --seed N               seed for --garbage and --flood (default: time based)\n"
        "  --flood                send digits and CRs at line rate without being asked;\n"
        "                         commands are still read but not answered\n"
        "  --log                  log commands and replies to stderr:\n"
        "                         \"<ms> RX <code>\" and \"<ms> TX <hex bytes>\"\n"
        "  --exit-on-stdin-eof    exit when standard input reaches end of file\n"
        "  --help                 show this text\n"
        "\n"
        "Exits with status 0 on SIGTERM, SIGINT or SIGHUP.\n",
        to);
}

bool parseNumber(std::string_view text, int64_t min, int64_t max, int64_t &out)
{
    int64_t v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || v < min || v > max)
        return false;
    out = v;
    return true;
}

std::optional<speed_t> speedFor(int64_t baud)
{
    switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    default: return std::nullopt;
    }
}

// Returns the options, or an exit status when the program should stop here.
std::variant<Options, int> parseArgs(int argc, char **argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        std::optional<std::string_view> inlineValue;
        if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string_view::npos) {
            inlineValue = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
        }
        auto fail = [&](const std::string &why) {
            std::fprintf(stderr, "orva-sim: %s\nTry 'orva-sim --help'.\n", why.c_str());
            return 2;
        };
        auto flag = [&](bool &target) -> bool {
            if (inlineValue)
                return false;
            target = true;
            return true;
        };
        auto value = [&](std::string_view &out) -> bool {
            if (inlineValue) {
                out = *inlineValue;
                return true;
            }
            if (i + 1 >= argc)
                return false;
            out = argv[++i];
            return true;
        };
        auto number = [&](int64_t min, int64_t max, int64_t &out) -> std::optional<int> {
            std::string_view v;
            if (!value(v))
                return fail(std::string(arg) + " needs a value");
            if (!parseNumber(v, min, max, out))
                return fail(std::string(arg) + ": expected a whole number from " + std::to_string(min)
                            + " to " + std::to_string(max) + ", got '" + std::string(v) + "'");
            return std::nullopt;
        };

        std::optional<int> err;
        int64_t n = 0;
        if (arg == "--help" || arg == "-h") {
            printUsage(stdout);
            return 0;
        } else if (arg == "--device") {
            std::string_view v;
            if (!value(v) || v.empty())
                return fail("--device needs a path");
            o.device = std::string(v);
        } else if (arg == "--baud") {
            if (!(err = number(1, 4000000, o.baud))) {
                if (const auto s = speedFor(o.baud))
                    o.speed = *s;
                else
                    return fail("--baud: unsupported speed " + std::to_string(o.baud)
                                + " (1200 2400 4800 9600 19200 38400 57600 115200 230400)");
            }
        } else if (arg == "--countdown-ms") {
            err = number(0, 86400000, o.projector.countdownMs);
        } else if (arg == "--cooldown-ms") {
            err = number(0, 86400000, o.projector.cooldownMs);
        } else if (arg == "--on") {
            if (!flag(o.projector.startOn))
                return fail("--on takes no value");
        } else if (arg == "--lamp-hours") {
            if (!(err = number(0, Projector::kMaxLampHours, n)))
                o.projector.lampHours = static_cast<uint32_t>(n);
        } else if (arg == "--pressure") {
            if (!(err = number(0, 99999, n)))
                o.projector.pressure = static_cast<uint32_t>(n);
        } else if (arg == "--silent") {
            if (!flag(o.silent))
                return fail("--silent takes no value");
        } else if (arg == "--delay-ms") {
            err = number(0, 600000, o.delayMs);
        } else if (arg == "--split") {
            err = number(0, 4096, o.splitBytes);
        } else if (arg == "--split-gap-ms") {
            err = number(0, 60000, o.splitGapMs);
        } else if (arg == "--garbage") {
            if (!flag(o.garbage))
                return fail("--garbage takes no value");
        } else if (arg == "--seed") {
            std::string_view v;
            uint64_t seed = 0;
            if (!value(v))
                return fail("--seed needs a value");
            const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), seed);
            if (ec != std::errc() || end != v.data() + v.size())
                return fail("--seed: expected an unsigned whole number, got '" + std::string(v) + "'");
            o.seed = seed;
        } else if (arg == "--flood") {
            if (!flag(o.flood))
                return fail("--flood takes no value");
        } else if (arg == "--log") {
            if (!flag(o.log))
                return fail("--log takes no value");
        } else if (arg == "--exit-on-stdin-eof") {
            if (!flag(o.exitOnStdinEof))
                return fail("--exit-on-stdin-eof takes no value");
        } else {
            return fail("unknown option '" + std::string(argv[i]) + "'");
        }
        if (err)
            return *err;
    }
    return o;
}

// ---------------------------------------------------------------------------
// Small helpers

int64_t monotonicMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int g_signalPipe[2] = {-1, -1};

extern "C" void onQuitSignal(int)
{
    const int saved = errno;
    const char c = 'q';
    [[maybe_unused]] const ssize_t n = write(g_signalPipe[1], &c, 1);
    errno = saved;
}

bool setNonBlockingCloexec(int fd)
{
    const int fl = fcntl(fd, F_GETFL);
    if (fl < 0 || fcntl(fd, F_SETFL, fl | O_NONBLOCK) < 0)
        return false;
    const int fdfl = fcntl(fd, F_GETFD);
    return fdfl >= 0 && fcntl(fd, F_SETFD, fdfl | FD_CLOEXEC) >= 0;
}

bool makeRaw(int fd, speed_t speed, std::string &err)
{
    termios t{};
    if (tcgetattr(fd, &t) != 0) {
        err = std::string("tcgetattr: ") + std::strerror(errno);
        return false;
    }
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~(CSTOPB | PARENB | CRTSCTS | HUPCL);
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
        err = std::string("tcsetattr: ") + std::strerror(errno);
        return false;
    }
    return true;
}

// Writes one whole log line to stderr, or drops it if stderr cannot take it
// right now (a log must never stall the line).
void writeLogLine(const std::string &line)
{
    const char *p = line.data();
    std::size_t left = line.size();
    while (left > 0) {
        const ssize_t n = write(STDERR_FILENO, p, left);
        if (n > 0) {
            p += n;
            left -= static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return;
        }
    }
}

std::string printableCode(std::string_view code)
{
    std::string out;
    for (const char ch : code) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out.push_back(ch);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        }
    }
    return out;
}

std::string hexBytes(std::string_view bytes)
{
    std::string out;
    for (const char ch : bytes) {
        char buf[4];
        std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned char>(ch));
        if (!out.empty())
            out.push_back(' ');
        out += buf;
    }
    return out;
}

// ---------------------------------------------------------------------------
// The serial line: a pseudo-terminal master or a real device.
//
// For a pseudo-terminal we keep a slave descriptor of our own open all the
// time. Without it the master reports POLLHUP and read() fails with EIO
// whenever no panel has the slave open (before the first open and after each
// close), and poll() would wake up for that hang-up continuously.
class SerialLine
{
public:
    ~SerialLine()
    {
        closeFd(m_slaveHold);
        closeFd(m_fd);
    }

    bool openPty(speed_t speed, std::string &err)
    {
        m_isPty = true;
        m_speed = speed;
        m_fd = posix_openpt(O_RDWR | O_NOCTTY);
        if (m_fd < 0) {
            err = std::string("posix_openpt: ") + std::strerror(errno);
            return false;
        }
        if (!setNonBlockingCloexec(m_fd) || grantpt(m_fd) != 0 || unlockpt(m_fd) != 0) {
            err = std::string("setting up the pseudo-terminal: ") + std::strerror(errno);
            return false;
        }
        const char *name = ptsname(m_fd);
        if (!name) {
            err = std::string("ptsname: ") + std::strerror(errno);
            return false;
        }
        m_path = name;
        if (!openSlaveHold(err))
            return false;
        m_ready = true;
        return true;
    }

    bool openDevice(const std::string &path, speed_t speed, std::string &err)
    {
        m_isPty = false;
        m_path = path;
        m_speed = speed;
        if (!openDeviceFd(err))
            return false;
        m_ready = true;
        return true;
    }

    const std::string &path() const { return m_path; }
    bool ready() const { return m_ready; }
    int fd() const { return m_ready ? m_fd : -1; }

    // The line hung up or failed. Take it out of the poll set and try again
    // after a pause, so a persistent hang-up cannot make the loop spin.
    void lost(int64_t nowMs)
    {
        if (!m_ready)
            return;
        m_ready = false;
        if (m_isPty) {
            closeFd(m_slaveHold);
            m_retryAtMs = nowMs + 100;
        } else {
            closeFd(m_fd);
            m_retryAtMs = nowMs + 1000;
        }
    }

    std::optional<int64_t> retryAtMs() const
    {
        if (m_ready)
            return std::nullopt;
        return m_retryAtMs;
    }

    // Returns true when the line has just become usable again.
    bool retryIfDue(int64_t nowMs)
    {
        if (m_ready || nowMs < m_retryAtMs)
            return false;
        std::string err;
        const bool ok = m_isPty ? openSlaveHold(err) : openDeviceFd(err);
        if (!ok) {
            m_retryAtMs = nowMs + (m_isPty ? 500 : 1000);
            return false;
        }
        m_ready = true;
        return true;
    }

private:
    static void closeFd(int &fd)
    {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }

    bool openSlaveHold(std::string &err)
    {
        closeFd(m_slaveHold);
        m_slaveHold = open(m_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (m_slaveHold < 0) {
            err = "opening " + m_path + ": " + std::strerror(errno);
            return false;
        }
        // Raw mode before anything is written: a fresh pseudo-terminal echoes
        // and turns CR into LF, which would corrupt every reply.
        if (!makeRaw(m_slaveHold, m_speed, err)) {
            closeFd(m_slaveHold);
            return false;
        }
        return true;
    }

    bool openDeviceFd(std::string &err)
    {
        closeFd(m_fd);
        m_fd = open(m_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (m_fd < 0) {
            err = "opening " + m_path + ": " + std::strerror(errno);
            return false;
        }
        if (!makeRaw(m_fd, m_speed, err)) {
            closeFd(m_fd);
            return false;
        }
        tcflush(m_fd, TCIOFLUSH);
        return true;
    }

    bool m_isPty = true;
    bool m_ready = false;
    int m_fd = -1;        // pseudo-terminal master, or the device
    int m_slaveHold = -1; // our own descriptor on the pseudo-terminal slave
    int64_t m_retryAtMs = 0;
    speed_t m_speed = B19200;
    std::string m_path;
};

// ---------------------------------------------------------------------------

class Simulator
{
public:
    explicit Simulator(const Options &o)
        : m_opt(o)
        , m_projector(o.projector)
        , m_scheduler(o.delayMs, static_cast<std::size_t>(o.splitBytes), o.splitGapMs)
        , m_noise(o.seed ? *o.seed
                         : static_cast<uint64_t>(time(nullptr)) * 0x9E3779B97F4A7C15ULL
                               ^ static_cast<uint64_t>(getpid()))
        , m_startMs(monotonicMs())
    {
    }

    int run();
    SerialLine &line() { return m_line; }

private:
    static constexpr std::size_t kMaxOutput = 64 * 1024;

    int64_t elapsed(int64_t nowMs) const { return nowMs - m_startMs; }
    void log(int64_t nowMs, std::string_view what, std::string_view text);
    void readLine(int64_t nowMs);
    void handleCommand(const std::string &code, int64_t nowMs);
    void queueOutput(std::string_view bytes);
    void flushOutput(int64_t nowMs);
    void topUpFlood(int64_t nowMs);
    std::optional<int64_t> nextFloodMs(int64_t nowMs) const;
    void lineLost(int64_t nowMs);
    void lineBack(int64_t nowMs);

    Options m_opt;
    SerialLine m_line;
    LineReader m_reader;
    Projector m_projector;
    ReplyScheduler m_scheduler;
    Noise m_noise;
    int64_t m_startMs;
    std::string m_out; // bytes accepted for the line, not yet written
    int64_t m_floodStartMs = 0;
    uint64_t m_floodSent = 0;
};

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
        m_out += m_noise.flood(static_cast<std::size_t>(expected - m_floodSent));
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
            log(now, "TX", hexBytes(piece.bytes));
            queueOutput(piece.bytes);
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
        fds[nfds++] = {g_signalPipe[0], POLLIN, 0};
        const nfds_t lineIdx = nfds;
        fds[nfds++] = {m_line.fd(), static_cast<short>(POLLIN | (m_out.empty() ? 0 : POLLOUT)), 0};
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
        if (fds[lineIdx].fd >= 0 && ev) {
            if (ev & POLLIN)
                readLine(after); // reads what is left, then sees the hang-up
            else if (ev & (POLLHUP | POLLERR | POLLNVAL))
                lineLost(after);
            if ((ev & POLLOUT) && m_line.ready())
                flushOutput(after);
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    auto parsed = parseArgs(argc, argv);
    if (const int *status = std::get_if<int>(&parsed))
        return *status;
    const Options &opt = std::get<Options>(parsed);

    if (pipe(g_signalPipe) != 0 || !setNonBlockingCloexec(g_signalPipe[0])
        || !setNonBlockingCloexec(g_signalPipe[1])) {
        std::fprintf(stderr, "orva-sim: pipe: %s\n", std::strerror(errno));
        return 1;
    }
    struct sigaction sa{};
    sa.sa_handler = onQuitSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    // A log written into a pipe that nobody drains must not stall the line.
    if (opt.log) {
        struct stat st{};
        if (fstat(STDERR_FILENO, &st) == 0 && S_ISFIFO(st.st_mode)) {
            const int fl = fcntl(STDERR_FILENO, F_GETFL);
            if (fl >= 0)
                fcntl(STDERR_FILENO, F_SETFL, fl | O_NONBLOCK);
        }
    }

    Simulator sim(opt);
    std::string err;
    const bool opened = opt.device.empty() ? sim.line().openPty(opt.speed, err)
                                           : sim.line().openDevice(opt.device, opt.speed, err);
    if (!opened) {
        std::fprintf(stderr, "orva-sim: %s\n", err.c_str());
        return 1;
    }
    std::printf("%s\n", sim.line().path().c_str());
    std::fflush(stdout);

    return sim.run();
}
