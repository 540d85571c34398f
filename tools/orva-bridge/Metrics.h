#pragma once
// The bridge as Prometheus reads it (its text exposition format, version 0.0.4):
// each projector's state as the bridge's polls last read it, what its queue has
// counted, the clients connected, and the bridge's version and start. A pure
// function of what it is given: nothing here asks a projector anything.

#include "ProjectorQueue.h"
#include "exchange/StatusDecoding.h"

#include <QByteArray>
#include <QString>
#include <optional>
#include <vector>

namespace bridge::metrics {

inline constexpr const char *kContentType = "text/plain; version=0.0.4; charset=utf-8";

// One projector: its settings, its line and its newest readings (null where no
// reply told them; a reading is one of its status query's: CR0, CR1 ...).
struct ProjectorFacts {
    QString id;
    QString name;
    QString device;
    bool portOpen = false;
    bool answering = false;
    const decoding::Reading *power = nullptr;         // CR0
    const decoding::Reading *input = nullptr;         // CR1
    const decoding::Reading *mute = nullptr;          // CRA
    const decoding::Reading *lampHours = nullptr;     // CR3
    const decoding::Reading *lampMode = nullptr;      // CR7
    const decoding::Reading *temperatures = nullptr;  // CR6
    QueueCounts counts;
    int waiting = 0;       // commands waiting for the line
    int pjlinkClients = 0;
    int rawClients = 0;
    std::optional<bool> mqttConnected;  // none: the projector is not on MQTT
};

struct BridgeFacts {
    QString version;
    qint64 startedMs = 0;  // since the epoch
    int httpClients = 0;   // HTTP connections other than the pages' WebSockets
    int webSockets = 0;
    std::vector<ProjectorFacts> projectors;
};

QByteArray text(const BridgeFacts &facts);

} // namespace bridge::metrics
