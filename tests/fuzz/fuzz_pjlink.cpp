// Fuzzes the PJLink request parser with whatever a network client may send (one
// line, its CR taken off), and the answers built from projector replies (byte 0
// picks what the rest is read as).

#include "Pjlink.h"

#include <cstdlib>
#include <cstring>

static void check(bool condition)
{
    if (!condition)
        std::abort();
}

static bool printable(QByteArrayView bytes)
{
    for (const char c : bytes)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E)
            return false;
    return true;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, std::size_t size)
{
    const QByteArrayView line(reinterpret_cast<const char *>(data), qsizetype(size));
    const pjlink::Parsed parsed = pjlink::parseLine(line);
    switch (parsed.kind) {
    case pjlink::Parsed::Kind::Request:
        // "%1" CMND " " parameter: a request is well formed, printable and bounded.
        check(line.size() >= 8 && line.size() < pjlink::kMaxLine && line.startsWith("%1") && line[6] == ' ');
        check(parsed.request.pjClass == '1' && parsed.request.command == line.sliced(2, 4));
        check(parsed.request.parameter == line.sliced(7) && printable(parsed.request.parameter));
        break;
    case pjlink::Parsed::Kind::Answer:
        // The standard's undefined-command error, echoing the line's class and command.
        check(line.startsWith("%") && parsed.answer.size() == 12 && parsed.answer.endsWith("=ERR1\r"));
        check(parsed.answer.first(6) == line.first(6) && printable(parsed.answer.first(11)));
        break;
    case pjlink::Parsed::Kind::Close:
        check(parsed.answer.isEmpty());
        break;
    }

    // Replies as the projector may send them, read as PJLink answers.
    if (size < 1)
        return 0;
    const QString reply = QString::fromLatin1(line.sliced(1));
    const qsizetype half = reply.size() / 2;
    switch (data[0] % 3) {
    case 0:
        if (const pjlink::PowerRow *row = pjlink::powerRow(reply))
            check(std::strlen(row->erst) == 6 && (!row->powr || std::strlen(row->powr) == 1));
        break;
    case 1:
        if (const auto mute = pjlink::muteAnswer(reply))
            check(*mute == "11" || *mute == "21" || *mute == "30" || *mute == "31");
        break;
    default:
        if (const auto lamp = pjlink::lampAnswer(QStringView(reply).first(half), QStringView(reply).sliced(half)))
            check(!lamp->isEmpty() && printable(*lamp));
        break;
    }
    return 0;
}
