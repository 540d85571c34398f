#include "QtSerialControl.h"

#include "SerialText.h"

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

SerialError openError(const QSerialPort &port, const QString &path)
{
    QString what = port.errorString();
    // A device that another program holds fails QSerialPort's lock file.
    if (port.error() == QSerialPort::PermissionError && what.contains(QLatin1String("locking")))
        what = QStringLiteral("Device is busy (held by another program)");
    return {ErrPortOpenFailed, QStringLiteral("%1: %2").arg(what, path)};
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
    if (m_port.isOpen())
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
        return std::nullopt;
    }
    if (m_port.isOpen())
        return SerialError{ErrPortAlreadyOpen, QStringLiteral("Port already open")};
    const QString path = m_devices.value(m_commPort);
    if (path.isEmpty())
        return SerialError{ErrNoSuchPort, QStringLiteral("No device for COM%1").arg(m_commPort)};
    m_port.setPortName(path);
    m_port.clearError();
    if (!m_port.open(QIODevice::ReadWrite)) {
        const SerialError e = openError(m_port, path);
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
    return lineBytesToText(m_port.readAll());
}
