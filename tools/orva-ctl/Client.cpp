#include "Client.h"

#include "exchange/ExchangeEngine.h"
#include "exchange/ExchangeLog.h"
#include "exchange/StatusDecoding.h"
#include "exchange/TraceRule.h"
#include "Wording.h"
#include "keys/CommandLookup.h"
#include "serial/QtSerialControl.h"

#include <QMetaObject>
#include <cstdio>

namespace ctl {
namespace {

constexpr int kPollIntervalMs = 1000;

void printErr(const QString &text)
{
    std::fprintf(stderr, "orva-ctl: %s\n", qPrintable(text));
}

// A JSON string: quotes, backslashes and every control character escaped (\u00XX).
QString jsonString(const QString &s)
{
    QString out = QStringLiteral("\"");
    for (QChar c : s) {
        if (c == u'"' || c == u'\\')
            out += u'\\', out += c;
        else if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out + u'"';
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
        const QString command = m_request.command ? keys::qText(m_request.command->name) : QStringLiteral("send");
        const QString object =
            QStringLiteral("{\"command\": %1, \"sent\": %2, \"reply\": %3, \"status\": %4, \"ok\": %5")
                .arg(jsonString(command), jsonString(m_first.sent), jsonString(m_first.reply),
                     status ? jsonString(*status) : QStringLiteral("null"),
                     code == kAnswered ? QStringLiteral("true") : QStringLiteral("false"));
        const QString waited = m_request.waitFor ? QStringLiteral(", \"waited\": %1").arg(jsonString(m_lastStatus))
                                                 : QString();
        std::printf("%s%s%s}\n", qPrintable(object), qPrintable(decodedValues()), qPrintable(waited));
        return;
    }
    if (status)
        std::printf("%s\n", qPrintable(*status));
    else if (code == kOtherReply || (!m_request.command && code == kAnswered))
        std::printf("%s\n", qPrintable(traceText(m_first.reply).trimmed()));
    if (m_request.waitFor && code == kAnswered && m_polling)
        std::printf("%s\n", qPrintable(m_lastStatus));
}

// The values a script reads instead of the status text: the power state as a
// word, the lamp hours, the temperatures in degrees Celsius.
QString Client::decodedValues() const
{
    const auto number = [](const std::optional<double> &v) {
        return v ? QString::number(*v, 'g', 10) : QStringLiteral("null");
    };
    // By the command that went out, named or sent as text.
    const QString code = m_first.sent.endsWith(u'\r') ? m_first.sent.chopped(1) : m_first.sent;
    if (code == QLatin1String("CR0")) {
        const std::optional<QString> word = decoding::powerWord(traceText(m_first.reply));
        return QStringLiteral(", \"power\": %1").arg(word ? jsonString(*word) : QStringLiteral("null"));
    }
    if (code == QLatin1String("CR3")) {
        const std::optional<int> hours = decoding::lampHours(m_first.reply);
        return QStringLiteral(", \"hours\": %1").arg(hours ? QString::number(*hours) : QStringLiteral("null"));
    }
    if (code == QLatin1String("CR6")) {
        const decoding::Temperatures t = decoding::temperatures(m_first.reply);
        return QStringLiteral(", \"temperatures\": {\"S1\": %1, \"S2\": %2, \"S3\": %3}")
            .arg(number(t.s1), number(t.s2), number(t.s3));
    }
    return QString();
}

} // namespace ctl
