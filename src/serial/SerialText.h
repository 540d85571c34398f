#pragma once
// Text <-> bytes on the line: one byte per character both ways, so that positions
// in the trace never shift. A character with no single-byte form goes out as "?".

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

QByteArray textToLineBytes(const QString &text);
QString lineBytesToText(const QByteArray &bytes);

struct LineSettings {
    int baud = 9600;
    char parity = 'N';   // N, E, O, M or S
    int dataBits = 8;    // 5..8
    int stopBits = 1;    // 1 or 2
};

// Parses "19200,N,8,1" (blanks around the fields allowed, parity letter in either
// case). Answers nothing for a malformed or unsupported string.
std::optional<LineSettings> parseLineSettings(const QString &settings);

// Texts of the open failures the warning box shows. The first line is the short
// form, the system's description and the path ("Permission denied: /dev/ttyS0");
// the lines after it say what that means and what to do.

// What to do names the program's own ways: how its user names another device and
// tries again. One advice per program, set once at its start (the panel's unless
// told otherwise). In the templates {port} stands for the port number, {device}
// for a device.
struct PortAdvice {
    QString useDevice;  // "start the panel with --com{port} {device}"
    QString option;     // "--com{port}": the option that names the port's device
    QString example;    // "orva-panel --com{port} {device}"
    QString tryAgain;   // "then choose the port again with the COM button."
    QString afterLoss;  // "Choose COM1 or COM2 (COM button) to open it again."
};
PortAdvice panelPortAdvice();
const PortAdvice &portAdvice();
void setPortAdvice(PortAdvice advice);

// A path that is not a serial device (/dev/null, a regular file, a directory).
// `port` is the port number whose device option (--com1, --com2) names another one.
QString notASerialPortText(const QString &what, const QString &path, int port);

// The user lacks access. `group` is the device's group when membership of it grants
// read and write access, else empty.
QString noAccessText(const QString &what, const QString &path, const QString &user, const QString &group);

// The process named in the device's lock file.
struct PortHolder {
    qint64 pid = 0;
    QString command;
    QString lockFile;
};
// Another program holds the device (lock file, or exclusive access).
QString heldElsewhereText(const QString &path, const std::optional<PortHolder> &holder);
// A lock file left behind by process `pid`, which has ended, that `user` may not remove.
QString staleLockText(const QString &path, const QString &lockFile, qint64 pid, const QString &user);

// A serial port the system knows of: its device path and the adapter's description.
struct SerialAdapter {
    QString path;
    QString description;
};
// The device does not exist; `present` are the serial ports the system does list.
QString missingDeviceText(const QString &what, const QString &path, int port, const QList<SerialAdapter> &present);

// Texts of a network link to a serial device server (tcp://HOST:PORT), in the same
// form: the short form and the address first, then what to do.

// The address is no tcp://HOST:PORT.
QString badNetworkAddressText(const QString &path, int port);
// Nothing listens on that port of the host.
QString connectionRefusedText(const QString &path, const QString &host, int tcpPort, int port);
// The host name is not known.
QString hostNotFoundText(const QString &path, const QString &host, int port);
// The host did not answer in time, or the network reports it unreachable.
QString networkUnreachableText(const QString &what, const QString &path, int port);
// The connection went down while open (the first line of a port loss).
QString networkLostText(const QString &what, const QString &path);
// The speed choice on a network link: the device server sets the line's speed.
QString speedSetByServerText(const QString &path);
