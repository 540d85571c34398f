// The bridge's settings: read from its configuration file, checked before anything
// is opened.

#include "Config.h"

#include "Mqtt.h"
#include "exchange/CommandText.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QRegularExpression>
#include <QSettings>
#include <QStringList>
#include <QSysInfo>
#include <algorithm>
#include <map>
#include <utility>
#include <variant>

#include <unistd.h>

namespace bridge {

namespace {

// Where an option stands: on the command line only; on the command line and in
// the file's [bridge] section; on the command line (its one projector) and in each
// projector's section; on the command line only, for its one projector.
enum class Place { CommandLine, Bridge, Projector, CommandLineProjector };

// How its value is read: as it stands, a switch (in the file true or false), a
// port number, a number, a number of seconds.
enum class Kind { Text, Switch, Port, Number, Seconds };

// The setting an option's value goes into.
using Field = std::variant<QString *, int *, bool *>;
using FieldOf = Field (*)(BridgeSettings &, ProjectorSettings &);
template <auto member>
Field ofBridge(BridgeSettings &bridge, ProjectorSettings &)
{
    return &(bridge.*member);
}
template <auto member>
Field ofMqtt(BridgeSettings &bridge, ProjectorSettings &)
{
    return &(bridge.mqtt.*member);
}
template <auto member>
Field ofProjector(BridgeSettings &, ProjectorSettings &projector)
{
    return &(projector.*member);
}

struct Option {
    const char *name;       // on the command line with "--", and the file's key
    const char *valueName;  // empty: a switch
    const char *help;       // %1: the default, which is the setting's own (Config.h)
    Place place;
    Kind kind;
    FieldOf field;          // null: --config, read where it is used
    int listed;             // its place in the section's keys an unknown key's error lists
};

// Every option once, in the order --help shows them.
constexpr Option kOptions[] = {
    {"device", "DEVICE", "The projector's serial device, or tcp://HOST:PORT (default %1).", Place::Projector, Kind::Text,
     ofProjector<&ProjectorSettings::device>, 1},
    {"speed", "BAUD", "Line speed, 19200 or 9600 (default %1).", Place::Projector, Kind::Text,
     ofProjector<&ProjectorSettings::speed>, 2},
    {"pjlink", "PORT", "PJLink port (default %1; 0: none).", Place::Projector, Kind::Port, ofProjector<&ProjectorSettings::pjlink>, 3},
    {"raw", "PORT", "Shared raw port (a port number; default %1: none), which orva-panel and orva-ctl reach as tcp://HOST:PORT.",
     Place::Projector, Kind::Port, ofProjector<&ProjectorSettings::raw>, 4},
    {"listen", "ADDRESS", "Address to listen on (default %1).", Place::Bridge, Kind::Text, ofBridge<&BridgeSettings::listen>, 1},
    {"password-file", "FILE", "File whose first line is the PJLink password.", Place::Projector, Kind::Text,
     ofProjector<&ProjectorSettings::passwordFile>, 6},
    {"no-password", "", "Listen beyond the loopback without a password.", Place::Bridge, Kind::Switch,
     ofBridge<&BridgeSettings::noPassword>, 3},
    {"name", "NAME", "The projector's PJLink name (default %1).", Place::Projector, Kind::Text, ofProjector<&ProjectorSettings::name>, 5},
    {"log", "FILE", "Log every exchange to FILE.", Place::Bridge, Kind::Text, ofBridge<&BridgeSettings::log>, 2},
    {"config", "FILE",
     "Serve the projectors of this configuration file (INI: a [bridge] section, one section per projector) instead of "
     "--device's one; --listen, --log, --no-password and --max-connections stand over its [bridge] settings.",
     Place::CommandLine, Kind::Text, nullptr, 0},
    {"max-connections", "N",
     "Connections each listener takes at once (default %1; at most 256), at most 8 of them from one address.", Place::Bridge,
     Kind::Number, ofBridge<&BridgeSettings::maxConnections>, 4},
    {"id", "ID", "The projector's id in its MQTT topics (default from the device: ttyUSB0 ...).", Place::CommandLineProjector,
     Kind::Text, ofProjector<&ProjectorSettings::id>, 0},
    {"mqtt", "URL", "Publish the state and take commands on this MQTT broker: mqtt://HOST[:PORT] or mqtts://HOST[:PORT] (TLS).",
     Place::Bridge, Kind::Text, ofMqtt<&MqttSettings::url>, 5},
    {"mqtt-ca-file", "FILE", "mqtts://: the CA certificates to check the broker with (default the system's).", Place::Bridge,
     Kind::Text, ofMqtt<&MqttSettings::caFile>, 6},
    {"mqtt-user", "NAME", "User name at the broker.", Place::Bridge, Kind::Text, ofMqtt<&MqttSettings::user>, 7},
    {"mqtt-password-file", "FILE", "File whose first line is the broker password.", Place::Bridge, Kind::Text,
     ofMqtt<&MqttSettings::passwordFile>, 8},
    {"mqtt-id", "ID", "The bridge's name on the broker (default the host name).", Place::Bridge, Kind::Text,
     ofMqtt<&MqttSettings::bridgeId>, 9},
    {"poll", "SECONDS",
     "Seconds between polls of power, input and mute for MQTT (default %1); the lamp and temperatures every sixth poll. "
     "With --http and no MQTT, the whole state is asked as often.",
     Place::Bridge, Kind::Seconds, ofMqtt<&MqttSettings::pollSeconds>, 10},
    {"mqtt-send", "", "Take raw command texts on MQTT (send/set).", Place::Bridge, Kind::Switch, ofMqtt<&MqttSettings::allowSend>, 11},
    {"http", "PORT", "Serve the projectors' web page and JSON API over HTTP on this port (default %1: none).", Place::Bridge,
     Kind::Port, ofBridge<&BridgeSettings::http>, 12},
    {"http-password-file", "FILE", "File whose first line is the password of the web page and API.", Place::Bridge, Kind::Text,
     ofBridge<&BridgeSettings::httpPasswordFile>, 13},
    {"web-send", "", "Take typed command texts from the web page's manual entry.", Place::Bridge, Kind::Switch,
     ofBridge<&BridgeSettings::webSend>, 14},
    {"http-cert", "FILE", "Serve HTTPS with this certificate (PEM; with --http-key).", Place::Bridge, Kind::Text,
     ofBridge<&BridgeSettings::httpCert>, 15},
    {"http-key", "FILE", "The certificate's private key (PEM, unencrypted).", Place::Bridge, Kind::Text,
     ofBridge<&BridgeSettings::httpKey>, 16},
    {"metrics-public", "", "Serve Prometheus's /metrics without the HTTP password (on a closed network).", Place::Bridge,
     Kind::Switch, ofBridge<&BridgeSettings::metricsPublic>, 17},
};

// A listener's connections at once: each takes a file descriptor, of the 1024 a
// service has by default.
constexpr int kMostConnections = 256;

bool isProjectors(Place place)
{
    return place == Place::Projector || place == Place::CommandLineProjector;
}

// The keys of a section ([bridge] or a projector's) in the order its error lists them.
QStringList keys(Place place)
{
    std::vector<const Option *> options;
    for (const Option &option : kOptions)
        if (option.place == place)
            options.push_back(&option);
    std::sort(options.begin(), options.end(), [](const Option *a, const Option *b) { return a->listed < b->listed; });
    QStringList names;
    for (const Option *option : options)
        names << QString::fromLatin1(option->name);
    return names;
}

// A value as it stands in the file: QSettings reads "a, b" as a list, which the
// file's writer meant as one text.
QString text(const QSettings &file, const QString &key)
{
    const QVariant value = file.value(key);
    if (value.metaType().id() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", "));
    return value.toString().trimmed();
}

// The section's keys that are no setting of it (a misspelt key would else be
// ignored without a word).
QString unknownKey(const QSettings &file, const QStringList &known)
{
    for (const QString &key : file.allKeys())
        if (!known.contains(key))
            return key;
    return {};
}

bool readYesNo(const QString &value, bool &yes)
{
    static const QStringList kYes = {QStringLiteral("true"), QStringLiteral("yes"), QStringLiteral("on"), QStringLiteral("1")};
    static const QStringList kNo = {QStringLiteral("false"), QStringLiteral("no"), QStringLiteral("off"), QStringLiteral("0")};
    if (kYes.contains(value, Qt::CaseInsensitive))
        yes = true;
    else if (kNo.contains(value, Qt::CaseInsensitive))
        yes = false;
    else
        return false;
    return true;
}

// Reads an option's value, from the file or the command line (a switch given
// there is on), into its setting; empty, or what the option takes. The file's
// port is 0 to 65535 here, the command line's is checked with the settings.
QString read(const Option &option, const QString &value, bool fromFile, BridgeSettings &bridge, ProjectorSettings &projector)
{
    const Field field = option.field(bridge, projector);
    if (option.kind == Kind::Text) {
        *std::get<QString *>(field) = value;
        return {};
    }
    if (option.kind == Kind::Switch) {
        bool &yes = *std::get<bool *>(field);
        if (!fromFile)
            yes = true;
        return !fromFile || readYesNo(value, yes) ? QString() : QStringLiteral("takes true or false");
    }
    bool ok = false;
    const int number = value.toInt(&ok);
    if (option.kind == Kind::Port) {
        if (!ok || (fromFile && (number < 0 || number > 65535)))
            return fromFile ? QStringLiteral("takes a port number (0: none)") : QStringLiteral("takes a port number");
    } else if (!ok) {
        return option.kind == Kind::Seconds && !fromFile ? QStringLiteral("takes a number of seconds") : QStringLiteral("takes a number");
    }
    *std::get<int *>(field) = number;
    return {};
}

// The default an option's help names: its setting's own, and the device given.
QString defaultText(const Option &option, const QString &defaultDevice)
{
    BridgeSettings bridge;
    ProjectorSettings projector;
    projector.device = defaultDevice;
    const Field field = option.field(bridge, projector);
    if (const auto number = std::get_if<int *>(&field))
        return QString::number(**number);
    return *std::get<QString *>(field);
}

// Reads the section's keys (the options at `place`) into the settings; empty, or
// which key is wrong and why.
QString readSection(const QSettings &file, const QString &section, Place place, BridgeSettings &bridge, ProjectorSettings &projector)
{
    const QStringList known = keys(place);
    if (const QString key = unknownKey(file, known); !key.isEmpty())
        return QStringLiteral("[%1] %2: no such setting (%3)").arg(section, key, known.join(QStringLiteral(", ")));
    for (const Option &option : kOptions)
        if (const QString key = QString::fromLatin1(option.name); option.place == place && file.contains(key))
            if (const QString why = read(option, text(file, key), true, bridge, projector); !why.isEmpty())
                return QStringLiteral("[%1] %2: %3").arg(section, key, why);
    return {};
}

QString projectorName(const ProjectorSettings &projector)
{
    return projector.id.isEmpty() ? QStringLiteral("the projector") : QStringLiteral("projector %1").arg(projector.id);
}

// The name goes into PJLink's NAME answer as it stands: a CR in it would end the
// answer and make the rest a second one.
QString nameProblem(const QString &name)
{
    if (const std::optional<Unsendable> bad = firstUnsendable(name))
        return QStringLiteral("name is printable ASCII only (a blank to \"~\"), not U+%1 at %2")
            .arg(QString::number(uint(bad->code), 16).toUpper().rightJustified(4, u'0'))
            .arg(bad->position);
    if (name.size() > kLongestName)
        return QStringLiteral("name is at most %1 characters, not %2").arg(kLongestName).arg(name.size());
    return {};
}

// The device as one text for each device: a path through its links, a device
// server's tcp://HOST:PORT as given.
QString deviceKey(const QString &device)
{
    if (device.startsWith(QLatin1String("tcp://")))
        return device;
    const QString canonical = QFileInfo(device).canonicalFilePath();
    return canonical.isEmpty() ? device : canonical;
}

} // namespace

