// The command keys: one-shot buttons, the auto-repeat keys with their repeat
// timer and key modes, and the manual entry.

#include "exchange/CommandText.h"
#include "exchange/ExchangeEngine.h"
#include "keys/CommandTable.h"

namespace {

QString codeText(std::string_view code)
{
    return QString::fromLatin1(code.data(), qsizetype(code.size()));
}

// The reply window's or display hold's interval for the next command. QTimer restarts
// a running timer on every setInterval, even to the same interval; these two are
// always (re)started right beside it, so an unchanged interval is left alone: the
// restart would be a second one.
void setHoldInterval(QTimer &timer, int intervalMs)
{
    if (timer.interval() != intervalMs)
        timer.setInterval(intervalMs);
}

} // namespace

void ExchangeEngine::transmit(const QString &code)
{
    m_state.txText = m_state.commandPrefix + code + QLatin1Char('\r');
    showExchange(m_state.txText, 1);
}

bool ExchangeEngine::click(const keys::Command &command)
{
    if (command.repeats())
        return false;
    if (command.replyWindowMs) {
        setHoldInterval(replyTimer, command.replyWindowMs);
        setHoldInterval(displayHoldTimer, command.displayHoldMs);
    }
    transmit(codeText(command.code));
    if (command.side == keys::Side::MenuContext) {
        repeatTimer.setInterval(keys::kMenuRepeatIntervalMs);
        m_state.keyMode = keys::kKeyModeMenu;
    }
    return true;
}

bool ExchangeEngine::press(const keys::Command &key)
{
    if (!key.repeats())
        return false;
    if (key.kind == keys::Kind::Arrow) {
        if (m_state.keyMode == keys::kKeyModeMenu) {
            setHoldInterval(replyTimer, keys::kArrowMenuReplyMs);
            setHoldInterval(displayHoldTimer, keys::kArrowMenuHoldMs);
        } else if (m_state.keyMode == keys::kKeyModeZoom) {
            setHoldInterval(replyTimer, keys::kArrowZoomReplyMs);
            setHoldInterval(displayHoldTimer, keys::kArrowZoomHoldMs);
        }
        m_state.repeatCode = key.repeatCode;
        transmit(codeText(key.code));
        repeatTimer.start();
        return true;
    }
    m_state.repeatCode = key.repeatCode;
    transmit(codeText(key.code));
    repeatTimer.setInterval(key.repeatMs);
    setHoldInterval(replyTimer, key.replyWindowMs);
    setHoldInterval(displayHoldTimer, key.displayHoldMs);
    repeatTimer.start();
    return true;
}

bool ExchangeEngine::tap(const keys::Command &key)
{
    if (!press(key))
        return false;
    repeatTimer.stop();
    return true;
}

bool ExchangeEngine::release(const keys::Command &key)
{
    if (!key.repeats())
        return false;
    m_state.repeatCode = 0;
    repeatTimer.stop();
    replyTimer.stop();
    displayHoldTimer.start();
    setLine(Line::Txd, QString());
    setLine(Line::Rxd, QString());
    setHoldInterval(replyTimer, keys::kDefaultReplyWindowMs);
    setHoldInterval(displayHoldTimer, keys::kDefaultDisplayHoldMs);
    emptyRxText();
    if (key.side == keys::Side::ZoomContext) {
        repeatTimer.setInterval(keys::kZoomReleaseRepeatMs);
        m_state.keyMode = keys::kKeyModeZoom;
    }
    return true;
}

void ExchangeEngine::onRepeatTick()
{
    if (m_state.repeatCode == 0)
        return;
    transmit(codeText(keys::repeatCodeText(m_state.repeatCode)));
}

void ExchangeEngine::send(const QString &text)
{
    // A line break would end the command early and start another; the projector
    // takes printable ASCII only. Such a text goes nowhere, and the status line says why.
    if (const std::optional<Unsendable> bad = firstUnsendable(text)) {
        setLine(Line::Status, QStringLiteral(" Not sent: %1 is no printable ASCII").arg(describe(*bad)));
        displayHoldTimer.start();
        return;
    }
    setHoldInterval(replyTimer, keys::kManualReplyWindowMs);
    setHoldInterval(displayHoldTimer, keys::kManualDisplayHoldMs);
    m_state.manualText = text;
    transmit(m_state.manualText);
}
