// orva-bridge: a service that owns the projector's serial port and serves the
// room's control systems over PJLink class 1 and MQTT.

#include "Config.h"
#include "Mqtt.h"
#include "Projector.h"
#include "exchange/ExchangeLog.h"
#include "serial/EndSignals.h"
#include "serial/QtSerialControl.h"
#include "serial/SerialText.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>
#include <QSysInfo>
#include <cstdio>
#include <memory>
#include <utility>
#include <vector>
#include <csignal>

namespace {

constexpr int kUsage = 64;

// One line per event, as journald reads it from stderr.
void logLine(const QString &text)
{
    std::fprintf(stderr, "orva-bridge: %s\n", qPrintable(text));
}

[[noreturn]] void usageError(const QString &why)
{
    std::fprintf(stderr, "orva-bridge: %s (see orva-bridge --help)\n", qPrintable(why));
    std::exit(kUsage);
}

// The password from its file, with a warning (once for a file that several
// projectors share) where others can read it too.
void readPassword(const QString &path, QByteArray &password)
{
    static QStringList warned;
    if (const QString error = bridge::readPassword(path, password); !error.isEmpty())
        usageError(error);
    if (const QString warning = bridge::passwordFileWarning(path); !warning.isEmpty() && !warned.contains(path)) {
        warned << path;
        logLine(warning);
    }
}

PortAdvice bridgeAdvice()
{
    return {QStringLiteral("run orva-bridge with --device {device}"), QStringLiteral("--device"),
            QStringLiteral("orva-bridge --device {device}"), QStringLiteral("the bridge tries again every few seconds."),
            QStringLiteral("The bridge tries again every few seconds.")};
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_NO_GLIB", "1");  // Qt's own event loop: glib's costs a third more CPU time per command
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orva-bridge"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.40"));
    setPortAdvice(bridgeAdvice());

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Owns the projector's serial port and serves it to the room's control systems over PJLink class 1\n"
        "and MQTT, one command on the line at a time."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QString defaultDevice = defaultComDevices().value(1);
    const QCommandLineOption device(QStringLiteral("device"),
                                    QStringLiteral("The projector's serial device, or tcp://HOST:PORT (default %1).").arg(defaultDevice),
                                    QStringLiteral("DEVICE"), defaultDevice);
    const QCommandLineOption speed(QStringLiteral("speed"), QStringLiteral("Line speed, 19200 or 9600 (default 19200)."),
                                   QStringLiteral("BAUD"), QStringLiteral("19200"));
    const QCommandLineOption pjlinkPort(QStringLiteral("pjlink"), QStringLiteral("PJLink port (default 4352; 0: none)."),
                                        QStringLiteral("PORT"), QString::number(pjlink::kPort));
    const QCommandLineOption rawPort(QStringLiteral("raw"),
                                     QStringLiteral("Shared raw port (a port number; default 0: none), which orva-panel and orva-ctl "
                                                    "reach as tcp://HOST:PORT."),
                                     QStringLiteral("PORT"), QStringLiteral("0"));
    const QCommandLineOption listen(QStringLiteral("listen"), QStringLiteral("Address to listen on (default 127.0.0.1)."),
                                    QStringLiteral("ADDRESS"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption passwordFile(QStringLiteral("password-file"),
                                          QStringLiteral("File whose first line is the PJLink password."), QStringLiteral("FILE"));
    const QCommandLineOption noPassword(QStringLiteral("no-password"),
                                        QStringLiteral("Listen beyond the loopback without a password."));
    const QCommandLineOption name(QStringLiteral("name"), QStringLiteral("The projector's PJLink name (default TK58R)."),
                                  QStringLiteral("NAME"), QStringLiteral("TK58R"));
    const QCommandLineOption log(QStringLiteral("log"), QStringLiteral("Log every exchange to FILE."), QStringLiteral("FILE"));
    const QCommandLineOption config(QStringLiteral("config"),
                                    QStringLiteral("Serve the projectors of this configuration file (INI: a [bridge] section, "
                                                   "one section per projector) instead of --device's one; --listen, --log, "
                                                   "--no-password and --max-connections stand over its [bridge] settings."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption maxConnections(QStringLiteral("max-connections"),
                                            QStringLiteral("Connections each listener takes at once (default 32; at most 256), at most 8 of them from one address."),
                                            QStringLiteral("N"));
    const QCommandLineOption id(QStringLiteral("id"),
                                QStringLiteral("The projector's id in its MQTT topics (default from the device: ttyUSB0 ...)."),
                                QStringLiteral("ID"));
    const QCommandLineOption mqtt(QStringLiteral("mqtt"),
                                  QStringLiteral("Publish the state and take commands on this MQTT broker: mqtt://HOST[:PORT] "
                                                 "or mqtts://HOST[:PORT] (TLS)."),
                                  QStringLiteral("URL"));
    const QCommandLineOption mqttCaFile(QStringLiteral("mqtt-ca-file"),
                                        QStringLiteral("mqtts://: the CA certificates to check the broker with (default the system's)."),
                                        QStringLiteral("FILE"));
    const QCommandLineOption mqttUser(QStringLiteral("mqtt-user"), QStringLiteral("User name at the broker."), QStringLiteral("NAME"));
    const QCommandLineOption mqttPasswordFile(QStringLiteral("mqtt-password-file"),
                                              QStringLiteral("File whose first line is the broker password."), QStringLiteral("FILE"));
    const QCommandLineOption mqttId(QStringLiteral("mqtt-id"), QStringLiteral("The bridge's name on the broker (default the host name)."),
                                    QStringLiteral("ID"));
    const QCommandLineOption poll(QStringLiteral("poll"),
                                  QStringLiteral("Seconds between polls of power, input and mute for MQTT (default 10); the lamp and "
                                                 "temperatures every sixth poll."),
                                  QStringLiteral("SECONDS"));
    const QCommandLineOption mqttSend(QStringLiteral("mqtt-send"), QStringLiteral("Take raw command texts on MQTT (send/set)."));
    parser.addOptions({device, speed, pjlinkPort, rawPort, listen, passwordFile, noPassword, name, log, config, maxConnections, id,
                       mqtt, mqttCaFile, mqttUser, mqttPasswordFile, mqttId, poll, mqttSend});
    // A mistake on the command line is a usage error (64) like any other; once the
    // line is known good, process() answers --help and --version.
    if (!parser.parse(app.arguments()))
        usageError(parser.errorText().chopped(parser.errorText().endsWith(u'.') ? 1 : 0));
    parser.process(app);
    if (!parser.positionalArguments().isEmpty())
        usageError(QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first()));

    bridge::BridgeSettings settings;
    if (parser.isSet(config)) {
        for (const QCommandLineOption *one : {&device, &speed, &pjlinkPort, &rawPort, &passwordFile, &name, &id})
            if (parser.isSet(*one))
                usageError(QStringLiteral("--%1 is a setting of the configuration file's projectors: give one or the other")
                               .arg(one->names().first()));
        if (const QString error = bridge::readConfig(parser.value(config), defaultDevice, settings); !error.isEmpty())
            usageError(error);
    } else {
        bridge::ProjectorSettings projector;
        projector.device = parser.value(device);
        projector.speed = parser.value(speed);
        projector.name = parser.value(name);
        projector.passwordFile = parser.value(passwordFile);
        // An id names the projector in the log, and on MQTT in its topics.
        if (parser.isSet(id))
            projector.id = parser.value(id);
        else if (parser.isSet(mqtt))
            projector.id = mqtt::idFromDevice(projector.device);
        for (auto [option, port] : {std::pair{&pjlinkPort, &projector.pjlink}, std::pair{&rawPort, &projector.raw}}) {
            bool ok = false;
            *port = parser.value(*option).toInt(&ok);
            if (!ok)
                usageError(QStringLiteral("--%1 takes a port number").arg(option->names().first()));
        }
        settings.projectors.push_back(projector);
    }
    // The command line's --listen, --log and --no-password stand over the file's.
    if (parser.isSet(listen) || !parser.isSet(config))
        settings.listen = parser.value(listen);
    if (parser.isSet(log))
        settings.log = parser.value(log);
    settings.noPassword = settings.noPassword || parser.isSet(noPassword);
    if (parser.isSet(maxConnections)) {
        bool ok = false;
        settings.maxConnections = parser.value(maxConnections).toInt(&ok);
        if (!ok)
            usageError(QStringLiteral("--max-connections takes a number"));
    }
    // The command line's MQTT settings, likewise.
    for (auto [option, value] : {std::pair{&mqtt, &settings.mqtt.url}, std::pair{&mqttCaFile, &settings.mqtt.caFile},
                                 std::pair{&mqttUser, &settings.mqtt.user}, std::pair{&mqttPasswordFile, &settings.mqtt.passwordFile},
                                 std::pair{&mqttId, &settings.mqtt.bridgeId}})
        if (parser.isSet(*option))
            *value = parser.value(*option);
    settings.mqtt.allowSend = settings.mqtt.allowSend || parser.isSet(mqttSend);
    if (parser.isSet(poll)) {
        bool ok = false;
        settings.mqtt.pollSeconds = parser.value(poll).toInt(&ok);
        if (!ok)
            usageError(QStringLiteral("--poll takes a number of seconds"));
    }
    if (settings.mqtt.bridgeId.isEmpty())
        settings.mqtt.bridgeId = mqtt::idFromDevice(QSysInfo::machineHostName());  // a host name made an id
    if (const QString error = bridge::checkSettings(settings); !error.isEmpty())
        usageError(error);
    bridge::MqttEndpoint broker;
    if (const auto url = mqtt::parseUrl(settings.mqtt.url)) {
        broker = {url->host, url->port, url->tls, settings.mqtt.caFile, settings.mqtt.user, {}};
        if (!settings.mqtt.passwordFile.isEmpty())
            readPassword(settings.mqtt.passwordFile, broker.password);
    }
    std::vector<QByteArray> passwords;
    for (const bridge::ProjectorSettings &projector : settings.projectors) {
        QByteArray &password = passwords.emplace_back();
        if (!projector.passwordFile.isEmpty())
            readPassword(projector.passwordFile, password);
    }

    std::unique_ptr<ExchangeLog> exchangeLog;
    if (!settings.log.isEmpty()) {
        exchangeLog = std::make_unique<ExchangeLog>();
        QString error;
        if (!exchangeLog->open(settings.log, &error)) {
            logLine(error);
            return 3;
        }
        QObject::connect(exchangeLog.get(), &ExchangeLog::stopped, &logLine);
    }

    const QHostAddress address(settings.listen);
    std::vector<std::unique_ptr<bridge::Projector>> projectors;
    for (std::size_t i = 0; i < settings.projectors.size(); ++i) {
        auto &projector = *projectors.emplace_back(
            std::make_unique<bridge::Projector>(settings.projectors[i], passwords[i], exchangeLog.get()));
        QObject::connect(&projector, &bridge::Projector::logLine, &logLine);
        projector.setMaxConnections(settings.maxConnections);
        if (!projector.listen(address))
            return 1;
        if (!broker.host.isEmpty()) {
            const bridge::ProjectorSettings &one = settings.projectors[i];
            // Home Assistant's device: the projector's name where one was given, else its id.
            const QString shown = !one.name.isEmpty() && one.name != bridge::ProjectorSettings().name ? one.name : one.id;
            projector.serveMqtt(broker, {settings.mqtt.bridgeId, one.id, shown, settings.mqtt.pollSeconds * 1000, settings.mqtt.allowSend});
        }
    }
    std::unique_ptr<bridge::MqttBridge> onBroker;
    if (!broker.host.isEmpty()) {
        QStringList ids;
        for (const bridge::ProjectorSettings &one : settings.projectors)
            ids << one.id;
        onBroker = std::make_unique<bridge::MqttBridge>(broker, settings.mqtt.bridgeId, ids);
        QObject::connect(onBroker.get(), &bridge::MqttBridge::logLine, &logLine);
        if (QString error; !onBroker->start(&error)) {
            logLine(QStringLiteral("MQTT: %1").arg(error));
            return 1;
        }
        logLine(QStringLiteral("MQTT: to %1 as %2").arg(settings.mqtt.url, settings.mqtt.bridgeId));
    }
    for (auto &projector : projectors)
        if (!projector->start())
            return 1;

    // SIGTERM, SIGINT and SIGHUP (no reload: the settings are read at start only):
    // every waiting command answered with an error, the port closed, status 0.
    EndSignals ending;
    QObject::connect(&ending, &EndSignals::arrived, &app, [&] {
        for (auto &projector : projectors)
            projector->stop(QStringLiteral("the bridge is ending"));
        if (onBroker)
            onBroker->stop();
        logLine(QStringLiteral("ended"));
        QCoreApplication::quit();
    });
    std::signal(SIGPIPE, SIG_IGN);
    return app.exec();
}