QString readConfig(const QString &path, const QString &defaultDevice, BridgeSettings &out)
{
    // QSettings reads a missing or unreadable file as an empty one, and knows no
    // section without keys: the sections are found here, in the file's order (a
    // projector's section may be empty, its settings all the defaults).
    QFile probe(path);
    if (!probe.open(QIODevice::ReadOnly | QIODevice::Text))
        return QStringLiteral("cannot read the configuration file %1: %2").arg(path, probe.errorString());
    QStringList sections;
    static const QRegularExpression kHeader(QStringLiteral("^\\s*\\[(.*)\\]\\s*$"));
    while (!probe.atEnd())
        if (const auto header = kHeader.match(QString::fromUtf8(probe.readLine())); header.hasMatch()) {
            // QSettings would take the second one's keys into the first without a word.
            if (sections.contains(header.captured(1)))
                return QStringLiteral("%1: [%2]: a second section of that name (each section once)").arg(path, header.captured(1));
            sections << header.captured(1);
        }
    probe.close();
    QSettings file(path, QSettings::IniFormat);
    if (file.status() != QSettings::NoError)
        return QStringLiteral("%1 is no configuration file (a line that is neither [section] nor key = value)").arg(path);
    const auto fail = [&path](const QString &where, const QString &why) { return QStringLiteral("%1: %2: %3").arg(path, where, why); };

    if (!file.childKeys().isEmpty())
        return fail(file.childKeys().first(), QStringLiteral("a key outside a section ([bridge] or a projector's)"));
    BridgeSettings settings;
    for (const QString &section : sections) {
        const bool bridge = section == QLatin1String("bridge");
        if (!bridge && !mqtt::isId(section))
            return fail(QStringLiteral("[%1]").arg(section),
                        QStringLiteral("a projector's id is letters, digits, '.', '_' and '-'"));
        ProjectorSettings projector;  // [bridge] sets none of it
        projector.id = section;
        projector.device = defaultDevice;
        file.beginGroup(section);
        if (const QString why = readSection(file, section, bridge ? Place::Bridge : Place::Projector, settings, projector); !why.isEmpty())
            return QStringLiteral("%1: %2").arg(path, why);
        file.endGroup();
        if (!bridge)
            settings.projectors.push_back(std::move(projector));
    }
    if (settings.projectors.empty())
        return QStringLiteral("%1 names no projector (a section such as [projector] with device = ...)").arg(path);
    out = std::move(settings);
    return {};
}

