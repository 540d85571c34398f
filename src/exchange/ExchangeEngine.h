#pragma once
// The exchange engine: the panel state, the transmit and receive paths, the reply
// window and display hold, the repeat timer and key modes, the manual entry and
// the choice of port and speed. It needs Qt Core and the serial control only; a
// front end (the window, a command-line client, the bridge) hands it commands by
// their rows of the command table and shows what the signals tell it.

#include "exchange/PanelState.h"
#include "exchange/StatusDecoding.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <array>

class SerialControl;
struct SerialError;
namespace keys {
struct Command;
}

class ExchangeEngine final : public QObject {
    Q_OBJECT
public:
    // The three lines of the reply window.
    enum class Line { Txd, Rxd, Status };
    Q_ENUM(Line)

    // The timers' intervals before any key sets them, in ms.
    static constexpr int kStartRepeatMs = 200;
    static constexpr int kStartReplyWindowMs = 500;
    static constexpr int kStartDisplayHoldMs = 1000;
    // Line settings at start-up.
    static constexpr const char *kStartSettings = "19200,N,8,1";

    explicit ExchangeEngine(SerialControl &serial, QObject *parent = nullptr);
    ~ExchangeEngine() override;

    // A reply is whole once it holds an ACK or ends in CR: a client need not wait
    // for the end of the reply window.
    static bool replyComplete(const QString &reply) { return reply.contains(QChar(0x06)) || reply.endsWith(u'\r'); }

    const PanelState &state() const { return m_state; }
    // What a line shows now.
    const QString &line(Line which) const { return m_lines[std::size_t(which)]; }

    // Start-up: settings, COM1 opened, then chosen as by the operator.
    void start();
    // Start-up for a program without port options (a command-line client): the
    // settings given, COM1 opened once. True when it opened; else the warning said why.
    bool startOnce(const QString &settings);
    // END: closes the port.
    void end();

    // For a front end that puts one command on the line at a time and waits for its
    // reply (the bridge): the characters received so far are let go, so that the next
    // command's reply is collected, traced and decoded alone. Without it, commands
    // sent back to back within the reply window add to one received text, which is
    // capped: after some ten thousand replies the next one would be cut off.
    void startFreshReply() { emptyRxText(); }
    // For a front end that shows no lines and reads replies itself (the bridge):
    // commands, replies and the reply window go on as ever, but the three lines stay
    // empty, nothing is decoded (no statusDecoded, no readingDecoded) and no display
    // hold runs. The lines' traces and decoding were a fifth of a command's work there.
    // An exchange log that watches the engine shows them again, for its STATUS lines.
    void setLinesShown(bool shown) { m_linesShown = shown; }

    // The commands, by their rows of the command table (keys/CommandTable.h, found by
    // name or by control with keys::findCommand and keys::findByControl). Each is false,
    // and does nothing, for a row of the other kind.
    // A one-shot command, as its button sends it.
    bool click(const keys::Command &command);
    // A repeat key pressed (its code goes out, and again every repeat interval) and released.
    bool press(const keys::Command &key);
    bool release(const keys::Command &key);
    // A repeat key tapped, shorter than one repeat interval: its code goes out once,
    // with the intervals of a press.
    bool tap(const keys::Command &key);
    // The manual entry (SEND): the text as typed, with the manual hold intervals.
    // A text with a character outside printable ASCII is not sent (the status line says so).
    void send(const QString &text);
    // The port option (1: COM1, 2: COM2): true when the chosen port is open.
    bool choosePort(int port);
    // The speed option: "19200,N,8,1" or "9600,N,8,1".
    void chooseSpeed(const QString &settings);

    // The intervals of the repeat, the reply window and the display hold as the
    // last command left them, in ms, and which of them run.
    struct Timing {
        int repeatMs, replyWindowMs, displayHoldMs;
        bool repeating, replyWindowOpen, displayHeld;
    };
    Timing timing() const;
    // The reply window and the display hold stop without their ends: the lines keep
    // what they show until the next command (for a still picture of the window).
    void keepLines();

signals:
    void lineChanged(ExchangeEngine::Line line, const QString &text);
    // Something the operator must acknowledge (the window shows a warning box).
    void warning(const QString &text);
    // The port option to show after a choice or a loss: 1, 2, or 0 for none.
    void portInUse(int port);
    // What went over the line, for an exchange log or a command-line client:
    // a command text as framed (`sent` is false when the port was closed and
    // nothing went out), the received characters as they were kept, a decoded
    // status, and the end of a reply window (`answered`: a character came in it).
    void transmitted(const QString &text, bool sent);
    void received(const QString &chunk);
    void statusDecoded(const QString &status);
    // The reply to a status query as read for front ends, each time characters come.
    void readingDecoded(const decoding::Reading &reading);
    void replyWindowEnded(bool answered);

private:
    void onReceive();
    void onReplyWindowEnd();
    void onDisplayHoldEnd();
    void onRepeatTick();
    bool openFirstPort(const QString &settings);
    void transmit(const QString &code);
    void showExchange(const QString &text, quint8 mode);
    QString receiveTrace(const QString &text);
    void emptyRxText();
    void setLine(Line which, const QString &text);
    void onPortLost(const SerialError &error);
    void onOpenFailed(const SerialError &error);

    // Named "repeat", "replyWindow" and "displayHold" (QObject names), for tests and
    // benchmarks that end an interval at once.
    QTimer repeatTimer;       // sends the held key's code again
    QTimer replyTimer;        // the reply window: ends collecting a reply
    QTimer displayHoldTimer;  // clears the three lines

    SerialControl &m_serial;
    PanelState m_state;
    std::array<QString, 3> m_lines;
    bool m_linesShown = true;

    // The RXD trace of rxText, extended chunk by chunk as rxText grows.
    QString m_rxTrace = QStringLiteral(" ");
    qsizetype m_rxTracedChars = 0;
};
