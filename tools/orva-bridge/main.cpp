// orva-bridge: a service that owns the projector's serial port and serves the
// room's control systems over PJLink class 1.

#include "PjlinkServer.h"
#include "ProjectorQueue.h"
#include "RawServer.h"
#include "exchange/ExchangeLog.h"
#include "serial/QtSerialControl.h"
#include "serial/SerialText.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QHostAddress>
#include <QSocketNotifier>
#include <cstdio>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kUsage = 64;

int g_signalPipe[2] = {-1, -1};

extern "C" void onEndSignal(int)
{
    const char c = 'q';
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &c, 1);
}

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

PortAdvice bridgeAdvice()
{
    return {QStringLiteral("run orva-bridge with --device {device}"), QStringLiteral("--device"),
            QStringLiteral("orva-bridge --device {device}"), QStringLiteral("the bridge tries again every few seconds."),
            QStringLiteral("The bridge tries again every few seconds.")};
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orva-bridge"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.40"));
    setPortAdvice(bridgeAdvice());

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Owns the projector's serial port and serves it to the room's control systems over PJLink class 1,\n"
        "one command on the line at a time."));
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
                                     QStringLiteral("Shared raw port for the panel and orva-ctl (tcp://HOST:PORT; default 0: none)."),
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
    parser.addOptions({device, speed, pjlinkPort, rawPort, listen, passwordFile, noPassword, name, log});
    parser.process(app);
    if (!parser.positionalArguments().isEmpty())
        usageError(QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first()));

    if (parser.value(speed) != QLatin1String("19200") && parser.value(speed) != QLatin1String("9600"))
        usageError(QStringLiteral("--speed is 19200 or 9600"));
    bool ok = false;
    const int port = parser.value(pjlinkPort).toInt(&ok);
    if (!ok || port < 0 || port > 65535)
        usageError(QStringLiteral("--pjlink takes a port number"));
    const int raw = parser.value(rawPort).toInt(&ok);
    if (!ok || raw < 0 || raw > 65535)
        usageError(QStringLiteral("--raw takes a port number"));
    const QHostAddress address(parser.value(listen));
    if (address.isNull())
        usageError(QStringLiteral("--listen takes an IP address"));
    bridge::PjlinkIdentity identity;
    identity.name = parser.value(name);
    if (parser.isSet(passwordFile)) {
        QFile file(parser.value(passwordFile));
        if (!file.open(QIODevice::ReadOnly))
            usageError(QStringLiteral("cannot read the password file %1: %2").arg(file.fileName(), file.errorString()));
        identity.password = file.readLine(256).trimmed();
        if (identity.password.isEmpty())
            usageError(QStringLiteral("the password file %1 holds no password").arg(file.fileName()));
    }
    if (!address.isLoopback() && identity.password.isEmpty() && !parser.isSet(noPassword))
        usageError(QStringLiteral("listening on %1 needs --password-file (or --no-password)").arg(address.toString()));
    if (!address.isLoopback() && raw != 0 && !parser.isSet(noPassword))
        usageError(QStringLiteral("the raw port takes no password: listening on %1 with it needs --no-password").arg(address.toString()));

    std::unique_ptr<ExchangeLog> exchangeLog;
    if (parser.isSet(log)) {
        exchangeLog = std::make_unique<ExchangeLog>();
        QString error;
        if (!exchangeLog->open(parser.value(log), &error)) {
            logLine(error);
            return 3;
        }
        QObject::connect(exchangeLog.get(), &ExchangeLog::stopped, &logLine);
    }

    bridge::ProjectorQueue queue(parser.value(device), parser.value(speed) + QStringLiteral(",N,8,1"));
    queue.setLog(exchangeLog.get());
    QObject::connect(&queue, &bridge::ProjectorQueue::logLine, &logLine);
    bridge::PjlinkServer pjlinkServer(queue, identity);
    QObject::connect(&pjlinkServer, &bridge::PjlinkServer::logLine, &logLine);
    bridge::RawServer rawServer(queue);
    QObject::connect(&rawServer, &bridge::RawServer::logLine, &logLine);
    // A listener on its port (0: none); false when it cannot listen.
    const auto listenOn = [&address](auto &server, int number, const char *name, const char *forName) {
        if (number == 0)
            return true;
        if (!server.listen(address, quint16(number))) {
            logLine(QStringLiteral("cannot listen for %1 on %2 port %3: %4")
                        .arg(QLatin1String(forName), address.toString())
                        .arg(number)
                        .arg(server.errorString()));
            return false;
        }
        logLine(QStringLiteral("%1 on %2 port %3").arg(QLatin1String(name), address.toString()).arg(server.port()));
        return true;
    };
    if (!listenOn(pjlinkServer, port, "PJLink", "PJLink") || !listenOn(rawServer, raw, "raw port", "the raw port"))
        return 1;
    queue.start();

    // SIGTERM and SIGINT: every waiting command answered with an error, the port closed.
    if (::pipe2(g_signalPipe, O_CLOEXEC) != 0)
        return 1;
    QSocketNotifier ending(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&ending, &QSocketNotifier::activated, &app, [&] {
        queue.stop(QStringLiteral("the bridge is ending"));
        pjlinkServer.closeAll();
        logLine(QStringLiteral("ended"));
        QCoreApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = onEndSignal;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return app.exec();
}
