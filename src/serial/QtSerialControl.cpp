#include "QtSerialControl.h"

#include "SerialText.h"

#include <QFile>
#include <QSerialPortInfo>
#include <cerrno>
#include <cstring>
#include <limits>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
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
// The lock file of `path` in the directories QSerialPort (and UUCP-style programs)
// use, when it names a process that is alive. A stale lock QSerialPort has already
// removed.
std::optional<PortHolder> lockHolder(const QString &path)
{
    QString name = path.startsWith(QLatin1String("/dev/")) ? path.mid(5) : path;
    name.replace(u'/', u'_');
    for (const char *dir : {"/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp", "/tmp", "/var/tmp",
                            "/var/lock/lockdev", "/run/lock"}) {
        QFile lock(QString::fromLatin1(dir) + QLatin1String("/LCK..") + name);
        if (!lock.open(QIODevice::ReadOnly))
            continue;
        bool ok = false;
        const qint64 pid = QString::fromLatin1(lock.readLine(64)).trimmed().toLongLong(&ok);
        if (!ok || pid <= 0 || pid > std::numeric_limits<pid_t>::max() || (::kill(pid_t(pid), 0) != 0 && errno != EPERM))
            continue;
        QString command;
        QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
        if (comm.open(QIODevice::ReadOnly))
            command = QString::fromLocal8Bit(comm.readAll()).trimmed();
        if (command.isEmpty())
            command = QStringLiteral("unknown command");
        return PortHolder{pid, command, lock.fileName()};
    }
    return std::nullopt;
}

// Whether another program holds `path` with exclusive access (TIOCEXCL). Only
// needed for root, whom the kernel lets open such a device anyway; everyone else
// is refused by the open itself (EBUSY).
bool heldExclusively(const QString &path)
{
#ifdef TIOCGEXCL
    if (::geteuid() != 0)
        return false;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    int exclusive = 0;
    const bool held = ::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
    ::close(fd);
    return held;
#else
    Q_UNUSED(path);
    return false;
#endif
}

// The user's login name and, when membership of the device's group grants read and
// write access, that group's name.
std::pair<QString, QString> userAndDeviceGroup(const QString &path)
{
    QString user = QString::number(::geteuid());
    if (const passwd *pw = ::getpwuid(::geteuid()))
        user = QString::fromLocal8Bit(pw->pw_name);
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
bool heldExclusively(const QString &) { return false; }
std::pair<QString, QString> userAndDeviceGroup(const QString &) { return {qEnvironmentVariable("USERNAME"), QString()}; }
bool existsButIsNoDevice(const QString &) { return false; }
#endif

// What a failed open says: what happened and what to do, the system's description
// and the path on the first line.
SerialError openError(const QSerialPort &port, const QString &path, int portNumber)
{
    const QString what = port.errorString();
    const auto text = [&]() -> QString {
        // A device that another program holds fails QSerialPort's lock file, or,
        // held with exclusive access, the open itself.
        if ((port.error() == QSerialPort::PermissionError && what.contains(QLatin1String("locking")))
            || what == systemText(EBUSY))
            return heldElsewhereText(path, lockHolder(path));
        if (port.error() == QSerialPort::DeviceNotFoundError) {
            QList<SerialAdapter> present;
            for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
                present.append({info.systemLocation(), info.description()});
            return missingDeviceText(what, path, portNumber, present);
        }
        if (port.error() == QSerialPort::PermissionError) {
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
            const SerialError lost{ErrPortLost, QStringLiteral("%1: %2").arg(what, m_port.portName())};
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
    return std::nullopt;
}

SerialResult QtSerialControl::output(const QString &text)
{
    if (m_link.isOpen())
        return m_link.write(textToLineBytes(text));
    if (!m_port.isOpen())
        return SerialError{ErrPortNotOpen, QStringLiteral("Port is not open")};
    const QByteArray bytes = textToLineBytes(text);
    if (m_port.write(bytes) != bytes.size())
        return SerialError{ErrWriteFailed, QStringLiteral("Write failed: %1").arg(m_port.errorString())};
    return std::nullopt;
}

QString QtSerialControl::input()
{
    m_commEvent = 0;
    return lineBytesToText(m_link.isOpen() ? m_link.readAll() : m_port.readAll());
}
