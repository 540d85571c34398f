#pragma once
// What the bridge serves: its projectors, each with its device, its line speed and
// its listeners, and what they share (the address, the exchange log). The command
// line gives one projector; a configuration file (INI) gives any number:
//
//   [bridge]
//   listen = 192.168.10.5
//   log = /var/log/orva-bridge/exchange.log
//   max-connections = 32          per listener
//   mqtt = mqtt://broker.example:1883   the broker (mqtts:// with TLS); none if unset
//   mqtt-ca-file, mqtt-user, mqtt-password-file, mqtt-id, poll, mqtt-send
//   http = 8080                   the web API (docs/http.md); 0, the default: none
//   http-password-file = /etc/orva-bridge/http.password
//   web-send = false              the page's manual entry (typed command texts)
//   http-cert, http-key           PEM files: HTTPS
//   metrics-public = false        /metrics without the password
//
//   [hall-left]                 one section per projector, its name the id
//   device = /dev/ttyUSB0
//   speed = 19200
//   pjlink = 4352
//   raw = 0
//   name = Hall left
//   password-file = /etc/orva-bridge/hall-left.password

#include <QByteArray>
#include <QString>
#include <vector>

class QCommandLineParser;

namespace bridge {

struct ProjectorSettings {
    QString id;           // the section's name; empty for the command line's projector
    QString device;       // a device path or tcp://HOST:PORT
    QString speed = QStringLiteral("19200");
    int pjlink = 4352;    // 0: no PJLink listener
    int raw = 0;          // 0: no raw port
    QString name = QStringLiteral("TK58R");
    QString passwordFile; // empty: no authentication
};

// The MQTT broker and what the bridge does on it.
struct MqttSettings {
    QString url;            // mqtt://HOST[:PORT] or mqtts://HOST[:PORT]; empty: no MQTT
    QString caFile;         // mqtts://: the CA certificates; empty: the system's
    QString user;           // empty: none
    QString passwordFile;   // its first line is the broker password
    QString bridgeId;       // the bridge's name on the broker; empty: the host name
    int pollSeconds = 10;
    bool allowSend = false; // send/set takes raw command texts
};

struct BridgeSettings {
    QString listen = QStringLiteral("127.0.0.1");
    QString log;          // empty: no exchange log
    bool noPassword = false;
    int maxConnections = 32;  // per listener
    int http = 0;             // the web API's port; 0: none
    QString httpPasswordFile; // its first line is the web API's password
    bool webSend = false;     // the web page's manual entry sends typed command texts
    QString httpCert;         // PEM files: HTTPS with this certificate and key
    QString httpKey;
    bool metricsPublic = false;  // /metrics is read without the HTTP password
    MqttSettings mqtt;
    std::vector<ProjectorSettings> projectors;
};

// The command line's options: one table gives them and the configuration file's
// keys, each option with its help (the defaults it names are the settings' below,
// the device's `defaultDevice`) and how its value is read.
void addOptions(QCommandLineParser &parser, const QString &defaultDevice);

// The settings of a parsed command line into `out`: its one projector, or with
// --config the file's projectors and [bridge] settings, the command line's
// standing over those; the bridge's MQTT name the host's where none is given.
// Empty, or why the command line is wrong (the settings are checked apart).
QString readCommandLine(const QCommandLineParser &parser, const QString &defaultDevice, BridgeSettings &out);

// Reads a configuration file into `out` (its [bridge] keys and its projectors,
// each device defaulting to `defaultDevice`); empty, or why the file is unusable.
QString readConfig(const QString &path, const QString &defaultDevice, BridgeSettings &out);

// Why these settings cannot be served (a wrong speed or port, two listeners on one
// port, a listener beyond the loopback without a password, two projectors on one
// device, a name no PJLink answer can carry ...), or empty.
QString checkSettings(const BridgeSettings &settings);

// The longest name PJLink's NAME answers with.
inline constexpr qsizetype kLongestName = 64;

// How long between polls may be, in seconds.
inline constexpr int kLongestPollSeconds = 3600;

// The password: the first line of the file, blanks trimmed; empty, or why not.
QString readPassword(const QString &path, QByteArray &password);

// A warning where others than the bridge can read the password file (its mode
// lets everyone, or a group that is not the bridge's own), or empty.
QString passwordFileWarning(const QString &path);

} // namespace bridge
