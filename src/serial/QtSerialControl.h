#pragma once
// The serial control the programs use. Port numbers map to devices given at
// construction (COM1 -> /dev/ttyS0 unless told otherwise), each a serial device or
// tcp://HOST:PORT, a network link to a serial device server: one link per port
// number, the chosen one's operations and signals passed through. Its failures are
// worded as the program words them.

#include "PortWording.h"
#include "SerialControl.h"

#include <QMap>
#include <map>
#include <memory>

class QtSerialControl final : public SerialControl {
    Q_OBJECT
public:
    QtSerialControl(QMap<int, QString> devices, PortWording wording, QObject *parent = nullptr);
    ~QtSerialControl() override;

    SerialResult setCommPort(int port) override;
    int commPort() const override { return m_commPort; }
    SerialResult setSettings(const QString &settings) override;
    QString settings() const override { return m_settings; }
    bool portOpen() const override { return link() && link()->portOpen(); }
    SerialResult setPortOpen(bool open) override;
    SerialResult output(const QString &text) override;
    QString input() override;
    int commEvent() const override { return link() ? link()->commEvent() : 0; }

    // The link of the chosen port number; none when it has no device.
    SerialControl *link() const;

private:
    SerialResult worded(SerialResult error) const;

    std::map<int, std::unique_ptr<SerialControl>> m_links;
    PortWording m_wording;
    int m_commPort = 1;
    QString m_settings = QStringLiteral("9600,N,8,1");
};

// The link to `device`: a serial device, or for tcp://HOST:PORT a device server's.
std::unique_ptr<SerialControl> makeSerialLink(const QString &device);

// The device paths the port numbers 1 and 2 open by default on this platform.
QMap<int, QString> defaultComDevices();
