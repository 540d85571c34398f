// bench_startup: time from fork to the first paint of a window, and peak RSS.
//
//   bench_startup [--runs N] [--settle-ms M] [--no-cutecom] [--full-area]
//
// Rows measured (N runs each, after one warm-up round that is not counted):
//  - bench_startup_inproc (what orva-panel's main() does, plus an event filter)
//    under QT_QPA_PLATFORM=offscreen, and under xcb when $DISPLAY is set: the
//    child reports the ms from our fork to the first QEvent::Paint of the
//    window and its VmHWM at that moment.
//  - the real orva-panel and cutecom under xcb ($DISPLAY, e.g. xvfb-run): seen
//    from outside. We watch the root window for the first MapNotify, then grab
//    (xcb_get_image) five whole rows across the mapped windows' area, or with
//    --full-area all of it, back to back until any pixel differs from the
//    empty screen. Qt creates its windows without a background, so mapping
//    alone changes no pixel: the first changed pixels are the first paint that
//    reached the screen. The figure is the time the detecting grab's reply came
//    in (an upper bound); the grab period, printed too, is its resolution.
//    M ms later (default 500) the program gets SIGTERM and its peak RSS comes
//    from wait4()'s ru_maxrss. A SIGTERM leaves the panel's serial port lock
//    file behind; it is removed so the next start does not pay a stale-lock check.
// The serial port of the panel is the slave of a pseudo-terminal opened here.

#include <xcb/xcb.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef ORVA_PANEL_PATH
#error "ORVA_PANEL_PATH must name the orva-panel binary"
#endif
#ifndef ORVA_INPROC_PATH
#error "ORVA_INPROC_PATH must name the bench_startup_inproc binary"
#endif

namespace {

long long monoNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec;
}
double msSince(long long t0) { return double(monoNs() - t0) / 1e6; }

void sleepMs(int ms)
{
    timespec ts{ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

struct Sample {
    double paintMs = -1;  // fork to first paint
    double rssMib = -1;   // peak RSS
    double grabMs = -1;   // grab period (outside view only)
    std::map<std::string, double> milestones;
};

struct Stats {
    double median = 0, min = 0, max = 0;
    std::size_t n = 0;
};

Stats stats(std::vector<double> v)
{
    Stats s;
    v.erase(std::remove_if(v.begin(), v.end(), [](double x) { return x < 0; }), v.end());
    if (v.empty())
        return s;
    std::sort(v.begin(), v.end());
    s.n = v.size();
    s.min = v.front();
    s.max = v.back();
    s.median = v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
    return s;
}

std::string fmt(const Stats &s, int prec)
{
    if (s.n == 0)
        return "n/a";
    char buf[96];
    std::snprintf(buf, sizeof buf, "%.*f (%.*f–%.*f)", prec, s.median, prec, s.min, prec, s.max);
    return buf;
}

// Ends a child that does not exit by itself; returns its rusage.
std::optional<rusage> terminate(pid_t pid, int graceMs)
{
    kill(pid, SIGTERM);
    const long long t0 = monoNs();
    bool killed = false;
    for (;;) {
        int status = 0;
        rusage ru{};
        const pid_t r = wait4(pid, &status, WNOHANG, &ru);
        if (r == pid)
            return ru;
        if (r < 0)
            return std::nullopt;
        if (!killed && msSince(t0) > graceMs) {
            kill(pid, SIGKILL);
            killed = true;
        }
        sleepMs(2);
    }
}

// The machine's load average (1, 5, 15 min).
std::string loadAverage()
{
    double a = 0, b = 0, c = 0;
    if (FILE *f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf %lf %lf", &a, &b, &c) != 3)
            a = b = c = 0;
        std::fclose(f);
    }
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.2f %.2f %.2f", a, b, c);
    return buf;
}

std::string findInPath(const char *name)
{
    const char *path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        const std::string full = (dir.empty() ? "." : dir) + "/" + name;
        if (access(full.c_str(), X_OK) == 0)
            return full;
    }
    return {};
}

// --- in-process figure -------------------------------------------------------

Sample runInProcess(const char *platform, const std::string &pty)
{
    Sample s;
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return s;
    const long long t0 = monoNs();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        const int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, STDERR_FILENO);
        setenv("QT_QPA_PLATFORM", platform, 1);
        const std::string t0s = std::to_string(t0);
        execl(ORVA_INPROC_PATH, ORVA_INPROC_PATH, "--com1", pty.c_str(), "--t0-ns", t0s.c_str(), (char *)nullptr);
        _exit(127);
    }
    close(out[1]);
    std::string text;
    char buf[512];
    const long long deadline = monoNs() + 30'000'000'000LL;
    for (;;) {
        pollfd p{out[0], POLLIN, 0};
        const int left = int(std::max<long long>(0, (deadline - monoNs()) / 1000000));
        if (poll(&p, 1, left) <= 0)
            break;
        const ssize_t n = read(out[0], buf, sizeof buf);
        if (n <= 0)
            break;
        text.append(buf, std::size_t(n));
    }
    close(out[0]);
    terminate(pid, 2000);  // it has normally exited by now: this reaps it
    std::istringstream fields(text);
    std::string f;
    while (fields >> f) {
        const auto eq = f.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = f.substr(0, eq);
        const double v = std::atof(f.c_str() + eq + 1);
        if (key == "first_paint_ms")
            s.paintMs = v;
        else if (key == "vmhwm_kib")
            s.rssMib = v / 1024.0;
        else
            s.milestones[key] = v;
    }
    return s;
}

