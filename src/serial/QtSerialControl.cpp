#include "QtSerialControl.h"

#include "SerialText.h"

#include <QFile>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#ifdef Q_OS_UNIX
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <linux/magic.h>
#include <sys/statfs.h>
#endif

namespace {

QSerialPort::Parity toQtParity(char p)
{
    switch (p) {
    case 'E': return QSerialPort::EvenParity;
    case 'O': return QSerialPort::OddParity;
    case 'M': return QSerialPort::MarkParity;
    case 'S': return QSerialPort::SpaceParity;
    default: return QSerialPort::NoParity;
    }
}

QString systemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

#ifdef Q_OS_UNIX
// Where QSerialPort (and UUCP-style programs) keep their lock files, in its order.
constexpr const char *kLockDirectories[] = {"/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp",
                                            "/tmp", "/var/tmp", "/var/lock/lockdev", "/run/lock"};

// The name of the lock file of `path`, as QSerialPort makes it: "/LCK..pts_4".
QString lockFileName(const QString &path)
{
    QString name = path.startsWith(QLatin1String("/dev/")) ? path.mid(5) : path;
    return QLatin1String("/LCK..") + name.replace(u'/', u'_');
}

// The process a lock file names; 0 when it names none.
pid_t lockFilePid(QFile &lock)
{
    bool ok = false;
    static_assert(sizeof(pid_t) == sizeof(int));
    const pid_t pid = QString::fromLatin1(lock.readLine(64)).trimmed().toInt(&ok);
    return ok && pid > 0 ? pid : 0;
}

bool processAlive(pid_t pid)
{
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

// The first lock file of `path` in the directories QSerialPort (and UUCP-style
// programs) use that names a process alive (or, with `alive` false, one that has
// ended): the file and the process.
std::optional<std::pair<QString, pid_t>> lockFileNaming(const QString &path, bool alive)
{
    for (const char *dir : kLockDirectories) {
        QFile lock(QString::fromLatin1(dir) + lockFileName(path));
        if (!lock.open(QIODevice::ReadOnly))
            continue;
        if (const pid_t pid = lockFilePid(lock); pid != 0 && processAlive(pid) == alive)
            return std::pair(lock.fileName(), pid);
    }
    return std::nullopt;
}

// A lock file of `path` left behind by a process that has ended, which this user
// may not remove (QSerialPort removes the ones it may).
std::optional<std::pair<QString, pid_t>> staleLock(const QString &path)
{
    return lockFileNaming(path, false);
}

// The lock file of `path` when it names a process that is alive, and that process.
std::optional<PortHolder> lockHolder(const QString &path)
{
    if (const auto lock = lockFileNaming(path, true)) {
        const auto &[file, pid] = *lock;
        QString command;
        QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
        if (comm.open(QIODevice::ReadOnly))
            command = QString::fromLocal8Bit(comm.readAll()).trimmed();
        if (command.isEmpty())
            command = QStringLiteral("unknown command");
        return PortHolder{pid, command, file};
    }
    return std::nullopt;
}

#if defined(Q_OS_LINUX) && defined(TIOCGEXCL) && defined(SYS_pidfd_open) && defined(SYS_pidfd_getfd)
// A descriptor that closes itself (-1: none).
class OwnedFd {
public:
    explicit OwnedFd(int fd) : m_fd(fd) {}
    OwnedFd(const OwnedFd &) = delete;
    OwnedFd &operator=(const OwnedFd &) = delete;
    ~OwnedFd()
    {
        if (m_fd != -1)
            ::close(m_fd);
    }
    int get() const { return m_fd; }

private:
    int m_fd = -1;
};

struct DirectoryCloser {
    void operator()(DIR *dir) const { ::closedir(dir); }
};
using Directory = std::unique_ptr<DIR, DirectoryCloser>;

// The exclusive flag of the line that descriptor `fd` of process `pid` holds, read
// through a copy of that descriptor (closing the copy closes nothing of the line).
std::optional<bool> exclusiveFlag(pid_t pid, int fd)
{
    const OwnedFd process(int(::syscall(SYS_pidfd_open, pid, 0)));
    if (process.get() == -1)
        return std::nullopt;
    const OwnedFd copy(int(::syscall(SYS_pidfd_getfd, process.get(), fd, 0)));
    int flag = 0;
    if (copy.get() == -1 || ::ioctl(copy.get(), TIOCGEXCL, &flag) != 0)
        return std::nullopt;
    return flag != 0;
}

// The device a path names: its node, and whether that lies on a devpts file system.
struct Device {
    struct stat node;
    bool pseudoTerminal;
};

// Whether `file` (a descriptor's) is the device itself. A pseudo-terminal is one of
// its devpts instance: /dev/pts/3 of a container's or a chroot's own instance has
// the device number of this /dev/pts/3 but is another line, so its node decides. Any
// other device is its number, through whichever node it is reached.
bool sameDevice(const Device &device, const struct stat &file)
{
    if (!S_ISCHR(file.st_mode) || file.st_rdev != device.node.st_rdev)
        return false;
    return !device.pseudoTerminal || (file.st_dev == device.node.st_dev && file.st_ino == device.node.st_ino);
}

// The flag of `device` as process `pid` reads it, when one of its descriptors (in
// /proc/PID/fd) is that device.
std::optional<bool> exclusiveFlagOfProcess(pid_t pid, const Device &device)
{
    const int fds = ::open(("/proc/" + std::to_string(pid) + "/fd").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fds == -1)
        return std::nullopt;
    const Directory list(::fdopendir(fds));
    if (!list) {
        ::close(fds);
        return std::nullopt;
    }
    while (const dirent *fd = ::readdir(list.get())) {
        struct stat st {};
        if (::fstatat(fds, fd->d_name, &st, 0) != 0 || !sameDevice(device, st))
            continue;
        if (const std::optional<bool> flag = exclusiveFlag(pid, std::atoi(fd->d_name)))
            return flag;
    }
    return std::nullopt;
}

// The flag of `device` as one of the processes that hold it open (but this one)
// reads it: they are found as fuser finds them, in /proc/PID/fd.
std::optional<bool> exclusiveFlagOfHolders(const Device &device)
{
    const Directory proc(::opendir("/proc"));
    if (!proc)
        return std::nullopt;
    while (const dirent *entry = ::readdir(proc.get())) {
        char *end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (*end != '\0' || pid == ::getpid())
            continue;  // not a process, or this one
        if (const std::optional<bool> flag = exclusiveFlagOfProcess(pid_t(pid), device))
            return flag;
    }
    return std::nullopt;
}
#endif

// Whether another program holds `path` with exclusive access (TIOCEXCL). Only
// needed for root, whom the kernel lets open such a device anyway; everyone else
// is refused by the open itself (EBUSY). Asked without opening the device: an open
// and its close would be seen by the device, and a last close drops DTR and RTS.
bool heldExclusively(const QString &path)
{
#if defined(Q_OS_LINUX) && defined(TIOCGEXCL) && defined(SYS_pidfd_open) && defined(SYS_pidfd_getfd)
    if (::geteuid() != 0)
        return false;
    const QByteArray name = QFile::encodeName(path);
    Device device {};
    struct statfs fs {};
    if (::stat(name.constData(), &device.node) != 0 || !S_ISCHR(device.node.st_mode) || ::statfs(name.constData(), &fs) != 0)
        return false;
    device.pseudoTerminal = fs.f_type == DEVPTS_SUPER_MAGIC;
    return exclusiveFlagOfHolders(device).value_or(false);
#else
    Q_UNUSED(path);
    return false;
#endif
}

// The lock file QSerialPort takes for `path`: in the first lock directory it may
// read where the file is, or may be made.
QString lockFilePath(const QString &path)
{
    for (const char *dir : kLockDirectories) {
        const QString file = QString::fromLatin1(dir) + lockFileName(path);
        const QFileInfo info(QString::fromLatin1(dir));
        if (info.isReadable() && (QFile::exists(file) || info.isWritable()))
            return file;
    }
    return QString();
}

// What the system says when QSerialPort could not take the device's lock file
// (it names no system error of its own): the error number, and the file it is
// about. EEXIST: a lock file is there; 0: the system sees nothing wrong.
std::pair<int, QString> lockProblem(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {errno, path};
    const QString lock = lockFilePath(path);
    if (lock.isEmpty())
        return {0, path};
    if (::stat(QFile::encodeName(lock).constData(), &st) == 0)
        return {EEXIST, lock};
    return {errno == ENOENT ? 0 : errno, lock};
}

QString userName()
{
    if (const passwd *pw = ::getpwuid(::geteuid()))
        return QString::fromLocal8Bit(pw->pw_name);
    return QString::number(::geteuid());
}

// The user's login name and, when membership of the device's group grants read and
// write access, that group's name.
std::pair<QString, QString> userAndDeviceGroup(const QString &path)
{
    const QString user = userName();
    QString group;
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) == 0 && (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP))
        if (const ::group *gr = ::getgrgid(st.st_gid))
            group = QString::fromLocal8Bit(gr->gr_name);
    return {user, group};
}

