// bench_startup_inproc: starts the panel the way orva-panel's main() does and
// reports, on one stdout line, the milliseconds from process start to the first
// paint of the window and the peak resident set size at that moment, then exits.
//
//   bench_startup_inproc --com1 DEVICE [--t0-ns N]
//
// --t0-ns: the CLOCK_MONOTONIC time (ns) at which the caller forked this
// process. Without it the start time comes from /proc/self/stat (field 22,
// clock ticks since boot, measured against CLOCK_BOOTTIME: 10 ms resolution).
//
// Output: "first_paint_ms=F vmhwm_kib=K app_ms=A form_ms=B load_ms=C show_ms=D"
// where A..D are the milestones (QApplication constructed, window built,
// start-up run, show() returned), all from process start.

#include "Version.h"
#include "panel/Form1.h"
#include "panel/FormBuilder.h"
#include "panel/WindowRuntime.h"
#include "serial/QtSerialControl.h"

#include <QApplication>
#include <QEvent>
#include <QMetaObject>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

double nowMs(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

// Process start as CLOCK_MONOTONIC ms: from the caller's fork time when given,
// else from the kernel's start time of this process (CLOCK_BOOTTIME based).
struct StartClock {
    clockid_t clock = CLOCK_MONOTONIC;
    double startMs = 0;
    double sinceStart() const { return nowMs(clock) - startMs; }
};

StartClock startClock(const char *t0ns)
{
    StartClock c;
    if (t0ns) {
        c.clock = CLOCK_MONOTONIC;
        c.startMs = double(std::strtoll(t0ns, nullptr, 10)) / 1e6;
        return c;
    }
    std::ifstream stat("/proc/self/stat");
    std::string all((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // Fields after the command name (which is in parentheses and may hold blanks).
    std::istringstream rest(all.substr(all.rfind(')') + 2));
    std::string field;
    unsigned long long ticks = 0;
    for (int i = 3; i <= 22 && rest >> field; ++i)
        if (i == 22)
            ticks = std::stoull(field);
    c.clock = CLOCK_BOOTTIME;
    c.startMs = double(ticks) * 1e3 / double(sysconf(_SC_CLK_TCK));
    return c;
}

long statusKib(const char *key)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::size_t len = std::strlen(key);
    while (std::getline(status, line))
        if (line.compare(0, len, key) == 0)
            return std::strtol(line.c_str() + len, nullptr, 10);
    return -1;
}

class FirstPaint final : public QObject {
public:
    explicit FirstPaint(const StartClock &clock) : m_clock(clock) {}
    double ms = -1;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && ms < 0) {
            ms = m_clock.sinceStart();
            // Let this paint finish (and reach the screen), then stop.
            QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    const StartClock &m_clock;
};

} // namespace

int main(int argc, char *argv[])
{
    const char *com1 = nullptr;
    const char *t0ns = nullptr;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--com1") == 0)
            com1 = argv[++i];
        else if (std::strcmp(argv[i], "--t0-ns") == 0)
            t0ns = argv[++i];
    }
    const StartClock clock = startClock(t0ns);
    if (!com1) {
        std::fprintf(stderr, "usage: %s --com1 DEVICE [--t0-ns N]\n", argv[0]);
        return 2;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("orva-panel"));
    QApplication::setApplicationVersion(QStringLiteral(ORVA_VERSION));
    const double appMs = clock.sinceStart();

    QMap<int, QString> devices = defaultComDevices();
    devices[1] = QString::fromLocal8Bit(com1);
    devices[2] = QString::fromLocal8Bit(com1);  // never /dev/ttyS1
    registerFontSubstitutions();
    QtSerialControl serial(devices, panelWording());
    QtWindowRuntime runtime;
    Form1 form(serial, runtime);
    const double formMs = clock.sinceStart();
    FirstPaint firstPaint(clock);
    form.installEventFilter(&firstPaint);
    form.start();
    const double loadMs = clock.sinceStart();
    form.show();
    const double showMs = clock.sinceStart();
    app.exec();

    std::printf("first_paint_ms=%.3f vmhwm_kib=%ld app_ms=%.3f form_ms=%.3f load_ms=%.3f show_ms=%.3f\n", firstPaint.ms,
                statusKib("VmHWM:"), appMs, formMs, loadMs, showMs);
    std::fflush(stdout);
    return firstPaint.ms < 0 ? 1 : 0;
}
