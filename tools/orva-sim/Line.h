// orva-sim: the line to the panel: a pseudo-terminal, a serial device, or a
// TCP listener on 127.0.0.1 serving one client at a time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <termios.h>

namespace orvasim {

// For a pseudo-terminal we keep a slave descriptor of our own open all the
// time. Without it the master reports POLLHUP and read() fails with EIO
// whenever no panel has the slave open (before the first open and after each
// close), and poll() would wake up for that hang-up continuously.
class Line
{
public:
    Line() = default;
    Line(const Line &) = delete;
    Line &operator=(const Line &) = delete;
    ~Line();

    bool openPty(speed_t speed, std::string &err);
    bool openDevice(const std::string &path, speed_t speed, std::string &err);
    // Listens on 127.0.0.1:port (0: a free port the system picks).
    bool openTcp(int port, std::string &err);

    // What the panel opens: the slave's path, the device's path, or
    // "tcp://127.0.0.1:<port>".
    const std::string &path() const { return m_path; }
    bool ready() const { return m_ready; }
    // The descriptor to read and write while ready, else -1.
    int fd() const { return m_ready ? m_fd : -1; }
    // The listening socket while no TCP client is connected, else -1.
    // Further clients wait in the backlog until the one served leaves.
    int listenFd() const { return m_kind == Kind::Tcp && !m_ready ? m_listenFd : -1; }
    // Takes the next waiting client; true when the line is ready with it.
    bool acceptClient();

    // The speed the panel set on its end of a pseudo-terminal, for receiving;
    // nothing on a device (its far end cannot be seen) or a TCP link.
    std::optional<speed_t> panelSpeed() const;

    // The line hung up or failed. Take it out of the poll set and try again
    // after a pause, so a persistent hang-up cannot make the loop spin.
    void lost(int64_t nowMs);
    std::optional<int64_t> retryAtMs() const;
    // Returns true when the line has just become usable again.
    bool retryIfDue(int64_t nowMs);

private:
    static void closeFd(int &fd);
    bool openRaw(int &fd, std::string &err);
    bool openSlaveHold(std::string &err);
    bool openDeviceFd(std::string &err);

    enum class Kind { Pty, Device, Tcp };
    Kind m_kind = Kind::Pty;
    bool m_ready = false;
    int m_fd = -1;        // pseudo-terminal master, the device, or the TCP client
    int m_listenFd = -1;
    int m_slaveHold = -1; // our own descriptor on the pseudo-terminal slave
    int64_t m_retryAtMs = 0;
    speed_t m_speed = B19200;
    std::string m_path;
};

} // namespace orvasim
