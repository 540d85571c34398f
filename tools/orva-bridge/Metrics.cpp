#include "Metrics.h"

#include <QLocale>
#include <initializer_list>
#include <utility>

namespace bridge::metrics {
namespace {

using Labels = std::initializer_list<std::pair<const char *, QString>>;

// The outcomes' label values, by Outcome.
constexpr const char *kOutcomeNames[kOutcomes] = {"answered", "not_acknowledged", "bad_reply", "no_reply", "port_closed", "queue_full"};

QByteArray number(double value)
{
    return QString::number(value, 'g', QLocale::FloatingPointShortest).toLatin1();
}

// A label's value with '\', '"' and line feeds escaped.
QByteArray escaped(const QString &value)
{
    QByteArray out;
    for (const char c : value.toUtf8()) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c == '\n' ? QByteArray("\\n") : QByteArray(1, c);
    }
    return out;
}

class Exposition {
public:
    // A family's HELP and TYPE lines; its samples follow.
    void family(const char *name, const char *type, const char *help)
    {
        m_out += QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
    }
    void sample(const QByteArray &name, Labels labels, double value)
    {
        m_out += name;
        if (labels.size() > 0) {
            char separator = '{';
            for (const auto &[label, text] : labels) {
                m_out += separator + QByteArray(label) + "=\"" + escaped(text) + '"';
                separator = ',';
            }
            m_out += '}';
        }
        m_out += ' ' + number(value) + '\n';
    }
    QByteArray take() { return std::move(m_out); }

private:
    QByteArray m_out;
};

} // namespace

