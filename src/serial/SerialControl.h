#pragma once
// The serial control: the handful of operations the panel performs on its port,
// behind one small interface so it can be mocked (FakeSerialControl) or backed by a
// real device (QtSerialControl over a DeviceLink or a TcpLink).

#include "PortFailure.h"

#include <QObject>
#include <QString>
#include <optional>

struct SerialError {
    int number = 0;
    QString description;
    // After a loss: what the program's user does to open the port again.
    QString advice = {};
    // What the system refused, when it did: the program words the description from it.
    std::optional<PortFailure> failure = {};
};
// Every operation that can fail answers with this: nothing on success, otherwise
// the error's number and a readable description.
using SerialResult = std::optional<SerialError>;

// The error of `failure`, described by its short form until a program words it.
inline SerialError portError(int number, PortFailure failure)
{
    QString summary = failure.summary();
    return {number, std::move(summary), {}, std::move(failure)};
}

// Error numbers of the serial layer.
enum SerialErrorNumber : int {
    ErrNoSuchPort = 8002,       // no device for that port number
    ErrPortAlreadyOpen = 8005,  // open on an open port
    ErrPortOpenFailed = 8010,   // the device could not be opened (absent, busy, no permission)
    ErrPortNotOpen = 8012,      // write on a closed port
    ErrBadSettings = 380,       // malformed or unsupported settings string
    ErrWriteFailed = 8020,
    ErrPortLost = 8030,         // the device went away while open
    // Not a failure: the settings are kept, but the link (a serial device server
    // on the network) runs at the speed the server is set to.
    ErrSpeedSetByServer = 8040,
};

// The receive event: "characters are waiting".
inline constexpr int kCommEvReceive = 2;

class SerialControl : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~SerialControl() override = default;

    // CommPort: the port number the next open uses (1 = COM1, 2 = COM2).
    virtual SerialResult setCommPort(int port) = 0;
    virtual int commPort() const = 0;
    // Settings: "19200,N,8,1"; applies at once to an open port, is kept while closed.
    virtual SerialResult setSettings(const QString &settings) = 0;
    virtual QString settings() const = 0;
    // PortOpen: true opens with the current settings, false closes (closing a closed
    // port is not an error). A network link counts as open while it connects.
    virtual bool portOpen() const = 0;
    virtual SerialResult setPortOpen(bool open) = 0;
    // Output: queues the text, one byte per character, and returns without waiting.
    virtual SerialResult output(const QString &text) = 0;
    // Input: every received character not yet read, in arrival order.
    virtual QString input() = 0;
    // CommEvent: the code of the event that raised onComm().
    virtual int commEvent() const = 0;

signals:
    // Raised on the GUI thread whenever characters wait (or another event happened).
    void onComm();
    // The open port failed for good (device removed, hang-up): the port has been
    // closed; raised once per loss.
    void portLost(const SerialError &error);
    // An open that completes in the background (a network link) failed: the port
    // is closed. The open itself had answered with success.
    void openFailed(const SerialError &error);
    // The port carries bytes: at once after the open of a device, once connected
    // for a network link.
    void opened();
};
