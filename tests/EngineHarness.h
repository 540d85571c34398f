#pragma once
// An exchange engine on a serial control (the fake one unless told), started the
// way the program starts it, with what it reports recorded, and given commands by
// name as a front end gives them; the steps the engine and window tests share. No
// window, no Qt Widgets.

#include "TestSupport.h"
#include "exchange/ExchangeEngine.h"
#include "keys/CommandLookup.h"
#include "serial/FakeSerialControl.h"

#include <QList>

// One interval of an engine's timer ("repeat", "replyWindow", "displayHold") ended at
// once (QTimer::timeout cannot be emitted from outside).
inline void fire(ExchangeEngine &engine, const char *timer)
{
    QTimer *t = engine.findChild<QTimer *>(QLatin1String(timer));
    QVERIFY2(t && QMetaObject::invokeMethod(t, "timeout", Qt::DirectConnection), timer);
}

template <typename Serial> struct EngineOn {
    Serial serial;
    ExchangeEngine engine{serial};
    QStringList warnings;
    QList<int> portsInUse;  // every portInUse report
    QString received;       // every received chunk
    QStringList events;     // the query of every reading decoded; "answered" or "no reply" as a reply window ends

    // `args` are the serial control's.
    template <typename... Args> explicit EngineOn(bool start = true, Args &&...args) : serial(std::forward<Args>(args)...)
    {
        QObject::connect(&engine, &ExchangeEngine::warning, [this](const QString &text) { warnings << text; });
        QObject::connect(&engine, &ExchangeEngine::portInUse, [this](int port) { portsInUse << port; });
        QObject::connect(&engine, &ExchangeEngine::received, [this](const QString &chunk) { received += chunk; });
        QObject::connect(&engine, &ExchangeEngine::readingDecoded, [this](const decoding::Reading &r) { events << r.code; });
        QObject::connect(&engine, &ExchangeEngine::replyWindowEnded, [this](bool answered) { events << (answered ? "answered" : "no reply"); });
        if (start)
            engine.start();
    }

    QString txd() const { return engine.line(ExchangeEngine::Line::Txd); }
    QString rxd() const { return engine.line(ExchangeEngine::Line::Rxd); }
    QString status() const { return engine.line(ExchangeEngine::Line::Status); }
    const PanelState &state() const { return engine.state(); }
    ExchangeEngine &exchange() { return engine; }

    void click(const char *name) { QVERIFY2(engine.click(*keys::findCommand(name)), name); }
    void press(const char *name) { QVERIFY2(engine.press(*keys::findCommand(name)), name); }
    void release(const char *name) { QVERIFY2(engine.release(*keys::findCommand(name)), name); }
    // Bytes written since the last call.
    QByteArray takeWritten() { return std::exchange(serial.written, QByteArray()); }
};
using Engine = EngineOn<FakeSerialControl>;

// One action on a harness `P` (Engine or Panel: click/press/release by command name or
// by control, exchange(), serial), "VERB ARG": "click X", "key X" (pressed and released; X: a
// command name for the engine harness, a control for the window's), "tap X" (a command
// name), "send TEXT", "rx TEXT", "event" (another comm event), "close" (the port), "reply"
// or "hold" (the end of the reply window or the display hold); "start", "once SETTINGS"
// (the start-up of a program without port options), "port N", "speed SETTINGS", "end",
// "lose TEXT" (the device gone), "block N" (port N cannot be opened: "busy"), "free";
// "hide" (the lines, for a front end that reads replies itself).
template <typename P> void act(P &p, const QString &step)
{
    using Verb = void (*)(P &, const QString &);
    static const QHash<QString, Verb> verbs{
        {"click", [](P &h, const QString &a) { h.click(qPrintable(a)); }},
        {"key", [](P &h, const QString &a) { h.press(qPrintable(a)); h.release(qPrintable(a)); }},
        {"tap", [](P &h, const QString &a) { h.exchange().tap(*keys::findCommand(a)); }},
        {"send", [](P &h, const QString &a) { h.exchange().send(a); }},
        {"rx", [](P &h, const QString &a) { h.serial.receive(a); }},
        {"event", [](P &h, const QString &) { h.serial.raiseEvent(1001); }},
        {"close", [](P &h, const QString &) { h.serial.setPortOpen(false); }},
        {"reply", [](P &h, const QString &) { fire(h.exchange(), "replyWindow"); }},
        {"hold", [](P &h, const QString &) { fire(h.exchange(), "displayHold"); }},
        {"hide", [](P &h, const QString &) { h.exchange().setLinesShown(false); }},
        {"start", [](P &h, const QString &) { h.exchange().start(); }},
        {"once", [](P &h, const QString &a) { h.exchange().startOnce(a); }},
        {"port", [](P &h, const QString &a) { h.exchange().choosePort(a.toInt()); }},
        {"speed", [](P &h, const QString &a) { h.exchange().chooseSpeed(a); }},
        {"end", [](P &h, const QString &) { h.exchange().end(); }},
        {"lose", [](P &h, const QString &a) { h.serial.loseDevice(a); }},
        {"block", [](P &h, const QString &a) { h.serial.unopenable.insert(a.toInt(), QStringLiteral("busy")); }},
        {"free", [](P &h, const QString &) { h.serial.unopenable.clear(); }},
    };
    const Verb verb = verbs.value(step.section(u' ', 0, 0));
    QVERIFY2(verb, qPrintable(step));
    verb(p, step.section(u' ', 1));
}