QByteArray text(const BridgeFacts &facts)
{
    Exposition e;
    e.family("orva_bridge_info", "gauge", "The bridge's version.");
    e.sample("orva_bridge_info", {{"version", facts.version}}, 1);
    e.family("orva_bridge_start_time_seconds", "gauge", "When the bridge started, in seconds since the epoch.");
    e.sample("orva_bridge_start_time_seconds", {}, double(facts.startedMs) / 1000);

    int pjlink = 0, raw = 0;
    for (const ProjectorFacts &p : facts.projectors) {
        pjlink += p.pjlinkClients;
        raw += p.rawClients;
    }
    e.family("orva_clients", "gauge", "Clients connected to the bridge, by protocol.");
    for (const auto &[protocol, n] : {std::pair{"pjlink", pjlink}, {"raw", raw}, {"http", facts.httpClients}, {"websocket", facts.webSockets}})
        e.sample("orva_clients", {{"protocol", QLatin1String(protocol)}}, n);

    // A family with one sample (or some) for each projector.
    const auto each = [&](const char *name, const char *type, const char *help, auto samples) {
        e.family(name, type, help);
        for (const ProjectorFacts &p : facts.projectors)
            samples(p, name);
    };
    each("orva_projector_info", "gauge", "The projector's name and device.", [&](const ProjectorFacts &p, const char *name) {
        e.sample(name, {{"projector", p.id}, {"name", p.name}, {"device", p.device}}, 1);
    });
    each("orva_projector_answering", "gauge", "1 while the projector's port is open and its last status query was answered.",
         [&](const ProjectorFacts &p, const char *name) { e.sample(name, {{"projector", p.id}}, p.answering); });
    each("orva_projector_port_open", "gauge", "1 while the projector's serial port is open.",
         [&](const ProjectorFacts &p, const char *name) { e.sample(name, {{"projector", p.id}}, p.portOpen); });
    each("orva_projector_port_losses_total", "counter", "Times the projector's open port was lost (device unplugged, link dropped).",
         [&](const ProjectorFacts &p, const char *name) { e.sample(name, {{"projector", p.id}}, double(p.counts.portLosses)); });

    each("orva_projector_power_state", "gauge", "The power state: 1 for the current one (none while unknown).",
         [&](const ProjectorFacts &p, const char *name) {
             if (!p.power || !p.power->power)
                 return;
             for (const decoding::Power state : {decoding::Power::On, decoding::Power::Standby, decoding::Power::Warming,
                                                 decoding::Power::Cooling, decoding::Power::Fault})
                 e.sample(name, {{"projector", p.id}, {"state", QLatin1String(decoding::powerWord(state))}}, p.power->power->power == state);
         });
    each("orva_projector_fault", "gauge", "1 while the power status tells the fault (none while unknown).",
         [&](const ProjectorFacts &p, const char *name) {
             if (!p.power || !p.power->power)
                 return;
             const decoding::Faults &f = p.power->power->faults;
             for (const auto &[fault, on] : {std::pair{"temperature_warning", f.temperatureWarning},
                                             {"all_lamps_failed", f.allLampsFailed},
                                             {"power_failure", f.powerFailure}})
                 e.sample(name, {{"projector", p.id}, {"fault", QLatin1String(fault)}}, on);
         });
    each("orva_projector_input", "gauge", "The input selected: 1 for the current one (none while unknown).",
         [&](const ProjectorFacts &p, const char *name) {
             if (!p.input || !p.input->input)
                 return;
             for (const decoding::InputRow &row : decoding::inputTable())
                 e.sample(name, {{"projector", p.id}, {"input", QString::fromLatin1(row.text).trimmed()}}, &row == p.input->input);
         });
    each("orva_projector_muted", "gauge", "1 while the picture or the sound is muted (none while unknown).",
         [&](const ProjectorFacts &p, const char *name) {
             if (!p.mute || !p.mute->mute)
                 return;
             e.sample(name, {{"projector", p.id}, {"output", QStringLiteral("picture")}}, p.mute->mute->picture);
             e.sample(name, {{"projector", p.id}, {"output", QStringLiteral("sound")}}, p.mute->mute->sound);
         });
    each("orva_projector_lamp_operating_seconds", "gauge", "The lamp's operating time as the projector counts it (whole hours).",
         [&](const ProjectorFacts &p, const char *name) {
             if (p.lampHours && p.lampHours->lampHours)
                 e.sample(name, {{"projector", p.id}}, *p.lampHours->lampHours * 3600.0);
         });
    each("orva_projector_lamp_on", "gauge", "For each lamp in use: 1 while it is on.", [&](const ProjectorFacts &p, const char *name) {
        if (!p.lampMode || !p.lampMode->lampMode)
            return;
        for (const int lamp : {1, 2})
            if (const int bit = 1 << (lamp - 1); p.lampMode->lampMode->used & bit)
                e.sample(name, {{"projector", p.id}, {"lamp", QString::number(lamp)}}, (p.lampMode->lampMode->on & bit) != 0);
    });
    each("orva_projector_temperature_celsius", "gauge", "The projector's three temperature sensors.",
         [&](const ProjectorFacts &p, const char *name) {
             if (!p.temperatures)
                 return;
             const decoding::Temperatures &t = p.temperatures->temperatures;
             for (const auto &[sensor, value] : {std::pair{"S1", t.s1}, {"S2", t.s2}, {"S3", t.s3}})
                 if (value)
                     e.sample(name, {{"projector", p.id}, {"sensor", QLatin1String(sensor)}}, *value);
         });

    each("orva_projector_commands_total", "counter", "Commands for the projector, by how they ended.",
         [&](const ProjectorFacts &p, const char *name) {
             for (int o = 0; o < kOutcomes; ++o)
                 e.sample(name, {{"projector", p.id}, {"outcome", QLatin1String(kOutcomeNames[o])}}, double(p.counts.outcomes[o]));
         });
    each("orva_projector_reply_duration_seconds", "histogram", "Answered commands by the time from going out to the reply's end.",
         [&](const ProjectorFacts &p, const char *name) {
             const QByteArray base(name);
             quint64 within = 0;
             for (std::size_t b = 0; b <= kReplyBuckets.size(); ++b) {
                 within += p.counts.replyTimes[b];
                 const QString bound = b < kReplyBuckets.size() ? QString::fromLatin1(number(kReplyBuckets[b])) : QStringLiteral("+Inf");
                 e.sample(base + "_bucket", {{"projector", p.id}, {"le", bound}}, double(within));
             }
             e.sample(base + "_sum", {{"projector", p.id}}, p.counts.replySeconds);
             e.sample(base + "_count", {{"projector", p.id}}, double(within));
         });
    each("orva_projector_commands_waiting", "gauge", "Commands waiting for the projector's line.",
         [&](const ProjectorFacts &p, const char *name) { e.sample(name, {{"projector", p.id}}, p.waiting); });
    each("orva_projector_mqtt_connected", "gauge", "1 while the projector's MQTT connection to the broker is up (none without MQTT).",
         [&](const ProjectorFacts &p, const char *name) {
             if (p.mqttConnected)
                 e.sample(name, {{"projector", p.id}}, *p.mqttConnected);
         });
    return e.take();
}

} // namespace bridge::metrics
