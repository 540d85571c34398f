// orva-bridge: a service that owns the projector's serial port and serves the
// room's control systems over PJLink class 1 and MQTT.

#include "Bridge.h"
#include "Config.h"
#include "Version.h"
#include "serial/EndSignals.h"
#include "serial/QtSerialControl.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>
#include <csignal>
#include <utility>

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

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_NO_GLIB", "1");  // Qt's own event loop: glib's costs a third more CPU time per command
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orva-bridge"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVA_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Owns the projector's serial port and serves it to the room's control systems over PJLink class 1\n"
        "and MQTT, one command on the line at a time."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QString defaultDevice = defaultComDevices().value(1);
    bridge::addOptions(parser, defaultDevice);
    // A mistake on the command line is a usage error (64) like any other; once the
    // line is known good, process() answers --help and --version.
    if (!parser.parse(app.arguments()))
        usageError(parser.errorText().chopped(parser.errorText().endsWith(u'.') ? 1 : 0));
    parser.process(app);
    if (!parser.positionalArguments().isEmpty())
        usageError(QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first()));
    bridge::BridgeSettings settings;
    if (const QString error = bridge::readCommandLine(parser, defaultDevice, settings); !error.isEmpty())
        usageError(error);
    if (const QString error = bridge::checkSettings(settings); !error.isEmpty())
        usageError(error);

    bridge::Bridge service(std::move(settings));
    QObject::connect(&service, &bridge::Bridge::logLine, &logLine);
    if (const QString error = service.readPasswords(); !error.isEmpty())
        usageError(error);
    if (const int status = service.start(); status != 0)
        return status;

    // SIGTERM, SIGINT and SIGHUP (no reload: the settings are read at start only):
    // every waiting command answered with an error, the port closed, status 0.
    EndSignals ending;
    QObject::connect(&ending, &EndSignals::arrived, &app, [&service] {
        service.stop();
        logLine(QStringLiteral("ended"));
        QCoreApplication::quit();
    });
    std::signal(SIGPIPE, SIG_IGN);
    return app.exec();
}
