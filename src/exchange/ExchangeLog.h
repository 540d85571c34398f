#pragma once
// The exchange log: one line per event of an exchange engine, appended to a file
// and flushed line by line, so that a log survives a crash and can be followed
// with tail -f:
//   2026-12-06T10:15:02.123 TX C00<CR>
//   2026-12-06T10:15:02.160 RX 00<CR>
//   2026-12-06T10:15:02.160 STATUS Power ON
//   2026-12-06T10:15:09.871 ERROR Not sent (port closed): CR0<CR>
// The time is local, with milliseconds. Printable characters are written as they
// are; control characters and codes from 127 up as the trace lines name them, in
// angle brackets (<CR>, <LF>, <ACK>, <&> for code 20, <?> for the rest).
//
// A write that fails (a full disk) stops the log for good and raises stopped()
// once; the engine goes on.

#include <QFile>
#include <QObject>
#include <QString>
#include <QStringView>

class ExchangeEngine;

class ExchangeLog : public QObject {
    Q_OBJECT
public:
    explicit ExchangeLog(QObject *parent = nullptr);
    ~ExchangeLog() override;

    // Opens (appends to) the file; false with a readable reason in *error.
    bool open(const QString &path, QString *error);
    // Logs this engine's events: TX, RX, STATUS, ERROR (warnings, a command not sent).
    // Where one log serves several engines, `source` names this one's lines: it
    // stands between the time and the kind ("... hall-left TX C00<CR>").
    void watch(ExchangeEngine &engine, const QString &source = {});
    // A line of its own (e.g. "ERROR ..." from a front end).
    void write(QStringView kind, QStringView text) { write({}, kind, text); }

    // True while lines are being written (open, and no write has failed).
    bool isLogging() const { return m_file.isOpen(); }

    // A text as the log writes it: printable characters as they are, every other
    // character by its trace name in angle brackets.
    static QString logText(QStringView text);

signals:
    // A write failed: the log is closed and writes nothing more. Raised once, from
    // inside the engine's own signal handling; a receiver that opens a modal box
    // should connect queued.
    void stopped(const QString &reason);

private:
    void write(const QString &source, QStringView kind, QStringView text);

    QFile m_file;
    QString m_path;
};