// A file, directory or other thing that exists but is no device.
bool existsButIsNoDevice(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && !S_ISCHR(st.st_mode);
}
#else
std::optional<PortHolder> lockHolder(const QString &) { return std::nullopt; }
std::optional<std::pair<QString, pid_t>> staleLock(const QString &) { return std::nullopt; }
QString userName() { return qEnvironmentVariable("USERNAME"); }
std::pair<int, QString> lockProblem(const QString &path) { return {0, path}; }
bool heldExclusively(const QString &) { return false; }
std::pair<QString, QString> userAndDeviceGroup(const QString &) { return {qEnvironmentVariable("USERNAME"), QString()}; }
bool existsButIsNoDevice(const QString &) { return false; }
#endif

// What a failed open says: what happened and what to do, the system's description
// and the path on the first line. Every diagnosis comes from what the system said;
// one the panel has no advice for is shown as the system's words and the path.
SerialError openError(const QSerialPort &port, const QString &path, int portNumber)
{
    QString what = port.errorString();
    QSerialPort::SerialPortError kind = port.error();
    QString file = path;
    if (kind == QSerialPort::PermissionError && what.contains(QLatin1String("lock"))) {
        // A live program named in the lock file holds the device, else the system tells.
        if (const std::optional<PortHolder> holder = lockHolder(path))
            return {ErrPortOpenFailed, heldElsewhereText(path, holder)};
        if (const auto stale = staleLock(path))
            return {ErrPortOpenFailed, staleLockText(path, stale->first, stale->second, userName())};
        const auto [error, about] = lockProblem(path);
        if (error == EEXIST)
            return {ErrPortOpenFailed, heldElsewhereText(path, std::nullopt)};
        if (error != 0) {
            what = systemText(error);
            file = about;
            kind = error == ENOENT                    ? QSerialPort::DeviceNotFoundError
                : error == EACCES || error == EPERM ? QSerialPort::PermissionError
                                                    : QSerialPort::OpenError;
        }
    }
    const auto text = [&]() -> QString {
        // Held with exclusive access by another program: the open itself is refused.
        if (what == systemText(EBUSY))
            return heldElsewhereText(path, lockHolder(path));
        if (file != path)
            return QStringLiteral("%1: %2").arg(what, file);
        if (kind == QSerialPort::DeviceNotFoundError) {
            QList<SerialAdapter> present;
            for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
                present.append({info.systemLocation(), info.description()});
            return missingDeviceText(what, path, portNumber, present);
        }
        if (kind == QSerialPort::PermissionError) {
            const auto [user, group] = userAndDeviceGroup(path);
            return noAccessText(what, path, user, group);
        }
        if (what == systemText(ENOTTY) || what == systemText(EISDIR) || existsButIsNoDevice(path))
            return notASerialPortText(what, path, portNumber);
        return QStringLiteral("%1: %2").arg(what, path);
    };
    return {ErrPortOpenFailed, text()};
}

} // namespace

