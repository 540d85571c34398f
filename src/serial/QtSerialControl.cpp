#include "QtSerialControl.h"

#include "DeviceLink.h"
#include "SerialText.h"
#include "TcpLink.h"

std::unique_ptr<SerialControl> makeSerialLink(const QString &device)
{
    if (TcpLink::isNetworkPath(device))
        return std::make_unique<TcpLink>(device);
    return std::make_unique<DeviceLink>(device);
}

QMap<int, QString> defaultComDevices()
{
#ifdef Q_OS_WIN
    return {{1, QStringLiteral("COM1")}, {2, QStringLiteral("COM2")}};
#else
    return {{1, QStringLiteral("/dev/ttyS0")}, {2, QStringLiteral("/dev/ttyS1")}};
#endif
}

QtSerialControl::QtSerialControl(QMap<int, QString> devices, PortWording wording, QObject *parent)
    : SerialControl(parent), m_wording(std::move(wording))
{
    for (auto d = devices.cbegin(); d != devices.cend(); ++d) {
        if (d.value().isEmpty())
            continue;
        std::unique_ptr<SerialControl> link = makeSerialLink(d.value());
        link->setCommPort(d.key());
        connect(link.get(), &SerialControl::onComm, this, &SerialControl::onComm);
        connect(link.get(), &SerialControl::opened, this, &SerialControl::opened);
        connect(link.get(), &SerialControl::openFailed, this, [this](const SerialError &e) { emit openFailed(*worded(e)); });
        connect(link.get(), &SerialControl::portLost, this, [this](const SerialError &e) {
            SerialError lost = *worded(e);
            lost.advice = m_wording.afterLoss;
            emit portLost(lost);
        });
        m_links[d.key()] = std::move(link);
    }
}

QtSerialControl::~QtSerialControl() = default;

SerialControl *QtSerialControl::link() const
{
    const auto found = m_links.find(m_commPort);
    return found == m_links.end() ? nullptr : found->second.get();
}

// A failure the system told of in the program's words.
SerialResult QtSerialControl::worded(SerialResult error) const
{
    if (error && error->failure)
        error->description = m_wording.describe(*error->failure);
    return error;
}

SerialResult QtSerialControl::setCommPort(int port)
{
    if (portOpen())
        return SerialError{ErrPortAlreadyOpen, QStringLiteral("Port already open")};
    if (port < 1 || port > 16)
        return SerialError{ErrNoSuchPort, QStringLiteral("Invalid port number %1").arg(port)};
    m_commPort = port;
    return std::nullopt;
}

// Every link keeps the settings, so that the next one chosen opens with them.
SerialResult QtSerialControl::setSettings(const QString &settings)
{
    if (!parseLineSettings(settings))
        return SerialError{ErrBadSettings, QStringLiteral("Invalid settings: \"%1\"").arg(settings)};
    m_settings = settings;
    SerialResult chosen;
    for (const auto &[port, link] : m_links) {
        SerialResult result = link->setSettings(settings);
        if (port == m_commPort)
            chosen = std::move(result);
    }
    return chosen;
}

SerialResult QtSerialControl::setPortOpen(bool open)
{
    if (!open)
        return link() ? link()->setPortOpen(false) : std::nullopt;
    if (portOpen())
        return SerialError{ErrPortAlreadyOpen, QStringLiteral("Port already open")};
    if (!link())
        return SerialError{ErrNoSuchPort, QStringLiteral("No device for COM%1").arg(m_commPort)};
    return worded(link()->setPortOpen(true));
}

SerialResult QtSerialControl::output(const QString &text)
{
    if (!link())
        return SerialError{ErrPortNotOpen, QStringLiteral("Port is not open")};
    return link()->output(text);
}

QString QtSerialControl::input()
{
    return link() ? link()->input() : QString();
}
