#pragma once
// SIGTERM, SIGINT and SIGHUP (a service manager's stop, Ctrl+C, a closed terminal, a
// desktop's logout) told to the event loop, so that a program ends there as it ends
// anyway: its port closed, the line's exclusive hold and its lock file let go. Cut
// off by the signal's default action instead, it would leave the line locked for
// the next program while anyone else (a device server, a simulator) keeps it open.

#include <QObject>

class QSocketNotifier;

class EndSignals final : public QObject {
    Q_OBJECT
public:
    // Takes the three signals over (one object per program).
    explicit EndSignals(QObject *parent = nullptr);
    // Gives them back to their default action.
    ~EndSignals() override;

signals:
    // Once, from the event loop, with the signal's number; a second signal after it
    // has its default action (one more Ctrl+C ends a program that does not end).
    void arrived(int number);

private:
    void readPipe();

    QSocketNotifier *m_notifier = nullptr;
};
