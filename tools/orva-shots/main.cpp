// orva-shots: renders the panel at its four heights (compact, data, service, full)
// with a status exchange on the lines, and saves one PNG each. Used for the
// pictures in docs/; run it under Xvfb (or any display), optionally with
// QT_SCALE_FACTOR=2 for the HiDPI picture.
//   orva-shots OUTDIR [SUFFIX]

#include "panel/Form1.h"
#include "panel/FormBuilder.h"
#include "panel/Widgets.h"
#include "panel/WindowRuntime.h"
#include "serial/FakeSerialControl.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QPushButton>
#include <cstdio>

namespace {
void settle()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}
}

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: orva-shots OUTDIR [SUFFIX]\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    const QString suffix = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    registerFontSubstitutions();
    FakeSerialControl serial;
    RecordingRuntime runtime;
    runtime.screen = {1280, 1024};
    Form1 form(serial, runtime);
    form.start();
    form.show();
    settle();
    // A status exchange on the lines.
    qobject_cast<QPushButton *>(form.control(QStringLiteral("Command44")))->click();
    serial.receive(QStringLiteral("00\r"));
    form.engine().replyTimer.stop();
    form.engine().displayHoldTimer.stop();

    auto save = [&](const char *name) {
        settle();
        const QString path = out.filePath(QStringLiteral("window-%1%2.png").arg(QLatin1String(name), suffix));
        const bool ok = form.grab().save(path);
        std::printf("%s %s (%d twips)\n", ok ? "saved" : "FAILED", qPrintable(path), form.outerHeightTwips());
        return ok;
    };
    bool ok = save("compact");
    form.keyPreview(72, 2);  // Ctrl+H
    ok &= save("service");
    form.wordMarkDoubleClicked();
    ok &= save("full");
    form.toggleDataArea();    // back to compact
    form.toggleDataArea();    // and open the data height
    ok &= save("data");
    return ok ? 0 : 1;
}
