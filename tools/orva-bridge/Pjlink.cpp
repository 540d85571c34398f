#include "Pjlink.h"

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

QByteArray powerAnswer(const decoding::Reading &power)
{
    return power.power && power.power->powr ? QByteArray(power.power->powr) : QByteArray("ERR4");
}

QByteArray errorStatus(const decoding::Reading &power)
{
    return power.power ? QByteArray(power.power->erst) : QByteArray("ERR4");
}

QByteArray inputAnswer(const decoding::Reading &input)
{
    if (input.code.isEmpty())
        return "ERR4";
    for (const InputRow &row : inputRows())
        if (input.input && QLatin1String(row.reply) == QLatin1String(input.input->key))
            return row.pjlink;
    return "ERR3";
}

QByteArray muteAnswer(const decoding::Reading &mute)
{
    if (!mute.mute)
        return "ERR4";
    if (!mute.mute->settable)
        return "ERR3";
    if (mute.mute->picture == mute.mute->sound)
        return mute.mute->picture ? "31" : "30";
    return mute.mute->picture ? "11" : "21";
}

QByteArray lampAnswer(const decoding::Reading &hours, const decoding::Reading &mode)
{
    if (!hours.lampHours || !mode.lampMode)
        return "ERR4";
    const QByteArray h = QByteArray::number(*hours.lampHours);
    const auto state = [](bool on) { return on ? QByteArray(" 1") : QByteArray(" 0"); };
    const int on = mode.lampMode->on;
    // Two lamps: both with the one lamp time the projector reports.
    if (mode.lampMode->used == 3)
        return h + state(on & 1) + ' ' + h + state(on & 2);
    return h + state(on != 0);
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
