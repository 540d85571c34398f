#pragma once
// An exchange engine on a serial control (the fake one unless told), started the
// way the program starts it, with what it reports recorded, and given commands by
// name as a front end gives them. No window, no Qt Widgets.

#include "TestSupport.h"
#include "exchange/ExchangeEngine.h"
#include "keys/CommandLookup.h"
#include "serial/FakeSerialControl.h"

#include <QList>
#include <QStringList>
#include <QTest>

// One interval of an engine's timer ("repeat", "replyWindow", "displayHold") ended at once.
inline void fire(ExchangeEngine &engine, const char *timer)
{
    QTimer *t = engine.findChild<QTimer *>(QLatin1String(timer));
    QVERIFY2(t, timer);
    tick(*t);
}

template <typename Serial> struct EngineOn {
    Serial serial;
    ExchangeEngine engine{serial};
    QStringList warnings;
    QList<int> portsInUse;  // every portInUse report
    QString received;       // every received chunk

    // `args` are the serial control's.
    template <typename... Args> explicit EngineOn(bool start = true, Args &&...args) : serial(std::forward<Args>(args)...)
    {
        QObject::connect(&engine, &ExchangeEngine::warning, [this](const QString &text) { warnings << text; });
        QObject::connect(&engine, &ExchangeEngine::portInUse, [this](int port) { portsInUse << port; });
        QObject::connect(&engine, &ExchangeEngine::received, [this](const QString &chunk) { received += chunk; });
        if (start)
            engine.start();
    }

    QString txd() const { return engine.line(ExchangeEngine::Line::Txd); }
    QString rxd() const { return engine.line(ExchangeEngine::Line::Rxd); }
    QString status() const { return engine.line(ExchangeEngine::Line::Status); }
    const PanelState &state() const { return engine.state(); }
    ExchangeEngine &exchange() { return engine; }

    void click(const char *name) { QVERIFY2(use(&ExchangeEngine::click, name), name); }
    void press(const char *name) { QVERIFY2(use(&ExchangeEngine::press, name), name); }
    void release(const char *name) { QVERIFY2(use(&ExchangeEngine::release, name), name); }
    bool use(bool (ExchangeEngine::*action)(const keys::Command &), const char *name)
    {
        const keys::Command *c = keys::findCommand(name);
        return c && (engine.*action)(*c);
    }
    // Bytes written since the last call.
    QByteArray takeWritten() { return std::exchange(serial.written, QByteArray()); }
};
using Engine = EngineOn<FakeSerialControl>;
