#pragma once
// A serial control without a device, for tests and benchmarks: it records every
// operation and every byte written, and lets the caller inject received text and
// failures.

#include "SerialControl.h"

#include <QByteArray>
#include <QMap>
#include <QSet>
#include <QStringList>

class FakeSerialControl final : public SerialControl {
    Q_OBJECT
public:
    using SerialControl::SerialControl;

    SerialResult setCommPort(int port) override;
    int commPort() const override { return m_commPort; }
    SerialResult setSettings(const QString &settings) override;
    QString settings() const override { return m_settings; }
    bool portOpen() const override { return m_open; }
    SerialResult setPortOpen(bool open) override;
    SerialResult output(const QString &text) override;
    QString input() override;
    int commEvent() const override { return m_commEvent; }

    // Delivers text as if it had arrived on the line (raises onComm at once).
    void receive(const QString &text);
    // Raises onComm with another event code (nothing to read).
    void raiseEvent(int code);
    // The device goes away: the port closes and portLost is raised, with the
    // panel's advice.
    void loseDevice(const QString &description = QStringLiteral("Input/output error"));

    // Port numbers whose device cannot be opened, with the description to report.
    QMap<int, QString> unopenable;

    QByteArray written;   // every byte put on the wire
    QStringList log;      // "CommPort=1", "Settings=19200,N,8,1", "PortOpen=1", "PortOpen=0", "Output=..."
    int openCount = 0;

private:
    int m_commPort = 1;
    QString m_settings = QStringLiteral("9600,N,8,1");
    bool m_open = false;
    int m_commEvent = 0;
    QString m_pending;
};
