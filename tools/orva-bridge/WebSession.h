#pragma once
// One web page's WebSocket. A projector's page has an engine of its own on the
// projector's queue (QueueLink), so that its TXD, RXD and status lines show its own
// exchanges as the window shows them, and its held key repeats here, in the bridge,
// at the window's intervals, for as long as the page keeps saying it is held. The
// index watches every projector's state. Each is told the state as it changes.
//
// The page says, as JSON text messages: {"click": control}, {"press": control},
// {"held": control} (at least every kHoldLapseMs while held), {"release": control},
// {"send": text}. The bridge says {"line": "txd"|"rxd"|"status", "text": ...} and
// {"state": {...}}.

#include <QJsonObject>
#include <QObject>
#include <QTimer>
#include <memory>
#include <vector>

class ExchangeEngine;
class QWebSocket;
namespace keys {
struct Command;
}

namespace bridge {

class ProjectorQueue;
class ProjectorState;
class QueueLink;

struct Shown {
    QString id;
    QString name;
    ProjectorState *state;
};

class WebSession final : public QObject {
    Q_OBJECT
public:
    // A held key whose page has said nothing for this long is released.
    static constexpr int kHoldLapseMs = 500;
    // The longest message a page sends; the most the bridge keeps unsent to it.
    static constexpr qint64 kMaxMessage = 1024;
    static constexpr qint64 kMaxUnsent = 256 * 1024;
    // A page is pinged so often, and closed when it has not answered by the next.
    static constexpr int kPingMs = 30000;

    // `queue`: the page's projector (then `shown` is it alone); null for the index.
    WebSession(std::unique_ptr<QWebSocket> socket, ProjectorQueue *queue, std::vector<Shown> shown, bool sendAllowed,
               QObject *parent = nullptr);
    ~WebSession() override;

signals:
    // A kind of trouble with what the page sent (the server logs each kind once).
    void trouble(const QString &what);

private:
    void onMessage(const QString &text);
    void say(const QJsonObject &message);
    void release();

    std::unique_ptr<QWebSocket> m_socket;
    std::unique_ptr<QueueLink> m_link;
    std::unique_ptr<ExchangeEngine> m_engine;
    std::vector<Shown> m_shown;
    bool m_sendAllowed;
    const keys::Command *m_held = nullptr;
    QTimer m_holdLapse;
    QTimer m_ping;
    bool m_pinged = false;  // a ping is unanswered
};

} // namespace bridge
