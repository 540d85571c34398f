// Fuzzes what the bridge takes from an MQTT broker (a command topic's payload,
// the projector list a former run left) and the state it reads from projector
// replies. Byte 0 picks what the rest is read as.

#include "Mqtt.h"
#include "exchange/CommandText.h"

#include <QJsonDocument>
#include <cstdlib>

static void check(bool condition) { if (!condition) std::abort(); }

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, std::size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray rest(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    const auto &topics = mqtt::commandTopics();
    const std::size_t pick = data[0] % (topics.size() + 2);
    if (pick < topics.size()) {
        // A payload becomes steps that each name a control or carry a text, never both.
        if (const auto steps = mqtt::steps(topics[pick].kind, rest)) {
            check(!steps->empty() && steps->size() <= 2);
            for (const mqtt::Step &step : *steps)
                check(step.command.isEmpty() != step.text.isEmpty());
        }
    } else if (pick == topics.size()) {
        // Only ids come out of a list: nothing that could name a wildcard or another level.
        for (const QString &id : mqtt::readProjectorList(rest))
            check(mqtt::isId(id) && !id.contains(u'/') && !id.contains(u'#') && !id.contains(u'+'));
    } else {
        // A reply read by every query: known leaves, payloads without control characters.
        const QString reply = QString::fromLatin1(rest);
        const QStringList leaves = mqtt::stateLeaves();
        for (const mqtt::Query &query : mqtt::queries())
            for (const auto &[leaf, payload] : query.state(decoding::read(QString::fromLatin1(query.code), reply))) {
                check(leaves.contains(leaf));
                check(!firstUnsendable(QString::fromUtf8(payload)));
            }
    }
    return 0;
}
