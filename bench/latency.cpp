// bench_latency: two latencies of the panel over a real pseudo-terminal, the
// window shown (offscreen unless QT_QPA_PLATFORM says otherwise) with the data
// area open.
//
//   bench_latency [--rounds N] [--batches B]
//
// (a) click-to-wire: a click on POWER ON (Command17) until "C00\r" can be read
//     on the pseudo-terminal master.
// (b) reply-to-status: after STATUS (Command44, "CR0\r" drained from the
//     master), "00\r" is written to the master; timed until the status line
//     (Label22) reads " Power ON", and until the status line has been painted.
//     Between rounds the reply window and the display hold end (their timers'
//     timeout signals), which empties RXD and the status line.
// Each of B batches runs N rounds (default 3 x 1000) after 50 warm-up rounds;
// p50/p99/max are over all rounds, and the p99 of each batch is shown too.
// After every round the same bytes also cross a second, bare pseudo-terminal
// with no panel on it (write, poll, read): the baseline rows show what the
// kernel and the machine's load add at that moment.

#include "BenchCommon.h"

#include "keys/CommandLookup.h"
#include "panel/Form1.h"
#include "panel/FormBuilder.h"
#include "panel/Widgets.h"
#include "serial/QtSerialControl.h"

#include <QApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTest>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

using bench::monoNs;

namespace {

// The far end of the line: the pseudo-terminal master, read in the event loop.
class Wire {
public:
    explicit Wire(int fd) : m_fd(fd), m_notifier(fd, QSocketNotifier::Read)
    {
        QObject::connect(&m_notifier, &QSocketNotifier::activated, [this] { readAvailable(); });
    }

    // Runs the event loop until `needle` has arrived; returns the monotonic ns
    // when it was read, or -1 after timeoutMs.
    long long waitFor(const QByteArray &needle, int timeoutMs)
    {
        readAvailable();
        if (m_buffer.contains(needle))
            return take(needle);
        QEventLoop loop;
        m_needle = needle;
        m_loop = &loop;
        QTimer::singleShot(timeoutMs, &loop, [&loop] { loop.exit(1); });
        const int rc = loop.exec();
        m_loop = nullptr;
        return rc == 0 ? take(needle) : -1;
    }

    void write(const char *bytes)
    {
        const std::size_t len = std::strlen(bytes);
        if (::write(m_fd, bytes, len) != ssize_t(len))
            std::perror("write to pty master");
    }

private:
    void readAvailable()
    {
        char buf[4096];
        for (;;) {
            const ssize_t n = ::read(m_fd, buf, sizeof buf);
            if (n <= 0)
                break;
            m_buffer.append(buf, n);
        }
        if (m_loop && m_buffer.contains(m_needle)) {
            m_seenNs = monoNs();
            m_loop->quit();
        }
    }
    long long take(const QByteArray &needle)
    {
        const long long t = m_loop || !m_seenNs ? monoNs() : m_seenNs;
        m_buffer.remove(0, m_buffer.indexOf(needle) + needle.size());
        m_seenNs = 0;
        return t;
    }

    int m_fd;
    QSocketNotifier m_notifier;
    QByteArray m_buffer, m_needle;
    QEventLoop *m_loop = nullptr;
    long long m_seenNs = 0;
};

// Calls back on every paint event of the watched widget.
class PaintWatch final : public QObject {
public:
    std::function<void()> onPaint;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && onPaint)
            onPaint();
        return QObject::eventFilter(watched, event);
    }
};

struct Series {
    std::vector<double> all;
    std::vector<double> batchP99;
    int failures = 0;
};

void printRow(const char *what, const Series &s, const char *aim)
{
    double lo = 0, hi = 0;
    if (!s.batchP99.empty()) {
        lo = *std::min_element(s.batchP99.begin(), s.batchP99.end());
        hi = *std::max_element(s.batchP99.begin(), s.batchP99.end());
    }
    const auto over = std::count_if(s.all.begin(), s.all.end(), [](double ms) { return ms > 1.0; });
    std::printf("| %s | %zu | %.3f | %.3f | %.3f | %.3f | %.3f–%.3f | %.1f %% | %s |\n", what, s.all.size(),
                bench::mean(s.all), bench::percentile(s.all, 50), bench::percentile(s.all, 99),
                bench::percentile(s.all, 100), lo, hi, s.all.empty() ? 0.0 : 100.0 * double(over) / double(s.all.size()),
                aim);
    if (s.failures)
        std::printf("|  | %d rounds timed out | | | | | | | |\n", s.failures);
}

