#pragma once
// The serial control seam over a projector's queue: an engine of its own for one
// web page, whose commands wait their turn in the queue like every client's, one
// at a time, and whose replies come back to it alone. "Open" always: the queue keeps the port,
// and answers a command to a closed one with no reply.

#include "serial/SerialControl.h"

namespace bridge {

class ProjectorQueue;

class QueueLink final : public SerialControl {
    Q_OBJECT
public:
    explicit QueueLink(ProjectorQueue &queue, QObject *parent = nullptr);
    ~QueueLink() override;

    SerialResult setCommPort(int port) override;
    int commPort() const override { return m_port; }
    SerialResult setSettings(const QString &settings) override;
    QString settings() const override { return m_settings; }
    bool portOpen() const override { return m_open; }
    SerialResult setPortOpen(bool open) override;
    // A command text ("C00" CR) into the queue, as the one-shot command of that code
    // where there is one (its reply window), else as a typed text.
    SerialResult output(const QString &text) override;
    QString input() override;
    // The page's command still waiting in the queue is dropped (a key let go).
    void dropWaiting();
    int commEvent() const override { return kCommEvReceive; }

private:
    ProjectorQueue &m_queue;
    int m_port = 1;
    QString m_settings;
    bool m_open = false;
    QString m_input;
    bool m_waiting = false;  // a command of this page's is in the queue
};

} // namespace bridge
