// The exchange engine: every command goes out through Hyouji, which traces it on
// the TXD line and starts the reply window (Timer2) and the display hold (Timer4);
// received characters are collected in RxText, traced on the RXD line and decoded.

#include "panel/Form1.h"
#include "panel/Widgets.h"
#include "exchange/StatusDecoding.h"
#include "exchange/TraceRule.h"
#include "serial/SerialControl.h"

namespace {
const QString kNoReplyMark = QStringLiteral(" X X X X");
constexpr quint8 kTransmit = 1;
}

void Form1::Hyouji(const QString &text, quint8 mode)
{
    if (mode == kTransmit) {
        const SerialResult failed = MSComm1.output(text);
        setLine(Label11, traceText(text));
        Timer2.start();
        m_state.AwaitingReply = 1;
        Timer4.start();
        // Nothing went on the wire (port closed): say so where the display hold clears it.
        if (failed)
            setLine(Label22, QStringLiteral(" Not sent: %1").arg(failed->description));
        return;
    }
    setLine(Label12, receiveTrace(text));
    const decoding::Result decoded = decoding::decode(m_state.TxText, m_state.CommandPrefix, Label12->caption());
    if (decoded.pressureValue)
        m_state.PressureValue = *decoded.pressureValue;
    if (decoded.status)
        setLine(Label22, *decoded.status);
}

// The trace of the text handed to receive mode. RxText only grows between two
// emptyings, so its trace is extended by the new characters alone.
QString Form1::receiveTrace(const QString &text)
{
    if (&text != &m_state.RxText)
        return traceText(text);
    if (m_rxTracedChars > text.size()) {
        m_rxTrace = QStringLiteral(" ");
        m_rxTracedChars = 0;
    }
    appendTraceOf(m_rxTrace, QStringView(text).mid(m_rxTracedChars));
    m_rxTracedChars = text.size();
    return m_rxTrace;
}

void Form1::emptyRxText()
{
    m_state.RxText.clear();
    m_rxTrace = QStringLiteral(" ");
    m_rxTracedChars = 0;
}

void Form1::MSComm1_OnComm()
{
    if (MSComm1.commEvent() != kCommEvReceive)
        return;
    const QString chunk = MSComm1.input();
    // RxText is capped: characters beyond the limit are dropped until it is emptied.
    const qsizetype room = kRxTextLimit - m_state.RxText.size();
    const bool grew = room > 0 && !chunk.isEmpty();
    if (grew)
        m_state.RxText += QStringView(chunk).left(room);
    m_state.AwaitingReply = 0;
    if (grew)
        Hyouji(m_state.RxText, 2);
}

void Form1::Timer2_Timer()
{
    if (m_state.AwaitingReply == 1)
        setLine(Label12, kNoReplyMark);
    Timer2.stop();
    emptyRxText();
    m_state.AwaitingReply = 0;
}

void Form1::Timer4_Timer()
{
    setLine(Label11, QString());
    setLine(Label12, QString());
    setLine(Label22, QString());
    Timer4.stop();
}