QMap<int, QString> defaultComDevices()
{
#ifdef Q_OS_WIN
    return {{1, QStringLiteral("COM1")}, {2, QStringLiteral("COM2")}};
#else
    return {{1, QStringLiteral("/dev/ttyS0")}, {2, QStringLiteral("/dev/ttyS1")}};
#endif
}

QtSerialControl::QtSerialControl(QMap<int, QString> devices, QObject *parent)
    : SerialControl(parent), m_devices(std::move(devices))
{
    connect(&m_port, &QSerialPort::readyRead, this, [this] {
        m_commEvent = kCommEvReceive;
        emit onComm();
    });
    connect(&m_port, &QSerialPort::errorOccurred, this, &QtSerialControl::handleError);
    connect(&m_link, &TcpLink::readyRead, this, [this] {
        m_commEvent = kCommEvReceive;
        emit onComm();
    });
    connect(&m_link, &TcpLink::lost, this, &SerialControl::portLost);
    connect(&m_link, &TcpLink::openFailed, this, &SerialControl::openFailed);
    connect(&m_link, &TcpLink::connected, this, &SerialControl::opened);
}

QtSerialControl::~QtSerialControl()
{
    m_port.close();
}

// Every error of the open port arrives here. A device that went away (read,
// resource or write errors, which QSerialPort repeats in a tight loop until the
// port is closed) closes the port and is reported once. Line-control calls that a
// pseudo-terminal does not support are not failures of the port.
void QtSerialControl::handleError(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::ReadError:
    case QSerialPort::ResourceError:
    case QSerialPort::WriteError:
        if (m_port.isOpen()) {
            const QString what = error == QSerialPort::ResourceError ? QStringLiteral("The device is no longer available")
                : error == QSerialPort::ReadError                    ? QStringLiteral("Read error on the device")
                                                                     : QStringLiteral("Write error on the device");
            const SerialError lost{ErrPortLost, QStringLiteral("%1: %2").arg(what, m_devices.value(m_commPort))};
            m_port.close();
            m_port.clearError();
            emit portLost(lost);
        }
        break;
    default:
        break;
    }
}