// The same exchanges without the panel: bytes written on one side of a raw
// pseudo-terminal until poll() finds them readable on the other. One bare
// exchange follows every panel round, so both see the same machine load; the
// difference is what the panel adds.
class BarePty {
public:
    BarePty()
    {
        if (openpty(&m_master, &m_slave, nullptr, nullptr, nullptr) != 0)
            return;
        termios t{};
        tcgetattr(m_slave, &t);
        cfmakeraw(&t);
        tcsetattr(m_slave, TCSANOW, &t);
    }
    ~BarePty()
    {
        close(m_master);
        close(m_slave);
    }
    double slaveToMaster() { return once(m_slave, m_master, "C00\r"); }
    double masterToSlave() { return once(m_master, m_slave, "00\r"); }

private:
    static double once(int from, int to, const char *bytes)
    {
        const std::size_t len = std::strlen(bytes);
        const long long t0 = monoNs();
        if (::write(from, bytes, len) != ssize_t(len))
            return -1.0;
        std::size_t got = 0;
        char buf[64];
        while (got < len) {
            pollfd p{to, POLLIN, 0};
            if (poll(&p, 1, 2000) <= 0)
                return -1.0;
            const ssize_t n = ::read(to, buf, sizeof buf);
            if (n <= 0)
                return -1.0;
            got += std::size_t(n);
        }
        return double(monoNs() - t0) / 1e6;
    }
    int m_master = -1, m_slave = -1;
};

// Collects one batch at a time into a series.
struct Batch {
    std::vector<double> v;
    void add(bool counted, double ms)
    {
        if (counted && ms >= 0)
            v.push_back(ms);
    }
    void closeInto(Series &s)
    {
        s.batchP99.push_back(bench::percentile(v, 99));
        s.all.insert(s.all.end(), v.begin(), v.end());
        v.clear();
    }
};

