#include "StatusDecoding.h"

#include <QLatin1String>

#include <algorithm>

namespace decoding {

namespace {

// The first hexadecimal digit says the power state (0 on, 8 stand by, 4 count
// down, 2 cooling down, 1 failure), the second a condition beside it (8
// temperature warning, 4 power management, 2 no key input, 1 all lamps failed).
// The lamp put off by power management is a stand by; a failed lamp is a fault in
// any state.
constexpr Faults kNone{}, kHot{true, false, false}, kLamps{false, true, false}, kFailed{false, false, true};
constexpr PowerRow kPowerStatus[] = {
    {"00", " Power ON", Power::On, "1", "000000", kNone, true},
    {"80", " Stand by", Power::Standby, "0", "000000", kNone, false},
    {"40", " Count down", Power::Warming, "3", "000000", kNone, false},
    {"20", " Cooling down", Power::Cooling, "2", "000000", kNone, false},
    {"10", " Power Fail", Power::Fault, nullptr, "000002", kFailed, false},
    {"08", " Temperature Warning", Power::On, "1", "001000", kHot, true},
    {"02", " NO Key input ", Power::On, "1", "000000", kNone, true},
    {"04", " Lamp OFF by PWR Management", Power::Standby, "0", "000000", kNone, false},
    {"28", " Temperature Warning & cooling down", Power::Cooling, "2", "001000", kHot, false},
    {"24", "Cooling down  PWR Management", Power::Cooling, "2", "000000", kNone, false},
    {"88", " Temperature Warning and recoverd", Power::Standby, "0", "001000", kHot, false},
    {"21", " Cooling down (All Lamp FAIL)", Power::Fault, "2", "020000", kLamps, false},
    {"81", " Cooling down & sutandby (All Lamp FAIL)", Power::Fault, "0", "020000", kLamps, false},
};

constexpr InputRow kInput[] = {
    {"1", " Computer 1"},
    {"2", " Computer 2"},
    {"3", " Video"},
    {"4", " Input mode 4"},
};

constexpr ReversalRow kReversal[] = {
    {"11", " Normally", "none"},
    {"10", " Top/Bottom reversal", "top-bottom"},
    {"01", " Left/Right reversal", "left-right"},
    {"00", " Top/Bottom , Left/Right reversal", "both"},
};

constexpr MuteRow kMute[] = {
    {"00", " Video & Audio mute OFF", false, false, true},
    {"01", " Video mute ON", true, false, true},
    {"02", " Audio mute ON", false, true, true},
    {"03", " Video & Audio mute ON", true, true, true},
    {"80", " No signal", false, false, true},
    {"FF", " Stand by", false, false, false},
};

constexpr LampModeRow kLampMode[] = {
    {"00", " All OFF : 2 Lamp mode", 3, 0},
    {"01", " No1 ON  : 2 Lamp mode", 3, 1},
    {"02", " No2 ON  : 2 Lamp mode", 3, 2},
    {"03", " No1,2 ON  : 2 Lamp mode", 3, 3},
    {"10", " All OFF : 1 Lamp mode(No1 USE)", 1, 0},
    {"11", " No1 ON  : 1 Lamp mode(No1 USE)", 1, 1},
    {"20", " All OFF : 1 Lamp mode(No2 USE)", 2, 0},
    {"22", " No2 ON  : 1 Lamp mode(No2 USE)", 2, 2},
};

// Characters `from`..`to` of the text (counted from 1, both included), cut short
// at its end.
QStringView piece(QStringView text, qsizetype from, qsizetype to)
{
    const qsizetype start = from - 1;
    if (start >= text.size())
        return {};
    const qsizetype end = std::min(to, text.size());
    return text.sliced(start, end - start);
}

bool isQuery(QStringView txText, QStringView prefix, const char *code)
{
    const QLatin1String codeText(code);
    return txText.size() == prefix.size() + codeText.size() + 1
        && txText.startsWith(prefix, Qt::CaseSensitive)
        && txText.sliced(prefix.size(), codeText.size()).compare(codeText, Qt::CaseSensitive) == 0
        && txText.back() == u'\r';
}

// The row whose key the trace shows first: each key character traced with the
// blank before it (" 8 0" for "80").
template <typename Row>
const Row *rowOfTrace(std::span<const Row> table, QStringView trace)
{
    for (const Row &row : table) {
        const QLatin1String key(row.key);
        bool same = trace.size() >= 2 * key.size();
        for (qsizetype i = 0; same && i < key.size(); ++i)
            same = trace[2 * i] == u' ' && trace[2 * i + 1] == key[i];
        if (same)
            return &row;
    }
    return nullptr;
}

template <typename Row>
std::optional<QString> textOfTrace(std::span<const Row> table, QStringView trace)
{
    const Row *row = rowOfTrace(table, trace);
    return row ? std::optional<QString>(QString::fromLatin1(row->text)) : std::nullopt;
}

// The row whose key is the whole reply, its CR taken off.
template <typename Row>
const Row *rowOfReply(std::span<const Row> table, QStringView reply)
{
    reply.chop(1);
    for (const Row &row : table)
        if (reply == QLatin1String(row.key))
            return &row;
    return nullptr;
}

// A plain decimal number with blanks around it: digits, at most one point.
std::optional<double> plainNumber(QStringView text)
{
    text = text.trimmed();
    bool ok = !text.isEmpty() && text.count(u'.') <= 1;
    for (const QChar c : text)
        ok = ok && ((c >= u'0' && c <= u'9') || c == u'.');
    return ok && text != u"." ? std::optional<double>(text.toDouble()) : std::nullopt;
}

// The three temperatures of a reply; nothing for a piece that is no plain number.
Temperatures temperatures(QStringView reply)
{
    const auto at = [reply](qsizetype from, qsizetype to) { return plainNumber(piece(reply, from, to)); };
    return {at(1, 5), at(8, 11), at(13, 17)};
}

// The status queries, as the command texts name them.
constexpr const char *kQueries[] = {"CR0", "CR1", "CR3", "CR4", "CR6", "CR7", "CR9", "CRA", "CR PRESSURE"};

} // namespace

const char *powerWord(Power power)
{
    switch (power) {
    case Power::On: return "on";
    case Power::Standby: return "standby";
    case Power::Warming: return "warming";
    case Power::Cooling: return "cooling";
    case Power::Fault: return "fault";
    }
    return "";
}

std::span<const PowerRow> powerStatusTable() { return kPowerStatus; }
std::span<const InputRow> inputTable() { return kInput; }
std::span<const ReversalRow> reversalTable() { return kReversal; }
std::span<const MuteRow> muteTable() { return kMute; }
std::span<const LampModeRow> lampModeTable() { return kLampMode; }

std::optional<int> Reading::inputNumber() const
{
    return input ? std::optional<int>(input->key[0] - '0') : std::nullopt;
}

QString Reading::words() const
{
    const char *text = power ? power->text : input ? input->text : reversal ? reversal->text
                     : mute ? mute->text : lampMode ? lampMode->text : "";
    return QString::fromLatin1(text).trimmed();
}

Reading read(QStringView code, QStringView reply)
{
    Reading r;
    const auto query = std::find_if(std::begin(kQueries), std::end(kQueries),
                                    [code](const char *q) { return code == QLatin1String(q); });
    if (query == std::end(kQueries))
        return r;
    r.code = code.toString();
    // Every form ends in CR: a reply still coming in is not matched at each character.
    if (!reply.endsWith(u'\r') || !replyFits(code, reply))
        return r;
    if (code == u"CR0")
        r.power = rowOfReply(powerStatusTable(), reply);
    else if (code == u"CR1")
        r.input = rowOfReply(inputTable(), reply);
    else if (code == u"CR4")
        r.reversal = rowOfReply(reversalTable(), reply);
    else if (code == u"CRA")
        r.mute = rowOfReply(muteTable(), reply);
    else if (code == u"CR7")
        r.lampMode = rowOfReply(lampModeTable(), reply);
    else if (code == u"CR3")
        r.lampHours = reply.first(5).toInt();
    else if (code == u"CR6")
        r.temperatures = temperatures(reply);
    else if (code == u"CR9")
        r.text = reply.chopped(1).toString();
    else if (const Pressure p = convertPressure(readNumber(reply.chopped(1))); p.inRange)
        r.pressure = p.pressure;
    return r;
}

namespace {
bool isDigit(QChar c) { return c >= u'0' && c <= u'9'; }
bool isUpperHex(QChar c) { return isDigit(c) || (c >= u'A' && c <= u'F'); }
bool isTemperatureChar(QChar c) { return isDigit(c) || c == u'.' || c == u' ' || c == u'+' || c == u'-'; }
bool isPrintable(QChar c) { return c >= u' ' && c <= u'~'; }

// `count` characters (any number when negative, at least one), each one `ok`.
bool allOf(QStringView text, qsizetype count, bool (*ok)(QChar))
{
    return (count < 0 ? !text.isEmpty() : text.size() == count) && std::all_of(text.begin(), text.end(), ok);
}

// A decimal: an optional minus, digits, and a point and digits if any.
bool isDecimal(QStringView text)
{
    if (text.startsWith(u'-'))
        text = text.sliced(1);
    const qsizetype point = text.indexOf(u'.');
    return point < 0 ? allOf(text, -1, isDigit) : allOf(text.first(point), -1, isDigit) && allOf(text.sliced(point + 1), -1, isDigit);
}
} // namespace

bool replyFits(QStringView code, QStringView reply)
{
    if (!code.startsWith(u"CR"))
        return true;
    if (!reply.endsWith(u'\r'))
        return false;
    const QStringView body = reply.chopped(1);
    if (code == u"CR0" || code == u"CR4" || code == u"CR7" || code == u"CRA")
        return allOf(body, 2, isUpperHex);
    if (code == u"CR1")
        return allOf(body, 1, isDigit);
    if (code == u"CR3")
        return allOf(body, 5, isDigit);
    if (code == u"CR6") {
        const Temperatures t = allOf(body, 17, isTemperatureChar) ? temperatures(reply) : Temperatures{};
        return t.s1 && t.s2 && t.s3;
    }
    if (code == u"CR PRESSURE")
        return isDecimal(body);
    return allOf(body, -1, isPrintable);
}

QString lampTimeText(QStringView trace)
{
    return trace.first(std::min<qsizetype>(38, trace.size())).toString()
         + QLatin1String(" Hour Use");
}

QString temperatureText(QStringView trace)
{
    QString text;
    text.reserve(64);
    text += QLatin1String("  S1=");
    text += piece(trace, 1, 10);
    text += QLatin1String(" C  ,   S2= ");
    text += piece(trace, 15, 22);
    text += QLatin1String(" C , S3=");
    text += piece(trace, 25, 34);
    text += QLatin1String(" C");
    return text;
}

Result decode(QStringView txText, QStringView prefix, QStringView reply, QStringView trace)
{
    Result result;
    const auto query = std::find_if(std::begin(kQueries), std::end(kQueries),
                                    [&](const char *q) { return isQuery(txText, prefix, q); });
    if (query == std::end(kQueries))
        return result;
    const QString code = QString::fromLatin1(*query);
    result.reading = read(code, reply);
    if (code == QLatin1String("CR0")) {
        result.status = textOfTrace(powerStatusTable(), trace);
    } else if (code == QLatin1String("CR1")) {
        result.status = textOfTrace(inputTable(), trace);
    } else if (code == QLatin1String("CR4")) {
        result.status = textOfTrace(reversalTable(), trace);
    } else if (code == QLatin1String("CR3")) {
        result.status = lampTimeText(trace);
    } else if (code == QLatin1String("CR6")) {
        result.status = temperatureText(trace);
    } else if (code == QLatin1String("CRA")) {
        result.status = textOfTrace(muteTable(), trace);
    } else if (code == QLatin1String("CR9")) {
        result.status = trace.toString();
    } else if (code == QLatin1String("CR PRESSURE")) {
        const Pressure pressure = convertPressure(readNumber(trace));
        result.pressureValue = pressure.inRange ? std::optional<std::int16_t>(pressure.pressure) : pressure.reading;
        result.status = pressure.text;
    } else {
        result.status = textOfTrace(lampModeTable(), trace);
    }
    return result;
}

} // namespace decoding
