#include "Client.h"

#include "exchange/ExchangeEngine.h"
#include "exchange/ExchangeLog.h"
#include "exchange/ReadingJson.h"
#include "exchange/TraceRule.h"
#include "Wording.h"
#include "keys/CommandLookup.h"
#include "serial/QtSerialControl.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaObject>
#include <cstdio>

namespace ctl {
namespace {

constexpr int kPollIntervalMs = 1000;

void printErr(const QString &text)
{
    std::fprintf(stderr, "orva-ctl: %s\n", qPrintable(text));
}

// A degree Celsius with its one decimal as the projector gives it ("41.0"), more where it gives more.
QString celsius(double value)
{
    const QString oneDecimal = QString::number(value, 'f', 1);
    return oneDecimal.toDouble() == value ? oneDecimal : QString::number(value, 'g', 10);
}

// The value a reply tells, as a person reads it; empty where the reply tells none.
QString plainText(const decoding::Reading &r)
{
    const decoding::Temperatures &t = r.temperatures;
    if (r.lampHours)
        return *r.lampHours == 1 ? QStringLiteral("1 hour") : QStringLiteral("%1 hours").arg(*r.lampHours);
    if (t.s1 && t.s2 && t.s3)
        return QStringLiteral("S1 %1 \u00b0C, S2 %2 \u00b0C, S3 %3 \u00b0C").arg(celsius(*t.s1), celsius(*t.s2), celsius(*t.s3));
    if (r.pressure)
        return QStringLiteral("%1 hPa").arg(*r.pressure);
    if (r.text)
        return *r.text;
    return r.words();
}

} // namespace

Client::Client(Request request, QObject *parent)
    : QObject(parent)
    , m_request(std::move(request))
{
    m_overall.setSingleShot(true);
    m_overall.setTimerType(Qt::PreciseTimer);
    m_poll.setSingleShot(true);
    m_poll.setTimerType(Qt::PreciseTimer);
    connect(&m_overall, &QTimer::timeout, this, &Client::onOverallTimeout);
    connect(&m_poll, &QTimer::timeout, this, [this] {
        if (m_windowOpen)
            m_pollDue = true;
        else
            pollStatus();
    });
}

Client::~Client() = default;

void Client::start()
{
    if (!m_request.logPath.isEmpty()) {
        m_log = std::make_unique<ExchangeLog>();
        QString error;
        if (!m_log->open(m_request.logPath, &error)) {
            printErr(error);
            return finish(kPortError);
        }
        // A full disk ends the log, never the command; the exit status tells.
        connect(m_log.get(), &ExchangeLog::stopped, this, [this](const QString &reason) {
            printErr(reason);
            m_logFailed = true;
        });
    }
    m_serial = std::make_unique<QtSerialControl>(QMap<int, QString>{{1, m_request.device}, {2, m_request.device}}, portWording());
    m_engine = std::make_unique<ExchangeEngine>(*m_serial);
    if (m_log)
        m_log->watch(*m_engine);
    ExchangeEngine &engine = *m_engine;
    connect(&engine, &ExchangeEngine::warning, this, &Client::onWarning);
    connect(&engine, &ExchangeEngine::transmitted, this, [this](const QString &text, bool sent) {
        if (m_current.sent.isEmpty())
            m_current.sent = text;
        if (!sent)
            finish(kPortError);
    });
    connect(&engine, &ExchangeEngine::received, this, &Client::onReceived);
    connect(&engine, &ExchangeEngine::statusDecoded, this, [this](const QString &status) {
        if (!m_current.done)
            m_current.status = status;
    });
    connect(&engine, &ExchangeEngine::readingDecoded, this, [this](const decoding::Reading &reading) {
        if (!m_current.done)
            m_current.reading = reading;
    });
    connect(&engine, &ExchangeEngine::replyWindowEnded, this, &Client::windowEnded);
    // A network link that fails to connect, or a port lost, ends the run.
    connect(&engine, &ExchangeEngine::portInUse, this, [this](int port) {
        if (!m_starting && port == 0)
            finish(kPortError);
    });

    // The port opens once, at the speed asked for.
    m_starting = true;
    const bool open = engine.startOnce(m_request.settings);
    m_starting = false;
    if (!open)
        return finish(kPortError);
    m_overall.start(m_request.timeoutMs);
    sendCommand();
}

void Client::sendCommand()
{
    m_current = {};
    m_windowOpen = true;
    if (!m_request.command)
        m_engine->send(m_request.rawText);
    else if (m_request.command->repeats())
        m_engine->tap(*m_request.command);  // its code goes out once
    else
        m_engine->click(*m_request.command);
}

void Client::pollStatus()
{
    m_pollDue = false;
    m_current = {};
    m_windowOpen = true;
    m_engine->click(*keys::findCommand("status"));
}

void Client::onReceived(const QString &chunk)
{
    if (m_current.done)
        return;
    m_current.reply += chunk;
    // A whole reply has come: no need to wait for the end of the reply window.
    // The status is decoded right after this signal, so the end is handled queued.
    if (ExchangeEngine::replyComplete(m_current.reply))
        QMetaObject::invokeMethod(this, [this] {
            if (!m_current.done)
                exchangeDone(true);
        }, Qt::QueuedConnection);
}

void Client::windowEnded(bool answered)
{
    m_windowOpen = false;
    // Given a --timeout, the command's reply is awaited that long, past its
    // reply window: the engine still collects what comes late.
    const bool waitLonger = !answered && !m_polling && m_request.timeoutGiven && m_overall.isActive();
    if (!m_current.done && !waitLonger)
        exchangeDone(answered);
    if (m_pollDue && !m_finished)
        pollStatus();
}

void Client::exchangeDone(bool answered)
{
    if (m_finished)
        return;
    m_current.done = true;
    const std::optional<QString> status =
        m_current.status ? std::optional<QString>(m_current.status->trimmed()) : std::nullopt;
    const bool ok = answered && (status || m_current.reply.contains(QChar(0x06)));
    if (!m_polling) {
        m_first = m_current;
        if (!answered) {
            printErr(QStringLiteral("no reply from the projector within the reply window"));
            return finish(kNoReply);
        }
        if (!m_request.waitFor)
            return finish(ok ? kAnswered : kOtherReply);
        m_polling = true;
    }
    if (status)
        m_lastStatus = *status;
    if (status && *status == *m_request.waitFor)
        return finish(kAnswered);
    m_poll.start(kPollIntervalMs);
}

void Client::onWarning(const QString &text)
{
    if (text != m_lastWarning)
        printErr(text);
    m_lastWarning = text;
    if (!m_starting)
        finish(kPortError);
}

void Client::onOverallTimeout()
{
    if (!m_polling && !m_current.done && !m_current.reply.isEmpty())
        return exchangeDone(true);  // a reply came late, but not whole
    if (m_polling) {
        printErr(QStringLiteral("--wait: the status is \"%1\", not \"%2\", after %3 ms")
                     .arg(m_lastStatus, *m_request.waitFor)
                     .arg(m_request.timeoutMs));
        return finish(kWaitTimedOut);
    }
    printErr(QStringLiteral("no reply from the projector within %1 ms").arg(m_request.timeoutMs));
    finish(kNoReply);
}

void Client::finish(int code)
{
    if (m_finished)
        return;
    m_finished = true;
    if (code == kAnswered && m_logFailed)
        code = kPortError;
    m_overall.stop();
    m_poll.stop();
    if (m_log && code != kAnswered)
        m_log->write(u"ERROR", QStringLiteral("orva-ctl ended with exit status %1").arg(code));
    printResult(code);
    if (m_engine)
        m_engine->end();
    if (finished)
        finished(code);
}

void Client::printResult(int code)
{
    const std::optional<QString> status =
        m_first.status ? std::optional<QString>(m_first.status->trimmed()) : std::nullopt;
    if (m_request.json) {
        QJsonObject o{{"command", m_request.command ? keys::qText(m_request.command->name) : QStringLiteral("send")},
                      {"sent", m_first.sent},
                      {"reply", m_first.reply},
                      {"status", status ? QJsonValue(*status) : QJsonValue(QJsonValue::Null)},
                      {"ok", code == kAnswered}};
        decoding::addReading(o, m_first.reading);
        if (m_request.waitFor)
            o.insert(QStringLiteral("waited"), m_lastStatus);
        std::printf("%s\n", QJsonDocument(o).toJson(QJsonDocument::Compact).constData());
        return;
    }
    // The value the reply tells; else the status line's words, or the reply as traced.
    if (const QString value = plainText(m_first.reading); !value.isEmpty())
        std::printf("%s\n", value.toUtf8().constData());
    else if (status)
        std::printf("%s\n", qPrintable(*status));
    else if (code == kOtherReply || (!m_request.command && code == kAnswered))
        std::printf("%s\n", qPrintable(traceText(m_first.reply).trimmed()));
    if (m_request.waitFor && code == kAnswered && m_polling)
        std::printf("%s\n", qPrintable(m_lastStatus));
}

} // namespace ctl
