// orva-panel: the control panel window for the projector's serial control port.

#include "panel/Form1.h"
#include "panel/FormBuilder.h"
#include "panel/Widgets.h"
#include "panel/WindowRuntime.h"
#include "serial/QtSerialControl.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <cstring>

namespace {

struct Options {
    QCommandLineParser parser;
    QMap<int, QString> devices = defaultComDevices();
    QCommandLineOption com1{QStringLiteral("com1"), QStringLiteral("Device that COM1 opens (default %1).").arg(devices[1]),
                            QStringLiteral("DEVICE")};
    QCommandLineOption com2{QStringLiteral("com2"), QStringLiteral("Device that COM2 opens (default %1).").arg(devices[2]),
                            QStringLiteral("DEVICE")};

    Options()
    {
        parser.setApplicationDescription(QStringLiteral("Control panel for the ORVA TK58R projector's serial control port."));
        parser.addHelpOption();
        parser.addVersionOption();
        parser.addOption(com1);
        parser.addOption(com2);
    }
    // Exits for --help, --version and bad options.
    void process(const QCoreApplication &app)
    {
        parser.process(app);
        if (parser.isSet(com1))
            devices[1] = parser.value(com1);
        if (parser.isSet(com2))
            devices[2] = parser.value(com2);
    }
};

void nameApplication()
{
    QCoreApplication::setApplicationName(QStringLiteral("orva-panel"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.40"));
}

// --help and --version need no display.
bool asksForInformationOnly(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i)
        for (const char *info : {"-h", "--help", "-?", "--help-all", "-v", "--version"})
            if (std::strcmp(argv[i], info) == 0)
                return true;
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    if (asksForInformationOnly(argc, argv)) {
        QCoreApplication app(argc, argv);
        nameApplication();
        Options().process(app);
        return 0;
    }
    QApplication app(argc, argv);
    nameApplication();
    Options options;
    options.process(app);

    QApplication::setWindowIcon(QIcon(QPixmap::fromImage(wordMarkPicture())));
    registerFontSubstitutions();
    QtSerialControl serial(options.devices);
    QtWindowRuntime runtime;
    Form1 form(serial, runtime);
    form.start();
    form.show();
    return app.exec();
}
