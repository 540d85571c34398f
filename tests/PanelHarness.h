#pragma once
// A panel window on a fake serial control and a recording window runtime, started
// the way the program starts it.

#include "EngineHarness.h"
#include "panel/Form1.h"
#include "panel/FormBuilder.h"
#include "panel/Widgets.h"
#include "panel/WindowRuntime.h"

#include <QApplication>
#include <QFrame>
#include <QLineEdit>
#include <QRadioButton>
#include <memory>

struct Panel {
    FakeSerialControl serial;
    RecordingRuntime runtime;
    std::unique_ptr<Form1> form;

    // Builds the window; `load` runs start-up, `show` puts it on screen.
    explicit Panel(bool load = true, bool show = true)
    {
        registerFontSubstitutions();
        form = std::make_unique<Form1>(serial, runtime);
        if (load)
            form->start();
        if (show) {
            form->show();
            QCoreApplication::processEvents();
        }
    }

    template <typename T = QWidget> T *w(const char *name) const
    {
        return qobject_cast<T *>(form->control(QString::fromLatin1(name)));
    }
    PanelButton *button(const char *name) const { return w<PanelButton>(name); }
    QString line(const char *name) const { return w<PanelLabel>(name)->caption(); }
    QString txd() const { return line("Label11"); }
    QString rxd() const { return line("Label12"); }
    QString status() const { return line("Label22"); }
    const PanelState &state() const { return form->state(); }
    ExchangeEngine &exchange() const { return form->engine(); }

    void click(const char *name) const { QTest::mouseClick(button(name), Qt::LeftButton); }
    void press(const char *name, Qt::MouseButton b = Qt::LeftButton) const { QTest::mousePress(button(name), b); }
    void release(const char *name, Qt::MouseButton b = Qt::LeftButton) const { QTest::mouseRelease(button(name), b); }
    // Bytes written since the last call.
    QByteArray takeWritten() { return std::exchange(serial.written, QByteArray()); }
};

// One step on the window: H = Ctrl+H (S, A: with Shift, with Alt; h: H alone; G: Ctrl+G),
// D = double-click on the word mark, B = the data button, C = the COM button, 6 / 5 =
// the outer height set to 6000 / 5999 twips.
inline void step(Panel &p, QChar s)
{
    const Qt::KeyboardModifiers ctrl = Qt::ControlModifier, mods[] = {ctrl, ctrl | Qt::ShiftModifier, ctrl | Qt::AltModifier, {}, ctrl};
    if (const qsizetype key = QStringView(u"HSAhG").indexOf(s); key >= 0)
        QTest::keyClick(QApplication::focusWidget(), s == u'G' ? Qt::Key_G : Qt::Key_H, mods[key]);
    else if (s == u'D')
        QTest::mouseDClick(p.w("Image1"), Qt::LeftButton);
    else if (s == u'B' || s == u'C')
        p.click(s == u'B' ? "Command34" : "Command33");
    else
        p.form->setOuterHeightTwips(s == u'6' ? 6000 : 5999);
}

// Shown with no window manager's frame (the design's is assumed) or under a title bar of
// `titleBar` px and 1 px borders, made the active window, then the steps done.
inline void showAndRun(Panel &p, const QString &steps, int titleBar = 0)
{
    p.runtime.frame = titleBar ? QMargins(1, titleBar, 1, 1) : QMargins();
    p.form->show();
    QApplication::setActiveWindow(p.form.get());
    QVERIFY(QTest::qWaitForWindowActive(p.form.get()));
    for (const QChar s : steps)
        step(p, s);
}
