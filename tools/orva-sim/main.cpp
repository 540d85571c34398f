// orva-sim: a projector on the end of a serial line, for trying out the panel
// without hardware. By default it serves on a fresh pseudo-terminal and
// prints the path to open as the first line on stdout.

#include "Options.h"
#include "Simulator.h"
#include "Support.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <variant>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace orvasim;

namespace {

int g_signalPipe[2] = {-1, -1};

extern "C" void onQuitSignal(int)
{
    const int saved = errno;
    const char c = 'q';
    [[maybe_unused]] const ssize_t n = write(g_signalPipe[1], &c, 1);
    errno = saved;
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

    Simulator sim(opt, g_signalPipe[0]);
    std::string err;
    const bool opened = opt.tcpPort        ? sim.line().openTcp(*opt.tcpPort, err)
                        : opt.device.empty() ? sim.line().openPty(opt.speed, err)
                                             : sim.line().openDevice(opt.device, opt.speed, err);
    if (!opened) {
        std::fprintf(stderr, "orva-sim: %s\n", err.c_str());
        return 1;
    }
    std::printf("%s\n", sim.line().path().c_str());
    std::fflush(stdout);

    return sim.run();
}