// --- outside view under X ----------------------------------------------------

struct Rect {
    int x = 0, y = 0, w = 0, h = 0;
    bool empty() const { return w <= 0 || h <= 0; }
    Rect united(const Rect &o) const
    {
        if (empty())
            return o;
        if (o.empty())
            return *this;
        const int x0 = std::min(x, o.x), y0 = std::min(y, o.y);
        return {x0, y0, std::max(x + w, o.x + o.w) - x0, std::max(y + h, o.y + o.h) - y0};
    }
};

class Screen {
public:
    bool open()
    {
        int screenNo = 0;
        m_c = xcb_connect(nullptr, &screenNo);
        if (!m_c || xcb_connection_has_error(m_c))
            return false;
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(m_c));
        for (int i = 0; i < screenNo; ++i)
            xcb_screen_next(&it);
        m_root = it.data->root;
        m_w = it.data->width_in_pixels;
        m_h = it.data->height_in_pixels;
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_c, m_root, XCB_CW_EVENT_MASK, &mask);
        return grab(whole(), m_empty);
    }
    ~Screen()
    {
        if (m_c)
            xcb_disconnect(m_c);
    }
    int width() const { return m_w; }
    int height() const { return m_h; }
    Rect whole() const { return {0, 0, m_w, m_h}; }

    bool grab(const Rect &r, std::vector<uint8_t> &into)
    {
        xcb_get_image_reply_t *reply = xcb_get_image_reply(
            m_c,
            xcb_get_image(m_c, XCB_IMAGE_FORMAT_Z_PIXMAP, m_root, int16_t(r.x), int16_t(r.y), uint16_t(r.w),
                          uint16_t(r.h), ~0u),
            nullptr);
        if (!reply)
            return false;
        const uint8_t *d = xcb_get_image_data(reply);
        into.assign(d, d + xcb_get_image_data_length(reply));
        std::free(reply);
        return true;
    }
    // Grabs every rectangle (requests pipelined); true if any differs from the
    // empty root.
    bool anyDiffers(const std::vector<Rect> &rects, bool &ok)
    {
        std::vector<xcb_get_image_cookie_t> cookies;
        for (const Rect &r : rects)
            cookies.push_back(xcb_get_image(m_c, XCB_IMAGE_FORMAT_Z_PIXMAP, m_root, int16_t(r.x), int16_t(r.y),
                                            uint16_t(r.w), uint16_t(r.h), ~0u));
        bool differs = false;
        ok = true;
        for (std::size_t i = 0; i < rects.size(); ++i) {
            xcb_get_image_reply_t *reply = xcb_get_image_reply(m_c, cookies[i], nullptr);
            if (!reply) {
                ok = false;
                continue;
            }
            const uint8_t *d = xcb_get_image_data(reply);
            m_scratch.assign(d, d + xcb_get_image_data_length(reply));
            std::free(reply);
            differs = differs || differsFromEmpty(rects[i], m_scratch);
        }
        return differs;
    }
    // True when the grab of `r` shows anything but the empty root there.
    bool differsFromEmpty(const Rect &r, const std::vector<uint8_t> &img) const
    {
        if (r.empty() || m_empty.empty())
            return false;
        const std::size_t stride = m_empty.size() / std::size_t(m_h);
        const std::size_t rowBytes = img.size() / std::size_t(r.h);
        const std::size_t bpp = stride / std::size_t(m_w);
        for (int row = 0; row < r.h; ++row) {
            const uint8_t *a = &img[std::size_t(row) * rowBytes];
            const uint8_t *b = &m_empty[std::size_t(r.y + row) * stride + std::size_t(r.x) * bpp];
            if (std::memcmp(a, b, std::size_t(r.w) * bpp) != 0)
                return true;
        }
        return false;
    }
    bool isEmpty() { return grab(whole(), m_scratch) && m_scratch == m_empty; }
    // Waits until the screen is back to the empty root (the last program's
    // windows are gone).
    bool waitEmpty(int timeoutMs)
    {
        const long long t0 = monoNs();
        while (!isEmpty()) {
            if (msSince(t0) > timeoutMs)
                return false;
            sleepMs(5);
        }
        drainEvents();
        return true;
    }
    void drainEvents()
    {
        while (xcb_generic_event_t *ev = xcb_poll_for_event(m_c))
            std::free(ev);
    }
    // The on-screen rectangles of windows mapped since the last call, united
    // into `area`; returns true if any was mapped.
    bool takeMapped(Rect &area)
    {
        bool any = false;
        while (xcb_generic_event_t *ev = xcb_poll_for_event(m_c)) {
            if ((ev->response_type & 0x7F) == XCB_MAP_NOTIFY) {
                const auto *map = reinterpret_cast<xcb_map_notify_event_t *>(ev);
                if (xcb_get_geometry_reply_t *g =
                        xcb_get_geometry_reply(m_c, xcb_get_geometry(m_c, map->window), nullptr)) {
                    const int b = g->border_width;
                    Rect r{g->x, g->y, g->width + 2 * b, g->height + 2 * b};
                    std::free(g);
                    // Clipped to the screen.
                    const int x1 = std::min(r.x + r.w, m_w), y1 = std::min(r.y + r.h, m_h);
                    r.x = std::max(r.x, 0);
                    r.y = std::max(r.y, 0);
                    r.w = x1 - r.x;
                    r.h = y1 - r.y;
                    if (!r.empty()) {
                        area = area.united(r);
                        any = true;
                    }
                }
            }
            std::free(ev);
        }
        return any;
    }
    // Blocks until a window is mapped on the root; false on timeout or when
    // the child ends first.
    bool waitMap(long long deadlineNs, pid_t child, Rect &area)
    {
        for (;;) {
            if (takeMapped(area))
                return true;
            if (xcb_connection_has_error(m_c) || monoNs() > deadlineNs)
                return false;
            int status = 0;
            if (waitpid(child, &status, WNOHANG) == child)
                return false;
            pollfd p{xcb_get_file_descriptor(m_c), POLLIN, 0};
            poll(&p, 1, 50);
        }
    }

