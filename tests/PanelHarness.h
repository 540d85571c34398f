#pragma once
// A panel window on a fake serial control and a recording window runtime, started
// the way the program starts it.

#include "EngineHarness.h"
#include "panel/Form1.h"
#include "panel/FormBuilder.h"
#include "panel/Widgets.h"
#include "panel/WindowRuntime.h"
#include "serial/FakeSerialControl.h"

#include <QFrame>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>
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
