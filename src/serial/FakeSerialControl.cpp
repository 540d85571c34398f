#include "FakeSerialControl.h"

#include "PortWording.h"
#include "SerialText.h"

SerialResult FakeSerialControl::setCommPort(int port)
{
    if (m_open)
        return SerialError{ErrPortAlreadyOpen, QStringLiteral("Port already open")};
    log << QStringLiteral("CommPort=%1").arg(port);
    m_commPort = port;
    return std::nullopt;
}

SerialResult FakeSerialControl::setSettings(const QString &settings)
{
    if (!parseLineSettings(settings))
        return SerialError{ErrBadSettings, QStringLiteral("Invalid settings: \"%1\"").arg(settings)};
    log << QStringLiteral("Settings=%1").arg(settings);
    m_settings = settings;
    return std::nullopt;
}

SerialResult FakeSerialControl::setPortOpen(bool open)
{
    if (!open) {
        log << QStringLiteral("PortOpen=0");
        m_open = false;
        return std::nullopt;
    }
    if (m_open)
        return SerialError{ErrPortAlreadyOpen, QStringLiteral("Port already open")};
    log << QStringLiteral("PortOpen=1");
    if (unopenable.contains(m_commPort))
        return SerialError{ErrPortOpenFailed, unopenable.value(m_commPort)};
    m_open = true;
    ++openCount;
    emit opened();
    return std::nullopt;
}

SerialResult FakeSerialControl::output(const QString &text)
{
    if (!m_open)
        return SerialError{ErrPortNotOpen, QStringLiteral("Port is not open")};
    written += textToLineBytes(text);
    return std::nullopt;
}

QString FakeSerialControl::input()
{
    m_commEvent = 0;
    return std::exchange(m_pending, QString());
}

void FakeSerialControl::receive(const QString &text)
{
    m_pending += text;
    m_commEvent = kCommEvReceive;
    emit onComm();
}

void FakeSerialControl::raiseEvent(int code)
{
    m_commEvent = code;
    emit onComm();
}

void FakeSerialControl::loseDevice(const QString &description)
{
    if (!m_open)
        return;
    m_open = false;
    log << QStringLiteral("Lost");
    emit portLost(SerialError{ErrPortLost, description, panelWording().afterLoss});
}