private:
    xcb_connection_t *m_c = nullptr;
    xcb_window_t m_root = 0;
    int m_w = 0, m_h = 0;
    std::vector<uint8_t> m_empty, m_scratch;
};

// A panel killed by SIGTERM leaves its serial port lock behind; the next start
// would first have to find it stale. Remove it when it names our dead child.
void removeStaleLock(const std::string &pty, pid_t child)
{
    std::string name = pty.substr(pty.rfind("/dev/") == 0 ? 5 : 0);
    std::replace(name.begin(), name.end(), '/', '_');
    const std::string lock = "/var/lock/LCK.." + name;
    FILE *f = std::fopen(lock.c_str(), "r");
    if (!f)
        return;
    long pid = 0;
    const bool ours = std::fscanf(f, "%ld", &pid) == 1 && pid == long(child);
    std::fclose(f);
    if (ours)
        unlink(lock.c_str());
}

// What is grabbed of the mapped windows' area: all of it, or a few whole rows
// across it (a first paint covers the window, so it crosses any row; grabbing
// little keeps the X server free to take the program's own drawing).
std::vector<Rect> probe(const Rect &area, bool fullArea)
{
    if (fullArea || area.h < 12)
        return {area};
    std::vector<Rect> rows;
    for (int i = 1; i <= 5; ++i)
        rows.push_back({area.x, area.y + area.h * i / 6, area.w, 1});
    return rows;
}

