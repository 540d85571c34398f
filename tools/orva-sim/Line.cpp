#include "Line.h"

#include "Support.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace orvasim {

namespace {

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

} // namespace

Line::~Line()
{
    closeFd(m_slaveHold);
    closeFd(m_fd);
}

bool Line::openPty(speed_t speed, std::string &err)
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

bool Line::openDevice(const std::string &path, speed_t speed, std::string &err)
{
    m_isPty = false;
    m_path = path;
    m_speed = speed;
    if (!openDeviceFd(err))
        return false;
    m_ready = true;
    return true;
}

void Line::lost(int64_t nowMs)
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

std::optional<int64_t> Line::retryAtMs() const
{
    if (m_ready)
        return std::nullopt;
    return m_retryAtMs;
}

bool Line::retryIfDue(int64_t nowMs)
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

void Line::closeFd(int &fd)
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}

bool Line::openSlaveHold(std::string &err)
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

bool Line::openDeviceFd(std::string &err)
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

} // namespace orvasim
