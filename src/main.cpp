// orva-panel: the control panel window for the projector's serial control port.

#include "panel/Form1.h"
#include "panel/FormBuilder.h"
#include "panel/Widgets.h"
#include "panel/WindowRuntime.h"
#include "serial/QtSerialControl.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("orva-panel"));
    QApplication::setApplicationVersion(QStringLiteral("1.40"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Control panel for the ORVA TK58R projector's serial control port."));
    parser.addHelpOption();
    parser.addVersionOption();
    QMap<int, QString> devices = defaultComDevices();
    const QCommandLineOption com1(QStringLiteral("com1"), QStringLiteral("Device that COM1 opens (default %1).").arg(devices[1]),
                                  QStringLiteral("DEVICE"));
    const QCommandLineOption com2(QStringLiteral("com2"), QStringLiteral("Device that COM2 opens (default %1).").arg(devices[2]),
                                  QStringLiteral("DEVICE"));
    parser.addOption(com1);
    parser.addOption(com2);
    parser.process(app);
    if (parser.isSet(com1))
        devices[1] = parser.value(com1);
    if (parser.isSet(com2))
        devices[2] = parser.value(com2);

    QApplication::setWindowIcon(QIcon(QPixmap::fromImage(wordMarkPicture())));
    registerFontSubstitutions();
    QtSerialControl serial(devices);
    QtWindowRuntime runtime;
    Form1 form(serial, runtime);
    form.Form_Load();
    form.show();
    return app.exec();
}