Sample runOutside(Screen &screen, const std::vector<std::string> &argv, int settleMs, const std::string &pty,
                  bool fullArea)
{
    Sample s;
    if (!screen.waitEmpty(5000)) {
        std::fprintf(stderr, "bench_startup: the screen did not return to empty\n");
        return s;
    }
    const long long t0 = monoNs();
    const pid_t pid = fork();
    if (pid == 0) {
        const int devnull = open("/dev/null", O_RDWR);
        dup2(devnull, STDIN_FILENO);
        dup2(devnull, STDOUT_FILENO);
        dup2(devnull, STDERR_FILENO);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        std::vector<char *> args;
        for (const std::string &a : argv)
            args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    const long long deadline = t0 + 30'000'000'000LL;
    Rect area;
    if (screen.waitMap(deadline, pid, area)) {
        s.milestones["map_ms"] = msSince(t0);
        // Grab what the mapped windows cover, back to back, until it changes.
        std::vector<double> periods;
        long long prevReq = monoNs();  // the first grab's lower bound: the map
        while (monoNs() < deadline) {
            screen.takeMapped(area);
            const long long req = monoNs();
            bool ok = true;
            const bool differs = screen.anyDiffers(probe(area, fullArea), ok);
            if (!ok)
                break;
            const long long rep = monoNs();
            periods.push_back(double(rep - prevReq) / 1e6);
            if (differs) {
                s.paintMs = double(rep - t0) / 1e6;
                break;
            }
            prevReq = req;
        }
        s.grabMs = stats(periods).median;
    }
    if (s.paintMs >= 0)
        sleepMs(settleMs);
    if (const auto ru = terminate(pid, 3000); ru && s.paintMs >= 0)
        s.rssMib = double(ru->ru_maxrss) / 1024.0;  // ru_maxrss is in KiB
    removeStaleLock(pty, pid);
    return s;
}

void usage()
{
    std::fprintf(stderr, "usage: bench_startup [--runs N] [--settle-ms M] [--no-cutecom] [--full-area]\n");
}

} // namespace

