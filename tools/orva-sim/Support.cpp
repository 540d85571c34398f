#include "Support.h"

#include <cerrno>
#include <cstdio>
#include <ctime>

#include <fcntl.h>
#include <unistd.h>

namespace orvasim {

int64_t monotonicMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

bool setNonBlockingCloexec(int fd)
{
    const int fl = fcntl(fd, F_GETFL);
    if (fl < 0 || fcntl(fd, F_SETFL, fl | O_NONBLOCK) < 0)
        return false;
    const int fdfl = fcntl(fd, F_GETFD);
    return fdfl >= 0 && fcntl(fd, F_SETFD, fdfl | FD_CLOEXEC) >= 0;
}

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

} // namespace orvasim