void addOptions(QCommandLineParser &parser, const QString &defaultDevice)
{
    for (const Option &option : kOptions) {
        QString help = QString::fromUtf8(option.help);
        if (help.contains(QLatin1String("%1")))
            help = help.arg(defaultText(option, defaultDevice));
        parser.addOption(QCommandLineOption(QString::fromLatin1(option.name), help, QString::fromLatin1(option.valueName)));
    }
}

QString readCommandLine(const QCommandLineParser &parser, const QString &defaultDevice, BridgeSettings &out)
{
    BridgeSettings settings;
    ProjectorSettings projector;
    projector.device = defaultDevice;
    // The options given at these places read into the settings; empty, or why not.
    const auto readGiven = [&](std::initializer_list<Place> places) {
        for (const Option &option : kOptions)
            if (const QString name = QString::fromLatin1(option.name); std::ranges::count(places, option.place) && parser.isSet(name))
                if (const QString why = read(option, parser.value(name), false, settings, projector); !why.isEmpty())
                    return QStringLiteral("--%1 %2").arg(name, why);
        return QString();
    };
    if (parser.isSet(QStringLiteral("config"))) {
        for (const Option &option : kOptions)
            if (isProjectors(option.place) && parser.isSet(QString::fromLatin1(option.name)))
                return QStringLiteral("--%1 is a setting of the configuration file's projectors: give one or the other")
                    .arg(QLatin1String(option.name));
        if (const QString error = readConfig(parser.value(QStringLiteral("config")), defaultDevice, settings); !error.isEmpty())
            return error;
    } else {
        if (const QString error = readGiven({Place::Projector, Place::CommandLineProjector}); !error.isEmpty())
            return error;
        // An id names the projector in the log, and on MQTT in its topics.
        if (!parser.isSet(QStringLiteral("id")) && (parser.isSet(QStringLiteral("mqtt")) || parser.isSet(QStringLiteral("http"))))
            projector.id = mqtt::idFromDevice(projector.device);
        settings.projectors.push_back(projector);
    }
    // The command line's [bridge] settings stand over the file's.
    if (const QString error = readGiven({Place::Bridge}); !error.isEmpty())
        return error;
    if (settings.mqtt.bridgeId.isEmpty())
        settings.mqtt.bridgeId = mqtt::idFromDevice(QSysInfo::machineHostName());  // a host name made an id
    out = std::move(settings);
    return {};
}

