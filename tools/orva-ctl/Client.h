#pragma once
// One command over the engine, as the panel's button (or manual entry) sends it,
// and optionally the power status polled until it reads as wanted.

#include "exchange/StatusDecoding.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

class ExchangeEngine;
class ExchangeLog;
class QtSerialControl;
namespace keys {
struct Command;
}

namespace ctl {

// Exit codes.
enum Exit : int {
    kAnswered = 0,     // ACK, or a decoded status
    kOtherReply = 1,   // answered, but with neither
    kNoReply = 2,      // nothing came in the reply window
    kPortError = 3,    // port (or log file) could not be used, or the log could not be written
    kWaitTimedOut = 4, // --wait did not see its status in time
    kUsage = 64,
};

struct Request {
    QString device;
    QString settings;           // "19200,N,8,1" or "9600,N,8,1"
    // With --wait, the longest wait for the status; when given, also the longest
    // wait for the command's reply (else the reply window of its button).
    int timeoutMs = 6000;
    bool timeoutGiven = false;
    const keys::Command *command = nullptr;  // or a raw text:
    QString rawText;
    std::optional<QString> waitFor;
    bool json = false;
    QString logPath;
};

class Client final : public QObject {
    Q_OBJECT
public:
    explicit Client(Request request, QObject *parent = nullptr);
    ~Client() override;

    // Opens the port and sends the command; `finished` tells the exit code.
    void start();
    // Ends the run with this exit code (a signal's), the port closed; once.
    void finish(int code);
    std::function<void(int exitCode)> finished;

private:
    struct Exchange {
        QString sent;
        QString reply;
        std::optional<QString> status;
        decoding::Reading reading;
        bool done = false;
    };
    void sendCommand();
    void pollStatus();
    void exchangeDone(bool answered);
    void windowEnded(bool answered);
    void onReceived(const QString &chunk);
    void onWarning(const QString &text);
    void onOverallTimeout();
    void printResult(int code);

    Request m_request;
    std::unique_ptr<QtSerialControl> m_serial;
    std::unique_ptr<ExchangeEngine> m_engine;
    std::unique_ptr<ExchangeLog> m_log;
    QTimer m_overall;
    QTimer m_poll;
    Exchange m_first;        // the command's own exchange
    Exchange m_current;      // the exchange in progress
    bool m_polling = false;  // m_current is a status poll
    bool m_windowOpen = false;
    bool m_pollDue = false;
    bool m_finished = false;
    bool m_starting = false;
    bool m_logFailed = false;
    QString m_lastWarning;
    QString m_lastStatus;
};

} // namespace ctl
