#include "SerialText.h"

#include <QStringList>

QByteArray textToLineBytes(const QString &text)
{
    QByteArray bytes(text.size(), Qt::Uninitialized);
    char *out = bytes.data();
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        out[i] = c <= 0xFF ? char(c) : '?';
    }
    return bytes;
}

QString lineBytesToText(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes);
}

std::optional<LineSettings> parseLineSettings(const QString &settings)
{
    const QStringList f = settings.split(u',');
    if (f.size() != 4)
        return std::nullopt;
    LineSettings s;
    bool ok = false;
    s.baud = f[0].trimmed().toInt(&ok);
    if (!ok || s.baud < 50 || s.baud > 4000000)
        return std::nullopt;
    const QString p = f[1].trimmed().toUpper();
    if (p.size() != 1 || !QStringLiteral("NEOMS").contains(p))
        return std::nullopt;
    s.parity = char(p.at(0).unicode());
    s.dataBits = f[2].trimmed().toInt(&ok);
    if (!ok || s.dataBits < 5 || s.dataBits > 8)
        return std::nullopt;
    s.stopBits = f[3].trimmed().toInt(&ok);
    if (!ok || (s.stopBits != 1 && s.stopBits != 2))
        return std::nullopt;
    return s;
}

namespace {

PortAdvice &currentAdvice()
{
    static PortAdvice advice = panelPortAdvice();
    return advice;
}

// An advice template with the port number and the device put in.
QString filled(QString advice, int port, const QString &device = QString())
{
    return advice.replace(QLatin1String("{port}"), QString::number(port)).replace(QLatin1String("{device}"), device);
}

// "start the panel with --com1 DEVICE"
QString useDevice(int port, const QString &device)
{
    return filled(portAdvice().useDevice, port, device);
}

QString option(int port)
{
    return filled(portAdvice().option, port);
}

QString capitalised(QString text)
{
    if (!text.isEmpty())
        text[0] = text[0].toUpper();
    return text;
}

} // namespace

PortAdvice panelPortAdvice()
{
    return {QStringLiteral("start the panel with --com{port} {device}"), QStringLiteral("--com{port}"),
            QStringLiteral("orva-panel --com{port} {device}"), QStringLiteral("then choose the port again with the COM button."),
            QStringLiteral("Choose COM1 or COM2 (COM button) to open it again.")};
}

const PortAdvice &portAdvice()
{
    return currentAdvice();
}

void setPortAdvice(PortAdvice advice)
{
    currentAdvice() = std::move(advice);
}

QString notASerialPortText(const QString &what, const QString &path, int port)
{
    return QStringLiteral("%1: %2\n%2 is not a serial port. %3 naming the serial port the projector is connected "
                          "to (e.g. %4 /dev/ttyUSB0).")
        .arg(what, path, capitalised(useDevice(port, QStringLiteral("DEVICE"))), option(port));
}

QString noAccessText(const QString &what, const QString &path, const QString &user, const QString &group)
{
    QString text = QStringLiteral("%1: %2\nThe user %3 has no access to this device.").arg(what, path, user);
    if (group.isEmpty())
        return text + QStringLiteral(" Ask the administrator for read and write access to it.");
    return text
        + QStringLiteral(" Members of its group \"%1\" have access: add the user to it (sudo adduser %2 %1), "
                         "then log out and in again.")
              .arg(group, user);
}

QString heldElsewhereText(const QString &path, const std::optional<PortHolder> &holder)
{
    QString text = QStringLiteral("Device is busy (held by another program): %1\n").arg(path);
    if (holder)
        text += QStringLiteral("Its lock file %1 names process %2 (%3). Close that program, %4")
                    .arg(holder->lockFile)
                    .arg(holder->pid)
                    .arg(holder->command, portAdvice().tryAgain);
    else
        text += QStringLiteral("Close the program that uses it, %1").arg(portAdvice().tryAgain);
    return text;
}

QString staleLockText(const QString &path, const QString &lockFile, qint64 pid, const QString &user)
{
    return QStringLiteral("Device is locked by a program that has ended: %1\nIts lock file %2 names process %3, which "
                          "is no longer running, and the user %4 may not remove it. Remove it (sudo rm %2), %5")
        .arg(path, lockFile)
        .arg(pid)
        .arg(user, portAdvice().tryAgain);
}

QString missingDeviceText(const QString &what, const QString &path, int port, const QList<SerialAdapter> &present)
{
    QString text = QStringLiteral("%1: %2\nThere is no device %2.").arg(what, path);
    const QString use = useDevice(port, QStringLiteral("DEVICE"));
    if (present.isEmpty())
        return text + QStringLiteral(" No serial port was found on this computer: connect the serial adapter, "
                                     "or %1 naming its device.")
                          .arg(use);
    text += QStringLiteral(" Serial ports on this computer:");
    for (const SerialAdapter &a : present)
        text += a.description.isEmpty() ? QStringLiteral("\n  %1").arg(a.path)
                                        : QStringLiteral("\n  %1 (%2)").arg(a.path, a.description);
    return text + QStringLiteral("\nTo use one, %1, e.g. %2").arg(use, filled(portAdvice().example, port, present.first().path));
}

QString badNetworkAddressText(const QString &path, int port)
{
    return QStringLiteral("Not a network address: %1\nWrite a serial device server's address as tcp://HOST:PORT, "
                          "e.g. %2 tcp://192.168.1.50:4001.")
        .arg(path, option(port));
}

QString connectionRefusedText(const QString &path, const QString &host, int tcpPort, int port)
{
    return QStringLiteral("Connection refused: %1\nNothing accepts connections on port %2 of %3. Check that the serial "
                          "device server is switched on and that its raw TCP port is %2 (else name the right one "
                          "with %4), %5")
        .arg(path)
        .arg(tcpPort)
        .arg(host, option(port), portAdvice().tryAgain);
}

QString hostNotFoundText(const QString &path, const QString &host, int port)
{
    return QStringLiteral("Host not found: %1\nThere is no host %2. Check the name of the serial device server, "
                          "or %3 giving its address.")
        .arg(path, host, useDevice(port, QStringLiteral("tcp://ADDRESS:PORT")));
}

QString networkUnreachableText(const QString &what, const QString &path, int port)
{
    return QStringLiteral("%1: %2\nThe serial device server cannot be reached. Check that it is switched on and "
                          "connected, its address (%3), the network and any firewall between, %4")
        .arg(what, path, option(port), portAdvice().tryAgain);
}

QString networkLostText(const QString &what, const QString &path)
{
    return QStringLiteral("%1: %2").arg(what, path);
}

QString speedSetByServerText(const QString &path)
{
    return QStringLiteral("Speed is set by the device server (%1)").arg(path);
}
