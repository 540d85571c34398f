#include "exchange/ReadingJson.h"

#include <QJsonArray>

namespace decoding {
namespace {

// `value()` where the reading has it, else null.
template <typename Has, typename Value>
QJsonValue orNull(const Has &has, Value value)
{
    return has ? QJsonValue(value()) : QJsonValue(QJsonValue::Null);
}

// The lamps of a bit set: 1 No1, 2 No2.
QJsonArray lampNumbers(int lamps)
{
    QJsonArray out;
    for (int n = 1; n <= 2; ++n)
        if (lamps & (1 << (n - 1)))
            out.append(n);
    return out;
}

} // namespace

void addReading(QJsonObject &o, const Reading &r)
{
    const QString &code = r.code;
    const PowerRow *p = r.power;
    const MuteRow *mute = r.mute;
    const LampModeRow *lamps = r.lampMode;
    if (code == u"CR0") {
        o.insert(QStringLiteral("power"), orNull(p, [p] { return QLatin1String(powerWord(p->power)); }));
        o.insert(QStringLiteral("faults"), orNull(p, [p] {
                     return QJsonObject{{"temperatureWarning", p->faults.temperatureWarning},
                                        {"allLampsFailed", p->faults.allLampsFailed},
                                        {"powerFailure", p->faults.powerFailure}};
                 }));
    } else if (code == u"CR1") {
        o.insert(QStringLiteral("input"), orNull(r.input, [&r] { return *r.inputNumber(); }));
    } else if (code == u"CR3") {
        o.insert(QStringLiteral("hours"), orNull(r.lampHours, [&r] { return *r.lampHours; }));
    } else if (code == u"CR4") {
        o.insert(QStringLiteral("reversal"), orNull(r.reversal, [&r] { return QLatin1String(r.reversal->word); }));
    } else if (code == u"CR6") {
        const auto number = [](const std::optional<double> &v) { return orNull(v, [&v] { return *v; }); };
        const Temperatures &t = r.temperatures;
        o.insert(QStringLiteral("temperatures"), QJsonObject{{"S1", number(t.s1)}, {"S2", number(t.s2)}, {"S3", number(t.s3)}});
    } else if (code == u"CR7") {
        o.insert(QStringLiteral("lamps"), orNull(lamps, [lamps] {
                     return QJsonObject{{"used", lampNumbers(lamps->used)}, {"on", lampNumbers(lamps->on)}};
                 }));
    } else if (code == u"CRA") {
        o.insert(QStringLiteral("mute"), orNull(mute, [mute] {
                     return QJsonObject{{"picture", mute->picture}, {"sound", mute->sound}, {"settable", mute->settable}};
                 }));
    } else if (code == u"CR PRESSURE") {
        o.insert(QStringLiteral("pressure"), orNull(r.pressure, [&r] { return *r.pressure; }));
    }
}

} // namespace decoding
