#include "PortWording.h"

namespace {

// A template with the port number and the device put in.
QString filled(QString text, int port, const QString &device = QString())
{
    return text.replace(QLatin1String("{port}"), QString::number(port)).replace(QLatin1String("{device}"), device);
}

QString capitalised(QString text)
{
    if (!text.isEmpty())
        text[0] = text[0].toUpper();
    return text;
}

} // namespace

QString PortFailure::summary() const
{
    switch (kind) {
    case Kind::HeldElsewhere: return QStringLiteral("Device is busy (held by another program): %1").arg(device);
    case Kind::StaleLock: return QStringLiteral("Device is locked by a program that has ended: %1").arg(device);
    case Kind::BadAddress: return QStringLiteral("Not a network address: %1").arg(device);
    case Kind::Refused: return QStringLiteral("Connection refused: %1").arg(device);
    case Kind::HostNotFound: return QStringLiteral("Host not found: %1").arg(device);
    default: return QStringLiteral("%1: %2").arg(systemText, about.isEmpty() ? device : about);
    }
}

PortWording panelWording()
{
    return {QStringLiteral("start the panel with --com{port} {device}"), QStringLiteral("--com{port}"),
            QStringLiteral("orva-panel --com{port} {device}"), QStringLiteral("then choose the port again with the COM button."),
            QStringLiteral("Choose COM1 or COM2 (COM button) to open it again.")};
}

QString PortWording::describe(const PortFailure &f) const
{
    using Kind = PortFailure::Kind;
    const QString use = filled(useDevice, f.port, QStringLiteral("DEVICE"));
    const QString deviceOption = filled(option, f.port);
    QString text = f.summary() + u'\n';
    switch (f.kind) {
    case Kind::NotASerialDevice:
        return text
            + QStringLiteral("%1 is not a serial port. %2 naming the serial port the projector is connected to (e.g. %3 "
                             "/dev/ttyUSB0).")
                  .arg(f.device, capitalised(use), deviceOption);
    case Kind::NoAccess:
        text += QStringLiteral("The user %1 has no access to this device.").arg(f.user);
        if (f.group.isEmpty())
            return text + QStringLiteral(" Ask the administrator for read and write access to it.");
        return text
            + QStringLiteral(" Members of its group \"%1\" have access: add the user to it (sudo adduser %2 %1), "
                             "then log out and in again.")
                  .arg(f.group, f.user);
    case Kind::HeldElsewhere:
        if (f.holder)
            return text
                + QStringLiteral("Its lock file %1 names process %2 (%3). Close that program, %4")
                      .arg(f.holder->lockFile)
                      .arg(f.holder->pid)
                      .arg(f.holder->command, tryAgain);
        return text + QStringLiteral("Close the program that uses it, %1").arg(tryAgain);
    case Kind::StaleLock:
        return text
            + QStringLiteral("Its lock file %1 names process %2, which is no longer running, and the user %3 may not "
                             "remove it. Remove it (sudo rm %1), %4")
                  .arg(f.holder ? f.holder->lockFile : QString())
                  .arg(f.holder ? f.holder->pid : 0)
                  .arg(f.user, tryAgain);
    case Kind::MissingDevice:
        text += QStringLiteral("There is no device %1.").arg(f.device);
        if (f.adapters.isEmpty())
            return text
                + QStringLiteral(" No serial port was found on this computer: connect the serial adapter, or %1 naming "
                                 "its device.")
                      .arg(use);
        text += QStringLiteral(" Serial ports on this computer:");
        for (const SerialAdapter &a : f.adapters)
            text += a.description.isEmpty() ? QStringLiteral("\n  %1").arg(a.path)
                                            : QStringLiteral("\n  %1 (%2)").arg(a.path, a.description);
        return text + QStringLiteral("\nTo use one, %1, e.g. %2").arg(use, filled(example, f.port, f.adapters.first().path));
    case Kind::BadAddress:
        return text
            + QStringLiteral("Write a serial device server's address as tcp://HOST:PORT, e.g. %1 tcp://192.168.1.50:4001.")
                  .arg(deviceOption);
    case Kind::Refused:
        return text
            + QStringLiteral("Nothing accepts connections on port %1 of %2. Check that the serial device server is "
                             "switched on and that its raw TCP port is %1 (else name the right one with %3), %4")
                  .arg(f.tcpPort)
                  .arg(f.host, deviceOption, tryAgain);
    case Kind::HostNotFound:
        return text
            + QStringLiteral("There is no host %1. Check the name of the serial device server, or %2 giving its address.")
                  .arg(f.host, filled(useDevice, f.port, QStringLiteral("tcp://ADDRESS:PORT")));
    case Kind::Unreachable:
        return text
            + QStringLiteral("The serial device server cannot be reached. Check that it is switched on and connected, "
                             "its address (%1), the network and any firewall between, %2")
                  .arg(deviceOption, tryAgain);
    case Kind::SystemError:
    case Kind::Lost:
        break;
    }
    return f.summary();
}
