// Fuzzes the PJLink request parser with whatever a network client may send (one
// line, its CR taken off), and the answers built from projector replies (byte 0
// picks what the rest is read as).

#include "Pjlink.h"

#include <algorithm>
#include <cstdlib>

static void check(bool condition) { if (!condition) std::abort(); }

static bool printable(QByteArrayView bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
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
    const auto is = [](const QByteArray &answer, std::initializer_list<const char *> any) {
        return std::any_of(any.begin(), any.end(), [&answer](const char *a) { return answer == a; });
    };
    switch (data[0] % 3) {
    case 0: {
        const decoding::Reading power = decoding::read(u"CR0", reply);
        check(pjlink::powerAnswer(power).size() == 1 || pjlink::powerAnswer(power) == "ERR4");
        check(pjlink::errorStatus(power).size() == 6 || pjlink::errorStatus(power) == "ERR4");
        break;
    }
    case 1:
        check(is(pjlink::muteAnswer(decoding::read(u"CRA", reply)), {"11", "21", "30", "31", "ERR3", "ERR4"}));
        break;
    default: {
        const QByteArray lamp = pjlink::lampAnswer(decoding::read(u"CR3", QStringView(reply).first(half)),
                                                   decoding::read(u"CR7", QStringView(reply).sliced(half)));
        check(!lamp.isEmpty() && printable(lamp));
        break;
    }
    }
    return 0;
}