SerialResult QtSerialControl::setCommPort(int port)
{
    if (portOpen())
        return SerialError{ErrPortAlreadyOpen, QStringLiteral("Port already open")};
    if (port < 1 || port > 16)
        return SerialError{ErrNoSuchPort, QStringLiteral("Invalid port number %1").arg(port)};
    m_commPort = port;
    return std::nullopt;
}

SerialResult QtSerialControl::setSettings(const QString &settings)
{
    if (!parseLineSettings(settings))
        return SerialError{ErrBadSettings, QStringLiteral("Invalid settings: \"%1\"").arg(settings)};
    m_settings = settings;
    // A device server has its own line speed; the settings wait for a serial port.
    if (const QString path = m_devices.value(m_commPort); TcpLink::isNetworkPath(path))
        return SerialError{ErrSpeedSetByServer, speedSetByServerText(path)};
    return m_port.isOpen() ? applySettings() : std::nullopt;
}

SerialResult QtSerialControl::applySettings()
{
    const LineSettings s = *parseLineSettings(m_settings);
    const bool ok = m_port.setBaudRate(s.baud)
        && m_port.setParity(toQtParity(s.parity))
        && m_port.setDataBits(QSerialPort::DataBits(s.dataBits))
        && m_port.setStopBits(s.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop)
        && m_port.setFlowControl(QSerialPort::NoFlowControl);
    if (!ok)
        return SerialError{ErrBadSettings, QStringLiteral("Cannot apply settings \"%1\": %2").arg(m_settings, m_port.errorString())};
    return std::nullopt;
}

SerialResult QtSerialControl::setPortOpen(bool open)
{
    if (!open) {
        m_port.close();
        m_link.close();
        return std::nullopt;
    }
    if (portOpen())
        return SerialError{ErrPortAlreadyOpen, QStringLiteral("Port already open")};
    const QString path = m_devices.value(m_commPort);
    if (path.isEmpty())
        return SerialError{ErrNoSuchPort, QStringLiteral("No device for COM%1").arg(m_commPort)};
    if (TcpLink::isNetworkPath(path))
        return m_link.open(path, m_commPort);
    if (heldExclusively(path))
        return SerialError{ErrPortOpenFailed, heldElsewhereText(path, lockHolder(path))};
    m_port.setPortName(path);
    m_port.clearError();
    if (!m_port.open(QIODevice::ReadWrite)) {
        const SerialError e = openError(m_port, path, m_commPort);
        m_port.clearError();
        return e;
    }
    if (SerialResult e = applySettings()) {
        m_port.close();
        return e;
    }
    // The stored configuration switches exactly one line option on: DTR. A
    // pseudo-terminal has no modem lines, which is fine.
    m_port.setDataTerminalReady(true);
    // Whatever the line held before this open (replies meant for an earlier
    // session) is not this session's.
    m_port.clear(QSerialPort::AllDirections);
    m_port.clearError();
    emit opened();
    return std::nullopt;
}

SerialResult QtSerialControl::output(const QString &text)
{
    if (m_link.isOpen())
        return m_link.write(textToLineBytes(text));
    if (!m_port.isOpen())
        return SerialError{ErrPortNotOpen, QStringLiteral("Port is not open")};
    const QByteArray bytes = textToLineBytes(text);
    // Straight to the device when it takes them at once (a command is a few bytes);
    // QSerialPort would write them only at the event loop's next turn. What it does
    // not take, or an error, goes the buffered way, which reports errors as before.
    qint64 written = 0;
#ifdef Q_OS_UNIX
    if (m_port.bytesToWrite() == 0)
        written = std::max<qint64>(0, ::write(int(m_port.handle()), bytes.constData(), size_t(bytes.size())));
#endif
    if (written < bytes.size() && m_port.write(bytes.constData() + written, bytes.size() - written) != bytes.size() - written)
        return SerialError{ErrWriteFailed, QStringLiteral("Write failed: %1").arg(m_port.errorString())};
    return std::nullopt;
}

QString QtSerialControl::input()
{
    m_commEvent = 0;
    return lineBytesToText(m_link.isOpen() ? m_link.readAll() : m_port.readAll());
}
