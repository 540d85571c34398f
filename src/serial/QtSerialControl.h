#pragma once
// The serial control over a real device (QSerialPort). Port numbers map to device
// paths given at construction (COM1 -> /dev/ttyS0 unless told otherwise); a path
// tcp://HOST:PORT opens a network link to a serial device server instead.

#include "SerialControl.h"
#include "TcpLink.h"

#include <QMap>
#include <QSerialPort>

class QtSerialControl final : public SerialControl {
    Q_OBJECT
public:
    explicit QtSerialControl(QMap<int, QString> devices, QObject *parent = nullptr);
    ~QtSerialControl() override;

    SerialResult setCommPort(int port) override;
    int commPort() const override { return m_commPort; }
    SerialResult setSettings(const QString &settings) override;
    QString settings() const override { return m_settings; }
    bool portOpen() const override { return m_port.isOpen() || m_link.isOpen(); }
    SerialResult setPortOpen(bool open) override;
    SerialResult output(const QString &text) override;
    QString input() override;
    int commEvent() const override { return m_commEvent; }

    // Line settings of the open device as the driver reports them (for tests).
    qint32 deviceBaudRate() const { return m_port.baudRate(); }

private:
    void handleError(QSerialPort::SerialPortError error);
    SerialResult applySettings();

    QMap<int, QString> m_devices;
    QSerialPort m_port;
    TcpLink m_link;
    int m_commPort = 1;
    QString m_settings = QStringLiteral("9600,N,8,1");
    int m_commEvent = 0;
};

// The device paths the port numbers 1 and 2 open by default on this platform.
QMap<int, QString> defaultComDevices();