QString checkSettings(const BridgeSettings &settings)
{
    const QHostAddress address(settings.listen);
    if (address.isNull())
        return QStringLiteral("listen takes an IP address, not \"%1\"").arg(settings.listen);
    if (settings.maxConnections < 1 || settings.maxConnections > kMostConnections)
        return QStringLiteral("max-connections is 1 to %1, not %2").arg(kMostConnections).arg(settings.maxConnections);
    const bool mqtt = !settings.mqtt.url.isEmpty();
    if (QString why; mqtt && !mqtt::parseUrl(settings.mqtt.url, &why))
        return why;
    if (!mqtt && (!settings.mqtt.caFile.isEmpty() || !settings.mqtt.user.isEmpty() || !settings.mqtt.passwordFile.isEmpty()))
        return QStringLiteral("the MQTT settings need mqtt, the broker");
    if (!settings.mqtt.passwordFile.isEmpty() && settings.mqtt.user.isEmpty())
        return QStringLiteral("mqtt-password-file needs mqtt-user");
    if (!settings.mqtt.bridgeId.isEmpty() && !mqtt::isId(settings.mqtt.bridgeId))
        return QStringLiteral("mqtt-id is letters, digits, '.', '_' and '-', not \"%1\"").arg(settings.mqtt.bridgeId);
    if (settings.mqtt.pollSeconds < 1 || settings.mqtt.pollSeconds > kLongestPollSeconds)
        return QStringLiteral("poll is 1 to %1 seconds, not %2").arg(kLongestPollSeconds).arg(settings.mqtt.pollSeconds);
    std::map<int, QString> ports;        // every listener's port, and whose it is
    std::map<QString, QString> devices;  // every device, and whose it is
    if (settings.http < 0 || settings.http > 65535)
        return QStringLiteral("http takes a port number, not %1").arg(settings.http);
    if (settings.http != 0)
        ports.emplace(settings.http, QStringLiteral("the HTTP port"));
    if (settings.http == 0 && (!settings.httpPasswordFile.isEmpty() || !settings.httpCert.isEmpty()))
        return QStringLiteral("http-password-file and http-cert need http, the port");
    if (settings.httpCert.isEmpty() != settings.httpKey.isEmpty())
        return QStringLiteral("http-cert and http-key go together");
    if (settings.http != 0 && !address.isLoopback() && !settings.noPassword && settings.httpPasswordFile.isEmpty())
        return QStringLiteral("the HTTP API on %1 needs http-password-file (or no-password)").arg(settings.listen);
    for (const ProjectorSettings &projector : settings.projectors) {
        const QString who = projectorName(projector);
        if (projector.device.isEmpty())
            return QStringLiteral("%1 has no device").arg(who);
        if (const auto [at, fresh] = devices.emplace(deviceKey(projector.device), who); !fresh)
            return QStringLiteral("%1 and %2 have one device, %3: one section per projector").arg(at->second, who, at->first);
        if (const QString problem = nameProblem(projector.name); !problem.isEmpty())
            return QStringLiteral("%1: %2").arg(who, problem);
        if (projector.speed != QLatin1String("19200") && projector.speed != QLatin1String("9600"))
            return QStringLiteral("%1: the speed is 19200 or 9600, not \"%2\"").arg(who, projector.speed);
        if (projector.pjlink == 0 && projector.raw == 0 && !mqtt && settings.http == 0)
            return QStringLiteral("%1 has neither a PJLink port nor a raw port (nor MQTT, nor HTTP)").arg(who);
        if (!projector.id.isEmpty() && !mqtt::isId(projector.id))
            return QStringLiteral("%1: an id is letters, digits, '.', '_' and '-'").arg(who);
        for (auto [port, what] : {std::pair{projector.pjlink, "PJLink"}, std::pair{projector.raw, "raw"}}) {
            if (port < 0 || port > 65535)
                return QStringLiteral("%1: %2 takes a port number, not %3").arg(who, QLatin1String(what)).arg(port);
            if (port == 0)
                continue;
            const QString listener = QStringLiteral("%1's %2 port").arg(who, QLatin1String(what));
            if (const auto [at, fresh] = ports.emplace(port, listener); !fresh)
                return QStringLiteral("%1 and %2 are both port %3: give each its own").arg(at->second, listener).arg(port);
        }
        if (!address.isLoopback() && !settings.noPassword) {
            if (projector.pjlink != 0 && projector.passwordFile.isEmpty())
                return QStringLiteral("%1: listening on %2 needs a password file (or no-password)").arg(who, settings.listen);
            if (projector.raw != 0)
                return QStringLiteral("%1: the raw port takes no password: listening on %2 with it needs no-password")
                    .arg(who, settings.listen);
        }
    }
    return {};
}

QString readPassword(const QString &path, QByteArray &password)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot read the password file %1: %2").arg(path, file.errorString());
    password = file.readLine(256).trimmed();
    if (password.isEmpty())
        return QStringLiteral("the password file %1 holds no password").arg(path);
    return {};
}

QString passwordFileWarning(const QString &path)
{
    const QFileInfo file(path);
    QString who;
    if (file.permissions() & QFileDevice::ReadOther)
        who = QStringLiteral("everyone");
    else if ((file.permissions() & QFileDevice::ReadGroup) && file.groupId() != ::getegid())
        who = QStringLiteral("the group %1").arg(file.group());
    if (who.isEmpty())
        return {};
    return QStringLiteral("warning: %1 can read the password file %2: make it the bridge's alone (chmod 0600, or 0640 in the bridge's group)")
        .arg(who, path);
}

} // namespace bridge