int main(int argc, char **argv)
{
    int runs = 7, settleMs = 500;
    bool withCutecom = true, fullArea = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--runs" && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (a == "--settle-ms" && i + 1 < argc)
            settleMs = std::max(0, std::atoi(argv[++i]));
        else if (a == "--no-cutecom")
            withCutecom = false;
        else if (a == "--full-area")
            fullArea = true;
        else {
            usage();
            return 2;
        }
    }

    // COM1 of every panel started here: the slave of our own pseudo-terminal.
    int master = -1, slave = -1;
    char ptyName[128] = {};
    if (openpty(&master, &slave, ptyName, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    const std::string pty = ptyName;

    const bool haveDisplay = std::getenv("DISPLAY") && *std::getenv("DISPLAY");
    Screen screen;
    const bool screenOk = haveDisplay && screen.open();
    std::string cutecom = withCutecom ? findInPath("cutecom") : std::string();

    struct Row {
        std::string program, platform, how, aim;
        std::vector<Sample> samples;
    };
    std::vector<Row> rows;
    rows.push_back({"orva-panel (in-process)", "offscreen", "event filter, VmHWM", "≤ 50 ms, < 40 MiB", {}});
    if (screenOk) {
        rows.push_back({"orva-panel (in-process)", "xcb (Xvfb)", "event filter, VmHWM", "≤ 50 ms, < 40 MiB", {}});
        rows.push_back({"orva-panel", "xcb (Xvfb)", "screen grab, ru_maxrss", "≤ 50 ms, < 40 MiB", {}});
        if (!cutecom.empty())
            rows.push_back({"cutecom", "xcb (Xvfb)", "screen grab, ru_maxrss", "earlier: ~100 ms, 87 MiB", {}});
    }

    auto runRow = [&](const Row &row) {
        if (row.how.rfind("event", 0) == 0)
            return runInProcess(row.platform == "offscreen" ? "offscreen" : "xcb", pty);
        if (row.program == "cutecom")
            return runOutside(screen, {cutecom}, settleMs, pty, fullArea);
        return runOutside(screen, {ORVA_PANEL_PATH, "--com1", pty, "--com2", pty}, settleMs, pty, fullArea);
    };
    // One warm-up round (page cache, font cache), then the rounds that count,
    // the programs taking turns so that noise spreads over all of them.
    for (int round = 0; round <= runs; ++round)
        for (Row &row : rows) {
            Sample s = runRow(row);
            if (round > 0)
                row.samples.push_back(std::move(s));
        }

    std::printf("## Start-up: fork to first paint, peak RSS (%d runs each, median (min–max))\n\n", runs);
    if (!haveDisplay)
        std::printf("No $DISPLAY: the xcb rows are skipped (run under xvfb-run).\n\n");
    else if (!screenOk)
        std::printf("Cannot open $DISPLAY with xcb: the xcb rows are skipped.\n\n");
    else if (cutecom.empty())
        std::printf("%s\n\n", withCutecom ? "cutecom not installed: its row is skipped." : "cutecom row skipped (--no-cutecom).");
    if (screenOk)
        std::printf("Screen %dx%d. Outside view: fork → first MapNotify on the root (window mapped), then "
                    "xcb_get_image of %s back to back until a pixel differs from the empty "
                    "root (first paint; the figure is when that grab's reply came in, so it may be late by up to "
                    "one grab period); SIGTERM %d ms later, peak RSS = wait4() ru_maxrss.\n\n",
                    screen.width(), screen.height(),
                    fullArea ? "the mapped windows' whole area" : "5 rows across the mapped windows' area", settleMs);
    std::printf("| program | platform | measured by | window mapped ms | first paint ms | peak RSS MiB | grab period ms | aim |\n");
    std::printf("|---|---|---|---|---|---|---|---|\n");
    for (const Row &row : rows) {
        std::vector<double> paint, rss, grab, map;
        for (const Sample &s : row.samples) {
            paint.push_back(s.paintMs);
            rss.push_back(s.rssMib);
            grab.push_back(s.grabMs);
            if (auto it = s.milestones.find("map_ms"); it != s.milestones.end())
                map.push_back(it->second);
        }
        const Stats g = stats(grab);
        char grabText[32] = "–";
        if (g.n)
            std::snprintf(grabText, sizeof grabText, "%.2f", g.median);
        const Stats p = stats(paint);
        const Stats m = stats(map);
        std::printf("| %s | %s | %s | %s | %s | %s | %s | %s |\n", row.program.c_str(), row.platform.c_str(),
                    row.how.c_str(), m.n ? fmt(m, 1).c_str() : "–", fmt(p, 1).c_str(), fmt(stats(rss), 1).c_str(),
                    grabText, row.aim.c_str());
        if (p.n < row.samples.size())
            std::printf("|  | | %zu of %zu runs showed no paint | | | | | |\n", row.samples.size() - p.n,
                        row.samples.size());
    }

    // Where the in-process time goes.
    std::printf("\nMachine load average (1/5/15 min) at the end: %s.\n", loadAverage().c_str());
    std::printf("\nIn-process milestones, ms from fork (median):\n\n");
    std::printf("| platform | QApplication | window built | start-up run | show() returned | first paint |\n");
    std::printf("|---|---|---|---|---|---|\n");
    for (const Row &row : rows) {
        if (row.how.rfind("event", 0) != 0)
            continue;
        auto med = [&](const char *key) {
            std::vector<double> v;
            for (const Sample &s : row.samples)
                if (auto it = s.milestones.find(key); it != s.milestones.end())
                    v.push_back(it->second);
            return stats(v).median;
        };
        std::vector<double> paint;
        for (const Sample &s : row.samples)
            paint.push_back(s.paintMs);
        std::printf("| %s | %.1f | %.1f | %.1f | %.1f | %.1f |\n", row.platform.c_str(), med("app_ms"), med("form_ms"),
                    med("load_ms"), med("show_ms"), stats(paint).median);
    }
    close(master);
    close(slave);
    return 0;
}
