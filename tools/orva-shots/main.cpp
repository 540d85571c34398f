// orva-shots: renders the panel at its four heights (compact, data, service, full)
// with a status exchange on the lines, and saves one PNG each. Used for the
// pictures in docs/; run it under Xvfb (or any display), optionally with
// QT_SCALE_FACTOR=2 for the HiDPI picture. With --dark the desktop's palette is a
// dark one (light text on dark faces), as under a dark desktop theme. With
// --with-frame, under a window manager (e.g. tests/openbox_window.sh), the pictures
// are taken from the screen with the title bar and borders.
//   orva-shots [--dark] [--with-frame] OUTDIR [SUFFIX]

#include "keys/CommandLookup.h"
#include "panel/Form1.h"
#include "panel/FormBuilder.h"
#include "panel/Widgets.h"
#include "panel/WindowRuntime.h"
#include "serial/FakeSerialControl.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QScreen>
#include <QDir>
#include <QPalette>
#include <QPixmap>
#include <QPushButton>
#include <cstdio>

namespace {
// A dark desktop theme's colours: light text on dark faces.
QPalette darkPalette()
{
    QPalette pal;
    const QColor dark(0x2D, 0x2D, 0x2D), darker(0x1E, 0x1E, 0x1E), light(0xEE, 0xEE, 0xEE);
    pal.setColor(QPalette::Window, dark);
    pal.setColor(QPalette::Button, dark);
    pal.setColor(QPalette::Base, darker);
    pal.setColor(QPalette::AlternateBase, dark);
    pal.setColor(QPalette::ToolTipBase, dark);
    for (QPalette::ColorRole r : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text, QPalette::ToolTipText, QPalette::BrightText})
        pal.setColor(r, light);
    pal.setColor(QPalette::Highlight, QColor(0x35, 0x84, 0xE4));
    pal.setColor(QPalette::HighlightedText, Qt::white);
    return pal;
}

void settle()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

// Lets the window manager frame the window and the server catch up, for at most
// `ms` milliseconds (waiting for events, not spinning).
void settleFramed(const QWidget &form, int ms)
{
    const QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired() && form.frameGeometry() == form.geometry())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    const QDeadlineTimer calm(300);
    while (!calm.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
}
}

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);
    const bool dark = args.removeAll(QStringLiteral("--dark")) > 0;
    const bool withFrame = args.removeAll(QStringLiteral("--with-frame")) > 0;
    if (args.isEmpty()) {
        std::fprintf(stderr, "usage: orva-shots [--dark] [--with-frame] OUTDIR [SUFFIX]\n");
        return 2;
    }
    if (dark)
        QApplication::setPalette(darkPalette());
    const QDir out(args[0]);
    const QString suffix = args.value(1);
    registerFontSubstitutions();
    FakeSerialControl serial;
    RecordingRuntime runtime;
    if (const QScreen *screen = QGuiApplication::primaryScreen(); withFrame && screen)
        runtime.screen = screen->geometry().size();
    else
        runtime.screen = {1280, 1024};
    Form1 form(serial, runtime);
    form.start();
    form.show();
    settle();
    // A status exchange on the lines.
    qobject_cast<QPushButton *>(form.control(keys::qText(keys::findCommand("status")->control)))->click();
    serial.receive(QStringLiteral("00\r"));
    form.engine().keepLines();

    auto save = [&](const char *name) {
        settle();
        const QString path = out.filePath(QStringLiteral("window-%1%2.png").arg(QLatin1String(name), suffix));
        QPixmap picture;
        if (withFrame) {
            settleFramed(form, 10000);
            const QRect r = form.frameGeometry();
            picture = QGuiApplication::primaryScreen()->grabWindow(0, r.x(), r.y(), r.width(), r.height());
        } else {
            picture = form.grab();
        }
        const bool ok = picture.save(path);
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
