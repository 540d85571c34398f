#include "DeviceLink.h"

#include "PortDiagnosis.h"
#include "SerialText.h"

#include <algorithm>
#ifdef Q_OS_UNIX
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

OpenRefusal refusalOf(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError: return OpenRefusal::NotFound;
    case QSerialPort::PermissionError: return OpenRefusal::Permission;
    default: return OpenRefusal::Other;
    }
}

} // namespace

DeviceLink::DeviceLink(QString path, QObject *parent) : SerialControl(parent), m_path(std::move(path))
{
    connect(&m_port, &QSerialPort::readyRead, this, [this] {
        m_commEvent = kCommEvReceive;
        emit onComm();
    });
    connect(&m_port, &QSerialPort::errorOccurred, this, &DeviceLink::handleError);
}

DeviceLink::~DeviceLink()
{
    m_port.close();
}

// Every error of the open port arrives here. A device that went away (read,
// resource or write errors, which QSerialPort repeats in a tight loop until the
// port is closed) closes the port and is reported once. Line-control calls that a
// pseudo-terminal does not support are not failures of the port.
void DeviceLink::handleError(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::ReadError:
    case QSerialPort::ResourceError:
    case QSerialPort::WriteError:
        if (m_port.isOpen()) {
            const QString what = error == QSerialPort::ResourceError ? QStringLiteral("The device is no longer available")
                : error == QSerialPort::ReadError                    ? QStringLiteral("Read error on the device")
                                                                     : QStringLiteral("Write error on the device");
            const SerialError lost = portError(
                ErrPortLost, {.kind = PortFailure::Kind::Lost, .device = m_path, .port = m_commPort, .systemText = what});
            m_port.close();
            m_port.clearError();
            emit portLost(lost);
        }
        break;
    default:
        break;
    }
}

SerialResult DeviceLink::setCommPort(int port)
{
    if (portOpen())
        return SerialError{ErrPortAlreadyOpen, QStringLiteral("Port already open")};
    m_commPort = port;
    return std::nullopt;
}

SerialResult DeviceLink::setSettings(const QString &settings)
{
    if (!parseLineSettings(settings))
        return SerialError{ErrBadSettings, QStringLiteral("Invalid settings: \"%1\"").arg(settings)};
    m_settings = settings;
    return m_port.isOpen() ? applySettings() : std::nullopt;
}

SerialResult DeviceLink::applySettings()
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

SerialResult DeviceLink::setPortOpen(bool open)
{
    if (!open) {
        m_port.close();
        return std::nullopt;
    }
    if (portOpen())
        return SerialError{ErrPortAlreadyOpen, QStringLiteral("Port already open")};
    if (std::optional<PortFailure> held = heldByAnother(m_path)) {
        held->port = m_commPort;
        return portError(ErrPortOpenFailed, std::move(*held));
    }
    m_port.setPortName(m_path);
    m_port.clearError();
    if (!m_port.open(QIODevice::ReadWrite)) {
        PortFailure failure = diagnoseOpenFailure(m_path, refusalOf(m_port.error()), m_port.errorString());
        failure.port = m_commPort;
        m_port.clearError();
        return portError(ErrPortOpenFailed, std::move(failure));
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

SerialResult DeviceLink::output(const QString &text)
{
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

QString DeviceLink::input()
{
    m_commEvent = 0;
    // What is buffered, read at its size: readAll first takes a 16 KiB block for it.
    return lineBytesToText(m_port.read(m_port.bytesAvailable()));
}
