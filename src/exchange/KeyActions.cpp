// The command keys: one-shot buttons, the auto-repeat keys with their repeat
// timer and key modes, and the manual entry.

#include "exchange/CommandText.h"
#include "exchange/ExchangeEngine.h"
#include "keys/CommandTable.h"
#include "keys/RepeatTable.h"

namespace {

QString codeText(std::string_view code)
{
    return QString::fromLatin1(code.data(), qsizetype(code.size()));
}

template <typename Row, std::size_t N>
const Row *findControl(const std::array<Row, N> &table, QStringView control)
{
    for (const Row &row : table)
        if (QLatin1StringView(row.control.data(), qsizetype(row.control.size())) == control)
            return &row;
    return nullptr;
}

} // namespace

void ExchangeEngine::transmit(const QString &code)
{
    m_state.txText = m_state.commandPrefix + code + QLatin1Char('\r');
    showExchange(m_state.txText, 1);
}

bool ExchangeEngine::click(QStringView control)
{
    const keys::OneShot *button = findControl(keys::kOneShots, control);
    if (button)
        clickOneShot(*button);
    return button;
}

bool ExchangeEngine::press(QStringView control)
{
    const keys::RepeatKey *key = findControl(keys::kRepeatKeys, control);
    if (key)
        pressRepeatKey(*key);
    return key;
}

bool ExchangeEngine::release(QStringView control)
{
    const keys::RepeatKey *key = findControl(keys::kRepeatKeys, control);
    if (key)
        releaseRepeatKey(*key);
    return key;
}

void ExchangeEngine::clickOneShot(const keys::OneShot &button)
{
    if (button.replyWindowMs) {
        replyTimer.setInterval(button.replyWindowMs);
        displayHoldTimer.setInterval(button.displayHoldMs);
    }
    transmit(codeText(button.code));
    if (button.side == keys::Side::MenuContext) {
        repeatTimer.setInterval(keys::kMenuRepeatIntervalMs);
        m_state.keyMode = keys::kKeyModeMenu;
    }
}

void ExchangeEngine::pressRepeatKey(const keys::RepeatKey &key)
{
    if (key.arrow) {
        if (m_state.keyMode == keys::kKeyModeMenu) {
            replyTimer.setInterval(keys::kArrowMenuReplyMs);
            displayHoldTimer.setInterval(keys::kArrowMenuHoldMs);
        } else if (m_state.keyMode == keys::kKeyModeZoom) {
            replyTimer.setInterval(keys::kArrowZoomReplyMs);
            displayHoldTimer.setInterval(keys::kArrowZoomHoldMs);
        }
        m_state.repeatCode = key.repeatCode;
        transmit(codeText(key.code));
        repeatTimer.start();
        return;
    }
    m_state.repeatCode = key.repeatCode;
    transmit(codeText(key.code));
    repeatTimer.setInterval(key.repeatMs);
    replyTimer.setInterval(key.replyWindowMs);
    displayHoldTimer.setInterval(key.displayHoldMs);
    repeatTimer.start();
}

void ExchangeEngine::releaseRepeatKey(const keys::RepeatKey &key)
{
    m_state.repeatCode = 0;
    repeatTimer.stop();
    replyTimer.stop();
    displayHoldTimer.start();
    setLine(Line::Txd, QString());
    setLine(Line::Rxd, QString());
    replyTimer.setInterval(keys::kDefaultReplyWindowMs);
    displayHoldTimer.setInterval(keys::kDefaultDisplayHoldMs);
    emptyRxText();
    if (key.zoom) {
        repeatTimer.setInterval(keys::kZoomReleaseRepeatMs);
        m_state.keyMode = keys::kKeyModeZoom;
    }
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
    replyTimer.setInterval(keys::kManualReplyWindowMs);
    displayHoldTimer.setInterval(keys::kManualDisplayHoldMs);
    m_state.manualText = text;
    transmit(m_state.manualText);
}
