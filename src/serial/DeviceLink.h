#pragma once
// The serial control over one serial device (QSerialPort).

#include "SerialControl.h"

#include <QSerialPort>

class DeviceLink final : public SerialControl {
    Q_OBJECT
public:
    explicit DeviceLink(QString path, QObject *parent = nullptr);
    ~DeviceLink() override;

    // The port number only names the device's option in the texts; the device stays.
    SerialResult setCommPort(int port) override;
    int commPort() const override { return m_commPort; }
    SerialResult setSettings(const QString &settings) override;
    QString settings() const override { return m_settings; }
    bool portOpen() const override { return m_port.isOpen(); }
    SerialResult setPortOpen(bool open) override;
    SerialResult output(const QString &text) override;
    QString input() override;
    int commEvent() const override { return m_commEvent; }

    // The line's speed as the driver reports it.
    qint32 baudRate() const { return m_port.baudRate(); }

private:
    void handleError(QSerialPort::SerialPortError error);
    SerialResult applySettings();

    QString m_path;
    QSerialPort m_port;
    int m_commPort = 1;
    QString m_settings = QStringLiteral("9600,N,8,1");
    int m_commEvent = 0;
};
