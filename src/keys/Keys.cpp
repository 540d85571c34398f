// The command keys: one-shot buttons, the auto-repeat keys with their repeat
// timer, and the manual command line.

#include "panel/Form1.h"
#include "panel/Widgets.h"
#include "keys/CommandTable.h"
#include "keys/RepeatTable.h"

#include <QLineEdit>

void Form1::send(const QString &code)
{
    m_state.TxText = m_state.CommandPrefix + code + QLatin1Char('\r');
    Hyouji(m_state.TxText, 1);
}

static QString codeText(std::string_view code)
{
    return QString::fromLatin1(code.data(), qsizetype(code.size()));
}

void Form1::CommandButton_Click(const keys::OneShot &button)
{
    if (button.replyWindowMs) {
        Timer2.setInterval(button.replyWindowMs);
        Timer4.setInterval(button.displayHoldMs);
    }
    send(codeText(button.code));
    if (button.side == keys::Side::MenuContext) {
        Timer1.setInterval(keys::kMenuRepeatIntervalMs);
        m_state.KeyMode = keys::kKeyModeMenu;
    }
}

void Form1::RepeatKey_MouseDown(const keys::RepeatKey &key)
{
    if (key.arrow) {
        if (m_state.KeyMode == keys::kKeyModeMenu) {
            Timer2.setInterval(keys::kArrowMenuReplyMs);
            Timer4.setInterval(keys::kArrowMenuHoldMs);
        } else if (m_state.KeyMode == keys::kKeyModeZoom) {
            Timer2.setInterval(keys::kArrowZoomReplyMs);
            Timer4.setInterval(keys::kArrowZoomHoldMs);
        }
        m_state.RepeatCode = key.repeatCode;
        send(codeText(key.code));
        Timer1.start();
        return;
    }
    m_state.RepeatCode = key.repeatCode;
    send(codeText(key.code));
    Timer1.setInterval(key.repeatMs);
    Timer2.setInterval(key.replyWindowMs);
    Timer4.setInterval(key.displayHoldMs);
    Timer1.start();
}

void Form1::RepeatKey_MouseUp(const keys::RepeatKey &key)
{
    m_state.RepeatCode = 0;
    Timer1.stop();
    Timer2.stop();
    Timer4.start();
    setLine(Label11, QString());
    setLine(Label12, QString());
    Timer2.setInterval(keys::kDefaultReplyWindowMs);
    Timer4.setInterval(keys::kDefaultDisplayHoldMs);
    emptyRxText();
    if (key.zoom) {
        Timer1.setInterval(keys::kZoomReleaseRepeatMs);
        m_state.KeyMode = keys::kKeyModeZoom;
    }
}

void Form1::Timer1_Timer()
{
    if (m_state.RepeatCode == 0)
        return;
    send(codeText(keys::repeatCodeText(m_state.RepeatCode)));
}

// A held key whose release can no longer arrive stops as if released.
void Form1::endHeldKeys()
{
    for (const keys::RepeatKey &k : keys::kRepeatKeys)
        if (auto *b = qobject_cast<PanelButton *>(control(codeText(k.control))); b && b->isHeld())
            b->cancelHold();
}

void Form1::Command95_Click()
{
    Timer2.setInterval(keys::kManualReplyWindowMs);
    Timer4.setInterval(keys::kManualDisplayHoldMs);
    m_state.ManualText = Text1->text();
    send(m_state.ManualText);
}

void Form1::Command96_Click()
{
    Text1->clear();
}
