#pragma once
// Why a port could not be opened or stopped working, as facts: what failed, the
// device, what the system said, and what else the system told about it (who holds
// the device, the user's group, the serial ports there are). Each program words
// its texts from these (PortWording), with its own advice.

#include <QList>
#include <QString>
#include <optional>

// A process a lock file of the device names.
struct PortHolder {
    qint64 pid = 0;
    QString command;  // its command name (empty for one that has ended)
    QString lockFile;
};

// A serial port the system knows of: its device path and the adapter's description.
struct SerialAdapter {
    QString path;
    QString description;
};

struct PortFailure {
    enum class Kind {
        MissingDevice,     // no such device
        NoAccess,          // the user may not open it
        HeldElsewhere,     // another program holds it (lock file, or exclusive access)
        StaleLock,         // a lock file of a program that has ended, which the user may not remove
        NotASerialDevice,  // a file, directory, socket or other device
        SystemError,       // anything else the system refused: its words and the file
        BadAddress,        // not tcp://HOST:PORT
        Refused,           // nothing listens on that port of the host
        HostNotFound,      // the host name is not known
        Unreachable,       // no answer in time, or the network says unreachable
        Lost,              // the open port went away
    };
    Kind kind = Kind::SystemError;
    QString device;          // the device path or tcp:// address
    int port = 1;            // the port number (COM1, COM2) whose device option names the device
    int systemError = 0;     // the system's error number, where it gave one
    QString systemText = {}; // the system's (or the link's) words: "Permission denied"
    QString about = {};      // the file a system error is about, when that is not the device (a lock file)
    std::optional<PortHolder> holder = {};  // HeldElsewhere: the live process; StaleLock: the ended one
    QString user = {};       // NoAccess, StaleLock: the user refused
    QString group = {};      // NoAccess: the device's group, when its members have read and write access
    QList<SerialAdapter> adapters = {};  // MissingDevice: the serial ports the system lists
    QString host = {};       // Refused, HostNotFound: the server's host and TCP port
    int tcpPort = 0;

    // The short form, the first line of every program's text: what happened and the
    // device ("Permission denied: /dev/ttyS0").
    QString summary() const;
};
