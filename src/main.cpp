// orva-panel: the control panel window for the projector's serial control port.

#include "Version.h"
#include "exchange/ExchangeLog.h"
#include "panel/Form1.h"
#include "panel/FormBuilder.h"
#include "panel/Widgets.h"
#include "panel/WindowRuntime.h"
#include "serial/EndSignals.h"
#include "serial/PortList.h"
#include "serial/QtSerialControl.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Options {
    QCommandLineParser parser;
    QMap<int, QString> devices = defaultComDevices();
    QCommandLineOption help = parser.addHelpOption();
    QCommandLineOption version = parser.addVersionOption();
    QCommandLineOption com1{QStringLiteral("com1"), QStringLiteral("Device that COM1 opens (default %1), or tcp://HOST:PORT of a serial device server.").arg(devices[1]),
                            QStringLiteral("DEVICE")};
    QCommandLineOption com2{QStringLiteral("com2"), QStringLiteral("Device that COM2 opens (default %1), or tcp://HOST:PORT of a serial device server.").arg(devices[2]),
                            QStringLiteral("DEVICE")};
    QCommandLineOption listPorts{QStringLiteral("list-ports"),
                                 QStringLiteral("List the serial ports of this system (device, description, "
                                                "manufacturer, USB vendor:product, serial number) and exit.")};
    QCommandLineOption log{QStringLiteral("log"),
                           QStringLiteral("Append every command sent, reply received, status decoded and error to FILE, "
                                          "one timestamped line each."),
                           QStringLiteral("FILE")};
    QString logPath;  // empty: no log

    Options()
    {
        parser.setApplicationDescription(QStringLiteral("Control panel for the ORVA TK58R projector's serial control port."));
        parser.addOption(com1);
        parser.addOption(com2);
        parser.addOption(listPorts);
        parser.addOption(log);
    }

    // Prints help or version and exits 0; exits 1 with the usage for anything the
    // panel does not take: unknown options, a device option without a path (a
    // following option is not a path), arguments that are no option.
    void process(const QCoreApplication &app)
    {
        if (!parser.parse(app.arguments()))
            fail(parser.errorText());
        if (parser.isSet(help))
            parser.showHelp(0);
        if (parser.isSet(version))
            parser.showVersion();
        for (auto [port, option] : {std::pair{1, &com1}, std::pair{2, &com2}}) {
            if (!parser.isSet(*option))
                continue;
            const QString device = parser.value(*option);
            if (device.isEmpty() || device.startsWith(u'-'))
                fail(QStringLiteral("--com%1 needs a device path").arg(port));
            devices[port] = device;
        }
        if (parser.isSet(log)) {
            logPath = parser.value(log);
            if (logPath.isEmpty() || logPath.startsWith(u'-'))
                fail(QStringLiteral("--log needs a file name"));
        }
        if (!parser.positionalArguments().isEmpty())
            fail(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));
        if (parser.isSet(listPorts)) {
            std::fputs(qPrintable(serialPortListing()), stdout);
            std::exit(0);
        }
    }

    [[noreturn]] void fail(const QString &why) const
    {
        std::fprintf(stderr, "orva-panel: %s\n\n%s", qPrintable(why), qPrintable(parser.helpText()));
        std::exit(1);
    }
};

void nameApplication()
{
    QCoreApplication::setApplicationName(QStringLiteral("orva-panel"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVA_VERSION));
}

bool hasArgument(int argc, char *argv[], std::initializer_list<const char *> names)
{
    for (int i = 1; i < argc; ++i)
        for (const char *name : names)
            if (std::strcmp(argv[i], name) == 0)
                return true;
    return false;
}

// --help, --version and --list-ports need no display.
bool asksForInformationOnly(int argc, char *argv[])
{
    return hasArgument(argc, argv, {"-h", "--help", "-?", "--help-all", "-v", "--version", "--list-ports"});
}

bool platformGiven(int argc, char *argv[])
{
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || hasArgument(argc, argv, {"-platform", "--platform"});
}

bool hasDisplay()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// Qt Gui asks for the runtime folder ($XDG_RUNTIME_DIR) as it starts, and without
// one (root under xvfb-run, a session without a login manager) it warns on every
// start that it falls back to a private folder of its own in the temporary
// directory. That folder is made here as Qt would make it (mode 0700) and named,
// so Qt has nothing to say; one that is not this user's private folder is not
// named, and Qt tells so.
void provideRuntimeFolder()
{
    if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        return;
    const passwd *user = ::getpwuid(::geteuid());
    const QByteArray folder = QFile::encodeName(QDir::tempPath()) + "/runtime-"
        + (user ? QByteArray(user->pw_name) : QByteArray::number(::geteuid()));
    ::mkdir(folder.constData(), 0700);  // or it is there already
    struct stat st {};
    if (::lstat(folder.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 07777) == 0700)
        qputenv("XDG_RUNTIME_DIR", folder);
}

} // namespace

int main(int argc, char *argv[])
{
    const bool platform = platformGiven(argc, argv);
    if (asksForInformationOnly(argc, argv) || (!platform && !hasDisplay())) {
        // Without a window: the options are still checked, so that a mistake there
        // is reported before the missing display.
        QCoreApplication app(argc, argv);
        nameApplication();
        Options().process(app);
        std::fputs("orva-panel: needs a graphical session (neither DISPLAY nor WAYLAND_DISPLAY is set); "
                   "without one, run it under Xvfb: xvfb-run orva-panel\n",
                   stderr);
        return 1;
    }
    // Under Wayland the panel runs through XWayland, where a window may place
    // itself and keep its fixed size; with only a Wayland display, Qt chooses.
    if (!platform && !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") && !qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    provideRuntimeFolder();

    QApplication app(argc, argv);
    nameApplication();
    Options options;
    options.process(app);
    // SIGTERM, SIGINT and SIGHUP end the panel as END does (the port let go), with END's status.
    EndSignals endSignals;

    QApplication::setWindowIcon(QIcon(QPixmap::fromImage(wordMarkPicture())));
    registerFontSubstitutions();
    // The log opens before the window: a log that cannot be written is a mistake
    // to report at once, not after a session that went unrecorded.
    ExchangeLog log;
    if (!options.logPath.isEmpty()) {
        QString error;
        if (!log.open(options.logPath, &error)) {
            std::fprintf(stderr, "orva-panel: %s\n", qPrintable(error));
            return 1;
        }
    }
    QtSerialControl serial(options.devices, panelWording());
    QtWindowRuntime runtime;
    Form1 form(serial, runtime, log.isLogging() ? &log : nullptr);
    if (log.isLogging()) {
        // A log that stops writing (a full disk) is told once as the window tells
        // its warnings, after the step of the exchange that found it; the panel goes on.
        QObject::connect(&log, &ExchangeLog::stopped, &form.engine(), &ExchangeEngine::warning, Qt::QueuedConnection);
    }
    QObject::connect(&endSignals, &EndSignals::arrived, &form, &Form1::endProgram);
    form.start();
    form.show();
    return app.exec();
}