void drainEvents()
{
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int rounds = 1000, batches = 3;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--batches") == 0)
            batches = std::max(1, std::atoi(argv[++i]));
    }
    QApplication app(argc, argv);

    int master = -1, slave = -1;
    char name[128] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    const QString pty = QString::fromLocal8Bit(name);

    registerFontSubstitutions();
    QtSerialControl serial({{1, pty}, {2, pty}}, panelWording());
    RecordingRuntime runtime;
    bench::printWarnings(runtime);
    auto form = std::make_unique<Form1>(serial, runtime);
    form->start();
    form->show();
    if (!QTest::qWaitForWindowExposed(form.get()))
        std::fprintf(stderr, "bench_latency: the window was not exposed\n");
    form->setOuterHeightTwips(9100);  // the data area open: the status line shows
    QTest::qWait(50);
    if (!serial.portOpen()) {
        std::fprintf(stderr, "bench_latency: the port on %s did not open\n", name);
        return 1;
    }

    auto *command17 = qobject_cast<PanelButton *>(form->control(keys::qText(keys::findCommand("power-on")->control)));
    auto *command44 = qobject_cast<PanelButton *>(form->control(keys::qText(keys::findCommand("status")->control)));
    auto *label22 = qobject_cast<PanelLabel *>(form->control(QStringLiteral("Label22")));
    if (!command17 || !command44 || !label22) {
        std::fprintf(stderr, "bench_latency: controls not found\n");
        return 1;
    }
    Wire wire(master);
    const std::string loadBefore = bench::loadAverage();

    // (a) click-to-wire
    BarePty bare;
    Series clickToWire, bareOut;
    for (int b = 0; b < batches; ++b) {
        Batch batch, bareBatch;
        for (int i = -(b == 0 ? 50 : 0); i < rounds; ++i) {
            drainEvents();
            const long long t0 = monoNs();
            QTest::mouseClick(command17, Qt::LeftButton);
            const long long t1 = wire.waitFor(QByteArrayLiteral("C00\r"), 2000);
            if (t1 < 0)
                ++clickToWire.failures;
            else
                batch.add(i >= 0, double(t1 - t0) / 1e6);
            bareBatch.add(i >= 0, bare.slaveToMaster());
        }
        batch.closeInto(clickToWire);
        bareBatch.closeInto(bareOut);
    }

    // (b) reply-to-status, caption and paint
    PaintWatch watch;
    label22->installEventFilter(&watch);
    long long captionNs = 0, paintedNs = 0;
    QEventLoop *loop = nullptr;
    // Connected after the window's own handler, so it runs once the reply is decoded.
    QObject::connect(&serial, &SerialControl::onComm, [&] {
        if (loop && !captionNs && label22->caption() == QLatin1String(" Power ON"))
            captionNs = monoNs();
    });
    // The first paint after the caption changed is the one that shows it.
    const std::function<void()> timedPaint = [&] {
        if (loop && captionNs && !paintedNs) {
            paintedNs = monoNs();
            loop->quit();
        }
    };
    auto endWindows = [&] {
        // What the reply window and the display hold do when they run out: RXD
        // and the status line empty. Let the emptied status line paint.
        QMetaObject::invokeMethod(form->engine().findChild<QTimer *>(QStringLiteral("replyWindow")), "timeout");
        QMetaObject::invokeMethod(form->engine().findChild<QTimer *>(QStringLiteral("displayHold")), "timeout");
        QEventLoop idle;
        watch.onPaint = [&idle] { idle.quit(); };
        QTimer::singleShot(100, &idle, &QEventLoop::quit);
        idle.exec();
        watch.onPaint = timedPaint;
        drainEvents();
    };
    Series toCaption, toPaint, bareIn;
    std::string wrongCaption;
    for (int b = 0; b < batches; ++b) {
        Batch caption, paint, bareBatch;
        for (int i = -(b == 0 ? 50 : 0); i < rounds; ++i) {
            endWindows();
            QTest::mouseClick(command44, Qt::LeftButton);
            if (wire.waitFor(QByteArrayLiteral("CR0\r"), 2000) < 0) {
                ++toCaption.failures;
                continue;
            }
            drainEvents();
            captionNs = paintedNs = 0;
            QEventLoop round;
            QTimer::singleShot(2000, &round, [&round] { round.exit(1); });
            loop = &round;
            const long long t0 = monoNs();
            wire.write("00\r");
            const int rc = round.exec();
            loop = nullptr;
            if (rc != 0) {
                ++toCaption.failures;
                if (wrongCaption.empty())
                    wrongCaption = label22->caption().toStdString();
                continue;
            }
            caption.add(i >= 0, double(captionNs - t0) / 1e6);
            paint.add(i >= 0, double(paintedNs - t0) / 1e6);
            bareBatch.add(i >= 0, bare.masterToSlave());
        }
        caption.closeInto(toCaption);
        paint.closeInto(toPaint);
        bareBatch.closeInto(bareIn);
    }

    std::printf("## Latency over a pseudo-terminal (%s, %d batches x %d rounds), ms\n\n",
                qPrintable(QGuiApplication::platformName()), batches, rounds);
    std::printf("Machine load average (1/5/15 min): %s before, %s after.\n\n", loadBefore.c_str(),
                bench::loadAverage().c_str());
    std::printf("| path | n | mean | p50 | p99 | max | p99 per batch | over 1 ms | aim |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|\n");
    printRow("click Command17 → \"C00\\r\" readable on the master", clickToWire, "p99 < 1 ms");
    printRow("\"00\\r\" written → Label22 caption \" Power ON\"", toCaption, "p99 < 1 ms");
    printRow("\"00\\r\" written → Label22 painted", toPaint, "p99 < 1 ms");
    printRow("baseline, no panel: 4 bytes pty slave → master", bareOut, "(what the machine adds)");
    printRow("baseline, no panel: 3 bytes pty master → slave", bareIn, "(what the machine adds)");
    if (!wrongCaption.empty())
        std::printf("\nA timed-out round left the status line reading \"%s\".\n", wrongCaption.c_str());
    if (!runtime.warnings.isEmpty())
        std::printf("\n%lld warning box(es) were raised (see stderr).\n", qlonglong(runtime.warnings.size()));
    form.reset();
    close(master);
    close(slave);
    return 0;
}
