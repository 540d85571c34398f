// The bridge's settings: read from its configuration file, checked before anything
// is opened.

#include "Config.h"

#include "Mqtt.h"
#include "exchange/CommandText.h"

#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QRegularExpression>
#include <QSettings>
#include <QStringList>
#include <map>
#include <utility>

#include <unistd.h>

namespace bridge {

namespace {

const QString kBridgeSection = QStringLiteral("bridge");
const QStringList kBridgeKeys = {QStringLiteral("listen"),       QStringLiteral("log"),
                                 QStringLiteral("no-password"),  QStringLiteral("max-connections"),
                                 QStringLiteral("mqtt"),         QStringLiteral("mqtt-ca-file"),
                                 QStringLiteral("mqtt-user"),    QStringLiteral("mqtt-password-file"),
                                 QStringLiteral("mqtt-id"),      QStringLiteral("poll"),
                                 QStringLiteral("mqtt-send")};
// A listener's connections at once: each takes a file descriptor, of the 1024 a
// service has by default.
constexpr int kMostConnections = 256;
const QStringList kProjectorKeys = {QStringLiteral("device"), QStringLiteral("speed"),         QStringLiteral("pjlink"),
                                    QStringLiteral("raw"),    QStringLiteral("name"),          QStringLiteral("password-file")};

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

bool readPort(const QString &value, int &port)
{
    bool ok = false;
    const int number = value.toInt(&ok);
    if (!ok || number < 0 || number > 65535)
        return false;
    port = number;
    return true;
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
        file.beginGroup(section);
        if (section == kBridgeSection) {
            if (const QString key = unknownKey(file, kBridgeKeys); !key.isEmpty())
                return fail(QStringLiteral("[bridge] %1").arg(key), QStringLiteral("no such setting (%1)").arg(kBridgeKeys.join(QStringLiteral(", "))));
            settings.listen = file.contains(kBridgeKeys[0]) ? text(file, kBridgeKeys[0]) : settings.listen;
            settings.log = text(file, kBridgeKeys[1]);
            if (file.contains(kBridgeKeys[2]) && !readYesNo(text(file, kBridgeKeys[2]), settings.noPassword))
                return fail(QStringLiteral("[bridge] no-password"), QStringLiteral("takes true or false"));
            for (auto [key, number] : {std::pair{kBridgeKeys[3], &settings.maxConnections}, std::pair{kBridgeKeys[9], &settings.mqtt.pollSeconds}})
                if (file.contains(key)) {
                    bool ok = false;
                    *number = text(file, key).toInt(&ok);
                    if (!ok)
                        return fail(QStringLiteral("[bridge] %1").arg(key), QStringLiteral("takes a number"));
                }
            for (auto [key, value] : {std::pair{kBridgeKeys[4], &settings.mqtt.url}, std::pair{kBridgeKeys[5], &settings.mqtt.caFile},
                                      std::pair{kBridgeKeys[6], &settings.mqtt.user}, std::pair{kBridgeKeys[7], &settings.mqtt.passwordFile},
                                      std::pair{kBridgeKeys[8], &settings.mqtt.bridgeId}})
                *value = text(file, key);
            if (file.contains(kBridgeKeys[10]) && !readYesNo(text(file, kBridgeKeys[10]), settings.mqtt.allowSend))
                return fail(QStringLiteral("[bridge] mqtt-send"), QStringLiteral("takes true or false"));
            file.endGroup();
            continue;
        }
        if (!mqtt::isId(section))
            return fail(QStringLiteral("[%1]").arg(section),
                        QStringLiteral("a projector's id is letters, digits, '.', '_' and '-'"));
        ProjectorSettings projector;
        projector.id = section;
        if (const QString key = unknownKey(file, kProjectorKeys); !key.isEmpty())
            return fail(QStringLiteral("[%1] %2").arg(section, key),
                        QStringLiteral("no such setting (%1)").arg(kProjectorKeys.join(QStringLiteral(", "))));
        const auto value = [&file](const QString &key, const QString &otherwise) {
            return file.contains(key) ? text(file, key) : otherwise;
        };
        projector.device = value(QStringLiteral("device"), defaultDevice);
        projector.speed = value(QStringLiteral("speed"), projector.speed);
        projector.name = value(QStringLiteral("name"), projector.name);
        projector.passwordFile = value(QStringLiteral("password-file"), {});
        for (auto [key, port] : {std::pair{QStringLiteral("pjlink"), &projector.pjlink}, std::pair{QStringLiteral("raw"), &projector.raw}})
            if (file.contains(key) && !readPort(text(file, key), *port))
                return fail(QStringLiteral("[%1] %2").arg(section, key), QStringLiteral("takes a port number (0: none)"));
        settings.projectors.push_back(std::move(projector));
        file.endGroup();
    }
    if (settings.projectors.empty())
        return QStringLiteral("%1 names no projector (a section such as [projector] with device = ...)").arg(path);
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
        if (projector.pjlink == 0 && projector.raw == 0 && !mqtt)
            return QStringLiteral("%1 has neither a PJLink port nor a raw port (nor MQTT)").arg(who);
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
