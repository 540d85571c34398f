// orva-ctl: the projector's commands from scripts and schedules.

#include "Client.h"
#include "Version.h"
#include "exchange/CommandText.h"
#include "keys/CommandLookup.h"
#include "serial/EndSignals.h"
#include "serial/PortList.h"
#include "serial/QtSerialControl.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>

namespace {

using namespace ctl;

[[noreturn]] void usageError(const QCommandLineParser &parser, const QString &why)
{
    std::fprintf(stderr, "orva-ctl: %s\n\n%s", qPrintable(why), qPrintable(parser.helpText()));
    std::exit(kUsage);
}

// The text of `send`: one line end at its end (as a here-string or a file read
// by the shell leaves) is dropped; anything else outside printable ASCII is refused,
// before the port is touched.
QString sendText(const QCommandLineParser &parser, QString text)
{
    if (text.endsWith(QLatin1String("\r\n")))
        text.chop(2);
    else if (text.endsWith(u'\n') || text.endsWith(u'\r'))
        text.chop(1);
    if (text.isEmpty())
        usageError(parser, QStringLiteral("send takes one command text"));
    if (const std::optional<Unsendable> bad = firstUnsendable(text))
        usageError(parser, QStringLiteral("send: the text holds %1; the projector's commands are printable ASCII "
                                          "(a blank to ~), and nothing was sent").arg(describe(*bad)));
    return text;
}

void printList()
{
    for (const keys::Command &c : keys::kCommands)
        std::printf("%-24s %s\n", qPrintable(keys::qText(c.name)), qPrintable(keys::qText(c.code)));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orva-ctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVA_VERSION));

    const QString defaultDevice = defaultComDevices().value(1);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Sends one command to the ORVA TK58R projector over its serial control port, as the\n"
        "control panel's button does, and prints the answer.\n"
        "\n"
        "Commands:\n"
        "  NAME        a named command (orva-ctl list shows them all): power-on, input-pc1,\n"
        "              status, lamp-time ...; the status queries print what the projector\n"
        "              tells (below)\n"
        "  send TEXT   a raw command, as typed into the panel's command line: printable\n"
        "              ASCII only (one line end at its end is dropped)\n"
        "  list        every named command with its code\n"
        "  ports       the serial ports of this system: device, description, manufacturer,\n"
        "              USB vendor:product, serial number (tab-separated)\n"
        "\n"
        "Exit status: 0 answered (ACK, or a decoded status); 1 answered with something\n"
        "else; 2 no reply in the reply window; 3 port error (or the log cannot be\n"
        "written); 4 --wait timed out; 64 usage error (also a send text that holds a\n"
        "character the projector cannot take: nothing is sent); 128 + N ended by signal\n"
        "N (SIGTERM 143, SIGINT 130, SIGHUP 129), the port closed and let go.\n"
        "\n"
        "What the status queries print:\n"
        "  status            the power status: Power ON, Stand by, Count down, Cooling down,\n"
        "                    Power Fail, Temperature Warning ...\n"
        "  mode              the input: Computer 1, Computer 2, Video, Input mode 4\n"
        "  lamp-time         the lamp time: 1234 hours\n"
        "  setting           the picture's reversal: Normally, Top/Bottom reversal ...\n"
        "  temperature       the three temperatures in degrees Celsius: S1 32.5, S2 41.0,\n"
        "                    S3 38.5, each followed by a blank, the degree sign and C\n"
        "  send CRA          the mutes: Video & Audio mute OFF, Video mute ON ...\n"
        "  send CR7          the lamp mode: No1 ON  : 2 Lamp mode ...\n"
        "  send CR PRESSURE  the pressure: 650 hPa\n"
        "A reply without the form of its query's answer prints the status line as the\n"
        "panel shows it.\n"
        "\n"
        "With --json, one JSON object: command, sent, reply (its characters as they\n"
        "came), status (the status line's words), ok; the status queries add typed\n"
        "fields: \"power\" (on, standby, warming, cooling, fault) and \"faults\"\n"
        "(temperatureWarning, allLampsFailed, powerFailure: true or false) for status,\n"
        "\"input\" (1 to 4) for mode, \"hours\" for lamp-time, \"reversal\" (none,\n"
        "top-bottom, left-right, both) for setting, \"temperatures\" (S1, S2, S3 in\n"
        "degrees Celsius) for temperature, \"mute\" (picture, sound, settable) for CRA,\n"
        "\"lamps\" (used, on: lamp numbers) for CR7, \"pressure\" (hPa) for\n"
        "CR PRESSURE; null where the reply says none."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("Serial device (default: $ORVA_PORT, else %1).").arg(defaultDevice),
                                  QStringLiteral("DEVICE"));
    const QCommandLineOption speed(QStringLiteral("speed"), QStringLiteral("Line speed, 19200 or 9600 (default 19200)."),
                                   QStringLiteral("BAUD"), QStringLiteral("19200"));
    const QCommandLineOption timeout(QStringLiteral("timeout"),
                                     QStringLiteral("The longest wait in ms: for the command's reply (default: the reply "
                                                    "window of its button in the panel, 0.5 s for most, 2 s for send), and "
                                                    "with --wait for the status (default 6000)."),
                                     QStringLiteral("MS"), QStringLiteral("6000"));
    const QCommandLineOption wait(QStringLiteral("wait"),
                                  QStringLiteral("After the command, query the power status every second until it "
                                                 "reads TEXT (e.g. \"Power ON\", \"Stand by\")."),
                                  QStringLiteral("TEXT"));
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("Print one JSON object: command, sent, reply, status, ok, and a "
                                                 "status query's typed fields."));
    const QCommandLineOption log(QStringLiteral("log"), QStringLiteral("Append the exchange to this log file."),
                                 QStringLiteral("FILE"));
    parser.addOptions({port, speed, timeout, wait, json, log});
    parser.addPositionalArgument(QStringLiteral("COMMAND"), QStringLiteral("NAME, send TEXT, list or ports."));

    if (!parser.parse(app.arguments()))
        usageError(parser, parser.errorText());
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();

    const QStringList args = parser.positionalArguments();
    if (args.isEmpty())
        usageError(parser, QStringLiteral("no command given"));
    const QString verb = args.first();
    if (verb == QLatin1String("list") || verb == QLatin1String("ports")) {
        if (args.size() > 1)
            usageError(parser, QStringLiteral("unexpected argument '%1'").arg(args[1]));
        if (verb == QLatin1String("list"))
            printList();
        else
            std::fputs(qPrintable(serialPortListing()), stdout);
        return 0;
    }

    Request request;
    if (verb == QLatin1String("send")) {
        if (args.size() != 2)
            usageError(parser, QStringLiteral("send takes one command text"));
        request.rawText = sendText(parser, args[1]);
    } else {
        request.command = keys::findCommand(verb);
        if (!request.command)
            usageError(parser, QStringLiteral("unknown command '%1' (orva-ctl list shows them)").arg(verb));
        if (args.size() > 1)
            usageError(parser, QStringLiteral("unexpected argument '%1'").arg(args[1]));
    }

    request.device = parser.isSet(port) ? parser.value(port) : qEnvironmentVariable("ORVA_PORT", defaultDevice);
    if (request.device.isEmpty())
        usageError(parser, QStringLiteral("--port needs a device path"));
    const QString baud = parser.value(speed);
    if (baud != QLatin1String("19200") && baud != QLatin1String("9600"))
        usageError(parser, QStringLiteral("--speed is 19200 or 9600, not '%1'").arg(baud));
    request.settings = baud + QStringLiteral(",N,8,1");
    bool numeric = false;
    request.timeoutMs = parser.value(timeout).toInt(&numeric);
    if (!numeric || request.timeoutMs <= 0)
        usageError(parser, QStringLiteral("--timeout takes a positive number of ms"));
    request.timeoutGiven = parser.isSet(timeout);
    if (parser.isSet(wait))
        request.waitFor = parser.value(wait).trimmed();
    request.json = parser.isSet(json);
    request.logPath = parser.value(log);
    if (parser.isSet(log) && request.logPath.isEmpty())
        usageError(parser, QStringLiteral("--log needs a file name"));

    // From here the port may be open: SIGTERM, SIGINT and SIGHUP close it and end
    // with 128 + the signal's number, as a shell reports a program the signal ended.
    EndSignals endSignals;
    Client client(std::move(request));
    QObject::connect(&endSignals, &EndSignals::arrived, &client, [&client](int number) { client.finish(128 + number); });
    int exitCode = -1;
    client.finished = [&exitCode](int code) {
        exitCode = code;
        QCoreApplication::exit(code);
    };
    client.start();
    // start() finishes at once on a port error: then there is no loop to run.
    if (exitCode >= 0)
        return exitCode;
    return app.exec();
}
