// The exchange engine: every command goes out through showExchange, which traces it
// on the TXD line and starts the reply window and the display hold; received
// characters are collected in rxText, traced on the RXD line and decoded.

#include "exchange/ExchangeEngine.h"
#include "exchange/StatusDecoding.h"
#include "exchange/TraceRule.h"
#include "serial/SerialControl.h"

#include <tuple>

namespace {
const QString kNoReplyMark = QStringLiteral(" X X X X");
constexpr quint8 kTransmit = 1;
}

ExchangeEngine::ExchangeEngine(SerialControl &serial, QObject *parent) : QObject(parent), m_serial(serial)
{
    const std::tuple<QTimer *, int, const char *> timers[] = {{&repeatTimer, kStartRepeatMs, "repeat"},
                                                             {&replyTimer, kStartReplyWindowMs, "replyWindow"},
                                                             {&displayHoldTimer, kStartDisplayHoldMs, "displayHold"}};
    for (const auto &[timer, intervalMs, name] : timers) {
        timer->setObjectName(QLatin1String(name));
        timer->setParent(this);
        timer->setTimerType(Qt::PreciseTimer);
        timer->setInterval(intervalMs);
    }
    connect(&repeatTimer, &QTimer::timeout, this, &ExchangeEngine::onRepeatTick);
    connect(&replyTimer, &QTimer::timeout, this, &ExchangeEngine::onReplyWindowEnd);
    connect(&displayHoldTimer, &QTimer::timeout, this, &ExchangeEngine::onDisplayHoldEnd);
    connect(&m_serial, &SerialControl::onComm, this, &ExchangeEngine::onReceive);
    connect(&m_serial, &SerialControl::portLost, this, &ExchangeEngine::onPortLost);
    connect(&m_serial, &SerialControl::openFailed, this, &ExchangeEngine::onOpenFailed);
}

// The member timers leave the engine's children as they are destroyed, before it.
ExchangeEngine::~ExchangeEngine() = default;

ExchangeEngine::Timing ExchangeEngine::timing() const
{
    return {repeatTimer.interval(), replyTimer.interval(), displayHoldTimer.interval(),
            repeatTimer.isActive(), replyTimer.isActive(), displayHoldTimer.isActive()};
}

void ExchangeEngine::keepLines()
{
    replyTimer.stop();
    displayHoldTimer.stop();
}

void ExchangeEngine::setLine(Line which, const QString &text)
{
    if (!m_linesShown)
        return;
    m_lines[std::size_t(which)] = text;
    emit lineChanged(which, text);
}

void ExchangeEngine::showExchange(const QString &text, quint8 mode)
{
    if (mode == kTransmit) {
        const SerialResult failed = m_serial.output(text);
        emit transmitted(text, !failed);
        if (m_linesShown)
            setLine(Line::Txd, traceText(text));
        replyTimer.start();
        m_state.awaitingReply = 1;
        if (!m_linesShown)
            return;
        displayHoldTimer.start();
        // Nothing went on the wire (port closed): say so where the display hold clears it.
        if (failed)
            setLine(Line::Status, QStringLiteral(" Not sent: %1").arg(failed->description));
        return;
    }
    setLine(Line::Rxd, receiveTrace(text));
    const decoding::Result decoded = decoding::decode(m_state.txText, m_state.commandPrefix, text, line(Line::Rxd));
    if (decoded.pressureValue)
        m_state.pressureValue = *decoded.pressureValue;
    if (decoded.status) {
        setLine(Line::Status, *decoded.status);
        emit statusDecoded(*decoded.status);
    }
    if (!decoded.reading.code.isEmpty())
        emit readingDecoded(decoded.reading);
}

// The trace of the text handed to receive mode. rxText only grows between two
// emptyings (emptyRxText, which starts its trace again), so its trace is extended
// by the new characters alone.
QString ExchangeEngine::receiveTrace(const QString &text)
{
    if (&text != &m_state.rxText)
        return traceText(text);
    appendTraceOf(m_rxTrace, QStringView(text).mid(m_rxTracedChars));
    m_rxTracedChars = text.size();
    return m_rxTrace;
}

void ExchangeEngine::emptyRxText()
{
    m_state.rxText.clear();
    m_rxTrace = QStringLiteral(" ");
    m_rxTracedChars = 0;
}

void ExchangeEngine::onReceive()
{
    if (m_serial.commEvent() != kCommEvReceive)
        return;
    const QString chunk = m_serial.input();
    // rxText is capped: characters beyond the limit are dropped until it is emptied.
    const qsizetype room = kRxTextLimit - m_state.rxText.size();
    const bool grew = room > 0 && !chunk.isEmpty();
    if (grew) {
        m_state.rxText += QStringView(chunk).left(room);
        emit received(chunk.left(room));
    }
    m_state.awaitingReply = 0;
    if (grew && m_linesShown)
        showExchange(m_state.rxText, 2);
}

void ExchangeEngine::onReplyWindowEnd()
{
    const bool answered = m_state.awaitingReply != 1;
    if (!answered)
        setLine(Line::Rxd, kNoReplyMark);
    replyTimer.stop();
    emptyRxText();
    m_state.awaitingReply = 0;
    emit replyWindowEnded(answered);
}

void ExchangeEngine::onDisplayHoldEnd()
{
    setLine(Line::Txd, QString());
    setLine(Line::Rxd, QString());
    setLine(Line::Status, QString());
    displayHoldTimer.stop();
}

// The panel state as at start, then COM1 opened with `settings`; false, with the
// warning told, when it did not open.
bool ExchangeEngine::openFirstPort(const QString &settings)
{
    m_state.commSettings = settings;
    m_state.commandPrefix = QString();
    m_state.repeatCode = 0;
    m_state.awaitingReply = 0;
    emptyRxText();

    m_serial.setCommPort(1);
    m_serial.setSettings(m_state.commSettings);
    if (const SerialResult failed = m_serial.setPortOpen(true)) {
        emit warning(failed->description);
        return false;
    }
    return true;
}

void ExchangeEngine::start()
{
    openFirstPort(QString::fromLatin1(kStartSettings));
    // COM1 chosen as by the operator: the window shows it (or no option, if it failed).
    if (choosePort(1))
        emit portInUse(1);
}

bool ExchangeEngine::startOnce(const QString &settings)
{
    if (!openFirstPort(settings))
        return false;
    emit portInUse(1);
    return true;
}

void ExchangeEngine::end()
{
    m_serial.setPortOpen(false);
}
