#include "Line.h"

#include "Support.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
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
    closeFd(m_listenFd);
}

bool Line::openPty(speed_t speed, std::string &err)
{
    m_kind = Kind::Pty;
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
    m_kind = Kind::Device;
    m_path = path;
    m_speed = speed;
    if (!openDeviceFd(err))
        return false;
    m_ready = true;
    return true;
}

bool Line::openTcp(int port, std::string &err)
{
    m_kind = Kind::Tcp;
    m_listenFd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0) {
        err = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    const int yes = 1;
    setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (bind(m_listenFd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        err = "listening on 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno);
        return false;
    }
    socklen_t len = sizeof addr;
    if (listen(m_listenFd, 4) != 0 || getsockname(m_listenFd, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
        err = "listening on 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno);
        return false;
    }
    m_path = "tcp://127.0.0.1:" + std::to_string(ntohs(addr.sin_port));
    return true;
}

bool Line::acceptClient()
{
    if (m_kind != Kind::Tcp || m_ready)
        return false;
    const int fd = accept4(m_listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0)
        return false; // gone again before we took it, or out of descriptors
    const int yes = 1;
    // Replies are a few bytes each: send them at once.
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    m_fd = fd;
    m_ready = true;
    return true;
}

std::optional<speed_t> Line::panelSpeed() const
{
    if (m_kind != Kind::Pty || m_fd < 0)
        return std::nullopt;
    // On Linux the termios of a pseudo-terminal live with the slave, and
    // tcgetattr() on the master reports the slave's: what the panel set last
    // (our own slave descriptor would tell the same).
    termios t{};
    if (tcgetattr(m_fd, &t) != 0)
        return std::nullopt;
    const speed_t in = cfgetispeed(&t);
    return in == B0 ? cfgetospeed(&t) : in; // input speed 0: the same as output
}

void Line::lost(int64_t nowMs)
{
    if (!m_ready)
        return;
    m_ready = false;
    if (m_kind == Kind::Tcp) {
        closeFd(m_fd); // and listen for the next client
    } else if (m_kind == Kind::Pty) {
        closeFd(m_slaveHold);
        m_retryAtMs = nowMs + 100;
    } else {
        closeFd(m_fd);
        m_retryAtMs = nowMs + 1000;
    }
}

std::optional<int64_t> Line::retryAtMs() const
{
    if (m_ready || m_kind == Kind::Tcp)
        return std::nullopt;
    return m_retryAtMs;
}

bool Line::retryIfDue(int64_t nowMs)
{
    if (m_ready || m_kind == Kind::Tcp || nowMs < m_retryAtMs)
        return false;
    std::string err;
    const bool isPty = m_kind == Kind::Pty;
    const bool ok = isPty ? openSlaveHold(err) : openDeviceFd(err);
    if (!ok) {
        m_retryAtMs = nowMs + (isPty ? 500 : 1000);
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

// Opens m_path into `fd` in raw mode at the line speed.
bool Line::openRaw(int &fd, std::string &err)
{
    closeFd(fd);
    fd = open(m_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        err = "opening " + m_path + ": " + std::strerror(errno);
        return false;
    }
    if (!makeRaw(fd, m_speed, err)) {
        closeFd(fd);
        return false;
    }
    return true;
}

// Raw mode before anything is written: a fresh pseudo-terminal echoes and turns
// CR into LF, which would corrupt every reply.
bool Line::openSlaveHold(std::string &err)
{
    return openRaw(m_slaveHold, err);
}

bool Line::openDeviceFd(std::string &err)
{
    if (!openRaw(m_fd, err))
        return false;
    tcflush(m_fd, TCIOFLUSH);
    return true;
}

} // namespace orvasim
