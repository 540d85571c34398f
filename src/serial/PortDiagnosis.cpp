#include "PortDiagnosis.h"

#include <QFile>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>

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

// Whether another program holds `path` with exclusive access (TIOCEXCL), asked
// without opening the device: an open and its close would be seen by the device,
// and a last close drops DTR and RTS.
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

QList<SerialAdapter> presentAdapters()
{
    QList<SerialAdapter> present;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        present.append({info.systemLocation(), info.description()});
    return present;
}

} // namespace

std::optional<PortFailure> heldByAnother(const QString &path)
{
    if (!heldExclusively(path))
        return std::nullopt;
    return PortFailure{.kind = PortFailure::Kind::HeldElsewhere, .device = path, .systemError = EBUSY,
                       .systemText = systemText(EBUSY), .holder = lockHolder(path)};
}

// Every diagnosis comes from what the system said; one there is no advice for is
// the system's words and the file.
PortFailure diagnoseOpenFailure(const QString &path, OpenRefusal refusal, const QString &what)
{
    using Kind = PortFailure::Kind;
    PortFailure f{.kind = Kind::SystemError, .device = path, .systemText = what};
    if (refusal == OpenRefusal::Permission && what.contains(QLatin1String("lock"))) {
        // A live program named in the lock file holds the device, else the system tells.
        if ((f.holder = lockHolder(path))) {
            f.kind = Kind::HeldElsewhere;
            return f;
        }
        if (const auto stale = staleLock(path)) {
            f.kind = Kind::StaleLock;
            f.holder = PortHolder{stale->second, QString(), stale->first};
            f.user = userName();
            return f;
        }
        const auto [error, about] = lockProblem(path);
        if (error == EEXIST) {
            f.kind = Kind::HeldElsewhere;
            return f;
        }
        if (error != 0) {
            f.systemError = error;
            f.systemText = systemText(error);
            if (about != path)
                f.about = about;
            refusal = error == ENOENT                    ? OpenRefusal::NotFound
                : error == EACCES || error == EPERM ? OpenRefusal::Permission
                                                    : OpenRefusal::Other;
        }
    }
    // Held with exclusive access by another program: the open itself is refused.
    if (f.systemText == systemText(EBUSY)) {
        f.kind = Kind::HeldElsewhere;
        f.systemError = EBUSY;
        f.about.clear();
        f.holder = lockHolder(path);
        return f;
    }
    if (!f.about.isEmpty())
        return f;
    if (refusal == OpenRefusal::NotFound) {
        f.kind = Kind::MissingDevice;
        f.adapters = presentAdapters();
    } else if (refusal == OpenRefusal::Permission) {
        f.kind = Kind::NoAccess;
        std::tie(f.user, f.group) = userAndDeviceGroup(path);
    } else if (f.systemText == systemText(ENOTTY) || f.systemText == systemText(EISDIR) || existsButIsNoDevice(path)) {
        f.kind = Kind::NotASerialDevice;
    }
    return f;
}
