#include "Pjlink.h"

#include "exchange/StatusDecoding.h"

#include <QCryptographicHash>

namespace pjlink {

namespace {

bool isCommandChar(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// Printable ASCII only: a control character or a byte beyond ASCII is no PJLink.
bool isPrintable(QByteArrayView line)
{
    for (const char c : line)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E)
            return false;
    return true;
}

} // namespace

Parsed parseLine(QByteArrayView line)
{
    Parsed p;
    if (line.size() < 6 || line.size() > kMaxLine - 1 || line[0] != '%' || !isPrintable(line))
        return p;
    p.request.pjClass = line[1];
    p.request.command = line.sliced(2, 4).toByteArray();
    const auto error = [&](const char *code) {
        p.kind = Parsed::Kind::Answer;
        p.answer = answer(p.request, code);
        return p;
    };
    for (const char c : p.request.command)
        if (!isCommandChar(c))
            return error("ERR1");  // lower case included: commands are upper case
    if (p.request.pjClass != '1' || line.size() < 8 || line[6] != ' ')
        return error("ERR1");
    p.request.parameter = line.sliced(7).toByteArray();
    p.kind = Parsed::Kind::Request;
    return p;
}

QByteArray answer(const Request &request, QByteArrayView value)
{
    return '%' + QByteArray(1, request.pjClass) + request.command + '=' + value.toByteArray() + '\r';
}

const std::vector<PowerRow> &powerRows()
{
    // The power status rows: what PJLink asks of power and errors, as far as the
    // projector's status tells it.
    static const std::vector<PowerRow> rows = {
        {"00", "1", "000000", true},   // Power ON
        {"80", "0", "000000", false},  // Stand by
        {"40", "3", "000000", false},  // Count down: warming up
        {"20", "2", "000000", false},  // Cooling down
        {"10", nullptr, "000002", false},  // Power Fail
        {"08", "1", "001000", true},   // Temperature Warning
        {"02", "1", "000000", true},   // NO Key input
        {"04", "0", "000000", false},  // Lamp OFF by PWR Management
        {"28", "2", "001000", false},  // Temperature Warning & cooling down
        {"24", "2", "000000", false},  // Cooling down, PWR Management
        {"88", "0", "001000", false},  // Temperature Warning and recovered
        {"21", "2", "020000", false},  // Cooling down (All Lamp FAIL)
        {"81", "0", "020000", false},  // Cooling down & standby (All Lamp FAIL)
    };
    return rows;
}

const PowerRow *powerRow(QStringView reply)
{
    const QStringView key = reply.left(2);
    for (const PowerRow &row : powerRows())
        if (key == QLatin1String(row.reply))
            return &row;
    return nullptr;
}

const std::vector<InputRow> &inputRows()
{
    static const std::vector<InputRow> rows = {
        {"11", "input-pc1", "1", "PC1"},  // Computer 1
        {"12", "input-pc2", "2", "PC2"},  // Computer 2
        {"21", "input-video", "3", "Video"},
    };
    return rows;
}

const std::vector<MuteRow> &muteRows()
{
    static const std::vector<MuteRow> rows = {
        {"10", {"no-show-off"}, "VIDEO OFF"},
        {"11", {"no-show-on"}, "VIDEO ON"},
        {"20", {"sound-mute-off"}, "AUDIO OFF"},
        {"21", {"sound-mute-on"}, "AUDIO ON"},
        {"30", {"no-show-off", "sound-mute-off"}, "OFF"},   // both off
        {"31", {"no-show-on", "sound-mute-on"}, "ON"},      // both on
    };
    return rows;
}

std::optional<Mutes> mutes(QStringView reply)
{
    const QStringView key = reply.left(2);
    if (key == u"00" || key == u"80")  // nothing muted (no signal: nothing muted either)
        return Mutes{};
    if (key == u"01")
        return Mutes{true, false};
    if (key == u"02")
        return Mutes{false, true};
    if (key == u"03")
        return Mutes{true, true};
    return std::nullopt;
}

std::optional<QByteArray> muteAnswer(QStringView reply)
{
    const std::optional<Mutes> m = mutes(reply);
    if (!m)
        return std::nullopt;
    if (m->video == m->audio)
        return QByteArray(m->video ? "31" : "30");
    return QByteArray(m->video ? "11" : "21");
}

std::optional<QByteArray> lampAnswer(QStringView hoursReply, QStringView modeReply)
{
    const std::optional<int> hours = decoding::lampHours(hoursReply);
    if (!hours)
        return std::nullopt;
    const QByteArray h = QByteArray::number(*hours);
    const QStringView mode = modeReply.left(2);
    // Two lamps: both with the one lamp time the projector reports.
    if (mode.size() == 2 && mode[0] == u'0' && mode[1] >= u'0' && mode[1] <= u'3') {
        const int on = mode[1].unicode() - u'0';
        return h + ((on & 1) ? " 1 " : " 0 ") + h + ((on & 2) ? " 1" : " 0");
    }
    // One lamp in use: "10"/"20" off, "11"/"22" on.
    if (mode == u"10" || mode == u"20")
        return h + " 0";
    if (mode == u"11" || mode == u"22")
        return h + " 1";
    return std::nullopt;
}

QByteArray greeting(const QByteArray &random)
{
    return random.isEmpty() ? QByteArray("PJLINK 0\r") : "PJLINK 1 " + random + '\r';
}

QByteArray digest(const QByteArray &random, const QByteArray &password)
{
    return QCryptographicHash::hash(random + password, QCryptographicHash::Md5).toHex();
}

} // namespace pjlink
